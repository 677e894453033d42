#!/usr/bin/env python3
"""Reliability figures of the update package under Wine: runs ended by TerminateProcess at
random moments, copies run at once, faults from outside, and long fuzzing; one table at the
end, also written to build/reliability/report.md.

    reliability.py [--kills N] [--guarded-kills N] [--control-kills N] [--rounds N]
                   [--fuzz-seconds N] [--seed N] [--smoke] [--only PART,...]

Parts: kills (the package in quiet mode against a sample installation), guarded (a guarded
package killed around the older-version question and the replace), control (the kill test
against a test build that writes the target in place: it must find torn targets), together
(2 to 4 copies at once), faults (full disk, read-only folder, a target that is or becomes a
folder, the size key locked, the target held), fuzz (every libFuzzer target for
--fuzz-seconds, new coverage merged into tests/fuzz/corpus), rebuild (the publisher's package
built from a second clone in another folder, compiled without the compiler cache, must be the
same bytes as the one built here: no path of the build reaches the package).

The package under test is the shipped PE32 where this machine runs 32-bit Windows programs,
the x64 twin otherwise; which one ran and why is printed first. Every phase is told by what
the test itself sees: tests/wine/programs/kill_watch.cc starts the package, watches the folder
and the registry from outside and ends the run at the chosen moment by its own clock.

--smoke is the subset `make test` runs (its suite script prints "reliability: N passed,
N failed, N skipped"); each figure is then one test, passed when nothing failed and no data
was lost (the control passes when it finds a torn target).
"""

import argparse
import hashlib
import importlib
import json
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
REPO = HERE.parents[1]
sys.path.insert(0, str(REPO / 'tests' / 'e2e'))

import harness  # noqa: E402

REPORT = harness.BUILD / 'reliability' / 'report.md'
KILL_WATCH = harness.WIN64 / 'kill_watch.exe'
SIZE_KEY = r'Software\Microsoft\Windows\CurrentVersion\Uninstall\Kestrane'
TARGET = 'kvx.cok'
TEMP = '~kvx.cok'
HOST_LOG = 'standin.log'
OLD_SIZE = 1234  # "EstimatedSize" before each run, a value no measurement gives here
NEWER_VERSION = 368  # what a guarded run finds installed, so that it asks
JITTER_US = 15000  # spread of a kill aimed right after a change
ANSWER_AFTER_MS = 150  # how long each question of a guarded run stays up
PAGE = 4096
KILL_WATCH_START_FAILED = 3
START_ATTEMPTS = 3
MAX_HARNESS_ERRORS = 5
IDOK, IDYES = 1, 6

# The phases a kill can land in, told from the folder and registry the test sees after it.
PHASES = ('start-up and checks', 'write', 'flush and compare', 'question up',
          'answered, before the replace', 'flush and replace', 'write in place', 'size refresh',
          'host start', 'end of the run', 'ended before the kill')


class Figure:
    """One row of the table."""

    def __init__(self, name, unit='runs'):
        self.name = name
        self.unit = unit
        self.tried = 0
        self.failed = 0
        self.lost = 0
        self.seconds = 0.0
        self.notes = []
        self.expect_loss = False  # the control: data loss is what it must find
        self.skipped = None
        self.outcome = ''

    @property
    def passed(self):
        if self.skipped:
            return False
        if self.expect_loss:
            return self.lost > 0 and self.failed == 0
        return self.failed == 0 and self.lost == 0 and self.tried > 0


# ---- one run of the package, watched from outside ----

class Watched:
    """What kill_watch printed about one start of the package (or of several copies)."""

    def __init__(self, console):
        self.code = console.exit_code
        self.events = [json.loads(l) for l in console.stdout.splitlines() if l.startswith('{')]
        self.seen = {e['what']: e['t_us'] for e in self.events if e['event'] == 'seen'}
        self.boxes = [e for e in self.events if e['event'] == 'box']
        self.exits = {e['copy']: e for e in self.events if e['event'] == 'exit'}
        self.kill = next((e for e in self.events if e['event'] == 'kill'), None)
        self.state = next((e for e in self.events if e['event'] == 'state'), None)
        if self.code != 0 or self.state is None:
            raise harness.HarnessError(f'kill_watch failed ({self.code}): {console.stdout} '
                                       f'{console.stderr}')

    def exit_code(self, copy=0):
        return self.exits[copy]['exit_code']

    def box_texts(self):
        return [bytes.fromhex(b['text_hex']).decode('cp1252', 'replace') for b in self.boxes]

    def box_captions(self):
        return [bytes.fromhex(b['caption_hex']).decode('cp1252', 'replace') for b in self.boxes]


