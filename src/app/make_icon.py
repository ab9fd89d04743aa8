#!/usr/bin/env python3
"""Draws the installer's icon (a download arrow into a tray on a rounded blue tile)
at the sizes Windows asks for and writes it as one .ico file."""
import sys

from PIL import Image, ImageDraw


def tile(size):
    scale = 4  # draw large, then shrink, for smooth edges
    s = size * scale
    img = Image.new("RGBA", (s, s), (0, 0, 0, 0))
    d = ImageDraw.Draw(img)
    d.rounded_rectangle((0, 0, s - 1, s - 1), radius=s // 5, fill=(32, 118, 214, 255))
    d.rounded_rectangle((s * 0.06, s * 0.06, s * 0.94, s * 0.5), radius=s // 6, fill=(70, 150, 235, 255))
    w = s * 0.16
    cx = s / 2
    d.rectangle((cx - w / 2, s * 0.16, cx + w / 2, s * 0.5), fill="white")
    d.polygon([(cx - s * 0.24, s * 0.46), (cx + s * 0.24, s * 0.46), (cx, s * 0.72)], fill="white")
    d.rectangle((s * 0.2, s * 0.78, s * 0.8, s * 0.86), fill="white")
    return img.resize((size, size), Image.LANCZOS)


def main(out):
    sizes = [16, 24, 32, 48, 64, 256]
    images = [tile(n) for n in sizes]
    images[-1].save(out, format="ICO", sizes=[(n, n) for n in sizes], append_images=images[:-1])


if __name__ == "__main__":
    main(sys.argv[1])
