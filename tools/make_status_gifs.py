#!/usr/bin/env python3
"""Draws the small pictures of the status page and writes them as GIF files.

The status page (res/status.htm) refers to four pictures from the program's
resources: a transparent 1 x 1 spacer for fixed-size cells and rules, the
program's grey emblem at the right of the title, and the ticked and empty
check boxes of the connection row. They are drawn here, from character maps
and a few arcs, so they can be tuned and regenerated instead of being edited
by hand. The GIF encoder (GIF89a, LZW) is written out below because the
standard library has none.

Output (in res/ unless --out-dir says otherwise):
  e.gif          1 x 1, transparent
  icon.gif       34 x 26, grey phone with signal arcs, transparent around it
  checked.gif    13 x 14, check box with a tick
  unchecked.gif  13 x 14, empty check box

Usage: make_status_gifs.py [--out-dir DIR] [--png-dir DIR [--scale N]]
  --png-dir writes enlarged preview PNGs as well (stdlib zlib).
"""

import argparse
import math
import struct
import sys
import zlib
from pathlib import Path

# ---------------------------------------------------------------------------
# Colours: the page's own greys, so the pictures sit in it without a seam.

TRANSPARENT = None
PAGE_DARK = (0x84, 0x82, 0x84)  # the page's rules and title text
PAGE_LIGHT = (0xD6, 0xD3, 0xCE)  # the page's bands and header row
MID_GREY = (0xAD, 0xAA, 0xAD)
WHITE = (0xFF, 0xFF, 0xFF)
BLACK = (0x00, 0x00, 0x00)
SHADOW = (0x42, 0x41, 0x42)

# ---------------------------------------------------------------------------
# The pictures, as character maps. One character per pixel, top row first.

# The phone of the emblem: a candy-bar handset with earpiece, screen, soft
# keys and keypad, 14 x 24, placed in the middle of the 34 x 26 emblem.
PHONE = [
    "..DDDDDDDDDD..",
    ".DLLLLLLLLLLD.",
    "DLLLLDDDDLLLLD",
    "DLLLLLLLLLLLLD",
    "DLDDDDDDDDDDLD",
    "DLDWWWWWWWWDLD",
    "DLDWMMMMMMWDLD",
    "DLDWWWWWWWWDLD",
    "DLDWMMMMWWWDLD",
    "DLDWWWWWWWWDLD",
    "DLDWMMMMMWWDLD",
    "DLDWWWWWWWWDLD",
    "DLDDDDDDDDDDLD",
    "DLLLLLLLLLLLLD",
    "DLDDLLDDLLDDLD",
    "DLLLLLLLLLLLLD",
    "DLDDLDDLDDLLLD",
    "DLLLLLLLLLLLLD",
    "DLDDLDDLDDLLLD",
    "DLLLLLLLLLLLLD",
    "DLDDLDDLDDLLLD",
    "DLLLLLLLLLLLLD",
    ".DLLLLLLLLLLD.",
    "..DDDDDDDDDD..",
]
PHONE_COLOURS = {".": TRANSPARENT, "D": PAGE_DARK, "L": PAGE_LIGHT, "W": WHITE, "M": MID_GREY}

# A classic sunken check box, 13 x 13, over a transparent 14th row that keeps
# it level with the row's text when the page aligns it to the middle.
BOX = [
    "GGGGGGGGGGGGW",
    "GKKKKKKKKKKSW",
    "GKWWWWWWWWWSW",
    "GKWWWWWWWWWSW",
    "GKWWWWWWWWWSW",
    "GKWWWWWWWWWSW",
    "GKWWWWWWWWWSW",
    "GKWWWWWWWWWSW",
    "GKWWWWWWWWWSW",
    "GKWWWWWWWWWSW",
    "GKWWWWWWWWWSW",
    "GSSSSSSSSSSSW",
    "WWWWWWWWWWWWW",
    ".............",
]
TICK = [
    ".........",
    ".......X.",
    "......XX.",
    ".X...XXX.",
    ".XX.XXX..",
    ".XXXXX...",
    "..XXX....",
    "...X.....",
    ".........",
]
BOX_COLOURS = {".": TRANSPARENT, "G": PAGE_DARK, "K": SHADOW, "S": PAGE_LIGHT, "W": WHITE, "X": BLACK}


def from_map(rows, colours):
    return [[colours[c] for c in row] for row in rows]


def blank(width, height):
    return [[TRANSPARENT] * width for _ in range(height)]


def draw_emblem():
    width, height = 34, 26
    image = blank(width, height)
    left, top = 10, 1
    for y, row in enumerate(from_map(PHONE, PHONE_COLOURS)):
        for x, colour in enumerate(row):
            if colour is not TRANSPARENT:
                image[top + y][left + x] = colour
    # Signal arcs on both sides of the handset: the screen travelling to the PC.
    centre_y = top + 9.5
    for centre_x, facing in ((left - 0.5, -1), (left + len(PHONE[0]) - 0.5, 1)):
        for radius in (3.6, 6.6, 9.6):
            for y in range(height):
                for x in range(width):
                    dx, dy = x - centre_x, y - centre_y
                    if dx * facing <= 0:
                        continue
                    if abs(math.atan2(abs(dy), abs(dx))) > math.radians(42):
                        continue
                    if abs(math.hypot(dx, dy) - radius) <= 0.55 and image[y][x] is TRANSPARENT:
                        image[y][x] = PAGE_DARK
    return image


