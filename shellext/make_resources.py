#!/usr/bin/env python3
"""Build-time inputs of PravikContext.dll's resources.

  make_resources.py bitmap OUT.bmp        the 13 x 13 menu picture, 16 bits per pixel
  make_resources.py stdole2 IN OUT.tlb    the OLE automation type library that the
                                          IDL imports, as a plain type library file

The picture is drawn below as text, one character per pixel, so that it can be
read and changed in review. Wine ships stdole2.tlb as a PE module with the type
library as its TYPELIB resource; widl reads only the plain form.
"""
import struct
import sys

PICTURE = [
    "KKKKKKKKKK...",
    "KBBBBBBYYK...",
    "KBBBBBBYYK...",
    "KBBBBBBBBK...",
    "KBBBGBBBBK...",
    "KBBGGGBBBK...",
    "KBGGGGGBGK...",
    "KGGGGGGGGK...",
    "KKKKKKKKKKR..",
    "..........RR.",
    "......RRRRRRR",
    "..........RR.",
    "..........R..",
]
COLOURS = {  # red, green, blue
    ".": (255, 255, 255),
    "K": (64, 64, 64),
    "B": (96, 160, 224),
    "Y": (255, 208, 0),
    "G": (64, 160, 64),
    "R": (232, 112, 0),
}


def write_bitmap(path):
    width, height = len(PICTURE[0]), len(PICTURE)
    stride = (width * 2 + 3) // 4 * 4
    rows = []
    for line in reversed(PICTURE):  # bottom-up
        row = b"".join(
            struct.pack("<H", (r >> 3) << 10 | (g >> 3) << 5 | (b >> 3))
            for r, g, b in (COLOURS[c] for c in line))
        rows.append(row + b"\0" * (stride - len(row)))
    pixels = b"".join(rows)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 16, 0, len(pixels), 2835, 2835, 0, 0)
    header = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(pixels), 0, 0, 14 + len(info))
    with open(path, "wb") as f:
        f.write(header + info + pixels)


def plain_type_library(data):
    if data[:4] == b"MSFT":
        return data
    # A PE module: walk its resource directory to the first TYPELIB entry.
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise SystemExit("neither a type library nor a PE module")
    sections = struct.unpack_from("<H", data, pe + 6)[0]
    optional_size = struct.unpack_from("<H", data, pe + 20)[0]
    optional = pe + 24
    directories = optional + (112 if struct.unpack_from("<H", data, optional)[0] == 0x20B else 96)
    resource_rva = struct.unpack_from("<I", data, directories + 2 * 8)[0]
    table = [struct.unpack_from("<8sIIII", data, optional + optional_size + 40 * i) for i in range(sections)]

    def offset(rva):
        for _, vsize, va, rsize, raw in table:
            if va <= rva < va + max(vsize, rsize):
                return rva - va + raw
        raise SystemExit("resource outside every section")

    base = offset(resource_rva)

    def entries(directory):
        named, numbered = struct.unpack_from("<HH", data, directory + 12)
        for k in range(named + numbered):
            yield struct.unpack_from("<II", data, directory + 16 + 8 * k)

    def name(value):
        if not value & 0x80000000:
            return value
        at = base + (value & 0x7FFFFFFF)
        length = struct.unpack_from("<H", data, at)[0]
        return data[at + 2:at + 2 + 2 * length].decode("utf-16-le")

    for type_name, pointer in entries(base):
        if name(type_name) != "TYPELIB":
            continue
        level = base + (pointer & 0x7FFFFFFF)
        while pointer & 0x80000000:  # down the id and language levels to the data entry
            _, pointer = next(entries(level))
            level = base + (pointer & 0x7FFFFFFF)
        rva, size = struct.unpack_from("<II", data, level)
        start = offset(rva)
        return data[start:start + size]
    raise SystemExit("no TYPELIB resource")


def main(argv):
    if len(argv) == 3 and argv[1] == "bitmap":
        write_bitmap(argv[2])
    elif len(argv) == 4 and argv[1] == "stdole2":
        with open(argv[2], "rb") as f:
            data = plain_type_library(f.read())
        with open(argv[3], "wb") as f:
            f.write(data)
    else:
        raise SystemExit(__doc__)


if __name__ == "__main__":
    main(sys.argv)
