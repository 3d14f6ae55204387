#!/usr/bin/env python3
"""Figures of the whole setup under Wine: the size of OstrelSetup.exe, the time from process start
to the first paint, the peak memory of the setup process while it installs a 200 MB release, and
the phases of that install (download, extraction, copy, from the end of the download to Complete),
timed by when their lines reach the install log. The start and its memory are also given as ratios
to a bare Win32 window (tests/bench/bare_window.cpp, built beside the tests), started the same way
in turn with the setup: the platform's floor.

Usage: tests/bench/bench-setup.py <build-dir> [--rounds N] [--size-mb M] [--setup EXE] [--dpi N --start-only]

--dpi runs both in a tour prefix at that DPI (the setup scales its window, the bare window is given
the same size); --start-only stops after the first paints.

--setup runs another build's OstrelSetup.exe (one made for the same service host and key) in the
same set-up, to compare two versions of the program.

Not a test: it prints figures. It drives the real window with the end-to-end tour's helpers, in
the tour's own Wine prefix, against the local update service in a private network namespace.
The memory figure is the Wine process's resident set (VmRSS, peak VmHWM from /proc), which is
what the process's working set is on this platform, and its private part (RssAnon): the rest
is the mapped files of Wine's DLLs and the host's X libraries.
"""

import argparse
import ctypes
import os
import pathlib
import statistics
import subprocess
import sys
import time

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "tour"))
import tour  # noqa: E402


class ScreenPixels:
    """Single pixels of the X screen read through libX11 itself: an ImageMagick screenshot and an
    xdotool search take about 100 ms together, which would round every start up to the next poll."""

    def __init__(self, display):
        x11 = ctypes.CDLL("libX11.so.6")
        x11.XOpenDisplay.restype = ctypes.c_void_p
        x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
        x11.XDefaultRootWindow.restype = ctypes.c_ulong
        x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        x11.XDisplayWidth.argtypes = x11.XDisplayHeight.argtypes = [ctypes.c_void_p, ctypes.c_int]
        x11.XGetImage.restype = ctypes.c_void_p
        x11.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int, ctypes.c_uint,
                                  ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
        x11.XGetPixel.restype = ctypes.c_ulong
        x11.XGetPixel.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int]
        x11.XDestroyImage.argtypes = [ctypes.c_void_p]
        x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
        self.x11 = x11
        self.display = x11.XOpenDisplay(display.encode())
        if not self.display:
            raise tour.TourError(f"cannot open display {display}")
        self.root = x11.XDefaultRootWindow(self.display)
        self.size = (x11.XDisplayWidth(self.display, 0), x11.XDisplayHeight(self.display, 0))

    def at(self, x, y):
        image = self.x11.XGetImage(self.display, self.root, x, y, 1, 1, 0xFFFFFFFF, 2)  # ZPixmap
        if not image:
            return (0, 0, 0)
        value = self.x11.XGetPixel(image, 0, 0)
        self.x11.XDestroyImage(image)
        return ((value >> 16) & 0xFF, (value >> 8) & 0xFF, value & 0xFF)

    def close(self):
        self.x11.XCloseDisplay(self.display)


