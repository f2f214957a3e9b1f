#!/usr/bin/env python3
"""Writes the converter's program icon (16 x 16 and 32 x 32, 32 bits per pixel).

  make_icon.py OUT.ico

The picture is drawn below as text, one character per pixel of the 16 x 16
image; the 32 x 32 image doubles every pixel. "." is transparent.
"""
import struct
import sys

PICTURE = [
    "................",
    ".KKKKKKKKKKKK...",
    ".KBBBBBBBBYYK...",
    ".KBBBBBBBBYYK...",
    ".KBBBBBBBBBBK...",
    ".KBBBBGBBBBBK...",
    ".KBBBGGGBBBBK...",
    ".KBBGGGGGBBBK...",
    ".KBGGGGGGGBGK...",
    ".KGGGGGGGGGGK...",
    ".KKKKKKKKKKKKR..",
    "............RR..",
    "........RRRRRRR.",
    "............RR..",
    "............R...",
    "................",
]
COLOURS = {  # red, green, blue, alpha
    ".": (0, 0, 0, 0),
    "K": (64, 64, 64, 255),
    "B": (96, 160, 224, 255),
    "Y": (255, 208, 0, 255),
    "G": (64, 160, 64, 255),
    "R": (232, 112, 0, 255),
}


def image(scale):
    size = 16 * scale
    rows = []
    for line in reversed(PICTURE):  # bottom-up
        row = b"".join(struct.pack("<4B", b, g, r, a) for c in line for r, g, b, a in [COLOURS[c]] * scale)
        rows.extend([row] * scale)
    mask_stride = (size + 31) // 32 * 4
    mask = b"\0" * (mask_stride * size)  # the alpha channel decides; the mask shows everything
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    return size, header + b"".join(rows) + mask


def main(argv):
    if len(argv) != 2:
        raise SystemExit(__doc__)
    images = [image(1), image(2)]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in images:
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    out += b"".join(data for _, data in images)
    with open(argv[1], "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main(sys.argv)