def draw_box(ticked):
    image = from_map(BOX, BOX_COLOURS)
    if ticked:
        for y, row in enumerate(TICK):
            for x, c in enumerate(row):
                if c == "X":
                    image[2 + y][2 + x] = BLACK
    return image


# ---------------------------------------------------------------------------
# GIF89a writer.


def palette_of(image):
    """Index 0 is transparent when the image has transparent pixels."""
    colours = []
    transparent = any(p is TRANSPARENT for row in image for p in row)
    if transparent:
        colours.append(TRANSPARENT)
    for row in image:
        for p in row:
            if p not in colours:
                colours.append(p)
    if len(colours) > 256:
        raise ValueError("more than 256 colours")
    return colours, transparent


def lzw_codes(indices, min_code_size):
    """Yields (code, width) pairs. The width grows when the next code to be
    assigned no longer fits, exactly when a decoder's table reaches that size,
    and the table starts over before it passes 4095 codes."""
    clear = 1 << min_code_size
    eoi = clear + 1
    width = min_code_size + 1
    table = {}
    last = eoi  # the last code assigned
    yield clear, width
    prefix = None
    for index in indices:
        if prefix is None:
            prefix = index
            continue
        key = (prefix, index)
        if key in table:
            prefix = table[key]
            continue
        yield prefix, width
        last += 1
        table[key] = last
        if last >= (1 << width) and width < 12:
            width += 1
        if last == 4095:
            yield clear, width
            table = {}
            last = eoi
            width = min_code_size + 1
        prefix = index
    if prefix is not None:
        yield prefix, width
        # A decoder adds one more entry after the last code; it may widen the
        # end code.
        if last + 1 >= (1 << width) and width < 12:
            width += 1
    yield eoi, width


def pack_codes(codes):
    out = bytearray()
    bits = 0
    nbits = 0
    for code, width in codes:
        bits |= code << nbits
        nbits += width
        while nbits >= 8:
            out.append(bits & 0xFF)
            bits >>= 8
            nbits -= 8
    if nbits:
        out.append(bits & 0xFF)
    return bytes(out)


def encode_gif(image):
    height = len(image)
    width = len(image[0])
    colours, transparent = palette_of(image)
    table_bits = max(1, (len(colours) - 1).bit_length())
    table_size = 1 << table_bits
    lookup = {c: i for i, c in enumerate(colours)}
    indices = [lookup[p] for row in image for p in row]

    out = bytearray(b"GIF89a")
    out += struct.pack("<HHBBB", width, height, 0x80 | (table_bits - 1), 0, 0)
    for i in range(table_size):
        colour = colours[i] if i < len(colours) else None
        out += bytes(colour if colour is not None else (0xFF, 0xFF, 0xFF))
    if transparent:
        # Graphic control extension: no disposal, transparent index 0.
        out += b"\x21\xF9\x04\x01\x00\x00\x00\x00"
    out += b"\x2C" + struct.pack("<HHHHB", 0, 0, width, height, 0)
    min_code_size = max(2, table_bits)
    out.append(min_code_size)
    data = pack_codes(lzw_codes(indices, min_code_size))
    for start in range(0, len(data), 255):
        block = data[start : start + 255]
        out.append(len(block))
        out += block
    out += b"\x00\x3B"
    return bytes(out)


# ---------------------------------------------------------------------------
# Preview PNGs, enlarged, transparent pixels shown as a light chequer.


def encode_png(image, scale):
    height = len(image) * scale
    width = len(image[0]) * scale
    raw = bytearray()
    for y in range(height):
        raw.append(0)
        for x in range(width):
            p = image[y // scale][x // scale]
            if p is TRANSPARENT:
                p = (0xF0, 0xF0, 0xF0) if ((x // 4) + (y // 4)) % 2 else (0xFF, 0xE0, 0xFF)
            raw += bytes(p)

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    return (
        b"\x89PNG\r\n\x1a\n"
        + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
        + chunk(b"IDAT", zlib.compress(bytes(raw), 9))
        + chunk(b"IEND", b"")
    )


PICTURES = {
    "e.gif": lambda: blank(1, 1),
    "icon.gif": draw_emblem,
    "checked.gif": lambda: draw_box(True),
    "unchecked.gif": lambda: draw_box(False),
}


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    root = Path(__file__).resolve().parent.parent
    parser.add_argument("--out-dir", type=Path, default=root / "res")
    parser.add_argument("--png-dir", type=Path)
    parser.add_argument("--scale", type=int, default=8)
    args = parser.parse_args()
    for name, draw in PICTURES.items():
        image = draw()
        (args.out_dir / name).write_bytes(encode_gif(image))
        if args.png_dir:
            args.png_dir.mkdir(parents=True, exist_ok=True)
            png = args.png_dir / (Path(name).stem + ".png")
            png.write_bytes(encode_png(image, args.scale))
    return 0


if __name__ == "__main__":
    sys.exit(main())
