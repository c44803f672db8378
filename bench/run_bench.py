#!/usr/bin/env python3
"""Runs apfold against the bare-I/O baseline on a generated survey.

    run_bench.py --apfold BIN --baseline BIN [--micro BIN] [options]

The survey (gen_survey.py) is kept in SURVEYS/bench-survey-<N>x<S> and made
again only when it is missing or the generator has changed. After one warm-up
run of each program (the page cache then holds the survey), baseline and
apfold run alternately, A B A B, so that drifting machine load hits both
alike. Printed: the median wall time of each, the ratio of the medians,
apfold's peak resident set against the records the run must hold
(N x S x 1228 + 8N + 8S bytes), optionally the same for a survey ten times
larger, and then the micro-benchmarks. With --one-cpu every run is pinned to
one CPU, where apfold loads and parses in turn. With --cold the page cache is
dropped before every run (root on Linux only), so the disk sets the pace, as
on the first run after a survey is copied in. With --aplocate, the leave-one-
point-out evaluation of the same survey is timed against apfold as well.
"""

import argparse
import hashlib
import os
import shutil
import statistics
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
GENERATOR = os.path.join(HERE, "gen_survey.py")
RECORD = 1228
MIB = 1024 * 1024


def generator_stamp(points, scans):
    with open(GENERATOR, "rb") as f:
        digest = hashlib.sha256(f.read()).hexdigest()
    return f"{digest} {points} {scans}\n"


def ensure_survey(root, points, scans):
    path = os.path.join(root, f"bench-survey-{points}x{scans}")
    stamp_file = os.path.join(path, ".generator")
    stamp = generator_stamp(points, scans)
    try:
        with open(stamp_file) as f:
            if f.read() == stamp:
                return path
    except OSError:
        pass
    print(f"generating {points} x {scans} survey in {path} ...", flush=True)
    shutil.rmtree(path, ignore_errors=True)
    subprocess.run([sys.executable, GENERATOR, str(points), str(scans), path], check=True)
    with open(stamp_file, "w") as f:
        f.write(stamp)
    return path


PIN = None  # the CPU every run is pinned to (--one-cpu), or None
COLD = False  # drop the page cache before every run (--cold)
DROP_CACHES = "/proc/sys/vm/drop_caches"


def cold_unavailable():
    """Why the page cache cannot be dropped here, or None when it can."""
    if not sys.platform.startswith("linux"):
        return "dropping the page cache needs Linux"
    if os.geteuid() != 0:
        return "dropping the page cache needs root (it writes " + DROP_CACHES + ")"
    if not os.access(DROP_CACHES, os.W_OK):
        return DROP_CACHES + " is not writable here"
    return None


def drop_caches():
    os.sync()
    with open(DROP_CACHES, "w") as f:
        f.write("3\n")


def pin():
    if PIN is not None:
        os.sched_setaffinity(0, {PIN})


def run_once(launch, binary, survey, points, scans, prefix=()):
    """Wall seconds, CPU seconds and peak RSS in bytes of one run."""
    if COLD:
        drop_caches()
    child = subprocess.run([launch, binary, *prefix, str(points), str(scans)], cwd=survey,
                           stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True,
                           preexec_fn=pin)
    line = child.stderr.strip().splitlines()[-1] if child.stderr.strip() else ""
    fields = line.split()
    if child.returncode != 0 or len(fields) != 9 or fields[0] != "launch:":
        sys.exit(f"{binary} {points} {scans} failed: {child.stderr.strip()}")
    return float(fields[4]), float(fields[6]), int(fields[8]) * 1024


def compare(launch, apfold, baseline, survey, points, scans, pairs):
    for binary in (baseline, apfold):  # warm-up: page cache (unless cold), dynamic loader
        run_once(launch, binary, survey, points, scans)
    runs = {"baseline": [], "apfold": []}
    for _ in range(pairs):
        runs["baseline"].append(run_once(launch, baseline, survey, points, scans))
        runs["apfold"].append(run_once(launch, apfold, survey, points, scans))
    db = os.path.join(survey, "db.bin")
    if os.path.getsize(db) != 20 + RECORD * points:
        sys.exit(f"{db} has the wrong size")
    return runs


def median(runs, index):
    return statistics.median(r[index] for r in runs)


