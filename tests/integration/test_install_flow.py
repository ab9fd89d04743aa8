"""A whole installation through the real window under Wine: the demo setup package on
nginx mirrors, the test driver pressing the buttons, and the files the demo setup and
its Main.exe leave behind as the record of what ran."""
import http.server
import os
import re
import shutil
import threading
import time
import unittest

from harness.builds import win64_exe
from harness.driver import DriverNotFound, WINDOW_WAIT
from harness.installer import (InstallerTestCase, Sandbox, block_table, blocks_requested, config_server, package_folder,
                               simple_description, stats_requests)
from harness.nginx import Nginx
from harness.stage_look import filled_share, picture_difference, step_looks

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
ARTIFACTS = os.path.join(ROOT, "artifacts", "install_flow")
EXE = "online_installer.exe"
TITLE = "演示软件"
SUB_DIR = "DemoSoft"
INSTALL_NOW, ACCEPT, BOOT, RUN_NOW, CLOSE, START_NOW, PROGRESS = 1011, 1013, 1016, 1017, 1021, 1024, 1000
MINIMIZE = 1022
WM_COMMAND = 0x0111
BN_DOUBLECLICKED, BN_SETFOCUS, BN_KILLFOCUS = 5, 6, 7


class SlowStatisticsServer:
    """Answers every request 200 after `delay` seconds: a statistics server that is slow but
    working. A thread of the test process; nginx hands it the report requests."""

    def __init__(self, delay):
        delay_s = delay

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_GET(self):
                time.sleep(delay_s)
                self.send_response(200)
                self.send_header("Content-Length", "2")
                self.end_headers()
                self.wfile.write(b"ok")

            def log_message(self, *args):
                pass

        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.server.daemon_threads = True
        self.thread = threading.Thread(target=self.server.serve_forever, daemon=True)
        self.thread.start()

    def directives(self):
        return f"proxy_pass http://127.0.0.1:{self.server.server_address[1]}; proxy_read_timeout 60s;"

    def close(self):
        self.server.shutdown()
        self.server.server_close()
        self.thread.join(10)


