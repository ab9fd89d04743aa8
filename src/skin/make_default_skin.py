#!/usr/bin/python3
"""Draws the installer's default skin: every image the window and its controls ask for,
and the three INI files that describe them.

Everything is drawn here from simple shapes (Pillow), at four times the 1x size and scaled
down, so that edges are smooth and soft edges carry PNG alpha. The output is the same on
every run. Chinese texts are drawn by the program at run time; only the step names are in
the step images, rendered with the WenQuanYi font.

Each image is written three times, for 100 %, 150 % and 200 % screens: the 1x file under
the name skin.ini gives it, and larger copies beside it named by putting "@1.5x" or "@2x"
before the extension ("btn_normal.png" -> "btn_normal@1.5x.png", "btn_normal@2x.png";
"dlg_border.PNG" -> "dlg_border@2x.PNG"). A larger copy is scaled down from the same 4x
drawing, not up from the 1x file, so text and corners stay sharp. A length v of the 1x
image is int(v * s + 0.5) at scale s (rounded half up, like the installer's MulDiv); a
strip's frames are each scaled that way and joined as in the 1x strip. The INI files
describe only the 1x images (frame count, direction, nine-slice margins in 1x pixels);
the installer scales the margins itself.

Usage: make_default_skin.py --out DIR
"""
import argparse
import math
import os
import random
import sys

from PIL import Image, ImageDraw, ImageFilter, ImageFont

SCALE = 4  # drawing happens at this multiple, then is scaled down
SCALES = (1, 1.5, 2)  # the sets of images written: 100 %, 150 % and 200 % screens

# The window: 333 x 205 dialog units of "MS Shell Dlg" 8, measured under Wine at 96 DPI.
WINDOW_W, WINDOW_H = 500, 334
BAND_H = 68  # the blue top band: title, step names, window buttons
PICTURE_W, PICTURE_H = 480, 166  # the picture area of the Install and Finish pages

# Calm blues with one warm accent for the close button.
BAND_TOP = (22, 64, 120)
BAND_BOTTOM = (40, 112, 186)
BORDER = (20, 58, 108)
BODY = (255, 255, 255)
PRIMARY = (38, 120, 214)
PRIMARY_LIGHT = (66, 146, 232)
PRIMARY_DARK = (26, 94, 176)
DISABLED_FILL = (214, 221, 230)
CHECK_BORDER = (160, 172, 188)
CLOSE_RED = (224, 72, 77)

FONT_PATH = "/usr/share/fonts/truetype/wqy/wqy-microhei.ttc"


def lerp(a, b, t):
    return tuple(int(round(x + (y - x) * t)) for x, y in zip(a, b))


def rgba(color, alpha=255):
    return tuple(color[:3]) + (alpha,)


def canvas(w, h, color=(0, 0, 0, 0)):
    return Image.new("RGBA", (w * SCALE, h * SCALE), color)


def scaled(v, scale):
    """A length of v 1x pixels at `scale`, rounded half up as the installer's MulDiv does."""
    return int(v * scale + 0.5)


def variant_name(name, scale):
    """The file name of image `name` at `scale`: "btn_normal.png" -> "btn_normal@2x.png"."""
    if scale == 1:
        return name
    stem, ext = os.path.splitext(name)
    return f"{stem}@{scale:g}x{ext}"


def finish(img, w, h, scale):
    """Scales a drawing of a w x h (1x) image down to its size at `scale`."""
    return img.resize((scaled(w, scale), scaled(h, scale)), Image.LANCZOS)


def vertical_gradient(w, h, top, bottom):
    img = Image.new("RGBA", (w, h))
    draw = ImageDraw.Draw(img)
    for y in range(h):
        draw.line([(0, y), (w, y)], fill=rgba(lerp(top, bottom, y / max(1, h - 1))))
    return img


def rounded_mask(w, h, radius, inset=0, bottom=0):
    """A w x h mask at the drawing scale with a rounded rectangle, `inset` from the sides
    and the top and `inset + bottom` from the bottom."""
    mask = Image.new("L", (w * SCALE, h * SCALE), 0)
    ImageDraw.Draw(mask).rounded_rectangle(
        [inset * SCALE, inset * SCALE, (w - inset) * SCALE - 1, (h - inset - bottom) * SCALE - 1],
        radius=radius * SCALE, fill=255)
    return mask


