#!/usr/bin/env python3
"""Writes a C++ source holding a file's bytes zlib-compressed, as
IECMYKPROFILE (compressed bytes), IECMYKPROFILE_SIZE and IECMYKPROFILE_RAW_SIZE."""
import sys
import zlib

src, dst, name = sys.argv[1], sys.argv[2], sys.argv[3]
raw = open(src, "rb").read()
packed = zlib.compress(raw, 9)
with open(dst, "w") as f:
    f.write("#include <cstddef>\n#include <cstdint>\nnamespace pravik {\n")
    f.write(f"extern const std::uint8_t {name}[] = {{\n")
    for i in range(0, len(packed), 24):
        f.write(",".join(str(b) for b in packed[i:i + 24]) + ",\n")
    f.write("};\n")
    f.write(f"extern const std::size_t {name}_SIZE = {len(packed)};\n")
    f.write(f"extern const std::size_t {name}_RAW_SIZE = {len(raw)};\n")
    f.write("}\n")
