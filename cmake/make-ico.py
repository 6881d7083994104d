#!/usr/bin/env python3
"""Packs PNG pictures into one Windows icon file (.ico with PNG entries, which
Windows reads since Vista):
    python3 cmake/make-ico.py [--check] OUT.ico PICTURE.png [PICTURE.png ...]
With --check, writes nothing and fails when OUT.ico differs from what the
pictures give. Pictures of up to 256 x 256 pixels; only the standard library
is used.
"""

import struct
import sys


def png_size(data):
    if data[:8] != b"\x89PNG\r\n\x1a\n" or data[12:16] != b"IHDR":
        raise ValueError("not a PNG file")
    return struct.unpack(">II", data[16:24])


def pack(pictures):
    images = []
    for path in pictures:
        with open(path, "rb") as f:
            data = f.read()
        width, height = png_size(data)
        if width > 256 or height > 256:
            raise ValueError(f"{path}: larger than 256 x 256")
        images.append((width, height, data))
    images.sort(key=lambda image: image[0])
    header = struct.pack("<HHH", 0, 1, len(images))
    offset = len(header) + 16 * len(images)
    entries, blobs = b"", b""
    for width, height, data in images:
        # 256 is written as 0; colour count 0, planes 1, 32 bits per pixel.
        entries += struct.pack("<BBBBHHII", width % 256, height % 256, 0, 0, 1, 32, len(data), offset)
        blobs += data
        offset += len(data)
    return header + entries + blobs


def main(args):
    check = args[:1] == ["--check"]
    if check:
        args = args[1:]
    if len(args) < 2:
        sys.exit(__doc__)
    out, pictures = args[0], args[1:]
    icon = pack(pictures)
    if check:
        with open(out, "rb") as f:
            if f.read() != icon:
                sys.exit(f"{out} is not made from {' '.join(pictures)}: run cmake/make-ico.py {out} ...")
        return
    with open(out, "wb") as f:
        f.write(icon)


if __name__ == "__main__":
    main(sys.argv[1:])
