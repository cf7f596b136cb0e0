#!/usr/bin/env python3
"""Writes a window layout file (ConfigWindows.cfg) for the demo: the six flight instruments in two rows of
three, the radios and the engine gauges of the chosen aircraft beside and below them, sized to the screen.

Usage: make-demo-layout.py OUTPUT SCREEN_WIDTH SCREEN_HEIGHT [single|twin|turboprop]
"""
import math
import struct
import sys

RECORD = 48
RECORDS = 37

# Gauge windows by creation index (0 = TForm2 .. 35 = TForm37).
FLIGHT = [0, 1, 2, 4, 3, 5]  # airspeed, altimeter, horizon / VSI, gyrocompass, turn coordinator
RADIOS = [6, 8]  # VOR1, ADF
SINGLE = [9, 11, 13, 22, 24, 26, 27, 34, 17, 35]  # RPM, MAP, oil, fuel flow, EGT, fuel L/R, battery, suction, stats
TWIN = [9, 10, 11, 12, 13, 14, 22, 23, 24, 25, 26, 27, 34, 35]
TURBOPROP = [9, 15, 18, 20, 13, 22, 26, 27, 29, 34, 17, 35]  # N1, prop, ITT, torque, oil, fuel flow, tanks, OAT, ...


def extended(value):
    """The 80-bit x87 extended float of a value (only 0 and quarter turns are written here)."""
    if value == 0:
        return b"\0" * 10
    mantissa, exponent = math.frexp(abs(value))
    return struct.pack("<QH", int(mantissa * 2**64), (exponent - 1 + 16383) | (0x8000 if value < 0 else 0))


def main():
    if len(sys.argv) < 4:
        sys.exit(__doc__)
    out, width, height = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    aircraft = sys.argv[4] if len(sys.argv) > 4 else "single"
    engines = {"twin": TWIN, "turboprop": TURBOPROP}.get(aircraft, SINGLE)
    placed = []  # (index, column, row)
    for n, index in enumerate(FLIGHT):
        placed.append((index, n % 3, n // 3))
    for n, index in enumerate(RADIOS):
        placed.append((index, 3, n))
    columns = 7 if aircraft == "twin" else 6 if aircraft == "turboprop" else 5
    for n, index in enumerate(engines):
        placed.append((index, n % columns, 2 + n // columns))
    rows = 1 + max(row for _, _, row in placed)
    cols = 1 + max(col for _, col, _ in placed)
    # The control window (841 x 343) goes beside the gauges when the screen is wide, else below them.
    beside = max(120, min((width - 40 - 841) // cols, (height - 20) // rows))
    below = max(120, min((width - 20) // cols, (height - 420) // rows))
    side = max(beside, below)
    records = [bytearray(RECORD) for _ in range(RECORDS)]
    if side == beside:
        control = (20, 20 + cols * side)
    else:
        control = (min(height - 400, rows * side + 20), 20)
    struct.pack_into("<iiiii", records[0], 0, control[0], control[1], 841, 343, 1)
    for index, col, row in placed:
        rec = records[index + 1]
        struct.pack_into("<iiiii", rec, 0, 10 + row * side, 10 + col * side, side, side, 1)
        rec[24:34] = extended(0.0)
    with open(out, "wb") as f:
        for rec in records:
            f.write(bytes(rec))


if __name__ == "__main__":
    main()
