"""What the installer's real window shows, read from its screenshots: which step image each
step holds, which picture fills the picture area, and how much of the progress bar is filled.
The expected pixels come from the skin the installer drew with."""
import os

from PIL import Image

from harness.builds import win64_build_dir

STEP_WELCOME, STEP_FINISH, STEP_INSTALL, PICTURE, PROGRESS = 1008, 1009, 1010, 1012, 1000
# The step image of each step, by stage: "1" in the second digit is the highlighted look.
STEP_IMAGES = {
    "welcome": {STEP_WELCOME: "step01.png", STEP_INSTALL: "step10.png", STEP_FINISH: "step20.png"},
    "install": {STEP_WELCOME: "step00.png", STEP_INSTALL: "step11.png", STEP_FINISH: "step20.png"},
    "finish": {STEP_WELCOME: "step00.png", STEP_INSTALL: "step10.png", STEP_FINISH: "step21.png"},
}
OTHER_LOOK = {"step00.png": "step01.png", "step01.png": "step00.png", "step10.png": "step11.png",
              "step11.png": "step10.png", "step20.png": "step21.png", "step21.png": "step20.png"}


def variant_name(name, scale):
    """The skin's copy of image `name` for `scale` (1, 1.5 or 2): "step01@1.5x.png"."""
    if scale == 1:
        return name
    stem, ext = os.path.splitext(name)
    return f"{stem}@{scale:g}x{ext}"


def skin_image(name, skin_dir=None, scale=1):
    return Image.open(os.path.join(skin_dir or os.path.join(win64_build_dir(), "src", "app", "skin", "Default"),
                                   variant_name(name, scale)))


def blown_up(name, scale, skin_dir=None):
    """The 1x image enlarged to `scale` with bicubic filtering: what a window stretched by
    the system, or drawn from 1x images only, would show."""
    image = skin_image(name, skin_dir).convert("RGBA")
    return image.resize((int(image.width * scale + 0.5), int(image.height * scale + 0.5)), Image.BICUBIC)


def first_frame(image, count):
    """Frame 0 of a side-by-side strip of `count` frames."""
    return image.crop((0, 0, image.width // count, image.height))


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


def step_looks(shot_path, window, stage, scale=1):
    """For each step: (expected image, its difference, the other look's difference), with
    the skin's images for `scale`."""
    shot = Image.open(shot_path)
    found = {}
    for control_id, name in STEP_IMAGES[stage].items():
        image = skin_image(name, scale=scale)
        box = control_box(window, control_id, image.size)
        found[control_id] = (name, mean_difference(shot, box, image),
                             mean_difference(shot, box, skin_image(OTHER_LOOK[name], scale=scale)))
    return found


def picture_difference(shot_path, window, names, scale=1):
    """The smallest difference between the picture area and one of the skin pictures `names`."""
    shot = Image.open(shot_path)
    box = control_box(window, PICTURE)
    return min(mean_difference(shot, box, skin_image(name, scale=scale)) for name in names)


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