def report(runs, points, scans):
    base, fold = median(runs["baseline"], 0), median(runs["apfold"], 0)
    base_cpu, fold_cpu = median(runs["baseline"], 1), median(runs["apfold"], 1)
    pair_ratios = [a[0] / b[0] for a, b in zip(runs["apfold"], runs["baseline"])]
    print(f"  baseline  wall median {base:7.3f} s   (cpu {base_cpu:.3f} s)")
    print(f"  apfold    wall median {fold:7.3f} s   (cpu {fold_cpu:.3f} s)")
    print(f"  ratio     {fold / base:.2f} (median of per-pair ratios {statistics.median(pair_ratios):.2f})")
    storage = points * scans * RECORD + 8 * points + 8 * scans
    rss = max(r[2] for r in runs["apfold"])
    print(f"  peak RSS  {rss / MIB:7.1f} MiB, storage {storage / MIB:.1f} MiB, "
          f"over by {(rss - storage) / MIB:+.1f} MiB (allowed +8.0)")
    return fold, base


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--apfold", required=True)
    ap.add_argument("--baseline", required=True)
    ap.add_argument("--launch", required=True, help="the apfold_launch binary")
    ap.add_argument("--micro", help="Google Benchmark binary to run afterwards")
    ap.add_argument("--surveys", default=os.path.join(HERE, "..", "build"),
                    help="where generated surveys are kept (default: build/)")
    ap.add_argument("--points", type=int, default=2000)
    ap.add_argument("--scans", type=int, default=20)
    ap.add_argument("--pairs", type=int, default=7, help="baseline/apfold pairs (at least 5)")
    ap.add_argument("--scaling", action="store_true",
                    help="also run a survey with ten times the points and compare")
    ap.add_argument("--one-cpu", action="store_true",
                    help="pin every run to one CPU: apfold then loads and parses in turn")
    ap.add_argument("--cold", action="store_true",
                    help="drop the page cache before every run (root on Linux)")
    ap.add_argument("--aplocate", help="also time this aplocate's --evaluate against apfold")
    ap.add_argument("--no-micro", action="store_true")
    ap.add_argument("--micro-args", default="", help="extra arguments for the micro-benchmarks")
    args = ap.parse_args()
    if args.pairs < 5:
        ap.error("--pairs must be at least 5")
    apfold, baseline = os.path.abspath(args.apfold), os.path.abspath(args.baseline)
    launch = os.path.abspath(args.launch)
    if args.one_cpu:
        global PIN
        PIN = min(os.sched_getaffinity(0))
    if args.cold:
        why = cold_unavailable()
        if why:
            sys.exit(f"run_bench.py: no cold runs: {why}")
        global COLD
        COLD = True

    survey = ensure_survey(args.surveys, args.points, args.scans)
    pinned = f", pinned to CPU {PIN}" if PIN is not None else ""
    pinned += ", page cache dropped before every run" if COLD else ""
    print(f"== {args.points} x {args.scans} survey, {args.pairs} pairs{pinned} ({survey})")
    small = report(compare(launch, apfold, baseline, survey, args.points, args.scans, args.pairs),
                   args.points, args.scans)

    if args.scaling:
        points = 10 * args.points
        survey = ensure_survey(args.surveys, points, args.scans)
        print(f"== {points} x {args.scans} survey, {args.pairs} pairs{pinned} ({survey})")
        large = report(compare(launch, apfold, baseline, survey, points, args.scans, args.pairs),
                       points, args.scans)
        print(f"== 10x the survey: apfold {large[0] / small[0]:.2f}x the time, "
              f"baseline {large[1] / small[1]:.2f}x (allowed ~10.5x)")

    if args.aplocate:
        aplocate = os.path.abspath(args.aplocate)
        print(f"== aplocate --evaluate {args.points} {args.scans} against apfold, {args.pairs} pairs")
        fold, evaluate = [], []
        for _ in range(args.pairs):
            fold.append(run_once(launch, apfold, survey, args.points, args.scans))
            evaluate.append(run_once(launch, aplocate, survey, args.points, args.scans, ("--evaluate",)))
        f, e = statistics.median(r[0] for r in fold), statistics.median(r[0] for r in evaluate)
        print(f"  apfold    wall median {f:7.3f} s")
        print(f"  aplocate  wall median {e:7.3f} s, peak RSS {max(r[2] for r in evaluate) / MIB:.1f} MiB")
        print(f"  ratio     {e / f:.2f} (allowed 2.0)")

    if args.micro and not args.no_micro:
        print("== micro-benchmarks", flush=True)
        subprocess.run([args.micro] + args.micro_args.split(), check=True)


if __name__ == "__main__":
    main()
