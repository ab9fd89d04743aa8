"""The skinned controls and the default skin under Wine, checked through screenshots.

skin_gallery.exe shows the controls on the installer window's layout over the default
skin beside it. Expected colours are taken from the generated skin images themselves (the
frame's pixel over the white body of the window), so the tests check that the right frame
is drawn in the right place, not a copy of numbers from the code.

Screenshots of the three pages are kept in <win64 build>/test-artifacts/skin/.
"""
import os
import shutil
import tempfile
import time
import unittest

from PIL import Image

from harness.driver import Driver, WINDOW_WAIT, child
from harness.builds import win64_build_dir, win64_exe
from harness.wine_test_case import WineTestCase

GALLERY = os.path.join("tools", "skin_gallery", "skin_gallery.exe")
CHECKS = os.path.join("tests", "programs", "skin_checks", "skin_checks.exe")
TITLE = "晴川音乐播放器"
WHITE = (255, 255, 255)
TOLERANCE = 6  # the display and GDI round colours a little


def skin_folder():
    return os.path.join(win64_build_dir(), "tools", "skin_gallery", "skin", "Default")


def artifact_folder():
    path = os.path.join(win64_build_dir(), "test-artifacts", "skin")
    os.makedirs(path, exist_ok=True)
    return path


def frame_pixel(image_name, frame, count, x, y, background=WHITE):
    """The colour frame `frame` of a side-by-side strip shows at (x, y), over `background`."""
    with Image.open(os.path.join(skin_folder(), image_name)) as img:
        strip = img.convert("RGBA")
    width = strip.width // count
    r, g, b, a = strip.getpixel((frame * width + x, y))
    return tuple(round((c * a + bg * (255 - a)) / 255) for c, bg in zip((r, g, b), background))


def band_at(y):
    """The colour of the window's top band in row `y` (a vertical gradient)."""
    with Image.open(os.path.join(skin_folder(), "dlg_border.PNG")) as border:
        return border.convert("RGB").getpixel((5, y))


def close_to(actual, expected, tolerance=TOLERANCE):
    return all(abs(a - e) <= tolerance for a, e in zip(actual[:3], expected[:3]))


def distance(a, b):
    return max(abs(x - y) for x, y in zip(a[:3], b[:3]))


class GalleryCase(WineTestCase):
    """Starts one gallery per test and ends it by its process id afterwards."""

    gallery_args = ("--extras",)

    def setUp(self):
        self.driver = Driver(self.wine)
        self.shots = tempfile.mkdtemp(prefix="skin-shots-")
        self.addCleanup(shutil.rmtree, self.shots, True)
        self.gallery = self.start_gallery(win64_exe(GALLERY), *self.gallery_args)

    def start_gallery(self, exe, *args):
        process = self.wine.start(exe, *args)
        self.addCleanup(process.close)
        self.window = self.driver.wait(title=TITLE, exe=os.path.basename(exe), timeout=WINDOW_WAIT)
        self.hwnd = self.window["hwnd"]
        self.park_mouse()
        return process

    def park_mouse(self):
        # A point of the window's body far from every control.
        self.driver.mouse_move(self.hwnd, x=480, y=320)

    def shot(self, control_id=None, name="shot", settle=0.4):
        path = os.path.join(self.shots, f"{name}-{control_id}-{time.monotonic_ns()}.png")
        self.driver.screenshot(self.hwnd, path, control_id=control_id, settle=settle)
        with Image.open(path) as img:
            return img.convert("RGB")

    def shot_until(self, control_id, name, looks_right, message, timeout=20):
        """Takes shots of the control until `looks_right(image)` holds and returns that image;
        fails after `timeout` seconds (a loaded machine may take long to repaint)."""
        return self.wait_until(lambda: (lambda img: img if looks_right(img) else None)(
            self.shot(control_id, name, settle=0)), timeout=timeout, message=message)

    def control(self, control_id):
        window = self.driver.window(self.hwnd)
        found = child(window, control_id)
        self.assertIsNotNone(found, f"control {control_id} is missing")
        return found

    def assertPixelSoon(self, control_id, point, expected, what, timeout=5.0):
        """Takes screenshots of the control until the point shows `expected` (painting after
        input is not instantaneous on a busy machine); fails with the last colour seen."""
        deadline = time.monotonic() + timeout
        while True:
            actual = self.shot(control_id, what.replace(" ", "-")).getpixel(point)
            if close_to(actual, expected):
                return
            if time.monotonic() > deadline:
                self.fail(f"{what}: {actual} at {point}, expected {expected}")

    def assertPixel(self, img, point, expected, what):
        actual = img.getpixel(point)
        self.assertTrue(close_to(actual, expected), f"{what}: {actual} at {point}, expected {expected}")


