#!/usr/bin/env python3
"""The fault matrix: the real installer under Wine, one fault per row, each in a fresh
sandbox, driven by the test driver. For every row it records what a person would see
(message box texts, the stage the window reached, whether the setup ran, whether Main.exe
started) and how long it took, prints a table (fault | expected | seen | time | ok) and
exits non-zero when any row is not ok. Every row has a deadline: a row that outlives it
is ended (its programs and servers by process id) and counts as a hang.

Two win64 trees are used: one whose configuration and statistics servers share an
address, and one whose statistics server has an address of its own (for the hanging
statistics server). Both are given on the command line; scripts/faults builds them. The
rows of signed descriptions run the first tree's installer linked with the test publisher
key (online_installer_test_key.exe): whatever an attacker changes, their program is never
requested and never run.
"""
import argparse
import glob
import datetime
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time
import traceback

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

from harness.driver import Driver, DriverError, DriverNotFound, child
from harness.fault_server import FaultServer
from harness.builds import server_address
from harness.fault_server import BLOCK
from harness.installer import (PRODUCT, Sandbox, block_table, blocks_requested, config_server, demo_setup,
                               package_folder, remove_old_packages, simple_description, stats_requests)
from harness.nginx import Nginx
from harness.scripted_server import ScriptedConfigServer
from harness.test_ca import TestCa
from harness.tinyproxy import Tinyproxy, system_proxy
from harness.wine import WineSession

EXE = "online_installer.exe"
TITLE = "演示软件"
SUB_DIR = "DemoSoft"
ARGUMENT = "setup_1001_77"
INSTALL_NOW, PROGRESS, CLOSE, START_NOW = 1011, 1000, 1021, 1024
DOWNLOAD_FAILED = "下载安装包失败，请检查网络后重试。"
NO_FILES = "下载配置文件失败 ，请重试！！"
TOO_LONG = "配置文件超过 1 MB，不是有效的安装包描述，请联系软件发布者。"
NETWORK = ("网络故障！程序将关闭，请稍候继续安装。", "网络连接超时，请检查网络连接！")
CORRUPT = "安装包已损坏或被改动，请重新运行安装程序。"
DAMAGED = "安装包在各个下载服务器上都未通过校验，可能已损坏或被改动，请稍后重试。"
SERVER_REFUSED = "下载服务器暂时不提供该安装包，请稍后重试或联系软件发布者。"
UNRESOLVABLE = "http://no-such-host.invalid/DemoSoft.exe"
LICENCE_LINK = 1020
TEST_PRIVATE_KEY = os.path.join(ROOT, "tests", "keys", "test_only_publisher_private.pem")
SIGNATURE_MISSING = "无法取得安装包描述的发布者签名。为安全起见，安装已停止，请稍后重试或联系软件发布者。"
SIGNATURE_INVALID = "安装包描述的发布者签名无效，可能已被篡改。为安全起见，安装已停止。"
EXPIRED = "安装包描述已过期。为安全起见，安装已停止，请从软件发布者处获取最新的安装程序。"
ROW_TIMEOUT = 240.0
# Rows that need longer by their nature: the whole demo setup (1.7 MB) from one mirror at
# 3 KB/s per connection takes some five minutes.
LONG_ROW_TIMEOUTS = {"slow link: one mirror at 3 KB/s per connection, alone": 480.0}
# What the support log's last outcome line must name for a row (by a part of its name); rows
# not listed must only have a log.
LOG_CAUSES = (
    ("good mirror (control)", "outcome: installed"),
    ("slow link", "outcome: installed"),
    ("beside a good one", "outcome: installed"),
    ("mirror: 404 pages, alone", "server-refused"),
    ("mirror: 500 pages, alone", "server-refused"),
    ("mirror: reset mid-body, alone", "network"),
    ("mirror: stall mid-body, alone", "network"),
    ("mirror: host does not resolve, alone", "network"),
    ("wrong digest", "damaged-package"),
    ("config server down", "outcome: stopped"),
    ("config server sends garbage", "outcome: stopped"),
    ("config > 1 MiB", "outcome: stopped"),
    ("disk full", "disk"),
    ("package folder read-only", "disk"),
    ("beyond the budget", "network"),
    ("signed: good", "outcome: installed"),
    ("signed: altered", "outcome: stopped"),
    ("signed: signature uploaded", "outcome: installed"),
    ("signed: signature", "outcome: stopped"),
    ("signed: expired", "outcome: stopped"),
    ("signed: 1 GiB", "outcome: stopped"),
    ("pushback: every mirror 503 for 20 s", "outcome: installed"),
    ("Retry-After", "outcome: installed"),
    ("every mirror 404", "server-refused"),
    ("on 1 mirror of 3", "outcome: installed"),
    ("on all 3 mirrors", "damaged-package"),
    ("longer than asked, mirror alone", "damaged-package"),
    ("longer than asked, beside", "outcome: installed"),
    ("longer than the file", "damaged-package"),
)
PROXY_PROMPT_TITLE = "代理服务器登录"
PROXY_USER_EDIT, PROXY_PASSWORD_EDIT, PROMPT_OK, PROMPT_CANCEL = 101, 102, 1, 2
CERTIFICATE_INVALID = "服务器的安全证书无效，无法安全地下载。请检查电脑的日期和时间，或联系软件发布者。"
PROXY_LOGIN_FAILED = "代理服务器需要有效的用户名和密码，安装已停止。请向网络管理员确认登录信息后重试。"
MODE_MISMATCH = "安装包描述不是为此安装方式签发的（Mode）。为安全起见，安装已停止，请联系软件发布者。"
PRODUCT_MISMATCH = "安装包描述不是为本产品签发的（Product）。为安全起见，安装已停止，请联系软件发布者。"
SERIAL_OLDER = ("安装包描述比本机已接受过的更旧（Serial），可能是旧的描述被重放。为安全起见，安装已停止，"
                "请稍后重试或联系软件发布者。")
SERIAL_BELOW_FLOOR = ("安装包描述的序号（Serial）低于本安装程序要求的最低序号，可能是旧的描述被重放。为安全起见，"
                      "安装已停止，请从软件发布者处获取最新的安装程序。")
# scripts/faults builds its trees with this serial floor; the signed rows' descriptions carry SERIAL.
SERIAL_FLOOR = 100
SERIAL = 1000


def say(text):
    print(f"[faults] {text}", flush=True)


class RowHung(RuntimeError):
    pass


class Observation:
    """What a person saw in one run of the installer."""

    def __init__(self):
        self.messages = []
        self.stage = "none"
        self.setup_ran = False
        self.main_started = False
        self.window_closed = None
        self.exit_code = None
        self.window_after = None  # seconds from start to the window
        self.pressed_at = None  # time.monotonic() when 立即安装 was pressed
        self.message_at = None  # time.monotonic() when the last message box was seen
        self.notes = []

    def summary(self):
        parts = []
        if self.messages:
            parts.append("msg: " + " / ".join(f"\"{m}\"" for m in self.messages))
        else:
            parts.append("no msg")
        parts.append(f"stage {self.stage}")
        parts.append("setup ran" if self.setup_ran else "no setup")
        if self.main_started:
            parts.append("Main.exe started")
        if self.window_closed is not None:
            parts.append("window closed" if self.window_closed else "WINDOW STAYS")
        if self.exit_code is not None:
            parts.append(f"exit {self.exit_code}")
        parts += self.notes
        return "; ".join(parts)


