#!/usr/bin/env python3
"""Draws the component palette bitmaps of the design-time package.

Each picture below is a 24 x 24 grid of characters, one per pixel, top row
first; LEGEND maps each character to an index in the 16-colour VGA palette.
The script writes one uncompressed 4-bit Windows BMP per component next to
itself (406 bytes each). The output depends only on this file, so running it
again reproduces the committed files byte for byte.

The .bmp files are committed; the build never runs this script. Edit a grid
and rerun it (python3 make-bitmaps.py) to change a picture.

The background is fuchsia everywhere: a form designer takes the colour of the
bottom-left pixel as transparent, so no picture uses fuchsia for itself.
"""

import os
import struct

# The classic 16-colour VGA palette as (red, green, blue).
PALETTE = [
    (0x00, 0x00, 0x00),  # 0 black
    (0x80, 0x00, 0x00),  # 1 maroon
    (0x00, 0x80, 0x00),  # 2 green
    (0x80, 0x80, 0x00),  # 3 olive
    (0x00, 0x00, 0x80),  # 4 navy
    (0x80, 0x00, 0x80),  # 5 purple
    (0x00, 0x80, 0x80),  # 6 teal
    (0xC0, 0xC0, 0xC0),  # 7 silver
    (0x80, 0x80, 0x80),  # 8 grey
    (0xFF, 0x00, 0x00),  # 9 red
    (0x00, 0xFF, 0x00),  # 10 lime
    (0xFF, 0xFF, 0x00),  # 11 yellow
    (0x00, 0x00, 0xFF),  # 12 blue
    (0xFF, 0x00, 0xFF),  # 13 fuchsia
    (0x00, 0xFF, 0xFF),  # 14 aqua
    (0xFF, 0xFF, 0xFF),  # 15 white
]

LEGEND = {
    "k": 0,  # black
    "m": 1,  # maroon
    "g": 2,  # green
    "o": 3,  # olive
    "n": 4,  # navy
    "p": 5,  # purple
    "t": 6,  # teal
    "s": 7,  # silver
    "d": 8,  # grey
    "r": 9,  # red
    "l": 10,  # lime
    "y": 11,  # yellow
    "b": 12,  # blue
    ".": 13,  # fuchsia: the transparent background
    "a": 14,  # aqua
    "w": 15,  # white
}

SIZE = 24
BACKGROUND = "."

