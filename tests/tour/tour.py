#!/usr/bin/env python3
"""Drives the built OstrelSetup.exe under Xvfb the way a person would, against the local update
service, and checks the outcome from outside the program.

Usage: tests/tour/tour.py <build-dir> [--out DIR] [--language N] [--version V]
                          [--scenarios main|more|keyboard|scaled|delta]

The main tour: the exit question (No keeps the setup), a drag of the window, a language, NEXT, a
shortcut box off and on again, NEXT, the wheel on the terms, NEXT before ticking (nothing
happens), tick, NEXT; the update check with the service down (Failed), the service started,
RETRY, INSTALL, the download's progress, Complete, LAUNCH. Then the install folder, the registry
(`wine reg query`), the shortcuts, the install log and the product's run log are checked, and the
setup window must be gone.

The further scenarios (--scenarios more), one setup run each: the folder picker over the window
(cancelling it keeps the folder; Yes on the exit question ends the setup); Yes on the exit
question during a download (the download stops, its package is deleted and the setup ends with
exit code 0 within seconds); then, in this order
since each builds on the installation the previous one left, CANCEL during a slow download (back
to INSTALL, no package left in the temporary folder), then INSTALL again to Complete; an
up-to-date installation (LAUNCH at once); an update to a newer release (UPDATE; a CANCEL that
keeps the installed release; then INSTALL: files replaced, a user's file kept, the running
product stopped); a release that fails as it starts (LAUNCH, the window back with RESTORE, the
previous release put back and started); a fresh installation in Russian (other texts than the English run's, language
"ru" stored). A scenario that fails is recorded and the next one runs.
--scenarios keyboard: a first installation from the first page to Complete with keys alone (Tab,
the arrows, Page Down, End, Space, Enter, Escape), the focus ring seen where the focus is.
--scenarios scaled --dpi N: the window in a prefix at N DPI (<build>/wineprefix-tour-N): its size
and place, then a language, the desktop box and NEXT clicked where the scaled layout puts them.
--scenarios delta: an installation, then UPDATE to a release that keeps the large asset: only the
delta is downloaded, and every file is the new release's.

Every click point and pixel probe comes from the window's layout table, <build>/layout.json (the
test build's layout_table fixture writes it; the tour writes it with <build>/tools/layout_table.exe
when it is missing or older than that program).

Every page and state is saved as a screenshot in the output folder, with summary.txt. Exit
status 0 when every check passed, 1 otherwise, 2 when something the tour needs is missing.
"""

import argparse
import json
import os
import pathlib
import shutil
import socket
import ssl
import subprocess
import sys
import tempfile
import time
import urllib.request

SOURCE = pathlib.Path(__file__).resolve().parent.parent.parent
sys.path.insert(0, str(SOURCE / "backend"))
import release_db  # noqa: E402

RUNNERS = SOURCE / "scripts"
RELEASE_TOOL = SOURCE / "release" / "ostrel-release"
SERVICE = SOURCE / "backend" / "service.sh"
# The tour publishes through the slow route; the tests the service is started again for need the rest.
FAULT_ROUTES = SOURCE / "tests" / "service" / "fault_routes.py"
SCREEN = (1366, 768)
RELEASE_ASSET_BYTES = 3 * 1024 * 1024
LANGUAGE_CODES = ["en", "ko", "ja", "zh", "ru"]
ENGLISH, RUSSIAN = 0, 4


def patch_version(version):
    """The next patch release: newer than version, older than newer_version(version)."""
    major, minor, patch = (version.split(".") + ["0", "0"])[:3]
    return f"{major}.{minor}.{int(patch) + 1}"


def newer_version(version):
    major, minor, *_ = (version.split(".") + ["0"])[:3]
    return f"{major}.{int(minor) + 1}.0"


ACCENT = (0x3B, 0x82, 0xF6)
ACCENT_HOVER = (0x60, 0xA5, 0xFA)
DANGER = (0xEF, 0x44, 0x44)
DANGER_HOVER = (0xF8, 0x71, 0x71)
SUCCESS = (0x22, 0xC5, 0x5E)
CANCEL_GREY = (0x4B, 0x55, 0x63)
CANCEL_HOVER = (0x6B, 0x72, 0x80)
PANEL = (0x22, 0x25, 0x2E)
TERMS_BOX_FILL = (0x0E, 0x10, 0x16)
BACKGROUND = (0x12, 0x14, 0x1A)
FOCUS_RING = (0x60, 0xA5, 0xFA)


class TourError(Exception):
    pass


class MissingDependency(Exception):
    pass


