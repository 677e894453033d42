#!/usr/bin/env python3
"""Benchmarks, not tests: each figure of the installer under Wine next to a reference measured
in the same run, as a ratio (figure / reference; lower is better) against the aim.

    wine_bench.py [--runs N] [--startup-runs N] [--seal FILE] [--tree-files N] [--smoke]

- a quiet update run ("modest") of the default package against Wine's "cmd /c copy" of the
  same payload into the same folder; both are whole Wine processes started the same way;
- the installer's peak working set (tests/wine/programs/peak_memory.cc) against the package's
  size + 16 MiB;
- the seal check the package makes on itself, timed in a process of the package's kind
  (tests/wine/programs/seal_probe.cc), against "openssl dgst -sha256" of the same file;
- the three rows above for the x64 twin and, where this machine runs 32-bit Windows programs
  (wine32), for the shipped PE32 package;
- FolderSizeKiB over a tree of 20,000 files (folder_size_probe) against "cmd /c dir /s" of it;
- ExtractPayload's write against "cmd /c copy" (bench/wine_write.sh, run on this prefix);
- with --seal, the rows of build/native/seal_bench's output (seal verification against
  "openssl dgst -sha256");
- the start-up table: the quiet run of the package told 6.2 (the prefix's default, Windows 10),
  the same package told 6.1 (a copy under another name with its own
  HKCU\Software\Wine\AppDefaults\<name>.exe "Version" = "win7"), the floor program
  (tests/wine/programs/floor_probe.cc: the package's system libraries, one call into each) and
  an empty program, each with its median and spread, --startup-runs times (default 15).

--smoke (scripts/suites/bench.sh, part of `make test`) measures each figure once, judges no
ratio and prints "ok <figure>" or "FAIL <figure>: <why>" per figure and "bench: N passed,
N failed": a figure that cannot be measured (a program or file missing, a run failing) fails.

Every figure is the median of the runs, with the smallest and largest value as the spread.
The runs of a figure and of its reference take turns, so that load on the machine falls on
both. Uses the Wine harness (tests/e2e/harness.py): prefix under build/wine (reporting the
harness's default, Windows 10), own display, one persistent wineserver.
"""

import argparse
import random
import re
import shutil
import statistics
import subprocess
import sys
import time
from pathlib import Path

REPO = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(REPO / 'tests' / 'e2e'))

import harness  # noqa: E402
import update_support  # noqa: E402

MIB = 1 << 20
TREE = r'C:\bench-tree'
# The name of the package's copy that is told 6.1 (its own AppDefaults key).
TOLD_61_NAME = 'KestraneUpdateTold61.exe'
APP_DEFAULTS = r'HKCU\Software\Wine\AppDefaults'


class Figure:
    """The samples of one measured quantity."""

    def __init__(self, name, unit):
        self.name, self.unit, self.samples = name, unit, []

    def add(self, value):
        self.samples.append(value)

    @property
    def median(self):
        return statistics.median(self.samples)

    def text(self):
        lo, hi = min(self.samples), max(self.samples)
        digits = 0 if self.unit in ('KiB',) else 1
        return (f'{self.median:.{digits}f} {self.unit}',
                f'{lo:.{digits}f}..{hi:.{digits}f}')


ROWS = []
# The start-up table: (build, [Figure]).
STARTUP = []
# What the start-up rows are weighed against: the seal check in a process of each package kind
# (by PE kind) and ExtractPayload's write call alone.
SEAL_IN_PROCESS = {}
WRITE_CALL = []


class BenchError(Exception):
    """A figure that could not be measured."""


def row(figure, reference, aim):
    ROWS.append((figure, reference, figure.median / reference.median, aim))


