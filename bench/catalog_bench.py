#!/usr/bin/env python3
"""Catalog benchmark: builds and finds on a generated tree, beside plocate.

    python3 bench/catalog_bench.py BUILD_DIR [--files N] [--tree FOLDER]

Makes a tree of N empty files (default 1,000,000; kept in FOLDER, default
/tmp/tessmira-catalog-tree, for the next run), then times in the same run:
  - a catalog build from scratch and a second one with nothing changed
    (tessmira --catalog=TREE) against plocate's updatedb on the same tree;
  - --find of a rare name (the median of 20 runs, process start included)
    against plocate -i.
Both tools read the tree from a warm cache. plocate comes from Debian's
plocate package (bench/install_peers.sh installs it).
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

NEEDLE = "needle"


def make_tree(root, files):
    # Folders of 50 files, 20 to a parent folder, 100 parents to a top folder.
    marker = os.path.join(root, f".made-{files}")
    if os.path.exists(marker):
        return
    shutil.rmtree(root, ignore_errors=True)
    made = top = 0
    while made < files:
        for mid in range(100):
            for leaf in range(20):
                folder = os.path.join(root, f"volume{top}", f"Project {mid:02d}", f"shoot-{leaf:02d}")
                os.makedirs(folder, exist_ok=True)
                for n in range(50):
                    if made >= files:
                        break
                    name = f"IMG_{made:07d}.jpg" if n % 5 else f"notes_{made:07d}.txt"
                    os.close(os.open(os.path.join(folder, name), os.O_CREAT | os.O_WRONLY, 0o644))
                    made += 1
        top += 1
    open(os.path.join(root, "volume0", "Project 42", "Quarterly-Needle Report.PDF"), "w").close()
    open(marker, "w").close()


def timed(command, quiet=True):
    start = time.perf_counter()
    result = subprocess.run(command, stdout=subprocess.DEVNULL if quiet else subprocess.PIPE,
                            stderr=subprocess.DEVNULL)
    return time.perf_counter() - start, result


def median_ms(command, runs=20):
    times = []
    for _ in range(runs):
        seconds, result = timed(command)
        if result.returncode != 0:
            sys.exit(f"{command[0]} failed: {result.returncode}")
        times.append(seconds * 1000)
    return statistics.median(times)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("--files", type=int, default=1_000_000)
    parser.add_argument("--tree", default="/tmp/tessmira-catalog-tree")
    args = parser.parse_args()
    if shutil.which("updatedb") is None or shutil.which("plocate") is None:
        sys.exit("plocate is not installed: bash bench/install_peers.sh")
    print(f"tree of {args.files} files in {args.tree} ...", flush=True)
    make_tree(args.tree, args.files)
    subprocess.run(["find", args.tree, "-type", "f"], stdout=subprocess.DEVNULL)  # warm

    work = tempfile.mkdtemp(prefix="tessmira-catalog-bench-")
    try:
        program = os.path.join(work, "tessmira")  # its data folder is its own
        shutil.copy(os.path.join(args.build, "src", "tessmira"), program)
        database = os.path.join(work, "plocate.db")
        updatedb = ["updatedb", "-l", "0", "--prunepaths", "", "--prunenames", "", "-U",
                    args.tree, "-o", database]
        rows = []
        first, _ = timed(updatedb)
        second, _ = timed(updatedb)
        rows.append(("plocate updatedb", first, second))
        first, result = timed([program, f"--catalog={args.tree}"])
        if result.returncode != 0:
            sys.exit("tessmira --catalog failed")
        second, _ = timed([program, f"--catalog={args.tree}"])
        rows.append(("tessmira --catalog", first, second))
        print(f"\n{'build':<20} {'from scratch':>13} {'nothing changed':>16}")
        for name, one, two in rows:
            print(f"{name:<20} {one:>11.2f} s {two:>14.2f} s")
        plocate_first, plocate_second = rows[0][1], rows[0][2]
        print(f"{'ratio':<20} {rows[1][1] / plocate_first:>11.2f} x {rows[1][2] / plocate_second:>14.2f} x"
              f"   (second build against updatedb's from scratch: {rows[1][2] / plocate_first:.2f} x)")

        found = subprocess.run([program, f"--find={NEEDLE}"], capture_output=True, text=True).stdout
        located = subprocess.run(["plocate", "-d", database, "-i", NEEDLE], capture_output=True,
                                 text=True).stdout
        if found != located:
            sys.exit(f"the answers differ:\n{found}\n{located}")
        ours = median_ms([program, f"--find={NEEDLE}"])
        theirs = median_ms(["plocate", "-d", database, "-i", NEEDLE])
        start = median_ms([program, "--version"])
        print(f"\n--find={NEEDLE} (1 match), median of 20, process start included:")
        print(f"  tessmira {ours:.1f} ms (of which starting the program: {start:.1f} ms)")
        print(f"  plocate -i {theirs:.1f} ms   ratio {ours / theirs:.1f} x")
        sizes = [("catalog TesmiCat.lbf", os.path.join(work, "TesmiCat.lbf")),
                 ("its index TesmiCat.idx", os.path.join(work, "TesmiCat.idx")),
                 ("plocate.db", database)]
        print()
        for name, path in sizes:
            print(f"  {name:<24} {os.path.getsize(path) / 1e6:>9.1f} MB")
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