def strip(frames, direction=0):
    """Joins equal frames side by side (direction 0) or stacked (1)."""
    w, h = frames[0].size
    out = Image.new("RGBA", (w * len(frames), h) if direction == 0 else (w, h * len(frames)), (0, 0, 0, 0))
    for i, f in enumerate(frames):
        out.paste(f, (i * w, 0) if direction == 0 else (0, i * h))
    return out


def font(size):
    return ImageFont.truetype(FONT_PATH, size * SCALE)


# --- Window background ----------------------------------------------------------------

BORDER_LEFT, BORDER_RIGHT, BORDER_TOP, BORDER_BOTTOM = 2, 180, BAND_H, 6


def draw_border(scale):
    """dlg_border.PNG: a nine-slice whose top band, right art and 1 px frame keep their size.

    The gradient and the lines are drawn straight at the output size, so that at any scale
    the band ends exactly at the scaled top margin and the lines stay whole pixels thick."""
    w = BORDER_LEFT + 8 + BORDER_RIGHT
    h = BORDER_TOP + 8 + BORDER_BOTTOM
    out_w, out_h, band_h, line = scaled(w, scale), scaled(h, scale), scaled(BAND_H, scale), scaled(1, scale)
    img = Image.new("RGBA", (out_w, out_h), rgba(BODY))
    img.paste(vertical_gradient(out_w, band_h, BAND_TOP, BAND_BOTTOM), (0, 0))
    # Soft light circles in the band's right part: they lie in the right margin, which is
    # never stretched.
    art = canvas(w, BAND_H)
    d = ImageDraw.Draw(art)
    for cx, cy, r, a in ((w - 40, 6, 58, 22), (w - 118, 70, 44, 16), (w - 8, 60, 30, 18)):
        d.ellipse([(cx - r) * SCALE, (cy - r) * SCALE, (cx + r) * SCALE, (cy + r) * SCALE], fill=(255, 255, 255, a))
    band = img.crop((0, 0, out_w, band_h))
    band.alpha_composite(finish(art, w, BAND_H, scale))
    img.paste(band, (0, 0))
    d = ImageDraw.Draw(img)
    # A thin light line under the band gives it an edge.
    d.rectangle([0, band_h - line, out_w - 1, band_h - 1], fill=rgba(lerp(BAND_BOTTOM, (255, 255, 255), 0.25)))
    d.rectangle([0, 0, out_w - 1, out_h - 1], outline=rgba(BORDER), width=line)
    return img


def draw_logo(scale):
    """Logo_Title.png: a white rounded tile with a play-and-wave mark."""
    size = 26
    img = canvas(size, size)
    tile = Image.new("RGBA", img.size, (255, 255, 255, 245))
    img.paste(tile, (0, 0), rounded_mask(size, size, 6, inset=1))
    d = ImageDraw.Draw(img)
    s = SCALE
    d.polygon([(8 * s, 7 * s), (8 * s, 19 * s), (18 * s, 13 * s)], fill=rgba(PRIMARY))
    d.arc([12 * s, 6 * s, 24 * s, 20 * s], -50, 50, fill=rgba(PRIMARY_LIGHT), width=int(1.6 * s))
    return finish(img, size, size, scale)


STEP_W, STEP_H = 42, 20
STEP_NAMES = ("欢迎", "安装", "完成")


def draw_step(name, current, scale):
    img = canvas(STEP_W, STEP_H)
    d = ImageDraw.Draw(img)
    if current:
        pill = Image.new("RGBA", img.size, (255, 255, 255, 255))
        img.paste(pill, (0, 0), rounded_mask(STEP_W, STEP_H, 10, inset=1))
        color = rgba(PRIMARY_DARK)
    else:
        d.rounded_rectangle([1 * SCALE, 1 * SCALE, (STEP_W - 1) * SCALE - 1, (STEP_H - 1) * SCALE - 1],
                            radius=10 * SCALE, outline=(255, 255, 255, 90), width=SCALE)
        color = (255, 255, 255, 200)
    f = font(12)
    box = d.textbbox((0, 0), name, font=f)
    x = (STEP_W * SCALE - (box[2] - box[0])) / 2 - box[0]
    y = (STEP_H * SCALE - (box[3] - box[1])) / 2 - box[1]
    d.text((x, y), name, font=f, fill=color)
    return finish(img, STEP_W, STEP_H, scale)


