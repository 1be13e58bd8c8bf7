#!/usr/bin/env python3
"""Converts the 24-bit BMP pictures the Windows tests save into PNG files.

    bmp_to_png.py SOURCE_DIR TARGET_DIR

Every SOURCE_DIR/NAME.bmp (uncompressed, bottom-up, 24 bits a pixel) becomes
TARGET_DIR/NAME.png. Only the standard library is used.
"""

import os
import struct
import sys
import zlib


def read_bmp(path):
    with open(path, "rb") as f:
        data = f.read()
    if data[:2] != b"BM":
        raise ValueError(f"{path}: not a BMP file")
    offset = struct.unpack_from("<I", data, 10)[0]
    width, height, planes, bits, compression = struct.unpack_from("<iiHHI", data, 18)
    if bits != 24 or compression != 0:
        raise ValueError(f"{path}: only uncompressed 24-bit pictures are read")
    stride = (width * 3 + 3) & ~3
    rows = []
    for y in range(abs(height)):
        source_row = abs(height) - 1 - y if height > 0 else y
        start = offset + source_row * stride
        bgr = data[start:start + width * 3]
        rgb = bytearray(len(bgr))
        rgb[0::3], rgb[1::3], rgb[2::3] = bgr[2::3], bgr[1::3], bgr[0::3]
        rows.append(bytes(rgb))
    return width, abs(height), rows


def write_png(path, width, height, rows):
    def chunk(kind, payload):
        body = kind + payload
        return struct.pack(">I", len(payload)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    raw = b"".join(b"\x00" + row for row in rows)
    png = (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)) +
           chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))
    with open(path, "wb") as f:
        f.write(png)


def main():
    source, target = sys.argv[1], sys.argv[2]
    os.makedirs(target, exist_ok=True)
    count = 0
    for name in sorted(os.listdir(source)):
        if not name.lower().endswith(".bmp"):
            continue
        width, height, rows = read_bmp(os.path.join(source, name))
        write_png(os.path.join(target, name[:-4] + ".png"), width, height, rows)
        count += 1
    print(f"{count} pictures converted")


if __name__ == "__main__":
    main()
