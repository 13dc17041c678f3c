#!/usr/bin/env python3
"""Writes the download animation: a tape reel turning, as an AVI clip the Win32 animation
control plays.

    clip.py <output file>

Eight 32 x 32 frames of uncompressed 8-bit DIB data with one palette, no sound, ten frames
a second, with an index.
"""

import math
import struct
import sys

SIZE = 32
FRAMES = 8
MICROSECONDS_PER_FRAME = 100_000

# Palette: 0 background (the dialog's grey), 1 reel flange, 2 tape, 3 hub, 4 spokes,
# 5 outline; the rest black.
PALETTE = [(192, 192, 192), (70, 90, 160), (110, 75, 50), (230, 230, 235), (30, 30, 40),
           (20, 20, 30)] + [(0, 0, 0)] * 250


def chunk(fourcc, data):
    return fourcc + struct.pack("<I", len(data)) + data + b"\0" * (len(data) % 2)


def riff_list(kind, fourcc, data):
    return kind + struct.pack("<I", len(data) + 4) + fourcc + data


def frame(number):
    """One frame, rows bottom up as a DIB keeps them."""
    angle = number * (2 * math.pi / 3) / FRAMES  # three spokes: a third of a turn repeats
    centre = (SIZE - 1) / 2
    rows = []
    for y in range(SIZE):
        row = bytearray()
        for x in range(SIZE):
            dx, dy = x - centre, y - centre
            d = math.hypot(dx, dy)
            value = 0
            if d <= 15:
                value = 5
            if d <= 14:
                value = 1
            if d <= 12:
                value = 2 if d > 7 else 3
            if 3 < d <= 7:
                a = (math.atan2(dy, dx) - angle) % (2 * math.pi / 3)
                if a < 0.35:
                    value = 4
            if 7 < d <= 12:
                # A mark on the tape pack makes the turning visible.
                a = (math.atan2(dy, dx) - angle) % (2 * math.pi)
                if a < 0.25:
                    value = 3
            if d <= 2:
                value = 4
            row.append(value)
        rows.append(bytes(row))
    return b"".join(reversed(rows))


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: clip.py <output file>")
    frame_size = SIZE * SIZE
    avih = struct.pack("<IIIIIIIIII4I", MICROSECONDS_PER_FRAME, frame_size * 10, 0,
                       0x10,  # AVIF_HASINDEX
                       FRAMES, 0, 1, frame_size, SIZE, SIZE, 0, 0, 0, 0)
    strh = struct.pack("<4s4sIHHIIIIIIII4h", b"vids", b"DIB ", 0, 0, 0, 0, 1, 10, 0, FRAMES,
                       frame_size, 0xFFFFFFFF, 0, 0, 0, SIZE, SIZE)
    bitmap = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE, 1, 8, 0, frame_size, 0, 0, 256, 0)
    bitmap += b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    strl = riff_list(b"LIST", b"strl", chunk(b"strh", strh) + chunk(b"strf", bitmap))
    hdrl = riff_list(b"LIST", b"hdrl", chunk(b"avih", avih) + strl)
    frames = [chunk(b"00db", frame(n)) for n in range(FRAMES)]
    movi = riff_list(b"LIST", b"movi", b"".join(frames))
    index = b""
    offset = 4  # from the "movi" type code
    for data in frames:
        index += struct.pack("<4sIII", b"00db", 0x10, offset, frame_size)  # AVIIF_KEYFRAME
        offset += len(data)
    body = hdrl + movi + chunk(b"idx1", index)
    with open(sys.argv[1], "wb") as out:
        out.write(riff_list(b"RIFF", b"AVI ", body))


if __name__ == "__main__":
    main()
