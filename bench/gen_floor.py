#!/usr/bin/env python3
"""Generate a one-floor site survey: seq.txt and iwlist-style scan reports.

    python3 gen_floor.py OUT_DIR [--width 12] [--height 10] [--scans 5]
                         [--aps 40] [--audible 30] [--order discovery] [--seed 1]

The reference points lie on a WIDTH x HEIGHT integer grid, --unit metres
apart, walked row by row in a serpentine (x = 0 .. WIDTH-1 on even rows, back
on odd ones); seq.txt lists them in that order and scan<i>-<j> is the j-th
report saved at the i-th point.

Access points: --aps of them on the floor and --outside more (a quarter of
--aps unless given) in a band --margin metres wide around it, each with its
own address, network name, channel and level at 1 m (-40 to -30 dBm). The
level a point receives is the log-distance model

    P0 - 10 n log10(d / 1 m) + shadowing + fading

with d at least 1 m and n = --exponent (3). Shadowing is normal in dB
(--shadowing, sigma 5) and fixed for each access point and reference point,
so every scan at a point sees the same; it varies over the floor with the
correlation exp(-d / D) between points d metres apart (--shadow-corr D, 4 m;
0 makes it independent at each point). Fading is drawn afresh for every
access point in every scan (--fading, sigma 2 dB). Levels are printed in
whole dBm, no stronger than -20; the noise level is --noise (-95).

A scan hears the access points at or above --sensitivity (-95 dBm), at most
the --audible (30) strongest of them, and lists them

  --order discovery  in a random order of their own in every scan, as a
                     scanner reports cells in the order it found them;
  --order strongest  strongest first.

Both orders give the same floor, the same levels and the same access points
in every scan for a given seed: only the order of the cells differs. With
fewer than 16 access points in all (--aps 12 places 12 + 3) every scan lists
fewer than 16 cells, so a reader that keeps 16 keeps them all; on a larger
grid (--unit 3 --exponent 4) the far ones also fall below the sensitivity.

Cells are written as `iwlist wlan0 scan` prints them:

          Cell 01 - Address: 00:24:6C:1F:2E:3D
                    Channel:6
                    Frequency:2.437 GHz (Channel 6)
                    Quality=48/70  Signal level=-62 dBm  Noise level=-95 dBm
                    Encryption key:on
                    ESSID:"Office"

followed by the bit rates, mode, timing extras and, for a secured network,
its WPA2 element. No network name contains the word that starts a cell.

The output is deterministic for given options. OUT_DIR is created if needed;
seq.txt and the scan files in it are overwritten (others are left alone).
"""

import argparse
import math
import os
import random

NAMES = ["Office", "Office", "Office-5G", "eduroam", "eduroam", "Guest Net",
         "Printer-2F", "DIRECT-7A-Printer", "MeetingRoom", "Lab", "Lab-5G",
         "Reception", "Storage", "Staff", "IoT", "Cafe_Free", "NeighbourCo", ""]
OPEN_NAMES = ("Guest Net", "Cafe_Free")
OUIS = ["00:0F:66", "00:1A:2B", "00:24:6C", "F4:F2:6D", "34:FC:B9", "9C:1C:12",
        "70:3A:0E", "18:64:72", "B4:5D:50", "C8:D7:19"]
CHANNELS_24 = [1, 6, 11]
CHANNELS_5 = [36, 40, 44, 48, 52, 56, 60, 64, 100, 104, 108, 112, 149, 153, 157, 161]
IND = " " * 20  # indentation of a cell's detail lines
RATES_24 = (IND + "Bit Rates:1 Mb/s; 2 Mb/s; 5.5 Mb/s; 11 Mb/s; 6 Mb/s\n"
            + IND + "          12 Mb/s; 24 Mb/s; 54 Mb/s\n")
RATES_5 = IND + "Bit Rates:6 Mb/s; 12 Mb/s; 24 Mb/s; 54 Mb/s\n"
WPA2 = (IND + "IE: IEEE 802.11i/WPA2 Version 1\n"
        + IND + "    Group Cipher : CCMP\n"
        + IND + "    Pairwise Ciphers (1) : CCMP\n"
        + IND + "    Authentication Suites (1) : PSK\n")
MIN_DISTANCE_M = 1.0  # the reference distance d0 of the path loss model
MAX_LEVEL_DBM = -20   # levels are printed no stronger than this
FEATURES = 200        # cosines summed for a correlated shadowing field


