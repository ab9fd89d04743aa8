"""The installer at 100 %, 150 % and 200 % display scale under Wine (its LogPixels setting):
the window grows by the scale, the skin's larger images are drawn one to one (sharp, not a
stretched 1x bitmap), nothing leaves the window or overlaps; a skin with 1x images only is
drawn scaled; a move to a monitor of another scale lays the window out again.

Screenshots are kept under artifacts/display_scale/.
"""
import os
import unittest

from PIL import Image

from harness.driver import WINDOW_WAIT
from harness.installer import InstallerTestCase, Sandbox, block_table, config_server, simple_description
from harness.nginx import Nginx
from harness.stage_look import blown_up, control_box, first_frame, mean_difference, picture_difference, skin_image, step_looks

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
ARTIFACTS = os.path.join(ROOT, "artifacts", "display_scale")
EXE = "online_installer.exe"
TITLE = "演示软件"
SUB_DIR = "DemoSoft"
INSTALL_NOW, CLOSE, START_NOW, PROGRESS, STEP_WELCOME = 1011, 1021, 1024, 1000, 1008
BASE_SIZE = (500, 333)  # the window at 96 DPI
WM_DPICHANGED = 0x02E0
DPI_KEYS = (r"HKCU\Control Panel\Desktop",
            r"HKLM\System\CurrentControlSet\Hardware Profiles\Current\Software\Fonts")
# Mean RGB difference (0-765 scale summed over channels / 3) below which a region shows
# an image: the display and GDI round colours a little.
SHOWS = 12


def scaled(value, scale):
    return int(value * scale + 0.5)


