#!/usr/bin/env python3
"""Draws the picture Velarix shows in the bottom of the screen while the flip is closed.

On the real phone a closed flip hides the lower part of the touch screen, so
the viewer paints a picture of the cover and its keypad there instead of the
screen's pixels, and this script is where that picture comes from. It is drawn
procedurally (shapes from signed distances, glyphs from a small bitmap font) so
it can be tuned here and regenerated, instead of being edited by hand.

Output: res/closed_flip.ppm, binary P6, 208 x 112, maxval 255, top row first.
The header is written as exactly b"P6\\n208 112\\n255\\n"; cmake/EmbedPpm.cmake
relies on that byte for byte.

Usage: draw_closed_flip.py [--out PATH] [--png PATH [--scale N]]
  --png writes a preview PNG as well (stdlib zlib), handy for looking at it.
"""

import argparse
import math
import struct
import sys
import zlib
from pathlib import Path

WIDTH = 208
HEIGHT = 112
HEADER = b"P6\n%d %d\n255\n" % (WIDTH, HEIGHT)

# ---------------------------------------------------------------------------
# Palette. The cover is dark graphite plastic, the keys brushed silver, so the
# keypad reads at a glance against the bright live screen above it.

BACKGROUND_TOP = (0x2A, 0x2B, 0x2E)  # the phone body seen around the cover's corners
BACKGROUND_BOTTOM = (0x1E, 0x1F, 0x22)
COVER_TOP = (0x5C, 0x62, 0x6B)
COVER_BOTTOM = (0x2F, 0x33, 0x39)
KEY_TOP = (0xEE, 0xF0, 0xF3)
KEY_BOTTOM = (0xB4, 0xB9, 0xC1)
KEY_RIM = (0x3A, 0x3E, 0x45)
DIGIT_INK = (0x1B, 0x1E, 0x23)
LETTER_INK = (0x4F, 0x56, 0x60)
CALL_INK = (0x1F, 0x8A, 0x3A)
END_INK = (0xC4, 0x2B, 0x24)
SLOT_DARK = (0x15, 0x17, 0x1A)

# Light falls from above and a little from the left; bevels facing it brighten.
_lx, _ly = -0.35, -1.0
_ll = math.hypot(_lx, _ly)
LIGHT = (_lx / _ll, _ly / _ll)

# ---------------------------------------------------------------------------
# Bitmap font. Digits are 5 x 7 so they stay crisp at 1:1; the letters under
# each digit are 5 rows high and mostly 3 wide (M, N and W need more room to
# be readable at all).

