#!/usr/bin/env python3
"""Runs the Windows-side tests under Wine: first build/win64/windows_tests.exe (GoogleTest),
then every test_*(env) function of tests/e2e/test_*.py with one shared WineEnv.

    run.py [-k SUBSTRING]... [--no-gtest] [--list] [-v]

Prints "ok <name>" or "FAIL <name>: <why>" per test and ends with
"wine: N passed, N failed"; the exit status is 1 when anything failed.
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


def discover(filters):
    """Returns (name, function) for every test function matching all filters, in file order."""
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
            if all(f in full for f in filters):
                tests.append((full, fn))
    return tests


def _import_failure(trace):
    def fail(env):
        raise AssertionError('cannot import:\n' + trace)
    return fail


def _where(error):
    """'file:line: source' of the innermost test-file frame of an assertion."""
    frames = [f for f in traceback.extract_tb(error.__traceback__)
              if Path(f.filename).parent == HERE and Path(f.filename).name != 'run.py']
    if not frames:
        return ''
    f = frames[-1]
    return f'{Path(f.filename).name}:{f.lineno}: {f.line}: '


def gtest_counts(output, exit_code):
    """Reads GoogleTest's summary: returns (passed, failed, problem). A run that ended badly
    without reporting a failure (a crash, a hang: exit_code None) counts as one failure."""
    passed = re.search(r'^\[  PASSED  \] (\d+) tests?\.', output, re.M)
    failed = re.search(r'^\[  FAILED  \] (\d+) tests?, listed below', output, re.M)
    passed = int(passed.group(1)) if passed else 0
    failed = int(failed.group(1)) if failed else 0
    problem = None
    if exit_code != 0 and failed == 0:
        failed = 1
        problem = ('timed out' if exit_code is None else f'exit code {exit_code}') + \
            ' without a failure in its summary'
    return passed, failed, problem


def run_gtest(env, verbose):
    """Runs windows_tests.exe; returns (passed, failed). A crash or hang counts as a failure."""
    exe = harness.WIN64 / 'windows_tests.exe'
    if not exe.exists():
        print('windows_tests.exe not built; skipped')
        return 0, 0
    t = time.monotonic()
    # Under the robot, so that a message box nothing answers is closed and reported instead
    # of hanging the run; the tests answer their own boxes, so the robot waits its turn.
    r = env.run(exe, ['--gtest_color=no'], timeout=GTEST_TIMEOUT_S, output=True,
                grace=GTEST_BOX_GRACE_S)
    log = harness.BUILD / 'test-logs' / 'windows_tests.log'
    log.parent.mkdir(parents=True, exist_ok=True)
    log.write_text(r.output or '')
    passed, failed, problem = gtest_counts(r.output or '', None if r.timed_out else r.exit_code)
    if problem:
        print(f'FAIL windows_tests.exe: {problem} (see {log})')
    for box in r.unexpected:
        failed += 1
        print(f'FAIL windows_tests.exe left a message box open: {box!r}')
    for line in (r.output or '').splitlines():
        if line.startswith('[  FAILED  ]') or (verbose and 'Failure' in line):
            print(line)
    print(f'windows_tests: {passed} passed, {failed} failed ({time.monotonic() - t:.1f} s)')
    return passed, failed


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('-k', action='append', default=[], help='run tests whose name has this')
    parser.add_argument('--no-gtest', action='store_true', help='skip windows_tests.exe')
    parser.add_argument('--list', action='store_true', help='list the tests and exit')
    parser.add_argument('-v', '--verbose', action='store_true', help='full tracebacks')
    args = parser.parse_args()

    tests = discover(args.k)
    if args.list:
        for name, _ in tests:
            print(name)
        return 0

    # A terminated run still stops its display, wineserver and helpers.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    passed = failed = 0
    env = harness.WineEnv(verbose=args.verbose)
    t = time.monotonic()
    try:
        env.start()
    except Exception as e:
        print(f'FAIL wine environment: {e}')
        print('wine: 0 passed, 1 failed')
        return 1
    try:
        setup = time.monotonic() - t
        created = env.timings.get('prefix_creation_s')
        print(f'wine environment ready in {setup:.1f} s on display {env.display}'
              + (f' (new prefix: {created:.1f} s)' if created else ''))
        if not args.no_gtest and not args.k:
            g_passed, g_failed = run_gtest(env, args.verbose)
            passed += g_passed
            failed += g_failed
        for name, fn in tests:
            t = time.monotonic()
            try:
                env.reset()
                fn(env)
            except AssertionError as e:
                failed += 1
                print(f'FAIL {name}: {_where(e)}{e}')
                if args.verbose:
                    traceback.print_exc()
                continue
            except Exception:
                failed += 1
                print(f'FAIL {name}: error\n{traceback.format_exc()}')
                continue
            passed += 1
            print(f'ok {name} ({time.monotonic() - t:.2f} s)')
        try:
            env.reset()
        except Exception as e:
            print(f'warning: final reset failed: {e}')
    finally:
        env.stop()
    print(f'wine: {passed} passed, {failed} failed')
    return 1 if failed else 0


if __name__ == '__main__':
    sys.exit(main())