class DisplayScaleTest(InstallerTestCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        os.makedirs(ARTIFACTS, exist_ok=True)
        # Other tests share the Wine prefix: it goes back to 100 % whatever happens here.
        cls.addClassCleanup(cls.set_dpi, 96)

    @classmethod
    def set_dpi(cls, dpi):
        for key in DPI_KEYS:
            cls.wine.run_setting("reg", "add", key, "/v", "LogPixels", "/t", "REG_DWORD", "/d", str(dpi), "/f")

    # Helpers.

    def start_installer(self, dpi, skin_without_copies=False, limit_rate=None):
        self.set_dpi(dpi)
        sandbox = Sandbox()
        self.addCleanup(sandbox.cleanup)
        if skin_without_copies:
            # A skin as every skin made before there were larger copies: 1x images only.
            folder = os.path.join(sandbox.dir, "skin", "Default")
            for name in os.listdir(folder):
                if "@" in name:
                    os.remove(os.path.join(folder, name))
        options = {"limit_rate": limit_rate} if limit_rate else {}
        mirror = Nginx(files={"DemoSoft.exe": self.setup}, **options).start()
        self.addCleanup(mirror.cleanup)
        description = simple_description(title=TITLE, file_dir=SUB_DIR, blocks=block_table(self.setup),
                                         urls=[mirror.url("/DemoSoft.exe")])
        server = config_server(description).start()
        self.addCleanup(server.cleanup)
        process = self.wine.start(sandbox.exe, "setup_1001_77", timeout=240,
                                  env={"DEMO_SETUP_SECONDS": "2", "DEMO_MAIN_NO_WINDOW": "1"})
        self.addCleanup(process.kill)
        hwnd = self.driver.wait(title=TITLE, exe=EXE, timeout=WINDOW_WAIT)["hwnd"]
        return process, hwnd

    def park_mouse(self, hwnd, scale):
        # A point of the window's body far from every control, so that no button hovers.
        self.driver.mouse_move(hwnd, x=scaled(480, scale), y=scaled(320, scale))

    def shot(self, hwnd, name):
        path = os.path.join(ARTIFACTS, name)
        self.driver.screenshot(hwnd, path, settle=0.8)
        return path

    def assert_window_scaled(self, window, scale):
        left, top, right, bottom = window["rect"]
        self.assertEqual((right - left, bottom - top), (scaled(BASE_SIZE[0], scale), scaled(BASE_SIZE[1], scale)))
        # Every visible control inside the window, and no two of them overlapping.
        boxes = []
        for c in window["children"]:
            if not c.get("visible"):
                continue
            l, t, r, b = c["rect"]
            self.assertTrue(left <= l < r <= right and top <= t < b <= bottom, f"control {c['id']} leaves the window")
            boxes.append((c["id"], (l, t, r, b)))
        for i, (id_a, a) in enumerate(boxes):
            for id_b, b in boxes[i + 1:]:
                overlap = min(a[2], b[2]) > max(a[0], b[0]) and min(a[3], b[3]) > max(a[1], b[1])
                self.assertFalse(overlap, f"controls {id_a} and {id_b} overlap")

    def assert_sharp(self, path, window, box, name, scale, frames=1, what=None):
        """The region shows the skin's own copy for `scale`, and clearly better than the 1x
        image blown up (which is what a stretched window would show)."""
        shot = Image.open(path)
        own = first_frame(skin_image(name, scale=scale).convert("RGBA"), frames)
        stretched = first_frame(blown_up(name, scale), frames)
        box = box if len(box) == 4 else (box[0], box[1], box[0] + own.width, box[1] + own.height)
        own_difference = mean_difference(shot, box, own)
        self.assertLess(own_difference, SHOWS, f"{what or name}: not the skin's image at {scale}x")
        if scale != 1:
            self.assertLess(own_difference * 2, mean_difference(shot, box, stretched),
                            f"{what or name}: no sharper than the 1x image blown up")

    def assert_stage(self, path, window, stage, scale, pictures=None):
        for control_id, (image, difference, other_look) in step_looks(path, window, stage, scale).items():
            if difference != float("inf"):  # the highlighted look: opaque, comparable pixel by pixel
                self.assertLess(difference, SHOWS, f"{stage} at {scale}x: step {control_id} does not show {image}")
                step_box = control_box(window, control_id)
                self.assert_sharp(path, window, step_box[:2], image, scale, what=f"{stage}: step {control_id}")
            else:
                self.assertGreater(other_look, 20, f"{stage}: step {control_id} shows the highlighted look")
        if pictures:
            self.assertLess(picture_difference(path, window, pictures, scale), SHOWS, f"{stage} at {scale}x: picture")

    # The three stages at three scales.

    def check_three_stages(self, dpi, scale):
        # Slow enough (some 17 s) that the download still runs when 立即安装 is pressed after
        # the Welcome checks, so that the Install stage is there to be seen.
        process, hwnd = self.start_installer(dpi, limit_rate="100k")
        self.park_mouse(hwnd, scale)
        window = self.driver.window(hwnd)
        self.assert_window_scaled(window, scale)
        path = self.shot(hwnd, f"{dpi}-welcome.png")
        self.assert_stage(path, window, "welcome", scale)
        self.assert_sharp(path, window, (scaled(6, scale), scaled(3, scale)), "Logo_Title.png", scale)
        self.assert_sharp(path, window, control_box(window, INSTALL_NOW), "btn_install.png", scale, frames=5)

        self.driver.press(hwnd, INSTALL_NOW)
        self.wait_control(hwnd, PROGRESS, visible=True, timeout=30)
        self.park_mouse(hwnd, scale)
        window = self.driver.window(hwnd)
        self.assert_window_scaled(window, scale)
        path = self.shot(hwnd, f"{dpi}-install.png")
        self.assert_stage(path, window, "install", scale, [f"Install{i}.jpg" for i in range(3)])

        self.wait_control(hwnd, START_NOW, visible=True, timeout=150)
        self.park_mouse(hwnd, scale)
        window = self.driver.window(hwnd)
        self.assert_window_scaled(window, scale)
        path = self.shot(hwnd, f"{dpi}-finish.png")
        self.assert_stage(path, window, "finish", scale, ["Install.jpg"])
        self.assert_sharp(path, window, control_box(window, START_NOW), "btn_run.png", scale, frames=5)

    def test_three_stages_at_100_percent(self):
        self.check_three_stages(96, 1)

    def test_three_stages_at_150_percent(self):
        self.check_three_stages(144, 1.5)

    def test_three_stages_at_200_percent(self):
        self.check_three_stages(192, 2)

    def test_a_skin_with_1x_images_only_is_drawn_scaled(self):
        process, hwnd = self.start_installer(144, skin_without_copies=True)
        self.park_mouse(hwnd, 1.5)
        window = self.driver.window(hwnd)
        self.assert_window_scaled(window, 1.5)
        path = self.shot(hwnd, "144-1x-skin-welcome.png")
        shot = Image.open(path)
        # Every image is there, at the scaled size, drawn from the 1x file with filtering.
        regions = [
            ("step01.png", control_box(window, STEP_WELCOME)[:2], 1),
            ("Logo_Title.png", (scaled(6, 1.5), scaled(3, 1.5)), 1),
            ("btn_install.png", control_box(window, INSTALL_NOW)[:2], 5),
        ]
        for name, (x, y), frames in regions:
            expected = first_frame(blown_up(name, 1.5), frames)
            box = (x, y, x + expected.width, y + expected.height)
            self.assertLess(mean_difference(shot, box, expected), SHOWS, f"{name} is not drawn scaled from its 1x file")
        button = control_box(window, INSTALL_NOW)
        self.assertEqual((button[2] - button[0], button[3] - button[1]), (scaled(156, 1.5), scaled(40, 1.5)))

    def test_a_move_to_a_monitor_of_another_scale_lays_the_window_out_again(self):
        process, hwnd = self.start_installer(96)
        before = self.driver.window(hwnd)
        # What Windows sends when the window moves to a 200 % monitor; without a suggested
        # rectangle (a pointer cannot cross processes) the window keeps its corner.
        self.driver.message(hwnd, WM_DPICHANGED, wparam=192 | (192 << 16), lparam=0)
        self.park_mouse(hwnd, 2)
        window = self.driver.window(hwnd)
        self.assert_window_scaled(window, 2)
        self.assertEqual(window["rect"][:2], before["rect"][:2])
        path = self.shot(hwnd, "96-moved-to-192.png")
        self.assert_stage(path, window, "welcome", 2)
        self.assert_sharp(path, window, control_box(window, INSTALL_NOW), "btn_install.png", 2, frames=5)
        # And back.
        self.driver.message(hwnd, WM_DPICHANGED, wparam=96 | (96 << 16), lparam=0)
        self.park_mouse(hwnd, 1)
        window = self.driver.window(hwnd)
        self.assert_window_scaled(window, 1)
        self.assertEqual([c["rect"] for c in window["children"]], [c["rect"] for c in before["children"]])
        path = self.shot(hwnd, "96-moved-back.png")
        self.assert_stage(path, window, "welcome", 1)


if __name__ == "__main__":
    unittest.main()
