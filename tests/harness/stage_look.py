"""What the installer's real window shows, read from its screenshots: which step image each
step holds, which picture fills the picture area, and how much of the progress bar is filled.
The expected pixels come from the skin the installer drew with."""
import os

from PIL import Image

from tests.harness.wine import win64_build_dir

STEP_WELCOME, STEP_FINISH, STEP_INSTALL, PICTURE, PROGRESS = 1008, 1009, 1010, 1012, 1000
# The step image of each step, by stage: "1" in the second digit is the highlighted look.
STEP_IMAGES = {
    "welcome": {STEP_WELCOME: "step01.png", STEP_INSTALL: "step10.png", STEP_FINISH: "step20.png"},
    "install": {STEP_WELCOME: "step00.png", STEP_INSTALL: "step11.png", STEP_FINISH: "step20.png"},
    "finish": {STEP_WELCOME: "step00.png", STEP_INSTALL: "step10.png", STEP_FINISH: "step21.png"},
}
OTHER_LOOK = {"step00.png": "step01.png", "step01.png": "step00.png", "step10.png": "step11.png",
              "step11.png": "step10.png", "step20.png": "step21.png", "step21.png": "step20.png"}


def skin_image(name, skin_dir=None):
    return Image.open(os.path.join(skin_dir or os.path.join(win64_build_dir(), "src", "app", "skin", "Default"),
                                   name))


def control_box(window, control_id, size=None):
    """The control's box in window coordinates (left, top, right, bottom), or the box of
    `size` at the control's top-left corner."""
    left, top = window["rect"][0], window["rect"][1]
    c = next(c for c in window["children"] if c["id"] == control_id)
    l, t, r, b = c["rect"]
    if size:
        r, b = l + size[0], t + size[1]
    return (l - left, t - top, r - left, b - top)


def mean_difference(shot, box, image):
    """Mean absolute RGB difference between the screenshot's `box` and `image`, over the
    pixels the image draws fully opaque (what lies under the others shows through)."""
    region = shot.crop(box).convert("RGB")
    image = image.convert("RGBA")
    if region.size != image.size:
        image = image.resize(region.size)
    total, count = 0, 0
    for (r, g, b), (ir, ig, ib, ia) in zip(region.getdata(), image.getdata()):
        if ia == 255:
            total += abs(r - ir) + abs(g - ig) + abs(b - ib)
            count += 3
    return total / count if count else float("inf")


def step_looks(shot_path, window, stage):
    """For each step: (expected image, its difference, the other look's difference)."""
    shot = Image.open(shot_path)
    found = {}
    for control_id, name in STEP_IMAGES[stage].items():
        image = skin_image(name)
        box = control_box(window, control_id, image.size)
        found[control_id] = (name, mean_difference(shot, box, image),
                             mean_difference(shot, box, skin_image(OTHER_LOOK[name])))
    return found


def picture_difference(shot_path, window, names):
    """The smallest difference between the picture area and one of the skin pictures `names`."""
    shot = Image.open(shot_path)
    box = control_box(window, PICTURE)
    return min(mean_difference(shot, box, skin_image(name)) for name in names)


def filled_share(shot_path, window):
    """The share of the progress bar's inside that holds the fill colour, read along its
    middle row: pixels that differ clearly from the empty end of the bar are filled."""
    shot = Image.open(shot_path).convert("RGB")
    left, top, right, bottom = control_box(window, PROGRESS)
    y = (top + bottom) // 2
    inside = [shot.getpixel((x, y)) for x in range(left + 2, right - 2)]
    empty = inside[-1]
    filled = sum(1 for p in inside if sum(abs(a - b) for a, b in zip(p, empty)) > 60)
    return filled / len(inside)