def seal_rows(path):
    """Reads seal_bench's lines: the best verification engine against openssl's hashing."""
    try:
        text = Path(path).read_text()
    except OSError as e:
        raise BenchError(f'cannot read {path}: {e.strerror}')
    size = re.search(r', ([0-9.]+) MB,', text)
    if size is None:
        raise BenchError(f'no seal figures in {path}')
    megabytes = float(size.group(1))
    found = {}
    for line in text.splitlines():
        m = re.match(r'^  (.+?)\s+[0-9.]+ MB/s\s+\(spread ([0-9.]+) \.\. ([0-9.]+) MB/s; '
                     r'median ([0-9.]+) ms\)', line)
        if m:
            figure = Figure(m.group(1), 'ms')
            # The spread in time: the slowest and fastest runs, from their throughputs.
            figure.samples = [1000 * megabytes / float(m.group(3)), float(m.group(4)),
                              1000 * megabytes / float(m.group(2))]
            found[m.group(1)] = figure
    ours = [f for name, f in found.items() if name.startswith('verify')]
    reference = found.get('openssl dgst -sha256 (hashing)')
    if not ours or reference is None:
        raise BenchError(f'no seal figures in {path}')
    best = min(ours, key=lambda f: f.median)
    best.name = f'seal verification of the package ({megabytes:.1f} MB), {best.name[8:]}'
    reference.name = 'openssl dgst -sha256 of the same file (hashing only)'
    row(best, reference, '<= 1.1')


def timed(env, exe, args, cwd=None, expect=0):
    if isinstance(exe, Path) and not exe.exists():
        raise BenchError(f'{exe} is missing; run make build first')
    r = env.run_console(exe, args, cwd=cwd, timeout=300)
    if r.exit_code != expect:
        raise BenchError(f'{exe} {" ".join(map(str, args))} ended with '
                         f'{r.exit_code}: {r.stdout}{r.stderr}')
    return r


def update_run(env, runs, build):
    """The quiet update run against cmd /c copy of the same payload into the same folder."""
    env.reset()
    folder = update_support.install_sample(env)
    payload = env.win_path(update_support.PAYLOAD)
    target = update_support.HOST_FOLDER + r'\kvx.cok'
    update = Figure(f'quiet update run ("modest") of the {build.pe_kind} package, whole process',
                    'ms')
    copy = Figure('cmd /c copy of the payload into the same folder', 'ms')
    empty = Figure('an empty program (Wine process start)', 'ms')
    for _ in range(runs):
        update.add(1000 * timed(env, build.package, ['modest']).duration)
        if not update_support.payload_installed(folder):
            raise BenchError('the quiet run did not install the payload')
        copy.add(1000 * timed(env, 'cmd', ['/c', 'copy', '/b', '/y', payload, target]).duration)
        empty.add(1000 * timed(env, env.program('version_none'), []).duration)
    row(update, copy, '<= 1.3')
    return empty


def seal_in_process(env, runs, build):
    """The seal check as the package makes it, in a process of the package's kind, against
    openssl's hashing of the same file in the same run."""
    package = build.package
    probe = build.build / 'seal_probe.exe'
    r = timed(env, probe, [env.win_path(package), str(runs)])
    ours = Figure(f'seal verification in a {build.pe_kind} process '
                  f'({package.stat().st_size / 1e6:.1f} MB)', 'ms')
    for line in r.stdout.splitlines():
        m = re.match(r'ms=([0-9.]+) status=0$', line.strip())
        if m:
            ours.add(float(m.group(1)))
    if not ours.samples:
        raise BenchError(f'no verification times from {probe.name}:\n{r.stdout}')
    engine = re.search(r'engine=(\S+)', r.stdout)
    ours.name += f', {engine.group(1) if engine else "engine unknown"}'
    SEAL_IN_PROCESS[build.pe_kind] = ours
    # openssl's hashing alone, as the probe times the check alone: the command on the file less
    # the same command on an empty file.
    reference = Figure('openssl dgst -sha256 of the same file (hashing only)', 'ms')

    def openssl(path):
        t = time.monotonic()
        subprocess.run(['openssl', 'dgst', '-sha256', str(path)], check=True,
                       stdout=subprocess.DEVNULL, timeout=120)
        return time.monotonic() - t

    for _ in range(runs):
        reference.add(1000 * (openssl(package) - openssl('/dev/null')))
    row(ours, reference, '<= 1.3')


def peak_memory(env, runs, build):
    env.reset()
    update_support.install_sample(env)
    package = build.package
    peak = Figure(f'installer peak working set, quiet run of the {build.pe_kind} package', 'KiB')
    floor = Figure('an empty program (Wine\'s own floor)', 'KiB')
    private = Figure('installer peak private bytes, quiet run', 'KiB')
    for _ in range(runs):
        for figure, exe, args in ((peak, package, ['modest']),
                                  (floor, env.program('version_none'), [])):
            out = timed(env, env.program('peak_memory'), [env.win_path(exe)] + args).stdout
            fields = dict(f.split('=') for f in out.split())
            if fields['exit'] != '0':
                raise BenchError(f'{exe.name} ended with {fields["exit"]}')
            figure.add(int(fields['peak_working_set_kib']))
            if figure is peak:
                private.add(int(fields['peak_private_kib']))
    budget = Figure('package size + 16 MiB', 'KiB')
    budget.add((package.stat().st_size + 16 * MIB) / 1024)
    row(peak, budget, '<= 1.0')
    return floor, private


