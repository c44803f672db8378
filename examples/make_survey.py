#!/usr/bin/env python3
"""Generate the example survey: a made-up office floor, 12 reference points,
3 scans per point, written as seq.txt and iwlist-style scan reports.

    python3 make_survey.py [OUTPUT_DIR]      (default: survey/ next to this file)

The output is deterministic (fixed seed), so re-running it reproduces the
committed files byte for byte.
"""

import math
import os
import random
import sys

SEED = 20240611
GRID_STEP_M = 4.0          # metres between neighbouring reference points
SCANS_PER_POINT = 3
SURE_DBM = -80             # beacons this strong are always reported
DETECT_DBM = -92           # weaker ones are never; in between, now and then
MAX_CELLS = 16             # most cells one scan lists

# Reference point grid: x from -1 to 2, y from 0 to 2, walked row by row in a
# serpentine order (left to right, then back, then left to right again).
POINTS = []
for row, y in enumerate(range(0, 3)):
    xs = list(range(-1, 3))
    POINTS += [(x, y) for x in (xs if row % 2 == 0 else reversed(xs))]

# Access points: (ESSID, channel, x metres, y metres, level at 1 m in dBm).
# The surveyed area spans x -4..8 m, y 0..8 m. From the middle of the floor
# so many are in range that three scans together hear more than 16.
ACCESS_POINTS = [
    # our floor
    ("Office",       1,  -2.0,  1.0, -40),
    ("Office",       6,   3.0,  4.0, -38),
    ("Office",      11,   8.0,  7.0, -40),
    ("Office-5G",   36,   0.0,  6.0, -42),
    ("Office-5G",   44,   6.0,  1.0, -42),
    ("Guest Net",    6,   2.0,  0.0, -41),
    ("Guest Net",   11,  -3.0,  8.0, -43),
    ("",             1,   5.0,  9.0, -44),   # hidden network
    ("Printer-2F",   6,   9.0,  3.0, -48),
    ("MeetingRoom", 149,  1.0, 10.0, -44),
    # east wing
    ("Conference",  40,  13.0, 10.0, -40),
    ("DIRECT-7A-Printer", 6, 10.0, 6.0, -52),
    ("Office",       6,  12.0, 13.0, -40),
    ("eduroam",      1,  14.0,  6.0, -38),
    ("eduroam",     48,  13.0, -3.0, -36),
    ("Reception",   11,  16.0, 12.0, -35),
    ("Storage",     153, 10.0, 16.0, -39),
    # elsewhere in the building and next door
    ("Lab",         11, -10.0,  4.0, -39),
    ("Lab-5G",      40, -11.0, -2.0, -41),
    ("Cafe_Free",    6,  -7.0, 14.0, -38),
    ("HR-Office",    1,  -6.0, -7.0, -41),
    ("NeighbourCo",  6,  22.0,  2.0, -32),
    ("NeighbourCo", 36, -18.0, 10.0, -37),
]

# Driver output styles used by the survey laptops.
STYLE_EQUALS = "equals"      # Quality=60/70  Signal level=-50 dBm  Noise level=-95 dBm
STYLE_COLON = "colon"        # Quality:80/100  Signal level:-50 dBm  Noise level:-90 dBm
STYLE_NO_NOISE = "no-noise"  # Quality:0/100  Signal level:-55 dBm

# One entry per reference point: which laptop (driver) scanned there.
POINT_STYLE = [STYLE_EQUALS] * 4 + [STYLE_COLON] * 2 + [STYLE_NO_NOISE] \
    + [STYLE_COLON] + [STYLE_EQUALS] * 4

OUIS = ["00:1A:2B", "00:24:6C", "F4:F2:6D", "34:FC:B9", "00:0F:66", "C8:D7:19"]
FREQ_GHZ = {1: "2.412", 6: "2.437", 11: "2.462", 36: "5.18", 40: "5.2",
            44: "5.22", 48: "5.24", 149: "5.745", 153: "5.765"}
RATES_24 = ("1 Mb/s; 2 Mb/s; 5.5 Mb/s; 11 Mb/s; 6 Mb/s\n"
            "                              12 Mb/s; 24 Mb/s; 54 Mb/s")
RATES_5 = "6 Mb/s; 12 Mb/s; 24 Mb/s; 54 Mb/s"
IND = " " * 20   # indentation of a cell's detail lines


