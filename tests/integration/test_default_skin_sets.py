"""src/skin/make_default_skin.py: the larger image sets for 150 % and 200 % screens.

The generator runs once into a temporary folder. Every image skin.ini names must have its
"@1.5x" and "@2x" copies, each frame scaled to exactly int(v * s + 0.5) pixels, drawn from
the 4x drawing (sharp, not the 1x file blown up), and the window border's nine-slice
margins, multiplied by the scale, must still fall on the band and the window outline.

It needs no Wine; it sits with the integration tests, which run under /usr/bin/python3
(with Pillow).
"""
import configparser
import os
import subprocess
import sys
import tempfile
import unittest

from PIL import Image, ImageChops, ImageStat

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SCRIPT = os.path.join(ROOT, "src", "skin", "make_default_skin.py")
SCALES = {"1.5": 1.5, "2": 2}  # file name label -> scale
BAND = (40, 112, 186)  # the band's lower colour: the step images are shown over it


def scaled(v, scale):
    return int(v * scale + 0.5)


def copy_name(name, label):
    stem, ext = os.path.splitext(name)
    return f"{stem}@{label}x{ext}"


def over_band(path):
    """The image over the band's colour, as grey levels: what the eye sees of its edges."""
    with Image.open(path) as img:
        image = img.convert("RGBA")
    flat = Image.new("RGBA", image.size, BAND + (255,))
    flat.alpha_composite(image)
    return flat.convert("L")


def mean_difference(a, b):
    return ImageStat.Stat(ImageChops.difference(a, b)).mean[0]


def edge_strength(img):
    """Root mean square of the differences between neighbouring pixels, across and down."""
    w, h = img.size
    across = ImageChops.difference(img.crop((1, 0, w, h)), img.crop((0, 0, w - 1, h)))
    down = ImageChops.difference(img.crop((0, 1, w, h)), img.crop((0, 0, w, h - 1)))
    return (ImageStat.Stat(across).rms[0] + ImageStat.Stat(down).rms[0]) / 2


class LargerSkinImagesTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory(prefix="default-skin-")
        cls.out = cls.tmp.name
        subprocess.run([sys.executable, SCRIPT, "--out", cls.out], check=True, timeout=120)
        ini = configparser.ConfigParser(interpolation=None)
        ini.optionxform = str
        with open(os.path.join(cls.out, "skin.ini"), encoding="ascii") as f:
            ini.read_file(f)
        cls.images = {section: ini[section] for section in ini.sections()}
        cls.files = set(os.listdir(cls.out))

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def image(self, name):
        with Image.open(os.path.join(self.out, name)) as img:
            img.load()
            return img

    def test_every_image_has_its_larger_copies_beside_it(self):
        self.assertGreaterEqual(len(self.images), 17)
        for section in self.images.values():
            for label in SCALES:
                name = copy_name(section["FileName"], label)
                self.assertIn(name, self.files)
        # The extension keeps its letter case; the copies of the JPEG pictures stay JPEGs.
        self.assertIn("dlg_border@2x.PNG", self.files)
        self.assertEqual(self.image("Install0@1.5x.jpg").format, "JPEG")

    def test_each_frame_is_scaled_and_rounded_half_up(self):
        for section in self.images.values():
            name, count = section["FileName"], int(section["Count"])
            stacked = section["Orientation"] == "1"
            w, h = self.image(name).size
            frame_w, frame_h = (w, h // count) if stacked else (w // count, h)
            self.assertEqual((w, h), (frame_w, frame_h * count) if stacked else (frame_w * count, frame_h), name)
            for label, scale in SCALES.items():
                fw, fh = scaled(frame_w, scale), scaled(frame_h, scale)
                expected = (fw, fh * count) if stacked else (fw * count, fh)
                self.assertEqual(self.image(copy_name(name, label)).size, expected, copy_name(name, label))
        self.assertEqual(self.image("btn_normal@1.5x.png").size, (300, 39))
        self.assertEqual(self.image("Install0@2x.jpg").size, (960, 332))

    def test_step_image_at_2x_is_drawn_sharp_not_blown_up(self):
        one = over_band(os.path.join(self.out, "step01.png"))
        two = over_band(os.path.join(self.out, "step01@2x.png"))
        # The same drawing: brought down to 1x it is the 1x image, up to a rounding.
        self.assertLess(mean_difference(two.resize(one.size, Image.LANCZOS), one), 3)
        # Its text and corners are steeper than the 1x image enlarged can be.
        for method in (Image.LANCZOS, Image.BICUBIC):
            blown_up = one.resize(two.size, method)
            self.assertGreater(edge_strength(two), 1.3 * edge_strength(blown_up))

    def test_pictures_are_the_same_picture_at_every_scale(self):
        for name in ("Install0.jpg", "Install1.jpg", "Install2.jpg", "Install.jpg"):
            one = self.image(name).convert("L")
            for label in SCALES:
                larger = self.image(copy_name(name, label)).convert("L")
                self.assertLess(mean_difference(larger.resize(one.size, Image.LANCZOS), one), 3, name)

    def test_border_margins_fall_on_the_band_and_the_outline_at_every_scale(self):
        section = self.images["dlg_border.PNG"]
        left, top, bottom = int(section["Left"]), int(section["Top"]), int(section["Bottom"])
        one = self.image("dlg_border.PNG").convert("RGB")
        outline, body = one.getpixel((0, top + 1)), one.getpixel((left, top))
        band_edge = one.getpixel((left, top - 1))
        self.assertEqual(body, (255, 255, 255))
        self.assertNotEqual(one.getpixel((left, top - 2)), band_edge)  # the line is 1 px at 1x
        for label, scale in SCALES.items():
            name = copy_name("dlg_border.PNG", label)
            img = self.image(name).convert("RGB")
            line, x0, band_end = scaled(1, scale), scaled(left, scale), scaled(top, scale)
            # The band, its light edge line included, ends on the scaled top margin.
            self.assertEqual(img.getpixel((x0, band_end)), body, name)
            for y in range(band_end - line, band_end):
                self.assertEqual(img.getpixel((x0, y)), band_edge, name)
            self.assertNotEqual(img.getpixel((x0, band_end - line - 1)), band_edge, name)
            # The window outline is `line` whole pixels thick and lies inside the scaled margins.
            self.assertLess(line, min(x0, scaled(bottom, scale)))
            for i in range(line):
                self.assertEqual(img.getpixel((i, band_end + 1)), outline, name)
                self.assertEqual(img.getpixel((x0, img.height - 1 - i)), outline, name)
            self.assertEqual(img.getpixel((line, band_end + 1)), body, name)
            self.assertEqual(img.getpixel((x0, img.height - 1 - line)), body, name)


if __name__ == "__main__":
    unittest.main()
