#!/usr/bin/env python3
"""Figures of the whole setup under Wine: the size of OstrelSetup.exe, the time from process start
to the first paint, the peak memory of the setup process while it installs a 200 MB release, and
the phases of that install (download, extraction, copy, from the end of the download to Complete),
timed by when their lines reach the install log. The start and its memory are also given as ratios
to a bare Win32 window (tests/bench/bare_window.cpp, built beside the tests), started the same way
in turn with the setup: the platform's floor.

Usage: scripts/bench-setup.py <build-dir> [--rounds N] [--size-mb M] [--setup EXE]

--setup runs another build's OstrelSetup.exe (one made for the same service host and key) in the
same set-up, to compare two versions of the program.

Not a test: it prints figures. It drives the real window with the end-to-end tour's helpers, in
the tour's own Wine prefix, against the local update service in a private network namespace.
The memory figure is the Wine process's resident set (VmRSS, peak VmHWM from /proc), which is
what the process's working set is on this platform, and its private part (RssAnon): the rest
is the mapped files of Wine's DLLs and the host's X libraries.
"""

import argparse
import os
import pathlib
import statistics
import subprocess
import sys
import time

HERE = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))
import tour  # noqa: E402


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
        for entry in pathlib.Path("/proc").iterdir():
            if entry.name.isdigit():
                try:
                    command = (entry / "cmdline").read_bytes()
                except OSError:
                    continue
                if program in command and b"python" not in command and b"wine\0" not in command:
                    return int(entry.name)
        return None

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
        (kB) half a second after it."""
        exe = exe or self.setup_exe
        start = time.monotonic()
        self.setup = subprocess.Popen(["wine", str(exe)], env=self.env,
                                      stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                      stdin=subprocess.DEVNULL)
        while True:
            ids = self.window_ids(title)
            if ids:
                self.origin = self.window_geometry(ids[0])[:2]
                taken = time.monotonic()
                if tour.near(self.pixel(self.capture(), self.at.blank), tour.BACKGROUND, 6):
                    time.sleep(0.5)
                    return taken - start, self.memory_kb(self.setup_pid(exe.name.encode()), "RssAnon")
            if time.monotonic() - start > 30:
                raise tour.TourError("no first paint within 30 s")
            time.sleep(0.01)

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


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("build", type=pathlib.Path)
    parser.add_argument("--rounds", type=int, default=7)
    parser.add_argument("--size-mb", type=int, default=200)
    parser.add_argument("--setup", type=pathlib.Path, help="the OstrelSetup.exe to run (default: the build's)")
    args = parser.parse_args()
    if os.environ.get("OSTREL_IN_NETNS") != "1":
        os.execvpe("unshare", ["unshare", "--net", sys.executable, *sys.argv],
                   {**os.environ, "OSTREL_IN_NETNS": "1"})
    subprocess.run(["ip", "link", "set", "lo", "up"], check=False)
    build = args.build.resolve()
    out = build / "bench-setup"
    out.mkdir(parents=True, exist_ok=True)
    bench = BenchTour(build, out, 0, "2.0.0", build / "wineprefix-tour")
    bench.size_mb = args.size_mb
    exe = (args.setup or build / "OstrelSetup.exe").resolve()
    bench.setup_exe = exe
    bare = build / "tests" / "bare_window.exe"
    try:
        bench.prepare_environment()
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
        bench.start_service()
        bench.publish_release()
        before, peak, state, seconds, phases = bench.install_peak()
    finally:
        bench.close()
        (build / "service-root" / "packages" / f"Ostrel-{bench.version}.zip").unlink(missing_ok=True)
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
    print(f"{args.size_mb} MB install ({state}, {seconds:.1f} s): resident set {before[0] / 1024:.1f} MB "
          f"before INSTALL, peak {peak[0] / 1024:.1f} MB; of it private (anonymous) memory "
          f"{before[1] / 1024:.1f} MB before, at most {peak[1] / 1024:.1f} MB during the install "
          f"(sampled every 0.05 s), the rest Wine's and the X libraries' mapped files")
    print("install phases (each from the end of the one before, as seen in the log every 0.05 s): " +
          ", ".join(f"{name} {value:.2f} s" for name, value in phases.items()))
    return 0 if state == "complete" else 1


if __name__ == "__main__":
    sys.exit(main())
