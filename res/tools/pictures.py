#!/usr/bin/env python3
"""Draws the program's pictures and writes them as Windows bitmap and icon files, or as a
C++ source file of pixels for the terminal program.

    pictures.py <output folder>
    pictures.py --terminal <output .cpp file>

drive.bmp      65 x 52, 16 colours: the front of a tape drive with a cartridge half in.
agreement.bmp  192 x 281, 24-bit: a tape cartridge over a dark gradient, an upward arrow.
fwupgrade.ico  32 x 32 and 16 x 16, 32-bit with mask: a cartridge with a green arrow.

The C++ file defines res::TerminalPictures() (res/TerminalPictures.h): the drive and the
agreement picture, pixel for pixel as in the bitmaps, by their resource ids.

Only the standard library is used; every byte of the files is written here.
"""

import math
import os
import struct
import sys

# The 16 colours of the standard Windows palette, as (r, g, b).
PALETTE16 = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, MAROON, GREEN, OLIVE, NAVY, PURPLE, TEAL, SILVER = range(8)
GREY, RED, LIME, YELLOW, BLUE, FUCHSIA, AQUA, WHITE = range(8, 16)


class Canvas:
    """A picture as rows of pixel values (palette indexes or RGB tuples), top row first."""

    def __init__(self, width, height, fill):
        self.width = width
        self.height = height
        self.pixels = [[fill] * width for _ in range(height)]

    def put(self, x, y, value):
        if 0 <= x < self.width and 0 <= y < self.height:
            self.pixels[y][x] = value

    def rect(self, x0, y0, x1, y1, value):
        """Fills x0..x1, y0..y1 inclusive."""
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                self.put(x, y, value)

    def frame(self, x0, y0, x1, y1, value):
        for x in range(x0, x1 + 1):
            self.put(x, y0, value)
            self.put(x, y1, value)
        for y in range(y0, y1 + 1):
            self.put(x0, y, value)
            self.put(x1, y, value)

    def rounded(self, x0, y0, x1, y1, radius, value):
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                dx = max(x0 + radius - x, 0, x - (x1 - radius))
                dy = max(y0 + radius - y, 0, y - (y1 - radius))
                if dx * dx + dy * dy <= radius * radius:
                    self.put(x, y, value)

    def disc(self, cx, cy, radius, value, inner=0.0):
        for y in range(int(cy - radius) - 1, int(cy + radius) + 2):
            for x in range(int(cx - radius) - 1, int(cx + radius) + 2):
                d = math.hypot(x + 0.5 - cx, y + 0.5 - cy)
                if inner <= d <= radius:
                    self.put(x, y, value)

    def line(self, x0, y0, x1, y1, value):
        steps = max(abs(x1 - x0), abs(y1 - y0), 1)
        for i in range(steps + 1):
            self.put(round(x0 + (x1 - x0) * i / steps), round(y0 + (y1 - y0) * i / steps), value)

    def polygon(self, points, value):
        """Fills a polygon by the even-odd rule, sampling pixel centres."""
        ys = [p[1] for p in points]
        for y in range(int(min(ys)), int(max(ys)) + 1):
            sy = y + 0.5
            crossings = []
            for (ax, ay), (bx, by) in zip(points, points[1:] + points[:1]):
                if (ay <= sy < by) or (by <= sy < ay):
                    crossings.append(ax + (sy - ay) * (bx - ax) / (by - ay))
            crossings.sort()
            for left, right in zip(crossings[::2], crossings[1::2]):
                for x in range(int(math.ceil(left - 0.5)), int(math.floor(right - 0.5)) + 1):
                    self.put(x, y, value)


def bmp_file(canvas, bits):
    """A BMP file: bits 4 (palette indexes) or 24 (RGB tuples), rows bottom up."""
    palette = b""
    if bits == 4:
        palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE16)
    rows = []
    for row in reversed(canvas.pixels):
        if bits == 4:
            padded = row + [0] * (len(row) % 2)
            data = bytes((padded[i] << 4) | padded[i + 1] for i in range(0, len(padded), 2))
        else:
            data = b"".join(struct.pack("<BBB", b, g, r) for r, g, b in row)
        rows.append(data + b"\0" * (-len(data) % 4))
    image = b"".join(rows)
    colours = 16 if bits == 4 else 0
    info = struct.pack("<IiiHHIIiiII", 40, canvas.width, canvas.height, 1, bits, 0, len(image),
                       2835, 2835, colours, colours)
    offset = 14 + len(info) + len(palette)
    header = struct.pack("<2sIHHI", b"BM", offset + len(image), 0, 0, offset)
    return header + info + palette + image


