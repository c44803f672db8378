#!/usr/bin/env python3
"""Generate a campus-sized survey for the benchmarks: seq.txt and one
iwlist-style scan report per reference point and scan.

    python3 gen_survey.py POINTS SCANS OUTPUT_DIR [--seed N]

The reference points lie on a square grid 3 m apart, walked row by row in a
serpentine. Access points come from one building-wide pool, about one per six
reference points, each with its own address, network name, channel and
transmit level. Every scan hears 8 to 30 of the strongest ones around its
point, with a few dB of fading per scan. A quarter of the points were
surveyed with a driver that prints no noise level ("Quality:0/100  Signal
level:-70 dBm"); the others print "Signal level=.. Noise level=.." or the
colon style. Output is deterministic for a given seed and size.

OUTPUT_DIR is created if needed; the files in it are overwritten.
"""

import argparse
import math
import os
import random

GRID_STEP_M = 3.0      # metres between neighbouring reference points
AP_EVERY = 2.5         # access points every this many grid steps, each way
MIN_CELLS = 8
MAX_CELLS = 30
NAMES = ["eduroam", "eduroam", "eduroam", "Campus", "Campus-5G", "Guest Net",
         "Library", "Lab", "Lab-5G", "Office", "HR-Office", "Printer-2F",
         "DIRECT-7A-Printer", "MeetingRoom", "Lecture Hall 1", "", "IoT",
         "Cafeteria", "Staff", "Cellar-Bar"]
OUIS = ["00:0F:66", "00:24:6C", "F4:F2:6D", "34:FC:B9", "9C:1C:12", "70:3A:0E",
        "18:64:72", "B4:5D:50", "D8:C7:C8", "AC:A3:1E"]
CHANNELS_24 = [1, 6, 11]
CHANNELS_5 = [36, 40, 44, 48, 52, 56, 60, 64, 100, 104, 108, 112, 149, 153, 157, 161]

RATES_24 = ("                    Bit Rates:1 Mb/s; 2 Mb/s; 5.5 Mb/s; 11 Mb/s; 6 Mb/s\n"
            "                              12 Mb/s; 24 Mb/s; 54 Mb/s\n")
RATES_5 = "                    Bit Rates:6 Mb/s; 12 Mb/s; 24 Mb/s; 54 Mb/s\n"
WPA2 = ("                    IE: IEEE 802.11i/WPA2 Version 1\n"
        "                        Group Cipher : CCMP\n"
        "                        Pairwise Ciphers (1) : CCMP\n"
        "                        Authentication Suites (1) : PSK\n")


def frequency(channel):
    if channel <= 14:
        return f"{(2407 + 5 * channel) / 1000:g}"
    return f"{(5000 + 5 * channel) / 1000:g}"


def make_pool(side, rng):
    """Access points on a jittered grid over the building: (x, y, level at
    1 m, static text of the cell before and after the quality line)."""
    count = max(2, math.ceil(side / AP_EVERY) + 1)
    pool = []
    for gy in range(count):
        for gx in range(count):
            x = (gx + rng.uniform(-0.4, 0.4)) * AP_EVERY * GRID_STEP_M
            y = (gy + rng.uniform(-0.4, 0.4)) * AP_EVERY * GRID_STEP_M
            five = rng.random() < 0.5
            channel = rng.choice(CHANNELS_5 if five else CHANNELS_24)
            name = rng.choice(NAMES)
            address = rng.choice(OUIS) + ":" + ":".join(
                f"{rng.randrange(256):02X}" for _ in range(3))
            encrypted = name not in ("Guest Net", "Cafeteria")
            head = (f" - Address: {address}\n"
                    f"                    Channel:{channel}\n"
                    f"                    Frequency:{frequency(channel)} GHz (Channel {channel})\n")
            tail = (f"                    Encryption key:{'on' if encrypted else 'off'}\n"
                    f"                    ESSID:\"{name}\"\n"
                    + (RATES_5 if five else RATES_24)
                    + "                    Mode:Master\n")
            pool.append((x, y, rng.uniform(-44.0, -34.0), head, tail, encrypted))
    return pool, count


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("points", type=int)
    ap.add_argument("scans", type=int)
    ap.add_argument("out")
    ap.add_argument("--seed", type=int, default=1)
    args = ap.parse_args()

    rng = random.Random(args.seed)
    side = max(1, math.ceil(math.sqrt(args.points)))
    pool, per_row = make_pool(side, rng)
    os.makedirs(args.out, exist_ok=True)

    coords = []
    for i in range(args.points):
        row, col = divmod(i, side)
        coords.append((col if row % 2 == 0 else side - 1 - col, row))
    with open(os.path.join(args.out, "seq.txt"), "w") as f:
        f.write("".join(f"{i + 1}\t({x},{y})\n" for i, (x, y) in enumerate(coords)))

    reach = 4  # access point grid cells searched around a point, each way
    for i, (gx, gy) in enumerate(coords):
        px, py = gx * GRID_STEP_M, gy * GRID_STEP_M
        cx, cy = round(gx / AP_EVERY), round(gy / AP_EVERY)
        near = []
        for ay in range(max(0, cy - reach), min(per_row, cy + reach + 1)):
            for ax in range(max(0, cx - reach), min(per_row, cx + reach + 1)):
                a = pool[ay * per_row + ax]
                d = math.hypot(a[0] - px, a[1] - py) + 1.0
                near.append((a[2] - 28.0 * math.log10(d), a))
        driver = i % 4  # 3: prints no noise level; 1: colon style
        for j in range(args.scans):
            heard = sorted(((lvl + rng.gauss(0.0, 3.0), a) for lvl, a in near),
                           key=lambda t: -t[0])
            most = min(MAX_CELLS, len(heard))
            heard = heard[:rng.randint(min(MIN_CELLS, most), most)]
            rng.shuffle(heard)  # reports list cells in discovery order
            parts = ["wlan0     Scan completed :\n"]
            for k, (level, a) in enumerate(heard):
                sig = max(-96, min(-20, round(level)))
                if driver == 3:
                    quality = f"Quality:0/100  Signal level:{sig} dBm\n"
                else:
                    q = max(0, min(70, sig + 110))
                    noise = rng.randint(-96, -89)
                    sep = ":" if driver == 1 else "="
                    quality = (f"Quality{sep}{q}/70  Signal level{sep}{sig} dBm  "
                               f"Noise level{sep}{noise} dBm\n")
                parts.append(f"          Cell {k + 1:02d}")
                parts.append(a[3])
                parts.append("                    " + quality)
                parts.append(a[4])
                parts.append(f"                    Extra:tsf={rng.getrandbits(40):016x}\n"
                             f"                    Extra: Last beacon={rng.randrange(1500)}ms ago\n")
                if a[5]:
                    parts.append(WPA2)
            parts.append("\n")
            with open(os.path.join(args.out, f"scan{i + 1}-{j + 1}"), "w") as f:
                f.write("".join(parts))


if __name__ == "__main__":
    main()
