#!/usr/bin/env python3
"""Press benchmark: how viewers answer a user's keys on large photos, the real
windows under Xvfb and openbox, beside feh, nsxiv, qimgv and eog where they
are installed (bench/install_peers.sh installs them):

- start: from the start of the process to the title that names the first
  picture (median of the starts), and whether a Right pressed as soon as that
  title shows is acted on;
- three Rights pressed 15 ms apart: how many files they move on;
- Right held for two seconds: how many steps follow its release.

    press_bench.py BUILD_FOLDER [--starts N] [--viewer BINARY]

BUILD_FOLDER is a release build (its src/tessmira and bench/photo_maker). A
title is the sign that a picture is shown (every viewer here sets it once the
picture is loaded); figures are printed, never judged.
"""
import argparse
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from step_bench import nsxiv_titles, run, start_desktop, wait_for, window_of  # noqa: E402

PHOTOS = 9  # one digit each: every viewer lists them in the same order


def number_of(title):
    found = re.search(r"photo(\d)\.jpg", title)
    return int(found.group(1)) if found else None


def title_of(window):
    return run("xdotool", "getwindowname", window).stdout.strip()


def settled(window, quiet=1.5, limit=60.0):
    """The title once it has not changed for quiet seconds."""
    deadline = time.monotonic() + limit
    seen, since = title_of(window), time.monotonic()
    while time.monotonic() < deadline:
        time.sleep(0.05)
        now = title_of(window)
        if now != seen:
            seen, since = now, time.monotonic()
        elif time.monotonic() - since >= quiet:
            return seen
    return seen


def moved(before, after):
    return (number_of(after) - number_of(before)) % PHOTOS


class Viewer:
    def __init__(self, name, command, key, is_picture):
        self.name, self.command, self.key, self.is_picture = name, command, key, is_picture

    def start(self):
        started = time.monotonic()
        process = subprocess.Popen(self.command, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL)
        window = wait_for(lambda: window_of(process.pid), what=f"{self.name}'s window")
        title = wait_for(lambda: (lambda t: t if self.is_picture(t) and number_of(t) == 1
                                  else None)(title_of(window)),
                         what=f"{self.name}'s first picture")
        return process, window, (time.monotonic() - started) * 1000.0, title

    def measure(self, starts):
        times, acted = [], 0
        for _ in range(starts):
            process, window, elapsed, title = self.start()
            times.append(elapsed)
            run("xdotool", "windowactivate", "--sync", window)
            run("xdotool", "key", self.key)
            after = settled(window)
            acted += 1 if number_of(after) == 2 else 0
            process.kill()
            process.wait()
        process, window, _, _ = self.start()
        run("xdotool", "windowactivate", "--sync", window)
        before = settled(window)
        run("xdotool", "key", "--delay", "15", self.key, self.key, self.key)
        three = moved(before, settled(window))
        if not self.is_picture(before):
            print(f"  {self.name}: no picture title to count from ({before!r})")
        run("xdotool", "keydown", self.key)
        time.sleep(2.0)  # the hold itself
        run("xdotool", "keyup", self.key)
        # A step under way at the release ("Loading Image") counts as before it.
        released = wait_for(lambda: (lambda t: t if number_of(t) else None)(title_of(window)),
                            what=f"{self.name}'s picture at the release")
        after_release = moved(released, settled(window))
        process.kill()
        process.wait()
        print(f"  {self.name:<9} start {statistics.median(times):7.0f} ms "
              f"(of {starts}: {min(times):.0f}..{max(times):.0f})   first Right acted on "
              f"{acted}/{starts}   three quick Rights: {three} on   "
              f"steps after a 2 s hold: {after_release}")
        return statistics.median(times)


def viewers(binary, work, photos):
    first = os.path.join(photos, "photo1.jpg")
    files = sorted(os.path.join(photos, name) for name in os.listdir(photos))
    prog = os.path.join(work, "prog")
    os.makedirs(prog, exist_ok=True)
    shutil.copy(binary, os.path.join(prog, "tessmira"))
    # Linear mode, from a settings file of the program's own first run.
    settings = os.path.join(prog, "dTesmi.dat")
    found = [Viewer("Tessmira", [os.path.join(prog, "tessmira"), first], "Right",
                    lambda t: t.startswith(photos) and " @ " in t)]
    process, window, _, _ = found[0].start()
    run("xdotool", "windowactivate", "--sync", window)
    run("xdotool", "key", "Escape")
    process.wait(30)
    with open(settings, "r+b") as block:
        block.seek(8)
        block.write(b"\0\0\0\0")
    if shutil.which("feh"):
        found.append(Viewer("feh", ["feh", "--geometry", "1024x768", "--scale-down",
                                    "--auto-zoom", "--title", "feh %f", "--start-at", first,
                                    photos], "Right", lambda t: t.startswith("feh " + photos)))
    if shutil.which("nsxiv"):
        nsxiv_titles()
        found.append(Viewer("nsxiv", ["nsxiv", "-g", "1024x768"] + files, "n",
                            lambda t: t.startswith("nsxiv " + photos)))
    if shutil.which("qimgv"):
        found.append(Viewer("qimgv", ["qimgv", first], "Right", lambda t: "photo" in t))
    if shutil.which("eog"):
        found.append(Viewer("eog", ["eog", first], "Right", lambda t: "photo" in t))
    return found


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("--starts", type=int, default=5)
    parser.add_argument("--viewer", help="another tessmira binary to time")
    options = parser.parse_args()
    binary = options.viewer or os.path.join(options.build, "src", "tessmira")
    work = tempfile.mkdtemp(prefix="tessmira-press-bench-")
    started = []
    try:
        photos = os.path.join(work, "photos")
        os.makedirs(photos)
        subprocess.run([os.path.join(options.build, "bench", "photo_maker"), photos,
                        str(PHOTOS)], check=True)
        start_desktop(work, started)
        print(f"{PHOTOS} 6000 x 4000 JPEGs, a 1024 x 768 or 800 x 600 window:")
        medians = {viewer.name: viewer.measure(options.starts)
                   for viewer in viewers(binary, work, photos)}
        others = [value for name, value in medians.items() if name != "Tessmira"]
        if others:
            print(f"  start, Tessmira against the fastest other: "
                  f"{medians['Tessmira'] / min(others):.2f} (goal: 0.5 or less)")
    finally:
        for process in reversed(started):
            process.kill()
            process.wait()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