class Bench:
    """The Wine environment and the payload; runs packages through kill_watch."""

    def __init__(self, env, package, payload):
        self.env = env
        self.package = package
        self.payload = payload
        self.payload_bytes = payload.read_bytes()
        self.start_retries = 0

    def watch(self, package, folder_win, args=('modest',), kill_at_us=None, kill_after=None,
              copies=1, answer='ok', answer_after_ms=50, turn_into_folder=False, timeout=180):
        words = ['--folder', folder_win, '--file', TARGET, '--size-key', SIZE_KEY,
                 '--payload-size', str(len(self.payload_bytes)), '--copies', str(copies),
                 '--answer', answer, '--answer-after-ms', str(answer_after_ms),
                 '--timeout-ms', str(int(timeout * 1000))]
        if kill_at_us is not None:
            words += ['--kill-at-us', str(int(kill_at_us))]
        if kill_after is not None:
            words += ['--kill-after', kill_after]
        if turn_into_folder:
            words.append('--turn-into-folder')
        words += ['--', self.env.win_path(package)] + list(args)
        for attempt in range(START_ATTEMPTS):
            console = self.env.run_console(KILL_WATCH, words, timeout=timeout + 30)
            # Under load Wine now and then refuses to create a process (error 1359), or ends
            # kill_watch before it printed anything; nothing ran, so the run is started again
            # and the retry counted.
            nothing_ran = console.exit_code == KILL_WATCH_START_FAILED or (
                console.exit_code != 0 and not console.stdout.strip())
            if not nothing_ran or attempt + 1 == START_ATTEMPTS:
                return Watched(console)
            self.start_retries += 1
            print(f'  (nothing ran: exit {console.exit_code} {console.stderr.strip()}; started '
                  f'again)', flush=True)

    def target_kind(self, folder, old_bytes):
        """'old', 'new', 'missing', 'folder' or 'torn', from the target's whole bytes."""
        path = Path(folder) / TARGET
        if path.is_dir():
            return 'folder'
        try:
            data = path.read_bytes()
        except FileNotFoundError:
            return 'missing'
        if data == old_bytes:
            return 'old'
        return 'new' if data == self.payload_bytes else 'torn'

    def size_kind(self, new_size):
        value = self.env.reg_get(harness.UNINSTALL_KEY, 'EstimatedSize', with_type=True)
        if value == ('REG_DWORD', OLD_SIZE):
            return 'old'
        return 'new' if value == ('REG_DWORD', new_size) else f'wrong {value}'


def digest(path):
    h = hashlib.sha256()
    with open(path, 'rb') as f:
        for block in iter(lambda: f.read(1 << 20), b''):
            h.update(block)
    return h.hexdigest()


def snapshot(folder, leave_out):
    """Name -> content digest (or 'folder') of everything in the folder but leave_out."""
    found = {}
    for p in sorted(Path(folder).rglob('*')):
        name = str(p.relative_to(folder))
        if name.split('/')[0] in leave_out:
            continue
        found[name] = 'folder' if p.is_dir() else digest(p)
    return found


class Sample:
    """A sample installation that each run starts from again: the stand-in host, its
    registration, kvx.cok of an older (or, for guarded runs, newer) version and an
    "EstimatedSize" that no measurement gives."""

    def __init__(self, bench, support, folder_win=r'C:\Games\Kestrane', old_bytes=None,
                 registration='plain'):
        self.bench = bench
        self.env = bench.env
        self.folder_win = folder_win
        self.old_bytes = old_bytes if old_bytes is not None else support.cok_bytes(
            support.OLD_COK_VERSION)
        self.folder = support.install_sample(self.env, folder=folder_win,
                                             registration=registration, old_cok=False)
        self.baseline = snapshot(self.folder, (TARGET, TEMP, HOST_LOG))
        others = sum(p.stat().st_size for p in self.folder.rglob('*')
                     if p.is_file() and p.name not in (TARGET, TEMP, HOST_LOG))
        # What the package must record once the payload is in place: the folder's files in
        # KiB, rounded down, measured before the host (and its log) starts.
        self.new_size = (others + len(bench.payload_bytes)) >> 10
        # ... and when the old file stayed (a guarded run answered no).
        self.kept_size = (others + len(self.old_bytes)) >> 10
        self.restore()

    def restore(self):
        self.env.stop_hosts()
        for name in (TARGET, TEMP, HOST_LOG):
            path = self.folder / name
            if path.is_dir():
                shutil.rmtree(path)
            else:
                path.unlink(missing_ok=True)
        (self.folder / TARGET).write_bytes(self.old_bytes)
        self.env.reg_set(harness.UNINSTALL_KEY, 'EstimatedSize', 'REG_DWORD', OLD_SIZE)

    def others_changed(self, host_may_log):
        """Names of what changed in the folder besides the target, the temporary file and
        (after a host start) the host's own log."""
        leave_out = (TARGET, TEMP) + ((HOST_LOG,) if host_may_log else ())
        now = snapshot(self.folder, leave_out)
        base = {k: v for k, v in self.baseline.items() if k not in leave_out}
        return sorted(set(now) ^ set(base) | {k for k in now if k in base and now[k] != base[k]})

    def leftover(self):
        return (self.folder / TEMP).exists()