def make_addresses(rng):
    return ["%s:%02X:%02X:%02X" % (rng.choice(OUIS), rng.randrange(256),
                                   rng.randrange(256), rng.randrange(256))
            for _ in ACCESS_POINTS]


def signal_at(ap, px, py, rng):
    """Log-distance path loss, a loss per metre for walls and furniture, and a
    little shadowing noise per scan; in whole dBm."""
    _, _, ax, ay, tx = ap
    d = max(1.0, math.hypot(ax - px, ay - py))
    return round(tx - 35.0 * math.log10(d) - 0.7 * d + rng.gauss(0.0, 2.0))


def cell_text(number, address, ap, level, noise, style, tsf, rng):
    essid, channel = ap[0], ap[1]
    if style == STYLE_EQUALS:
        quality = "Quality=%d/70  Signal level=%d dBm  Noise level=%d dBm" % (
            max(0, min(70, level + 110)), level, noise)
    elif style == STYLE_COLON:
        quality = "Quality:%d/100  Signal level:%d dBm  Noise level:%d dBm" % (
            max(0, min(100, 2 * (level + 100))), level, noise)
    else:
        quality = "Quality:0/100  Signal level:%d dBm" % level
    secured = essid not in ("Guest Net", "Cafe_Free")
    lines = [
        "          Cell %02d - Address: %s" % (number, address),
        IND + "Channel:%d" % channel,
        IND + "Frequency:%s GHz (Channel %d)" % (FREQ_GHZ[channel], channel),
        IND + quality,
        IND + "Encryption key:%s" % ("on" if secured else "off"),
        IND + 'ESSID:"%s"' % essid,
        IND + "Bit Rates:" + (RATES_24 if channel <= 14 else RATES_5),
        IND + "Mode:Master",
        IND + "Extra:tsf=%016x" % tsf,
        IND + "Extra: Last beacon=%dms ago" % rng.randrange(10, 1500),
    ]
    if secured:
        lines += [
            IND + "IE: IEEE 802.11i/WPA2 Version 1",
            IND + "    Authentication Suites (1) : %s"
            % ("802.1x" if essid == "eduroam" else "PSK"),
        ]
    return "\n".join(lines) + "\n"


def scan_text(point, style, addresses, uptimes, clock, rng):
    px, py = point[0] * GRID_STEP_M, point[1] * GRID_STEP_M
    noise = rng.choice((-92, -93, -94, -95, -96))
    heard = []
    for k, ap in enumerate(ACCESS_POINTS):
        level = signal_at(ap, px, py, rng)
        chance = (level - DETECT_DBM) / (SURE_DBM - DETECT_DBM)
        if rng.random() < chance:
            heard.append((level, k))
    heard.sort(reverse=True)
    heard = heard[:MAX_CELLS - rng.randrange(3)]   # the driver keeps 14 to 16
    rng.shuffle(heard)                             # iwlist keeps no order
    cells = []
    for number, (level, k) in enumerate(heard, start=1):
        tsf = (uptimes[k] + clock) * 1000000 + rng.randrange(1000000)
        cells.append(cell_text(number, addresses[k], ACCESS_POINTS[k], level,
                               noise + rng.choice((-1, 0, 0, 1)), style, tsf, rng))
    return "wlan0     Scan completed :\n" + "".join(cells) + "\n"


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "survey")
    os.makedirs(out, exist_ok=True)
    rng = random.Random(SEED)
    addresses = make_addresses(rng)
    uptimes = [rng.randrange(3600, 90 * 86400) for _ in ACCESS_POINTS]

    def write(name, text):
        with open(os.path.join(out, name), "w", newline="\n") as f:
            f.write(text)

    write("seq.txt", "".join("%d\t(%d,%d)\n" % (i, x, y)
                             for i, (x, y) in enumerate(POINTS, start=1)))
    clock = 0   # seconds since the survey started
    for i, point in enumerate(POINTS, start=1):
        for j in range(1, SCANS_PER_POINT + 1):
            clock += rng.randrange(4, 9)
            write("scan%d-%d" % (i, j),
                  scan_text(point, POINT_STYLE[i - 1], addresses, uptimes, clock, rng))
        clock += rng.randrange(30, 90)   # walking to the next point


if __name__ == "__main__":
    main()