PICTURES = {
    # A plug going into a socket.
    "TINETCONNECTION": [
        "........................",
        "........................",
        "........................",
        "........................",
        "........................",
        "................kkkkkk..",
        ".....kkkkkkk....ksdddk..",
        ".....kaaaabk....ksdddk..",
        ".....kabbbbkyyyykkdddk..",
        ".....kabbbbkoooookdddk..",
        ".....kabbbbk....ksdddk..",
        "kkkkkkabbbbk....ksdddkkk",
        "kkkkkkabbbbk....ksdddkkk",
        ".....kabbbbk....ksdddk..",
        ".....kabbbbkyyyykkdddk..",
        ".....kabbbbkoooookdddk..",
        ".....kabbbbk....ksdddk..",
        ".....knnnnnk....ksdddk..",
        ".....kkkkkkk....kkkkkk..",
        "........................",
        "........................",
        "........................",
        "........................",
        "........................",
    ],
    # A globe.
    "TINETSESSION": [
        "........................",
        "........................",
        "........kkkkkkkk........",
        "......kkbbgggbbbkk......",
        ".....kbbggggggbbbbk.....",
        "....kbbgggggggbbbbgk....",
        "...kbbggggggggbbbgggk...",
        "...kbagggggggbbbggggk...",
        "..kbbabggggggbbggggggk..",
        "..kbbbbbgggggbbggggggk..",
        "..kbbbbbbggggbbbggggbk..",
        "..kbbbbbbbgggbbbgggggk..",
        "..kbbbbbbbggggbbbggggk..",
        "..kbbbbbbbbggggbbgggbk..",
        "..kbbbbbbbbgggggbbggbk..",
        "..kbbbbbbbbbggggbbbbbk..",
        "...kbbbbbbbbgggbbbbbk...",
        "...kbbbbbbbbggbbbbbbk...",
        "....kbbbbbbbbbbbbbbk....",
        ".....kbbbbbbbbbbbbk.....",
        "......kkbbbbbbbbkk......",
        "........kkkkkkkk........",
        "........................",
        "........................",
    ],
    # A folder with an upload and a download arrow.
    "TINETFTP": [
        "........................",
        "........................",
        "........................",
        ".kkkkkkk................",
        "kyyyyyyyk...............",
        "kyyyyyyyykkkkkkkkkkkkkk.",
        "kyyyyyyyyyyyyyyyyyyyyok.",
        "kyyyyyyyyyyyyyyyyyyyyok.",
        "kyyyyyygyyyyyyrrryyyyok.",
        "kyyyyygggyyyyyrrryyyyok.",
        "kyyyygggggyyyyrrryyyyok.",
        "kyyygggggggyyyrrryyyyok.",
        "kyyyyygggyyyyyrrryyyyok.",
        "kyyyyygggyyyyyrrryyyyok.",
        "kyyyyygggyyyyyrrryyyyok.",
        "kyyyyygggyyyyyrrryyyyok.",
        "kyyyyygggyyyrrrrrrryyok.",
        "kyyyyygggyyyyrrrrryyyok.",
        "kyyyyygggyyyyyrrryyyyok.",
        "kyyyyygggyyyyyyryyyyyok.",
        "kyyyyyyyyyyyyyyyyyyyyok.",
        "koooooooooooooooooooook.",
        "kkkkkkkkkkkkkkkkkkkkkkk.",
        "........................",
    ],
    # A page of text in front of a small globe.
    "TINETHTTP": [
        "........................",
        "...kkkkkkkkkkkk.........",
        "...kwwwwwwwwwwkk........",
        "...kwwwwwwwwwwksk.......",
        "...kwnnnnnnnwwkssk......",
        "...kwwwwwwwwwwkkkkk.....",
        "...kwnnnnnnnnnnnwwk.....",
        "...kwwwwwwwwwwwwwwk.....",
        "...kwnnnnnnnnnwwwwk.....",
        "...kwwwwwwwwwwwwwwk.....",
        "...kwnnnnnnnnnnnnwk.....",
        "...kwwwwwwwwwwwwwwk.....",
        "...kwnnnnnnnnwwwkkk.....",
        "...kwwwwwwwwwwkkbbbkk...",
        "...kwnnnnnnnnkbbbbbbbk..",
        "...kwwwwwwwwwkbbggbbbk..",
        "...kwnnnnnwwkbbggbbbbbk.",
        "...kwwwwwwwwkbbgbbbbbbk.",
        "...kwnnnnnnnkbbbbbbggbk.",
        "...kwwwwwwwwwkbbbbgggk..",
        "...kwwwwwwwwwkbbgbbgbk..",
        "...kwwwwwwwwwwkkbbbkk...",
        "...kkkkkkkkkkkkkkkk.....",
        "........................",
    ],
    # Two chain links.
    "TINETURL": [
        "........................",
        "................kkkkk...",
        "...............kkaaakk..",
        "..............kaakkkakk.",
        ".............kaak...kak.",
        "............kaak....kak.",
        "...........kaak.....kak.",
        "..........kaak.....kakk.",
        "..........kak.....kaak..",
        ".........kak.....kaak...",
        ".......kkbbkk...kaak....",
        "......kbbkkbkk.kaak.....",
        ".....kbbk.kkbkkaak......",
        "....kbbk...kkbakk.......",
        "...kbbk.....kbk.........",
        "..kbbk.....kbk..........",
        ".kkbk.....kbbk..........",
        ".kbk.....kbbk...........",
        ".kbk....kbbk............",
        ".kbk...kbbk.............",
        ".kkbkkkbbk..............",
        "..kkbbbkk...............",
        "...kkkkk................",
        "........................",
    ],
    # A chocolate-chip cookie with a bite out of it.
    "TINETCOOKIE": [
        "........................",
        "........................",
        "........mmmmmmm.........",
        "......mmooooooom........",
        ".....myoooooooom........",
        "....myooooooooom........",
        "...myooooooommoom.......",
        "..mooooooooommooom......",
        "..myoookkoooooookkmmm...",
        ".moyoookkoooooookkooom..",
        ".mooooooooooooooooooom..",
        ".mooooooooooooommoooom..",
        ".mooooooookkooommoooom..",
        ".mooommoookkooooooooom..",
        ".mooommoooooooooooooom..",
        ".mooooooooommooookkoom..",
        "..moooooooommooookkom...",
        "..moooookkoooooooooom...",
        "...mooookkooommoooom....",
        "....moooooooommooom.....",
        ".....mooooooooooom......",
        "......mmooooooomm.......",
        "........mmmmmmm.........",
        "........................",
    ],
}


def encode(grid):
    """Returns the BMP file for one grid."""
    assert len(grid) == SIZE, "a picture has 24 rows"
    assert all(len(row) == SIZE for row in grid), "a row has 24 pixels"
    assert grid[-1][0] == BACKGROUND, "the bottom-left pixel names the transparent colour"
    row_bytes = SIZE * 4 // 8  # 12, already a multiple of 4: no padding
    image_size = row_bytes * SIZE
    palette = b"".join(struct.pack("<4B", b, g, r, 0) for r, g, b in PALETTE)
    offset = 14 + 40 + len(palette)
    pixels = bytearray()
    for row in reversed(grid):  # BMP rows run bottom-up
        indices = [LEGEND[c] for c in row]
        pixels += bytes(hi << 4 | lo for hi, lo in zip(indices[0::2], indices[1::2]))
    file_header = struct.pack("<2sIHHI", b"BM", offset + image_size, 0, 0, offset)
    info_header = struct.pack(
        "<IiiHHIIiiII",
        40,  # biSize
        SIZE,  # biWidth
        SIZE,  # biHeight, positive: bottom-up
        1,  # biPlanes
        4,  # biBitCount
        0,  # biCompression: BI_RGB
        image_size,  # biSizeImage
        0,  # biXPelsPerMeter
        0,  # biYPelsPerMeter
        len(PALETTE),  # biClrUsed
        0,  # biClrImportant: all
    )
    return file_header + info_header + palette + bytes(pixels)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    for name, grid in PICTURES.items():
        with open(os.path.join(here, name + ".bmp"), "wb") as out:
            out.write(encode(grid))


if __name__ == "__main__":
    main()
