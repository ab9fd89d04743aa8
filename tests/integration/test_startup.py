"""Start-up of the real installer under Wine: identity, single instance, the package
description download and its failures, up to the window."""
import os
import stat
import unittest

from harness.driver import Driver, WINDOW_WAIT
from harness.installer import Sandbox, config_server, simple_description, stats_requests
from harness.wine_test_case import WineTestCase

ARTIFACTS = os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))),
                         "artifacts", "startup")
EXE = "online_installer.exe"
NO_FILES = "下载配置文件失败 ，请重试！！"
TOO_LONG = "配置文件超过 1 MB，不是有效的安装包描述，请联系软件发布者。"


class StartupTest(WineTestCase):
    def setUp(self):
        self.sandbox = Sandbox()
        self.driver = Driver(self.wine)
        self.processes = []

    def tearDown(self):
        for p in self.processes:
            p.kill()
        self.sandbox.cleanup()

    def start(self, *args):
        p = self.wine.start(self.sandbox.exe, *args, timeout=90)
        self.processes.append(p)
        return p

    def test_good_description_opens_the_window(self):
        with config_server(simple_description(title="演示软件")) as server:
            p = self.start("setup_1001_9876543210")
            window = self.driver.wait(title="演示软件", exe=EXE, timeout=WINDOW_WAIT)
            os.makedirs(ARTIFACTS, exist_ok=True)
            shot = self.driver.screenshot(window["hwnd"], os.path.join(ARTIFACTS, "welcome.png"), settle=1.0)
            left, top, right, bottom = shot["rect"]
            self.assertGreater(right - left, 300)
            requests = server.requests()
            self.assertTrue(any(r.startswith("GET /oemini/info.ini?id=") for r in requests), requests)
            reports = stats_requests(server)
            self.assertEqual([(r["type"], r["partnerid"], r["partnersubid"]) for r in reports],
                             [("1", "1001", "9876543210")])
            self.assertTrue(p.running())
        with open(self.sandbox.path("info.ini"), "rb") as f:
            self.assertEqual(f.read(), simple_description(title="演示软件"))

    def test_window_drags_by_its_top_band_minimises_and_hides(self):
        with config_server(simple_description(title="窗口")):
            self.start()
            window = self.driver.wait(title="窗口", exe=EXE, timeout=WINDOW_WAIT)
            hwnd = window["hwnd"]
            left, top, right, _ = window["rect"]
            band_bottom = next(c for c in window["children"] if c["id"] == 1023)["rect"][3]

            def hit(x, y):
                lparam = (y & 0xFFFF) << 16 | (x & 0xFFFF)
                return self.driver.message(hwnd, 0x0084, lparam=lparam)["result"]  # WM_NCHITTEST

            middle = (left + right) // 2
            self.assertEqual(hit(middle, band_bottom + 9), 2, "HTCAPTION just above the band's end")
            self.assertEqual(hit(middle, band_bottom + 10), 1, "HTCLIENT from 10 px below control 1023")
            self.driver.press(hwnd, 1022)  # the minimise button
            self.wait_until(lambda: self.driver.window(hwnd)["iconic"], timeout=10, message="minimised")
            self.driver.message(hwnd, 0x0112, wparam=0xF120)  # SC_RESTORE
            self.wait_until(lambda: not self.driver.window(hwnd)["iconic"], timeout=10, message="restored")
            self.driver.message(hwnd, 0x0112, wparam=0xF020)  # a system minimise request hides
            self.wait_until(lambda: not self.driver.window(hwnd)["visible"], timeout=10, message="hidden")

    def test_no_files_in_description_shows_its_message_and_ends(self):
        with config_server(b"[Info]\r\nFileCount=0\r\n"):
            p = self.start()
            box = self.driver.msgbox(exe=EXE, timeout=30)
            self.assertEqual(box["text"], NO_FILES)
            self.driver.msgbox_press("OK", exe=EXE)
            self.assertEqual(p.wait(20), 0)

    def test_unreachable_server_shows_its_message(self):
        # No server at the configuration address: the connection is refused.
        p = self.start()
        box = self.driver.msgbox(exe=EXE, timeout=40)
        self.assertIn(box["text"], ("网络故障！程序将关闭，请稍候继续安装。", "网络连接超时，请检查网络连接！"))
        self.driver.msgbox_press("OK", exe=EXE)
        # The empty description then fails its check as well.
        box = self.driver.msgbox(exe=EXE, timeout=20)
        self.assertEqual(box["text"], NO_FILES)
        self.driver.msgbox_press("OK", exe=EXE)
        self.assertEqual(p.wait(20), 0)

    def test_second_instance_of_a_mode_ends_at_once_and_home_mode_runs_beside(self):
        with config_server(simple_description(title="第一个"), simple_description(title="主页版")) as server:
            self.start("setup_1_2")
            self.driver.wait(title="第一个", exe=EXE, timeout=WINDOW_WAIT)
            second = self.start("setup_3_4")
            self.assertEqual(second.wait(30), 0, "the second installer of the mode must end by itself")
            self.assertTrue(self.driver.no_msgbox(exe=EXE, within=1.0), self.driver.list(exe=EXE))
            home = self.start("x_5_7_homepg")
            self.driver.wait(title="主页版", exe=EXE, timeout=WINDOW_WAIT)
            self.assertTrue(home.running())
            requests = server.requests()
            self.assertEqual(sum(r.startswith("GET /oemini/info.ini") for r in requests), 1, requests)
            self.assertEqual(sum(r.startswith("GET /oemini/home.ini") for r in requests), 1, requests)
            # Home mode sends no statistics; the refused second instance sends none either.
            self.assertEqual([r["partnerid"] for r in stats_requests(server)], ["1"])
        self.assertTrue(os.path.exists(self.sandbox.path("home.ini")))

    def test_read_only_description_is_replaced(self):
        with open(self.sandbox.path("info.ini"), "wb") as f:
            f.write(b"[Info]\r\nFileCount=0\r\n")
        os.chmod(self.sandbox.path("info.ini"), stat.S_IRUSR)
        with config_server(simple_description(title="替换")):
            self.start()
            self.driver.wait(title="替换", exe=EXE, timeout=WINDOW_WAIT)
        with open(self.sandbox.path("info.ini"), "rb") as f:
            self.assertEqual(f.read(), simple_description(title="替换"))

    def test_the_whole_description_is_stored_and_read(self):
        # The title stands beyond the first 10,240 bytes: an installer that cut the reply
        # there would show an empty title.
        bom = "\ufeff".encode("utf-8")
        padding = b"; " + b"x" * 200 + b"\r\n"
        body = bom + b"[Notes]\r\n" + padding * 60 + simple_description(title="很长")[len(bom):]
        self.assertGreater(body.index("很长".encode("utf-8")), 10240)
        with config_server(body):
            self.start()
            self.driver.wait(title="很长", exe=EXE, timeout=WINDOW_WAIT)
        with open(self.sandbox.path("info.ini"), "rb") as f:
            self.assertEqual(f.read(), body)

    def test_description_over_one_mebibyte_is_refused_and_nothing_is_stored(self):
        with open(self.sandbox.path("info.ini"), "wb") as f:
            f.write(simple_description(title="旧的"))
        padding = b"; " + b"x" * 1000 + b"\r\n"
        body = simple_description(title="太长") + padding * 1500  # about 1.5 MiB
        with config_server(body):
            p = self.start()
            box = self.driver.msgbox(exe=EXE, timeout=60)
            self.assertEqual(box["text"], TOO_LONG)
            self.driver.msgbox_press("OK", exe=EXE)
            self.assertEqual(p.wait(20), 0)
            self.assertEqual(self.driver.list(exe=EXE, title="太长"), [], "no window for a refused description")
        with open(self.sandbox.path("info.ini"), "rb") as f:
            self.assertEqual(f.read(), b"", "nothing of the refused reply is stored")

if __name__ == "__main__":
    unittest.main()
