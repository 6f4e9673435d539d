#!/usr/bin/env python3
"""Runs generated programs through zrk and compares their message boxes with the
output the generator worked out from the language's rules.

Each program runs twice, with the fused instruction groups (the default) and with
ZRK_FUSION=off; both runs must show exactly the expected boxes and exit with 0. A
program that does not is kept in --out with its expected and shown boxes.

  run_generated.py --zrk build/zrk --seed 1 --programs 40
  run_generated.py --zrk build/zrk --seed 7 --programs 20000 --jobs 6 --out mismatches
  run_generated.py --zrk build/zrk --seed 1 --programs 60 --avoid known

Programs run in batches (--batch, default 20) through one run of zrk each; a batch that
fails is run again program by program to find the ones that fail.
"""

import argparse
import concurrent.futures
import os
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import genprog  # noqa: E402

MODES = (("fused", {}), ("unfused", {"ZRK_FUSION": "off"}))


def run_one(zrk, work, name, source, env_extra, timeout):
    folder = os.path.join(work, name)
    os.makedirs(os.path.join(folder, "root"), exist_ok=True)
    path = os.path.join(folder, "prog.zrk")
    with open(path, "w") as f:
        f.write(source)
    log = os.path.join(folder, "boxes.log")
    if os.path.exists(log):
        os.remove(log)
    env = dict(os.environ)
    env.update({"ZRK_DISPLAY": "headless", "ZRK_CLOCK": "virtual", "ZRK_AUDIO": "null",
                "ZRK_MSGBOX_LOG": log, "ZRK_ROOT": os.path.join(folder, "root"),
                "ZRK_PROGRAM": os.path.join(folder, "zrk")})
    env.pop("ZRK_FUSION", None)
    env.update(env_extra)
    try:
        proc = subprocess.run([zrk, "prog.zrk"], cwd=folder, env=env, stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT, timeout=timeout)
        status, printed = proc.returncode, proc.stdout.decode("latin-1")
    except subprocess.TimeoutExpired:
        status, printed = "timeout", ""
    boxes = []
    if os.path.exists(log):
        with open(log, encoding="latin-1") as f:
            boxes = f.read().splitlines()
    return status, boxes, printed


def run_modes(args, name, source, expected):
    failures = []
    for mode, env in MODES:
        status, boxes, printed = run_one(args.zrk, args.work, "%s-%s" % (name, mode), source, env,
                                         args.timeout)
        if status != 0 or boxes != expected:
            failures.append((mode, status, boxes, printed))
    return failures


def check(args, batch):
    """One run of zrk holds a batch of programs; when it fails, each of them runs alone,
    and those that fail alone are the ones reported."""
    seed = "%s:%d" % (args.seed, batch)
    try:
        source, expected = genprog.generate_batch(seed, args.batch, features=args.features)
    except Exception as error:  # a fault of the generator: reported, the pass goes on
        return args.batch, [(seed + " (generator: %r)" % error, "", [], [])]
    if not run_modes(args, "b%d" % batch, source, expected):
        return args.batch, []
    failing = []
    for i in range(args.batch):
        one_seed = "%s.%d" % (seed, i)
        one_source, one_expected = genprog.generate(one_seed, features=args.features)
        failures = run_modes(args, "b%d-%d" % (batch, i), one_source, one_expected)
        if failures:
            keep(args, one_seed, one_source, one_expected, failures)
            failing.append((one_seed, one_source, one_expected, failures))
    if not failing:
        # Only together: keep the whole batch.
        failures = run_modes(args, "b%d" % batch, source, expected)
        keep(args, seed, source, expected, failures)
        failing.append((seed + " (batch)", source, expected, failures))
    return args.batch, failing


def keep(args, seed, source, expected, failures):
    if args.out:
        folder = os.path.join(args.out, "seed-" + seed.replace(":", "-"))
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, "prog.zrk"), "w") as f:
            f.write(source)
        with open(os.path.join(folder, "prog.expected"), "w") as f:
            f.write("".join(line + "\n" for line in expected))
        for mode, status, boxes, printed in failures:
            with open(os.path.join(folder, "shown-%s.txt" % mode), "w") as f:
                f.write("exit status: %s\n%s" % (status, "".join(line + "\n" for line in boxes)))
                f.write("--- printed:\n" + printed)


def first_difference(expected, boxes):
    for i in range(max(len(expected), len(boxes))):
        e = expected[i] if i < len(expected) else "(nothing)"
        b = boxes[i] if i < len(boxes) else "(nothing)"
        if e != b:
            return "box %d: expected %r, shown %r" % (i + 1, e, b)
    return "same boxes"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--zrk", required=True)
    parser.add_argument("--seed", default="1")
    parser.add_argument("--programs", type=int, default=40)
    parser.add_argument("--batch", type=int, default=20, help="programs in one run of zrk")
    parser.add_argument("--first", type=int, default=0, help="index of the first batch")
    parser.add_argument("--jobs", type=int, default=4)
    parser.add_argument("--timeout", type=float, default=30)
    parser.add_argument("--out", default="", help="folder that keeps the programs that fail")
    parser.add_argument("--progress", type=int, default=0, help="print the counts every N runs")
    parser.add_argument("--show", type=int, default=3, help="failing programs to describe")
    parser.add_argument("--avoid", default="",
                        help="shapes to leave out, comma-separated; 'known' leaves out those the "
                             "runtime still gets wrong (%s), 'all' every one" % (", ".join(genprog.KNOWN) or "none now"))
    args = parser.parse_args()
    args.features = genprog.features_without(args.avoid)
    args.zrk = os.path.abspath(args.zrk)
    if args.out:
        args.out = os.path.abspath(args.out)
    args.work = tempfile.mkdtemp(prefix="zrk-generated-")
    started = time.time()
    programs = failed = done = 0
    batches = (args.programs + args.batch - 1) // args.batch
    try:
        with concurrent.futures.ThreadPoolExecutor(max_workers=args.jobs) as pool:
            futures = [pool.submit(check, args, b) for b in range(args.first, args.first + batches)]
            for future in concurrent.futures.as_completed(futures):
                count, failing = future.result()
                programs += count
                done += 1
                if args.progress and done % args.progress == 0:
                    print("... %d programs, %d failed, %.0f s" % (programs, failed + len(failing),
                                                                  time.time() - started), flush=True)
                for seed, source, expected, failures in failing:
                    failed += 1
                    if failed > args.show:
                        continue
                    print("FAIL seed %s" % seed)
                    for mode, status, boxes, printed in failures:
                        print("  %s: exit %s, %s" % (mode, status, first_difference(expected, boxes)))
                    if failed == 1 and not args.out:
                        print(source)
    finally:
        shutil.rmtree(args.work, ignore_errors=True)
    print("%d programs in %d runs of %d, each run with and without fusion, in %.0f s"
          % (programs, batches, args.batch, time.time() - started))
    print("%d passed, %d failed" % (programs - failed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
