"""The installer used with the keyboard alone under Wine: the test driver types keys into
the focused control of the window (real input, no clicks and no button messages), through
a whole installation. Each stop of the Tab order is photographed with the focus on it.

Screenshots are kept under artifacts/keyboard/.
"""
import os
import unittest

from PIL import Image, ImageChops

from harness.gated_mirror import GatedMirror
from harness.installer import InstallerTestCase, Sandbox, block_table, config_server, simple_description

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
ARTIFACTS = os.path.join(ROOT, "artifacts", "keyboard")
EXE = "online_installer.exe"
TITLE = "演示软件"
SUB_DIR = "DemoSoft"
ACCEPT, LINK, FOLDER, BROWSE, BOOT, RUN_NOW, INSTALL_NOW = 1013, 1020, 1014, 1015, 1016, 1017, 1011
START_NOW, MINIMIZE, CLOSE, PROGRESS = 1024, 1022, 1021, 1000
# Tab on the Welcome page, from the first stop round to it again.
WELCOME_ORDER = [ACCEPT, LINK, FOLDER, BROWSE, BOOT, RUN_NOW, INSTALL_NOW, MINIMIZE, CLOSE]
# Controls whose focus mark is the skin's or ours (the folder field shows the platform's
# blinking caret, which a screenshot may catch in either phase).
MARKED = set(WELCOME_ORDER) - {FOLDER}
# Pixels of a control that must change when it takes the focus.
MARK_PIXELS = 8


