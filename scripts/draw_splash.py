#!/usr/bin/env python3
# SPDX-License-Identifier: BSD-3-Clause
"""Draws the about window's splash picture: a 300 x 180, 256-colour (8-bit palette) BMP.

Uses only the Python standard library and its own pixel font, so the output is the same
byte for byte on every machine. Run from anywhere:

    python3 scripts/draw_splash.py [output]   # default: resources/splash.bmp

The top-right corner (around x 270..300, y 46..58) stays dark and plain: the window draws
its version text there in silver.
"""
import math
import os
import struct
import sys

W, H = 300, 180

# --- palette -------------------------------------------------------------------------------
palette = [(0, 0, 0)] * 256


def ramp(start, count, a, b):
    for k in range(count):
        t = k / (count - 1)
        palette[start + k] = tuple(round(a[j] + (b[j] - a[j]) * t) for j in range(3))


BG, BG_N = 1, 96         # background: deep indigo to dark teal
WAVE, WAVE_N = 100, 64   # waveform: teal to bright cyan-green
GOLD, GOLD_N = 170, 32   # title letters: bronze to pale gold
GREY, GREY_N = 210, 32   # subtitle, box edges: slate to near white
ramp(BG, BG_N, (8, 6, 34), (6, 52, 70))
ramp(WAVE, WAVE_N, (20, 90, 110), (150, 255, 210))
ramp(GOLD, GOLD_N, (150, 90, 20), (255, 236, 150))
ramp(GREY, GREY_N, (70, 84, 110), (235, 240, 250))
SHADOW = 250
palette[SHADOW] = (2, 2, 12)

pixels = [[0] * W for _ in range(H)]


def put(x, y, c):
    if 0 <= x < W and 0 <= y < H:
        pixels[y][x] = c


# --- background ----------------------------------------------------------------------------
for y in range(H):
    for x in range(W):
        t = 0.65 * (y / (H - 1)) + 0.35 * (x / (W - 1))
        # a faint diagonal sheen
        t += 0.06 * math.sin((x + 2 * y) / 23.0)
        # keep the version corner calm and dark, so the silver text reads well there,
        # fading into the gradient around it
        w = min(1.0, max(0.0, (x - 244) / 22.0)) * max(0.0, 1.0 - abs(y - 52) / 14.0)
        t = t * (1.0 - min(1.0, 1.6 * w)) + 0.02 * min(1.0, 1.6 * w)
        t = min(max(t, 0.0), 1.0)
        pixels[y][x] = BG + round(t * (BG_N - 1))

# --- pixel font (5 x 7) ----------------------------------------------------------------------
FONT = {
    'A': ["01110", "10001", "10001", "11111", "10001", "10001", "10001"],
    'B': ["11110", "10001", "10001", "11110", "10001", "10001", "11110"],
    'C': ["01111", "10000", "10000", "10000", "10000", "10000", "01111"],
    'D': ["11110", "10001", "10001", "10001", "10001", "10001", "11110"],
    'E': ["11111", "10000", "10000", "11110", "10000", "10000", "11111"],
    'I': ["11111", "00100", "00100", "00100", "00100", "00100", "11111"],
    'K': ["10001", "10010", "10100", "11000", "10100", "10010", "10001"],
    'L': ["10000", "10000", "10000", "10000", "10000", "10000", "11111"],
    'M': ["10001", "11011", "10101", "10101", "10001", "10001", "10001"],
    'N': ["10001", "11001", "10101", "10011", "10001", "10001", "10001"],
    'O': ["01110", "10001", "10001", "10001", "10001", "10001", "01110"],
    'P': ["11110", "10001", "10001", "11110", "10000", "10000", "10000"],
    'R': ["11110", "10001", "10001", "11110", "10100", "10010", "10001"],
    'S': ["01111", "10000", "10000", "01110", "00001", "00001", "11110"],
    'U': ["10001", "10001", "10001", "10001", "10001", "10001", "01110"],
    'Z': ["11111", "00001", "00010", "00100", "01000", "10000", "11111"],
    ' ': ["00000"] * 7,
}


