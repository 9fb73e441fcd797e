#!/usr/bin/env python3
"""Stepping benchmark: the real viewer under Xvfb and openbox, stepping through
folders of generated JPEGs (16 steps over 17 photos of 6000 x 4000, then of
1920 x 1080) at a fixed pace in an 800 x 600 window, timed from each key
press to the title that names the new picture; beside feh, nsxiv, qimgv and
eog on the same files where they are installed (bench/install_peers.sh).
For each viewer: the median and 90th percentile step until its pixels change
on the X server (XDamage; the title's arrival where that is missing), the
median step to its title, its CPU time per step (all its threads) and its
peak memory (VmHWM).

    step_bench.py BUILD_FOLDER [--steps N] [--pace SECONDS] [--viewer BINARY]
                  [--profile ICC_FILE] [--colour on|off] [--modes]

BUILD_FOLDER is a release build (its src/tessmira and bench/photo_maker).
--profile embeds an ICC profile in every photo (colour managed steps convert
each picture); --colour sets the viewer's Colour Management setting.
--modes times Tessmira's Linear, Random and unprepared Left steps on the
large photos instead (beside feh).
"""
import argparse
import ctypes
import os
import select
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


class KeySender:
    """Presses keys through XTest from this process, so that a step's time
    starts at the press itself, not at the start of a helper program."""

    def __init__(self):
        self.x11 = ctypes.CDLL("libX11.so.6")
        self.xtst = ctypes.CDLL("libXtst.so.6")
        self.x11.XOpenDisplay.restype = ctypes.c_void_p
        self.x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
        self.x11.XStringToKeysym.restype = ctypes.c_ulong
        self.x11.XStringToKeysym.argtypes = [ctypes.c_char_p]
        self.x11.XKeysymToKeycode.restype = ctypes.c_ubyte
        self.x11.XKeysymToKeycode.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
        self.x11.XFlush.argtypes = [ctypes.c_void_p]
        self.x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
        self.xtst.XTestFakeKeyEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int,
                                                ctypes.c_ulong]
        self.display = self.x11.XOpenDisplay(os.environ["DISPLAY"].encode())
        if not self.display:
            sys.exit("step_bench: cannot open the display")

    def press(self, key):
        """Presses and releases key; the moment of the press."""
        code = self.x11.XKeysymToKeycode(self.display, self.x11.XStringToKeysym(key.encode()))
        self.xtst.XTestFakeKeyEvent(self.display, code, 1, 0)
        self.x11.XFlush(self.display)
        pressed = time.monotonic()
        self.xtst.XTestFakeKeyEvent(self.display, code, 0, 0)
        self.x11.XFlush(self.display)
        return pressed

    def close(self):
        self.x11.XCloseDisplay(self.display)


class DamageSpy:
    """Every moment the window's pixels change on the X server (its XDamage
    reports), so that a step counts until its picture is on the screen."""

    def __init__(self, window):
        self.lock = threading.Lock()
        self.moments = []
        try:
            self.x11 = ctypes.CDLL("libX11.so.6")
            self.damage = ctypes.CDLL("libXdamage.so.1")
        except OSError:
            self.x11 = None
            return
        self.x11.XOpenDisplay.restype = ctypes.c_void_p
        self.x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
        self.x11.XNextEvent.argtypes = [ctypes.c_void_p, ctypes.c_void_p]
        self.x11.XFlush.argtypes = [ctypes.c_void_p]
        self.x11.XPending.argtypes = [ctypes.c_void_p]
        self.x11.XConnectionNumber.argtypes = [ctypes.c_void_p]
        self.x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
        self.damage.XDamageQueryExtension.argtypes = [ctypes.c_void_p, ctypes.c_void_p,
                                                      ctypes.c_void_p]
        self.damage.XDamageCreate.restype = ctypes.c_ulong
        self.damage.XDamageCreate.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int]
        self.damage.XDamageSubtract.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong,
                                                ctypes.c_ulong]
        self.display = self.x11.XOpenDisplay(os.environ["DISPLAY"].encode())
        event_base, error_base = ctypes.c_int(), ctypes.c_int()
        if not self.display or not self.damage.XDamageQueryExtension(
                self.display, ctypes.byref(event_base), ctypes.byref(error_base)):
            self.x11 = None
            return
        self.notify = event_base.value  # XDamageNotify is the extension's first event
        report_non_empty = 3
        self.handle = self.damage.XDamageCreate(self.display, int(window, 0), report_non_empty)
        self.x11.XFlush(self.display)
        self.stopped = False
        self.reader = threading.Thread(target=self.read, daemon=True)
        self.reader.start()

    def read(self):
        event = (ctypes.c_long * 24)()
        connection = self.x11.XConnectionNumber(self.display)
        while not self.stopped:
            if self.x11.XPending(self.display) == 0:
                select.select([connection], [], [], 0.05)
                continue
            self.x11.XNextEvent(self.display, event)
            seen = time.monotonic()
            if ctypes.cast(event, ctypes.POINTER(ctypes.c_int))[0] == self.notify:
                with self.lock:
                    self.moments.append(seen)
                self.damage.XDamageSubtract(self.display, self.handle, 0, 0)
                self.x11.XFlush(self.display)

    def stop(self):
        if self.x11 is not None:
            self.stopped = True
            self.reader.join()
            self.x11.XCloseDisplay(self.display)

    def on_screen(self, start, titled):
        """The picture's arrival: the first change at or after its title,
        else the last one between the press and the title, else the title."""
        if self.x11 is None:
            return titled
        deadline = time.monotonic() + 0.2
        while time.monotonic() < deadline:
            with self.lock:
                after = [m for m in self.moments if m >= titled]
                before = [m for m in self.moments if start <= m < titled]
            if after:
                return after[0]
            time.sleep(0.005)
        return before[-1] if before else titled