def icon_file(canvases):
    """An ICO file of 32-bit images (RGBA tuples, alpha 0 or 255) with AND masks."""
    entries = []
    images = []
    offset = 6 + 16 * len(canvases)
    for canvas in canvases:
        size = canvas.width
        xor = b"".join(struct.pack("<BBBB", b, g, r, a)
                       for row in reversed(canvas.pixels) for r, g, b, a in row)
        mask_rows = []
        for row in reversed(canvas.pixels):
            bits = 0
            data = bytearray()
            for x, (_, _, _, a) in enumerate(row):
                bits = (bits << 1) | (1 if a == 0 else 0)
                if x % 8 == 7:
                    data.append(bits)
                    bits = 0
            mask_rows.append(bytes(data) + b"\0" * (-len(data) % 4))
        info = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(xor), 0, 0, 0, 0)
        image = info + xor + b"".join(mask_rows)
        entries.append(struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(image), offset))
        images.append(image)
        offset += len(image)
    return struct.pack("<HHH", 0, 1, len(canvases)) + b"".join(entries) + b"".join(images)


def drive_picture():
    """The front of a half-height tape drive seen slightly from above."""
    c = Canvas(65, 52, SILVER)
    # Top face in perspective, then the front bezel.
    c.polygon([(4, 14), (14, 4), (62, 4), (52, 14)], WHITE)
    c.polygon([(52, 14), (62, 4), (62, 40), (52, 50)], GREY)
    c.rect(4, 14, 52, 50, SILVER)
    c.frame(4, 14, 52, 50, BLACK)
    c.line(4, 14, 14, 4, BLACK)
    c.line(14, 4, 62, 4, BLACK)
    c.line(62, 4, 62, 40, BLACK)
    c.line(62, 40, 52, 50, BLACK)
    c.line(52, 14, 62, 4, BLACK)
    # The cartridge slot with a cartridge half way in.
    c.rect(9, 22, 47, 31, BLACK)
    c.rect(13, 24, 43, 29, NAVY)
    c.rect(17, 25, 39, 27, BLUE)
    c.rect(24, 25, 31, 26, WHITE)
    # Maker's stripe, activity and cleaning lights, eject button.
    c.rect(9, 17, 30, 18, TEAL)
    c.rect(10, 38, 13, 40, LIME)
    c.rect(16, 38, 19, 40, YELLOW)
    c.rect(38, 37, 47, 42, GREY)
    c.frame(38, 37, 47, 42, BLACK)
    c.line(40, 45, 47, 45, GREY)
    c.line(40, 47, 47, 47, GREY)
    return c


def agreement_picture():
    """A tape cartridge over a night-blue gradient, with an upward arrow below it."""
    width, height = 192, 281
    c = Canvas(width, height, (0, 0, 0))
    for y in range(height):
        t = y / (height - 1)
        colour = (int(10 + 20 * t), int(30 + 90 * t), int(90 + 80 * t))
        for x in range(width):
            c.pixels[y][x] = colour
    # Faint tape tracks running across the whole picture.
    for y in range(12, height, 18):
        for x in range(width):
            r, g, b = c.pixels[y][x]
            c.pixels[y][x] = (r + 12, g + 16, b + 20)
    # The cartridge body, its shadow, label and reel window.
    c.rounded(34, 50, 170, 186, 10, (5, 15, 40))
    c.rounded(28, 44, 164, 180, 10, (38, 40, 46))
    c.rounded(32, 48, 160, 176, 8, (58, 60, 68))
    c.rect(42, 56, 150, 96, (236, 236, 228))
    c.rect(42, 56, 150, 64, (200, 40, 40))
    for row, shade in ((72, 120), (80, 150), (88, 150)):
        c.rect(50, row, 50 + (row * 7) % 80 + 20, row + 3, (shade, shade, shade + 10))
    c.rect(60, 108, 132, 160, (20, 22, 26))
    c.rect(62, 110, 130, 158, (90, 110, 130))
    c.disc(96, 134, 21, (70, 45, 30))
    c.disc(96, 134, 21, (110, 75, 50), inner=17)
    c.disc(96, 134, 10, (210, 210, 215))
    c.disc(96, 134, 4, (40, 40, 45))
    for k in range(6):
        a = k * math.pi / 3
        c.line(96, 134, round(96 + 9 * math.cos(a)), round(134 + 9 * math.sin(a)), (40, 40, 45))
    # Write-protect tab and the guide notches on the lower edge.
    c.rect(140, 164, 152, 170, (220, 170, 30))
    c.rect(40, 172, 52, 176, (24, 24, 28))
    c.rect(140, 172, 152, 176, (24, 24, 28))
    # The upgrade arrow.
    c.polygon([(96, 200), (134, 238), (112, 238), (112, 266), (80, 266), (80, 238), (58, 238)],
              (60, 200, 90))
    c.polygon([(96, 208), (124, 234), (108, 234), (108, 262), (84, 262), (84, 234), (68, 234)],
              (110, 235, 130))
    return c