# --- Buttons ----------------------------------------------------------------------------

def button_face(w, h, top, bottom, radius, ring=None, shadow=True):
    img = canvas(w, h)
    if shadow:
        sh = Image.new("RGBA", img.size, (20, 50, 90, 60))  # a soft shadow below the face
        mask = rounded_mask(w, h, radius, inset=1, bottom=1)
        shifted = Image.new("L", img.size, 0)
        shifted.paste(mask, (0, SCALE))
        img.paste(sh, (0, 0), shifted.filter(ImageFilter.GaussianBlur(SCALE)))
    fill = vertical_gradient(w * SCALE, h * SCALE, top, bottom)
    img.paste(fill, (0, 0), rounded_mask(w, h, radius, inset=1, bottom=1))
    if ring is not None:
        # On a layer of its own: drawing a translucent colour straight into the face would
        # replace the face's pixels instead of blending with them.
        layer = Image.new("RGBA", img.size, ring[:3] + (0,))
        ImageDraw.Draw(layer).rounded_rectangle([2 * SCALE, 2 * SCALE, (w - 2) * SCALE - 1, (h - 3) * SCALE - 1],
                                                radius=(radius - 1) * SCALE, outline=ring, width=int(1.2 * SCALE))
        img.alpha_composite(layer)
    return img


def button_strip(scale, w, h, radius, icon=None, caption=None):
    """Five faces: normal, hover, pressed, disabled, focused. The window clears the text
    of the buttons that get an image, so their caption is part of the image."""
    looks = [
        (PRIMARY_LIGHT, PRIMARY, None, True),
        (lerp(PRIMARY_LIGHT, (255, 255, 255), 0.18), PRIMARY_LIGHT, None, True),
        (PRIMARY_DARK, lerp(PRIMARY_DARK, (0, 0, 0), 0.12), None, False),
        (DISABLED_FILL, lerp(DISABLED_FILL, (0, 0, 0), 0.05), None, False),
        (PRIMARY_LIGHT, PRIMARY, (255, 255, 255, 150), True),
    ]
    frames = []
    for i, (top, bottom, ring, shadow) in enumerate(looks):
        img = button_face(w, h, top, bottom, radius, ring, shadow)
        color = (255, 255, 255, 255) if i != 3 else (150, 160, 172, 255)
        if icon is not None:
            icon(ImageDraw.Draw(img), w, h, color, i == 2)
        if caption is not None:
            draw_caption(ImageDraw.Draw(img), w, h, caption, color, i == 2)
        frames.append(finish(img, w, h, scale))
    return strip(frames)


def draw_caption(d, w, h, text, color, pressed):
    """The caption centred in the space right of the icon (which sits around x = 34)."""
    f = font(15)
    box = d.textbbox((0, 0), text, font=f)
    off = SCALE if pressed else 0
    left = 46 * SCALE
    x = left + ((w - 14) * SCALE - left - (box[2] - box[0])) // 2 - box[0] + off
    y = (h * SCALE - (box[3] - box[1])) // 2 - box[1] + off
    d.text((x, y), text, font=f, fill=color)


def download_icon(d, w, h, color, pressed):
    s = SCALE
    off = 1 if pressed else 0
    cx, cy = 34 + off, h / 2 - 1 + off
    d.line([(cx * s, (cy - 7) * s), (cx * s, (cy + 3) * s)], fill=color, width=int(2 * s))
    d.line([((cx - 5) * s, (cy - 1) * s), (cx * s, (cy + 4) * s), ((cx + 5) * s, (cy - 1) * s)],
           fill=color, width=int(2 * s), joint="curve")
    d.line([((cx - 7) * s, (cy + 8) * s), ((cx + 7) * s, (cy + 8) * s)], fill=color, width=int(2 * s))


def play_icon(d, w, h, color, pressed):
    s = SCALE
    off = 1 if pressed else 0
    cx, cy = 34 + off, h / 2 - 0.5 + off
    d.ellipse([(cx - 9) * s, (cy - 9) * s, (cx + 9) * s, (cy + 9) * s], outline=color, width=int(1.6 * s))
    d.polygon([((cx - 3) * s, (cy - 5) * s), ((cx - 3) * s, (cy + 5) * s), ((cx + 5) * s, cy * s)], fill=color)


