#!/usr/bin/env python3
"""makerar.py OUT.rar DIR NAME...: writes a RAR 4 archive holding the files
NAME... (paths relative to DIR) stored without compression. No Debian package
writes RAR archives; this is enough for a reader's test."""
import os
import struct
import sys
import zlib


def block(head_type, flags, body):
    size = 7 + len(body)
    head = struct.pack("<BHH", head_type, flags, size) + body
    return struct.pack("<H", zlib.crc32(head) & 0xFFFF) + head


def main():
    out, root, names = sys.argv[1], sys.argv[2], sys.argv[3:]
    dos_time = (44 << 25) | (1 << 21) | (1 << 16)   # 2024-01-01 00:00
    with open(out, "wb") as f:
        f.write(b"Rar!\x1a\x07\x00")
        f.write(block(0x73, 0, struct.pack("<HI", 0, 0)))
        for name in names:
            with open(os.path.join(root, name), "rb") as g:
                data = g.read()
            mode = os.stat(os.path.join(root, name)).st_mode
            encoded = name.encode()
            body = struct.pack("<IIBIIBBHI", len(data), len(data), 3, zlib.crc32(data),
                               dos_time, 20, 0x30, len(encoded), mode) + encoded
            f.write(block(0x74, 0x8000, body))
            f.write(data)
        f.write(block(0x7B, 0x4000, b""))


if __name__ == "__main__":
    main()