# ---- killed runs ----

def phase_of(watched, target, size, runapp, payload_size):
    """The phase a kill landed in, from what the test saw after it and the kill's moment."""
    if not watched.kill['alive']:
        return 'ended before the kill'
    if size == 'new':
        return 'host start' if runapp else 'end of the run'
    if target == 'new':
        return 'size refresh'
    if target != 'old':
        return 'write in place'
    t_kill = watched.kill['t_us']
    if 'box_answered' in watched.seen and watched.seen['box_answered'] <= t_kill:
        return 'answered, before the replace'
    if 'box' in watched.seen and watched.seen['box'] <= t_kill:
        return 'question up'
    temp = watched.state['temp_size']
    if temp >= payload_size:
        return 'flush and compare' if 'box' in watched.seen else 'flush and replace'
    return 'write' if temp >= 0 else 'start-up and checks'



def calibrate(bench, sample, package, args, answer='ok', runs=2):
    """The median moment (µs after the start) of each change in unkilled runs."""
    timelines = []
    for _ in range(runs):
        sample.restore()
        w = bench.watch(package, sample.folder_win, args, answer=answer,
                        answer_after_ms=ANSWER_AFTER_MS)
        timeline = dict(w.seen)
        timeline['exit'] = w.exits[0]['t_us']
        timelines.append(timeline)
    sample.restore()
    keys = set.union(*[set(t) for t in timelines])
    return {k: statistics.median(t[k] for t in timelines if k in t) for k in keys}


def kill_plan(rng, index, timeline, guarded, in_place=False):
    """(sighting to count from or None for the start, µs after it) of kill number index. The
    kills take turns: anywhere in the run, in the start-up, and a random moment after each
    change the watcher saw in the unkilled run, so that short phases (the flush, the replace)
    are met as well as long ones, whatever the machine's load makes of the run's length."""
    def span(first, second, fallback):
        if first in timeline and second in timeline:
            return max(1000.0, timeline[second] - timeline[first])
        return fallback
    if in_place:
        # The control: every kill in the time after the target first changes.
        return 'target_changed', rng.uniform(0, span('target_changed', 'size_changed', 50000.0))
    anywhere = (None, timeline['exit'] * 1.05)
    after = [('temp', span('temp', 'temp_full', 100000.0)), ('temp_full', JITTER_US),
             ('target_changed', span('target_changed', 'size_changed', 5000.0))]
    if guarded:
        plans = [('box', ANSWER_AFTER_MS * 1000.0), ('box_answered', JITTER_US), anywhere] + after
    else:
        plans = [anywhere] + after
    plans += [(None, timeline.get('temp', timeline['exit'] / 2)),
              ('size_changed', span('size_changed', 'exit', 5000.0))]
    # A change the unkilled run never showed (the in-place writer has no temporary file)
    # cannot anchor a kill.
    plans = [p for p in plans if p[0] is None or p[0] in timeline]
    anchor, width = plans[index % len(plans)]
    return anchor, rng.uniform(0, width)