def centre(box):
    left, top, right, bottom = box
    return ((left + right) // 2, (top + bottom) // 2)


def near_corner(box):
    """Inside a button, clear of its centred label and of its rounded corner."""
    return (box[0] + 10, box[1] + 8)


def inside_margin(box, text):
    """Between a box's left edge and where its text starts, halfway down: only the box's fill."""
    return ((box[0] + text[0]) // 2, (text[1] + text[3]) // 2)


def union(first, second):
    return (min(first[0], second[0]), min(first[1], second[1]), max(first[2], second[2]),
            max(first[3], second[3]))


class LayoutTable:
    """The window's layout as layout_table.exe writes it: every rectangle of every page and status
    in client coordinates, None where the page does not show it."""

    def __init__(self, path):
        data = json.loads(path.read_text())
        self.window = (data["width"], data["height"])
        self.layouts = {(entry["page"], entry["status"]): entry["rects"] for entry in data["layouts"]}

    def box(self, name, page, status="checking"):
        box = self.layouts[page, status].get(name)
        if box is None:
            raise TourError(f"the layout table has no {name} on the {page} page ({status})")
        return tuple(box)


class Spots:
    """Where the tour clicks and which pixels it reads, taken from the layout table."""

    def __init__(self, table):
        box = table.box
        self.window = box("window", "language")
        self.side_panel = centre(box("sidePanel", "language"))
        items = range(len(LANGUAGE_CODES))
        self.language_items = [centre(box(f"languageItems.{i}.row", "language")) for i in items]
        self.accent_bars = [centre(box(f"languageItems.{i}.accentBar", "language")) for i in items]
        heading = box("heading", "language")
        # Background until the first paint and after it: between the title bar and the heading.
        self.blank = (centre(heading)[0], (box("titleBar", "language")[3] + heading[1]) // 2)
        self.titles = {page: union(box("windowTitle", page), box("heading", page))
                       for page in ("language", "options", "terms")}
        self.next = centre(box("primaryButton", "options"))
        self.desktop_box = centre(box("desktopShortcut.box", "options"))
        self.browse = centre(box("browseLink", "options"))
        self.folder_box = box("folderBox", "options")
        self.folder_fill = inside_margin(self.folder_box, box("folderText", "options"))
        self.terms_box = centre(box("termsAgree.box", "terms"))
        self.terms_text = box("termsText", "terms")
        self.terms_fill = inside_margin(box("termsBox", "terms"), self.terms_text)
        self.primary_box = box("primaryButton", "progress", "readyToInstall")  # label included
        self.primary_right = near_corner(self.primary_box)
        self.primary_left = near_corner(box("primaryButton", "progress", "downloading"))
        self.status_line = box("statusLine", "progress", "readyToInstall")
        self.progress_bar = box("progressBar", "progress", "downloading")
        # The focus ring's top-left pixel on the language page's NEXT and the agree box.
        self.next_ring = box("primaryButton", "language")[:2]
        self.agree_ring = box("termsAgree.row", "terms")[:2]


def near(colour, wanted, tolerance=12):
    return all(abs(a - b) <= tolerance for a, b in zip(colour, wanted))


def wait_for(what, condition, timeout, interval=0.2):
    end = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > end:
            raise TourError(f"timed out after {timeout} s waiting for {what}")
        time.sleep(interval)


class Image:
    """A screenshot as raw RGB, read from ImageMagick's PPM output."""

    def __init__(self, ppm):
        # P6 header: magic, width, height, maximum, each followed by whitespace.
        fields = []
        position = 0
        while len(fields) < 4:
            while ppm[position:position + 1].isspace():
                position += 1
            start = position
            while not ppm[position:position + 1].isspace():
                position += 1
            fields.append(ppm[start:position])
        if fields[0] != b"P6":
            raise TourError("screenshot is not a binary PPM")
        self.width, self.height = int(fields[1]), int(fields[2])
        self.pixels = ppm[position + 1:]

    def at(self, x, y):
        offset = (y * self.width + x) * 3
        return tuple(self.pixels[offset:offset + 3])


class Tour:
    def __init__(self, build, out, language, version, prefix, dpi=96):
        self.build = build
        self.dpi = dpi
        self.prefix = prefix
        self.out = out
        self.language = language
        self.version = version
        self.env = dict(os.environ)
        self.origin = None
        self.setup = None
        self.shots = 0
        self.checks = []
        self.scenario = ""
        self.runs = 0
        self.page_images = {}
        self.labels = {}  # (language, label) -> the action button's pixels with that label
        self.service_started = False
        self.service_was_running = False
        self.xvfb = None
        self.window = None
        self.at = None

    def prepare_environment(self):
        self.env.update({
            "WINEPREFIX": str(self.prefix),
            "WINEDEBUG": "-all",
            "WINEDLLOVERRIDES": "mscoree=d;mshtml=d;winemenubuilder.exe=d",
            "HOME": str(self.build / "home"),
        })
        (self.build / "home").mkdir(exist_ok=True)
        if not self.env.get("DISPLAY"):
            self.start_xvfb()
        self.run([str(RUNNERS / "wine-prefix.sh"), str(self.build), "--prefix", str(self.prefix),
                  "--dpi", str(self.dpi)])
        self.load_layout()

    def load_layout(self):
        table = self.build / ("layout.json" if self.dpi == 96 else f"layout-{self.dpi}.json")
        program = self.build / "tools" / "layout_table.exe"
        stale = program.is_file() and table.is_file() and program.stat().st_mtime > table.stat().st_mtime
        if stale or not table.is_file():
            if not program.is_file():
                raise MissingDependency("<build>/tools/layout_table.exe is needed")
            self.run(["wine", str(program), table.name, str(self.dpi)], cwd=table.parent)
        layout = LayoutTable(table)
        self.window = layout.window
        self.at = Spots(layout)

    def start_xvfb(self):
        read_end, write_end = os.pipe()
        self.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", f"{SCREEN[0]}x{SCREEN[1]}x24",
             "-nolisten", "tcp"], pass_fds=(write_end,), stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL)
        os.close(write_end)
        with os.fdopen(read_end) as display:
            number = display.readline().strip()
        if not number:
            raise MissingDependency("Xvfb did not start")
        self.env["DISPLAY"] = ":" + number

    def run(self, command, check=True, cwd=None):
        # Wine's helpers inherit pipes and could hold them open: output goes through a file.
        with tempfile.TemporaryFile() as output:
            result = subprocess.run(command, env=self.env, stdout=output, stderr=subprocess.STDOUT,
                                    stdin=subprocess.DEVNULL, cwd=cwd)
            output.seek(0)
            text = output.read().decode("utf-8", "replace")
        if check and result.returncode != 0:
            raise TourError(f"{' '.join(command)} failed ({result.returncode}):\n{text}")
        return result.returncode, text

    def wine_folder(self, variable):
        # Seen once right after a setup run ended: wine cmd exiting 1 with no output. Ask again.
        for _ in range(2):
            code, text = self.run(["wine", "cmd", "/c", f"echo %{variable}%"], check=False)
            if code == 0 and text.strip():
                break
            time.sleep(1)
        else:
            _, text = self.run(["wine", "cmd", "/c", f"echo %{variable}%"])
        windows = text.strip().splitlines()[-1].strip()
        _, unix = self.run(["winepath", "-u", windows])
        return windows, pathlib.Path(unix.strip())

    def reg_query(self, key, value):
        code, text = self.run(["wine", "reg", "query", key, "/v", value], check=False)
        if code != 0:
            return None
        for line in text.splitlines():
            parts = line.split(None, 2)
            if len(parts) >= 2 and parts[0] == value:
                return (parts[1], parts[2].strip() if len(parts) == 3 else "")
        return None

    def service_host(self):
        for line in (self.build / "CMakeCache.txt").read_text().splitlines():
            if line.startswith("OSTREL_SERVICE_HOST:"):
                return line.split("=", 1)[1]
        raise MissingDependency("no OSTREL_SERVICE_HOST in the build's CMake cache")

    def release_folder(self, version, extra=None, asset=None):
        """The product's two programs and an incompressible asset of a few MB, so the download
        through the slow route (about 640 KiB/s) lasts long enough to watch (`asset`: its bytes,
        new ones by default); `extra` maps further relative paths to their bytes."""
        product = self.build / "product"
        folder = self.out / f"release-{version}"
        shutil.rmtree(folder, ignore_errors=True)
        (folder / "assets").mkdir(parents=True, exist_ok=True)
        for name in ("Ostrel.exe", "OstrelService.exe"):
            if not (product / name).is_file():
                raise MissingDependency(f"<build>/product/{name} is needed")
            shutil.copy(product / name, folder / name)
        (folder / "assets" / "sample.bin").write_bytes(asset or os.urandom(RELEASE_ASSET_BYTES))
        for name, data in (extra or {}).items():
            (folder / name).parent.mkdir(parents=True, exist_ok=True)
            (folder / name).write_bytes(data)
        return folder

    def publish(self, version, folder, *options):
        """Publishes the folder's files as a release into the running service's database."""
        if not RELEASE_TOOL.exists():
            raise MissingDependency("release/ostrel-release is needed")
        # A build with its own release key (test, demo) takes only records signed with it.
        key = self.build / "release-key" / "private.pem"
        signing = ["--sign-key", str(key)] if key.exists() else []
        self.run([sys.executable, str(RELEASE_TOOL), "publish", "--database",
                  release_db.local_dsn(self.build, "ostrel_publisher"),
                  "--root", str(self.build / "service-root"), "--host", self.service_host(), "--version", version,
                  "--product", str(folder), *signing, *options])
        self.wait_for_answer()

    def withdraw(self, version):
        """Takes a published release out of the version query's answer."""
        self.run([sys.executable, str(RELEASE_TOOL), "withdraw", "--database",
                  release_db.local_dsn(self.build, "ostrel_publisher"), version])
        self.wait_for_answer()

    def wait_for_answer(self):
        """Until the front door answers what the database now holds: nginx keeps the last answer
        for a few seconds, and the next setup run must see the change."""
        admin = release_db.connect(release_db.local_dsn(self.build, "postgres"))
        with admin.cursor() as cursor:
            cursor.execute("SET ROLE anon")
            cursor.execute("SELECT api.get_latest_version()::text")
            (expected,) = cursor.fetchone()
        admin.close()
        context = ssl.create_default_context(cafile=str(self.build / "testca" / "ca.pem"))
        key = (self.build / "service-key.txt").read_text().strip()

        def answered():
            query = urllib.request.Request("https://localhost/rest/v1/rpc/get_latest_version", data=b"{}",
                                           headers={"Content-Type": "application/json", "apikey": key})
            try:
                with urllib.request.urlopen(query, context=context, timeout=5) as answer:
                    return answer.read().decode() == expected
            except OSError:
                return expected == "[]"
        wait_for("the front door's answer to follow the database", answered, 15)

    def publish_release(self, version=None, extra=None, asset=None):
        """Publishes through the slow route; returns the release folder."""
        version = version or self.version
        folder = self.release_folder(version, extra, asset)
        self.publish(version, folder, "--notes", "Tour release", "--route", "fault/slow/")
        return folder

    def start_service(self):
        if not SERVICE.exists():
            raise MissingDependency("backend/service.sh is needed")
        self.run([str(SERVICE), "start", str(self.build), "--routes", str(FAULT_ROUTES)])
        self.service_started = True

    def stop_service(self):
        if self.service_started:
            self.run([str(SERVICE), "stop", str(self.build)], check=False)
            self.service_started = False

    @staticmethod
    def service_listening():
        try:
            with socket.create_connection(("127.0.0.1", 443), timeout=2):
                return True
        except OSError:
            return False

    def take_service_down(self):
        # The tour begins with the service down, so it can watch Failed and RETRY; a service
        # that other tests started is started again at the end.
        self.service_was_running = self.service_listening()
        if self.service_was_running:
            self.run([str(SERVICE), "stop", str(self.build)])

    def restore_service(self):
        self.stop_service()
        if self.service_was_running and not self.service_listening():
            self.run([str(SERVICE), "start", str(self.build), "--routes", str(FAULT_ROUTES)], check=False)

    def capture(self):
        result = subprocess.run(["import", "-window", "root", "-depth", "8", "ppm:-"], env=self.env,
                                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, check=True)
        return Image(result.stdout)

    def screenshot(self, name):
        self.shots += 1
        prefix = f"{self.scenario}-" if self.scenario else ""
        path = self.out / f"{self.shots:02d}-{prefix}{name}.png"
        subprocess.run(["import", "-window", "root", str(path)], env=self.env, check=True)
        return path

    def pixel(self, image, point):
        return image.at(self.origin[0] + point[0], self.origin[1] + point[1])

    def xdotool(self, *arguments):
        # A search can hang while a window is being destroyed; the callers poll, so a time-out
        # counts as "nothing found" and the next poll asks again.
        try:
            return subprocess.run(["xdotool", *arguments], env=self.env, stdout=subprocess.PIPE,
                                  stderr=subprocess.DEVNULL, text=True, timeout=10)
        except subprocess.TimeoutExpired:
            return subprocess.CompletedProcess(arguments, 1, "", "")

    def window_ids(self, title):
        result = self.xdotool("search", "--onlyvisible", "--name", f"^{title}$")
        return result.stdout.split() if result.returncode == 0 else []

    def window_geometry(self, window):
        values = {}
        for line in self.xdotool("getwindowgeometry", "--shell", window).stdout.splitlines():
            key, _, value = line.partition("=")
            values[key] = value
        return tuple(int(values[key]) for key in ("X", "Y", "WIDTH", "HEIGHT"))

    def window_origin(self):
        ids = self.window_ids("Ostrel Setup")
        if not ids:
            raise TourError("the setup window is gone")
        return self.window_geometry(ids[0])[:2]

    def wait_new_window(self, what, known, timeout):
        """A visible window that is not among `known`: a message box or dialog of the setup."""
        return wait_for(what, lambda: [i for i in self.window_ids(".+") if i not in known], timeout)

    def wait_window_closed(self, what, windows, timeout=10):
        wait_for(what, lambda: not [i for i in windows if i in self.window_ids(".+")], timeout)

    def pointer_to(self, point, client=True):
        x, y = (self.origin[0] + point[0], self.origin[1] + point[1]) if client else point
        self.xdotool("mousemove", str(x), str(y))
        # --sync can hang when the pointer is already there: poll instead.
        wait_for(f"the pointer at {x},{y}",
                 lambda: f"x:{x} y:{y} " in self.xdotool("getmouselocation").stdout + " ", 5, 0.05)

    def click(self, point):
        self.pointer_to(point)
        self.xdotool("click", "1")
        time.sleep(0.3)

    def park_pointer(self):
        # Over the side panel, so no button shows its hover colour in a sample.
        self.pointer_to(self.at.side_panel)
        time.sleep(0.2)

    def page_shown(self, image):
        if near(self.pixel(image, self.at.folder_fill), PANEL):
            return "options"
        if near(self.pixel(image, self.at.terms_fill), TERMS_BOX_FILL, 1):
            return "terms"
        if near(self.pixel(image, self.at.accent_bars[self.language]), ACCENT, 40):
            return "language"
        return "progress"

    def progress_state(self, image):
        right = self.pixel(image, self.at.primary_right)
        left = self.pixel(image, self.at.primary_left)
        if near(left, CANCEL_GREY) or near(left, CANCEL_HOVER):
            return "downloading"
        if near(right, DANGER) or near(right, DANGER_HOVER):
            return "failed"
        if near(right, ACCENT) or near(right, ACCENT_HOVER):
            status_line = self.region(image, self.at.status_line, step=2)
            return "complete" if any(near(p, SUCCESS, 30) for p in status_line) else "ready"
        return "running"

    def progress_fraction(self, image):
        left, _, right, _ = self.at.progress_bar
        row = centre(self.at.progress_bar)[1]
        filled = sum(1 for x in range(left, right) if near(self.pixel(image, (x, row)), ACCENT, 40))
        return filled / (right - left)

    def wait_page(self, page, timeout=10):
        wait_for(f"the {page} page", lambda: self.page_shown(self.capture()) == page, timeout)

    def wait_state(self, state, timeout):
        wait_for(f"the progress page in state {state}",
                 lambda: self.progress_state(self.capture()) == state, timeout)

    def settled_state(self, timeout):
        """The first state with an action button after the update check: ready, complete or
        failed (downloading counts too, so a download that starts by itself is seen)."""
        def settled():
            state = self.progress_state(self.capture())
            return state if state != "running" else None
        return wait_for("the end of the update check", settled, timeout)

    def region(self, image, box, step=1):
        left, top, right, bottom = box
        return tuple(self.pixel(image, (x, y))
                     for y in range(top, bottom, step) for x in range(left, right, step))

    def button_label(self):
        """The action button's pixels, to tell its labels apart: INSTALL, UPDATE and LAUNCH share
        one colour."""
        return self.region(self.capture(), self.at.primary_box)

    def label(self, name, language=None):
        """The button's pixels remembered for `name` in `language` (default: the current one)."""
        return self.labels.get((self.language if language is None else language, name))

    def check(self, name, passed, detail=""):
        if self.scenario:
            name = f"{self.scenario}: {name}"
        self.checks.append((name, bool(passed), detail))
        print(("PASS " if passed else "FAIL ") + name + (f": {detail}" if detail and not passed else ""))

    def clean_previous_installation(self):
        self.temp_windows, self.temp = self.wine_folder("TEMP")
        self.local_windows, self.local = self.wine_folder("LOCALAPPDATA")
        self.install_windows = self.local_windows + "\\Ostrel"
        self.install_dir = self.local / "Ostrel"
        _, self.desktop = self.wine_folder("USERPROFILE")
        self.desktop = self.desktop / "Desktop"
        _, appdata = self.wine_folder("APPDATA")
        self.programs = appdata / "Microsoft" / "Windows" / "Start Menu" / "Programs"
        for key in ("HKCU\\Software\\Ostrel",
                    "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Ostrel"):
            self.run(["wine", "reg", "delete", key, "/f"], check=False)
        shutil.rmtree(self.install_dir, ignore_errors=True)
        shutil.rmtree(self.programs / "Ostrel", ignore_errors=True)
        for path in (self.desktop / "Ostrel.lnk", self.temp / "OstrelInstall_debug.log",
                     self.temp / "OstrelProduct_runs.log"):
            path.unlink(missing_ok=True)

    def start_setup(self):
        self.runs += 1
        log = open(self.out / ("setup-wine.log" if self.runs == 1 else f"setup-wine-{self.runs}.log"), "wb")
        self.setup = subprocess.Popen(["wine", str(self.build / "OstrelSetup.exe")], env=self.env,
                                      stdout=log, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)
        wait_for("the setup window", lambda: self.window_ids("Ostrel Setup"), 30)
        self.origin = self.window_origin()
        expected = ((SCREEN[0] - self.window[0]) // 2, (SCREEN[1] - self.window[1]) // 2)
        self.check("window centred on the screen", self.origin == expected, f"at {self.origin}")
        # Clicks land only after the first paint.
        wait_for("the first paint",
                 lambda: near(self.pixel(self.capture(), self.at.blank), BACKGROUND, 6), 20)

    def answer_exit_question(self, key):
        """Escape, then the exit question answered with `key` ("n" or "y")."""
        ids = self.window_ids("Ostrel Setup")
        self.xdotool("windowfocus", ids[0])
        self.xdotool("key", "Escape")
        box = self.wait_new_window("the exit question", ids, 10)
        self.screenshot("exit-question")
        self.xdotool("windowfocus", box[0])
        self.xdotool("key", key)
        self.wait_window_closed("the exit question to close", box)

    def exit_question_no_keeps_setup(self):
        self.answer_exit_question("n")
        self.check("No on the exit question keeps the setup", self.window_ids("Ostrel Setup"))

    def drag_window(self):
        before = self.window_origin()
        panel = self.at.side_panel
        self.pointer_to(panel)
        self.xdotool("mousedown", "1")
        start = (before[0] + panel[0], before[1] + panel[1])
        for step in range(1, 5):
            self.pointer_to((start[0] + 10 * step, start[1] + 6 * step), client=False)
        self.xdotool("mouseup", "1")
        time.sleep(0.3)
        after = self.window_origin()
        self.check("a drag moves the window by the cursor's movement",
                   (after[0] - before[0], after[1] - before[1]) == (40, 24), f"{before} -> {after}")
        self.pointer_to((after[0] + panel[0], after[1] + panel[1]), client=False)
        self.xdotool("mousedown", "1")
        self.pointer_to(start, client=False)
        self.xdotool("mouseup", "1")
        time.sleep(0.3)
        self.origin = self.window_origin()

    def walk_to_progress(self):
        self.screenshot("language-page")
        self.click(self.at.language_items[self.language])
        self.park_pointer()
        self.wait_page("language")
        self.screenshot("language-chosen")
        self.click(self.at.next)
        self.wait_page("options")
        self.screenshot("options-page")
        self.click(self.at.desktop_box)
        self.park_pointer()
        self.screenshot("desktop-shortcut-off")
        self.click(self.at.desktop_box)
        self.park_pointer()
        self.screenshot("desktop-shortcut-on")
        self.click(self.at.next)
        self.wait_page("terms")
        self.screenshot("terms-page")
        top = self.capture()
        self.pointer_to(centre(self.at.terms_text))
        self.xdotool("windowfocus", self.window_ids("Ostrel Setup")[0])
        for _ in range(3):
            self.xdotool("click", "5")
        time.sleep(0.4)
        self.park_pointer()
        scrolled = self.capture()
        self.check("the wheel scrolls the terms", self.pixels_differ(top, scrolled, self.at.terms_text))
        self.screenshot("terms-scrolled")
        self.pointer_to(self.at.next)
        time.sleep(0.3)
        before = self.capture()
        self.xdotool("click", "1")
        time.sleep(0.5)
        after = self.capture()
        self.check("NEXT before ticking the box does nothing",
                   self.page_shown(after) == "terms" and not self.pixels_differ(before, after, self.at.window))
        self.click(self.at.terms_box)
        self.park_pointer()
        self.screenshot("terms-accepted")
        self.click(self.at.next)
        self.wait_page("progress")
        self.screenshot("checking")
        self.park_pointer()

    def keep(self, name):
        """A screenshot, and its capture for comparisons between scenarios."""
        self.page_images[self.scenario, name] = self.capture()
        self.screenshot(name)

    def walk_straight(self):
        """Language, NEXT, NEXT, the terms box, NEXT: the shortest way to the progress page.
        The pages' captures are kept in page_images for comparisons between runs."""
        self.click(self.at.language_items[self.language])
        self.park_pointer()
        self.wait_page("language")
        for page, action in (("language", self.at.next), ("options", self.at.next),
                             ("terms", self.at.terms_box)):
            self.wait_page(page)
            self.keep(page)
            self.click(action)
            self.park_pointer()
        self.click(self.at.next)
        self.wait_page("progress")
        self.park_pointer()

    def pixels_differ(self, first, second, box):
        left, top, right, bottom = box
        return any(self.pixel(first, (x, y)) != self.pixel(second, (x, y))
                   for y in range(top, bottom, 2) for x in range(left, right, 2))

    def install(self):
        self.wait_state("failed", 30)
        self.screenshot("failed-service-down")
        self.start_service()
        self.publish_release()
        self.click(self.at.primary_right)  # RETRY
        self.park_pointer()
        self.wait_state("ready", 30)
        self.screenshot("ready-to-install")
        self.download_to_complete()

    def download_to_complete(self):
        """INSTALL or UPDATE, the download watched to its end, Complete."""
        self.click(self.at.primary_right)
        self.park_pointer()
        self.wait_state("downloading", 20)
        fractions = []
        while True:
            image = self.capture()
            state = self.progress_state(image)
            if state != "downloading":
                break
            fractions.append(self.progress_fraction(image))
            if len(fractions) in (1, 4, 8):
                self.screenshot(f"downloading-{len(fractions)}")
            time.sleep(0.15)
        self.check("the download's progress was seen moving",
                   any(0 < f < 1 for f in fractions) and max(fractions) > fractions[0],
                   f"fractions {[round(f, 2) for f in fractions]}")
        self.wait_state("complete", 120)
        self.screenshot("complete")
        self.labels[self.language, "LAUNCH"] = self.button_label()

    def launch(self):
        self.click(self.at.primary_right)  # LAUNCH
        wait_for("the setup to close", lambda: not self.window_ids("Ostrel Setup"), 30)
        wait_for("the product's window", lambda: self.window_ids("Ostrel"), 30)
        time.sleep(1)
        self.screenshot("product-started")
        self.check_setup_ended()

    def check_setup_ended(self):
        try:
            self.setup.wait(timeout=20)
            self.check("the setup process ended", True)
        except subprocess.TimeoutExpired:
            self.check("the setup process ended", False)

    def close_at_once(self):
        """Escape on Complete or UpToDate closes the setup without the exit question."""
        ids = self.window_ids("Ostrel Setup")
        self.xdotool("windowfocus", ids[0])
        self.xdotool("key", "Escape")
        wait_for("the setup to close", lambda: not self.window_ids("Ostrel Setup"), 15)
        self.check_setup_ended()

    def check_outcome(self):
        self.check_installation(self.version)
        self.check_product_started()

    def check_installation(self, version, release=None):
        """Files, registry, shortcuts and log of an installation of `version`; with the release
        folder, every file's bytes are compared with the published ones."""
        for name in ("Ostrel.exe", "OstrelService.exe", "Uninstall.exe", "version.txt", "assets/sample.bin"):
            self.check(f"installed {name}", (self.install_dir / name).is_file())
        if release:
            for path in sorted(p for p in release.rglob("*") if p.is_file()):
                name = path.relative_to(release).as_posix()
                installed = self.install_dir / name
                self.check(f"installed {name} is the release's",
                           installed.is_file() and installed.read_bytes() == path.read_bytes())
        version_file = self.install_dir / "version.txt"
        self.check("installed version.txt names the release",
                   version_file.is_file() and version in version_file.read_text(errors="replace"))
        expected = {
            ("HKCU\\Software\\Ostrel", "Version"): ("REG_SZ", version),
            ("HKCU\\Software\\Ostrel", "InstallDir"): ("REG_SZ", self.install_windows),
            ("HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Ostrel", "DisplayVersion"):
                ("REG_SZ", version),
            ("HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Ostrel", "UninstallString"):
                ("REG_SZ", self.install_windows + "\\Uninstall.exe"),
            ("HKCU\\Software\\Ostrel\\Application", "language"):
                ("REG_SZ", LANGUAGE_CODES[self.language]),
            ("HKCU\\Software\\Ostrel\\Application", "starsEnabled"): ("REG_SZ", "false"),
        }
        for (key, value), wanted in expected.items():
            found = self.reg_query(key, value)
            self.check(f"registry {key}\\{value}", found == wanted, f"found {found}, wanted {wanted}")
        self.check("desktop shortcut", (self.desktop / "Ostrel.lnk").is_file())
        self.check("Start-menu shortcut", (self.programs / "Ostrel" / "Ostrel.lnk").is_file())
        log = self.temp / "OstrelInstall_debug.log"
        self.check("install log written", log.is_file() and log.stat().st_size > 0)
        if log.is_file():
            suffix = f"-{self.scenario}" if self.scenario else ""
            shutil.copy(log, self.out / f"OstrelInstall_debug{suffix}.log")

    def product_starts(self):
        runs = self.temp / "OstrelProduct_runs.log"
        text = runs.read_text(errors="replace") if runs.is_file() else ""
        return text.lower().count(f"started {self.install_windows}\\Ostrel.exe".lower())

    def check_product_started(self, before=0):
        self.check("the product was started from the install folder", self.product_starts() > before,
                   f"{self.product_starts()} starts logged, {before} before")

    def write_summary(self, scenarios):
        title = (f"release {self.version}, language {self.language}" if scenarios in ("main", "keyboard")
                 else f"{self.dpi} DPI" if scenarios == "scaled"
                 else f"releases {self.version} and {newer_version(self.version)}")
        lines = [f"Ostrel Setup tour, {scenarios} scenarios, {title}",
                 f"install folder: {getattr(self, 'install_windows', '?')}", ""]
        lines += [("PASS " if passed else "FAIL ") + name + (f" ({detail})" if detail else "")
                  for name, passed, detail in self.checks]
        (self.out / "summary.txt").write_text("\n".join(lines) + "\n")

    def close(self):
        if self.setup and self.setup.poll() is None:
            self.setup.kill()
        self.run(["wineserver", "-k"], check=False)
        self.restore_service()
        if self.xvfb:
            self.xvfb.kill()
            self.xvfb.wait()

    def setup_files_in_temp(self):
        return {path.name for path in self.temp.glob("OstrelSetup_*")}

    def start_download(self):
        """INSTALL (or UPDATE), until the package is being written; returns the setup's files
        in the temporary folder before."""
        before = self.setup_files_in_temp()
        self.click(self.at.primary_right)
        self.park_pointer()
        self.wait_state("downloading", 20)
        wait_for("the package in the temporary folder",
                 lambda: any(name.endswith(".zip") for name in self.setup_files_in_temp() - before), 10)
        self.screenshot("downloading")
        return before

    def cancel_download(self):
        """Starts the download, CANCELs it while the package is being written, and expects
        INSTALL back (after an update too: the cancelled run ends in ReadyToInstall) and the
        package gone."""
        before = self.start_download()
        self.click(self.at.primary_left)  # CANCEL
        self.park_pointer()
        self.wait_state("ready", 30)
        self.screenshot("cancelled")
        self.check("after CANCEL the button reads INSTALL", self.button_label() == self.label("INSTALL"))
        try:
            wait_for("the package to be deleted", lambda: self.setup_files_in_temp() <= before, 10)
            self.check("no package left in the temporary folder", True)
        except TourError:
            self.check("no package left in the temporary folder", False,
                       ", ".join(sorted(self.setup_files_in_temp() - before)))

    def scenario_folder_picker(self):
        """Change opens the folder picker over the window; cancelling it keeps the folder. Yes
        on the exit question then ends the setup."""
        self.start_setup()
        self.click(self.at.next)
        self.wait_page("options")
        self.park_pointer()
        before = self.capture()
        setup = self.window_ids("Ostrel Setup")
        self.click(self.at.browse)
        picker = self.wait_new_window("the folder picker", setup, 30)
        self.screenshot("folder-picker")
        x, y, width, height = self.window_geometry(picker[0])
        left, top = self.origin
        self.check("the folder picker opens over the setup window",
                   x < left + self.window[0] and left < x + width
                   and y < top + self.window[1] and top < y + height,
                   f"picker at {(x, y, width, height)}, setup at {self.origin}")
        self.xdotool("windowfocus", picker[0])
        self.xdotool("key", "Escape")
        self.wait_window_closed("the folder picker to close", picker, 15)
        self.park_pointer()
        self.wait_page("options")
        self.screenshot("folder-picker-cancelled")
        self.check("cancelling the picker keeps the folder",
                   not self.pixels_differ(before, self.capture(), self.at.folder_box))
        self.answer_exit_question("y")
        wait_for("the setup to close", lambda: not self.window_ids("Ostrel Setup"), 15)
        self.check_setup_ended()

    def scenario_exit_downloading(self):
        """Yes on the exit question during the download: the worker stops and cleans up before
        the setup ends, within seconds and with exit code 0. A larger release for this run, so
        the download cannot end while the question is answered; withdrawn again afterwards."""
        self.clean_previous_installation()
        large = patch_version(self.version)
        self.publish_release(large, extra={"assets/large.bin": os.urandom(4 * RELEASE_ASSET_BYTES)})
        try:
            self.start_setup()
            self.walk_straight()
            self.wait_state("ready", 30)
            before = self.start_download()
            self.answer_exit_question("y")
            try:
                code = self.setup.wait(timeout=10)
                self.check("the setup ends within 10 s with exit code 0", code == 0, f"exit code {code}")
            except subprocess.TimeoutExpired:
                self.check("the setup ends within 10 s with exit code 0", False)
        finally:
            self.withdraw(large)
        self.check("no package left in the temporary folder", self.setup_files_in_temp() <= before,
                   ", ".join(sorted(self.setup_files_in_temp() - before)))
        log = self.temp / "OstrelInstall_debug.log"
        lines = log.read_text(encoding="utf-8", errors="replace").splitlines() if log.is_file() else []
        self.check("the worker logged the cancelled download", lines[-1:] == ["Download FAILED (cancelled=1)"],
                   lines[-1] if lines else "no log")

    def scenario_cancel(self):
        """CANCEL during the slow download goes back to INSTALL and leaves no package behind;
        INSTALL then runs to Complete."""
        self.clean_previous_installation()
        self.start_setup()
        self.walk_straight()
        self.wait_state("ready", 30)
        self.keep("ready-to-install")
        self.labels[self.language, "INSTALL"] = self.button_label()
        self.cancel_download()
        self.check("nothing installed", not (self.install_dir / "Ostrel.exe").exists()
                   and self.reg_query("HKCU\\Software\\Ostrel", "Version") is None)
        self.download_to_complete()
        self.check_installation(self.version)
        self.close_at_once()

    def scenario_up_to_date(self):
        """The installed release is the latest: LAUNCH at once, and it starts the product."""
        version_file = (self.install_dir / "version.txt").stat().st_mtime_ns
        starts = self.product_starts()
        self.start_setup()
        self.walk_straight()
        state = self.settled_state(30)
        self.screenshot("launch-offered")
        self.check("the check ends with an action button and no download", state == "ready", state)
        self.check("the button reads LAUNCH", self.button_label() == self.label("LAUNCH"))
        self.launch()
        self.check_product_started(starts)
        self.check("nothing was reinstalled",
                   (self.install_dir / "version.txt").stat().st_mtime_ns == version_file)

    def scenario_update(self):
        """A newer release: UPDATE replaces the files, adds the new one, keeps the user's file
        and stops the running product first."""
        user_file = self.install_dir / "my-notes.txt"
        user_file.write_text("kept across updates\n")
        version = newer_version(self.version)
        release = self.publish_release(version, {"assets/added.txt": f"new in {version}\n".encode()})
        self.check("the product runs before the update", self.window_ids("Ostrel"))
        self.start_setup()
        self.walk_straight()
        state = self.settled_state(30)
        self.screenshot("update-offered")
        self.labels[self.language, "UPDATE"] = self.button_label()
        self.check("the check offers an action", state == "ready", state)
        self.check("the button reads UPDATE (neither INSTALL nor LAUNCH)",
                   self.label("UPDATE") not in (self.label("INSTALL"), self.label("LAUNCH")))
        self.cancel_download()
        self.check("CANCEL leaves the installed release", self.reg_query("HKCU\\Software\\Ostrel", "Version")
                   == ("REG_SZ", self.version))
        self.download_to_complete()
        self.check("the running product was stopped", not self.window_ids("Ostrel"))
        self.check_installation(version, release)
        self.check("the user's file was kept",
                   user_file.is_file() and user_file.read_text() == "kept across updates\n")
        self.close_at_once()

    def scenario_restore(self):
        """A release that ends with an error as it starts: after UPDATE and LAUNCH the setup comes
        back with RESTORE, which puts the previous release back and starts it."""
        previous = newer_version(self.version)
        broken = patch_version(previous)
        self.publish_release(broken, {"exit-code.txt": b"3\n"})
        try:
            self.start_setup()
            self.walk_straight()
            self.check("the broken release is offered", self.settled_state(30) == "ready")
            self.download_to_complete()
            self.check_installation(broken)
            starts = self.product_starts()
            self.click(self.at.primary_right)  # LAUNCH
            self.park_pointer()
            # The window hides while the product starts and is back, its status line in the
            # danger colour, once the product has ended with its error.
            wait_for("the setup window back with RESTORE", lambda: self.window_ids("Ostrel Setup") and any(
                near(p, DANGER, 30) for p in self.region(self.capture(), self.at.status_line, step=2)), 30)
            self.wait_state("ready", 10)
            self.screenshot("restore-offered")
            self.check("the button is neither UPDATE nor LAUNCH",
                       self.button_label() not in (self.label("UPDATE"), self.label("LAUNCH")))
            self.click(self.at.primary_right)  # RESTORE
            wait_for("the setup to close", lambda: not self.window_ids("Ostrel Setup"), 30)
            wait_for("the product's window", lambda: self.window_ids("Ostrel"), 30)
            self.screenshot("restored-product-started")
            self.check_setup_ended()
        finally:
            self.withdraw(broken)
        self.check_installation(previous)
        self.check("the broken release's file is gone", not (self.install_dir / "exit-code.txt").exists())
        self.check("the broken release and then the previous one were started",
                   self.product_starts() >= starts + 2, f"{self.product_starts()} starts, {starts} before")
        self.check("no backup is left beside the install folder",
                   not list(self.install_dir.parent.glob(self.install_dir.name + ".backup-*")))

    def scenario_russian(self):
        """A fresh installation in Russian: the pages' texts differ from the English run's and
        the product is told "ru"."""
        self.language = RUSSIAN
        self.clean_previous_installation()
        self.start_setup()
        self.walk_straight()
        self.wait_state("ready", 30)
        self.keep("ready-to-install")
        titles = self.at.titles
        for name, box in (("language", titles["language"]), ("options", titles["options"]),
                          ("terms", titles["terms"]), ("ready-to-install", self.at.status_line)):
            english = self.page_images.get(("cancel", name))
            self.check(f"{name}: texts differ from the English run's", english is not None
                       and self.pixels_differ(english, self.page_images["russian", name], box))
        self.check("the button is not the English INSTALL",
                   self.button_label() != self.label("INSTALL", ENGLISH))
        self.download_to_complete()
        self.check_installation(newer_version(self.version))
        self.close_at_once()

    def run_more(self):
        self.prepare_environment()
        self.take_service_down()
        self.start_service()
        self.publish_release()
        for name, scenario in (("folder-picker", self.scenario_folder_picker),
                               ("exit-downloading", self.scenario_exit_downloading),
                               ("cancel", self.scenario_cancel), ("up-to-date", self.scenario_up_to_date),
                               ("update", self.scenario_update), ("restore", self.scenario_restore),
                               ("russian", self.scenario_russian)):
            self.scenario = name
            try:
                scenario()
            except (TourError, OSError) as error:
                self.record_failure(error)
                if self.setup and self.setup.poll() is None:
                    self.setup.kill()
                    self.setup.wait()
        self.scenario = ""

    def keys(self, *names):
        for name in names:
            self.xdotool("key", name)
            time.sleep(0.25)

    def run_keyboard(self):
        """The first installation with the keyboard alone."""
        self.prepare_environment()
        self.take_service_down()
        self.clean_previous_installation()
        self.start_service()
        self.publish_release()
        self.start_setup()
        self.park_pointer()  # over the side panel, where it stays: no click, no hover
        self.xdotool("windowfocus", self.window_ids("Ostrel Setup")[0])
        self.check("no focus ring before a key is used",
                   not near(self.pixel(self.capture(), self.at.next_ring), FOCUS_RING, 8))
        self.keys("Tab", "Down")
        wait_for("Down to pick the next language",
                 lambda: near(self.pixel(self.capture(), self.at.accent_bars[1]), ACCENT, 40), 10)
        self.keys("Up", "Tab")
        self.wait_page("language")
        wait_for("the focus ring on NEXT",
                 lambda: near(self.pixel(self.capture(), self.at.next_ring), FOCUS_RING, 8), 10)
        self.screenshot("keyboard-next-focused")
        self.keys("Return")
        self.wait_page("options")
        self.keys("Tab", "Tab", "Tab", "Tab", "Return")  # the two boxes and BACK, to NEXT
        self.wait_page("terms")
        self.keys("Page_Down", "End", "Tab", "space")
        wait_for("the focus ring on the agree box",
                 lambda: near(self.pixel(self.capture(), self.at.agree_ring), FOCUS_RING, 8), 10)
        self.screenshot("keyboard-terms-agreed")
        self.keys("Tab", "Tab", "Return")  # BACK, then NEXT
        self.wait_page("progress")
        self.check("the release is offered", self.settled_state(30) == "ready")
        self.keys("Return")  # INSTALL: the focus waited on the action button
        self.wait_state("complete", 120)
        self.screenshot("keyboard-complete")
        self.check_installation(self.version)
        self.close_at_once()

    def run_scaled(self):
        """The window at the prefix's DPI, clicked where the scaled layout puts its widgets."""
        self.language = RUSSIAN
        self.prepare_environment()
        self.start_setup()
        size = self.window_geometry(self.window_ids("Ostrel Setup")[0])[2:]
        self.check(f"the window is {self.window[0]} x {self.window[1]} at {self.dpi} DPI",
                   size == self.window, f"{size}")
        self.screenshot("language-page")
        self.click(self.at.language_items[RUSSIAN])
        self.park_pointer()
        self.wait_page("language")
        self.screenshot("language-chosen")
        self.click(self.at.next)
        self.wait_page("options")
        before = self.capture()
        self.click(self.at.desktop_box)
        self.park_pointer()
        self.check("the desktop box takes a click at its scaled place",
                   self.pixels_differ(before, self.capture(), self.at.window))
        self.screenshot("options-page")
        self.answer_exit_question("y")
        self.check_setup_ended()

    def run_delta(self):
        """An installation, then an update to a release that keeps its large asset: UPDATE
        downloads the delta alone, and the installation is the new release's, file for file."""
        self.prepare_environment()
        self.take_service_down()
        self.clean_previous_installation()
        self.start_service()
        asset = os.urandom(RELEASE_ASSET_BYTES)
        self.publish_release(asset=asset)
        self.start_setup()
        self.walk_straight()
        self.wait_state("ready", 30)
        self.download_to_complete()
        self.close_at_once()

        version = newer_version(self.version)
        release = self.publish_release(version, {"assets/added.txt": f"new in {version}\n".encode()}, asset)
        log = self.temp / "OstrelInstall_debug.log"
        start = log.stat().st_size
        self.start_setup()
        self.walk_straight()
        self.check("the update is offered", self.settled_state(30) == "ready")
        self.screenshot("update-offered")
        self.click(self.at.primary_right)  # UPDATE
        self.park_pointer()
        self.wait_state("complete", 60)
        self.screenshot("updated-through-delta")
        lines = log.read_bytes()[start:].decode(errors="replace").splitlines()
        delta = self.build / "service-root" / "packages" / f"Ostrel-{version}-from-{self.version}.zip"
        downloaded = [line for line in lines if line.startswith("Download OK, zip size=")]
        self.check("the delta was checked and used", any(line.startswith("Delta checked: ") for line in lines)
                   and not any(" not used: " in line for line in lines),
                   "; ".join(line for line in lines if line.startswith("Delta")))
        self.check("only the delta was downloaded", delta.is_file() and
                   downloaded == [f"Download OK, zip size={delta.stat().st_size}"], f"{downloaded}")
        self.check_installation(version, release)
        self.close_at_once()

    def record_failure(self, error):
        self.check(str(error), False)
        try:
            self.screenshot("at-failure")
        except (subprocess.CalledProcessError, OSError):
            pass

    def run_tour(self):
        self.prepare_environment()
        self.take_service_down()
        self.clean_previous_installation()
        self.start_setup()
        self.exit_question_no_keeps_setup()
        self.drag_window()
        self.walk_to_progress()
        self.install()
        self.launch()
        self.check_outcome()


def run_alone():
    """Runs the calling script again where it can do its work: under Debian's python3 when this one
    lacks psycopg2 (now, not by a restart half-way through a run, when the database is first
    read), and in a network namespace of its own, so that port 443 of the local service belongs
    to this run alone, as under scripts/ctest.sh."""
    release_db.psycopg2()
    if os.environ.get("OSTREL_IN_NETNS") != "1":
        os.execvpe("unshare", ["unshare", "--net", sys.executable, *sys.argv],
                   {**os.environ, "OSTREL_IN_NETNS": "1"})
    subprocess.run(["ip", "link", "set", "lo", "up"], check=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("build", type=pathlib.Path)
    parser.add_argument("--out", type=pathlib.Path)
    parser.add_argument("--language", type=int, default=0, choices=range(5),
                        help="language item of the main tour (0 English .. 4 Russian)")
    parser.add_argument("--version", default="1.0.0")
    parser.add_argument("--scenarios", choices=("main", "more", "keyboard", "scaled", "delta"), default="main",
                        help="main: the first installation's tour; more: cancel, up to date, update, Russian;"
                             " keyboard: the first installation without the mouse;"
                             " scaled: the window at --dpi; delta: an update through a delta")
    parser.add_argument("--dpi", type=int, default=96, help="the prefix's DPI (scaled: its own prefix)")
    parser.add_argument("--prefix", type=pathlib.Path,
                        help="Wine prefix of the tour (default: <build>/wineprefix-tour, apart from the tests')")
    args = parser.parse_args()
    build = args.build.resolve()
    run_alone()

    out = (args.out or build / "tour").resolve()
    shutil.rmtree(out, ignore_errors=True)
    out.mkdir(parents=True)
    default_prefix = "wineprefix-tour" if args.dpi == 96 else f"wineprefix-tour-{args.dpi}"
    prefix = (args.prefix or build / default_prefix).resolve()
    tour = Tour(build, out, args.language, args.version, prefix, args.dpi)
    status = 0
    try:
        {"more": tour.run_more, "keyboard": tour.run_keyboard, "scaled": tour.run_scaled,
         "delta": tour.run_delta}.get(args.scenarios, tour.run_tour)()
    except MissingDependency as missing:
        print(f"tour.py: {missing}", file=sys.stderr)
        status = 2
    except TourError as error:
        tour.record_failure(error)
    finally:
        tour.close()
        tour.write_summary(args.scenarios)
    if status == 0 and not all(passed for _, passed, _ in tour.checks):
        status = 1
    print(f"screenshots, install log and summary: {out}")
    return status


if __name__ == "__main__":
    sys.exit(main())
