"""A whole installation through the real window under Wine: the demo setup package on
nginx mirrors, the test driver pressing the buttons, and the files the demo setup and
its Main.exe leave behind as the record of what ran."""
import os
import shutil
import time
import unittest

from tests.harness.driver import Driver, child
from tests.harness.installer import (Sandbox, block_table, blocks_requested, config_server, remove_old_packages,
                                     simple_description, stats_requests)
from tests.harness.nginx import Nginx
from tests.harness.wine import WineTestCase, win64_exe

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
ARTIFACTS = os.path.join(ROOT, "artifacts", "install_flow")
EXE = "online_installer.exe"
TITLE = "演示软件"
SUB_DIR = "DemoSoft"
INSTALL_NOW, ACCEPT, BOOT, RUN_NOW, CLOSE, START_NOW, PROGRESS = 1011, 1013, 1016, 1017, 1021, 1024, 1000


def demo_setup():
    with open(win64_exe(os.path.join("tools", "demo_package", "demo_setup.exe")), "rb") as f:
        return f.read()


class InstallFlowTest(WineTestCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.setup = demo_setup()
        cls.install_root = os.path.join(cls.wine.prefix, "drive_c", "Program Files", SUB_DIR)
        os.makedirs(ARTIFACTS, exist_ok=True)

    def setUp(self):
        shutil.rmtree(self.install_root, ignore_errors=True)
        remove_old_packages(self.wine.prefix)
        self.sandbox = Sandbox()
        self.addCleanup(self.sandbox.cleanup)
        self.driver = Driver(self.wine)

    # Helpers.

    def mirror(self, **options):
        server = Nginx(files={"DemoSoft.exe": self.setup}, **options).start()
        self.addCleanup(server.cleanup)
        return server

    def start_installer(self, mirrors, env=None, payload=None):
        payload = payload if payload is not None else self.setup
        description = simple_description(title=TITLE, file_dir=SUB_DIR, blocks=block_table(payload),
                                         urls=[m.url("/DemoSoft.exe") for m in mirrors])
        server = config_server(description).start()
        self.addCleanup(server.cleanup)
        environment = {"DEMO_SETUP_SECONDS": "1", "DEMO_MAIN_NO_WINDOW": "1"}
        environment.update(env or {})
        process = self.wine.start(self.sandbox.exe, "setup_1001_77", timeout=240, env=environment)
        self.addCleanup(process.kill)
        window = self.driver.wait(title=TITLE, exe=EXE, timeout=40)
        return server, process, window["hwnd"]

    def control(self, hwnd, control_id):
        return child(self.driver.window(hwnd), control_id)

    def wait_control(self, hwnd, control_id, timeout=120, **expected):
        def matches():
            c = self.control(hwnd, control_id)
            return c is not None and all(c.get(k) == v for k, v in expected.items())
        self.wait_until(matches, timeout=timeout, message=f"control {control_id} with {expected}")

    def wait_download(self, mirrors, timeout=60):
        blocks = set(range(len(block_table(self.setup))))
        self.wait_until(lambda: set().union(*(blocks_requested(m.entries()) for m in mirrors)) >= blocks,
                        timeout=timeout, message="every block requested")
        time.sleep(1.5)  # the last block is verified and written

    def install_log(self):
        with open(os.path.join(self.install_root, "install.log"), encoding="utf-8") as f:
            return dict(line.split("=", 1) for line in f.read().splitlines() if "=" in line)

    def main_started(self):
        return os.path.exists(os.path.join(self.install_root, "started.log"))

    def shot(self, hwnd, name):
        self.driver.screenshot(hwnd, os.path.join(ARTIFACTS, name), settle=0.8)

    # The two orders of a complete installation.

    def test_download_completes_before_install_is_pressed(self):
        mirrors = [self.mirror() for _ in range(3)]
        server, process, hwnd = self.start_installer(mirrors)
        self.wait_download(mirrors)
        self.shot(hwnd, "welcome.png")
        self.driver.press(hwnd, INSTALL_NOW, wait_ms=200)
        self.wait_control(hwnd, START_NOW, visible=True)
        self.shot(hwnd, "finish.png")
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

        self.driver.press(hwnd, START_NOW, wait_ms=200)
        self.assertEqual(process.wait(30), 0)
        self.wait_until(self.main_started, timeout=30, message="Main.exe started by 立即启动")

    def test_install_pressed_while_the_download_runs(self):
        slow = self.mirror(limit_rate="150k")
        server, process, hwnd = self.start_installer([slow])
        self.driver.press(hwnd, INSTALL_NOW, wait_ms=200)
        # The Install stage shows the download's progress, scaled to 85.
        self.wait_control(hwnd, PROGRESS, visible=True, timeout=20)
        self.wait_until(lambda: 0 < (self.control(hwnd, PROGRESS)["pos"] or 0) <= 85, timeout=60,
                        message="download progress on the bar")
        self.assertFalse(self.control(hwnd, CLOSE)["enabled"], "no exit during the Install stage")
        self.shot(hwnd, "install.png")
        self.wait_control(hwnd, START_NOW, visible=True, timeout=150)
        self.assertTrue(self.control(hwnd, CLOSE)["enabled"])
        self.assertEqual([r["type"] for r in stats_requests(server)], ["1", "2", "0"])
        # Closing with 立即运行 checked starts the program.
        self.driver.press(hwnd, CLOSE, wait_ms=200)
        self.assertEqual(process.wait(30), 0)
        self.wait_until(self.main_started, timeout=30, message="Main.exe started by the close button")

    # The Welcome page's options.

    def test_unchecked_boxes_change_the_arguments_and_start_nothing_on_close(self):
        mirrors = [self.mirror()]
        _, process, hwnd = self.start_installer(mirrors)
        self.driver.press(hwnd, RUN_NOW)
        self.driver.press(hwnd, BOOT)
        self.assertEqual(self.control(hwnd, RUN_NOW)["check"], 0)
        self.wait_download(mirrors)
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
        self.wait_download(mirrors)
        self.driver.press(hwnd, INSTALL_NOW, wait_ms=200)
        box = self.driver.msgbox(exe=EXE, timeout=60)
        self.assertEqual(box["text"], "安装程序运行失败（错误码 5），请重试。")
        self.driver.msgbox_press("OK", exe=EXE)
        self.assertFalse(self.control(hwnd, START_NOW)["visible"])
        self.assertTrue(self.control(hwnd, CLOSE)["enabled"])
        self.assertEqual([r["type"] for r in stats_requests(server)], ["1", "2"])
        self.driver.press(hwnd, CLOSE, wait_ms=200)
        self.assertEqual(process.wait(30), 0)
        self.assertFalse(self.main_started())

    def test_download_that_cannot_complete_tells_the_user_and_lets_them_close(self):
        broken = Nginx(files={}).start()  # every block request gets 404
        self.addCleanup(broken.cleanup)
        _, process, hwnd = self.start_installer([broken])
        self.driver.press(hwnd, INSTALL_NOW, wait_ms=200)
        box = self.driver.msgbox(exe=EXE, timeout=90)
        self.assertEqual(box["text"], "下载安装包失败，请检查网络后重试。")
        self.driver.msgbox_press("OK", exe=EXE)
        self.wait_control(hwnd, CLOSE, enabled=True, timeout=10)
        self.driver.press(hwnd, CLOSE, wait_ms=200)
        self.assertEqual(process.wait(30), 0)
        self.assertFalse(os.path.exists(os.path.join(self.install_root, "install.log")), "no setup ran")


if __name__ == "__main__":
    unittest.main()
