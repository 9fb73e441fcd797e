#!/usr/bin/env python3
"""A nothing-changed backup with excludes, beside rsync -a with the same ones.

A generated tree of 20,000 kept files and a cache folder of 20,000 more is
backed up once by `tessmira /b=` with five exclude patterns (the cache left
out by the default exclude file), and once by `rsync -a` with the same
excludes; then each runs again with nothing changed, five times, and the
median is printed with the ratio. On disk and on a tmpfs.

    python3 bench/exclude_bench.py BUILD_FOLDER [DISK_FOLDER [TMPFS_FOLDER]]
"""
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

PATTERNS = ["*.iso", "*.tmp", "node_modules", "/build", "**/.git"]
KEPT = 20000
CACHED = 20000


def make_tree(top):
    for count, folder in ((KEPT, "work"), (CACHED, ".cache")):
        for n in range(count):
            sub = os.path.join(top, folder, "d%03d" % (n // 100))
            if n % 100 == 0:
                os.makedirs(sub, exist_ok=True)
            with open(os.path.join(sub, "f%05d.txt" % n), "w") as out:
                out.write("x" * 200)


def timed(command, env=None):
    began = time.perf_counter()
    subprocess.run(command, check=False, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                   env=env)
    return time.perf_counter() - began


def one_place(program, place):
    work = tempfile.mkdtemp(prefix="tessmira-exclude-bench-", dir=place)
    try:
        tree = os.path.join(work, "tree")
        make_tree(tree)
        os.makedirs(os.path.join(work, "prog"))
        shutil.copy(program, os.path.join(work, "prog", "tessmira"))
        env = dict(os.environ, HOME=os.path.join(work, "home"))
        ours = [os.path.join(work, "prog", "tessmira"), "/b=" + tree]
        ours += ["--exclude=" + pattern for pattern in PATTERNS]
        theirs = ["rsync", "-a"] + ["--exclude=" + pattern for pattern in PATTERNS + [".cache"]]
        theirs += [tree + "/", os.path.join(work, "rsync")]
        first = (timed(ours, env), timed(theirs))
        again = ([timed(ours, env) for _ in range(5)], [timed(theirs) for _ in range(5)])
        ours_again, theirs_again = (statistics.median(runs) for runs in again)
        print("%s: first run %.3f s (rsync -a %.3f s); nothing changed %.3f s (rsync -a %.3f s), "
              "ratio %.2f" % (place, first[0], first[1], ours_again, theirs_again,
                              ours_again / theirs_again))
    finally:
        shutil.rmtree(work, ignore_errors=True)


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    program = os.path.join(sys.argv[1], "src", "tessmira")
    if shutil.which("rsync") is None:
        sys.exit("exclude_bench: rsync is not installed")
    for place in (sys.argv[2] if len(sys.argv) > 2 else "/var/tmp",
                  sys.argv[3] if len(sys.argv) > 3 else "/dev/shm"):
        one_place(program, place)


if __name__ == "__main__":
    main()
