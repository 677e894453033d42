#!/usr/bin/env python3
"""The progress window as a user sees it, under Wine on a virtual 1024 x 768 screen.

Each case runs tests/wine/programs/progress_probe.exe with a script of calls and reads back
what the probe saw of the window from outside the window thread: where it is, its styles,
texts, visibility, the progress bar's position and the number of threads of the process. The
first case also takes a screenshot and looks at its pixels.

Self-contained: it makes its own Wine prefix under build/, starts Xvfb on its display when none
runs there, and cleans up only what it started.

    python3 tests/e2e/test_progress.py [--display :16] [--build build] [-k NAME_PART]

Prints "ok <case>" or "FAIL <case>: ..." per case and ends with "progress: N passed, N failed".
"""

import argparse
import os
import queue
import subprocess
import sys
import tempfile
import threading
import time
from pathlib import Path

REPO = Path(__file__).resolve().parents[2]
WINE = "/usr/lib/wine/wine64"
WINESERVER = "/usr/lib/wine/wineserver"
PROBE_TIMEOUT = int(os.environ.get("PROGRESS_PROBE_TIMEOUT", "60"))

WS_VISIBLE = 0x10000000
WS_CLIPSIBLINGS = 0x04000000
WS_BORDER = 0x00800000
WS_DLGFRAME = 0x00400000
WS_THICKFRAME = 0x00040000
WS_CHILD = 0x40000000
WS_EX_DLGMODALFRAME = 0x00000001
WS_EX_TOPMOST = 0x00000008
WS_EX_WINDOWEDGE = 0x00000100
WS_EX_STATICEDGE = 0x00020000
CS_VREDRAW, CS_HREDRAW, CS_NOCLOSE = 0x1, 0x2, 0x200

WIDTH, HEIGHT = 408, 76
SCREEN = (1024, 768)