def killed_runs(bench, support, figure, package, count, rng, guarded=False, in_place=False):
    """Kills `count` runs of package and checks each as the issue asks; returns the phase
    histogram {phase: [kill ms...]} and the calibration timelines."""
    env = bench.env
    if guarded:
        old = support.cok_bytes(NEWER_VERSION)
        kinds = [(('modest',), 'yes'), (('modest', 'runapp'), 'yes'), (('modest',), 'no')]
    else:
        old = None
        kinds = [(('modest',), 'ok'), (('modest', 'runapp'), 'ok')]
    sample = Sample(bench, support, old_bytes=old)
    timelines = {kind: calibrate(bench, sample, package, kind[0], kind[1]) for kind in kinds}
    histogram = {}
    tally = {'torn targets': 0, 'sizes wrong': 0, 'folders changed': 0, 'error boxes': 0,
             'runs failed afterwards': 0, 'runs the harness could not make': 0}
    kills = 0
    i = -1
    # Runs that end before their moment come are checked too but are no kill: the loop goes
    # on until `count` kills landed (bounded at three tries a kill).
    while kills < count and i + 1 < 3 * count:
        i += 1
        args, answer = rng.choice(kinds)
        runapp = 'runapp' in args
        sample.restore()
        anchor, at = kill_plan(rng, i, timelines[(args, answer)], guarded, in_place)
        try:
            w = bench.watch(package, sample.folder_win, args, kill_at_us=at, kill_after=anchor,
                            answer=answer, answer_after_ms=ANSWER_AFTER_MS)
        except harness.HarnessError as e:
            # The harness could not run this one: no figure of the product, so it is only
            # counted; more than a few stop the part.
            tally['runs the harness could not make'] += 1
            print(f'  kill {i + 1}: harness: {e}', flush=True)
            if tally['runs the harness could not make'] > MAX_HARNESS_ERRORS:
                raise
            continue
        env.stop_hosts()
        target = bench.target_kind(sample.folder, sample.old_bytes)
        # A refreshed size measures the folder with the file it holds now.
        size = bench.size_kind(sample.kept_size if target == 'old' else sample.new_size)
        changed = sample.others_changed(host_may_log=runapp)
        phase = phase_of(w, target, size, runapp, len(bench.payload_bytes))
        histogram.setdefault(phase, []).append(w.kill['t_us'] / 1000)
        kills += w.kill['alive']
        figure.tried += 1
        problems = []
        if target not in ('old', 'new'):
            tally['torn targets'] += 1
            problems.append(f'target {target}')
        if size not in ('old', 'new'):
            tally['sizes wrong'] += 1
            problems.append(f'EstimatedSize {size}')
        if changed:
            tally['folders changed'] += 1
            problems.append(f'changed in the folder: {changed}')
        if problems:
            figure.lost += 1
        # Only a question may come up in a killed run (kill_watch's OK answers an error box).
        errors = [t for b, t in zip(w.boxes, w.box_texts()) if b['answer'] == IDOK]
        if errors:
            tally['error boxes'] += 1
            problems.append(f'error boxes {errors}')
        # Then a normal quiet run must succeed and leave nothing behind. A host the killed
        # run started has written its log meanwhile, which is no part of the installation.
        (sample.folder / HOST_LOG).unlink(missing_ok=True)
        try:
            after = bench.watch(package, sample.folder_win, ('modest',), answer='yes')
        except harness.HarnessError as e:
            tally['runs the harness could not make'] += 1
            print(f'  kill {i + 1}: {"; ".join(problems) or "as it should be"}; the run '
                  f'afterwards: harness: {e}', flush=True)
            if tally['runs the harness could not make'] > MAX_HARNESS_ERRORS:
                raise
            continue
        env.stop_hosts()
        # A guarded run over the newer file asks again; any other box is a failure.
        questions_only = all(guarded and b['answer'] == IDYES for b in after.boxes)
        recovered = (after.exit_code() == 0 and questions_only and
                     bench.target_kind(sample.folder, sample.old_bytes) == 'new' and
                     not sample.leftover() and bench.size_kind(sample.new_size) == 'new')
        if not recovered:
            tally['runs failed afterwards'] += 1
            problems.append(f'the run afterwards: exit {after.exit_code()}, boxes '
                            f'{after.box_texts()}, target '
                            f'{bench.target_kind(sample.folder, sample.old_bytes)}, leftover '
                            f'{sample.leftover()}, size {bench.size_kind(sample.new_size)}')
        if errors or not recovered:
            figure.failed += 1
        if problems:
            print(f'  kill {i + 1} at {w.kill["t_us"] / 1000:.1f} ms ({" ".join(args)}, '
                  f'{phase}): ' + '; '.join(problems), flush=True)
    sample.restore()
    figure.outcome = f'kills {kills}; ' + \
        ', '.join(f'{k} {v}' for k, v in tally.items()) + '; phases: ' + \
        ', '.join(f'{p} {len(histogram[p])}' for p in PHASES if p in histogram)
    return histogram, timelines


def print_histogram(figure, histogram, timelines):
    lines = []
    for kind, timeline in timelines.items():
        args, answer = kind
        moments = ', '.join(f'{k} {v / 1000:.0f}' for k, v in sorted(timeline.items(),
                                                                        key=lambda kv: kv[1]))
        lines.append(f'    unkilled run "{" ".join(args)}"{", answer " + answer if answer != "ok" else ""}'
                     f' (ms after the start): {moments}')
    for phase in PHASES:
        if phase in histogram:
            ms = histogram[phase]
            lines.append(f'    {phase:<30} {len(ms):4d}  killed at {min(ms):.0f}-{max(ms):.0f} ms')
    print('\n'.join(lines))
    figure.notes.append('\n'.join(lines))


# ---- runs at once ----

def runs_together(bench, support, figure, package, rounds):
    sample = Sample(bench, support)
    failures = {}
    summaries = []
    for r in range(rounds):
        copies = 2 + r % 3
        sample.restore()
        w = bench.watch(package, sample.folder_win, ('modest',), copies=copies)
        bench.env.stop_hosts()
        problems = []
        codes = [w.exit_code(c) for c in range(copies)]
        if any(codes):
            problems.append(f'exit codes {codes}')
        if w.boxes:
            problems.append('boxes ' + '; '.join(sorted(set(w.box_texts()))))
        target = bench.target_kind(sample.folder, sample.old_bytes)
        if target != 'new':
            problems.append(f'target {target}')
            if target != 'old':
                figure.lost += 1
        if sample.leftover():
            problems.append('temporary file left')
        size = bench.size_kind(sample.new_size)
        if size != 'new':
            problems.append(f'EstimatedSize {size}')
        figure.tried += 1
        if problems:
            figure.failed += 1
            for p in problems:
                key = p.split(' [')[0] if p.startswith('exit') else p
                failures[key] = failures.get(key, 0) + 1
            line = f'  round {r + 1} ({copies} copies): ' + '; '.join(problems)
            summaries.append(line)
            print(line, flush=True)
    sample.restore()
    figure.outcome = '; '.join(f'{p}: {n} rounds' for p, n in sorted(failures.items())) or \
        'every run exited 0, payload in place, no leftover, size right'
    figure.notes.append('\n'.join(w for w in summaries))