def text(x0, y0, s, scale, colour_of_row, shadow=0):
    """colour_of_row(r) gives the palette index for glyph row r (0..7*scale-1)."""
    for pass_ in (("shadow",) if shadow else ()) + ("face",):
        dx = dy = shadow if pass_ == "shadow" else 0
        x = x0
        for ch in s:
            glyph = FONT[ch]
            for gy, row in enumerate(glyph):
                for gx, bit in enumerate(row):
                    if bit != "1":
                        continue
                    for sy in range(scale):
                        for sx in range(scale):
                            r = gy * scale + sy
                            c = SHADOW if pass_ == "shadow" else colour_of_row(r)
                            put(x + gx * scale + sx + dx, y0 + r + dy, c)
            x += 6 * scale


# --- title ---------------------------------------------------------------------------------
TITLE_SCALE = 3
text(14, 14, "BRISKO PACKER", TITLE_SCALE,
     lambda r: GOLD + GOLD_N - 1 - round(r / (7 * TITLE_SCALE - 1) * (GOLD_N - 1)), shadow=2)
text(15, 44, "LOSSLESS AUDIO COMPRESSION", 1, lambda r: GREY + 22)

# a thin rule under the subtitle
for x in range(15, 170):
    put(x, 56, GREY + 6)


# --- waveform flowing into the package -----------------------------------------------------
def sample(x):
    env = 0.55 + 0.45 * math.sin(x / 17.0) * math.cos(x / 41.0)
    return env * (0.62 * math.sin(x / 2.3) + 0.38 * math.sin(x / 5.1 + 1.3))


MID = 118
for x in range(14, 196):
    # the wave narrows as it nears the package: the same sound in less room
    squeeze = 1.0 if x < 120 else max(0.18, 1.0 - (x - 120) / 92.0)
    amp = sample(x) * 42 * squeeze
    top, bottom = sorted((MID, MID - round(amp)))
    for y in range(top, bottom + 1):
        depth = abs(y - MID) / 42.0
        put(x, y, WAVE + min(WAVE_N - 1, round((0.35 + 0.65 * depth) * (WAVE_N - 1))))
    # its mirror, fainter
    for y in range(MID + 1, MID + 1 + round(abs(amp) * 0.5)):
        put(x, y, WAVE + round((1 - (y - MID) / 22.0) * 20))

# the package: a small box seen from the front and top
bx0, by0, bx1, by1 = 206, 92, 276, 150
for y in range(by0, by1 + 1):
    for x in range(bx0, bx1 + 1):
        edge = x in (bx0, bx1) or y in (by0, by1)
        put(x, y, GREY + 28 if edge else GREY + 2 + (y - by0) // 6)
for k in range(1, 13):  # top face, slanted back
    for x in range(bx0 + k, bx1 + k + 1):
        put(x, by0 - k, GREY + 28 if k == 12 or x in (bx0 + k, bx1 + k) else GREY + 12)
for k in range(1, 13):  # side face
    for y in range(by0 - k, by1 - k + 1):
        put(bx1 + k, y, GREY + 28 if k == 12 or y in (by0 - k, by1 - k) else GREY + 6)
# the squeezed wave inside the box
for x in range(bx0 + 6, bx1 - 5):
    amp = sample(x * 3) * 12
    top, bottom = sorted((121, 121 - round(amp)))
    for y in range(top, bottom + 1):
        put(x, y, WAVE + WAVE_N - 1 - abs(y - 121))
text(bx0 + 18, by1 - 14, "KPZ", 2, lambda r: GOLD + 20)

# arrow from the wave to the box
for k in range(6):
    for y in range(MID - 6 + k, MID + 7 - k):
        put(196 + k, y, GOLD + 26)

# --- write the BMP -------------------------------------------------------------------------
def write_bmp(path):
    row_size = (W + 3) & ~3
    image = bytearray()
    for y in range(H - 1, -1, -1):  # bottom-up
        row = bytes(pixels[y])
        image += row + b"\0" * (row_size - W)
    pal = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in palette)
    offset = 14 + 40 + len(pal)
    header = struct.pack("<2sIHHI", b"BM", offset + len(image), 0, 0, offset)
    info = struct.pack("<IiiHHIIiiII", 40, W, H, 1, 8, 0, len(image), 2835, 2835, 256, 0)
    with open(path, "wb") as f:
        f.write(header + info + pal + image)


if __name__ == "__main__":
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "resources", "splash.bmp")
    write_bmp(out)