DIGITS = {
    "0": [".###.", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."],
    "1": ["..#..", ".##..", "..#..", "..#..", "..#..", "..#..", ".###."],
    "2": [".###.", "#...#", "....#", "...#.", "..#..", ".#...", "#####"],
    "3": [".###.", "#...#", "....#", "..##.", "....#", "#...#", ".###."],
    "4": ["...#.", "..##.", ".#.#.", "#..#.", "#####", "...#.", "...#."],
    "5": ["#####", "#....", "####.", "....#", "....#", "#...#", ".###."],
    "6": ["..##.", ".#...", "#....", "####.", "#...#", "#...#", ".###."],
    "7": ["#####", "....#", "...#.", "..#..", ".#...", ".#...", ".#..."],
    "8": [".###.", "#...#", "#...#", ".###.", "#...#", "#...#", ".###."],
    "9": [".###.", "#...#", "#...#", ".####", "....#", "...#.", ".##.."],
    "*": [".....", "..#..", "#.#.#", ".###.", "#.#.#", "..#..", "....."],
    "#": [".#.#.", ".#.#.", "#####", ".#.#.", "#####", ".#.#.", ".#.#."],
}

LETTERS = {
    "A": [".#.", "#.#", "###", "#.#", "#.#"],
    "B": ["##.", "#.#", "##.", "#.#", "##."],
    "C": [".##", "#..", "#..", "#..", ".##"],
    "D": ["##.", "#.#", "#.#", "#.#", "##."],
    "E": ["###", "#..", "##.", "#..", "###"],
    "F": ["###", "#..", "##.", "#..", "#.."],
    "G": [".##", "#..", "#.#", "#.#", ".##"],
    "H": ["#.#", "#.#", "###", "#.#", "#.#"],
    "I": ["###", ".#.", ".#.", ".#.", "###"],
    "J": ["..#", "..#", "..#", "#.#", ".#."],
    "K": ["#.#", "#.#", "##.", "#.#", "#.#"],
    "L": ["#..", "#..", "#..", "#..", "###"],
    "M": ["#...#", "##.##", "#.#.#", "#...#", "#...#"],
    "N": ["#..#", "##.#", "#.##", "#..#", "#..#"],
    "O": [".#.", "#.#", "#.#", "#.#", ".#."],
    "P": ["##.", "#.#", "##.", "#..", "#.."],
    "Q": [".#.", "#.#", "#.#", "##.", ".##"],
    "R": ["##.", "#.#", "##.", "#.#", "#.#"],
    "S": [".##", "#..", ".#.", "..#", "##."],
    "T": ["###", ".#.", ".#.", ".#.", ".#."],
    "U": ["#.#", "#.#", "#.#", "#.#", "###"],
    "V": ["#.#", "#.#", "#.#", "#.#", ".#."],
    "W": ["#...#", "#...#", "#.#.#", "##.##", "#...#"],
    "X": ["#.#", "#.#", ".#.", "#.#", "#.#"],
    "Y": ["#.#", "#.#", ".#.", ".#.", ".#."],
    "Z": ["###", "..#", ".#.", "#..", "###"],
    "+": ["...", ".#.", "###", ".#.", "..."],
    # Key 1 carries the voicemail mark: two reels joined by tape.
    "@": [".##...##.", "#..#.#..#", "#..#.#..#", ".#######."],
}

# The call and hang-up marks are drawn from shapes rather than typed in as
# bitmaps: a handset is all curves, and at this size the curve only reads when
# its edge pixels are shaded. Each shape answers "is this point inside?" for a
# point in the unit square, y pointing down.


def lifted_handset(u, v):
    """The call mark: a handset held up, earpiece top left, mouthpiece bottom right."""
    # The grip is a quarter ring around the top right corner.
    r = math.hypot(u - 1.0, v)
    if u <= 1.0 and v >= 0.0 and 0.74 <= r <= 1.0:
        return True
    # Earpiece and mouthpiece are thicker than the grip.
    return (u <= 0.36 and v <= 0.30) or (u >= 0.70 and v >= 0.64)


def resting_handset(u, v):
    """The hang-up mark: the handset put down, both ends facing the cradle."""
    r = math.hypot(u - 0.5, v - 0.62)
    if v <= 0.62 and 0.30 <= r <= 0.5:
        return True
    return 0.5 <= v <= 0.85 and (u <= 0.30 or u >= 0.70)


def rasterise(shape, w, h, samples=4):
    """Turns a shape into a w x h grid of coverage values by supersampling."""
    grid = []
    for y in range(h):
        row = []
        for x in range(w):
            hits = 0
            for j in range(samples):
                for i in range(samples):
                    u = (x + (i + 0.5) / samples) / w
                    v = (y + (j + 0.5) / samples) / h
                    hits += shape(u, v)
            row.append(hits / (samples * samples))
        grid.append(row)
    return grid


# Keypad layout, top to bottom: digit and the small letters printed beside it.
KEYS = [
    [("1", "@"), ("2", "ABC"), ("3", "DEF")],
    [("4", "GHI"), ("5", "JKL"), ("6", "MNO")],
    [("7", "PQRS"), ("8", "TUV"), ("9", "WXYZ")],
    [("*", ""), ("0", "+"), ("#", "")],
]

# ---------------------------------------------------------------------------
# Geometry, in pixels; pixel (x, y) covers [x, x+1) x [y, y+1).

COVER_LEFT, COVER_RIGHT, COVER_TOP_Y = 2.0, 206.0, 2.0
COVER_RADIUS = 16.0
KEY_W, KEY_GAP_X = 58.0, 5.0
KEY_H, KEY_GAP_Y = 17.0, 4.0
KEY_RADIUS = 6.5
GRID_TOP = 27.0
TOP_ROW_Y, TOP_ROW_H = 7.0, 14.0
KEYS_LEFT = (WIDTH - (3 * KEY_W + 2 * KEY_GAP_X)) / 2.0


def key_x(col):
    return KEYS_LEFT + col * (KEY_W + KEY_GAP_X)


# ---------------------------------------------------------------------------
# Canvas: floats per channel, composited with "over" and rounded at the end.


class Canvas:
    def __init__(self, width, height):
        self.width = width
        self.height = height
        self.px = [[0.0, 0.0, 0.0] for _ in range(width * height)]

    def blend(self, x, y, rgb, alpha):
        if alpha <= 0.0 or not (0 <= x < self.width and 0 <= y < self.height):
            return
        alpha = min(alpha, 1.0)
        p = self.px[y * self.width + x]
        for i in range(3):
            p[i] += (rgb[i] - p[i]) * alpha

    def to_bytes(self):
        out = bytearray()
        for p in self.px:
            for c in p:
                out.append(max(0, min(255, int(round(c)))))
        return bytes(out)


def mix(a, b, t):
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))