# ---- faults from outside ----

class SmallDrive:
    """A tmpfs mounted under build/reliability and mapped as a Wine drive, so that a run
    meets a real full disk or read-only folder. Needs root."""

    def __init__(self, env, letter='r'):
        self.env = env
        self.mount = harness.BUILD / 'reliability' / 'disk'
        self.link = env.prefix / 'dosdevices' / f'{letter}:'
        self.letter = letter.upper()
        self.mounted = False

    def __enter__(self):
        self.mount.mkdir(parents=True, exist_ok=True)
        r = subprocess.run(['mount', '-t', 'tmpfs', '-o', 'size=64m', 'tmpfs', str(self.mount)],
                           capture_output=True, text=True)
        if r.returncode != 0:
            raise PermissionError(r.stderr.strip() or 'mount failed')
        self.mounted = True
        if self.link.is_symlink() or self.link.exists():
            self.link.unlink()
        self.link.symlink_to(self.mount)
        self.env._drives = None  # the harness caches the drive map
        return self

    def used(self):
        s = os.statvfs(self.mount)
        return (s.f_blocks - s.f_bfree) * s.f_frsize

    def remount(self, options):
        subprocess.run(['mount', '-o', f'remount,{options}', str(self.mount)], check=True,
                       capture_output=True)

    def __exit__(self, *exc):
        self.env.stop_hosts()
        self.link.unlink(missing_ok=True)
        self.env._drives = None
        if self.mounted:
            subprocess.run(['umount', str(self.mount)], capture_output=True)