class InstallFlowTest(InstallerTestCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        os.makedirs(ARTIFACTS, exist_ok=True)

    def setUp(self):
        super().setUp()
        self.sandbox = Sandbox()
        self.addCleanup(self.sandbox.cleanup)

    # Helpers.

    def mirror(self, **options):
        server = Nginx(files={"DemoSoft.exe": self.setup}, **options).start()
        self.addCleanup(server.cleanup)
        return server

    def start_installer(self, mirrors, env=None, payload=None, stats_directives=None):
        payload = payload if payload is not None else self.setup
        description = simple_description(title=TITLE, file_dir=SUB_DIR, blocks=block_table(payload),
                                         urls=[m.url("/DemoSoft.exe") for m in mirrors])
        server = config_server(description, stats_directives=stats_directives).start()
        self.addCleanup(server.cleanup)
        environment = {"DEMO_SETUP_SECONDS": "1", "DEMO_MAIN_NO_WINDOW": "1"}
        environment.update(env or {})
        process = self.wine.start(self.sandbox.exe, "setup_1001_77", timeout=240, env=environment)
        self.addCleanup(process.kill)
        window = self.driver.wait(title=TITLE, exe=EXE, timeout=WINDOW_WAIT)
        return server, process, window["hwnd"]

    def package_file(self):
        return os.path.join(package_folder(self.wine.prefix), f"{SUB_DIR}_1001_77.exe")

    def windows_package_folder(self):
        """The package folder as the installer names it (C:\\users\\<user>\\AppData\\Local\\...)."""
        relative = os.path.relpath(package_folder(self.wine.prefix), os.path.join(self.wine.prefix, "drive_c"))
        return "C:\\" + relative.replace("/", "\\")

    def wait_download(self, timeout=60):
        """Waits until the window has taken the finished package: it holds the file against
        writers from the moment it learns that the download is complete."""
        def complete():
            try:
                with open(self.package_file(), "rb") as f:
                    if f.read() != self.setup:
                        return False
            except OSError:
                return False
            return not self.driver.can_write(self.package_file())
        self.wait_until(complete, timeout=timeout, message="the whole package written and held by the window")

    def install_log(self):
        with open(os.path.join(self.install_root, "install.log"), encoding="utf-8") as f:
            return dict(line.split("=", 1) for line in f.read().splitlines() if "=" in line)

    def stats_entries(self, server):
        return [e for e in server.entries() if e["request"].split(" ")[1].startswith("/api/InstallData.ashx")]

    def main_started(self):
        return os.path.exists(os.path.join(self.install_root, "started.log"))

    def shot(self, hwnd, name):
        path = os.path.join(ARTIFACTS, name)
        self.driver.screenshot(hwnd, path, settle=0.8)
        return path

    def assert_stage_look(self, path, hwnd, stage, pictures=()):
        """The screenshot shows the stage's step images (the highlighted one on its own step)
        and one of the skin's `pictures` in the picture area, as the skin draws them."""
        window = self.driver.window(hwnd)
        for control_id, (image, difference, other_look) in step_looks(path, window, stage).items():
            if difference != float("inf"):  # the highlighted look: opaque, comparable pixel by pixel
                self.assertLess(difference, 12, f"{stage}: step {control_id} does not show {image}")
            else:  # a see-through look: at least not the highlighted one
                self.assertGreater(other_look, 20, f"{stage}: step {control_id} shows the highlighted look")
        if pictures:
            self.assertLess(picture_difference(path, window, pictures), 12, f"{stage}: picture area")

    # The two orders of a complete installation.

    def test_download_completes_before_install_is_pressed(self):
        mirrors = [self.mirror() for _ in range(3)]
        server, process, hwnd = self.start_installer(mirrors)
        self.wait_download()
        self.assert_stage_look(self.shot(hwnd, "welcome.png"), hwnd, "welcome")
        self.driver.press(hwnd, INSTALL_NOW, wait_ms=200)
        self.wait_control(hwnd, START_NOW, visible=True)
        self.assert_stage_look(self.shot(hwnd, "finish.png"), hwnd, "finish", ["Install.jpg"])
        self.assertFalse(self.control(hwnd, PROGRESS)["visible"])
        self.assertEqual(self.control(hwnd, PROGRESS)["pos"], 100)
        log = self.install_log()
        self.assertEqual((log["silent"], log["run"], log["exit_code"]), ("1", "1", "0"))
        self.assertTrue(log["command_line"].endswith(r" /S /RUN /D=C:\Program Files" + "\\" + SUB_DIR),
                        log["command_line"])
        self.assertTrue(log["command_line"].startswith('"'), "the package path is quoted")
        self.assertEqual([r["type"] for r in stats_requests(server)], ["1", "2", "0"])
        # Every block came from one of the three mirrors, spread over them.
        self.assertEqual(sum(1 for m in mirrors if m.requests()), 3)

        # The setup ran in the package's folder, not in the installer's.
        self.assertEqual(log["cwd"].lower(), self.windows_package_folder().lower())

        self.driver.press(hwnd, START_NOW, wait_ms=200)
        self.assertEqual(process.wait(30), 0)
        self.wait_until(self.main_started, timeout=30, message="Main.exe started by 立即启动")
        # Main.exe ran in its installation folder.
        with open(os.path.join(self.install_root, "cwd.log"), encoding="utf-8") as f:
            self.assertEqual(f.read().splitlines(), [r"C:\Program Files" + "\\" + SUB_DIR])

    def test_package_folder_is_private_and_a_package_of_another_account_is_replaced(self):
        # A machine where the installer never ran: it makes its folders itself.
        shutil.rmtree(os.path.dirname(os.path.dirname(package_folder(self.wine.prefix))), ignore_errors=True)
        server, process, hwnd = self.start_installer([self.mirror()])
        self.wait_download()
        # The folder's security descriptor as the platform reads it back: owned by the user,
        # and no entry for anyone but the user, SYSTEM and Administrators (no Everyone, no Users).
        probe = win64_exe(os.path.join("tests", "programs", "security_probe", "security_probe.exe"))
        result = self.wine.run(probe, "sddl", self.windows_package_folder(), timeout=60)
        self.assertEqual(result.returncode, 0, result.stdout)
        sddl, user = result.stdout.split("\n")[:2]
        user = user.strip()
        self.assertTrue(user.startswith("S-1-5-"), result.stdout)
        self.assertTrue(sddl.startswith(f"O:{user}D:"), sddl)
        trustees = re.findall(r"\(A;[^;]*;[^;]*;;;([^)]*)\)", sddl)
        self.assertIn(user, trustees, sddl)
        self.assertFalse(set(trustees) - {user, "SY", "BA"}, sddl)
        # Wine keeps it as the folder's Unix mode: nobody but the owner may write.
        self.assertEqual(os.stat(package_folder(self.wine.prefix)).st_mode & 0o022, 0)
        self.driver.press(hwnd, CLOSE, wait_ms=200)
        self.assertEqual(process.wait(30), 0)
        server.cleanup()

        # Another account puts a package file there first: the published setup itself, so
        # that adopting it would skip the download and later run a file he can still change.
        # (Wine names a file of another Unix account's as owned by that account.)
        with open(self.package_file(), "wb") as f:
            f.write(self.setup)
        os.chown(self.package_file(), 65534, 65534)
        mirror = self.mirror()
        _, process, hwnd = self.start_installer([mirror])
        self.wait_download()
        self.assertEqual(blocks_requested(mirror.entries()), set(range(len(block_table(self.setup)))),
                         "the planted file was not adopted: every block was fetched")
        self.assertEqual(os.stat(self.package_file()).st_uid, os.getuid())
        self.driver.press(hwnd, CLOSE, wait_ms=200)
        self.assertEqual(process.wait(30), 0)

    def test_install_pressed_while_the_download_runs(self):
        slow = self.mirror(limit_rate="150k")
        server, process, hwnd = self.start_installer([slow])
        self.driver.press(hwnd, INSTALL_NOW, wait_ms=200)
        # The Install stage shows the download's progress, scaled to 85.
        self.wait_control(hwnd, PROGRESS, visible=True, timeout=20)
        self.wait_until(lambda: 0 < (self.control(hwnd, PROGRESS)["pos"] or 0) <= 85, timeout=60,
                        message="download progress on the bar")
        self.assertFalse(self.control(hwnd, CLOSE)["enabled"], "no exit during the Install stage")
        before = self.control(hwnd, PROGRESS)["pos"]
        path = self.shot(hwnd, "install.png")
        after = self.control(hwnd, PROGRESS)["pos"]
        self.assert_stage_look(path, hwnd, "install", [f"Install{i}.jpg" for i in range(3)])
        share = filled_share(path, self.driver.window(hwnd))
        self.assertTrue(before / 100 - 0.03 <= share <= after / 100 + 0.03,
                        f"bar filled {share:.2f} while its position went from {before} to {after}")
        self.wait_control(hwnd, START_NOW, visible=True, timeout=150)
        self.assertTrue(self.control(hwnd, CLOSE)["enabled"])
        self.assertEqual([r["type"] for r in stats_requests(server)], ["1", "2", "0"])
        # Closing with 立即运行 checked starts the program.
        self.driver.press(hwnd, CLOSE, wait_ms=200)
        self.assertEqual(process.wait(30), 0)
        self.wait_until(self.main_started, timeout=30, message="Main.exe started by the close button")

    def test_reports_to_a_slow_statistics_server_are_not_cut(self):
        # Each report is answered after 7 s: longer than the window waits for one (5 s), so
        # the last report is still on its way when the user presses 立即启动 at once.
        slow = SlowStatisticsServer(delay=7)
        self.addCleanup(slow.close)
        mirrors = [self.mirror()]
        server, process, hwnd = self.start_installer(mirrors, stats_directives=slow.directives())
        self.wait_download(timeout=90)
        self.driver.press(hwnd, INSTALL_NOW)
        self.wait_control(hwnd, START_NOW, visible=True, timeout=120)

        self.driver.press(hwnd, START_NOW, wait_ms=200)
        self.assertEqual(process.wait(30), 0)
        self.wait_until(self.main_started, timeout=30, message="Main.exe started by 立即启动")
        # nginx logs a request when it ends: 200 when the installer waited for the answer,
        # 499 when the installer gave up or ended first.
        self.wait_until(lambda: len(stats_requests(server)) >= 3, timeout=30, message="three reports logged")
        reports = {r["type"]: e["status"] for r, e in zip(stats_requests(server), self.stats_entries(server))}
        self.assertEqual(reports, {"1": 200, "2": 200, "0": 200})

    # The Welcome page's options.

    def test_unchecked_boxes_change_the_arguments_and_start_nothing_on_close(self):
        mirrors = [self.mirror()]
        _, process, hwnd = self.start_installer(mirrors)
        self.driver.press(hwnd, RUN_NOW)
        self.driver.press(hwnd, BOOT)
        self.assertEqual(self.control(hwnd, RUN_NOW)["check"], 0)
        self.wait_download()
        self.driver.press(hwnd, INSTALL_NOW, wait_ms=200)
        self.wait_control(hwnd, START_NOW, visible=True)
        log = self.install_log()
        self.assertEqual(log["run"], "0")
        self.assertTrue(log["command_line"].endswith(r" /S  /D=C:\Program Files" + "\\" + SUB_DIR),
                        log["command_line"])
        self.driver.press(hwnd, CLOSE, wait_ms=200)
        self.assertEqual(process.wait(30), 0)
        time.sleep(2)
        self.assertFalse(self.main_started())

    def test_only_a_click_runs_a_command(self):
        slow = self.mirror(limit_rate="150k")
        _, _, hwnd = self.start_installer([slow])
        install = self.control(hwnd, INSTALL_NOW)["hwnd"]
        for code in (BN_DOUBLECLICKED, BN_SETFOCUS, BN_KILLFOCUS):
            self.driver.message(hwnd, WM_COMMAND, wparam=(code << 16) | INSTALL_NOW, lparam=install)
        self.assertFalse(self.control(hwnd, PROGRESS)["visible"], "still on the Welcome page")
        self.driver.message(hwnd, WM_COMMAND, wparam=INSTALL_NOW, lparam=install)  # BN_CLICKED
        self.wait_control(hwnd, PROGRESS, visible=True, timeout=20)

    def test_window_list_holds_the_controls_in_tab_order(self):
        _, _, hwnd = self.start_installer([self.mirror()])
        # Skinning raises the image buttons; the window puts every stop back in reading
        # order afterwards, since the order of the window list is the order Tab follows.
        order = [c["id"] for c in self.driver.window(hwnd)["children"][:10]]
        self.assertEqual(order, [ACCEPT, 1020, 1014, 1015, BOOT, RUN_NOW, INSTALL_NOW, START_NOW, MINIMIZE, CLOSE])

    def test_licence_box_disables_and_enables_install(self):
        _, _, hwnd = self.start_installer([self.mirror()])
        self.assertTrue(self.control(hwnd, INSTALL_NOW)["enabled"])
        self.driver.press(hwnd, ACCEPT)
        self.assertFalse(self.control(hwnd, INSTALL_NOW)["enabled"])
        self.driver.press(hwnd, ACCEPT)
        self.assertTrue(self.control(hwnd, INSTALL_NOW)["enabled"])

    # Failures end in a clear message and a window that can be closed.

    def test_failing_setup_shows_a_message_and_starts_nothing(self):
        mirrors = [self.mirror()]
        server, process, hwnd = self.start_installer(mirrors, env={"DEMO_SETUP_EXIT_CODE": "5"})
        self.wait_download()
        self.driver.press(hwnd, INSTALL_NOW, wait_ms=200)
        box = self.driver.msgbox(exe=EXE, timeout=60)
        self.assertEqual(box["text"], "安装程序运行失败（错误码 5），请重试。")
        self.driver.msgbox_press("OK", exe=EXE)
        self.assertFalse(self.control(hwnd, START_NOW)["visible"])
        self.assertTrue(self.control(hwnd, CLOSE)["enabled"])
        # No report of a finished installation; one failure report (type 3, sent without
        # waiting) with the setup's exit code as its reason.
        reports = self.wait_until(lambda: [r for r in stats_requests(server) if r["type"] == "3"] and
                                  stats_requests(server), timeout=30, message="the failure report")
        self.assertEqual([r["type"] for r in reports], ["1", "2", "3"])
        self.assertEqual((reports[2]["reason"], reports[2].get("code")), ("setup-exit-code", "5"))
        self.driver.press(hwnd, CLOSE, wait_ms=200)
        self.assertEqual(process.wait(30), 0)
        self.assertFalse(self.main_started())

    def test_download_that_cannot_complete_tells_the_user_and_lets_them_close(self):
        broken = Nginx(files={}).start()  # every block request gets 404
        self.addCleanup(broken.cleanup)
        _, process, hwnd = self.start_installer([broken])
        try:
            self.driver.press(hwnd, INSTALL_NOW, wait_ms=200)
        except DriverNotFound:
            pass  # the refusal came first (a 404 ends the download at once): its message is up
        box = self.driver.msgbox(exe=EXE, timeout=90)
        # A mirror that answers 404 does not offer the package: said so, not blamed on the network.
        self.assertEqual(box["text"], "下载服务器暂时不提供该安装包，请稍后重试或联系软件发布者。")
        self.driver.msgbox_press("OK", exe=EXE)
        self.wait_control(hwnd, CLOSE, enabled=True, timeout=10)
        self.driver.press(hwnd, CLOSE, wait_ms=200)
        self.assertEqual(process.wait(30), 0)
        self.assertFalse(self.installed(), "no setup ran")


if __name__ == "__main__":
    unittest.main()
