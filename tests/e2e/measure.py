#!/usr/bin/env python3
"""Prints what the Wine harness costs: environment start, program start, helper operations,
message-box round trips, Windows version switches and screenshots.

    measure.py [--cold] [-n N]

--cold also creates a throw-away prefix under build/wine-measure to time a first run.
Figures are medians over N repetitions (default 5); the machine's load shows in them. The
prefix reports the harness's default Windows (win10), as in the tests.
"""

import argparse
import os
import shutil
import statistics
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

import harness  # noqa: E402


def median_of(n, action):
    samples = []
    for _ in range(n):
        t = time.monotonic()
        action()
        samples.append(time.monotonic() - t)
    return statistics.median(samples), min(samples), max(samples)


def show(label, figures, unit='s'):
    med, lo, hi = figures
    scale = 1000 if unit == 'ms' else 1
    print(f'{label:<52} {med * scale:8.3f} {unit}  (min {lo * scale:.3f}, max {hi * scale:.3f})')


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--cold', action='store_true')
    parser.add_argument('-n', type=int, default=5)
    args = parser.parse_args()
    n = args.n

    try:
        print(f'load average: {os.getloadavg()[0]:.2f} on {os.cpu_count()} CPUs')
    except OSError:
        pass
    if args.cold:
        root = harness.BUILD / 'wine-measure'
        shutil.rmtree(root, ignore_errors=True)
        env = harness.WineEnv(root=root)
        t = time.monotonic()
        env.start()
        total = time.monotonic() - t
        print(f'{"cold start, new prefix (wineboot -i)":<52} '
              f'{env.timings["prefix_creation_s"]:8.3f} s')
        print(f'{"cold start, whole environment (locale, Xvfb, ...)":<52} {total:8.3f} s')
        env.stop()
        shutil.rmtree(root, ignore_errors=True)

    t = time.monotonic()
    env = harness.WineEnv()
    env.start()
    print(f'{"warm start (prefix reused)":<52} {time.monotonic() - t:8.3f} s')
    print(f'prefix reports {harness.VERSION_NAMES[env.windows_version()]}')
    try:
        program = env.program('wintool')
        env.run_console(program, ['sleep', '0'])  # warms the file cache
        show('console program start to exit (wine64 wintool)',
             median_of(n, lambda: env.run_console(program, ['sleep', '0'])))
        show('helper operation through the wintool server',
             median_of(n, lambda: env.wintool(['sleep', '0'])), 'ms')
        key = r'HKCU\Software\KestraneMeasure'
        show('reg_set (wintool server)',
             median_of(n, lambda: env.reg_set(key, 'V', 'REG_SZ', 'x')), 'ms')
        show('reg_set of 10 values in one call (wintool server)',
             median_of(n, lambda: env.reg_set_many(
                 [(key, f'V{i}', 'REG_DWORD', i) for i in range(10)])), 'ms')
        show('reg.exe add (one value, a Wine start)',
             median_of(n, lambda: env.run_console('reg', ['add', key.replace('HKCU', 'HKCU'),
                                                          '/v', 'R', '/d', 'x', '/f'])))
        env.reg_delete_key(key)

        def robot_run():
            r = env.run(program, ['sleep', '0'])
            assert r.exit_code == 0, r
        show('robot run of a program without boxes', median_of(n, robot_run))

        first, gaps, totals = [], [], []
        for _ in range(n):
            r = env.run(env.program('ask_probe'), ['8'], answers=['yes'] * 8).check()
            times = [b.t_ms for b in r.boxes]
            first.append(times[0] / 1000)
            gaps += [(b - a) / 1000 for a, b in zip(times, times[1:])]
            totals.append(r.duration)
        show('program start to its first box (robot t_ms)',
             (statistics.median(first), min(first), max(first)), 'ms')
        show('box round trip: answer to the next box',
             (statistics.median(gaps), min(gaps), max(gaps)), 'ms')
        show('robot run: 8 questions answered',
             (statistics.median(totals), min(totals), max(totals)))

        for locale in ('en_US.UTF-8', 'ru_RU.UTF-8'):
            show(f'robot run: one error box ({locale})', median_of(n, lambda: env.run(
                env.program('report_probe'), locale=locale, answers=['ok']).check()))

        folder_win = r'C:\Program Files\Kestrane'

        def host_cycle():
            folder = env.install_host(folder_win)
            env.start_host(folder_win)
            assert env.wait_host_event(folder, 'window_ready')
            env.post_quit_to_host()
            assert env.wait_host_event(folder, 'exit')
        show('stand-in host: install, start, window, WM_QUIT, exit', median_of(n, host_cycle))
        show('reset between tests', median_of(n, env.reset))

        def switch():
            env.set_windows_version('win7')
            env.set_windows_version(harness.DEFAULT_WINDOWS_VERSION)
        med, lo, hi = median_of(max(1, n // 2), switch)
        show('set_windows_version (one switch)', (med / 2, lo / 2, hi / 2))
        shot = env.tmp / 'measure-screen.png'
        show('screenshot of the whole screen (import)', median_of(n, lambda: env.screenshot(shot)))
        shot.unlink(missing_ok=True)
    finally:
        env.reset()
        env.stop()


if __name__ == '__main__':
    main()