def shade(rgb, amount):
    """Brightens towards white for amount > 0, darkens towards black below 0."""
    if amount >= 0:
        return mix(rgb, (255, 255, 255), amount)
    return mix(rgb, (0, 0, 0), -amount)


def clamp01(v):
    return 0.0 if v < 0.0 else 1.0 if v > 1.0 else v


def rounded_rect_sdf(x0, y0, x1, y1, r):
    """Signed distance to a rounded rectangle: negative inside, in pixels."""
    cx, cy = (x0 + x1) / 2.0, (y0 + y1) / 2.0
    hx, hy = (x1 - x0) / 2.0 - r, (y1 - y0) / 2.0 - r

    def sdf(px, py):
        qx = abs(px - cx) - hx
        qy = abs(py - cy) - hy
        outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
        inside = min(max(qx, qy), 0.0)
        return outside + inside - r

    return sdf


def normal(sdf, px, py):
    """Outward unit normal of the shape's edge nearest (px, py)."""
    e = 0.5
    nx = sdf(px + e, py) - sdf(px - e, py)
    ny = sdf(px, py + e) - sdf(px, py - e)
    n = math.hypot(nx, ny)
    return (0.0, 0.0) if n == 0.0 else (nx / n, ny / n)


def paint(canvas, sdf, colour_at, bounds, reach=0.5):
    """Fills a shape with edge coverage taken from its signed distance.

    colour_at(x, y, d) returns (rgb, alpha) for a pixel centre at signed
    distance d; the shape only gets pixels with d < reach, so shadows and
    glows can pass a larger reach and fade themselves out.
    """
    bx0, by0, bx1, by1 = bounds
    for y in range(max(0, int(by0)), min(canvas.height, int(math.ceil(by1)))):
        for x in range(max(0, int(bx0)), min(canvas.width, int(math.ceil(bx1)))):
            px, py = x + 0.5, y + 0.5
            d = sdf(px, py)
            if d >= reach:
                continue
            got = colour_at(px, py, d)
            if got is None:
                continue
            rgb, alpha = got
            canvas.blend(x, y, rgb, alpha)


def coverage(d):
    return clamp01(0.5 - d)


# ---------------------------------------------------------------------------
# The pieces of the picture.


def draw_background(canvas):
    for y in range(canvas.height):
        rgb = mix(BACKGROUND_TOP, BACKGROUND_BOTTOM, y / (canvas.height - 1))
        for x in range(canvas.width):
            canvas.blend(x, y, rgb, 1.0)


def draw_cover(canvas):
    # The cover runs on below the picture, so its lower corners are never seen.
    bottom = HEIGHT + COVER_RADIUS + 8.0
    sdf = rounded_rect_sdf(COVER_LEFT, COVER_TOP_Y, COVER_RIGHT, bottom, COVER_RADIUS)

    # A soft shadow just outside the rim lifts the cover off the body.
    def shadow(px, py, d):
        if d < 0.0:
            return None
        return (0, 0, 0), 0.45 * clamp01(1.0 - d / 2.5)

    paint(canvas, sdf, shadow, (0, 0, WIDTH, HEIGHT), reach=2.5)

    def body(px, py, d):
        t = clamp01((py - COVER_TOP_Y) / (HEIGHT - COVER_TOP_Y))
        rgb = mix(COVER_TOP, COVER_BOTTOM, t * t * 0.6 + t * 0.4)
        # Bevel: a rim about two pixels wide that catches or loses the light
        # by which way it faces, then a faint second step to round it off.
        inset = -d
        if inset < 3.5:
            nx, ny = normal(sdf, px, py)
            facing = -(nx * LIGHT[0] + ny * LIGHT[1])
            if inset < 1.5:
                rgb = shade(rgb, 0.42 * facing if facing > 0 else 0.55 * facing)
            else:
                rgb = shade(rgb, 0.14 * facing if facing > 0 else 0.2 * facing)
        # A very light sheen near the top, as if from a glossy finish.
        sheen = clamp01(1.0 - (py - COVER_TOP_Y) / 22.0) * 0.06
        rgb = shade(rgb, sheen)
        return rgb, coverage(d)

    paint(canvas, sdf, body, (0, 0, WIDTH, HEIGHT))


