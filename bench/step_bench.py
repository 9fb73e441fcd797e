#!/usr/bin/env python3
"""Stepping benchmark: the real viewer under Xvfb and openbox, stepping through
a folder of generated 6000 x 4000 JPEGs at a fixed pace, timed from each key
press to the title that names the new picture; beside feh on the same files.

    step_bench.py BUILD_FOLDER [--steps N] [--pace SECONDS] [--viewer BINARY]
                  [--profile ICC_FILE] [--colour on|off]

BUILD_FOLDER is a release build (its src/tessmira and bench/photo_maker).
--profile embeds an ICC profile in every photo (colour managed steps convert
each picture); --colour sets the viewer's Colour Management setting.
Prints the median and 90th percentile per mode, and the viewer's peak memory.
"""
import argparse
import os
import shutil
import statistics
import struct
import subprocess
import sys
import tempfile
import threading
import time


def run(*args, **kwargs):
    return subprocess.run(args, check=False, capture_output=True, text=True, **kwargs)


def wait_for(condition, limit=60.0, what="a condition"):
    deadline = time.monotonic() + limit
    while time.monotonic() < deadline:
        value = condition()
        if value:
            return value
        time.sleep(0.02)
    sys.exit(f"step_bench: gave up waiting for {what}")


class TitleSpy:
    """Every title change of a window, with the moment it was seen."""

    def __init__(self, window):
        self.lock = threading.Lock()
        self.titles = []
        self.process = subprocess.Popen(
            ["xprop", "-spy", "-id", window, "_NET_WM_NAME"],
            stdout=subprocess.PIPE, text=True, errors="replace")
        threading.Thread(target=self.read, daemon=True).start()

    def read(self):
        for line in self.process.stdout:
            seen = time.monotonic()
            text = line.split("=", 1)[-1].strip().strip('"')
            with self.lock:
                self.titles.append((seen, text))

    def first_after(self, start, accept):
        with self.lock:
            for seen, text in self.titles:
                if seen >= start and accept(text):
                    return seen, text
        return None

    def stop(self):
        self.process.kill()


def percentile(values, share):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(round(share * (len(ordered) - 1))))]


def window_of(pid):
    found = run("xdotool", "search", "--onlyvisible", "--pid", str(pid)).stdout.split()
    return found[0] if found else None


def step_times(window, key, steps, pace, is_picture_title):
    """Presses key steps times, pace seconds apart; milliseconds to each new picture title."""
    run("xdotool", "windowactivate", "--sync", window)
    spy = TitleSpy(window)
    time.sleep(0.5)  # the spy reports the present title first
    times = []
    last = None
    with spy.lock:
        if spy.titles:
            last = spy.titles[-1][1]
    for _ in range(steps):
        start = time.monotonic()
        run("xdotool", "key", key)
        seen = wait_for(lambda: spy.first_after(
            start, lambda text: is_picture_title(text) and text != last), 30,
            f"a new title after {last!r} (seen: {spy.titles[-3:]!r})")
        times.append((seen[0] - start) * 1000.0)
        last = seen[1]
        rest = start + pace - time.monotonic()
        if rest > 0:
            time.sleep(rest)  # the pace of a person looking at each picture
    spy.stop()
    if os.environ.get("STEP_BENCH_VERBOSE"):
        print("   ", " ".join(f"{t:.0f}" for t in times))
    return times


def peak_memory_mb(pid):
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith("VmHWM:"):
                return int(line.split()[1]) / 1024.0
    return 0.0


def report(name, times):
    print(f"  {name:<34} median {statistics.median(times):7.1f} ms   "
          f"p90 {percentile(times, 0.9):7.1f} ms   ({len(times)} steps)")
    return statistics.median(times)


def embed_profile(path, profile):
    """Puts the profile into the JPEG's APP2 segments, after its start."""
    with open(path, "rb") as f:
        jpeg = f.read()
    piece = 65519
    pieces = [profile[i:i + piece] for i in range(0, len(profile), piece)]
    segments = b"".join(b"\xff\xe2" + struct.pack(">H", 16 + len(p)) + b"ICC_PROFILE\0" +
                        bytes([n + 1, len(pieces)]) + p for n, p in enumerate(pieces))
    with open(path, "wb") as f:
        f.write(jpeg[:2] + segments + jpeg[2:])