def percentile(values, share):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(round(share * (len(ordered) - 1))))]


def window_of(pid):
    found = run("xdotool", "search", "--onlyvisible", "--pid", str(pid)).stdout.split()
    return found[0] if found else None


def step_times(window, key, steps, pace, is_picture_title, screen=None):
    """Presses key steps times, pace seconds apart; milliseconds to each new
    picture title (and, into the list screen, to its pixels on the screen)."""
    run("xdotool", "windowactivate", "--sync", window)
    spy = TitleSpy(window)
    damage = DamageSpy(window) if screen is not None else None
    time.sleep(0.5)  # the spy reports the present title first
    times = []
    last = None
    with spy.lock:
        if spy.titles:
            last = spy.titles[-1][1]
    keys = KeySender()
    for _ in range(steps):
        start = keys.press(key)
        seen = wait_for(lambda: spy.first_after(
            start, lambda text: is_picture_title(text) and text != last), 30,
            f"a new title after {last!r} (seen: {spy.titles[-3:]!r})")
        times.append((seen[0] - start) * 1000.0)
        if damage is not None:
            screen.append((damage.on_screen(start, seen[0]) - start) * 1000.0)
        last = seen[1]
        rest = start + pace - time.monotonic()
        if rest > 0:
            time.sleep(rest)  # the pace of a person looking at each picture
    spy.stop()
    keys.close()
    if damage is not None:
        damage.stop()
    if os.environ.get("STEP_BENCH_VERBOSE"):
        print("   ", " ".join(f"{t:.0f}" for t in times))
    return times


def cpu_seconds(pid):
    """User and system time of the process, all its threads."""
    with open(f"/proc/{pid}/stat") as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


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


def nsxiv_titles():
    """Has nsxiv title its window "nsxiv PATH" (its own titles name no file)."""
    script = os.path.join(os.environ["HOME"], ".config", "nsxiv", "exec", "win-title")
    os.makedirs(os.path.dirname(script), exist_ok=True)
    with open(script, "w") as out:
        out.write('#!/bin/sh\n[ -n "$4" ] && printf "nsxiv %s" "$1"\n')
    os.chmod(script, 0o755)


def peer_viewers(prog, photos):
    """(name, command, key, is_picture_title) of every viewer installed."""
    files = sorted(os.path.join(photos, name) for name in os.listdir(photos))
    found = [("Tessmira", [os.path.join(prog, "tessmira"), files[0]], "Right",
              lambda t: t.startswith(photos) and " @ " in t)]
    if shutil.which("feh"):
        found.append(("feh", ["feh", "--geometry", "800x600", "--scale-down", "--auto-zoom",
                              "--title", "feh %f", "--start-at", files[0], photos], "Right",
                      lambda t: t.startswith("feh " + photos)))
    if shutil.which("nsxiv"):
        nsxiv_titles()
        found.append(("nsxiv", ["nsxiv", "-g", "800x600"] + files, "n",
                      lambda t: t.startswith("nsxiv " + photos)))
    if shutil.which("qimgv"):
        found.append(("qimgv", ["qimgv", files[0]], "Right", lambda t: "photo" in t))
    if shutil.which("eog"):
        found.append(("eog", ["eog", files[0]], "Right", lambda t: "photo" in t))
    return found