def told_version(env, probe):
    """The "Windows:" line startup_probe prints: the version the start-up step was told."""
    out = timed(env, probe, []).stdout
    line = next((l for l in out.splitlines() if l.startswith('Windows:')), None)
    if line is None:
        raise BenchError(f'{probe.name} printed no "Windows:" line:\n{out}')
    return line.removeprefix('Windows:').strip()


def imported_libraries(exe):
    """The set of libraries a PE file imports, lower-cased, as objdump -p reads its table."""
    r = subprocess.run(['x86_64-w64-mingw32-objdump', '-p', str(exe)], capture_output=True,
                       text=True, timeout=60)
    if r.returncode != 0:
        raise BenchError(f'objdump -p {exe} failed: {r.stderr.strip()}')
    return {m.lower() for m in re.findall(r'^\s*DLL Name: (\S+)', r.stdout, re.M)}


def check_floor(package, floor):
    """Refuses a floor program whose imports differ from the package's: it would no longer
    be the package's floor (tests/wine/programs/floor_probe.cc says how to extend it)."""
    if not floor.exists():
        raise BenchError(f'{floor} is missing; run make build first')
    ours, its = imported_libraries(package), imported_libraries(floor)
    if ours != its:
        raise BenchError(f'{floor.name} imports {sorted(its)}, the package {sorted(ours)}: '
                         f'add the missing libraries to floor_probe.cc')


def startup(env, runs, build):
    """The quiet run told 6.2 (the prefix's default) and told 6.1 (a copy under another name
    with its own AppDefaults version), the floor program and an empty program, taking turns."""
    env.reset()
    folder = update_support.install_sample(env)
    # The copy lives outside the build folder, in a folder of its own; AppDefaults keys go by
    # the program's file name alone.
    copies = env.tmp / 'told-6.1'
    shutil.rmtree(copies, ignore_errors=True)
    copies.mkdir(parents=True)
    env.cleanup_path(copies)
    key = APP_DEFAULTS + '\\' + TOLD_61_NAME
    env.cleanup_key(key)
    env.reg_set(key, 'Version', 'REG_SZ', 'win7')
    told_61 = copies / TOLD_61_NAME
    # The start-up step's own reading, through the probe under each name: the copy must be
    # told something else than the package, or the two rows would measure the same thing.
    probe = build.build / 'startup_probe.exe'
    floor = build.build / 'floor_probe.exe'
    check_floor(build.package, floor)
    for needed in (build.package, probe):
        if not needed.exists():
            raise BenchError(f'{needed} is missing; run make build first')
    shutil.copyfile(build.package, told_61)
    probe_61 = copies / 'probe' / TOLD_61_NAME
    probe_61.parent.mkdir()
    shutil.copyfile(probe, probe_61)
    told = {'6.2': told_version(env, probe), '6.1': told_version(env, probe_61)}
    if told['6.2'] == told['6.1']:
        raise BenchError(f'the copy named {TOLD_61_NAME} is told the same Windows as the '
                         f'package ({told["6.2"]}): its AppDefaults key had no effect')
    rows = [
        (Figure(f'quiet run ("modest"), told 6.2: the prefix\'s Windows 10 ({told["6.2"]})',
                'ms'), build.package, ['modest']),
        (Figure(f'quiet run ("modest"), told 6.1: a copy with AppDefaults "win7" '
                f'({told["6.1"]})', 'ms'), told_61, ['modest']),
        (Figure('floor program: the package\'s system libraries, one call into each', 'ms'),
         floor, []),
        (Figure('an empty program (Wine process start)', 'ms'), env.program('version_none'), []),
    ]
    for _ in range(runs):
        for figure, exe, args in rows:
            figure.add(1000 * timed(env, exe, args).duration)
            if args and not update_support.payload_installed(folder):
                raise BenchError(f'the quiet run of {exe.name} did not install the payload')
    STARTUP.append((build, [figure for figure, _, _ in rows]))


