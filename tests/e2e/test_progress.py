"""The progress window as a user sees it, under Wine on the harness's 1024 x 768 screen.

Each test runs tests/wine/programs/progress_probe.exe with a script of calls and reads back
what the probe saw of the window from outside the window thread: where it is, its styles,
texts, visibility, the progress bar's position and the number of threads of the process. The
first test also saves the screen as build/screenshots/progress-first-show.png and looks at its
pixels.
"""

import subprocess
import tempfile
import threading
import time
from pathlib import Path

import harness

PROBE = 'progress_probe'
PROBE_TIMEOUT_S = 60
SHOT = harness.BUILD / 'screenshots' / 'progress-first-show.png'

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


def run_probe(env, steps):
    """Runs the probe with the steps; returns what it printed as {key: value}."""
    r = env.run_console(env.program(PROBE), steps, timeout=PROBE_TIMEOUT_S)
    assert r.exit_code == 0, (f'probe exit code {r.exit_code} (timed out: {r.timed_out}); '
                              f'it printed: {r.stdout[-600:]!r} {r.stderr[-300:]!r}')
    return parse(r.stdout.splitlines())


def run_probe_and_screenshot(env, steps, shot):
    """Runs the probe with the steps, saves the screen once it has run them all, then lets it
    end; returns what it printed."""
    with tempfile.TemporaryDirectory(dir=env.tmp) as folder:
        ready, done = Path(folder) / 'ready', Path(folder) / 'done'
        answer = {}

        def probe():
            try:
                answer['seen'] = run_probe(
                    env, steps + ['ready', env.win_path(ready), 'await', env.win_path(done)])
            except Exception as error:  # handed to the test's own thread
                answer['error'] = error

        thread = threading.Thread(target=probe)
        thread.start()
        deadline = time.monotonic() + PROBE_TIMEOUT_S
        while not ready.exists() and thread.is_alive() and time.monotonic() < deadline:
            time.sleep(0.05)
        if ready.exists():
            env.screenshot(shot)
        done.touch()
        thread.join(PROBE_TIMEOUT_S + 10)
    if 'error' in answer:
        raise answer['error']
    assert 'seen' in answer, 'the probe did not end'
    return answer['seen']


def parse(lines):
    seen = {}
    for line in lines:
        key, sep, value = line.rstrip('\r').partition('=')
        if sep:
            seen[key] = value
    return seen


def pixel(path, x, y):
    """Returns the (r, g, b) of one screenshot pixel, 0-255."""
    out = subprocess.run(['convert', str(path), '-format', f'%[fx:int(255*p{{{x},{y}}}.r)],'
                          f'%[fx:int(255*p{{{x},{y}}}.g)],%[fx:int(255*p{{{x},{y}}}.b)]', 'info:'],
                         capture_output=True, text=True, check=True).stdout
    return tuple(int(v) for v in out.split(','))


class Check:
    """Collects every mismatch of one probe run, so that a failure shows all of them."""

    def __init__(self, seen):
        self.seen = seen
        self.failures = []

    def value(self, key):
        return self.seen.get(key)

    def number(self, key):
        text = self.seen.get(key)
        if text is None:
            return None
        return int(text, 16) if text.startswith('0x') else int(text)

    def equal(self, key, expected):
        actual = self.number(key) if isinstance(expected, int) else self.value(key)
        if actual != expected:
            if key.endswith('style') and isinstance(actual, int):
                actual, expected = hex(actual), hex(expected)
            self.failures.append(f'{key} is {actual!r}, expected {expected!r}')

    def rect(self, key, expected):
        actual = self.value(key)
        text = ','.join(str(v) for v in expected)
        if actual != text:
            self.failures.append(f'{key} is {actual!r}, expected {text!r}')

    def that(self, condition, message):
        if not condition:
            self.failures.append(message)

    def done(self):
        assert not self.failures, '\n  ' + '\n  '.join(self.failures)