class KeyboardInstallationTest(InstallerTestCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        os.makedirs(ARTIFACTS, exist_ok=True)

    def start_installer(self):
        sandbox = Sandbox()
        self.addCleanup(sandbox.cleanup)
        # The last block waits for the test: the Install stage lasts while keys are typed.
        mirror = self.mirror = GatedMirror(self.setup)
        self.addCleanup(mirror.close)
        description = simple_description(title=TITLE, file_dir=SUB_DIR, blocks=block_table(self.setup),
                                         urls=[mirror.url("/DemoSoft.exe")])
        server = config_server(description).start()
        self.addCleanup(server.cleanup)
        process = self.wine.start(sandbox.exe, "setup_1001_77", timeout=300,
                                  env={"DEMO_SETUP_SECONDS": "2", "DEMO_MAIN_NO_WINDOW": "1"})
        self.addCleanup(process.kill)
        hwnd = self.driver.wait(title=TITLE, exe=EXE, timeout=60)["hwnd"]
        # The mouse rests on the window's body, away from every control: nothing hovers.
        self.driver.mouse_move(hwnd, x=480, y=320)
        return process, hwnd

    def type_until(self, hwnd, keys, focus):
        """Types `keys` and waits until the control `focus` has the keyboard focus."""
        self.driver.keys(hwnd, keys)
        self.wait_until(lambda: self.driver.focus_id(hwnd) == focus, timeout=30,
                        message=f"the focus on {focus} after {keys}")

    def shot(self, hwnd, name):
        path = os.path.join(ARTIFACTS, name)
        self.driver.screenshot(hwnd, path, settle=0.5)
        return Image.open(path).convert("RGB")

    def control_region(self, image, window, control_id):
        left, top = window["rect"][:2]
        c = next(c for c in window["children"] if c["id"] == control_id)
        l, t, r, b = c["rect"]
        return image.crop((l - left, t - top, r - left, b - top))

    def changed_pixels(self, a, b):
        return sum(1 for p in ImageChops.difference(a, b).getdata() if sum(p) > 60)

    def test_whole_installation_with_keys_only(self):
        process, hwnd = self.start_installer()
        # The dialog gives the focus to the first stop.
        self.wait_until(lambda: self.driver.focus_id(hwnd) == ACCEPT, timeout=30, message="the focus on 1013")
        window = self.driver.window(hwnd)

        # Tab goes round the Welcome page in reading order; each stop shows its focus.
        shots = {ACCEPT: self.shot(hwnd, "welcome-focus-1013.png")}
        for control_id in WELCOME_ORDER[1:] + [ACCEPT]:
            self.type_until(hwnd, "tab", control_id)
            shots.setdefault(control_id, self.shot(hwnd, f"welcome-focus-{control_id}.png"))
        again = self.shot(hwnd, "welcome-focus-1013-again.png")
        for control_id in MARKED:
            focused = self.control_region(shots[control_id], window, control_id)
            # The same control while the focus is on another one.
            other = shots[ACCEPT] if control_id != ACCEPT else shots[LINK]
            unfocused = self.control_region(other, window, control_id)
            self.assertGreater(self.changed_pixels(focused, unfocused), MARK_PIXELS,
                               f"control {control_id} shows no mark of the focus")
        self.assertEqual(self.changed_pixels(self.control_region(again, window, ACCEPT),
                                             self.control_region(shots[ACCEPT], window, ACCEPT)), 0)
        # Shift+Tab goes back.
        self.type_until(hwnd, "shift+tab", CLOSE)
        self.type_until(hwnd, "shift+tab", MINIMIZE)
        self.type_until(hwnd, "tab", CLOSE)
        self.type_until(hwnd, "tab", ACCEPT)

        # Space and Enter act on a check box like a click.
        self.type_until(hwnd, "tab,tab,tab,tab,tab", RUN_NOW)
        self.driver.keys(hwnd, "space")
        self.wait_control(hwnd, RUN_NOW, check=0, timeout=30)
        self.driver.keys(hwnd, "enter")
        self.wait_control(hwnd, RUN_NOW, check=1, timeout=30)
        self.type_until(hwnd, "shift+tab", BOOT)
        self.driver.keys(hwnd, "enter")
        self.wait_control(hwnd, BOOT, check=0, timeout=30)
        self.driver.keys(hwnd, "space")
        self.wait_control(hwnd, BOOT, check=1, timeout=30)
        # Unticking the licence with the keyboard disables 立即安装, as a click does.
        self.type_until(hwnd, "shift+tab,shift+tab,shift+tab,shift+tab", ACCEPT)
        self.driver.keys(hwnd, "space")
        self.wait_control(hwnd, INSTALL_NOW, enabled=False, timeout=30)
        self.driver.keys(hwnd, "space")
        self.wait_control(hwnd, INSTALL_NOW, enabled=True, timeout=30)

        # Enter on 立即安装: the Install stage, where Esc and Alt+F4 do nothing.
        self.type_until(hwnd, "shift+tab,shift+tab,shift+tab", INSTALL_NOW)
        self.driver.keys(hwnd, "enter")
        self.wait_control(hwnd, PROGRESS, visible=True, timeout=60)
        self.assertFalse(self.control(hwnd, CLOSE)["enabled"])
        self.driver.keys(hwnd, "esc,alt+f4")
        # Keys are taken in order: once Tab has moved the focus to the only stop left
        # (minimise; close is disabled), Esc and Alt+F4 have been handled.
        self.type_until(hwnd, "tab", MINIMIZE)
        self.assertTrue(self.driver.exists(hwnd))
        self.shot(hwnd, "install.png")
        self.mirror.release()

        # Finish (the window would be gone had Esc or Alt+F4 closed it): 立即启动 comes
        # right before minimise, and Enter on it starts the installed program and ends.
        self.wait_control(hwnd, START_NOW, visible=True, timeout=240, interval=0.5)
        self.assertTrue(self.installed())
        self.driver.mouse_move(hwnd, x=480, y=320)
        unfocused = self.shot(hwnd, "finish.png")
        self.assertEqual(self.driver.focus_id(hwnd), MINIMIZE)
        self.type_until(hwnd, "shift+tab", START_NOW)
        window = self.driver.window(hwnd)
        focused = self.shot(hwnd, "finish-focus-1024.png")
        self.assertGreater(self.changed_pixels(self.control_region(focused, window, START_NOW),
                                               self.control_region(unfocused, window, START_NOW)), MARK_PIXELS,
                           "立即启动 shows no mark of the focus")
        self.driver.keys(hwnd, "enter")
        self.assertEqual(process.wait(60), 0, process.stderr[-3000:])
        started = os.path.join(self.install_root, "started.log")
        self.wait_until(lambda: os.path.exists(started), timeout=60, message="Main.exe started by Enter on 立即启动")

    def close_welcome_with(self, keys):
        process, hwnd = self.start_installer()
        self.wait_until(lambda: self.driver.focus_id(hwnd) == ACCEPT, timeout=30, message="the focus on 1013")
        self.driver.keys(hwnd, keys)
        self.assertEqual(process.wait(60), 0, process.stderr[-3000:])
        self.assertFalse(self.installed())

    def test_escape_closes_the_welcome_page(self):
        self.close_welcome_with("esc")

    def test_alt_f4_closes_the_welcome_page(self):
        self.close_welcome_with("alt+f4")


if __name__ == "__main__":
    unittest.main()