CHECK_SIZE = 16


def check_frame(kind, checked, scale):
    size = CHECK_SIZE
    img = canvas(size, size)
    d = ImageDraw.Draw(img)
    s = SCALE
    box = [1 * s, 1 * s, (size - 1) * s - 1, (size - 1) * s - 1]
    if checked:
        fill = {"normal": PRIMARY, "hover": PRIMARY_LIGHT, "pressed": PRIMARY_DARK,
                "disabled": (182, 192, 205)}[kind]
        d.rounded_rectangle(box, radius=3 * s, fill=rgba(fill))
        d.line([(4.2 * s, 8.2 * s), (7 * s, 11 * s), (12 * s, 5.2 * s)], fill=(255, 255, 255, 255),
               width=int(1.9 * s), joint="curve")
    else:
        outline = {"normal": CHECK_BORDER, "hover": PRIMARY, "pressed": PRIMARY_DARK,
                   "disabled": (205, 212, 221)}[kind]
        inner = {"normal": (255, 255, 255), "hover": (240, 247, 255), "pressed": (222, 236, 252),
                 "disabled": (238, 241, 245)}[kind]
        d.rounded_rectangle(box, radius=3 * s, fill=rgba(inner), outline=rgba(outline), width=int(1.2 * s))
    return finish(img, size, size, scale)


def check_strip(scale):
    # 0 unchecked, 1 hover, 2 pressed, 3 disabled, 4 disabled (unused),
    # 5 checked, 6 checked hover, 7 checked pressed, 8 checked disabled.
    kinds = [("normal", False), ("hover", False), ("pressed", False), ("disabled", False), ("disabled", False),
             ("normal", True), ("hover", True), ("pressed", True), ("disabled", True)]
    return strip([check_frame(k, c, scale) for k, c in kinds])


CAPTION_W, CAPTION_H = 28, 22


def caption_strip(scale, glyph, hover_fill, pressed_fill):
    frames = []
    looks = [(None, 230), (hover_fill, 255), (pressed_fill, 255), (None, 110), (None, 230)]
    for fill, glyph_alpha in looks:
        img = canvas(CAPTION_W, CAPTION_H)
        if fill is not None:
            img.paste(Image.new("RGBA", img.size, fill), (0, 0), rounded_mask(CAPTION_W, CAPTION_H, 4, inset=1))
        glyph(ImageDraw.Draw(img), (255, 255, 255, glyph_alpha))
        frames.append(finish(img, CAPTION_W, CAPTION_H, scale))
    return strip(frames)


def minimise_glyph(d, color):
    s = SCALE
    d.line([(9 * s, 11.5 * s), (19 * s, 11.5 * s)], fill=color, width=int(1.6 * s))


def close_glyph(d, color):
    s = SCALE
    d.line([(9.5 * s, 6.5 * s), (18.5 * s, 15.5 * s)], fill=color, width=int(1.6 * s))
    d.line([(18.5 * s, 6.5 * s), (9.5 * s, 15.5 * s)], fill=color, width=int(1.6 * s))


# --- Pictures of the Install and Finish pages ----------------------------------------------

def picture_base(top, bottom):
    w, h = PICTURE_W, PICTURE_H
    img = vertical_gradient(w * SCALE, h * SCALE, top, bottom)
    return img, ImageDraw.Draw(img)


def soft_circles(img, rng, count, color, alpha_range, radius_range):
    # Transparent pixels of the layer carry the circles' colour, so that blurring fades
    # the edges instead of darkening them.
    layer = Image.new("RGBA", img.size, rgba(color, 0))
    d = ImageDraw.Draw(layer)
    w, h = img.size
    for _ in range(count):
        r = rng.uniform(*radius_range) * SCALE
        x, y = rng.uniform(0, w), rng.uniform(0, h)
        d.ellipse([x - r, y - r, x + r, y + r], fill=rgba(color, int(rng.uniform(*alpha_range))))
    img.alpha_composite(layer.filter(ImageFilter.GaussianBlur(2 * SCALE)))


