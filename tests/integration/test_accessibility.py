"""What a screen reader learns of the installer window under Wine: the test driver reads
every control through Active Accessibility (AccessibleObjectFromWindow, get_accName,
get_accRole) from its own process, as a screen reader does. The image buttons show no
window text, yet each has its name."""
import unittest

from harness.installer import InstallerTestCase, Sandbox, block_table, config_server, simple_description
from harness.gated_mirror import GatedMirror

EXE = "online_installer.exe"
TITLE = "演示软件"
ROLE_LINK, ROLE_DIALOG, ROLE_STATICTEXT, ROLE_PUSHBUTTON, ROLE_CHECKBUTTON = 0x1E, 0x12, 0x29, 0x2B, 0x2C
STATE_UNAVAILABLE, STATE_FOCUSED, STATE_CHECKED, STATE_INVISIBLE = 0x1, 0x4, 0x10, 0x8000
INSTALL_NOW, START_NOW, CLOSE, MINIMIZE, BROWSE = 1011, 1024, 1021, 1022, 1015
ACCEPT, BOOT, RUN_NOW, LINK, PROGRESS_TEXT, PROGRESS_CAPTION = 1013, 1016, 1017, 1020, 1007, 1018

# Control, its name and its role: what the window offers a user who cannot see it.
EXPECTED = [
    (INSTALL_NOW, "立即安装", ROLE_PUSHBUTTON),
    (CLOSE, "关闭", ROLE_PUSHBUTTON),
    (MINIMIZE, "最小化", ROLE_PUSHBUTTON),
    (BROWSE, "浏览", ROLE_PUSHBUTTON),
    (START_NOW, "立即启动", ROLE_PUSHBUTTON),
    (ACCEPT, "我已阅读并接受", ROLE_CHECKBUTTON),
    (BOOT, "开机启动", ROLE_CHECKBUTTON),
    (RUN_NOW, "立即运行", ROLE_CHECKBUTTON),
    (LINK, TITLE + "服务条款", ROLE_LINK),
    (PROGRESS_CAPTION, "安装进度：", ROLE_STATICTEXT),
]


class ScreenReaderTest(InstallerTestCase):
    def start_installer(self):
        sandbox = Sandbox()
        self.addCleanup(sandbox.cleanup)
        # The demo setup from a mirror that holds its last block until the test has read
        # the Install stage.
        mirror = self.mirror = GatedMirror(self.setup)
        self.addCleanup(mirror.close)
        description = simple_description(title=TITLE, blocks=block_table(self.setup),
                                         urls=[mirror.url("/DemoSoft.exe")])
        server = config_server(description).start()
        self.addCleanup(server.cleanup)
        process = self.wine.start(sandbox.exe, "setup_1001_77", timeout=240,
                                  env={"DEMO_SETUP_SECONDS": "2", "DEMO_MAIN_NO_WINDOW": "1"})
        self.addCleanup(process.kill)
        return process, self.driver.wait(title=TITLE, exe=EXE, timeout=60)["hwnd"]

    def test_every_control_has_its_name_and_role(self):
        process, hwnd = self.start_installer()
        window = self.driver.window(hwnd)
        texts = {c["id"]: c["text"] for c in window["children"]}
        # The image buttons' window texts are cleared: the names come from elsewhere.
        for control_id in (INSTALL_NOW, START_NOW, CLOSE, MINIMIZE):
            self.assertEqual(texts[control_id], "", control_id)
        seen = {}
        for control_id, name, role in EXPECTED:
            found = self.driver.accessible(hwnd, control_id)
            seen[control_id] = found
            self.assertEqual((found["name"], found["role"]), (name, role), f"control {control_id}: {found}")
        self.assertTrue(seen[ACCEPT]["state"] & STATE_CHECKED)
        self.assertTrue(seen[START_NOW]["state"] & STATE_INVISIBLE, "立即启动 is hidden until Finish")
        self.assertTrue(seen[ACCEPT]["state"] & STATE_FOCUSED, "the first stop has the focus")
        # The window tells its title and the stage it is in.
        dialog = self.driver.accessible(hwnd)
        self.assertEqual((dialog["name"], dialog["role"], dialog["value"]), (TITLE, ROLE_DIALOG, "欢迎"))

        # State follows the window: an unticked box and the disabled 立即安装 read so.
        self.driver.press(hwnd, ACCEPT)
        self.wait_until(lambda: not self.driver.accessible(hwnd, ACCEPT)["state"] & STATE_CHECKED,
                        message="the licence box read as unticked")
        self.assertTrue(self.driver.accessible(hwnd, INSTALL_NOW)["state"] & STATE_UNAVAILABLE)
        self.driver.press(hwnd, ACCEPT)
        self.wait_control(hwnd, INSTALL_NOW, enabled=True, timeout=30)

        # The stage and the progress as they change.
        self.driver.press(hwnd, INSTALL_NOW)
        self.wait_until(lambda: self.driver.accessible(hwnd)["value"] == "安装", timeout=60,
                        message="the Install stage read")
        # The last block completes the download: the progress text moves on and is read as
        # it is shown, although the label's window text stays as the template made it.
        self.mirror.release()
        self.wait_until(lambda: self.driver.accessible(hwnd, PROGRESS_TEXT)["name"].startswith("已完成 "),
                        timeout=60, message="the progress text read")
        self.assertRegex(self.driver.accessible(hwnd, PROGRESS_TEXT)["name"], r"^已完成 \d+ %$")
        self.assertEqual(self.control(hwnd, PROGRESS_TEXT)["text"], "")
        self.wait_until(lambda: self.driver.accessible(hwnd)["value"] == "完成", timeout=120,
                        message="the Finish stage read")
        self.assertEqual(self.driver.accessible(hwnd, PROGRESS_TEXT)["name"][:4], "已完成 ")
        self.assertFalse(self.driver.accessible(hwnd, START_NOW)["state"] & STATE_INVISIBLE)


if __name__ == "__main__":
    unittest.main()
