#!/usr/bin/env python3
"""Runs the Windows-side tests under Wine with one shared WineEnv: windows_tests.exe
(GoogleTest) of each Windows build, then every test_*(env) function of tests/e2e/test_*.py
against the build under test.

    run.py [-k SUBSTRING]... [--arch auto|x86|x64] [--smoke] [--no-gtest] [--list] [-v]

--arch auto (the default) puts the shipped PE32 package (build/win32) under test where this
machine runs 32-bit Windows programs, with the x64 twin's smoke tests beside it; where it
cannot, the x64 twin takes the whole suite and the PE32 runs are counted as skipped, with the
reason. Prints "ok <arch> <name>" or "FAIL <arch> <name>: <why>" per test, names the package,
its PE kind and the Windows version the prefix reports (win10 by default) for each group, and ends with "wine: N passed, N failed, N skipped"; the exit
status is 1 when anything failed.
"""

import argparse
import importlib.util
import inspect
import re
import signal
import sys
import time
import traceback
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))

import harness  # noqa: E402

GTEST_TIMEOUT_S = 900
GTEST_BOX_GRACE_S = 20
WIN64_GTEST = harness.WIN64 / 'windows_tests.exe'


def discover(filters, smoke_only=False):
    """Returns (name, function) for every test function matching all filters, in file order,
    imported afresh for the current target (harness.use_target), so that module-level paths
    such as update_support.PACKAGE name the target's build."""
    for name, module in list(sys.modules.items()):
        location = getattr(module, '__file__', None) or ''
        if Path(location).parent == HERE and name not in ('harness', '__main__'):
            del sys.modules[name]
    tests = []
    for path in sorted(HERE.glob('test_*.py')):
        module_spec = importlib.util.spec_from_file_location(path.stem, path)
        module = importlib.util.module_from_spec(module_spec)
        try:
            module_spec.loader.exec_module(module)
        except Exception:
            tests.append((f'{path.stem}.<import>', _import_failure(traceback.format_exc())))
            continue
        functions = [(name, fn) for name, fn in vars(module).items()
                     if name.startswith('test_') and inspect.isfunction(fn)
                     and fn.__module__ == module.__name__]
        functions.sort(key=lambda item: item[1].__code__.co_firstlineno)
        for name, fn in functions:
            full = f'{path.stem}.{name}'
            if all(f in full for f in filters) and (not smoke_only or getattr(fn, 'smoke', False)):
                tests.append((full, fn))
    return tests


def _import_failure(trace):
    def fail(env):
        raise AssertionError('cannot import:\n' + trace)
    return fail


def _where(error):
    """'file:line: source' of the innermost test-file frame of an assertion."""
    frames = [f for f in traceback.extract_tb(error.__traceback__)
              if Path(f.filename).parent in (HERE, HERE / 'winenv')
              and Path(f.filename).name != 'run.py']
    if not frames:
        return ''
    f = frames[-1]
    return f'{Path(f.filename).name}:{f.lineno}: {f.line}: '


def gtest_counts(output, exit_code):
    """Reads GoogleTest's summary: returns (passed, failed, skipped, problem). A run that ended
    badly without reporting a failure (a crash, a hang: exit_code None) counts as one failure."""
    passed = re.search(r'^\[  PASSED  \] (\d+) tests?\.', output, re.M)
    failed = re.search(r'^\[  FAILED  \] (\d+) tests?, listed below', output, re.M)
    skipped = re.search(r'^\[  SKIPPED \] (\d+) tests?, listed below', output, re.M)
    passed = int(passed.group(1)) if passed else 0
    failed = int(failed.group(1)) if failed else 0
    skipped = int(skipped.group(1)) if skipped else 0
    problem = None
    if exit_code != 0 and failed == 0:
        failed = 1
        problem = ('timed out' if exit_code is None else f'exit code {exit_code}') + \
            ' without a failure in its summary'
    return passed, failed, skipped, problem


