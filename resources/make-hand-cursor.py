#!/usr/bin/env python3
"""Writes HAND-M.CUR, Brimvale's hand pointer, from the drawing below.

The file is a Windows cursor with two images of the same drawing, 32x32 and 64x64 (each pixel
doubled, for screens at twice the density), 32-bit BGRA with an AND mask, hot spot at the tip of
the index finger. Run it from this folder after changing the drawing:
    python3 make-hand-cursor.py
"""

import struct

# '#' outline (black), 'o' inside (white), ' ' transparent.
DRAWING = [
    "         ###                    ",
    "        #ooo#                   ",
    "        #ooo#                   ",
    "        #ooo#                   ",
    "        #ooo#                   ",
    "        #ooo#                   ",
    "        #ooo####                ",
    "        #ooo#ooo####            ",
    "        #ooo#ooo#ooo###         ",
    "        #ooo#ooo#ooo#ooo#       ",
    "        #ooo#ooo#ooo#ooo#       ",
    " ###    #ooooooooooooooo#       ",
    "#ooo#   #ooooooooooooooo#       ",
    "#oooo#  #ooooooooooooooo#       ",
    " #oooo# #ooooooooooooooo#       ",
    "  #oooo##ooooooooooooooo#       ",
    "   #ooooooooooooooooooo#        ",
    "    #oooooooooooooooooo#        ",
    "     #ooooooooooooooooo#        ",
    "      #oooooooooooooooo#        ",
    "       #ooooooooooooooo#        ",
    "        #ooooooooooooo#         ",
    "        #ooooooooooooo#         ",
    "        ###############         ",
] + [" " * 32] * 8
HOT_SPOT = (10, 0)
SIZE = 32
SCALES = (1, 2)
COLOURS = {"#": (0, 0, 0, 255), "o": (255, 255, 255, 255), " ": (0, 0, 0, 0)}


def image_bytes(scale):
    """One image of the drawing, each pixel drawn scale x scale: BMP header, pixels, mask."""
    size = SIZE * scale
    rows = [''.join(ch * scale for ch in row) for row in DRAWING for _ in range(scale)]
    pixels = bytearray()
    mask = bytearray()
    for row in reversed(rows):  # bitmaps are stored bottom-up
        bits = 0
        for ch in row:
            red, green, blue, alpha = COLOURS[ch]
            pixels += bytes((blue, green, red, alpha))
            bits = (bits << 1) | (1 if alpha == 0 else 0)
        mask += bits.to_bytes(size // 8, "big")
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0,
                         len(pixels) + len(mask), 0, 0, 0, 0)
    return header + pixels + mask


def cursor_bytes():
    assert len(DRAWING) == SIZE and all(len(row) == SIZE for row in DRAWING)
    images = [(scale, image_bytes(scale)) for scale in SCALES]
    directory = struct.pack("<HHH", 0, 2, len(images))
    offset = 6 + 16 * len(images)
    for scale, image in images:
        directory += struct.pack("<BBBBHHII", SIZE * scale, SIZE * scale, 0, 0,
                                 HOT_SPOT[0] * scale, HOT_SPOT[1] * scale, len(image), offset)
        offset += len(image)
    return directory + b"".join(image for _, image in images)


if __name__ == "__main__":
    with open("HAND-M.CUR", "wb") as out:
        out.write(cursor_bytes())