class Matrix:
    def __init__(self, session, main_build, stats_build, https_build=None):
        self.wine = session
        self.main_build = main_build
        self.stats_build = stats_build
        self.https_build = https_build
        self.driver = None
        self.cleanups = []
        self.processes = []
        self.deadline = 0.0
        os.environ["INSTALLER_WIN64_BUILD"] = main_build
        self.setup = demo_setup()
        self.install_root = os.path.join(session.prefix, "drive_c", "Program Files", SUB_DIR)
        self.documents = package_folder(session.prefix)
        self.window_baseline = None

    # Row plumbing.

    def use_build(self, build):
        os.environ["INSTALLER_WIN64_BUILD"] = build
        self.driver = Driver(self.wine, exe=os.path.join(self.main_build, "tests", "programs", "test_driver", "test_driver.exe"))

    def defer(self, fn, *args):
        self.cleanups.append((fn, args))

    def check_time(self):
        if time.monotonic() > self.deadline:
            raise RowHung("row deadline passed")

    def end_row(self):
        for p in self.processes:
            p.kill()
        self.processes = []
        while self.cleanups:
            fn, args = self.cleanups.pop()
            try:
                fn(*args)
            except Exception as e:  # a failed cleanup must not stop the others
                say(f"cleanup {getattr(fn, '__name__', fn)} failed: {e}")
        # Programs of ours that outlived their row (the setup, Main.exe) end with the wineserver.
        for p in list(self.wine.processes):
            p.close()
        self.wine.processes = []

    def fresh_state(self):
        shutil.rmtree(self.install_root, ignore_errors=True)
        remove_old_packages(self.wine.prefix)
        for path in self.support_logs():
            os.remove(path)
        # No description accepted on this machine yet.
        for name in ("info.serial", "home.serial"):
            path = os.path.join(os.path.dirname(self.documents), name)
            if os.path.exists(path):
                os.remove(path)

    # The support log.

    def temp_folders(self):
        users = os.path.join(self.wine.prefix, "drive_c", "users")
        found = []
        for pattern in ("*/AppData/Local/Temp", "*/Temp"):
            found += [p for p in glob.glob(os.path.join(users, pattern)) if os.path.isdir(p) and not os.path.islink(p)]
        return found

    def support_logs(self):
        logs = []
        for folder in self.temp_folders():
            logs += glob.glob(os.path.join(folder, "installer-*.log"))
        return sorted(logs, key=os.path.getmtime)

    def check_log(self, name, seen, ok):
        """Adds the support log's last outcome line (or its last line) to what the row saw;
        the row fails without a log, or when the line does not name the cause listed for it."""
        if name == "temporary folder read-only":
            return seen, ok
        logs = self.support_logs()
        if not logs:
            return seen + "; NO SUPPORT LOG", False
        with open(logs[-1], encoding="utf-8", errors="replace") as f:
            lines = [line for line in f.read().splitlines() if line.strip()]
        outcomes = [line for line in lines if "] outcome: " in line]
        last = (outcomes or lines or ["(empty)"])[-1]
        seen += "; log: " + last.split("] ", 1)[-1]
        for part, cause in LOG_CAUSES:
            if part in name:
                if cause not in last:
                    return seen + f" (LOG DOES NOT SAY {cause!r})", False
                break
        return seen, ok

    # Servers.

    def mirror(self, **options):
        server = Nginx(files={"DemoSoft.exe": self.setup}, **options).start()
        self.defer(server.cleanup)
        return server.url("/DemoSoft.exe")

    def fault_mirror(self, mode, **options):
        return self.fault_server(mode, **options).url("/DemoSoft.exe")

    def fault_server(self, mode, **options):
        """Our fault server on the published setup; `options` as FaultServer takes them."""
        path = os.path.join(self.wine_tmp, "DemoSoft.exe")
        if not os.path.exists(path):
            with open(path, "wb") as f:
                f.write(self.setup)
        server = FaultServer(path, mode, **options).start()
        self.defer(server.stop)
        return server

    def description(self, urls, blocks=None):
        return simple_description(title=TITLE, file_dir=SUB_DIR, blocks=blocks or block_table(self.setup), urls=urls)

    def serve_config(self, body):
        server = config_server(body).start()
        self.defer(server.cleanup)
        return server

    # The installer and what it shows.

    def start_installer(self, sandbox, timeout=None):
        env = {"DEMO_SETUP_SECONDS": "1", "DEMO_MAIN_NO_WINDOW": "1"}
        process = self.wine.start(sandbox.exe, ARGUMENT, timeout=timeout or ROW_TIMEOUT, env=env)
        self.processes.append(process)
        return process

    def new_sandbox(self):
        sandbox = Sandbox()
        self.defer(sandbox.cleanup)
        return sandbox

    def find_window(self, obs, process, started, timeout=40.0, tick=None):
        """The installer's main window, collecting message boxes shown before it. `tick`, when
        given, is called on every round first (with `obs`) and returns True when it handled
        something (a prompt answered), which starts the next round at once."""
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            self.check_time()
            if not process.running():
                obs.exit_code = process.returncode
                return None
            if tick is not None and tick(obs):
                continue
            try:
                box = self.driver.msgbox(exe=EXE, timeout=0.3)
                obs.messages.append(box.get("text", ""))
                obs.message_at = time.monotonic()
                self.driver.msgbox_press("OK", exe=EXE)
                continue
            except DriverNotFound:
                pass
            for w in self.driver.list(exe=EXE):
                if TITLE in (w.get("title") or "") and child(w, INSTALL_NOW) is not None:
                    obs.window_after = time.monotonic() - started
                    obs.stage = "welcome"
                    return w["hwnd"]
            time.sleep(0.2)
        obs.notes.append("no window")
        return None

    def control(self, hwnd, control_id):
        try:
            return child(self.driver.window(hwnd), control_id)
        except DriverNotFound:
            return None

    def follow(self, obs, process, hwnd, timeout=150.0):
        """After 立即安装: waits for the finish stage or a message; presses OK / closes."""
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            self.check_time()
            if not process.running():
                obs.exit_code = process.returncode
                obs.window_closed = True
                obs.notes.append("ended by itself")
                return
            try:
                box = self.driver.msgbox(exe=EXE, timeout=0.3)
            except DriverNotFound:
                box = None
            if box is not None:
                obs.messages.append(box.get("text", ""))
                obs.message_at = time.monotonic()
                try:
                    self.driver.msgbox_press("OK", exe=EXE)
                except DriverNotFound as e:
                    obs.notes.append(f"OK not pressed: {e}")
                self.close_window(obs, process, hwnd)
                return
            start = self.control(hwnd, START_NOW)
            if start and start.get("visible"):
                obs.stage = "finish"
                self.read_install_log(obs)
                self.driver.press(hwnd, START_NOW, wait_ms=200)
                obs.exit_code = process.wait(30)
                obs.window_closed = obs.exit_code is not None
                self.wait_main(obs)
                return
            progress = self.control(hwnd, PROGRESS)
            if progress and progress.get("visible"):
                obs.stage = "install"
            time.sleep(0.3)
        obs.notes.append(f"nothing after {timeout:.0f} s")
        try:
            windows = self.driver.list(exe=EXE, hidden_too=True)
            shown = [(w.get("title"), w.get("class"), w.get("visible")) for w in windows]
            obs.notes.append(f"windows then: {shown}")
        except DriverError:
            pass

    def close_window(self, obs, process, hwnd):
        end = time.monotonic() + 15
        while time.monotonic() < end:
            c = self.control(hwnd, CLOSE)
            if c is None or c.get("enabled"):
                break
            time.sleep(0.3)
        if process.running():
            try:
                self.driver.press(hwnd, CLOSE, wait_ms=200)
            except DriverError:
                pass
        obs.exit_code = process.wait(30)
        obs.window_closed = obs.exit_code is not None
        self.read_install_log(obs)

    def read_install_log(self, obs):
        path = os.path.join(self.install_root, "install.log")
        if os.path.exists(path):
            obs.setup_ran = True
            with open(path, encoding="utf-8", errors="replace") as f:
                log = dict(line.split("=", 1) for line in f.read().splitlines() if "=" in line)
            if log.get("exit_code") != "0":
                obs.notes.append(f"setup exit {log.get('exit_code')}")

    def wait_main(self, obs, timeout=20):
        path = os.path.join(self.install_root, "started.log")
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            if os.path.exists(path):
                obs.main_started = True
                return
            time.sleep(0.3)

    def installed_package_ok(self, obs):
        """The package file left in Public Documents matches the published setup."""
        for name in os.listdir(self.documents):
            if name.lower().endswith(".exe"):
                with open(os.path.join(self.documents, name), "rb") as f:
                    same = hashlib.md5(f.read()).digest() == hashlib.md5(self.setup).digest()
                if not same:
                    obs.notes.append(f"package {name} differs from the published one")
                return same
        return False

    def install_run(self, urls, blocks=None):
        """One whole run: description with `urls`, press 立即安装, follow to the end."""
        obs = Observation()
        self.serve_config(self.description(urls, blocks))
        sandbox = self.new_sandbox()
        started = time.monotonic()
        process = self.start_installer(sandbox)
        hwnd = self.find_window(obs, process, started)
        if hwnd is None:
            return obs
        self.press_install(obs, process, hwnd)
        return obs

    def press_install(self, obs, process, hwnd):
        """Presses 立即安装 and follows; a download that already failed on the Welcome page
        (its message came before the window was found) leaves the button disabled: close."""
        if obs.messages:
            button = self.control(hwnd, INSTALL_NOW)
            enabled = bool(button and button.get("enabled"))
            obs.notes.append("msg on Welcome, 立即安装 " + ("STILL ENABLED" if enabled else "disabled"))
            if not enabled:
                self.close_window(obs, process, hwnd)
                return
        obs.pressed_at = time.monotonic()
        self.driver.press(hwnd, INSTALL_NOW, wait_ms=200)
        self.follow(obs, process, hwnd)

    # Judgements.

    @staticmethod
    def installed(obs):
        return (not obs.messages and obs.stage == "finish" and obs.setup_ran and obs.main_started
                and obs.window_closed is True and obs.exit_code == 0 and not any("setup exit" in n for n in obs.notes))

    @staticmethod
    def failed_clearly(obs, text=DOWNLOAD_FAILED):
        return obs.messages == [text] and not obs.setup_ran and obs.window_closed is True and not obs.main_started

    # Rows. Each returns (expected, seen, ok).

    def row_good(self):
        obs = self.install_run([self.mirror()])
        if self.installed(obs) and obs.window_after is not None:
            self.window_baseline = obs.window_after
            obs.notes.append(f"window after {obs.window_after:.1f} s")
        return "correct installation", obs.summary(), self.installed(obs)

    def mirror_row(self, make_faulty, beside_good, alone_text=DOWNLOAD_FAILED, alone_within_s=None):
        """`alone_text`: the message a mirror alone ends with; `alone_within_s`: how soon."""
        urls = [make_faulty()]
        if beside_good:
            urls.append(self.mirror())
        started = time.monotonic()
        obs = self.install_run(urls)
        took = time.monotonic() - started
        if beside_good:
            ok = self.installed(obs) and self.installed_package_ok(obs)
            return "correct installation", obs.summary(), ok
        expected = "server-refused msg" if alone_text == SERVER_REFUSED else "download-failed msg"
        ok = self.failed_clearly(obs, alone_text)
        if alone_within_s is not None:
            expected += f" within {alone_within_s} s"
            obs.notes.append(f"ended after {took:.1f} s")
            ok = ok and took < alone_within_s + (self.window_baseline or 0)
        return expected + ", window closes", obs.summary(), ok

    def row_wrong_digest(self):
        blocks = block_table(self.setup)
        size, digest = blocks[1]
        blocks[1] = (size, "0" * 32 if digest != "0" * 32 else "1" * 32)
        obs = self.install_run([self.mirror(), self.mirror()], blocks=blocks)
        return "damaged-package msg, no setup", obs.summary(), self.failed_clearly(obs, DAMAGED)

    def startup_run(self, body=None, serve=True, server=None, program=None):
        """Starts the installer with `body` served as its description (or on `server`, a
        configuration server not yet started; nothing served when not `serve`), `program` in
        its place in the sandbox when given, and finds its window."""
        obs = Observation()
        if server is None and serve:
            server = config_server(body)
        if server is not None:
            server.start()
            self.defer(server.cleanup)
        sandbox = self.new_sandbox()
        if program is not None:
            shutil.copy2(program, sandbox.exe)
        started = time.monotonic()
        process = self.start_installer(sandbox)
        hwnd = self.find_window(obs, process, started)
        if hwnd is None:
            obs.exit_code = process.wait(30)
            obs.window_closed = obs.exit_code is not None
        return obs, process, hwnd, sandbox

    def row_config_down(self):
        obs, _, hwnd, _ = self.startup_run(serve=False)
        ok = (hwnd is None and len(obs.messages) == 2 and obs.messages[0] in NETWORK and obs.messages[1] == NO_FILES
              and obs.exit_code == 0)
        return "network msg, then config msg; ends", obs.summary(), ok

    def row_config_garbage(self):
        garbage = bytes((i * 131 + 17) % 256 for i in range(4000))
        obs, _, hwnd, _ = self.startup_run(garbage)
        ok = hwnd is None and obs.messages == [NO_FILES] and obs.exit_code == 0
        return "config msg; ends", obs.summary(), ok

    def long_description_run(self, body):
        obs, process, hwnd, sandbox = self.startup_run(body)
        with open(sandbox.path("info.ini"), "rb") as f:
            stored = f.read()
        obs.notes.append(f"{len(body)} B sent, {len(stored)} B stored")
        if hwnd is not None:
            self.press_install(obs, process, hwnd)
        return obs, stored

    def row_config_long_tail(self):
        url = self.mirror()
        padding = b"; " + b"x" * 200 + b"\r\n"
        body = self.description([url]) + padding * 60 + b"[Late]\r\nKey=1\r\n"
        obs, stored = self.long_description_run(body)
        return "whole description stored; installs", obs.summary(), stored == body and self.installed(obs)

    def row_config_long_mirrors_late(self):
        # The mirror list stands beyond 10,240 bytes: read it, or the download has no address.
        url = self.mirror()
        text = self.description([url]).decode("utf-8")
        head, _, tail = text.partition("urlCount=")
        padding = "; " + "x" * 200 + "\r\n"
        body = (head + padding * 60 + "urlCount=" + tail).encode("utf-8")
        obs, stored = self.long_description_run(body)
        return "whole description stored; installs", obs.summary(), stored == body and self.installed(obs)

    def row_config_over_cap(self):
        url = self.mirror()
        padding = b"; " + b"x" * 1000 + b"\r\n"
        body = self.description([url]) + padding * 1500  # about 1.5 MiB
        obs, stored = self.long_description_run(body)
        ok = obs.messages == [TOO_LONG] and stored == b"" and not obs.setup_ran and obs.exit_code == 0
        return "over-1-MiB msg; nothing stored; ends", obs.summary(), ok

    def row_stats_hang(self):
        self.use_build(self.stats_build)
        try:
            host, port = server_address()
            stats_host, stats_port = server_address("INSTALLER_STATS_BASE_URL")
            silent = FaultServer(None, "silent", address=stats_host, port=stats_port).start()
            self.defer(silent.stop)
            url = self.mirror()
            server = Nginx(files={"oemini/info.ini": self.description([url])}, port=port, address=host).start()
            self.defer(server.cleanup)
            obs = Observation()
            sandbox = self.new_sandbox()
            started = time.monotonic()
            process = self.start_installer(sandbox)
            hwnd = self.find_window(obs, process, started)
            if hwnd is not None:
                self.driver.press(hwnd, INSTALL_NOW, wait_ms=200)
                self.follow(obs, process, hwnd)
            delay = None
            if obs.window_after is not None and self.window_baseline is not None:
                delay = obs.window_after - self.window_baseline
                obs.notes.append(f"window after {obs.window_after:.1f} s (+{delay:.1f} s)")
            obs.notes.append(f"{len(silent.request_lines())} stats requests held")
            ok = self.installed(obs) and delay is not None and delay <= 6.5
            return "start-up +<=5 s; correct installation", obs.summary(), ok
        finally:
            self.use_build(self.main_build)

    def install_on_small_tmpfs(self, options):
        """A whole installation with the package folder on a 256 KiB tmpfs mounted with `options`."""
        os.makedirs(self.documents, exist_ok=True)
        subprocess.run(["mount", "-t", "tmpfs", "-o", f"{options},size=256k", "tmpfs", self.documents], check=True)
        self.defer(subprocess.run, ["umount", "-l", self.documents])
        obs = self.install_run([self.mirror()])
        return "cannot-write msg with size, no setup", obs.summary(), self.failed_clearly(obs, self.cannot_write_text())

    def row_disk_full(self):
        return self.install_on_small_tmpfs("rw")

    def row_read_only_folder(self):
        # Read-only for everyone, root included: the package file cannot even be created.
        return self.install_on_small_tmpfs("ro")

    def row_read_only_temp(self):
        """The support log cannot be written: the installation goes on without it."""
        # Read-only for everyone, root included: a read-only tmpfs over the folder.
        for folder in self.temp_folders():
            subprocess.run(["mount", "-t", "tmpfs", "-o", "ro,size=64k", "tmpfs", folder], check=True)
            self.defer(subprocess.run, ["umount", "-l", folder])
        obs = self.install_run([self.mirror()])
        left = self.support_logs()
        if left:
            obs.notes.append(f"{len(left)} support log(s) written")
        return "correct installation, no log", obs.summary(), self.installed(obs) and not left

    def cannot_write_text(self):
        """The message for this package, its size rounded up as the installer rounds it."""
        n, mib, gib = len(self.setup), 1 << 20, 1 << 30
        if n < mib:
            size = f"{-(-n // 1024)} KB"
        else:
            unit = mib if n < gib else gib
            tenths = -(-n * 10 // unit)
            size = f"{tenths // 10}.{tenths % 10} {'MB' if unit == mib else 'GB'}"
        return f"安装包无法保存：磁盘空间不足或文件夹不可写入。请确保系统盘至少有 {size} 可用空间后重试。"

    def paced_download(self, obs, limit_rate):
        """Starts the installer on one paced mirror, presses 立即安装 and returns once the
        mirror has answered twice: (mirror, sandbox, process), the process None when the
        window did not come."""
        web = Nginx(files={"DemoSoft.exe": self.setup}, limit_rate=limit_rate).start()
        self.defer(web.cleanup)
        self.serve_config(self.description([web.url("/DemoSoft.exe")]))
        sandbox = self.new_sandbox()
        started = time.monotonic()
        process = self.start_installer(sandbox)
        hwnd = self.find_window(obs, process, started)
        if hwnd is None:
            return web, sandbox, None, None
        self.driver.press(hwnd, INSTALL_NOW, wait_ms=200)
        end = time.monotonic() + 60
        while len(web.requests()) < 2 and time.monotonic() < end:
            self.check_time()
            time.sleep(0.2)
        return web, sandbox, process, hwnd

    def outage_run(self, outage_seconds):
        """The only mirror drops off the network (connections refused) after its first
        answers; back after `outage_seconds`, or never when that is None."""
        obs = Observation()
        # Paced, so that the download is still going when the mirror drops off.
        web, _, process, hwnd = self.paced_download(obs, "50k")
        if process is None:
            return obs
        web.stop()
        blocks = len(block_table(self.setup))
        obs.notes.append(f"mirror down after {len(blocks_requested(web.entries()))} of {blocks} blocks")
        if outage_seconds is not None:
            end = time.monotonic() + outage_seconds
            while time.monotonic() < end:
                self.check_time()
                time.sleep(0.5)
            web.limit_rate = None
            web.start()
            obs.notes.append(f"back after {outage_seconds} s")
        self.follow(obs, process, hwnd, timeout=200.0)
        return obs

    def row_outage_30s(self):
        obs = self.outage_run(30)
        return "correct installation", obs.summary(), self.installed(obs) and self.installed_package_ok(obs)

    def row_outage_over_budget(self):
        obs = self.outage_run(None)
        return "download-failed msg, window closes", obs.summary(), self.failed_clearly(obs)

    def row_stall_beside_good_no_timeout(self):
        # WinINet's receive time-out is 30 s: the installation must not wait for it.
        started = time.monotonic()
        obs = self.install_run([self.fault_mirror("stall"), self.mirror()])
        took = time.monotonic() - started
        obs.notes.append(f"ended {took:.1f} s after start")
        ok = self.installed(obs) and self.installed_package_ok(obs) and took < 30
        return "correct installation, < 30 s", obs.summary(), ok

    def row_killed_and_restarted(self):
        obs = Observation()
        slow, sandbox, first, _ = self.paced_download(obs, "100k")
        if first is None:
            return "correct installation on 2nd run", obs.summary(), False
        time.sleep(1.0)
        first.kill()
        partial = [n for n in os.listdir(self.documents) if n.lower().endswith(".exe")]
        table = block_table(self.setup)
        kept = set()
        if partial:
            with open(os.path.join(self.documents, partial[0]), "rb") as f:
                left = f.read()
            kept = {i for i, (size, digest) in enumerate(table)
                    if hashlib.md5(left[i * BLOCK:i * BLOCK + size]).hexdigest() == digest
                    and len(left[i * BLOCK:i * BLOCK + size]) == size}
        obs.notes.append(f"killed after {len(slow.requests())} requests; {len(kept)} of {len(table)} blocks on disk")
        # The second run: the same sandbox, a fast mirror at the same place in the description.
        slow.stop()
        before = len(slow.entries())
        slow.limit_rate = None
        slow.start()
        second_obs = Observation()
        started = time.monotonic()
        second = self.start_installer(sandbox)
        hwnd = self.find_window(second_obs, second, started)
        if hwnd is not None:
            self.driver.press(hwnd, INSTALL_NOW, wait_ms=200)
            self.follow(second_obs, second, hwnd)
        asked_again = blocks_requested(slow.entries()[before:])
        refetched = sorted(kept & asked_again)
        obs.notes.append(f"2nd run asked for {len(asked_again)} blocks, kept ones among them: {refetched or 'none'}")
        second_obs.notes = obs.notes + second_obs.notes
        ok = self.installed(second_obs) and self.installed_package_ok(second_obs) and kept and not refetched
        return ("correct installation on 2nd run; kept blocks not asked again", "2nd run: " + second_obs.summary(),
                ok)

    def row_second_instance(self):
        obs, first, hwnd, sandbox = self.startup_run(self.description([self.mirror()]))
        if hwnd is None:
            return "2nd ends at once, code 0, no msg", obs.summary(), False
        other = self.new_sandbox()
        started = time.monotonic()
        second = self.start_installer(other)
        code = second.wait(30)
        took = time.monotonic() - started
        no_box = self.driver.no_msgbox(exe=EXE, within=1.0)
        still = first.running()
        seen = (f"2nd exit {code} after {took:.1f} s; " + ("no msg" if no_box else "A MESSAGE BOX") +
                f"; first {'still runs' if still else 'ENDED'}")
        return "2nd ends at once, code 0, no msg", seen, code == 0 and no_box and still and took < 15

    # Signed descriptions (the build with the test publisher key) and the licence link.

    def signed_description(self, payload, urls, info_lines=()):
        """A description of `payload` with the whole-file keys and the [Info] lines (Mode,
        Product, Serial, Expires) a signed one must carry; `info_lines` replace those."""
        text = simple_description(title=TITLE, file_dir=SUB_DIR, blocks=block_table(payload), urls=urls)
        text += f"FileSha256={hashlib.sha256(payload).hexdigest()}\r\nFileSize={len(payload)}\r\n".encode()
        given = {line.split("=", 1)[0].lower() for line in info_lines}
        tomorrow = (datetime.datetime.now(datetime.timezone.utc).date() + datetime.timedelta(days=1)).isoformat()
        lines = list(info_lines) + [f"{k}={v}" for k, v in (("Mode", "info"), ("Product", PRODUCT),
                                                              ("Serial", str(SERIAL)), ("Expires", tomorrow))
                                    if k.lower() not in given]
        for line in lines:
            text = text.replace(b"[Info]\r\n", b"[Info]\r\n" + line.encode() + b"\r\n", 1)
        return text

    def signed_build(self):
        return os.path.join(self.main_build, "src", "app", "online_installer_test_key.exe")

    def remember_serial(self, serial):
        """This machine has accepted a description with `serial` before."""
        folder = os.path.dirname(self.documents)
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, "info.serial"), "wb") as f:
            f.write(f"{serial}\r\n".encode())

    @staticmethod
    def sign(body, key=TEST_PRIVATE_KEY):
        result = subprocess.run(["openssl", "dgst", "-sha256", "-sign", key], input=body, capture_output=True,
                                check=True, timeout=30)
        return result.stdout

    def attacker(self):
        """The attacker's mirror with their program; returns (server, program bytes)."""
        program = bytes(reversed(self.setup))
        server = Nginx(files={"DemoSoft.exe": program}).start()
        self.defer(server.cleanup)
        return server, program

    def signed_run(self, body, signature, sparse_signature=0):
        """The signed build on `body` with `signature` (None: no .sig file; or a sparse .sig of
        `sparse_signature` bytes), followed to its end."""
        files = {} if signature is None else {"oemini/info.ini.sig": signature}
        server = config_server(body, extra_files=files)
        if sparse_signature:
            os.truncate(server.put("oemini/info.ini.sig", b""), sparse_signature)
        obs, process, hwnd, _ = self.startup_run(server=server, program=self.signed_build())
        if hwnd is not None:
            self.press_install(obs, process, hwnd)
        self.read_install_log(obs)
        return obs

    def attacker_row(self, make):
        """`make(attacker_url, attacker_program)` gives (body, signature, expected message)."""
        attacker, program = self.attacker()
        body, signature, expected, *sparse = make(attacker.url("/DemoSoft.exe"), program)
        obs = self.signed_run(body, signature, *sparse)
        asked = len(attacker.requests())
        obs.notes.append(f"attacker's mirror asked {asked} times")
        ok = (obs.messages == [expected] and obs.stage == "none" and not obs.setup_ran and asked == 0
              and obs.exit_code == 0)
        return "refusal msg; attacker's program never requested or run", obs.summary(), ok

    def row_signed_altered(self):
        def make(url, program):
            genuine = self.signed_description(self.setup, [self.mirror()])
            return self.signed_description(program, [url]), self.sign(genuine), SIGNATURE_INVALID
        return self.attacker_row(make)

    def row_signed_missing(self):
        return self.attacker_row(lambda url, program: (self.signed_description(program, [url]), None,
                                                       SIGNATURE_MISSING))

    def row_signed_other_key(self):
        key = os.path.join(self.wine_tmp, "attacker_key.pem")
        if not os.path.exists(key):
            subprocess.run(["openssl", "genpkey", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:P-256", "-out",
                            key], check=True, capture_output=True, timeout=30)

        def make(url, program):
            body = self.signed_description(program, [url])
            return body, self.sign(body, key), SIGNATURE_INVALID
        return self.attacker_row(make)

    def row_signed_other_description(self):
        def make(url, program):
            other = self.signed_description(self.setup, [self.mirror()], ["Rate0=50"])
            return self.signed_description(program, [url]), self.sign(other), SIGNATURE_INVALID
        return self.attacker_row(make)

    def row_signed_expired(self):
        def make(url, program):
            # Once the publisher's, now replayed: it names the attacker's mirror only to show it is never asked.
            body = self.signed_description(program, [url], ["Expires=2020-01-31"])
            return body, self.sign(body), EXPIRED
        return self.attacker_row(make)

    def row_signed_older_serial(self):
        def make(url, program):
            # Last year's signed pair, after this machine accepted a newer one.
            self.remember_serial(SERIAL + 1)
            body = self.signed_description(program, [url])
            return body, self.sign(body), SERIAL_OLDER
        return self.attacker_row(make)

    def row_signed_below_floor(self):
        def make(url, program):
            body = self.signed_description(program, [url], [f"Serial={SERIAL_FLOOR - 1}"])
            return body, self.sign(body), SERIAL_BELOW_FLOOR
        return self.attacker_row(make)

    def row_signed_home_as_info(self):
        def make(url, program):
            body = self.signed_description(program, [url], ["Mode=home"])
            return body, self.sign(body), MODE_MISMATCH
        return self.attacker_row(make)

    def row_signed_other_product(self):
        def make(url, program):
            body = self.signed_description(program, [url], ["Product=another-product"])
            return body, self.sign(body), PRODUCT_MISMATCH
        return self.attacker_row(make)

    def scripted_startup(self, routes, program=None):
        host, port = server_address(build_dir=self.main_build)
        server = ScriptedConfigServer(host, port, routes)
        self.defer(server.stop)
        obs = Observation()
        sandbox = self.new_sandbox()
        if program is not None:
            shutil.copy2(program, sandbox.exe)
        started = time.monotonic()
        process = self.start_installer(sandbox)
        hwnd = self.find_window(obs, process, started, timeout=150.0)
        if hwnd is None:
            obs.exit_code = process.wait(30)
            obs.window_closed = obs.exit_code is not None
        obs.notes.append(f"{time.monotonic() - started:.0f} s to the end of start-up")
        return obs, process, hwnd, server, time.monotonic() - started

    def row_signature_uploaded_after_description(self):
        old = self.signed_description(self.setup, [self.mirror()], [f"Serial={SERIAL}"])
        new = self.signed_description(self.setup, [self.mirror()], [f"Serial={SERIAL + 1}"])
        # The publisher's upload caught in between: the new description, the old signature once.
        routes = {"/oemini/info.ini": lambda n: new,
                  "/oemini/info.ini.sig": lambda n: self.sign(old) if n == 0 else self.sign(new)}
        obs, process, hwnd, server, _ = self.scripted_startup(routes, self.signed_build())
        if hwnd is not None:
            self.press_install(obs, process, hwnd)
        self.read_install_log(obs)
        asked = server.requests.count("/oemini/info.ini.sig")
        obs.notes.append(f"signature asked {asked} times")
        return "installs (the pair fetched once more)", obs.summary(), self.installed(obs) and asked == 2

    def row_description_trickles(self):
        body = self.description([self.mirror()])
        obs, _, hwnd, _, took = self.scripted_startup({"/oemini/info.ini": lambda n: (body, 10.0)})
        ok = (hwnd is None and obs.messages and obs.messages[0] == NETWORK[1] and obs.exit_code == 0
              and took < 60 + 20 + 30)
        return "timeout msg within the 60 s deadline, ends", obs.summary(), ok

    def row_description_cached(self):
        cached = "location /oemini/ { add_header Cache-Control \"max-age=31536000\"; }"
        first = self.description([self.mirror()])
        server = config_server(first, locations=cached)
        obs, process, hwnd, sandbox = self.startup_run(server=server)
        if hwnd is not None:
            self.close_window(obs, process, hwnd)
        # The publisher changes it; the next run must read the new one, not a cached copy.
        changed = first + b"; changed by the publisher\r\n"
        server.put("oemini/info.ini", changed)
        obs2, process2, hwnd2, sandbox2 = self.startup_run(serve=False)
        if hwnd2 is not None:
            self.close_window(obs2, process2, hwnd2)
        with open(sandbox2.path("info.ini"), "rb") as f:
            stored = f.read()
        asked = sum(1 for r in server.requests() if r.startswith("GET /oemini/info.ini?"))
        obs2.notes.append(f"description asked {asked} times; stored the {'new' if stored == changed else 'OLD'} one")
        return "2nd run reads the changed description", obs2.summary(), stored == changed and asked == 2

    def row_planted_package(self):
        # Another local user created the package file first: the published setup itself, so
        # that adopting it would skip the download and run a file he can still change. (Wine
        # names a file of another Unix account's as owned by that account.)
        os.makedirs(self.documents, exist_ok=True)
        planted = os.path.join(self.documents, f"{SUB_DIR}_1001_77.exe")
        with open(planted, "wb") as f:
            f.write(self.setup)
        os.chown(planted, 65534, 65534)
        mirror = Nginx(files={"DemoSoft.exe": self.setup}).start()
        self.defer(mirror.cleanup)
        obs = self.install_run([mirror.url("/DemoSoft.exe")])
        fetched = blocks_requested(mirror.entries())
        owner = os.stat(planted).st_uid if os.path.exists(planted) else None
        obs.notes.append(f"{len(fetched)} of {len(block_table(self.setup))} blocks fetched; package owner uid {owner}")
        ok = (self.installed(obs) and fetched == set(range(len(block_table(self.setup)))) and owner == os.getuid()
              and self.installed_package_ok(obs))
        return "planted file replaced, package fetched whole, genuine setup runs", obs.summary(), ok

    def row_signed_huge_signature(self):
        def make(url, program):
            return self.signed_description(program, [url]), None, SIGNATURE_INVALID, 1 << 30
        return self.attacker_row(make)

    def row_signed_good(self):
        body = self.signed_description(self.setup, [self.mirror()])
        obs = self.signed_run(body, self.sign(body))
        return "correct installation", obs.summary(), self.installed(obs)

    def licence_link_row(self, doc_url_for):
        sandbox = self.new_sandbox()
        program = sandbox.path("evil.exe")
        shutil.copy2(os.path.join(self.main_build, "tests", "programs", "demo_package", "payload", "Main.exe"), program)
        doc_url = doc_url_for("Z:" + program.replace("/", "\\"))
        body = self.description([self.mirror()]).replace(b"DocUrl=http://127.0.0.1/licence.html",
                                                         f"DocUrl={doc_url}".encode())
        self.serve_config(body)
        obs = Observation()
        started = time.monotonic()
        process = self.start_installer(sandbox)
        hwnd = self.find_window(obs, process, started)
        if hwnd is None:
            return "nothing started", obs.summary(), False
        self.driver.mouse_click(hwnd, LICENCE_LINK, x=10, y=6)
        time.sleep(5)  # the program records its start at once
        ran = os.path.exists(sandbox.path("started.log"))
        obs.notes.append(f"{doc_url} {'STARTED' if ran else 'not started'}")
        self.close_window(obs, process, hwnd)
        return "nothing started", obs.summary(), not ran and not obs.messages and obs.exit_code == 0

    # Networks users have: slow links, proxies with a login, a package that failed its check.

    def row_slow_three_mirrors(self):
        # 5 KB/s per connection on three mirrors (some 30 KB/s in all, a 240 kbit/s line).
        urls = [self.mirror(limit_rate="5k") for _ in range(3)]
        obs = Observation()
        self.serve_config(self.description(urls))
        sandbox = self.new_sandbox()
        started = time.monotonic()
        process = self.start_installer(sandbox)
        hwnd = self.find_window(obs, process, started)
        if hwnd is not None:
            self.driver.press(hwnd, INSTALL_NOW, wait_ms=200)
            self.follow(obs, process, hwnd, timeout=220)
        obs.notes.append(f"{len(self.setup)} B in {time.monotonic() - started:.0f} s")
        return "correct installation", obs.summary(), self.installed(obs) and self.installed_package_ok(obs)

    def row_slow_single_mirror(self):
        # 3 KB/s per connection on the only mirror: slow but steady, it must never be cut by
        # the stall floor, and nothing else can take its blocks.
        url = self.mirror(limit_rate="3k")
        timeout = LONG_ROW_TIMEOUTS["slow link: one mirror at 3 KB/s per connection, alone"]
        obs = Observation()
        self.serve_config(self.description([url]))
        sandbox = self.new_sandbox()
        started = time.monotonic()
        process = self.start_installer(sandbox, timeout=timeout)
        hwnd = self.find_window(obs, process, started)
        if hwnd is not None:
            self.driver.press(hwnd, INSTALL_NOW, wait_ms=200)
            self.follow(obs, process, hwnd, timeout=timeout - 60)
        obs.notes.append(f"{len(self.setup)} B in {time.monotonic() - started:.0f} s")
        return "correct installation", obs.summary(), self.installed(obs) and self.installed_package_ok(obs)

    def proxy_prompt_answerer(self, answers):
        """A `find_window` tick that answers the proxy login prompt as it comes, with
        (user, password) or None (Cancel) in turn."""
        answers = list(answers)

        def tick(obs):
            prompts = self.driver.list(exe=EXE, title=PROXY_PROMPT_TITLE)
            if not prompts:
                return False
            prompt = prompts[0]["hwnd"]
            answer = answers.pop(0) if answers else None
            obs.notes.append(f"prompt {'answered' if answer else 'cancelled'}")
            if answer:
                self.driver.set_text(prompt, PROXY_USER_EDIT, answer[0])
                self.driver.set_text(prompt, PROXY_PASSWORD_EDIT, answer[1])
                self.driver.press(prompt, PROMPT_OK, wait_ms=200)
            else:
                self.driver.press(prompt, PROMPT_CANCEL, wait_ms=200)
            self.driver.wait_gone(prompt, timeout=10)
            return True
        return tick

    def proxy_run(self, login, answers):
        proxy = Tinyproxy(login=login).start()
        self.defer(proxy.cleanup)
        session_proxy = system_proxy(self.wine, proxy)
        session_proxy.__enter__()
        self.defer(session_proxy.__exit__, None, None, None)
        obs = Observation()
        config = self.serve_config(self.description([self.mirror()]))
        sandbox = self.new_sandbox()
        started = time.monotonic()
        process = self.start_installer(sandbox)
        hwnd = self.find_window(obs, process, started, timeout=60.0, tick=self.proxy_prompt_answerer(answers))
        if hwnd is not None:
            self.driver.press(hwnd, INSTALL_NOW, wait_ms=200)
            self.follow(obs, process, hwnd)
        else:
            obs.exit_code = process.wait(30)
            obs.window_closed = obs.exit_code is not None
        through = proxy.requests()
        kinds = {kind: sum(1 for r in through if kind in r) for kind in ("/oemini/", "/DemoSoft.exe", "InstallData")}
        obs.notes.append("through the proxy: " + ", ".join(f"{k} {n}" for k, n in kinds.items()))
        kinds["reports"] = [r["type"] for r in stats_requests(config)]
        obs.notes.append("reports received: " + (",".join(kinds["reports"]) or "none"))
        return obs, kinds

    def row_proxy_without_login(self):
        obs, kinds = self.proxy_run(None, [])
        ok = self.installed(obs) and kinds["/oemini/"] and kinds["/DemoSoft.exe"]
        return "correct installation through the proxy", obs.summary(), ok

    def row_proxy_login(self):
        obs, kinds = self.proxy_run(("user", "pass"), [("user", "pass")])
        prompts = sum(1 for n in obs.notes if n.startswith("prompt"))
        # The start report, refused before the login was given, arrives once all the same.
        reports_ok = sorted(kinds["reports"]) == ["0", "1", "2"]
        ok = self.installed(obs) and prompts == 1 and kinds["/oemini/"] and kinds["/DemoSoft.exe"] and reports_ok
        return "one prompt; correct installation through the proxy; reports 1, 2, 0", obs.summary(), ok

    def row_proxy_wrong_login(self):
        obs, _ = self.proxy_run(("user", "pass"), [("user", "wrong")] * 4)
        prompts = sum(1 for n in obs.notes if n.startswith("prompt"))
        ok = prompts == 3 and obs.messages == [PROXY_LOGIN_FAILED] and not obs.setup_ran and obs.exit_code == 0
        return "3 prompts, then proxy-login msg; ends", obs.summary(), ok

    def row_proxy_cancel(self):
        obs, _ = self.proxy_run(("user", "pass"), [None])
        ok = obs.messages == [PROXY_LOGIN_FAILED] and not obs.setup_ran and obs.exit_code == 0
        return "proxy-login msg; ends", obs.summary(), ok

    def row_whole_file_check_then_again(self):
        # The first description's whole-file digest is of another file: every block verifies,
        # the whole file does not. The package must go, or the next run keeps every block and
        # fails the same way; the second run (the right digest) downloads it again.
        web = Nginx(files={"DemoSoft.exe": self.setup}).start()
        self.defer(web.cleanup)
        url = web.url("/DemoSoft.exe")
        wrong = self.description([url]) + (f"FileSha256={hashlib.sha256(b'another file').hexdigest()}\r\n"
                                           f"FileSize={len(self.setup)}\r\n").encode()
        right = self.description([url]) + (f"FileSha256={hashlib.sha256(self.setup).hexdigest()}\r\n"
                                           f"FileSize={len(self.setup)}\r\n").encode()
        # The keys belong to the file's section, which the description ends with.
        config = self.serve_config(wrong)
        first = Observation()
        sandbox = self.new_sandbox()
        process = self.start_installer(sandbox)
        hwnd = self.find_window(first, process, time.monotonic())
        if hwnd is not None:
            self.press_install(first, process, hwnd)
        left = [n for n in os.listdir(self.documents) if n.lower().endswith(".exe")]
        config.put("oemini/info.ini", right)
        before = len(web.entries())
        second = Observation()
        process = self.start_installer(sandbox)
        hwnd = self.find_window(second, process, time.monotonic())
        if hwnd is not None:
            self.press_install(second, process, hwnd)
        asked = blocks_requested(web.entries()[before:])
        second.notes = [f"1st run: {first.summary()}", f"package left after it: {left or 'none'}",
                        f"2nd run asked for {len(asked)} of {len(block_table(self.setup))} blocks"] + second.notes
        ok = (first.messages == [CORRUPT] and not first.setup_ran and not left and self.installed(second)
              and len(asked) == len(block_table(self.setup)))
        return "corrupt msg, package deleted; 2nd run downloads again, installs", second.summary(), ok

    # HTTPS: a tree whose configuration and statistics servers are https://localhost, a test
    # CA the host (and so Wine) trusts for the row only.

    def https_run(self, mirror_kinds, config_trusted=True):
        """`mirror_kinds`: "good" (a certificate of the test CA for localhost), "self-signed"
        or "misnamed"; returns (observation, configuration server, seconds to the end)."""
        if not self.https_build or not os.path.exists(os.path.join(self.https_build, "src", "app", EXE)):
            raise RuntimeError("the https tree is not built (scripts/faults builds it)")
        self.use_build(self.https_build)
        ca = TestCa()
        self.defer(ca.cleanup)
        trust = ca.trusted_by_host()
        trust.__enter__()
        self.defer(trust.__exit__, None, None, None)
        certificates = {"good": ca.issue("localhost"), "self-signed": ca.issue("localhost", self_signed=True),
                        "misnamed": ca.issue("mirror.invalid")}
        urls = []
        for kind in mirror_kinds:
            web = Nginx(files={"DemoSoft.exe": self.setup}, tls=certificates[kind]).start()
            self.defer(web.cleanup)
            urls.append(web.url("/DemoSoft.exe"))
        config = config_server(self.description(urls), build_dir=self.https_build,
                               tls=certificates["good" if config_trusted else "self-signed"]).start()
        self.defer(config.cleanup)
        obs = Observation()
        sandbox = self.new_sandbox()
        started = time.monotonic()
        process = self.start_installer(sandbox)
        hwnd = self.find_window(obs, process, started)
        if hwnd is not None:
            self.press_install(obs, process, hwnd)
        else:
            obs.exit_code = process.wait(30)
            obs.window_closed = obs.exit_code is not None
        took = time.monotonic() - started
        return obs, config, took

    def row_https_everything(self):
        obs, config, _ = self.https_run(["good", "good"])
        reports = stats_requests(config)
        obs.notes.append(f"{len(reports)} reports over https")
        ok = self.installed(obs) and self.installed_package_ok(obs) and len(reports) >= 2
        return "correct installation; reports arrive", obs.summary(), ok

    def row_https_untrusted_beside_good(self):
        obs, _, _ = self.https_run(["self-signed", "good"])
        return "correct installation", obs.summary(), self.installed(obs) and self.installed_package_ok(obs)

    def row_https_every_mirror_untrusted(self):
        obs, _, took = self.https_run(["self-signed", "misnamed"])
        obs.notes.append(f"ended {took:.1f} s after start")
        ok = self.failed_clearly(obs, CERTIFICATE_INVALID) and took < 60
        return "certificate msg within seconds, no setup", obs.summary(), ok

    def row_https_config_untrusted(self):
        obs, _, _ = self.https_run(["good"], config_trusted=False)
        ok = obs.messages == [CERTIFICATE_INVALID] and obs.stage == "none" and not obs.setup_ran
        return "certificate msg; ends", obs.summary(), ok

    # Mirrors that push back, mirrors holding another file, an answer longer than asked for.

    def start_and_press(self, obs, urls, blocks=None):
        """Serves a description of `urls`, starts the installer and presses 立即安装 (unless
        the download failed before it); returns (process, hwnd), hwnd None without a window."""
        self.serve_config(self.description(urls, blocks))
        sandbox = self.new_sandbox()
        process = self.start_installer(sandbox)
        hwnd = self.find_window(obs, process, time.monotonic())
        if hwnd is not None and not obs.messages:
            obs.pressed_at = time.monotonic()
            self.driver.press(hwnd, INSTALL_NOW, wait_ms=200)
        return process, hwnd

    def run_to_end(self, obs, urls, blocks=None):
        """start_and_press, then follows the download to its end; a message that came before
        the button could be pressed ends the run by closing the window."""
        process, hwnd = self.start_and_press(obs, urls, blocks)
        if hwnd is not None:
            if obs.messages:
                self.close_window(obs, process, hwnd)
            else:
                self.follow(obs, process, hwnd)

    def failed_quickly(self, obs, text, within_s=5):
        """Ended with `text` alone, nothing run, within `within_s` of 立即安装 (noted)."""
        took = self.note_message_time(obs)
        return self.failed_clearly(obs, text) and took is not None and took < within_s

    @staticmethod
    def note_message_time(obs):
        """Notes when the message came, from 立即安装; returns the seconds (None: no message;
        0 when it came before the button was pressed)."""
        if obs.message_at is None:
            return None
        if obs.pressed_at is None or obs.message_at < obs.pressed_at:
            obs.notes.append("msg before 立即安装")
            return 0.0
        took = obs.message_at - obs.pressed_at
        obs.notes.append(f"msg {took:.1f} s after 立即安装")
        return took

    def row_every_mirror_busy_then_well(self):
        # Both mirrors answer 503 while a file of the row's exists (nginx reads it per request).
        flag = os.path.join(self.wine_tmp, "busy")
        with open(flag, "w"):
            pass
        self.defer(lambda: os.path.exists(flag) and os.remove(flag))
        busy = f"        location = /DemoSoft.exe {{ if (-f {flag}) {{ return 503; }} }}"
        mirrors = [Nginx(files={"DemoSoft.exe": self.setup}, locations=busy).start() for _ in range(2)]
        for web in mirrors:
            self.defer(web.cleanup)
        obs = Observation()
        process, hwnd = self.start_and_press(obs, [web.url("/DemoSoft.exe") for web in mirrors])
        if hwnd is None:
            return "correct installation", obs.summary(), False
        answers = lambda: [e for web in mirrors for e in web.entries() if "/DemoSoft.exe" in e["request"]]  # noqa: E731
        end = time.monotonic() + 60
        while not any(e["status"] == 503 for e in answers()) and time.monotonic() < end:
            self.check_time()
            time.sleep(0.2)
        end = time.monotonic() + 20
        while time.monotonic() < end:
            self.check_time()
            time.sleep(0.5)
        os.remove(flag)
        well_from = time.time()
        self.follow(obs, process, hwnd)
        seen = answers()
        refused = [e for e in seen if e["status"] == 503]
        served = [e for e in seen if e["status"] == 206 and e["time"] >= well_from]
        obs.notes.append(f"503 x {len(refused)} on {len(mirrors)} mirrors over 20 s, then {len(served)} answers of 206")
        if served:
            obs.notes.append(f"first 206 {min(e['time'] for e in served) - well_from:.1f} s after the mirrors came back")
        ok = self.installed(obs) and self.installed_package_ok(obs) and refused and served
        return "correct installation, no msg", obs.summary(), ok

    def row_retry_after(self):
        # The only mirror answers 503 with "Retry-After: 5" to whatever comes in its first 2 s.
        server = self.fault_server("busy", busy_s=2, retry_after=5)
        obs = Observation()
        process, hwnd = self.start_and_press(obs, [server.url("/DemoSoft.exe")])
        if hwnd is not None:
            self.follow(obs, process, hwnd)
        seen = server.entries()
        refused = [e for e in seen if e["status"] == 503]
        after = [e for e in seen if refused and e["time"] > refused[-1]["time"]]
        rest = after[0]["time"] - refused[-1]["time"] if after else None
        gaps = [b["time"] - a["time"] for a, b in zip(seen, seen[1:])]
        obs.notes.append(f"503 x {len(refused)}; next request {rest:.1f} s after the last 503" if rest is not None
                         else f"503 x {len(refused)}; NO REQUEST AFTER THEM")
        obs.notes.append("gaps between requests over 1 s: " + (", ".join(f"{g:.1f}" for g in gaps if g > 1) or "none"))
        ok = self.installed(obs) and self.installed_package_ok(obs) and rest is not None and 4.0 <= rest <= 12.0
        return "mirror rests about 5 s, then correct installation", obs.summary(), ok

    def row_every_mirror_404(self):
        obs = Observation()
        self.run_to_end(obs, [self.empty_mirror() for _ in range(3)])
        ok = self.failed_quickly(obs, SERVER_REFUSED)
        return "server-refused msg < 5 s after 立即安装, window closes", obs.summary(), ok

    def other_file(self, same_size):
        """Another file than the described one: as long as it (every block fails its digest),
        or an older, shorter one."""
        other = bytes(reversed(self.setup))
        return other if same_size else other[:len(other) - len(other) // 3]

    def another_file_row(self, bad_mirrors, same_size):
        other = self.other_file(same_size)
        bad = [Nginx(files={"DemoSoft.exe": other}).start() for _ in range(bad_mirrors)]
        for web in bad:
            self.defer(web.cleanup)
        urls = [web.url("/DemoSoft.exe") for web in bad] + [self.mirror() for _ in range(3 - bad_mirrors)]
        obs = Observation()
        self.run_to_end(obs, urls)
        asked = sum(len(blocks_requested(web.entries())) for web in bad)
        obs.notes.append(f"blocks asked of the mirror(s) with another file: {asked}")
        if bad_mirrors < 3:
            ok = self.installed(obs) and self.installed_package_ok(obs)
            return "correct installation from the others; package intact", obs.summary(), ok
        left = [n for n in os.listdir(self.documents) if n.lower().endswith(".exe")] if os.path.isdir(
            self.documents) else []
        written = 0
        for name in left:
            with open(os.path.join(self.documents, name), "rb") as f:
                data = f.read()
            # Blocks of the other file standing in the package where the described ones belong.
            written += sum(1 for i in range(0, len(data), BLOCK)
                           if data[i:i + BLOCK] and data[i:i + BLOCK] == other[i:i + BLOCK])
        obs.notes.append(f"package left: {left or 'none'}; other file's blocks in it: {written}")
        self.note_message_time(obs)
        ok = self.failed_clearly(obs, DAMAGED) and written == 0
        return "damaged-package msg, no setup, none of the other file's blocks kept", obs.summary(), ok

    def overlong_row(self, beside_good):
        # The answer that reaches the file's end carries 1000 bytes more than the range asked for.
        server = self.fault_server("overlong", extra=1000)
        urls = [server.url("/DemoSoft.exe")] + ([self.mirror()] if beside_good else [])
        obs = Observation()
        self.run_to_end(obs, urls)
        last = (len(self.setup) - 1) // BLOCK
        long_answers = sum(1 for e in server.entries() if e["range"].startswith(f"bytes={last * BLOCK}-"))
        obs.notes.append(f"overlong answers sent: {long_answers}")
        if beside_good:
            ok = self.installed(obs) and self.installed_package_ok(obs)
            return "correct installation (recovered from the good mirror)", obs.summary(), ok
        ok = self.failed_quickly(obs, DAMAGED)
        return "damaged-package msg < 5 s after 立即安装, no setup", obs.summary(), ok

    def row_last_block_longer_in_description(self):
        # The description's last block is 1000 bytes longer than the file on both mirrors: each
        # answers a clean 206 that ends where its file ends.
        blocks = block_table(self.setup + bytes(1000))
        obs = Observation()
        self.run_to_end(obs, [self.mirror(), self.mirror()], blocks)
        ok = self.failed_quickly(obs, DAMAGED)
        return "damaged-package msg < 5 s after 立即安装, no setup", obs.summary(), ok

    def rows(self):
        # (name, mirror maker, what a mirror alone ends with, how soon): a 404 refuses the
        # mirror at once; a 500 makes it rest and come back until the outage budget is spent.
        faults = [
            ("404 pages", self.empty_mirror, SERVER_REFUSED, 5),
            ("500 pages", lambda: self.mirror(locations="        location / { return 500; }"), SERVER_REFUSED, None),
            ("ignores Range (max_ranges 0)", lambda: self.mirror(server_options="max_ranges 0;"), DOWNLOAD_FAILED,
             None),
            ("reset mid-body", lambda: self.fault_mirror("reset"), DOWNLOAD_FAILED, None),
            ("stall mid-body", lambda: self.fault_mirror("stall"), DOWNLOAD_FAILED, None),
            ("host does not resolve", lambda: UNRESOLVABLE, DOWNLOAD_FAILED, None),
        ]
        table = [("good mirror (control)", self.row_good)]
        for name, make, text, within in faults:
            table.append((f"mirror: {name}, beside a good one", lambda m=make: self.mirror_row(m, True)))
            table.append((f"mirror: {name}, alone",
                          lambda m=make, t=text, w=within: self.mirror_row(m, False, t, w)))
        table += [
            ("wrong digest in description", self.row_wrong_digest),
            ("config server down", self.row_config_down),
            ("config server sends garbage", self.row_config_garbage),
            ("config > 10240 B (padding at end)", self.row_config_long_tail),
            ("config > 10240 B (urls beyond it)", self.row_config_long_mirrors_late),
            ("config > 1 MiB", self.row_config_over_cap),
            ("statistics server hangs", self.row_stats_hang),
            ("disk full (256 KiB tmpfs)", self.row_disk_full),
            ("package folder read-only", self.row_read_only_folder),
            ("temporary folder read-only", self.row_read_only_temp),
            ("killed in download, restarted", self.row_killed_and_restarted),
            ("every mirror unreachable for 30 s mid-download", self.row_outage_30s),
            ("every mirror unreachable beyond the budget", self.row_outage_over_budget),
            ("mirror stalls mid-body beside a good one, timed", self.row_stall_beside_good_no_timeout),
            ("second instance", self.row_second_instance),
            ("signed: good signed description (control)", self.row_signed_good),
            ("signed: altered in transit (attacker's mirror, digests), signature kept", self.row_signed_altered),
            ("signed: signature missing", self.row_signed_missing),
            ("signed: signature by another key", self.row_signed_other_key),
            ("signed: signature of another description", self.row_signed_other_description),
            ("signed: expired description", self.row_signed_expired),
            ("signed: 1 GiB .sig", self.row_signed_huge_signature),
            ("signed: older serial than this machine accepted", self.row_signed_older_serial),
            ("signed: serial below the build's floor", self.row_signed_below_floor),
            ("signed: home.ini's signed pair served as info.ini", self.row_signed_home_as_info),
            ("signed: another product's signed pair", self.row_signed_other_product),
            ("signed: signature uploaded a moment after its description", self.row_signature_uploaded_after_description),
            ("description cached (max-age=31536000), then changed", self.row_description_cached),
            ("description trickles 1 byte / 10 s", self.row_description_trickles),
            ("package file planted by another user", self.row_planted_package),
            ("DocUrl: local program path", lambda: self.licence_link_row(lambda path: path)),
            ("DocUrl: file: address", lambda: self.licence_link_row(
                lambda path: "file:///" + path.replace("\\", "/"))),
            ("slow link: three mirrors at 5 KB/s per connection", self.row_slow_three_mirrors),
            ("slow link: one mirror at 3 KB/s per connection, alone", self.row_slow_single_mirror),
            ("proxy without a login", self.row_proxy_without_login),
            ("proxy with a login: right login", self.row_proxy_login),
            ("proxy with a login: wrong login three times", self.row_proxy_wrong_login),
            ("proxy with a login: Cancel", self.row_proxy_cancel),
            ("whole-file check failed, start again", self.row_whole_file_check_then_again),
            ("https: configuration, statistics and mirrors", self.row_https_everything),
            ("https: a mirror with an untrusted certificate beside a good one", self.row_https_untrusted_beside_good),
            ("https: every mirror's certificate untrusted or misnamed", self.row_https_every_mirror_untrusted),
            ("https: configuration server's certificate untrusted", self.row_https_config_untrusted),
            ("pushback: every mirror 503 for 20 s, then well", self.row_every_mirror_busy_then_well),
            ("pushback: 503 with Retry-After: 5, mirror alone", self.row_retry_after),
            ("pushback: every mirror 404 (3 mirrors)", self.row_every_mirror_404),
            ("another file (same size) on 1 mirror of 3", lambda: self.another_file_row(1, True)),
            ("another file (shorter) on 1 mirror of 3", lambda: self.another_file_row(1, False)),
            ("another file (same size) on all 3 mirrors", lambda: self.another_file_row(3, True)),
            ("another file (shorter) on all 3 mirrors", lambda: self.another_file_row(3, False)),
            ("last block answered longer than asked, mirror alone", lambda: self.overlong_row(False)),
            ("last block answered longer than asked, beside a good one", lambda: self.overlong_row(True)),
            ("last block in the description longer than the file", self.row_last_block_longer_in_description),
        ]
        return table

    def empty_mirror(self):
        server = Nginx(files={}).start()
        self.defer(server.cleanup)
        return server.url("/DemoSoft.exe")

    def run_row(self, name, fn, timeout):
        """Runs one row in a thread; past `timeout` its programs and servers are ended."""
        self.use_build(self.main_build)
        self.fresh_state()
        self.deadline = time.monotonic() + timeout
        outcome = {}

        def body():
            try:
                outcome["result"] = fn()
            except RowHung:
                outcome["result"] = None
            except Exception as e:
                outcome["error"] = f"{type(e).__name__}: {e}"
                traceback.print_exc()

        started = time.monotonic()
        thread = threading.Thread(target=body, daemon=True)
        thread.start()
        thread.join(timeout + 5)
        hung = thread.is_alive() or ("result" in outcome and outcome["result"] is None)
        self.end_row()  # also unblocks a hung row: its programs and servers are gone
        thread.join(30)
        took = time.monotonic() - started
        if hung:
            return (name, "-", f"HANG (ended after {timeout:.0f} s)", took, False)
        if "error" in outcome:
            return (name, "-", "harness error: " + outcome["error"], took, False)
        expected, seen, ok = outcome["result"]
        seen, ok = self.check_log(name, seen, ok)
        return (name, expected, seen, took, bool(ok))


def print_table(rows):
    headers = ("fault", "expected", "seen", "time", "ok")
    cells = [(n, e, s, f"{t:.1f} s", "ok" if ok else "FAIL") for n, e, s, t, ok in rows]
    widths = [max(len(str(r[i])) for r in [headers] + cells) for i in range(4)]
    line = lambda r: " | ".join(str(r[i]).ljust(widths[i]) if i < 4 else str(r[i]) for i in range(5))  # noqa: E731
    print(line(headers))
    print("-+-".join("-" * w for w in widths) + "-+-----")
    for r in cells:
        print(line(r))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build", "faults-win64"))
    parser.add_argument("--stats-build", default=os.path.join(ROOT, "build", "faults-stats-win64"))
    parser.add_argument("--https-build", default=os.path.join(ROOT, "build", "faults-https-win64"))
    parser.add_argument("--prefix", default=os.environ.get("INSTALLER_WINEPREFIX")
                        or os.path.join(ROOT, "build", "wineprefix-faults"))
    parser.add_argument("--only", action="append", help="run only rows whose name contains this (repeatable)")
    parser.add_argument("--row-timeout", type=float, default=ROW_TIMEOUT)
    args = parser.parse_args()
    os.environ["INSTALLER_WINEPREFIX"] = args.prefix

    results = []
    with WineSession(prefix=args.prefix) as session:
        matrix = Matrix(session, os.path.abspath(args.build), os.path.abspath(args.stats_build),
                        os.path.abspath(args.https_build))
        with tempfile.TemporaryDirectory(prefix="faults-") as tmp:
            matrix.wine_tmp = tmp
            rows = matrix.rows()
            for index, (name, fn) in enumerate(rows):
                # The control row always runs: its time to the window is the baseline of the
                # rows that bound how soon a lone faulty mirror ends.
                if args.only and index > 0 and not any(o in name for o in args.only):
                    continue
                say(f"row: {name}")
                row = matrix.run_row(name, fn, max(args.row_timeout, LONG_ROW_TIMEOUTS.get(name, 0.0)))
                say(f"  -> {'ok' if row[4] else 'FAIL'} in {row[3]:.1f} s: {row[2]}")
                results.append(row)
    print()
    print_table(results)
    failed = sum(1 for r in results if not r[4])
    print(f"\n{len(results) - failed} of {len(results)} rows ok")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
