#!/usr/bin/env python3
"""Figures of an update through a delta against the full package, under Wine through the front
door: a release of a large asset (200 MB by default) and a few MB of program files, then two
updates that each change only the program files. The first update's release is published with no
delta (the full package is downloaded), the second's with its deltas: for each, the bytes
downloaded and the time from the UPDATE click to Complete; and the publish tool's time for each
release, so the time to make the deltas is their difference.

Usage: tests/bench/bench-delta.py <build-dir> [--size-mb N] [--program-mb M]

Not a test: it prints figures. It drives the real window with the end-to-end tour's helpers, in
the tour's own Wine prefix, against the local service behind nginx in a private network namespace.
"""

import argparse
import os
import pathlib
import sys
import time

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "tour"))
import tour  # noqa: E402


class DeltaBench(tour.Tour):
    asset_mb = 200
    program_mb = 5

    def bench_release(self, version):
        """The product's programs, the large asset (the same bytes in every release) and the
        program files (new bytes in every release)."""
        folder = self.release_folder(version, {"bin/engine.dat": os.urandom(self.program_mb << 20)})
        asset = self.out / "asset.bin"
        if not asset.exists():
            with open(asset, "wb") as out:
                for _ in range(self.asset_mb):
                    out.write(os.urandom(1 << 20))
        (folder / "assets" / "sample.bin").unlink()
        os.link(asset, folder / "assets" / "sample.bin")
        return folder

    def timed_publish(self, version, *options):
        folder = self.bench_release(version)
        started = time.monotonic()
        self.publish(version, folder, "--notes", "Bench release", *options)
        return time.monotonic() - started

    def timed_run(self, install):
        """Starts the setup, walks to the progress page and presses INSTALL or UPDATE: the seconds
        to Complete and the download's size from the install log."""
        log = self.temp / "OstrelInstall_debug.log"
        start = log.stat().st_size if log.exists() else 0
        self.start_setup()
        self.walk_straight()
        if self.settled_state(60) != "ready":
            raise tour.TourError("no update offered")
        self.click(self.at.primary_right)
        self.park_pointer()
        clicked = time.monotonic()
        while (state := self.progress_state(self.capture())) != "complete":
            if state == "failed" or time.monotonic() - clicked > 900:
                raise tour.TourError(f"no Complete: {state} after {time.monotonic() - clicked:.0f} s")
            time.sleep(0.05)
        seconds = time.monotonic() - clicked
        lines = log.read_bytes()[start:].decode(errors="replace").splitlines()
        self.close_at_once()
        sizes = [int(line.rsplit("=", 1)[1]) for line in lines if line.startswith("Download OK, zip size=")]
        deltas = [line for line in lines if line.startswith("Delta")]
        return seconds, sum(sizes), deltas if not install else []


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("build", type=pathlib.Path)
    parser.add_argument("--size-mb", type=int, default=200, help="the large asset kept by every release")
    parser.add_argument("--program-mb", type=int, default=5, help="the program files every release changes")
    args = parser.parse_args()
    tour.run_alone()
    build = args.build.resolve()
    out = build / "bench-delta"
    out.mkdir(parents=True, exist_ok=True)
    bench = DeltaBench(build, out, 0, "5.0.0", build / "wineprefix-tour")
    bench.asset_mb, bench.program_mb = args.size_mb, args.program_mb
    try:
        bench.prepare_environment()
        bench.take_service_down()
        bench.clean_previous_installation()
        bench.start_service()
        first = bench.timed_publish("5.0.0")
        bench.timed_run(install=True)
        full_publish = bench.timed_publish("5.1.0", "--deltas", "0")
        full = bench.timed_run(install=False)
        delta_publish = bench.timed_publish("5.2.0")
        delta = bench.timed_run(install=False)
    finally:
        bench.close()
        for version in ("5.0.0", "5.1.0", "5.2.0"):
            for package in (build / "service-root" / "packages").glob(f"Ostrel-{version}*.zip"):
                package.unlink()
        (out / "asset.bin").unlink(missing_ok=True)
    print(f"releases of a {args.size_mb} MB asset and {args.program_mb} MB of program files, "
          f"the program files changed in each")
    print(f"publish: first release {first:.1f} s, with no delta {full_publish:.1f} s, "
          f"with its deltas {delta_publish:.1f} s (making them: {delta_publish - full_publish:.1f} s)")
    print(f"UPDATE to Complete, full package: {full[1] / 1e6:.1f} MB downloaded, {full[0]:.1f} s")
    print(f"UPDATE to Complete, delta: {delta[1] / 1e6:.1f} MB downloaded, {delta[0]:.1f} s "
          f"({delta[1] / full[1]:.1%} of the bytes, {delta[0] / full[0]:.1%} of the time); " + "; ".join(delta[2]))
    return 0


if __name__ == "__main__":
    sys.exit(main())
