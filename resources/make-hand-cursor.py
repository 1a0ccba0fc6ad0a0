#!/usr/bin/env python3
"""Writes HAND-M.CUR, Brimvale's hand pointer, from the drawing below.

The file is a Windows cursor: one 32x32 image, 32-bit BGRA with an AND mask, hot spot at the
tip of the index finger. Run it from this folder after changing the drawing:
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
COLOURS = {"#": (0, 0, 0, 255), "o": (255, 255, 255, 255), " ": (0, 0, 0, 0)}


def cursor_bytes():
    assert len(DRAWING) == SIZE and all(len(row) == SIZE for row in DRAWING)
    pixels = bytearray()
    mask = bytearray()
    for row in reversed(DRAWING):  # bitmaps are stored bottom-up
        bits = 0
        for ch in row:
            red, green, blue, alpha = COLOURS[ch]
            pixels += bytes((blue, green, red, alpha))
            bits = (bits << 1) | (1 if alpha == 0 else 0)
        mask += struct.pack(">I", bits)
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 32, 0,
                         len(pixels) + len(mask), 0, 0, 0, 0)
    image = header + pixels + mask
    directory = struct.pack("<HHH", 0, 2, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, HOT_SPOT[0], HOT_SPOT[1], len(image),
                        6 + 16)
    return directory + entry + image


if __name__ == "__main__":
    with open("HAND-M.CUR", "wb") as out:
        out.write(cursor_bytes())
