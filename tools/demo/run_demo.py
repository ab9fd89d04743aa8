#!/usr/bin/env python3
"""The installer's whole job, end to end, on this machine: the demo setup package is
published on three local nginx mirrors with the publisher tool, its description is
served by the configuration server (which also takes the statistics), and the real
installer runs under Wine. On a display it waits for you to click through it; without
one it runs on Xvfb and the test driver presses the buttons. Screenshots of the three
stages go to artifacts/demo/. At the end, stats_report counts the statistics server's
access log of the run, as a publisher would.
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

from harness.driver import Driver, child
from harness.installer import PRODUCT, Sandbox, config_server, remove_old_packages, stats_requests
from harness.nginx import Nginx
from harness.builds import win64_exe
from harness.wine import WineSession

ARTIFACTS = os.path.join(ROOT, "artifacts", "demo")
PUBLISH_TOOL = os.path.join(ROOT, "build", "host-release", "tools", "publish", "publish_tool")
STATS_REPORT = os.path.join(ROOT, "build", "host-release", "tools", "stats_report", "stats_report")
SETUP_EXE = os.path.join("tests", "programs", "demo_package", "demo_setup.exe")
EXE = "online_installer.exe"
TITLE = "演示软件"
SUB_DIR = "DemoSoft"
PROGRESS = 1000
STAGE_SHOTS = ("1-welcome.png", "2-install.png", "3-finish.png")
# Each mirror connection is held to this rate, so that the download lasts several seconds
# and the Install stage can be seen (and pictured) while its bar moves: the engine opens up to
# four connections per mirror, and the download runs from start-up on, while the Welcome
# page is read.
MIRROR_RATE = "10k"


def say(text):
    print(f"[demo] {text}", flush=True)


def publish(setup, mirrors, ini_path, key):
    """Writes the description of `setup` and, with a private key, signs it; returns the
    description and its signature (None when unsigned)."""
    cmd = [PUBLISH_TOOL, "write", "--file", setup, "--ini", ini_path, "--section", "File0", "--title", TITLE,
           "--doc-url", "http://127.0.0.1/licence.html", "--dir", SUB_DIR]
    for m in mirrors:
        cmd += ["--url", m.url("/DemoSoft.exe")]
    subprocess.run(cmd, check=True)
    signature = None
    if key:
        # A signed description names the product and mode it is for (the demo's build keeps the
        # default product name) and carries a serial and an expiry, which `sign` stamps.
        subprocess.run([PUBLISH_TOOL, "sign", "--ini", ini_path, "--key", key, "--product", PRODUCT, "--mode", "info"],
                       check=True)
        with open(ini_path + ".sig", "rb") as f:
            signature = f.read()
    with open(ini_path, "rb") as f:
        return f.read(), signature


def wait_visible(driver, hwnd, control_id, timeout):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        c = child(driver.window(hwnd), control_id)
        if c and c["visible"]:
            return
        time.sleep(0.3)
    raise TimeoutError(f"control {control_id} did not show within {timeout} s")


def wait_download_progress(driver, hwnd, timeout):
    """Waits until the Install stage's bar shows the download under way (1 to 84)."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        bar = child(driver.window(hwnd), PROGRESS)
        if bar and bar["visible"] and 0 < (bar.get("pos") or 0) < 85:
            return
        time.sleep(0.1)
    raise TimeoutError(f"the download's progress did not show within {timeout} s")


def stages_differ():
    """True when the three screenshots are three different pictures."""
    from PIL import Image, ImageChops
    shots = [Image.open(os.path.join(ARTIFACTS, name)).convert("RGB") for name in STAGE_SHOTS]
    return all(a.size != b.size or ImageChops.difference(a, b).getbbox() is not None
               for i, a in enumerate(shots) for b in shots[i + 1:])