def draw_key(canvas, x0, y0, x1, y1, tint=None):
    sdf = rounded_rect_sdf(x0, y0, x1, y1, KEY_RADIUS)

    # The keys stand proud of the cover: a short shadow below and to the right.
    shadow_sdf = rounded_rect_sdf(x0 + 0.6, y0 + 1.4, x1 + 0.6, y1 + 1.4, KEY_RADIUS)

    def shadow(px, py, d):
        return (0, 0, 0), 0.5 * clamp01(1.0 - (d + 0.5) / 2.0)

    paint(canvas, shadow_sdf, shadow, (x0 - 3, y0 - 3, x1 + 4, y1 + 5), reach=1.5)

    top, bottom = KEY_TOP, KEY_BOTTOM
    if tint is not None:
        top, bottom = mix(top, tint, 0.10), mix(bottom, tint, 0.16)

    def body(px, py, d):
        t = clamp01((py - y0) / (y1 - y0))
        rgb = mix(top, bottom, t)
        inset = -d
        if inset < 2.5:
            nx, ny = normal(sdf, px, py)
            facing = -(nx * LIGHT[0] + ny * LIGHT[1])
            if inset < 1.2:
                # A dark rim keeps the key's outline sharp against the graphite,
                # but on the lit side it turns into a bright lip.
                rgb = mix(rgb, KEY_RIM, 0.55) if facing < 0.35 else shade(rgb, 0.55 * facing)
            else:
                rgb = shade(rgb, 0.25 * facing if facing > 0 else 0.12 * facing)
        return rgb, coverage(d)

    paint(canvas, sdf, body, (x0 - 1, y0 - 1, x1 + 1, y1 + 1))


def blit(canvas, glyph, x, y, rgb, alpha=1.0):
    """Draws a glyph given either as strings of '#' and '.' or as rows of coverage."""
    for row, line in enumerate(glyph):
        for col, cell in enumerate(line):
            cover = (1.0 if cell == "#" else 0.0) if isinstance(cell, str) else cell
            canvas.blend(x + col, y + row, rgb, alpha * cover)


def embossed(canvas, glyph, x, y, rgb):
    """Prints a glyph with a faint light line under it, like pad printing on a
    rounded key catching the light on its lower edge."""
    blit(canvas, glyph, x, y + 1, (255, 255, 255), 0.35)
    blit(canvas, glyph, x, y, rgb)


def text_width(letters):
    if not letters:
        return 0
    return sum(len(LETTERS[c][0]) for c in letters) + (len(letters) - 1)


def draw_key_label(canvas, x0, y0, digit, letters):
    glyph = DIGITS[digit]
    gap = 3
    total = len(glyph[0]) + (gap + text_width(letters) if letters else 0)
    x = int(round(x0 + (KEY_W - total) / 2.0))
    y = int(round(y0 + (KEY_H - len(glyph)) / 2.0))
    embossed(canvas, glyph, x, y, DIGIT_INK)
    if not letters:
        return
    x += len(glyph[0]) + gap
    for ch in letters:
        g = LETTERS[ch]
        # Letters sit on the digit's baseline.
        embossed(canvas, g, x, y + len(glyph) - len(g), LETTER_INK)
        x += len(g[0]) + 1