class WelcomePageTest(GalleryCase):
    gallery_args = ()

    def test_window_is_painted_from_the_default_skin(self):
        img = self.shot(name="welcome")
        img.save(os.path.join(artifact_folder(), "stage1_welcome.png"))
        self.assertEqual(img.size, (500, 333))
        # The top band of dlg_border.PNG, stretched across; the body is white.
        band = band_at(60)
        self.assertPixel(img, (250, 60), band, "band")
        self.assertGreater(band[2], band[0] + 60, "the band is blue")
        self.assertPixel(img, (250, 200), WHITE, "body")
        # The logo at (6, 3) and the Welcome step marked as current, the other steps not.
        self.assertPixel(img, (6 + 4, 3 + 13), frame_pixel("Logo_Title.png", 0, 1, 4, 13, band_at(16)), "logo")
        welcome = self.control(1008)["rect"]
        install = self.control(1010)["rect"]
        row = welcome[1] + 10
        self.assertPixel(img, (welcome[0] + 4, row), frame_pixel("step01.png", 0, 1, 4, 10, band_at(row)),
                         "current step")
        self.assertPixel(img, (install[0] + 4, row), frame_pixel("step10.png", 0, 1, 4, 10, band_at(row)),
                         "other step")
        self.assertGreater(distance(frame_pixel("step01.png", 0, 1, 4, 10, band_at(row)), band_at(row)), 60)
        # The title in the LrButton colour (white) over the band, in the title area.
        title = self.control(1023)["rect"]
        area = img.crop((title[0], title[1], title[2], title[3]))
        self.assertTrue(any(close_to(p, WHITE, 20) for p in area.getdata()), "title text")

    def test_install_and_finish_pages_show_their_pictures(self):
        for stage, slide_image, name in ((2, "Install0.jpg", "stage2_install.png"), (3, "Install.jpg", "stage3_finish.png")):
            with self.subTest(stage=stage):
                self.gallery.kill()
                self.gallery = self.start_gallery(win64_exe(GALLERY), "--stage", str(stage))
                img = self.shot(name=f"stage{stage}")
                img.save(os.path.join(artifact_folder(), name))
                picture = self.control(1012)["rect"]
                with Image.open(os.path.join(skin_folder(), slide_image)) as slide:
                    slide = slide.convert("RGB")
                    self.assertEqual(slide.size, (picture[2] - picture[0], picture[3] - picture[1]))
                    # Points in smooth parts: decoders differ a little at sharp JPEG edges.
                    for point in ((10, 10), (slide.width - 12, 12), (slide.width // 2, slide.height - 8)):
                        self.assertPixel(img, (picture[0] + point[0], picture[1] + point[1]), slide.getpixel(point),
                                         f"{slide_image} {point}")


class ButtonTest(GalleryCase):
    def face_point(self, rect):
        # Right of the caption, in the vertical middle: plain face colour.
        return (rect[2] - rect[0] - 16, (rect[3] - rect[1]) // 2)

    def test_install_button_frames_follow_the_mouse(self):
        rect = self.control(1011)["rect"]
        with Image.open(os.path.join(skin_folder(), "btn_install.png")) as strip:
            self.assertEqual((rect[2] - rect[0], rect[3] - rect[1]), (strip.width // 5, strip.height),
                             "the button takes the size of one frame")
        point = self.face_point(rect)
        faces = [frame_pixel("btn_install.png", i, 5, *point) for i in range(4)]
        for i in range(3):
            self.assertGreater(distance(faces[i], faces[i + 1]), 2 * TOLERANCE, "frames are told apart")

        self.assertPixelSoon(1011, point, faces[0], "normal frame")
        self.driver.mouse_move(self.hwnd, 1011)
        self.assertPixelSoon(1011, point, faces[1], "hover frame")
        self.driver.mouse_down(self.hwnd, 1011)
        try:
            self.assertPixelSoon(1011, point, faces[2], "pressed frame")
        finally:
            self.driver.mouse_up(self.hwnd, 1011)
        self.assertPixelSoon(1011, point, faces[1], "hover frame after the release")
        self.park_mouse()
        self.assertPixelSoon(1011, point, faces[0], "normal frame after leaving")

    def test_press_and_release_notify_around_the_click(self):
        self.driver.mouse_click(self.hwnd, 1011)
        # Down after the platform's own handling, up before it (and so before the click).
        title = self.wait_until(lambda: (lambda t: t if t.endswith("]") else None)(
            self.driver.window(self.hwnd)["title"]), message="the notifications")
        self.assertTrue(title.endswith("[DUC]"), title)

    def test_focused_button_shows_frame_four_unless_the_mouse_is_over_it(self):
        rect = self.control(1011)["rect"]
        point = (2, (rect[3] - rect[1]) // 2)  # on the focus ring of frame 4
        focused, normal, hover = (frame_pixel("btn_install.png", i, 5, *point) for i in (4, 0, 1))
        self.assertGreater(distance(focused, normal), 2 * TOLERANCE)
        self.assertGreater(distance(focused, hover), 2 * TOLERANCE)
        # WM_NEXTDLGCTL with a window handle moves the focus there.
        self.driver.message(self.hwnd, 0x28, wparam=self.control(1011)["hwnd"], lparam=1)
        self.assertPixelSoon(1011, point, focused, "focused frame")
        self.driver.mouse_move(self.hwnd, 1011)
        self.assertPixelSoon(1011, point, hover, "hover wins over focus")

    def test_tooltip_shows_the_tooltip_text(self):
        self.driver.mouse_move(self.hwnd, 1011)
        self.driver.mouse_move(self.hwnd, 1011, x=40, y=10)

        def shown():
            for window in self.driver.list(hidden_too=True, class_name="tooltips_class32"):
                if window["visible"] and window["title"] == "立即安装":
                    return window
            return None

        self.wait_until(shown, timeout=10, message="the tooltip with the button's tooltip text")

    def test_disabled_button_keeps_frame_three_and_grey_text_under_the_mouse(self):
        rect = self.control(2001)["rect"]
        self.assertFalse(self.control(2001)["enabled"])
        width, height = rect[2] - rect[0], rect[3] - rect[1]
        # btn_normal.png is stretched sideways only; its middle columns are all alike.
        expected = frame_pixel("btn_normal.png", 3, 5, 20, 6)
        normal = frame_pixel("btn_normal.png", 0, 5, 20, 6)
        self.assertGreater(distance(expected, normal), 2 * TOLERANCE)
        for hover in (False, True):
            if hover:
                self.driver.mouse_move(self.hwnd, 2001)
            img = self.shot(2001, f"disabled-{hover}")
            self.assertPixel(img, (width - 8, 6), expected, f"disabled face (mouse over: {hover})")
            text = [p for p in img.crop((0, 0, width, height)).getdata() if distance(p, expected) > 40]
            self.assertTrue(text, "the caption is drawn")
            darkest = min(text, key=sum)
            self.assertTrue(close_to(darkest, (100, 100, 100), 12), f"grey caption, darkest pixel {darkest}")

    def test_browse_button_draws_its_caption_in_the_class_colour(self):
        rect = self.control(1015)["rect"]
        img = self.shot(1015, "browse")
        face = frame_pixel("btn_normal.png", 0, 5, 20, 13)
        self.assertPixel(img, (rect[2] - rect[0] - 6, 13), face, "browse face")
        middle = img.crop((10, 4, rect[2] - rect[0] - 10, rect[3] - rect[1] - 4))
        self.assertTrue(any(close_to(p, WHITE, 10) for p in middle.getdata()), "white caption (LrButton colour)")


class CheckBoxTest(GalleryCase):
    POINT = (4, 12)  # inside the 16 x 16 box, away from the check mark

    def box_point(self, control_id):
        rect = self.control(control_id)["rect"]
        height = rect[3] - rect[1]
        offset = (height - 16) // 2
        return (offset + self.POINT[0], offset + self.POINT[1])

    def expected(self, frame):
        return frame_pixel("btn_check.png", frame, 9, *self.POINT)

    def test_frames_for_checked_unchecked_hover_and_disabled(self):
        for a, b in ((0, 1), (0, 5), (5, 6), (3, 8), (0, 3), (5, 8)):
            self.assertGreater(distance(self.expected(a), self.expected(b)), TOLERANCE, f"frames {a} and {b}")
        point = self.box_point(1017)
        self.assertEqual(self.control(1017)["check"], 1)
        self.assertPixelSoon(1017, point, self.expected(5), "checked")

        self.driver.mouse_click(self.hwnd, 1017)
        self.wait_until(lambda: self.control(1017)["check"] == 0, message="the click unchecks")
        self.assertPixelSoon(1017, point, self.expected(1), "unchecked under the mouse")
        self.driver.mouse_click(self.hwnd, 1017)
        self.wait_until(lambda: self.control(1017)["check"] == 1, message="the second click checks")
        self.assertPixelSoon(1017, point, self.expected(6), "checked under the mouse")
        self.park_mouse()
        self.assertPixelSoon(1017, point, self.expected(5), "checked after leaving")

        self.assertPixelSoon(2002, self.box_point(2002), self.expected(8), "disabled checked")
        self.driver.mouse_move(self.hwnd, 2003)
        self.assertPixelSoon(2003, self.box_point(2003), self.expected(3), "disabled unchecked, mouse over")

    def test_disabled_text_is_grey_and_enabled_text_has_the_class_colour(self):
        enabled = [p for p in self.shot(1016, "text").crop((18, 0, 60, 16)).getdata() if distance(p, WHITE) > 60]
        disabled = [p for p in self.shot(2003, "grey").crop((18, 0, 60, 16)).getdata() if distance(p, WHITE) > 60]
        self.assertTrue(enabled and disabled, "both texts are drawn")
        self.assertTrue(close_to(min(enabled, key=sum), (52, 64, 80), 14), min(enabled, key=sum))
        self.assertTrue(close_to(min(disabled, key=sum), (125, 125, 125), 14), min(disabled, key=sum))


class LabelTest(GalleryCase):
    def text_pixels(self, img, box):
        return [p for p in img.crop(box).getdata() if distance(p, WHITE) > 80]

    def test_new_text_is_drawn_over_a_fresh_background(self):
        rect = self.control(2004)["rect"]
        width, height = rect[2] - rect[0], rect[3] - rect[1]
        before = self.shot(2004, "before")
        self.assertTrue(self.text_pixels(before, (40, 0, width, height)), "the long text reaches the right part")

        self.driver.press(self.hwnd, 2005)  # the gallery sets the text "新"
        after = self.wait_until(lambda: (lambda img: img if not self.text_pixels(img, (30, 0, width, height)) else None)(
            self.shot(2004, "after")), timeout=10, message="the old text to disappear")
        self.assertTrue(self.text_pixels(after, (0, 0, 20, height)), "the new text is drawn")
        for x in range(30, width, 7):
            self.assertPixel(after, (x, height // 2), WHITE, "background where the old text was")
        # The window text itself stays: the label keeps the new text apart.
        self.assertEqual(self.control(2004)["text"], "原来的一段长文字")

    def test_disabled_label_draws_white_text(self):
        rect = self.control(2006)["rect"]
        img = self.shot(2006, "disabled-label")
        pixels = list(img.crop((0, 0, rect[2] - rect[0], rect[3] - rect[1])).getdata())
        self.assertTrue(any(close_to(p, WHITE, 10) for p in pixels), "white text over the blue band")

    def test_link_turns_to_the_hover_colour_under_the_mouse(self):
        normal, hover = (25, 86, 169), (0, 0, 255)

        def has(img, colour):
            return any(close_to(p, colour, 12) for p in img.getdata())

        before = self.shot(1020, "link")
        self.assertTrue(has(before, normal) and not has(before, hover), "normal link colour")
        self.driver.mouse_move(self.hwnd, 1020, x=20, y=6)
        self.shot_until(1020, "link-hover", lambda img: has(img, hover) and not has(img, normal),
                        "the link to turn to the hover colour")
        self.park_mouse()
        self.shot_until(1020, "link-left", lambda img: has(img, normal) and not has(img, hover),
                        "the link to turn back to its colour after the mouse left")


class LinkTooltipTest(GalleryCase):
    LONG_TITLE = "晴川音乐播放器二〇二六年冬季特别版完整安装包"
    gallery_args = ("--title", LONG_TITLE)

    def visible_tooltip(self, text):
        for window in self.driver.list(hidden_too=True, class_name="tooltips_class32"):
            if window["visible"] and window["title"] == text:
                return window
        return None

    def test_a_link_too_wide_for_its_label_gets_the_full_text_as_tooltip(self):
        full = self.LONG_TITLE + "服务条款"
        self.driver.mouse_move(self.hwnd, 1020, x=10, y=6)
        self.driver.mouse_move(self.hwnd, 1020, x=30, y=6)
        self.wait_until(lambda: self.visible_tooltip(full), timeout=10, message="the link's tooltip")


class MissingSkinTest(GalleryCase):

    def setUp(self):
        # The gallery alone in a folder without "skin\Default".
        self.driver = Driver(self.wine)
        self.shots = tempfile.mkdtemp(prefix="skin-shots-")
        self.addCleanup(shutil.rmtree, self.shots, True)
        self.lonely = tempfile.mkdtemp(prefix="no-skin-")
        self.addCleanup(shutil.rmtree, self.lonely, True)
        exe = os.path.join(self.lonely, "skin_gallery.exe")
        shutil.copy(win64_exe(GALLERY), exe)
        self.gallery = self.start_gallery(exe, "--extras")

    def test_window_stays_usable_with_plain_captions(self):
        close = self.control(1021)
        with Image.open(os.path.join(skin_folder(), "dlg_close.png")) as strip:
            frame_height = strip.height
        # Without its image a button keeps its template size and caption.
        self.assertNotEqual(close["rect"][3] - close["rect"][1], frame_height)
        self.assertEqual(self.control(1011)["text"], "立即安装")
        img = self.shot(1011, "plain")
        red = [p for p in img.getdata() if close_to(p, (255, 0, 0), 30)]
        self.assertTrue(red, "the caption in the default text colour (red)")
        # Still works: the label changes its text and the close button ends the program.
        self.driver.press(self.hwnd, 2005)
        self.driver.press(self.hwnd, 1021)
        self.assertEqual(self.gallery.wait(15), 1)


def write_test_skin(folder):
    """A small skin of known pixels and INI sections for skin_checks.exe."""
    os.makedirs(folder)
    strip = Image.new("RGBA", (102, 10), (255, 0, 255, 255))  # 2 leftover columns in magenta
    for i, colour in enumerate(((200, 0, 0), (0, 200, 0), (200, 200, 0), (0, 0, 200))):
        strip.paste(Image.new("RGBA", (25, 10), colour + (255,)), (i * 25, 0))
    strip.save(os.path.join(folder, "strip.png"))
    # Its copy for 200 %: frames twice the size in other colours, so that a check can tell
    # which file was drawn. The copy for 150 % has a size that fits no scaled strip.
    copy = Image.new("RGBA", (200, 20))
    for i, colour in enumerate(((100, 0, 0), (0, 100, 0), (100, 100, 0), (0, 0, 100))):
        copy.paste(Image.new("RGBA", (50, 20), colour + (255,)), (i * 50, 0))
    copy.save(os.path.join(folder, "strip@2x.png"))
    Image.new("RGBA", (100, 10), (255, 255, 255, 255)).save(os.path.join(folder, "strip@1.5x.png"))
    grid = Image.new("RGBA", (10, 8))
    for y in range(8):
        for x in range(10):
            grid.putpixel((x, y), (x * 20, y * 30, 100, 255))
    grid.save(os.path.join(folder, "grid.png"))
    alpha = Image.new("RGBA", (4, 4), (0, 255, 0, 0))
    alpha.paste(Image.new("RGBA", (2, 4), (255, 0, 0, 255)), (0, 0))
    alpha.save(os.path.join(folder, "alpha.png"))
    Image.new("RGBA", (4, 4), (255, 0, 0, 255)).save(os.path.join(folder, "red.png"))
    Image.new("RGBA", (4, 4), (0, 255, 0, 255)).save(os.path.join(folder, "green.png"))
    with open(os.path.join(folder, "broken.png"), "w") as f:
        f.write("not an image")

    def section(name, **keys):
        return f"[{name}]\r\n" + "".join(f"{k}={v}\r\n" for k, v in keys.items()) + "\r\n"

    skin = (section("strip.png", FileName="strip.png", Count=4)
            + section("grid.png", FileName="grid.png", Count=1, Left=4, Top=3, Right=4, Bottom=3)
            + section("alpha.png", FileName="alpha.png", Count=1)
            + section("broken.png", FileName="broken.png", Count=1)
            + section("pick.png", FileName="red.png", Count=1)
            + section("fallback.png", FileName="red.png", Count=1)
            + section("diagonal.png", FileName="red.png", Count=1, Orientation=2)
            + section("zero.png", FileName="red.png", Count=0)
            + section("perframe.png", FileName="strip.png", Count=2, FrameDiff=1, Left=99,
                      Left1=5, Top1=6, Right1=7, Bottom1=8))
    custom = (section("pick.png", FileName="green.png", Count=1)
              + section("fallback.png", FileName="", Count=1, Orientation=2))
    for name, text in (("skin.ini", skin), ("skin_custom.ini", custom),
                       ("controls.ini", section("LrButton", DeftextR=300, DeftextG=10, DeftextB=20))):
        with open(os.path.join(folder, name), "w", newline="") as f:
            f.write(text)


class ToolkitChecksTest(WineTestCase):
    """Runs skin_checks.exe beside a skin of known pixels and reads its verdicts."""

    EXPECTED_CHECKS = 22

    def test_every_check_passes(self):
        folder = tempfile.mkdtemp(prefix="skin-checks-")
        self.addCleanup(shutil.rmtree, folder, True)
        exe = os.path.join(folder, "skin_checks.exe")
        shutil.copy(win64_exe(CHECKS), exe)
        write_test_skin(os.path.join(folder, "skin", "Default"))
        result = self.wine.run(exe, "checks", timeout=120)
        lines = [line for line in result.stdout.splitlines() if line.startswith(("PASS", "FAIL"))]
        failures = [line for line in lines if line.startswith("FAIL")]
        self.assertEqual(failures, [], result.stdout)
        self.assertEqual(len(lines), self.EXPECTED_CHECKS, result.stdout)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)

    def test_paint_benchmark_runs(self):
        # Prints the cost of painting the window's background from the default skin at three
        # display scales; the figures are for reading, not a pass mark.
        result = self.wine.run(win64_exe(CHECKS), "bench", timeout=300)
        self.assertEqual(result.returncode, 0, result.stderr)
        rows = [line.split() for line in result.stdout.splitlines() if line.split() and line.split()[0].isdigit()]
        self.assertEqual([(int(r[0]), int(r[1])) for r in rows],
                         [(dpi, stage) for dpi in (96, 144, 192) for stage in (1, 2)], result.stdout)
        self.assertTrue(all(float(r[2]) >= 0 and float(r[3]) > 0 for r in rows), result.stdout)
        print("\n" + result.stdout.strip())

if __name__ == "__main__":
    unittest.main()