def pe_kind(path):
    """'PE32' or 'PE32+' as the file's optional header says, or what is wrong with it."""
    try:
        with open(path, 'rb') as f:
            head = f.read(4096)
    except OSError as e:
        return f'unreadable ({e.strerror})'
    if head[:2] != b'MZ' or len(head) < 0x40:
        return 'no PE file'
    offset = int.from_bytes(head[0x3C:0x40], 'little')
    if offset + 26 > len(head) or head[offset:offset + 4] != b'PE\0\0':
        return 'no PE file'
    return {0x10B: 'PE32', 0x20B: 'PE32+'}.get(
        int.from_bytes(head[offset + 24:offset + 26], 'little'), 'unknown PE kind')


class Counts:
    def __init__(self):
        self.passed = self.failed = self.skipped = 0

    def add(self, passed=0, failed=0, skipped=0):
        self.passed += passed
        self.failed += failed
        self.skipped += skipped


def describe(target):
    return (f'{harness.rel(target.package)} ({pe_kind(target.package)}, run as '
            f'{target.process})')


def windows_of(env):
    """The Windows the prefix reports now, for a group's log line: 'win10: Windows 10 ...'."""
    version = env.windows_version()
    return f'{version}: {harness.VERSION_NAMES.get(version, "unknown")}'


def run_gtest(env, target, counts, verbose):
    """Runs the target's windows_tests.exe. A crash or hang counts as a failure."""
    exe = target.build / 'windows_tests.exe'
    print(f'== windows_tests: {harness.rel(exe)} ({pe_kind(exe)}, {target.process}); prefix '
          f'reports {windows_of(env)}')
    if not exe.exists():
        print(f'FAIL windows_tests.exe: {exe} is not built')
        counts.add(failed=1)
        return
    t = time.monotonic()
    # Under the robot, so that a message box nothing answers is closed and reported instead
    # of hanging the run; the tests answer their own boxes, so the robot waits its turn.
    r = env.run(exe, ['--gtest_color=no'], timeout=GTEST_TIMEOUT_S, output=True,
                grace=GTEST_BOX_GRACE_S)
    log = harness.BUILD / 'test-logs' / f'windows_tests-{target.arch}.log'
    log.parent.mkdir(parents=True, exist_ok=True)
    log.write_text(r.output or '')
    passed, failed, skipped, problem = gtest_counts(r.output or '',
                                                    None if r.timed_out else r.exit_code)
    if problem:
        print(f'FAIL windows_tests.exe: {problem} (see {log})')
    for box in r.unexpected:
        failed += 1
        print(f'FAIL windows_tests.exe left a message box open: {box!r}')
    for line in (r.output or '').splitlines():
        if line.startswith('[  FAILED  ]') or re.match(r'\[  SKIPPED \] \S+ \(', line) or \
                (verbose and 'Failure' in line):
            print(line)
    print(f'windows_tests ({target.arch}): {passed} passed, {failed} failed, {skipped} skipped '
          f'({time.monotonic() - t:.1f} s)')
    counts.add(passed, failed, skipped)


def skip_gtest(env, target, why, counts):
    """Counts the tests of a windows_tests.exe that cannot run here as skipped: as many as the
    x64 build lists, from the same sources."""
    listing = env.run_console(WIN64_GTEST, ['--gtest_list_tests'], timeout=120)
    number = sum(1 for line in listing.stdout.splitlines() if line.startswith('  '))
    print(f'== windows_tests: {harness.rel(target.build / "windows_tests.exe")}: '
          f'{number} tests skipped: {why}')
    counts.add(skipped=max(number, 1))


