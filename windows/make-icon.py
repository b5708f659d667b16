#!/usr/bin/env python3
# SPDX-License-Identifier: BSD-3-Clause
# Writes windows/brisko-packer.ico from the program's PNG pictures (16 to 256 pixels): an
# icon file whose pictures are stored as PNG, which Windows reads since Vista. Run it again
# when the pictures change:  windows/make-icon.py
import pathlib
import struct

root = pathlib.Path(__file__).resolve().parent.parent
sizes = [16, 24, 32, 48, 64, 128, 256]
pictures = [(root / f"resources/icons/hicolor/{n}x{n}/apps/brisko-packer.png").read_bytes()
            for n in sizes]
header = struct.pack("<HHH", 0, 1, len(sizes))
offset = len(header) + 16 * len(sizes)
entries = b""
for n, png in zip(sizes, pictures):
    # Width and height 0 stand for 256.
    entries += struct.pack("<BBBBHHII", n % 256, n % 256, 0, 0, 1, 32, len(png), offset)
    offset += len(png)
(root / "windows/brisko-packer.ico").write_bytes(header + entries + b"".join(pictures))