def peer_runs(prog, photos, steps, pace):
    """Each viewer stepping the photos: {name: (median ms, p90 ms, CPU ms a step, peak MB)}."""
    results = {}
    for name, command, key, is_picture in peer_viewers(prog, photos):
        viewer = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        window = wait_for(lambda: window_of(viewer.pid), what=f"{name}'s window")
        run("xdotool", "windowsize", "--sync", window, "800", "600")
        wait_for(lambda: is_picture(run("xdotool", "getwindowname", window).stdout.strip()),
                 what=f"{name}'s first picture")
        time.sleep(2.5)  # the first picture settles, as a person looks at it
        before = cpu_seconds(viewer.pid)
        screen = []
        times = step_times(window, key, steps, pace, is_picture, screen)
        used = (cpu_seconds(viewer.pid) - before) * 1000.0 / steps
        results[name] = (statistics.median(screen), percentile(screen, 0.9), used,
                         peak_memory_mb(viewer.pid), statistics.median(times))
        print(f"  {name:<9} on screen: median {results[name][0]:6.1f} ms, p90 "
              f"{results[name][1]:6.1f} ms   title {results[name][4]:6.1f} ms   "
              f"CPU {used:5.0f} ms a step   peak {results[name][3]:6.1f} MB", flush=True)
        viewer.kill()
        viewer.wait()
    return results


def photo_set(build, work, name, size, count, profile):
    photos = os.path.join(work, name)
    os.makedirs(photos)
    subprocess.run([os.path.join(build, "bench", "photo_maker"), photos, str(count)] +
                   [str(size[0]), str(size[1])], check=True)
    if profile:
        for file in os.listdir(photos):
            embed_profile(os.path.join(photos, file), profile)
    return photos


def first_run(prog, photos, colour):
    """Tessmira's settings files, from a first run ended with Esc, set to Linear."""
    with open(os.path.join(prog, "TesmiSet.txt"), "w") as extra:
        extra.write(f"colour_management={1 if colour == 'on' else 0}\n")
    viewer = subprocess.Popen([os.path.join(prog, "tessmira"), photos],
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    window = wait_for(lambda: window_of(viewer.pid), what="the viewer's window")
    wait_for(lambda: " @ " in run("xdotool", "getwindowname", window).stdout,
             what="the first picture")
    run("xdotool", "windowactivate", "--sync", window)
    run("xdotool", "key", "Escape")
    viewer.wait(30)
    with open(os.path.join(prog, "dTesmi.dat"), "r+b") as block:
        block.seek(8)
        block.write(struct.pack("<I", 0))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("--steps", type=int, default=16)
    parser.add_argument("--pace", type=float, default=0.7)
    parser.add_argument("--viewer", help="another tessmira binary to time")
    parser.add_argument("--profile", help="an ICC profile to tag the photos with")
    parser.add_argument("--colour", choices=("on", "off"), default="on")
    parser.add_argument("--modes", action="store_true")
    parser.add_argument("--sizes", choices=("both", "large", "small"), default="both")
    options = parser.parse_args()
    binary = options.viewer or os.path.join(options.build, "src", "tessmira")
    work = tempfile.mkdtemp(prefix="tessmira-step-bench-")
    started = []
    profile = None
    if options.profile:
        with open(options.profile, "rb") as f:
            profile = f.read()
    try:
        start_desktop(work, started)
        if options.modes:
            photos = photo_set(options.build, work, "photos", (6000, 4000), 6, profile)
            print(f"six 6000 x 4000 JPEGs, one step every {options.pace} s, key press to the "
                  f"new picture's title; tagged with {options.profile or 'nothing'}, "
                  f"Colour Management {options.colour}:")
            ours = tessmira_runs(binary, work, photos, options.steps, options.pace, options.colour)
            theirs = feh_runs(work, photos, options.steps, options.pace)
            for mode_name in ("Linear", "Random"):
                if mode_name in ours and mode_name in theirs:
                    print(f"  ratio {mode_name} Tessmira/feh {ours[mode_name] / theirs[mode_name]:7.2f}")
            return
        prog = os.path.join(work, "prog")
        os.makedirs(prog)
        shutil.copy(binary, os.path.join(prog, "tessmira"))
        for name, size in (("large", (6000, 4000)), ("small", (1920, 1080))):
            if options.sizes not in ("both", name):
                continue
            photos = photo_set(options.build, work, name, size, options.steps + 1, profile)
            if not os.path.exists(os.path.join(prog, "dTesmi.dat")):
                first_run(prog, photos, options.colour)
            print(f"{options.steps + 1} JPEGs of {size[0]} x {size[1]}, {options.steps} steps, one "
                  f"every {options.pace} s, an 800 x 600 window, key press to the new title:",
                  flush=True)
            results = peer_runs(prog, photos, options.steps, options.pace)
            ours = results.pop("Tessmira")
            if "feh" in results:
                print(f"  peak memory, Tessmira/feh: {ours[3] / results['feh'][3]:.2f}"
                      f"{'   (goal: 1.5 or less)' if name == 'large' else ''}")
            if "qimgv" in results:
                print(f"  median step, Tessmira/qimgv: {ours[0] / results['qimgv'][0]:.2f}"
                      f"{'   (goal: 0.5 or less)' if name == 'small' else ''}")
            shutil.rmtree(photos, ignore_errors=True)
    finally:
        for process in reversed(started):
            process.kill()
            process.wait()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