def expected_origin():
    # Half the free space, rounded down: the window is centred on the primary screen.
    return ((SCREEN[0] - WIDTH) // 2, (SCREEN[1] - HEIGHT) // 2)


def looks_like_the_progress_window(c, name, caption, status, visible=True):
    """What every look at a created window must show."""
    left, top = expected_origin()
    c.equal(f'{name}.windows', 1)
    c.rect(f'{name}.rect', (left, top, WIDTH, HEIGHT))
    c.equal(f'{name}.visible', 1 if visible else 0)
    c.equal(f'{name}.caption', caption)
    c.equal(f'{name}.status.text', status)
    c.equal(f'{name}.other_thread', 1)
    # Made with WS_DLGFRAME alone; Windows gives every overlapped window (one neither popup nor
    # child) WS_CAPTION and WS_CLIPSIBLINGS as well, so the caption shows as a title bar. There
    # is no system menu, hence no close, minimise or maximise button.
    c.equal(f'{name}.style', WS_DLGFRAME | WS_BORDER | WS_CLIPSIBLINGS
            | (WS_VISIBLE if visible else 0))
    # WS_EX_WINDOWEDGE is added by the system to windows with a dialog frame. Topmost can be
    # checked only as this flag: Wine on a bare X server lets a later ordinary window of another
    # program cover the progress window.
    c.equal(f'{name}.exstyle',
            WS_EX_DLGMODALFRAME | WS_EX_TOPMOST | WS_EX_STATICEDGE | WS_EX_WINDOWEDGE)
    c.rect(f'{name}.status.rect', (2, 2, 399, 20))
    c.equal(f'{name}.status.style', WS_CHILD | WS_VISIBLE)
    c.equal(f'{name}.status.id', 0)
    c.rect(f'{name}.bar.rect', (2, 24, 400, 20))
    c.equal(f'{name}.bar.style', WS_CHILD | WS_VISIBLE | WS_THICKFRAME)
    c.equal(f'{name}.bar.id', 0)
    c.equal(f'{name}.bar.text', '')
    # The bar never moves from the control's initial state.
    c.equal(f'{name}.bar.pos', 0)
    c.equal(f'{name}.bar.range', '0,100')


def one_more_thread(c, base, later):
    b, l = c.number(f'{base}.threads'), c.number(f'{later}.threads')
    c.that(b is not None and l == b + 1,
           f'threads went from {b} ({base}) to {l} ({later}); expected exactly one more')


# ---- the cases -------------------------------------------------------------------------------

def test_first_show_returns_at_once_and_the_window_appears_centred_and_topmost(env):
    SHOT.unlink(missing_ok=True)
    seen = run_probe_and_screenshot(env, [
        'hold', 'create', 'threads', 'base', 'show', 'Installing kvx.cok', 'Copying kvx.cok',
        'windows', 'at_return', 'wait_hold', 'release', 'settle', 'look', 'first'], SHOT)
    c = Check(seen)
    c.equal('first.screen', f'{SCREEN[0]},{SCREEN[1]}')
    # The window thread is held before it creates the window: a show that waited for the
    # window would not have returned until the hold timed out.
    c.equal('at_return.windows', 0)
    c.equal('held', 1)
    c.equal('settle', 1)
    looks_like_the_progress_window(c, 'first', 'Installing kvx.cok', 'Copying kvx.cok')
    c.rect('first.rect', (308, 346, WIDTH, HEIGHT))
    one_more_thread(c, 'base', 'first')
    c.equal('first.class_style', CS_VREDRAW | CS_HREDRAW | CS_NOCLOSE)
    c.equal('first.class_extra', '4,4')
    c.equal('first.class_arrow', 1)
    c.equal('first.class_gray', 1)
    # On the screen: the bare desktop (black) around the window, the window's frame at its
    # corners, and the class's gray background in the strip below the bar.
    c.that(SHOT.exists(), 'no screenshot')
    if SHOT.exists():
        left, top = expected_origin()
        black = (0, 0, 0)
        c.that(pixel(SHOT, left - 3, top - 3) == black, 'screen above-left of the window not empty')
        c.that(pixel(SHOT, left + WIDTH + 2, top + HEIGHT + 2) == black,
               'screen below-right of the window not empty')
        c.that(pixel(SHOT, left, top) != black, 'no window frame at the top-left corner')
        c.that(pixel(SHOT, left + WIDTH - 1, top + HEIGHT - 1) != black,
               'no window frame at the bottom-right corner')
        c.that(pixel(SHOT, left + WIDTH // 2, top + HEIGHT - 6) == (128, 128, 128),
               'no gray background below the bar')
    print(f'  screenshot {SHOT}; window {seen.get("first.rect")}, '
          f'client {seen.get("first.client")}, first show took {seen.get("show1.micros")} us')
    c.done()


def test_hide_then_show_with_empty_texts_brings_it_back_empty_at_the_same_place(env):
    seen = run_probe(env, [
        'threads', 'base', 'show', 'Installing', 'Copying', 'settle', 'look', 'before',
        'hide', 'look', 'hidden', 'show', '', '', 'look', 'after'])
    c = Check(seen)
    looks_like_the_progress_window(c, 'before', 'Installing', 'Copying')
    looks_like_the_progress_window(c, 'hidden', 'Installing', 'Copying', visible=False)
    looks_like_the_progress_window(c, 'after', '', '')
    one_more_thread(c, 'base', 'after')
    c.done()


def test_hide_before_any_show_starts_nothing_and_a_later_show_makes_an_empty_window(env):
    seen = run_probe(env, [
        'threads', 'base', 'hide', 'look', 'after_hide', 'show', '', '', 'settle',
        'look', 'shown'])
    c = Check(seen)
    c.equal('after_hide.windows', 0)
    c.equal('after_hide.threads', c.number('base.threads'))
    looks_like_the_progress_window(c, 'shown', '', '')
    one_more_thread(c, 'base', 'shown')
    c.done()


def test_texts_set_before_any_show_start_nothing_and_the_show_texts_win(env):
    seen = run_probe(env, [
        'threads', 'base', 'caption', 'Early caption', 'text', 'Early status',
        'look', 'early', 'show', 'Shown caption', 'Shown status', 'settle', 'look', 'made'])
    c = Check(seen)
    c.equal('early.windows', 0)
    c.equal('early.threads', c.number('base.threads'))
    looks_like_the_progress_window(c, 'made', 'Shown caption', 'Shown status')
    c.done()


def test_caption_and_status_change_in_place_once_the_window_is_up(env):
    seen = run_probe(env, [
        'show', 'Installing', 'Copying', 'settle', 'caption', 'Checking',
        'text', 'Comparing versions', 'look', 'changed'])
    c = Check(seen)
    looks_like_the_progress_window(c, 'changed', 'Checking', 'Comparing versions')
    c.done()


# Calls made after the first show but before the window is handed over to the callers, with
# the window thread held at one stage: 'create' before it creates the window (no window yet),
# 'handover' after it has created the window, before it hands it over (the window exists but
# the callers do not know it yet).
STARTING_CASES = [
    # (what it shows, stage, calls made there, caption, status, visible)
    ('texts set before the window is created are the ones shown', 'create',
     ['caption', 'Later caption', 'text', 'Later status'], 'Later caption', 'Later status', True),
    ('texts set before the handover are the ones shown', 'handover',
     ['caption', 'Later caption', 'text', 'Later status'], 'Later caption', 'Later status', True),
    ('a status line set alone before the window is created is kept', 'create',
     ['text', 'Only the status'], 'First', 'Only the status', True),
    ('a status line set alone before the handover is kept', 'handover',
     ['text', 'Only the status'], 'First', 'Only the status', True),
    ('a second show before the window is created: one thread, one window, its texts', 'create',
     ['show', 'Second', 'second status'], 'Second', 'second status', True),
    ('a second show before the handover: one thread, one window, its texts', 'handover',
     ['show', 'Second', 'second status'], 'Second', 'second status', True),
    ('a hide before the window is created keeps it hidden', 'create',
     ['hide'], 'First', 'first status', False),
    ('a hide before the handover keeps it hidden', 'handover',
     ['hide'], 'First', 'first status', False),
    ('a hide then a show before the handover: shown with the last texts', 'handover',
     ['hide', 'show', '', 'Last'], '', 'Last', True),
]


def test_calls_made_while_the_window_is_being_made_are_the_ones_it_ends_up_with(env):
    c = Check({})
    for what, stage, calls, caption, status, visible in STARTING_CASES:
        steps = ['hold', stage, 'threads', 'base', 'show', 'First', 'first status', 'wait_hold']
        steps += calls + ['windows', 'at_call', 'threads', 'at_call', 'release']
        steps += ['settle', 'look', 'made']
        row = Check(run_probe(env, steps))
        row.equal('held', 1)
        row.equal('at_call.windows', 0 if stage == 'create' else 1)
        one_more_thread(row, 'base', 'at_call')
        looks_like_the_progress_window(row, 'made', caption, status, visible)
        one_more_thread(row, 'base', 'made')
        c.failures += [f'{what}: {failure}' for failure in row.failures]
    c.done()


def test_a_window_class_that_cannot_be_registered_leaves_no_window_and_no_thread(env):
    # Another 'PlainWindow' class of this module makes the registration fail; the window thread
    # then ends silently, and every later call does nothing visible.
    seen = run_probe(env, [
        'threads', 'base', 'take_class', 'show', 'Installing', 'Copying', 'threads_back', 'base',
        'windows', 'first', 'caption', 'Checking', 'text', 'Comparing', 'hide',
        'show', 'Again', 'again', 'threads_back', 'base', 'windows', 'again'])
    c = Check(seen)
    c.equal('first.windows', 0)
    c.equal('again.windows', 0)
    c.equal('base.back', 1)
    c.done()


def test_a_burst_of_shows_across_the_window_creation_gives_one_window_and_the_last_texts(env):
    seen = run_probe(env, [
        'threads', 'base', 'burst', '2000', 'threads', 'after_burst', 'settle', 'look', 'made'])
    c = Check(seen)
    one_more_thread(c, 'base', 'after_burst')
    looks_like_the_progress_window(c, 'made', 'Caption 2000', 'Status 2000')
    c.done()