def drive(driver, install_dir_host):
    window = driver.wait(title=TITLE, exe=EXE, timeout=60)
    hwnd = window["hwnd"]
    time.sleep(1.5)
    driver.screenshot(hwnd, os.path.join(ARTIFACTS, "1-welcome.png"))
    say("Welcome page shown; pressing 立即安装")
    driver.press(hwnd, 1011)
    wait_download_progress(driver, hwnd, timeout=30)
    driver.screenshot(hwnd, os.path.join(ARTIFACTS, "2-install.png"), settle=0.2)
    say("Install stage shown; waiting for the download and the setup")
    wait_visible(driver, hwnd, 1024, timeout=180)
    time.sleep(0.5)
    driver.screenshot(hwnd, os.path.join(ARTIFACTS, "3-finish.png"))
    say("Finish stage shown; pressing 立即启动")
    driver.press(hwnd, 1024, wait_ms=500)


def print_install_report(log_path):
    """The publisher's count of this run's statistics log, and the same as a page beside the
    screenshots."""
    page = os.path.join(ARTIFACTS, "install-report.html")
    result = subprocess.run([STATS_REPORT, "--html", page, log_path], capture_output=True, text=True)
    say("install report of this run (stats_report on the statistics server's access log):")
    for line in (result.stdout + result.stderr).splitlines():
        print(f"    {line}", flush=True)
    if result.returncode == 0:
        say(f"the report as a page: {page}")


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--headless", action="store_true", help="use Xvfb and the driver even on a display")
    parser.add_argument("--signed-build", help="a win64 build with the demo publisher's key built in")
    parser.add_argument("--key", help="the demo publisher's private key, to sign the description")
    args = parser.parse_args()
    on_display = bool(os.environ.get("DISPLAY")) and not args.headless
    os.makedirs(ARTIFACTS, exist_ok=True)

    setup = win64_exe(SETUP_EXE)
    mirrors = [Nginx(files={"DemoSoft.exe": open(setup, "rb").read()}, limit_rate=MIRROR_RATE).start()
               for _ in range(3)]
    work = tempfile.mkdtemp(prefix="demo-")
    sandbox = Sandbox()
    if args.signed_build:
        shutil.copy2(os.path.join(args.signed_build, "src", "app", EXE), sandbox.exe)
    session = WineSession(with_display=not on_display)
    try:
        description, signature = publish(setup, mirrors, os.path.join(work, "info.ini"), args.key)
        say(f"published {os.path.getsize(setup)} bytes on {', '.join(m.url('/') for m in mirrors)}")
        if signature is not None:
            say(f"signed the description ({len(signature)}-byte signature beside it as info.ini.sig)")
        extra = {"oemini/info.ini.sig": signature} if signature is not None else None
        with config_server(description, extra_files=extra, combined_log=True) as server:
            session.open()
            env = {"DISPLAY": os.environ["DISPLAY"]} if on_display else None
            install_root = os.path.join(session.prefix, "drive_c", "Program Files", SUB_DIR)
            shutil.rmtree(install_root, ignore_errors=True)
            # A whole package an earlier demo left would be kept, and the download over at once.
            remove_old_packages(session.prefix)
            installer = session.start(sandbox.exe, "demo_1001_77", timeout=900, env=env)
            if on_display:
                say("the installer is on your display: click through it (立即安装, then 立即启动)")
                installer.wait(900)
            else:
                drive(Driver(session), install_root)
                installer.wait(60)
            started_log = os.path.join(install_root, "started.log")
            deadline = time.monotonic() + 30
            while not os.path.exists(started_log) and time.monotonic() < deadline:
                time.sleep(0.5)
            reports = [r["type"] for r in stats_requests(server)]
            say(f"statistics reports received (types): {', '.join(reports) or 'none'}")
            say(f"mirror requests: {[len(m.requests()) for m in mirrors]}")
            stats_log = os.path.join(work, "stats.log")
            shutil.copy2(server.combined_log_path, stats_log)
            status = 0
            if os.path.exists(started_log):
                say(f"Main.exe was started from {install_root}")
            else:
                say("Main.exe was not started")
                status = 1
        if not on_display:
            say(f"screenshots: {ARTIFACTS}/1-welcome.png, 2-install.png, 3-finish.png")
            if not stages_differ():
                say("two of the stage screenshots are the same picture")
                status = 1
        # The demo ends with what the publisher sees of it.
        print_install_report(stats_log)
        return status
    finally:
        session.close()
        for m in mirrors:
            m.cleanup()
        sandbox.cleanup()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