class BenchTour(tour.Tour):
    size_mb = 200

    def release_folder(self):
        folder = super().release_folder(self.version)
        asset = folder / "assets" / "sample.bin"
        with open(asset, "wb") as out:
            for _ in range(self.size_mb):
                out.write(os.urandom(1 << 20))
        return folder

    def publish_release(self):
        self.publish(self.version, self.release_folder())

    @staticmethod
    def setup_pid(program=b"OstrelSetup.exe"):
        """The Windows process itself: the most recently started process naming the program that
        is not the wine command, its preloader or this script (process ids wrap, start times do not)."""
        found = []
        for entry in pathlib.Path("/proc").iterdir():
            if entry.name.isdigit():
                try:
                    command = (entry / "cmdline").read_bytes()
                    started = int((entry / "stat").read_text().rsplit(")", 1)[1].split()[19])
                except (OSError, IndexError, ValueError):
                    continue
                if program in command and not any(word in command for word in (b"python", b"wine\0", b"preloader")):
                    found.append((started, int(entry.name)))
        return max(found)[1] if found else None

    @staticmethod
    def memory_kb(pid, field):
        try:
            for line in pathlib.Path(f"/proc/{pid}/status").read_text().splitlines():
                if line.startswith(field + ":"):
                    return int(line.split()[1])
        except OSError:
            pass
        return 0

    def stop_setup(self, title="Ostrel Setup", program=b"OstrelSetup.exe"):
        if self.setup and self.setup.poll() is None:
            self.setup.kill()
            self.setup.wait()
        pid = self.setup_pid(program)
        if pid:
            os.kill(pid, 9)
        tour.wait_for("the window to go", lambda: not self.window_ids(title), 20)

    def time_to_first_paint(self, exe=None, title="Ostrel Setup"):
        """Seconds from the wine command to the painted window, and the process's private memory
        (kB) half a second after it. Both windows open centred on the screen, so the painted
        frame is seen at a known pixel, polled every millisecond."""
        exe = exe or self.setup_exe
        width, height = self.screen.size
        self.origin = ((width - self.window[0]) // 2, (height - self.window[1]) // 2)
        spot = (self.origin[0] + self.at.blank[0], self.origin[1] + self.at.blank[1])
        if tour.near(self.screen.at(*spot), tour.BACKGROUND, 6):
            raise tour.TourError("the screen shows the background colour before the start")
        start = time.monotonic()
        size = [str(n) for n in self.window] if title == "Bare Window" else []
        self.setup = subprocess.Popen(["wine", str(exe), *size], env=self.env,
                                      stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                      stdin=subprocess.DEVNULL)
        while not tour.near(self.screen.at(*spot), tour.BACKGROUND, 6):
            if time.monotonic() - start > 30:
                raise tour.TourError("no first paint within 30 s")
            time.sleep(0.001)
        taken = time.monotonic() - start
        if not self.window_ids(title):
            raise tour.TourError(f"the painted window is not {title}")
        time.sleep(0.5)
        return taken, self.memory_kb(self.setup_pid(exe.name.encode()), "RssAnon")

    # Lines of the install log that end each phase, in order.
    PHASE_LINES = (("download", "Download OK"), ("verification", "SHA-256 verified OK"),
                   ("extraction", "ExtractZip OK"), ("copy", "Copied "), ("complete", "=== Install SUCCESS ==="))

    def phase_times(self, log, offset, seen):
        """When each phase line first appeared in the log past offset (monotonic seconds)."""
        try:
            with open(log, "rb") as text:
                text.seek(offset)
                lines = text.read().decode("utf-8", "replace").splitlines()
        except OSError:
            return
        for name, prefix in self.PHASE_LINES:
            if name not in seen and any(line.startswith(prefix) for line in lines):
                seen[name] = time.monotonic()

    def install_peak(self):
        self.setup = subprocess.Popen(["wine", str(self.setup_exe)], env=self.env,
                                      stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                      stdin=subprocess.DEVNULL)
        tour.wait_for("the setup window", lambda: self.window_ids("Ostrel Setup"), 30)
        self.origin = self.window_origin()
        tour.wait_for("the first paint", lambda: tour.near(self.pixel(self.capture(), self.at.blank),
                                                          tour.BACKGROUND, 6), 20)
        self.walk_to_progress()
        self.wait_state("ready", 60)
        pid = self.setup_pid()
        before = (self.memory_kb(pid, "VmRSS"), self.memory_kb(pid, "RssAnon"))
        log = self.temp / "OstrelInstall_debug.log"
        offset = log.stat().st_size if log.exists() else 0
        self.click(self.at.primary_right)
        peak = 0
        peak_private = 0
        started = time.monotonic()
        seen = {}
        while self.setup.poll() is None and time.monotonic() - started < 600:
            peak = max(peak, self.memory_kb(pid, "VmHWM"))
            peak_private = max(peak_private, self.memory_kb(pid, "RssAnon"))
            self.phase_times(log, offset, seen)
            if "complete" in seen or self.progress_state(self.capture()) in ("complete", "failed"):
                break
            time.sleep(0.05)
        state = self.progress_state(self.capture())
        phases = {}
        previous = started
        for name, _ in self.PHASE_LINES:
            if name in seen:
                phases[name] = seen[name] - previous
                previous = seen[name]
        if "download" in seen and "complete" in seen:
            phases["install phase"] = seen["complete"] - seen["download"]
        return before, (peak, peak_private), state, time.monotonic() - started, phases


def print_start(exe, cold, warm, floor):
    paint = [seconds for seconds, _ in warm]
    bare_paint = [seconds for seconds, _ in floor]
    private = statistics.median(kb for _, kb in warm) / 1024
    bare_private = statistics.median(kb for _, kb in floor) / 1024
    print(f"OstrelSetup.exe: {exe.stat().st_size / 1e6:.2f} MB ({exe.stat().st_size} bytes), one file")
    print(f"start to first paint: first start {cold * 1000:.0f} ms (wineserver not running); "
          f"then median {statistics.median(paint) * 1000:.0f} ms, min {min(paint) * 1000:.0f}, "
          f"max {max(paint) * 1000:.0f} over {len(paint)} starts")
    print(f"bare window: median {statistics.median(bare_paint) * 1000:.0f} ms, min {min(bare_paint) * 1000:.0f}, "
          f"max {max(bare_paint) * 1000:.0f}; setup / bare window, median of the pairs "
          f"{statistics.median(a / b for a, b in zip(paint, bare_paint)):.2f}")
    print(f"private memory after the first paint: setup {private:.1f} MB, bare window {bare_private:.1f} MB "
          f"(setup - bare window {private - bare_private:.1f} MB)")
    return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("build", type=pathlib.Path)
    parser.add_argument("--rounds", type=int, default=7)
    parser.add_argument("--size-mb", type=int, default=200)
    parser.add_argument("--setup", type=pathlib.Path, help="the OstrelSetup.exe to run (default: the build's)")
    parser.add_argument("--dpi", type=int, default=96, help="the tour prefix's DPI")
    parser.add_argument("--start-only", action="store_true", help="the first paints only, no install")
    args = parser.parse_args()
    tour.run_alone()
    build = args.build.resolve()
    out = build / "bench-setup"
    out.mkdir(parents=True, exist_ok=True)
    prefix = build / ("wineprefix-tour" if args.dpi == 96 else f"wineprefix-tour-{args.dpi}")
    bench = BenchTour(build, out, 0, "2.0.0", prefix, args.dpi)
    bench.size_mb = args.size_mb
    exe = (args.setup or build / "OstrelSetup.exe").resolve()
    bench.setup_exe = exe
    bare = build / "tests" / "bare_window.exe"
    try:
        bench.prepare_environment()
        bench.screen = ScreenPixels(bench.env["DISPLAY"])
        bench.clean_previous_installation()
        bench.run(["wineserver", "-k"], check=False)
        cold, _ = bench.time_to_first_paint()
        bench.stop_setup()
        # In turn, so that a change in the machine's load weighs on both alike.
        warm, floor = [], []
        for _ in range(args.rounds):
            warm.append(bench.time_to_first_paint())
            bench.stop_setup()
            floor.append(bench.time_to_first_paint(bare, "Bare Window"))
            bench.stop_setup("Bare Window", bare.name.encode())
        if args.start_only:
            return print_start(exe, cold, warm, floor)
        bench.start_service()
        bench.publish_release()
        before, peak, state, seconds, phases = bench.install_peak()
    finally:
        bench.close()
        (build / "service-root" / "packages" / f"Ostrel-{bench.version}.zip").unlink(missing_ok=True)
    print_start(exe, cold, warm, floor)
    print(f"{args.size_mb} MB install ({state}, {seconds:.1f} s): resident set {before[0] / 1024:.1f} MB "
          f"before INSTALL, peak {peak[0] / 1024:.1f} MB; of it private (anonymous) memory "
          f"{before[1] / 1024:.1f} MB before, at most {peak[1] / 1024:.1f} MB during the install "
          f"(sampled every 0.05 s), the rest Wine's and the X libraries' mapped files")
    print("install phases (each from the end of the one before, as seen in the log every 0.05 s): " +
          ", ".join(f"{name} {value:.2f} s" for name, value in phases.items()))
    return 0 if state == "complete" else 1


if __name__ == "__main__":
    sys.exit(main())