def draw_speaker(canvas):
    """The slot of the flip's loudspeaker, between the call and hang-up keys."""
    cx = WIDTH / 2.0
    cy = TOP_ROW_Y + TOP_ROW_H / 2.0
    x0, x1 = cx - 22.0, cx + 22.0
    y0, y1 = cy - 2.5, cy + 2.5
    sdf = rounded_rect_sdf(x0, y0, x1, y1, 2.5)

    # Recessed: the lip below the slot catches light, the top edge is in shade.
    def lip(px, py, d):
        if d < 0.0:
            return None
        nx, ny = normal(sdf, px, py)
        if ny <= 0.0:
            return (0, 0, 0), 0.35 * clamp01(1.0 - d) * (-ny)
        return (255, 255, 255), 0.22 * clamp01(1.0 - d) * ny

    paint(canvas, sdf, lip, (x0 - 2, y0 - 2, x1 + 2, y1 + 2), reach=1.0)

    def hole(px, py, d):
        # The grille bars across the slot read as a speaker rather than a gap.
        rgb = SLOT_DARK
        if int(px) % 3 == 0:
            rgb = shade(SLOT_DARK, 0.18)
        # The upper inside wall is in the slot's own shadow.
        if py - y0 < 1.5:
            rgb = shade(rgb, -0.4)
        return rgb, coverage(d)

    paint(canvas, sdf, hole, (x0 - 1, y0 - 1, x1 + 1, y1 + 1))


def draw_top_row(canvas):
    y0, y1 = TOP_ROW_Y, TOP_ROW_Y + TOP_ROW_H
    marks = (
        (0, CALL_INK, rasterise(lifted_handset, 9, 9)),
        (2, END_INK, rasterise(resting_handset, 13, 7)),
    )
    for col, tint, icon in marks:
        x0 = key_x(col)
        draw_key(canvas, x0, y0, x0 + KEY_W, y1, tint=tint)
        ix = int(round(x0 + (KEY_W - len(icon[0])) / 2.0))
        iy = int(round(y0 + (TOP_ROW_H - len(icon)) / 2.0))
        embossed(canvas, icon, ix, iy, tint)
    draw_speaker(canvas)


def draw_groove(canvas):
    """A fine moulding line that parts the call keys from the number keys."""
    y = int(GRID_TOP - KEY_GAP_Y / 2.0 - 1)
    x0, x1 = int(KEYS_LEFT + 4), int(WIDTH - KEYS_LEFT - 4)
    for x in range(x0, x1):
        # Fade the ends so the line melts into the plastic.
        edge = min(x - x0, x1 - 1 - x)
        a = clamp01(edge / 10.0)
        canvas.blend(x, y, (0, 0, 0), 0.30 * a)
        canvas.blend(x, y + 1, (255, 255, 255), 0.10 * a)


def draw_keypad(canvas):
    for row, keys in enumerate(KEYS):
        y0 = GRID_TOP + row * (KEY_H + KEY_GAP_Y)
        for col, (digit, letters) in enumerate(keys):
            x0 = key_x(col)
            draw_key(canvas, x0, y0, x0 + KEY_W, y0 + KEY_H)
            draw_key_label(canvas, x0, y0, digit, letters)


def draw():
    canvas = Canvas(WIDTH, HEIGHT)
    draw_background(canvas)
    draw_cover(canvas)
    draw_top_row(canvas)
    draw_groove(canvas)
    draw_keypad(canvas)
    return canvas.to_bytes()


# ---------------------------------------------------------------------------
# Output.


def write_ppm(path, rgb):
    assert len(rgb) == WIDTH * HEIGHT * 3
    path.parent.mkdir(parents=True, exist_ok=True)
    data = HEADER + rgb
    # Leave the file alone when nothing changed, so its time stamp does not
    # make the build embed it again.
    if path.exists() and path.read_bytes() == data:
        return
    path.write_bytes(data)


def write_png(path, rgb, scale):
    """A minimal PNG writer, so a preview needs nothing beyond the standard library."""
    w, h = WIDTH * scale, HEIGHT * scale
    rows = bytearray()
    for y in range(h):
        src = (y // scale) * WIDTH * 3
        rows.append(0)  # filter type: none
        for x in range(w):
            i = src + (x // scale) * 3
            rows += rgb[i : i + 3]

    def chunk(tag, body):
        c = tag + body
        return struct.pack(">I", len(body)) + c + struct.pack(">I", zlib.crc32(c) & 0xFFFFFFFF)

    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 2, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(bytes(rows), 9))
    png += chunk(b"IEND", b"")
    path.write_bytes(png)


def main(argv):
    root = Path(__file__).resolve().parent.parent
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--out", type=Path, default=root / "res" / "closed_flip.ppm")
    ap.add_argument("--png", type=Path, help="also write a preview PNG here")
    ap.add_argument("--scale", type=int, default=1, help="integer zoom for the preview")
    args = ap.parse_args(argv)

    rgb = draw()
    write_ppm(args.out, rgb)
    if args.png:
        write_png(args.png, rgb, max(1, args.scale))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