def picture_fast(rng):
    """Install0.jpg: a player card with rising bars."""
    img, _ = picture_base((232, 242, 253), (205, 225, 248))
    soft_circles(img, rng, 9, (255, 255, 255), (60, 120), (20, 60))
    layer = Image.new("RGBA", img.size, (0, 0, 0, 0))
    d = ImageDraw.Draw(layer)
    s = SCALE
    d.rounded_rectangle([150 * s, 28 * s, 330 * s, 138 * s], radius=14 * s, fill=(255, 255, 255, 235))
    d.rounded_rectangle([166 * s, 44 * s, 222 * s, 100 * s], radius=10 * s, fill=rgba(PRIMARY))
    d.polygon([(186 * s, 58 * s), (186 * s, 86 * s), (208 * s, 72 * s)], fill=(255, 255, 255, 255))
    for i, bar in enumerate((18, 30, 44, 26, 38, 52, 34, 22, 40)):
        x = 236 + i * 10
        d.rounded_rectangle([x * s, (100 - bar) * s, (x + 6) * s, 100 * s], radius=3 * s,
                            fill=rgba(lerp(PRIMARY_LIGHT, PRIMARY_DARK, i / 8)))
    d.rounded_rectangle([166 * s, 114 * s, 314 * s, 120 * s], radius=3 * s, fill=(220, 230, 242, 255))
    d.rounded_rectangle([166 * s, 114 * s, 250 * s, 120 * s], radius=3 * s, fill=rgba(PRIMARY))
    img.alpha_composite(layer)
    return img


def picture_waves(rng):
    """Install1.jpg: calm layered waves."""
    img, _ = picture_base((226, 246, 244), (196, 230, 236))
    soft_circles(img, rng, 7, (255, 255, 255), (50, 110), (16, 50))
    w, h = img.size
    for i, (color, alpha) in enumerate((((120, 200, 205), 170), ((70, 165, 190), 200), ((38, 120, 170), 235))):
        layer = Image.new("RGBA", img.size, (0, 0, 0, 0))
        d = ImageDraw.Draw(layer)
        base = h * (0.55 + 0.14 * i)
        points = [(0, h)]
        for x in range(0, w + 8, 8):
            points.append((x, base + math.sin(x / w * math.pi * (2 + i) + i) * h * 0.07))
        points.append((w, h))
        d.polygon(points, fill=rgba(color, alpha))
        img.alpha_composite(layer)
    return img


def picture_shapes(rng):
    """Install2.jpg: soft geometric hills under a large sun."""
    img, _ = picture_base((238, 236, 252), (214, 220, 246))
    w, h = img.size
    layer = Image.new("RGBA", img.size, (255, 214, 150, 0))
    d = ImageDraw.Draw(layer)
    s = SCALE
    d.ellipse([330 * s, 18 * s, 410 * s, 98 * s], fill=(255, 214, 150, 230))
    img.alpha_composite(layer.filter(ImageFilter.GaussianBlur(s)))
    for i, (color, peak) in enumerate((((170, 178, 230), 0.35), ((118, 132, 210), 0.5), ((80, 96, 180), 0.66))):
        layer = Image.new("RGBA", img.size, (0, 0, 0, 0))
        d = ImageDraw.Draw(layer)
        offset = rng.uniform(-60, 60) * s
        d.polygon([(-40 * s + offset, h), (w * 0.3 + offset, h * peak), (w * 0.62 + offset, h * (peak + 0.18)),
                   (w * 0.85 + offset, h * (peak + 0.05)), (w + 40 * s, h)], fill=rgba(color, 235))
        img.alpha_composite(layer)
    return img


def picture_done(rng):
    """Install.jpg: a large check mark in a circle with a few light dots."""
    img, _ = picture_base((232, 248, 240), (206, 236, 222))
    soft_circles(img, rng, 10, (255, 255, 255), (50, 100), (6, 22))
    layer = Image.new("RGBA", img.size, (0, 0, 0, 0))
    d = ImageDraw.Draw(layer)
    s = SCALE
    cx, cy, r = PICTURE_W / 2, PICTURE_H / 2, 46
    d.ellipse([(cx - r - 8) * s, (cy - r - 8) * s, (cx + r + 8) * s, (cy + r + 8) * s], fill=(255, 255, 255, 140))
    d.ellipse([(cx - r) * s, (cy - r) * s, (cx + r) * s, (cy + r) * s], fill=(46, 164, 110, 255))
    d.line([((cx - 20) * s, (cy + 1) * s), ((cx - 6) * s, (cy + 15) * s), ((cx + 22) * s, (cy - 14) * s)],
           fill=(255, 255, 255, 255), width=int(8 * s), joint="curve")
    img.alpha_composite(layer)
    return img