def fault_rows(bench, support, package, smoke):
    """Each fault met for real, one figure a fault: exit code, box, what the target holds."""
    env = bench.env
    rows = []
    payload_pages = -(-len(bench.payload_bytes) // PAGE)
    clock = [time.monotonic()]

    def record(situation, w, sample, want_exit, want_target, want_box):
        figure = Figure(situation)
        target = bench.target_kind(sample.folder, sample.old_bytes)
        leftover = sample.leftover()
        box = '; '.join(f'{c}: {t}'.replace('\r\n', ' ')
                        for c, t in zip(w.box_captions(), w.box_texts()))
        ok = (w.exit_code() == want_exit and target == want_target and not leftover and
              (want_box in box if want_box else not box))
        figure.tried = 1
        figure.failed = 0 if ok else 1
        figure.lost = 1 if target in ('torn', 'missing') else 0
        figure.outcome = (f'exit {w.exit_code()}, box {box or "none"}, target {target}, '
                          f'leftover {"yes" if leftover else "none"}')
        figure.seconds = time.monotonic() - clock[0]
        clock[0] = time.monotonic()
        rows.append(figure)
        print(f'  {situation}: {figure.outcome}{"" if ok else "  <- not as expected"}',
              flush=True)

    cant = "Can't install file "
    try:
        with SmallDrive(env) as drive:
            folder_win = rf'{drive.letter}:\Kestrane'
            sample = Sample(bench, support, folder_win=folder_win)
            base_used = drive.used()
            spare = [('1 page short of the payload', payload_pages - 1, 8),
                     ('exactly the payload', payload_pages, 0),
                     ('1 page more than the payload', payload_pages + 1, 0)]
            if not smoke:
                spare = [('nothing', 0, 8), ('half the payload', payload_pages // 2, 8),
                         ('64 pages short of the payload', payload_pages - 64, 8)] + spare + \
                        [('twice the payload', 2 * payload_pages, 0)]
            for name, pages, want_exit in spare:
                sample.restore()
                drive.remount(f'size={base_used + pages * PAGE}')
                w = bench.watch(package, folder_win, ('modest',))
                record(f'full disk: {name} free ({pages} pages)', w, sample, want_exit,
                       'new' if want_exit == 0 else 'old',
                       cant + folder_win + '\\' + TARGET if want_exit else None)
            drive.remount('size=64m')
            sample.restore()
            drive.remount('ro')
            w = bench.watch(package, folder_win, ('modest',))
            record('read-only target folder', w, sample, 8, 'old',
                   cant + folder_win + '\\' + TARGET)
            drive.remount('rw')
            env.reset()
    except PermissionError as e:
        skipped = Figure('full disk, read-only folder')
        skipped.skipped = f'no small disk can be mounted here ({e})'
        print(f'  {skipped.name}: skipped: {skipped.skipped}')
        rows.append(skipped)
        clock[0] = time.monotonic()

    sample = Sample(bench, support)
    sample.restore()
    (sample.folder / TARGET).unlink()
    (sample.folder / TARGET).mkdir()
    w = bench.watch(package, sample.folder_win, ('modest',))
    record('target is a folder', w, sample, 8, 'folder',
           cant + sample.folder_win + '\\' + TARGET)

    # The watcher must see the temporary file while it is written; under load it may look
    # too late, and the run then says nothing about this fault.
    situation = 'target turns into a folder while the temporary file is written'
    for _ in range(START_ATTEMPTS):
        sample.restore()
        w = bench.watch(package, sample.folder_win, ('modest',), turn_into_folder=True)
        if 'turned_into_folder' in w.seen:
            record(situation, w, sample, 8, 'folder', cant + sample.folder_win + '\\' + TARGET)
            break
    else:
        skipped = Figure(situation)
        skipped.skipped = (f'the watcher saw no temporary file in {START_ATTEMPTS} runs (the '
                           f'machine too busy)')
        print(f'  {situation}: skipped: {skipped.skipped}')
        rows.append(skipped)
        clock[0] = time.monotonic()

    env.reset()
    sample = Sample(bench, support, registration='plain')
    sample.restore()
    env.install_host(sample.folder_win, config={'hold_file': TARGET, 'quit': 'ignore',
                                                'lifetime_ms': 60000})
    (sample.folder / TARGET).write_bytes(sample.old_bytes)
    env.start_host(sample.folder_win)
    if env.wait_host_event(sample.folder, 'file_held', timeout=10) is None:
        raise harness.HarnessError('the stand-in did not hold kvx.cok')
    w = bench.watch(package, sample.folder_win, ('modest',))
    env.stop_hosts()
    record('target held open by the running host', w, sample, 8, 'old',
           cant + sample.folder_win + '\\' + TARGET)

    env.reset()
    # No registration, so that the size goes to Uninstall\Kestrane, which exists (it holds
    # the old size) and may only be read: found by the default folder under Program Files.
    program_files = env.reg_get(r'HKLM\Software\Microsoft\Windows\CurrentVersion',
                                'ProgramFilesDir')
    sample = Sample(bench, support, folder_win=program_files.rstrip('\\') + '\\Kestrane',
                    registration=None)
    sample.restore()
    support.set_key_dacl(env, harness.UNINSTALL_KEY, support.READ_ONLY_DACL)
    try:
        w = bench.watch(package, sample.folder_win, ('modest',))
    finally:
        support.set_key_dacl(env, harness.UNINSTALL_KEY, support.FULL_ACCESS_DACL)
    record('"EstimatedSize" key may only be read', w, sample, 1, 'new', 'Application Error')
    if bench.size_kind(sample.new_size) != 'old':
        rows[-1].failed = 1
        print('  the locked key changed')
    env.reset()
    return rows


# ---- fuzzing ----

def fuzz_all(seconds, figures):
    """Runs scripts/fuzz.sh with merging on; one figure a target, timed by its own line."""
    process = subprocess.Popen(['bash', str(REPO / 'scripts' / 'fuzz.sh'), str(seconds)],
                               env=dict(os.environ, FUZZ_KEEP='1'), stdout=subprocess.PIPE,
                               stderr=subprocess.STDOUT, text=True, cwd=REPO)
    t = time.monotonic()
    found = 0
    for line in process.stdout:
        print(line.rstrip(), flush=True)
        words = line.split()
        if len(words) < 3 or words[0] not in ('ok', 'FAILED'):
            continue
        found += 1
        f = Figure(f'fuzz {words[1].rstrip(":")}', 'executions')
        f.seconds = time.monotonic() - t
        t = time.monotonic()
        if words[0] == 'ok':
            f.tried = int(words[2]) if words[2].isdigit() else 0
            f.outcome = line.split(', ', 1)[1].strip()
        else:
            f.lost = 1  # libFuzzer stops at its first finding
            f.outcome = f'finding: {line.split(": ", 1)[1].strip()}'
        figures.append(f)
    process.wait()
    if not found:
        f = Figure('fuzz', 'executions')
        f.failed = 1
        f.outcome = f'scripts/fuzz.sh printed no target (exit {process.returncode})'
        figures.append(f)


# ---- a package rebuilt elsewhere ----

def rebuild_elsewhere(figure):
    """Builds one publisher's package here and one from a second clone of this tree (its
    working files as they are) in a folder whose path differs in name and length, both with
    the time of the clone's commit, and compares them. The clone compiles everything itself: a compiler
    cache shared across folders could hand it objects made here and hide a path they carry."""
    figure.tried = 1
    work = Path(tempfile.mkdtemp(prefix='kestrane-rebuild-'))
    try:
        clone = work / 'second' / 'clone-of-the-tree' / 'kestrane'
        head = subprocess.run(['git', 'rev-parse', 'HEAD'], cwd=REPO, check=True,
                              capture_output=True, text=True).stdout.strip()
        subprocess.run(['git', 'clone', '--quiet', '--shared', '--no-checkout', str(REPO),
                        str(clone)], check=True)
        subprocess.run(['git', 'checkout', '--quiet', head], cwd=clone, check=True)
        stamp = subprocess.run(['git', 'log', '-1', '--format=%ct'], cwd=clone, check=True,
                               capture_output=True, text=True).stdout.strip()
        # The working files over the clone: uncommitted changes belong to what is compared.
        files = subprocess.run(['git', 'ls-files', '-z', '--cached', '--others',
                                '--exclude-standard'], cwd=REPO, check=True,
                               capture_output=True).stdout.decode().split('\0')
        for name in filter(None, files):
            if (REPO / name).is_file():
                (clone / name).parent.mkdir(parents=True, exist_ok=True)
                shutil.copy2(REPO / name, clone / name)
        # The publisher's tools and assets (make package makes them first) are inputs.
        for name in ('native/kestrane-seal', 'native/kestrane-assets', 'assets/kestrane.ico',
                     'assets/kvx.cok'):
            (clone / 'build' / name).parent.mkdir(parents=True, exist_ok=True)
            shutil.copy2(harness.BUILD / name, clone / 'build' / name)
        payload = work / 'rebuilt.dat'
        payload.write_bytes(bytes(random.Random(7).randrange(256) for _ in range(100000)))
        made = []
        for tree, cache in ((REPO, {}), (clone, {'CCACHE_DISABLE': '1'})):
            out = work / f'out-{len(made)}'
            out.mkdir()
            # The clone's commit, whatever is committed here meanwhile.
            env = dict(os.environ, SOURCE_DATE_EPOCH=stamp, **cache)
            done = subprocess.run(['bash', str(tree / 'scripts' / 'package.sh'), str(payload),
                                   '31', 'x86', str(out / 'rebuilt.exe'), '0'], env=env,
                                  cwd=work, capture_output=True, text=True)
            figure.notes.append(f'{tree}: exit {done.returncode}\n{done.stdout}{done.stderr}')
            made.append(out / 'rebuilt.exe')
            if done.returncode != 0:
                figure.failed = 1
                figure.outcome = f'the package build in {tree} failed'
                return
        here, there = (p.read_bytes() for p in made)
        differing = [i for i in range(min(len(here), len(there))) if here[i] != there[i]]
        if len(here) != len(there) or differing:
            figure.failed = 1
            figure.outcome = (f'{len(differing)} bytes differ (sizes {len(here)} and '
                              f'{len(there)}), first at {differing[0] if differing else "-"}')
            figure.notes.append(f'differing offsets: {differing[:40]}')
        else:
            figure.outcome = f'the same {len(here):,} bytes from {clone}'
    finally:
        shutil.rmtree(work, ignore_errors=True)


# ---- the table ----

def table(figures):
    head = ['Figure', 'Tried', 'Failed', 'Lost data', 'Time', 'Outcome']
    rows = []
    for f in figures:
        if f.skipped:
            rows.append([f.name, '-', '-', '-', '-', f'skipped: {f.skipped}'])
            continue
        lost = f'{f.lost}' + (' (must be > 0)' if f.expect_loss else '')
        unit = f.unit[:-1] if f.tried == 1 else f.unit
        rows.append([f.name, f'{f.tried:,} {unit}', str(f.failed), lost, f'{f.seconds:.0f} s',
                     f.outcome])
    lines = ['| ' + ' | '.join(head) + ' |', '|' + '---|' * len(head)]
    lines += ['| ' + ' | '.join(c.replace('|', '/') for c in r) + ' |' for r in rows]
    return '\n'.join(lines)


def write_report(figures, header):
    REPORT.parent.mkdir(parents=True, exist_ok=True)
    parts = ['# Reliability figures', '', header, '', table(figures), '']
    for f in figures:
        if f.notes:
            parts += [f'## {f.name}', '', '```', '\n'.join(f.notes), '```', '']
    REPORT.write_text('\n'.join(parts))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('--kills', type=int, default=200)
    parser.add_argument('--guarded-kills', type=int, default=None)
    parser.add_argument('--control-kills', type=int, default=None)
    parser.add_argument('--rounds', type=int, default=None,
                        help='rounds of copies at once (default 50, 5 with --smoke)')
    parser.add_argument('--fuzz-seconds', type=int, default=600)
    parser.add_argument('--seed', type=int, default=None)
    parser.add_argument('--smoke', action='store_true')
    parser.add_argument('--only', default='kills,guarded,control,together,faults,fuzz,rebuild')
    args = parser.parse_args()
    parts = set(args.only.split(','))
    if args.smoke:
        parts -= {'fuzz', 'rebuild'}
    rounds = args.rounds if args.rounds is not None else (5 if args.smoke else 50)
    guarded_kills = args.guarded_kills if args.guarded_kills is not None else \
        max(4, args.kills // 4)
    control_kills = args.control_kills if args.control_kills is not None else \
        max(12, args.kills // 10)
    seed = args.seed if args.seed is not None else random.SystemRandom().randrange(1 << 31)
    rng = random.Random(seed)
    figures = []
    start = time.monotonic()

    env = harness.WineEnv()
    env.start()
    try:
        pe32, facts = env.pe32_support()
        arch = 'x86' if pe32 else 'x64'
        target = harness.use_target(arch)
        why = (f'this machine runs PE32 programs ({", ".join(f"{k}: {v}" for k, v in facts.items())})'
               if pe32 else f'the shipped PE32 cannot run here ({facts}), so its x64 twin runs')
        header = (f'Package under test: {harness.rel(target.package)} ({target.pe_kind}): {why}. '
                  f'Seed {seed}; {os.cpu_count()} processors, load '
                  f'{" ".join(f"{x:.1f}" for x in os.getloadavg())} at the start.')
        print(header, flush=True)
        support = importlib.import_module('update_support')
        bench = Bench(env, target.package, support.PAYLOAD)

        def part(name, figure, action):
            if name not in parts:
                return
            print(f'== {figure.name}', flush=True)
            t = time.monotonic()
            env.reset()
            rows = None
            try:
                rows = action(figure)
            except harness.HarnessError as e:
                figure.failed += 1
                figure.notes.append(f'harness: {e}')
                print(f'  harness: {e}')
            figure.seconds = time.monotonic() - t
            # A part of several figures (the faults) hands them back instead of its own.
            if rows is None:
                figures.append(figure)
                print(f'  {figure.name}: {figure.tried} tried, {figure.failed} failed, '
                      f'{figure.lost} lost data, {figure.seconds:.0f} s', flush=True)
            else:
                figures.extend(rows)

        def plain(figure):
            print_histogram(figure, *killed_runs(bench, support, figure, target.package,
                                                 args.kills, rng))

        def guarded(figure):
            guarded_module = importlib.import_module('test_guarded')
            exe = guarded_module.guarded_package(
                TARGET, bench.payload_bytes, 367,
                packages=harness.BUILD / 'reliability' / 'packages' / arch)
            print_histogram(figure, *killed_runs(bench, support, figure, exe, guarded_kills,
                                                 rng, guarded=True))

        def control(figure):
            figure.expect_loss = True
            exe = target.build / 'KestraneUpdateInPlace.exe'
            if not exe.exists():
                raise harness.HarnessError(f'{exe} is missing: run make reliability')
            print_histogram(figure, *killed_runs(bench, support, figure, exe, control_kills,
                                                 rng, in_place=True))

        def together(figure):
            runs_together(bench, support, figure, target.package, rounds)

        def faults(figure):
            return fault_rows(bench, support, target.package, args.smoke)

        part('kills', Figure('killed runs, quiet mode'), plain)
        part('guarded', Figure('killed runs, guarded package'), guarded)
        part('control', Figure('killed runs, test build writing in place (control)'), control)
        part('together', Figure('2 to 4 copies at once', 'rounds'), together)
        part('faults', Figure('faults from outside'), faults)
        env.reset()
        if bench.start_retries:
            note = (f'Wine refused to start the package {bench.start_retries} times; those'
                    f' runs were started again.')
            print(note)
            header += ' ' + note
    finally:
        env.stop()

    if 'fuzz' in parts:
        print(f'== fuzzing, {args.fuzz_seconds} s each', flush=True)
        fuzz_all(args.fuzz_seconds, figures)

    if 'rebuild' in parts:
        figure = Figure('package rebuilt from a second clone', 'packages')
        print(f'== {figure.name}', flush=True)
        t = time.monotonic()
        rebuild_elsewhere(figure)
        figure.seconds = time.monotonic() - t
        print(f'  {figure.name}: {figure.outcome}', flush=True)
        figures.append(figure)

    print(f'\n{table(figures)}\n\nwhole run: {time.monotonic() - start:.0f} s; '
          f'report: {harness.rel(REPORT)}')
    write_report(figures, header)
    if args.smoke:
        passed = sum(f.passed for f in figures)
        skipped = sum(1 for f in figures if f.skipped)
        print(f'reliability: {passed} passed, {len(figures) - passed - skipped} failed, '
              f'{skipped} skipped')
    return 0 if all(f.passed for f in figures if not f.skipped) else 1


if __name__ == '__main__':
    sys.exit(main())
