#!/usr/bin/python3
"""Writes resources/Quartz.ttf: the private "Quartz" face of the fuel statistics read-out.

Seven-segment digits, the decimal point, space, "/", "-" (negative values and the "--" of a value that
cannot be shown), "E" (the exponent of a huge value) and the capitals of the read-out units (LBS/H, KG/H, GPH,
LPH, LBS, KG, GAL, L, HR, MIN, NM), drawn from bars in the same segment style; B and S get forms of their own
so that "LBS" does not read as "L85". Needs Debian's
python3-fonttools; run it only to change the face, and commit the result:

    /usr/bin/python3 tools/make-quartz-font.py resources/Quartz.ttf
"""
import sys

from fontTools.fontBuilder import FontBuilder
from fontTools.pens.ttGlyphPen import TTGlyphPen

EM = 1000
ADVANCE = 600
THICK = 70          # stroke thickness
HALF = THICK / 2
GAP = 12            # between neighbouring segments
LEFT, RIGHT = 115, 485
BOTTOM, MIDDLE, TOP = 35, 350, 665


def horizontal(y, x0=LEFT, x1=RIGHT):
    """A horizontal segment as a hexagon, clockwise (TrueType's outer contours)."""
    x0, x1 = x0 + GAP, x1 - GAP
    return [(x0, y), (x0 + HALF, y + HALF), (x1 - HALF, y + HALF), (x1, y), (x1 - HALF, y - HALF),
            (x0 + HALF, y - HALF)]


def vertical(x, y0, y1):
    y0, y1 = y0 + GAP, y1 - GAP
    return [(x, y0), (x - HALF, y0 + HALF), (x - HALF, y1 - HALF), (x, y1), (x + HALF, y1 - HALF),
            (x + HALF, y0 + HALF)]


def bar(x0, y0, x1, y1):
    """A stroke of THICK between two points, clockwise."""
    dx, dy = x1 - x0, y1 - y0
    length = (dx * dx + dy * dy) ** 0.5
    nx, ny = -dy / length * HALF, dx / length * HALF
    return [(x0 - nx, y0 - ny), (x0 + nx, y0 + ny), (x1 + nx, y1 + ny), (x1 - nx, y1 - ny)]


SEGMENTS = {
    "a": horizontal(TOP), "g": horizontal(MIDDLE), "d": horizontal(BOTTOM),
    "f": vertical(LEFT, MIDDLE, TOP), "b": vertical(RIGHT, MIDDLE, TOP),
    "e": vertical(LEFT, BOTTOM, MIDDLE), "c": vertical(RIGHT, BOTTOM, MIDDLE),
}
DIGITS = {"0": "abcdef", "1": "bc", "2": "abged", "3": "abgcd", "4": "fgbc", "5": "afgcd", "6": "afgedc",
          "7": "abc", "8": "abcdefg", "9": "abcdfg"}
LETTERS = {
    "A": "abcefg", "B": "cdefg", "E": "adefg", "G": "afedc", "H": "fbgec", "I": "", "K": "fe", "L": "fed", "M": "fbec",
    "N": "fbec", "P": "abfge", "R": "abfge", "S": "afcd",
}
EXTRA = {  # strokes beyond the segments
    "G": [horizontal(MIDDLE, (LEFT + RIGHT) / 2, RIGHT)],
    "I": [vertical((LEFT + RIGHT) / 2, BOTTOM, MIDDLE), vertical((LEFT + RIGHT) / 2, MIDDLE, TOP),
          horizontal(TOP), horizontal(BOTTOM)],
    "K": [bar(LEFT + HALF, MIDDLE, RIGHT, TOP + HALF), bar(LEFT + HALF, MIDDLE, RIGHT, BOTTOM - HALF)],
    "M": [bar(LEFT, TOP + HALF, (LEFT + RIGHT) / 2, MIDDLE), bar((LEFT + RIGHT) / 2, MIDDLE, RIGHT, TOP + HALF)],
    "N": [bar(LEFT, TOP + HALF, RIGHT, BOTTOM - HALF)],
    "R": [bar((LEFT + RIGHT) / 2, MIDDLE, RIGHT, BOTTOM - HALF)],
    # A slanted middle stroke, so that S does not read as 5.
    "S": [bar(LEFT + HALF, MIDDLE + 2 * HALF, RIGHT - HALF, MIDDLE - 2 * HALF)],
}


def draw(polygons):
    pen = TTGlyphPen(None)
    for polygon in polygons:
        pen.moveTo(polygon[0])
        for p in polygon[1:]:
            pen.lineTo(p)
        pen.closePath()
    return pen.glyph()


def main(path):
    shapes = {".notdef": [[(50, 0), (50, 700), (550, 700), (550, 0)], [(100, 50), (500, 50), (500, 650), (100, 650)]],
              "space": [], "period": [[(60, 0), (60, 80), (140, 80), (140, 0)]],
              "slash": [bar(110, BOTTOM - HALF, 490, TOP + HALF)], "hyphen": [SEGMENTS["g"]]}
    advances = {".notdef": ADVANCE, "space": 300, "period": 200, "slash": ADVANCE, "hyphen": ADVANCE}
    cmap = {ord(" "): "space", ord("."): "period", ord("/"): "slash", ord("-"): "hyphen"}
    for char, segments in list(DIGITS.items()) + list(LETTERS.items()):
        name = {"0": "zero", "1": "one", "2": "two", "3": "three", "4": "four", "5": "five", "6": "six",
                "7": "seven", "8": "eight", "9": "nine"}.get(char, char)
        shapes[name] = [SEGMENTS[s] for s in segments] + EXTRA.get(char, [])
        advances[name] = ADVANCE
        cmap[ord(char)] = name
    order = [".notdef"] + sorted(n for n in shapes if n != ".notdef")
    glyphs = {name: draw([[(round(x), round(y)) for x, y in p] for p in shapes[name]]) for name in order}
    metrics = {}
    for name in order:
        xs = [x for p in shapes[name] for x, _ in p]
        metrics[name] = (advances[name], round(min(xs)) if xs else 0)

    builder = FontBuilder(EM, isTTF=True)
    builder.setupGlyphOrder(order)
    builder.setupCharacterMap(cmap)
    builder.setupGlyf(glyphs)
    builder.setupHorizontalMetrics(metrics)
    builder.setupHorizontalHeader(ascent=800, descent=-200)
    builder.setupNameTable({"familyName": "Quartz", "styleName": "Regular", "uniqueFontIdentifier": "Skyvane Quartz",
                            "fullName": "Quartz", "psName": "Quartz-Regular", "version": "Version 1.0"})
    builder.setupOS2(sTypoAscender=800, sTypoDescender=-200, usWinAscent=800, usWinDescent=200)
    builder.setupPost()
    builder.save(path)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "resources/Quartz.ttf")