def icon_picture(size):
    """A cartridge with a green upward arrow in its lower right corner."""
    transparent = (0, 0, 0, 0)
    c = Canvas(size, size, transparent)
    s = size / 32
    body = (50, 52, 60, 255)
    c.rounded(round(2 * s), round(5 * s), round(27 * s), round(26 * s), max(1, round(3 * s)), body)
    c.rect(round(5 * s), round(8 * s), round(24 * s), round(13 * s), (236, 236, 228, 255))
    c.rect(round(5 * s), round(8 * s), round(24 * s), round(9 * s), (200, 40, 40, 255))
    c.disc(14.5 * s, 19.5 * s, 4.5 * s, (110, 75, 50, 255))
    c.disc(14.5 * s, 19.5 * s, 2 * s, (210, 210, 215, 255))
    c.polygon([(24 * s, 13 * s), (31.5 * s, 21 * s), (27 * s, 21 * s), (27 * s, 31.5 * s),
               (21 * s, 31.5 * s), (21 * s, 21 * s), (16.5 * s, 21 * s)], (20, 120, 40, 255))
    c.polygon([(24 * s, 15 * s), (29.5 * s, 20.5 * s), (26 * s, 20.5 * s), (26 * s, 30.5 * s),
               (22 * s, 30.5 * s), (22 * s, 20.5 * s), (18.5 * s, 20.5 * s)], (80, 220, 90, 255))
    return c


def rgb_rows(canvas):
    """The pixels as RGB tuples, top row first (palette indexes looked up)."""
    return [[PALETTE16[p] if isinstance(p, int) else p for p in row] for row in canvas.pixels]


def terminal_source(pictures):
    """C++ source of (resource id macro, canvas) pairs as fw::Picture entries."""
    out = ["// Written by res/tools/pictures.py from the drawings of the Windows bitmaps.",
           '#include "res/TerminalPictures.h"', "", "#include <cstdint>", "",
           '#include "res/resource.h"', "", "namespace res {", "namespace {", ""]
    entries = []
    for index, (resource, canvas) in enumerate(pictures):
        data = [value for row in rgb_rows(canvas) for pixel in row for value in pixel]
        out.append(f"constexpr std::uint8_t kPixels{index}[] = {{")
        for start in range(0, len(data), 24):
            out.append("    " + ", ".join(str(v) for v in data[start:start + 24]) + ",")
        out.append("};")
        out.append("")
        entries.append(f"    {{{resource}, {canvas.width}, {canvas.height}, kPixels{index}}},")
    out += ["constexpr fw::Picture kPictures[] = {"] + entries + ["};", "",
            "} // namespace", "",
            "std::span<const fw::Picture> TerminalPictures() { return kPictures; }", "",
            "} // namespace res", ""]
    return "\n".join(out).encode()


def write(path, data):
    with open(path, "wb") as out:
        out.write(data)


def main():
    if len(sys.argv) == 3 and sys.argv[1] == "--terminal":
        os.makedirs(os.path.dirname(os.path.abspath(sys.argv[2])), exist_ok=True)
        write(sys.argv[2], terminal_source([("IDB_DRIVE_PICTURE", drive_picture()),
                                            ("IDB_AGREEMENT_PICTURE", agreement_picture())]))
        return
    if len(sys.argv) != 2:
        sys.exit("usage: pictures.py <output folder> | --terminal <output .cpp file>")
    folder = sys.argv[1]
    os.makedirs(folder, exist_ok=True)
    write(os.path.join(folder, "drive.bmp"), bmp_file(drive_picture(), 4))
    write(os.path.join(folder, "agreement.bmp"), bmp_file(agreement_picture(), 24))
    write(os.path.join(folder, "fwupgrade.ico"), icon_file([icon_picture(32), icon_picture(16)]))


if __name__ == "__main__":
    main()
