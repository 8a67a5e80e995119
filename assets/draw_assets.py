#!/usr/bin/python3
"""Draws the updater's pictures and its icon. Run from anywhere; the files are
written beside this script. Needs Pillow (Debian: python3-pil)."""

import math
import os
import struct

from PIL import Image, ImageDraw, ImageFont

HERE = os.path.dirname(os.path.abspath(__file__))
FONT_BOLD = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf"
PANEL = (240, 240, 240)  # the button face the pictures sit on


def supersampled(size, scale, paint):
    """Paints at `scale` times the size and shrinks, for smooth edges and alpha."""
    big = Image.new("RGBA", (size[0] * scale, size[1] * scale), (0, 0, 0, 0))
    paint(ImageDraw.Draw(big), scale)
    return big.resize(size, Image.LANCZOS)


def title_icon():
    """A document page with a folded top-right corner and a few lines of text."""

    def paint(d, s):
        left, top, right, bottom, fold = 6 * s, 1 * s, 26 * s, 31 * s, 8 * s
        page = [(left, top), (right - fold, top), (right, top + fold), (right, bottom), (left, bottom)]
        d.polygon(page, fill=(255, 255, 255, 255), outline=(70, 80, 95, 255))
        d.line(page + [page[0]], fill=(70, 80, 95, 255), width=s)
        corner = [(right - fold, top), (right - fold, top + fold), (right, top + fold)]
        d.polygon(corner, fill=(200, 210, 225, 255))
        d.line(corner + [corner[0]], fill=(70, 80, 95, 255), width=s)
        for i, length in enumerate([12, 14, 10, 14, 13, 8]):
            y = (11 + i * 3.3) * s
            d.rectangle([left + 3 * s, y, left + (3 + length) * s, y + 1.4 * s], fill=(40, 100, 190, 255))

    supersampled((32, 32), 8, paint).save(os.path.join(HERE, "titulo.png"))


def arrow_arc(d, centre, radius, start, end, width, colour, head):
    """A circular arc from `start` to `end` degrees (clockwise on screen) ending in an arrowhead."""
    cx, cy = centre
    box = [cx - radius - width / 2, cy - radius - width / 2, cx + radius + width / 2, cy + radius + width / 2]
    d.arc(box, start, end, fill=colour, width=int(width))
    t = math.radians(end)
    px, py = cx + radius * math.cos(t), cy + radius * math.sin(t)
    tx, ty = -math.sin(t), math.cos(t)
    nx, ny = math.cos(t), math.sin(t)
    d.polygon(
        [
            (px + tx * head, py + ty * head),
            (px + nx * head * 0.95, py + ny * head * 0.95),
            (px - nx * head * 0.95, py - ny * head * 0.95),
        ],
        fill=colour,
    )


def button_glyph():
    """Two blue circular arrows chasing each other."""

    def paint(d, s):
        centre, radius = (8 * s, 8 * s), 5.2 * s
        for start, end in [(200, 335), (20, 155)]:
            arrow_arc(d, centre, radius, start, end, 2.9 * s, (20, 60, 140, 255), 3.4 * s)
            arrow_arc(d, centre, radius, start + 3, end - 2, 1.7 * s, (60, 140, 230, 255), 2.4 * s)

    supersampled((16, 16), 16, paint).save(os.path.join(HERE, "atualizar.png"))


def quantized(rgba, colours, matte):
    """Blends partial alpha onto `matte`, keeps `colours` colours and one transparent index."""
    base = Image.new("RGB", rgba.size, matte)
    alpha = rgba.getchannel("A")
    base.paste(rgba.convert("RGB"), mask=alpha)
    paletted = base.quantize(colors=colours, method=Image.MEDIANCUT, dither=Image.NONE)
    palette = paletted.getpalette()[: colours * 3]
    transparent = colours
    palette += [matte[0], matte[1], matte[2]]
    paletted.putpalette(palette)
    pixels = paletted.load()
    a = alpha.load()
    for y in range(rgba.size[1]):
        for x in range(rgba.size[0]):
            if a[x, y] < 128:
                pixels[x, y] = transparent
    return paletted, transparent