def frequency(channel):
    if channel <= 14:
        return f"{(2407 + 5 * channel) / 1000:g}"
    return f"{(5000 + 5 * channel) / 1000:g}"


def serpentine(width, height):
    """Grid coordinates in walking order."""
    points = []
    for y in range(height):
        xs = range(width) if y % 2 == 0 else range(width - 1, -1, -1)
        points += [(x, y) for x in xs]
    return points


def place_access_points(args, rng):
    """(x m, y m, level at 1 m, cell text before the quality line, after it).
    The floor spans 0 .. (width-1) * unit by 0 .. (height-1) * unit."""
    fx = (args.width - 1) * args.unit
    fy = (args.height - 1) * args.unit
    spots = [(rng.uniform(0.0, fx), rng.uniform(0.0, fy)) for _ in range(args.aps)]
    for _ in range(args.outside):
        # Uniform over the band around the floor: pick a side by its area.
        m = args.margin
        sides = [(fx + 2 * m) * m, (fx + 2 * m) * m, fy * m, fy * m]
        side = rng.choices(range(4), weights=sides)[0]
        if side < 2:
            x = rng.uniform(-m, fx + m)
            y = rng.uniform(-m, 0.0) if side == 0 else rng.uniform(fy, fy + m)
        else:
            y = rng.uniform(0.0, fy)
            x = rng.uniform(-m, 0.0) if side == 2 else rng.uniform(fx, fx + m)
        spots.append((x, y))

    taken = set()
    pool = []
    for x, y in spots:
        while True:
            address = rng.choice(OUIS) + ":" + ":".join(
                f"{rng.randrange(256):02X}" for _ in range(3))
            if address not in taken:
                taken.add(address)
                break
        five = rng.random() < 0.5
        channel = rng.choice(CHANNELS_5 if five else CHANNELS_24)
        name = rng.choice(NAMES)
        secured = name not in OPEN_NAMES
        head = (f" - Address: {address}\n"
                f"{IND}Channel:{channel}\n"
                f"{IND}Frequency:{frequency(channel)} GHz (Channel {channel})\n")
        tail = (f"{IND}Encryption key:{'on' if secured else 'off'}\n"
                f"{IND}ESSID:\"{name}\"\n"
                + (RATES_5 if five else RATES_24)
                + f"{IND}Mode:Master\n")
        pool.append((x, y, rng.uniform(-40.0, -30.0), head, tail, secured))
    return pool


def shadowing(args, points, count, rng):
    """shadow[a][i]: the fixed shadowing of access point a at point i, in dB.

    Independent at each point, or, with --shadow-corr D, a field with the
    correlation exp(-distance / D) between any two points (the exponential
    model usual for shadowing): a sum of FEATURES random cosines whose spatial
    frequencies are drawn from that correlation's spectrum, a bivariate
    Cauchy distribution of scale 1 / D."""
    if args.shadow_corr <= 0.0:
        return [[args.shadowing * rng.gauss(0.0, 1.0) for _ in points] for _ in range(count)]
    pos = [(x * args.unit, y * args.unit) for x, y in points]
    amplitude = args.shadowing * math.sqrt(2.0 / FEATURES)
    field = []
    for _ in range(count):
        waves = []
        for _ in range(FEATURES):
            scale = 1.0 / (args.shadow_corr * max(abs(rng.gauss(0.0, 1.0)), 1e-12))
            waves.append((rng.gauss(0.0, 1.0) * scale, rng.gauss(0.0, 1.0) * scale,
                          rng.uniform(0.0, 2.0 * math.pi)))
        field.append([amplitude * sum(math.cos(kx * px + ky * py + phase)
                                      for kx, ky, phase in waves)
                      for px, py in pos])
    return field


def scan_text(heard, noise, text_rng):
    """One report; `heard` lists (level dBm, access point) in report order."""
    parts = ["wlan0     Scan completed :\n"]
    for number, (level, ap) in enumerate(heard, start=1):
        quality = max(0, min(70, level + 110))
        parts.append(f"          Cell {number:02d}")
        parts.append(ap[3])
        parts.append(f"{IND}Quality={quality}/70  Signal level={level} dBm  "
                     f"Noise level={noise} dBm\n")
        parts.append(ap[4])
        parts.append(f"{IND}Extra:tsf={text_rng.getrandbits(40):016x}\n"
                     f"{IND}Extra: Last beacon={text_rng.randrange(10, 1500)}ms ago\n")
        if ap[5]:
            parts.append(WPA2)
    parts.append("\n")
    return "".join(parts)