def make_tree(env, files):
    """A tree of the given number of files (100 folders of up to 4 KiB files) in the prefix,
    kept between runs; returns its size in KiB as FolderSizeKiB must report it."""
    root = env.unix_path(TREE)
    stamp = root / f'.complete-{files}'
    if not stamp.exists():
        shutil.rmtree(root, ignore_errors=True)
        rng = random.Random(20000)
        folders = 100
        for i in range(files):
            folder = root / f'd{i % folders:03d}' / f'sub{i % 7}'
            folder.mkdir(parents=True, exist_ok=True)
            (folder / f'f{i:05d}.dat').write_bytes(b'k' * rng.randrange(0, 4096))
        stamp.write_bytes(b'')
    return sum(p.stat().st_size for p in root.rglob('*') if p.is_file()) >> 10


def folder_size(env, runs, files):
    kib = make_tree(env, files)
    ours = Figure(f'FolderSizeKiB of {files:,} files, whole process', 'ms')
    call = Figure(f'FolderSizeKiB of {files:,} files, the call alone', 'ms')
    dir_s = Figure(f'cmd /c dir /s /a of the same tree', 'ms')
    for _ in range(runs):
        r = timed(env, env.program('folder_size_probe'), [TREE])
        fields = dict(f.split('=') for f in r.stdout.split())
        if int(fields['kib']) != kib:
            raise BenchError(f'FolderSizeKiB gave {fields["kib"]}, not {kib}')
        ours.add(1000 * r.duration)
        call.add(float(fields['ms']))
        dir_s.add(1000 * timed(env, 'cmd', ['/c', 'dir', '/s', '/a', TREE, '>', 'NUL']).duration)
    row(ours, dir_s, '<= 1.0')
    return call


def payload_write(env, runs):
    """bench/wine_write.sh on this prefix: ExtractPayload's write against cmd /c copy."""
    process_env = env._env()
    r = subprocess.run(['bash', str(REPO / 'bench' / 'wine_write.sh'), str(runs)],
                       env=process_env, capture_output=True, text=True, timeout=1800)
    if r.returncode != 0:
        raise BenchError(f'bench/wine_write.sh failed:\n{r.stdout}\n{r.stderr}')
    write = Figure('ExtractPayload of the payload, whole process', 'ms')
    inner = Figure('ExtractPayload of the payload, the call alone', 'ms')
    copy = Figure('cmd /c copy of the payload', 'ms')
    for line in r.stdout.splitlines():
        parts = line.split()
        if len(parts) == 8 and parts[0].isdigit():
            write.add(float(parts[1]))
            inner.add(float(parts[2]))
            copy.add(float(parts[3]))
    if not write.samples:
        raise BenchError(f'no rows from bench/wine_write.sh:\n{r.stdout}')
    row(write, copy, '<= 1.3')
    WRITE_CALL.append(inner)
    return inner


# The figures measured for each package kind: (name, function(env, runs, build)).
PER_BUILD = [('quiet update run', update_run), ('peak memory', peak_memory),
             ('seal check in process', seal_in_process),
             ('start-up told 6.2 and 6.1, floor program, empty program', startup)]


def print_tables(runs, startup_runs, skipped, extra):
    print(f'\nmedian of {runs} runs (spread: smallest..largest); ratio = figure / reference, '
          f'lower is better')
    header = ('figure', 'median', 'spread', 'reference', 'median', 'spread', 'ratio', 'aim')
    lines = [header]
    for figure, reference, ratio, aim in ROWS:
        lines.append((figure.name, *figure.text(), reference.name, *reference.text(),
                      f'{ratio:.2f}', aim))
    print_columns(lines)
    for build, figures in STARTUP:
        print(f'\nstart-up of the {build.pe_kind} package ({build.process}): median of '
              f'{startup_runs} runs taking turns, one persistent wineserver (spread: '
              f'smallest..largest)')
        print_columns([('program', 'median', 'spread')] +
                      [(figure.name, *figure.text()) for figure in figures])
        print_startup_judgement(build, figures)
    if skipped:
        print(f'\n{skipped}')
    print('\nfor reading the rows above:')
    for figure in extra:
        median, spread = figure.text()
        print(f'  {figure.name}: {median} ({spread})')