def product_logo():
    """The product's badge: a disc with a white V and the name below, in 16 colours."""

    def paint(d, s):
        cx, cy, r = 64 * s, 58 * s, 54 * s
        rings = [(18, 70, 140), (28, 96, 176), (44, 124, 204), (70, 152, 222)]
        for i, colour in enumerate(rings):
            rr = r - i * 9 * s
            d.ellipse([cx - rr, cy - rr, cx + rr, cy + rr], fill=colour + (255,))
        v = [
            (cx - 34 * s, cy - 30 * s), (cx - 18 * s, cy - 30 * s), (cx, cy + 14 * s),
            (cx + 18 * s, cy - 30 * s), (cx + 34 * s, cy - 30 * s), (cx + 8 * s, cy + 32 * s),
            (cx - 8 * s, cy + 32 * s),
        ]
        d.polygon(v, fill=(255, 255, 255, 255))
        font = ImageFont.truetype(FONT_BOLD, 27 * s)
        text = "Vantra"
        w = d.textlength(text, font=font)
        d.text((cx - w / 2, 122 * s), text, font=font, fill=(18, 60, 120, 255))
        d.rectangle([20 * s, 157 * s, 108 * s, 160 * s], fill=(44, 124, 204, 255))

    image, transparent = quantized(supersampled((128, 166), 4, paint), 15, PANEL)
    image.save(os.path.join(HERE, "vantra.gif"), transparency=transparent, optimize=False)


def application_icon():
    """A blue disc with a white arrow coming down onto a tray: 32 x 32, 16 colours."""

    def paint(d, s):
        d.ellipse([1 * s, 1 * s, 31 * s, 31 * s], fill=(20, 70, 150, 255))
        d.ellipse([3 * s, 3 * s, 29 * s, 29 * s], fill=(40, 120, 210, 255))
        arrow = [(13 * s, 6 * s), (19 * s, 6 * s), (19 * s, 14 * s), (24 * s, 14 * s),
                 (16 * s, 22 * s), (8 * s, 14 * s), (13 * s, 14 * s)]
        d.polygon(arrow, fill=(255, 255, 255, 255))
        d.rectangle([8 * s, 24 * s, 24 * s, 26.5 * s], fill=(255, 255, 255, 255))

    rgba = supersampled((32, 32), 8, paint)
    image, transparent = quantized(rgba, 16, PANEL)
    palette = image.getpalette()[: 16 * 3]
    pixels = image.load()
    opaque = [[pixels[x, y] != transparent for x in range(32)] for y in range(32)]

    # The PNG for the window: the same 16 colours, transparent outside the disc.
    out = Image.new("RGBA", (32, 32), (0, 0, 0, 0))
    for y in range(32):
        for x in range(32):
            if opaque[y][x]:
                i = pixels[x, y]
                out.putpixel((x, y), tuple(palette[i * 3 : i * 3 + 3]) + (255,))
    out.save(os.path.join(HERE, "AtualizadorVantra.png"))

    # The .ico: one 4-bit DIB image with its AND mask, rows bottom-up.
    xor = bytearray()
    mask = bytearray()
    for y in reversed(range(32)):
        row = [pixels[x, y] if opaque[y][x] else 0 for x in range(32)]
        xor += bytes((row[x] << 4) | row[x + 1] for x in range(0, 32, 2))
        bits = 0
        for x in range(32):
            bits = (bits << 1) | (0 if opaque[y][x] else 1)
        mask += struct.pack(">I", bits)
    colours = b"".join(bytes((palette[i * 3 + 2], palette[i * 3 + 1], palette[i * 3], 0)) for i in range(16))
    header = struct.pack("<IiiHHIIiiII", 40, 32, 64, 1, 4, 0, len(xor) + len(mask), 0, 0, 16, 0)
    image_data = header + colours + bytes(xor) + bytes(mask)
    directory = struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHII", 32, 32, 16, 0, 1, 4, len(image_data), 22)
    with open(os.path.join(HERE, "AtualizadorVantra.ico"), "wb") as f:
        f.write(directory + image_data)


if __name__ == "__main__":
    title_icon()
    button_glyph()
    product_logo()
    application_icon()