def positive_int(text):
    value = int(text)
    if value < 1:
        raise argparse.ArgumentTypeError(f"{text} is not a positive number")
    return value


def parse_args():
    ap = argparse.ArgumentParser(
        description="Generate a one-floor site survey (seq.txt and iwlist-style scan reports).")
    ap.add_argument("out", metavar="OUT_DIR", help="directory to write the survey into")
    ap.add_argument("--width", type=positive_int, default=12, help="grid points along x (12)")
    ap.add_argument("--height", type=positive_int, default=10, help="grid points along y (10)")
    ap.add_argument("--unit", type=float, default=1.5, help="metres between grid points (1.5)")
    ap.add_argument("--scans", type=positive_int, default=5, help="reports per point (5)")
    ap.add_argument("--aps", type=int, default=40, help="access points on the floor (40)")
    ap.add_argument("--outside", type=int, default=None,
                    help="access points in the band around the floor (a quarter of --aps)")
    ap.add_argument("--margin", type=float, default=5.0,
                    help="width of that band in metres (5)")
    ap.add_argument("--audible", type=positive_int, default=30,
                    help="most access points one report lists, the strongest (30)")
    ap.add_argument("--order", choices=("discovery", "strongest"), default="discovery",
                    help="order of the cells in a report (discovery: random per scan)")
    ap.add_argument("--sensitivity", type=float, default=-95.0,
                    help="weakest level heard, dBm (-95)")
    ap.add_argument("--exponent", type=float, default=3.0, help="path loss exponent n (3)")
    ap.add_argument("--shadowing", type=float, default=5.0,
                    help="shadowing standard deviation, dB (5)")
    ap.add_argument("--shadow-corr", type=float, default=4.0,
                    help="shadowing decorrelation distance in metres: correlation "
                         "exp(-d / this) (4; 0: independent at each point)")
    ap.add_argument("--fading", type=float, default=2.0,
                    help="per-scan fading standard deviation, dB (2)")
    ap.add_argument("--noise", type=int, default=-95, help="noise level printed, dBm (-95)")
    ap.add_argument("--seed", type=int, default=1, help="random seed (1)")
    args = ap.parse_args()
    if args.outside is None:
        args.outside = args.aps // 4
    if args.aps < 0 or args.outside < 0 or args.aps + args.outside < 1:
        ap.error("need at least one access point")
    if args.unit <= 0.0:
        ap.error("--unit must be positive")
    if args.outside > 0 and args.margin <= 0.0:
        ap.error("--margin must be positive to place access points outside the floor")
    if args.shadowing < 0.0 or args.fading < 0.0:
        ap.error("standard deviations must not be negative")
    return args


def main():
    args = parse_args()
    # Separate streams, so that the floor and the levels do not depend on
    # the order asked for, and the order does not disturb the levels.
    floor_rng = random.Random(f"floor-{args.seed}")
    level_rng = random.Random(f"levels-{args.seed}")
    order_rng = random.Random(f"order-{args.seed}")
    text_rng = random.Random(f"text-{args.seed}")

    points = serpentine(args.width, args.height)
    pool = place_access_points(args, floor_rng)
    shadow = shadowing(args, points, len(pool), floor_rng)

    os.makedirs(args.out, exist_ok=True)
    with open(os.path.join(args.out, "seq.txt"), "w", newline="\n") as f:
        f.write("".join(f"{i}\t({x},{y})\n" for i, (x, y) in enumerate(points, start=1)))

    for i, (gx, gy) in enumerate(points):
        px, py = gx * args.unit, gy * args.unit
        mean = []
        for a, ap in enumerate(pool):
            d = max(MIN_DISTANCE_M, math.hypot(ap[0] - px, ap[1] - py))
            mean.append(ap[2] - 10.0 * args.exponent * math.log10(d) + shadow[a][i])
        for j in range(args.scans):
            heard = []
            for a, ap in enumerate(pool):
                level = mean[a] + level_rng.gauss(0.0, args.fading)
                if level >= args.sensitivity:
                    heard.append((level, a))
            heard.sort(key=lambda t: (-t[0], t[1]))
            heard = heard[:args.audible]
            if args.order == "discovery":
                order_rng.shuffle(heard)
            cells = [(min(MAX_LEVEL_DBM, round(level)), pool[a]) for level, a in heard]
            name = os.path.join(args.out, f"scan{i + 1}-{j + 1}")
            with open(name, "w", newline="\n") as f:
                f.write(scan_text(cells, args.noise, text_rng))


if __name__ == "__main__":
    main()