def save_jpeg(img, path, scale):
    small = finish(img, PICTURE_W, PICTURE_H, scale).convert("RGB")
    small.save(path, "JPEG", quality=90, optimize=False, progressive=False)


# --- INI files --------------------------------------------------------------------------------

def image_section(name, count, margins=(0, 0, 0, 0), orientation=0, file_name=None):
    left, top, right, bottom = margins
    return (f"[{name}]\r\nFileName={file_name or name}\r\nCount={count}\r\nFrameDiff=0\r\n"
            f"Orientation={orientation}\r\nLeft={left}\r\nTop={top}\r\nRight={right}\r\nBottom={bottom}\r\n\r\n")


def write_text(path, text):
    with open(path, "wb") as f:
        f.write(text.encode("ascii"))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out", required=True, help="folder to write the skin into")
    args = parser.parse_args()
    out = args.out
    os.makedirs(out, exist_ok=True)
    rng = random.Random(20261208)

    # The pictures share one random generator, so each is drawn once, in this order, and
    # every scale gets the same picture.
    pictures = {
        "Install0.jpg": picture_fast(rng),
        "Install1.jpg": picture_waves(rng),
        "Install2.jpg": picture_shapes(rng),
        "Install.jpg": picture_done(rng),
    }
    for scale in SCALES:
        images = {}
        images["dlg_border.PNG"] = draw_border(scale)
        images["Logo_Title.png"] = draw_logo(scale)
        for index, name in enumerate(STEP_NAMES):
            images[f"step{index}0.png"] = draw_step(name, False, scale)
            images[f"step{index}1.png"] = draw_step(name, True, scale)
        images["btn_install.png"] = button_strip(scale, 156, 40, 7, download_icon, "立即安装")
        images["btn_run.png"] = button_strip(scale, 156, 40, 7, play_icon, "立即启动")
        images["btn_normal.png"] = button_strip(scale, 40, 26, 4)
        images["btn_check.png"] = check_strip(scale)
        images["dlg_min.png"] = caption_strip(scale, minimise_glyph, (255, 255, 255, 48), (255, 255, 255, 80))
        images["dlg_close.png"] = caption_strip(scale, close_glyph, rgba(CLOSE_RED),
                                                rgba(lerp(CLOSE_RED, (0, 0, 0), 0.2)))
        for name, img in images.items():
            img.save(os.path.join(out, variant_name(name, scale)), "PNG", optimize=False)
        for name, img in pictures.items():
            save_jpeg(img, os.path.join(out, variant_name(name, scale)), scale)

    skin = "; The installer's default skin, written by src/skin/make_default_skin.py.\r\n\r\n"
    skin += image_section("dlg_border.PNG", 1, (BORDER_LEFT, BORDER_TOP, BORDER_RIGHT, BORDER_BOTTOM))
    skin += image_section("Logo_Title.png", 1)
    for index in range(3):
        for current in range(2):
            skin += image_section(f"step{index}{current}.png", 1)
    for name in ("Install0.jpg", "Install1.jpg", "Install2.jpg", "Install.jpg"):
        skin += image_section(name, 1)
    skin += image_section("btn_install.png", 5, (8, 8, 8, 8))
    skin += image_section("btn_run.png", 5, (8, 8, 8, 8))
    skin += image_section("btn_normal.png", 5, (5, 5, 5, 5))
    skin += image_section("btn_check.png", 9)
    skin += image_section("dlg_min.png", 5, (5, 5, 5, 5))
    skin += image_section("dlg_close.png", 5, (5, 5, 5, 5))
    write_text(os.path.join(out, "skin.ini"), skin)

    write_text(os.path.join(out, "controls.ini"),
               "; Text colours of the skinned controls.\r\n\r\n"
               "[LrButton]\r\nDeftextR=255\r\nDeftextG=255\r\nDeftextB=255\r\n\r\n"
               "[LrCheckBox]\r\nDeftextR=52\r\nDeftextG=64\r\nDeftextB=80\r\n")
    # The publisher's place for overrides: sections here replace those of skin.ini.
    write_text(os.path.join(out, "skin_custom.ini"),
               "; Sections here replace the sections of the same name in skin.ini as a whole.\r\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