def print_startup_judgement(build, figures):
    """Whether the run told 6.2 costs what the run told 6.1 does, and how it compares with the
    floor program plus the two pieces of real work a quiet run does: its seal check and the
    payload write call."""
    told_62, told_61, floor = figures[0], figures[1], figures[2]
    low, high = min(told_61.samples), max(told_61.samples)
    inside = 'within' if low <= told_62.median <= high else 'outside'
    print(f'  told 6.2 median {told_62.median:.1f} ms lies {inside} the spread of told 6.1 '
          f'({low:.1f}..{high:.1f} ms)')
    seal = SEAL_IN_PROCESS.get(build.pe_kind)
    if seal is None or not WRITE_CALL:
        print('  floor + seal check + write call: not measured in this run')
        return
    budget = floor.median + seal.median + WRITE_CALL[0].median
    print(f'  floor {floor.median:.1f} + seal check {seal.median:.1f} + write call '
          f'{WRITE_CALL[0].median:.1f} = {budget:.1f} ms; told 6.2 / that = '
          f'{told_62.median / budget:.2f} (aim <= 1.25)')


def print_columns(lines):
    widths = [max(len(line[i]) for line in lines) for i in range(len(lines[0]))]
    for line in lines:
        print('  '.join(cell.ljust(width) for cell, width in zip(line, widths)).rstrip())


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--runs', type=int, default=7)
    parser.add_argument('--startup-runs', type=int, default=15)
    parser.add_argument('--seal', help="seal_bench's output")
    parser.add_argument('--tree-files', type=int, default=20000)
    parser.add_argument('--smoke', action='store_true',
                        help='each figure once, no ratio judged; ends with "bench: N passed, '
                             'N failed"')
    options = parser.parse_args()
    runs = 1 if options.smoke else max(3, options.runs)
    startup_runs = 1 if options.smoke else max(3, options.startup_runs)
    passed, failed = [], []

    def measure(name, action):
        """Measures one figure; in a smoke run a failure is counted and the next figure
        follows, otherwise it ends the benchmark."""
        t = time.monotonic()
        try:
            result = action()
        except Exception as e:  # noqa: BLE001 - a smoke run counts any failure and goes on
            if not options.smoke:
                if isinstance(e, (BenchError, harness.HarnessError)):
                    raise SystemExit(f'wine_bench: {name}: {e}')
                raise
            failed.append(name)
            print(f'FAIL {name}: {type(e).__name__}: {e}', flush=True)
            return None
        passed.append(name)
        if options.smoke:
            print(f'ok {name} ({time.monotonic() - t:.1f} s)', flush=True)
        return result

    extra = []
    skipped = None
    skipped_figures = 0
    if options.seal:
        measure('seal verification (native, seal_bench)', lambda: seal_rows(options.seal))
    try:
        with harness.WineEnv() as env:
            env.run_console(env.program('version_none'), [])  # the prefix's services come up
            builds = [harness.TARGETS['x64']]
            pe32, why = env.pe32_support()
            if pe32:
                builds.append(harness.TARGETS['x86'])
            else:
                skipped = f'the rows of the PE32 package are left out: {why}'
                skipped_figures = len(PER_BUILD)
            for build in builds:
                for name, action in PER_BUILD:
                    runs_of = startup_runs if action is startup else runs
                    found = measure(f'{name}, {build.pe_kind}',
                                    lambda: action(env, runs_of, build))
                    extra.extend(found if isinstance(found, tuple) else [found])
            extra.append(measure('FolderSizeKiB', lambda: folder_size(env, runs,
                                                                      options.tree_files)))
            extra.append(measure('ExtractPayload write (bench/wine_write.sh)',
                                 lambda: payload_write(env, runs)))
            env.reset()
    except harness.HarnessError as e:
        if not options.smoke:
            raise SystemExit(f'wine_bench: the Wine environment: {e}')
        failed.append('the Wine environment')
        print(f'FAIL the Wine environment: {e}')
    extra = [figure for figure in extra if figure is not None]

    if options.smoke:
        if skipped:
            print(skipped)
        print(f'bench: {len(passed)} passed, {len(failed)} failed, {skipped_figures} skipped')
        return 1 if failed else 0
    print_tables(runs, startup_runs, skipped, extra)
    return 0


if __name__ == '__main__':
    sys.exit(main())