def run_tests(env, target, tests, counts, verbose):
    env.reset()
    print(f'== end-to-end tests ({target.arch}): {describe(target)}: {len(tests)} tests; prefix '
          f'reports {windows_of(env)} unless a test sets another')
    for name, fn in tests:
        t = time.monotonic()
        try:
            env.reset()
            fn(env)
        except AssertionError as e:
            counts.add(failed=1)
            print(f'FAIL {target.arch} {name}: {_where(e)}{e}')
            if verbose:
                traceback.print_exc()
            continue
        except Exception:
            counts.add(failed=1)
            print(f'FAIL {target.arch} {name}: error\n{traceback.format_exc()}')
            continue
        counts.add(passed=1)
        print(f'ok {target.arch} {name} ({time.monotonic() - t:.2f} s)')


def plan(arch, smoke, pe32):
    """The groups to run: (kind, target arch, smoke only), kind 'gtest' or 'e2e', and the
    groups that cannot run for want of PE32 support. 'auto' puts the shipped PE32 package
    under test where the machine runs it, the x64 twin's own tests and a smoke run of its
    package beside it; elsewhere the x64 twin takes the whole suite."""
    if arch == 'auto':
        if pe32:
            return [('gtest', 'x64', False), ('gtest', 'x86', False), ('e2e', 'x86', False),
                    ('e2e', 'x64', True)]
        return [('gtest', 'x64', False), ('gtest', 'x86', False), ('e2e', 'x64', False),
                ('e2e', 'x86', False)]
    return [('gtest', arch, False), ('e2e', arch, smoke)]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('-k', action='append', default=[], help='run tests whose name has this')
    parser.add_argument('--arch', choices=('auto', 'x86', 'x64'), default='auto',
                        help='the build under test (auto: the shipped PE32 where it runs)')
    parser.add_argument('--smoke', action='store_true', help='only the smoke tests')
    parser.add_argument('--no-gtest', action='store_true', help='skip windows_tests.exe')
    parser.add_argument('--list', action='store_true', help='list the tests and exit')
    parser.add_argument('-v', '--verbose', action='store_true', help='full tracebacks')
    args = parser.parse_args()

    if args.list:
        harness.use_target('x64' if args.arch == 'auto' else args.arch)
        for name, _ in discover(args.k, args.smoke):
            print(name)
        return 0

    # A terminated run still stops its display, wineserver and helpers.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    counts = Counts()
    env = harness.WineEnv(verbose=args.verbose)
    t = time.monotonic()
    try:
        env.start()
    except Exception as e:
        print(f'FAIL wine environment: {e}')
        print('wine: 0 passed, 1 failed, 0 skipped')
        return 1
    try:
        setup = time.monotonic() - t
        created = env.timings.get('prefix_creation_s')
        print(f'wine environment ready in {setup:.1f} s on display {env.display}'
              + (f' (new prefix: {created:.1f} s)' if created else ''))
        pe32, facts = (env.pe32_support() if args.arch != 'x64' else (False, 'not asked'))
        if args.arch != 'x64':
            print('PE32 programs: ' + (f'run ({", ".join(f"{k}: {v}" for k, v in facts.items())})'
                                       if pe32 else f'cannot run here: {facts}'))
        for kind, arch, smoke in plan(args.arch, args.smoke, pe32):
            if kind == 'gtest' and (args.no_gtest or args.k):
                continue
            target = harness.use_target(arch)
            runnable = arch == 'x64' or pe32
            if kind == 'gtest':
                if runnable:
                    run_gtest(env, target, counts, args.verbose)
                else:
                    skip_gtest(env, target, facts, counts)
                continue
            tests = discover(args.k, smoke)
            if runnable:
                run_tests(env, target, tests, counts, args.verbose)
            else:
                print(f'== end-to-end tests ({arch}): {describe(target)}: {len(tests)} tests '
                      f'skipped: {facts}')
                counts.add(skipped=len(tests))
        try:
            env.reset()
        except Exception as e:
            print(f'warning: final reset failed: {e}')
    finally:
        env.stop()
    print(f'wine: {counts.passed} passed, {counts.failed} failed, {counts.skipped} skipped')
    return 1 if counts.failed else 0


if __name__ == '__main__':
    sys.exit(main())