def tessmira_runs(binary, work, photos, steps, pace, colour="on"):
    prog = os.path.join(work, "prog")
    os.makedirs(prog, exist_ok=True)
    shutil.copy(binary, os.path.join(prog, "tessmira"))
    with open(os.path.join(prog, "TesmiSet.txt"), "w") as extra:
        extra.write(f"colour_management={1 if colour == 'on' else 0}\n")
    settings = os.path.join(prog, "dTesmi.dat")
    picture_title = lambda text: " @ " in text and text.startswith(photos)
    medians = {}
    for mode, mode_name in ((None, ""), (0, "Linear"), (2, "Random")):
        if mode is not None:
            with open(settings, "r+b") as block:
                block.seek(8)
                block.write(struct.pack("<I", mode))
        viewer = subprocess.Popen([os.path.join(prog, "tessmira"), photos],
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        window = wait_for(lambda: window_of(viewer.pid), what="the viewer's window")
        wait_for(lambda: picture_title(run("xdotool", "getwindowname", window).stdout),
                 what="the first picture")
        if mode is None:  # a first run: its settings file comes with Esc
            run("xdotool", "windowactivate", "--sync", window)
            run("xdotool", "key", "Escape")
            viewer.wait(30)
            continue
        medians[mode_name] = report(f"Tessmira {mode_name}, Right",
                                    step_times(window, "Right", steps, pace, picture_title))
        if mode == 0:
            # Left goes where nothing was prepared: the reduced decode on demand.
            medians["Left"] = report("Tessmira Linear, Left (not prepared)",
                                     step_times(window, "Left", steps, pace, picture_title))
        print(f"  Tessmira peak memory               {peak_memory_mb(viewer.pid):7.1f} MB")
        run("xdotool", "windowactivate", "--sync", window)
        run("xdotool", "key", "Escape")
        viewer.wait(30)
    return medians


def feh_runs(work, photos, steps, pace):
    medians = {}
    if shutil.which("feh") is None:
        print("  feh not installed: scripts/setup.sh installs it")
        return medians
    for flag, mode_name in (("", "Linear"), ("--randomize", "Random")):
        args = ["feh", "--geometry", "1024x768", "--scale-down", "--auto-zoom",
                "--title", "feh %f"] + ([flag] if flag else []) + [photos]
        viewer = subprocess.Popen(args, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        window = wait_for(lambda: window_of(viewer.pid), what="feh's window")
        title = lambda text: text.startswith("feh " + photos)
        wait_for(lambda: title(run("xdotool", "getwindowname", window).stdout),
                 what="feh's first picture")
        medians[mode_name] = report(f"feh {mode_name}, Right",
                                    step_times(window, "Right", steps, pace, title))
        print(f"  feh peak memory                    {peak_memory_mb(viewer.pid):7.1f} MB")
        viewer.kill()
        viewer.wait()
    return medians


def start_desktop(work, started):
    """Xvfb with openbox, and a home and runtime folder of their own in work;
    the processes go into started, for the caller to end."""
    read_fd, write_fd = os.pipe()
    started.append(subprocess.Popen(
        ["Xvfb", "-displayfd", str(write_fd), "-screen", "0", "1280x1024x24",
         "-nolisten", "tcp"], pass_fds=(write_fd,), stderr=subprocess.DEVNULL))
    os.close(write_fd)
    with os.fdopen(read_fd) as display:
        os.environ["DISPLAY"] = ":" + display.readline().strip()
    home = os.path.join(work, "home")
    runtime = os.path.join(work, "run")
    os.makedirs(home)
    os.makedirs(runtime, mode=0o700)
    os.environ.update(HOME=home, XDG_RUNTIME_DIR=runtime)
    os.environ.pop("QT_QPA_PLATFORM", None)
    started.append(subprocess.Popen(["openbox"], stdout=subprocess.DEVNULL,
                                    stderr=subprocess.DEVNULL))
    wait_for(lambda: "window id" in run("xprop", "-root", "_NET_SUPPORTING_WM_CHECK").stdout,
             what="openbox")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("--steps", type=int, default=20)
    parser.add_argument("--pace", type=float, default=0.5)
    parser.add_argument("--viewer", help="another tessmira binary to time")
    parser.add_argument("--profile", help="an ICC profile to tag the photos with")
    parser.add_argument("--colour", choices=("on", "off"), default="on")
    options = parser.parse_args()
    binary = options.viewer or os.path.join(options.build, "src", "tessmira")
    work = tempfile.mkdtemp(prefix="tessmira-step-bench-")
    started = []
    try:
        photos = os.path.join(work, "photos")
        os.makedirs(photos)
        subprocess.run([os.path.join(options.build, "bench", "photo_maker"), photos, "6"],
                       check=True)
        if options.profile:
            with open(options.profile, "rb") as f:
                profile = f.read()
            for name in os.listdir(photos):
                embed_profile(os.path.join(photos, name), profile)
        start_desktop(work, started)
        print(f"six 6000 x 4000 JPEGs ({os.path.getsize(os.path.join(photos, 'photo1.jpg')) / 1e6:.1f} MB each), "
              f"one step every {options.pace} s, key press to the new picture's title:")
        print(f"  tagged with {options.profile or 'nothing'}, Colour Management {options.colour}")
        ours = tessmira_runs(binary, work, photos, options.steps, options.pace, options.colour)
        theirs = feh_runs(work, photos, options.steps, options.pace)
        for mode_name in ("Linear", "Random"):
            if mode_name in ours and mode_name in theirs:
                print(f"  ratio {mode_name} Tessmira/feh          {ours[mode_name] / theirs[mode_name]:7.2f}"
                      f"   (goal: 0.25 or less, and 50 ms or less)")
    finally:
        for process in reversed(started):
            process.kill()
            process.wait()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