class Wine:
    """A private Wine prefix on one X display, with a persistent wineserver."""

    def __init__(self, build, display):
        self.build = build
        self.display = display
        self.prefix = build / "e2e-progress" / "prefix"
        self.probe = build / "win64" / "progress_probe.exe"
        self.env = dict(os.environ)
        self.env.update(
            WINEPREFIX=str(self.prefix),
            WINEDEBUG="-all",
            WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d",
            DISPLAY=display,
            LC_ALL="en_US.UTF-8",
        )
        self.started = []  # processes this script started, ended in reverse order
        self.keepalive = None

    def start(self):
        if not self.probe.exists():
            raise RuntimeError(f"{self.probe} is missing: run make win64 first")
        number = self.display.lstrip(":").split(".")[0]
        if not Path(f"/tmp/.X11-unix/X{number}").exists():
            xvfb = subprocess.Popen(
                ["Xvfb", self.display, "-screen", "0", f"{SCREEN[0]}x{SCREEN[1]}x24"],
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            self.started.append(xvfb)
            deadline = time.time() + 10
            while not Path(f"/tmp/.X11-unix/X{number}").exists():
                if time.time() > deadline or xvfb.poll() is not None:
                    raise RuntimeError(f"Xvfb did not start on {self.display}")
                time.sleep(0.05)
        fresh = not self.prefix.exists()
        self.prefix.mkdir(parents=True, exist_ok=True)
        subprocess.run([WINESERVER, "-p"], env=self.env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       start_new_session=True, check=False)
        if fresh:
            for key, name, kind, data in (
                    (r"HKCU\Software\Wine\X11 Driver", "Managed", "REG_SZ", "N"),
                    (r"HKCU\Software\Wine\WineDbg", "ShowCrashDialog", "REG_DWORD", "0")):
                subprocess.run([WINE, "reg", "add", key, "/v", name, "/t", kind, "/d", data, "/f"],
                               env=self.env, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL, timeout=300, check=True)
        # A hidden window of another process keeps Wine's desktop alive between the cases, so
        # that no case pays for starting it again.
        self.keepalive = subprocess.Popen(
            [WINE, str(self.probe), "show", "", "", "settle", "hide", "pause"], env=self.env,
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        read_until_paused(self.keepalive)

    def stop(self):
        if self.keepalive is not None:
            try:
                self.keepalive.communicate("\n", timeout=PROBE_TIMEOUT)
            except subprocess.TimeoutExpired:
                self.keepalive.kill()
        subprocess.run([WINESERVER, "-k"], env=self.env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, check=False)
        for process in reversed(self.started):
            process.terminate()
            process.wait(timeout=10)

    def run_probe(self, steps, at_pause=None):
        """Runs the probe with the steps; at_pause() runs while the probe waits at "pause"."""
        errors = tempfile.TemporaryFile()
        process = subprocess.Popen([WINE, str(self.probe)] + steps, env=self.env,
                                   stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=errors,
                                   text=True, encoding="latin-1", cwd=self.probe.parent)
        lines = []
        try:
            if "pause" in steps:
                lines += read_until_paused(process)
                if at_pause is not None:
                    at_pause()
            out, _ = process.communicate("\n", timeout=PROBE_TIMEOUT)
        except subprocess.TimeoutExpired:
            process.kill()
            out, _ = process.communicate()
            raise RuntimeError(f"probe timed out after {PROBE_TIMEOUT} s; it printed: "
                               + " | ".join(lines + (out or "").splitlines()))
        lines += out.splitlines()
        if process.returncode != 0:
            errors.seek(0)
            said = errors.read().decode("latin-1").strip().splitlines()[-5:]
            raise RuntimeError(f"probe exit code {process.returncode}; it printed: "
                               + " | ".join(lines[-5:] + said))
        return parse(lines)

    def screenshot(self, path):
        path.parent.mkdir(parents=True, exist_ok=True)
        subprocess.run(["import", "-window", "root", "-display", self.display, str(path)],
                       check=True, timeout=60)


def read_until_paused(process):
    """Returns the lines the probe printed before "paused"; kills it when it never pauses."""
    lines = queue.Queue()

    def reader():
        for line in process.stdout:
            line = line.rstrip("\r\n")
            lines.put(line)
            if line == "paused":
                return
        lines.put(None)

    threading.Thread(target=reader, daemon=True).start()
    before = []
    deadline = time.time() + PROBE_TIMEOUT
    while True:
        try:
            line = lines.get(timeout=max(0.0, deadline - time.time()))
        except queue.Empty:
            process.kill()
            raise RuntimeError("probe did not pause: " + " | ".join(before))
        if line is None:
            raise RuntimeError("probe ended before pausing: " + " | ".join(before))
        if line == "paused":
            return before
        before.append(line)


def parse(lines):
    seen = {}
    for line in lines:
        key, sep, value = line.rstrip("\r").partition("=")
        if sep:
            seen[key] = value
    return seen


def pixel(path, x, y):
    """Returns the (r, g, b) of one screenshot pixel, 0-255."""
    out = subprocess.run(["convert", str(path), "-format", f"%[fx:int(255*p{{{x},{y}}}.r)],"
                          f"%[fx:int(255*p{{{x},{y}}}.g)],%[fx:int(255*p{{{x},{y}}}.b)]", "info:"],
                         capture_output=True, text=True, check=True).stdout
    return tuple(int(v) for v in out.split(","))


class Check:
    def __init__(self, seen):
        self.seen = seen
        self.failures = []

    def value(self, key):
        return self.seen.get(key)

    def number(self, key):
        text = self.seen.get(key)
        if text is None:
            return None
        return int(text, 16) if text.startswith("0x") else int(text)

    def equal(self, key, expected):
        actual = self.number(key) if isinstance(expected, int) else self.value(key)
        if actual != expected:
            if key.endswith("style") and isinstance(actual, int):
                actual, expected = hex(actual), hex(expected)
            self.failures.append(f"{key} is {actual!r}, expected {expected!r}")

    def rect(self, key, expected):
        actual = self.value(key)
        text = ",".join(str(v) for v in expected)
        if actual != text:
            self.failures.append(f"{key} is {actual!r}, expected {text!r}")

    def that(self, condition, message):
        if not condition:
            self.failures.append(message)


def expected_origin():
    # Half the free space, rounded down: the window is centred on the primary screen.
    return ((SCREEN[0] - WIDTH) // 2, (SCREEN[1] - HEIGHT) // 2)


def looks_like_the_progress_window(c, name, caption, status, visible=True):
    """What every look at a created window must show."""
    left, top = expected_origin()
    c.equal(f"{name}.windows", 1)
    c.rect(f"{name}.rect", (left, top, WIDTH, HEIGHT))
    c.equal(f"{name}.visible", 1 if visible else 0)
    c.equal(f"{name}.caption", caption)
    c.equal(f"{name}.status.text", status)
    c.equal(f"{name}.other_thread", 1)
    # Made with WS_DLGFRAME alone; Windows gives every overlapped window (one neither popup nor
    # child) WS_CAPTION and WS_CLIPSIBLINGS as well, so the caption shows as a title bar. There
    # is no system menu, hence no close, minimise or maximise button.
    c.equal(f"{name}.style", WS_DLGFRAME | WS_BORDER | WS_CLIPSIBLINGS
            | (WS_VISIBLE if visible else 0))
    # WS_EX_WINDOWEDGE is added by the system to windows with a dialog frame. Topmost can be
    # checked only as this flag: Wine on a bare X server lets a later ordinary window of another
    # program cover the progress window.
    c.equal(f"{name}.exstyle",
            WS_EX_DLGMODALFRAME | WS_EX_TOPMOST | WS_EX_STATICEDGE | WS_EX_WINDOWEDGE)
    c.rect(f"{name}.status.rect", (2, 2, 399, 20))
    c.equal(f"{name}.status.style", WS_CHILD | WS_VISIBLE)
    c.equal(f"{name}.status.id", 0)
    c.rect(f"{name}.bar.rect", (2, 24, 400, 20))
    c.equal(f"{name}.bar.style", WS_CHILD | WS_VISIBLE | WS_THICKFRAME)
    c.equal(f"{name}.bar.id", 0)
    c.equal(f"{name}.bar.text", "")
    # The bar never moves from the control's initial state.
    c.equal(f"{name}.bar.pos", 0)
    c.equal(f"{name}.bar.range", "0,100")


def one_more_thread(c, base, later):
    b, l = c.number(f"{base}.threads"), c.number(f"{later}.threads")
    c.that(b is not None and l == b + 1,
           f"threads went from {b} ({base}) to {l} ({later}); expected exactly one more")


# ---- the cases -------------------------------------------------------------------------------

def test_first_show_returns_at_once_and_the_window_appears_centred_and_topmost(wine, shots):
    shot = shots / "progress-first-show.png"
    if shot.exists():
        shot.unlink()
    seen = wine.run_probe(
        ["hold", "create", "threads", "base", "show", "Installing kvx.cok", "Copying kvx.cok",
         "windows", "at_return", "wait_hold", "release", "settle", "look", "first", "pause"],
        at_pause=lambda: wine.screenshot(shot))
    c = Check(seen)
    c.equal("first.screen", f"{SCREEN[0]},{SCREEN[1]}")
    # The window thread is held before it creates the window: a show that waited for the
    # window would not have returned until the hold timed out.
    c.equal("at_return.windows", 0)
    c.equal("held", 1)
    c.equal("settle", 1)
    looks_like_the_progress_window(c, "first", "Installing kvx.cok", "Copying kvx.cok")
    c.rect("first.rect", (308, 346, WIDTH, HEIGHT))
    one_more_thread(c, "base", "first")
    c.equal("first.class_style", CS_VREDRAW | CS_HREDRAW | CS_NOCLOSE)
    c.equal("first.class_extra", "4,4")
    c.equal("first.class_arrow", 1)
    c.equal("first.class_gray", 1)
    # On the screen: desktop (black on a bare Xvfb) around the window, the window's frame at
    # its corners, and the class's gray background in the strip below the bar.
    c.that(shot.exists(), "no screenshot")
    if shot.exists():
        left, top = expected_origin()
        black = (0, 0, 0)
        c.that(pixel(shot, left - 3, top - 3) == black, "screen above-left of the window not empty")
        c.that(pixel(shot, left + WIDTH + 2, top + HEIGHT + 2) == black,
               "screen below-right of the window not empty")
        c.that(pixel(shot, left, top) != black, "no window frame at the top-left corner")
        c.that(pixel(shot, left + WIDTH - 1, top + HEIGHT - 1) != black,
               "no window frame at the bottom-right corner")
        c.that(pixel(shot, left + WIDTH // 2, top + HEIGHT - 6) == (128, 128, 128),
               "no gray background below the bar")
    return c, f"screenshot {shot}; geometry {seen.get('first.rect')}, client {seen.get('first.client')}"


def test_hide_then_show_with_empty_texts_brings_it_back_empty_at_the_same_place(wine, shots):
    seen = wine.run_probe(
        ["threads", "base", "show", "Installing", "Copying", "settle", "look", "before",
         "hide", "look", "hidden", "show", "", "", "look", "after"])
    c = Check(seen)
    looks_like_the_progress_window(c, "before", "Installing", "Copying")
    looks_like_the_progress_window(c, "hidden", "Installing", "Copying", visible=False)
    looks_like_the_progress_window(c, "after", "", "")
    one_more_thread(c, "base", "after")
    return c, None


def test_hide_before_any_show_starts_nothing_and_a_later_show_makes_an_empty_window(wine, shots):
    seen = wine.run_probe(
        ["threads", "base", "hide", "look", "after_hide", "show", "", "", "settle",
         "look", "shown"])
    c = Check(seen)
    c.equal("after_hide.windows", 0)
    c.equal("after_hide.threads", c.number("base.threads"))
    looks_like_the_progress_window(c, "shown", "", "")
    one_more_thread(c, "base", "shown")
    return c, None


def test_texts_set_before_any_show_start_nothing_and_the_show_texts_win(wine, shots):
    seen = wine.run_probe(
        ["threads", "base", "caption", "Early caption", "text", "Early status",
         "look", "early", "show", "Shown caption", "Shown status", "settle", "look", "made"])
    c = Check(seen)
    c.equal("early.windows", 0)
    c.equal("early.threads", c.number("base.threads"))
    looks_like_the_progress_window(c, "made", "Shown caption", "Shown status")
    return c, None


def test_caption_and_status_change_in_place_once_the_window_is_up(wine, shots):
    seen = wine.run_probe(
        ["show", "Installing", "Copying", "settle", "caption", "Checking",
         "text", "Comparing versions", "look", "changed"])
    c = Check(seen)
    looks_like_the_progress_window(c, "changed", "Checking", "Comparing versions")
    return c, None


# Calls made after the first show but before the window is handed over to the callers, with
# the window thread held at one stage: "create" before it creates the window (no window yet),
# "handover" after it has created the window, before it hands it over (the window exists but
# the callers do not know it yet).
STARTING_CASES = [
    # (what it shows, stage, calls made there, caption, status, visible)
    ("texts set before the window is created are the ones shown", "create",
     ["caption", "Later caption", "text", "Later status"], "Later caption", "Later status", True),
    ("texts set before the handover are the ones shown", "handover",
     ["caption", "Later caption", "text", "Later status"], "Later caption", "Later status", True),
    ("a status line set alone before the window is created is kept", "create",
     ["text", "Only the status"], "First", "Only the status", True),
    ("a status line set alone before the handover is kept", "handover",
     ["text", "Only the status"], "First", "Only the status", True),
    ("a second show before the window is created: one thread, one window, its texts", "create",
     ["show", "Second", "second status"], "Second", "second status", True),
    ("a second show before the handover: one thread, one window, its texts", "handover",
     ["show", "Second", "second status"], "Second", "second status", True),
    ("a hide before the window is created keeps it hidden", "create",
     ["hide"], "First", "first status", False),
    ("a hide before the handover keeps it hidden", "handover",
     ["hide"], "First", "first status", False),
    ("a hide then a show before the handover: shown with the last texts", "handover",
     ["hide", "show", "", "Last"], "", "Last", True),
]


def test_calls_made_while_the_window_is_being_made_are_the_ones_it_ends_up_with(wine, shots):
    c = Check({})
    for what, stage, calls, caption, status, visible in STARTING_CASES:
        steps = ["hold", stage, "threads", "base", "show", "First", "first status", "wait_hold"]
        steps += calls + ["windows", "at_call", "threads", "at_call", "release"]
        steps += ["settle", "look", "made"]
        row = Check(wine.run_probe(steps))
        row.equal("held", 1)
        row.equal("at_call.windows", 0 if stage == "create" else 1)
        one_more_thread(row, "base", "at_call")
        looks_like_the_progress_window(row, "made", caption, status, visible)
        one_more_thread(row, "base", "made")
        c.failures += [f"{what}: {failure}" for failure in row.failures]
    return c, f"{len(STARTING_CASES)} rows"


def test_a_window_class_that_cannot_be_registered_leaves_no_window_and_no_thread(wine, shots):
    # Another "PlainWindow" class of this module makes the registration fail; the window thread
    # then ends silently, and every later call does nothing visible.
    seen = wine.run_probe(
        ["threads", "base", "take_class", "show", "Installing", "Copying", "threads_back", "base",
         "windows", "first", "caption", "Checking", "text", "Comparing", "hide",
         "show", "Again", "again", "threads_back", "base", "windows", "again"])
    c = Check(seen)
    c.equal("first.windows", 0)
    c.equal("again.windows", 0)
    c.equal("base.back", 1)
    return c, None


def test_a_burst_of_shows_across_the_window_creation_gives_one_window_and_the_last_texts(
        wine, shots):
    seen = wine.run_probe(
        ["threads", "base", "burst", "2000", "threads", "after_burst", "settle", "look", "made"])
    c = Check(seen)
    one_more_thread(c, "base", "after_burst")
    looks_like_the_progress_window(c, "made", "Caption 2000", "Status 2000")
    return c, None


CASES = [value for name, value in list(globals().items()) if name.startswith("test_")]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--display", default=os.environ.get("PROGRESS_DISPLAY", ":16"))
    parser.add_argument("--build", default=os.environ.get("BUILD", str(REPO / "build")))
    parser.add_argument("-k", dest="only", default="", help="run only cases whose name has this")
    args = parser.parse_args()
    build = Path(args.build).resolve()
    shots = build / "screenshots"
    wine = Wine(build, args.display)
    passed = failed = 0
    try:
        wine.start()
        for case in CASES:
            name = case.__name__[len("test_"):]
            if args.only not in name:
                continue
            try:
                check, note = case(wine, shots)
                problems = check.failures
            except Exception as error:  # a crashed case is a failed case
                problems, note = [f"{type(error).__name__}: {error}"], None
            if problems:
                failed += 1
                print(f"FAIL {name}:\n  " + "\n  ".join(problems))
            else:
                passed += 1
                print(f"ok {name}" + (f" ({note})" if note else ""))
    finally:
        wine.stop()
    print(f"progress: {passed} passed, {failed} failed")
    return 0 if failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
