#!/usr/bin/env python3
"""Shows the update package at work under Wine, on a sample Kestrane installation:

1. what the start-up step finds out about the system (when startup_probe.exe is built);
2. a quiet run, "modest runapp": the file written and its version, "EstimatedSize" before
   and after, and the host application it started;
3. an interactive run answered yes, yes, with a picture of each message box.

Builds nothing: `make demo` builds everything first. Exits non-zero when a step fails.
"""

import shutil
import sys
import time
from pathlib import Path

REPO = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(REPO / 'tests' / 'e2e'))

import harness  # noqa: E402
from update_support import (FINISH_QUESTION, HOST_FOLDER, INSTALL_QUESTION, LOCALES,  # noqa: E402
                            OLD_COK_VERSION, PACKAGE, PAYLOAD, UNINSTALL_KEY,
                            cok_version, folder_size_kib, install_sample, shown)

DEMO_DIR = harness.BUILD / 'demo'
STARTUP_PROBE = harness.WIN64 / 'startup_probe.exe'


class DemoFailed(Exception):
    pass


def expect(condition, what):
    if not condition:
        raise DemoFailed(what)


def heading(text):
    print(f'\n== {text}')


def show_startup_facts(env):
    heading('Start-up facts')
    if not STARTUP_PROBE.exists():
        print(f'  ({STARTUP_PROBE.name} is not built; skipped)')
        return
    for language in ('en', 'ru'):
        r = env.run_console(STARTUP_PROBE, locale=LOCALES[language], timeout=60)
        expect(r.exit_code == 0, f'startup_probe ended with {r.exit_code}: {r.stderr.strip()}')
        print(f'  locale {LOCALES[language]}:')
        for line in r.stdout.splitlines():
            print(f'    {line}')


def describe_size(value):
    return 'not set' if value is None else f'{value[1]} KiB ({value[0]})'


def quiet_run(env):
    heading('Sample installation')
    folder = install_sample(env)
    target = folder / 'kvx.cok'
    # The size the host's own setup recorded for the old installation.
    env.reg_set(UNINSTALL_KEY, 'EstimatedSize', 'REG_DWORD', folder_size_kib(folder))
    size_before = env.reg_get(UNINSTALL_KEY, 'EstimatedSize', with_type=True)
    print(f'  folder        {HOST_FOLDER} (on Linux: {folder})')
    print(f'  registration  {UNINSTALL_KEY}')
    print(f'                UninstallString = {env.reg_get(UNINSTALL_KEY, "UninstallString")}')
    print(f'  kvx.cok       {target.stat().st_size} bytes, version {cok_version(target)}')
    print(f'  host          stand-in Kestrane.exe')

    heading(f'Quiet run: {PACKAGE.name} modest runapp')
    t = time.monotonic()
    r = env.run(PACKAGE, args=['modest', 'runapp'], locale=LOCALES['en'], timeout=60)
    elapsed = time.monotonic() - t
    print(f'  exit code {r.exit_code} after {elapsed:.1f} s, {len(r.boxes)} message boxes')
    expect(not r.boxes, f'the quiet run showed boxes: {r.boxes}')
    expect(r.exit_code == 0, f'the quiet run ended with exit code {r.exit_code}')

    heading('What changed')
    size_after = env.reg_get(UNINSTALL_KEY, 'EstimatedSize', with_type=True)
    version = cok_version(target)
    same = target.read_bytes() == PAYLOAD.read_bytes()
    print(f'  written       {HOST_FOLDER}\\kvx.cok: {target.stat().st_size} bytes, version '
          f'{version} (was {OLD_COK_VERSION}); identical to the payload: {"yes" if same else "NO"}')
    print(f'  EstimatedSize before: {describe_size(size_before)}')
    print(f'  EstimatedSize after:  {describe_size(size_after)}')
    expect(same and version == 367, 'kvx.cok does not hold the payload')
    expect(size_after is not None and size_after[1] != size_before[1],
           'EstimatedSize was not refreshed')
    front = env.wait_host_event(folder, 'foreground', timeout=20)
    print('  host started:')
    for entry in env.host_log(folder):
        if entry['event'] in ('started', 'memfile_created', 'window_created', 'foreground'):
            detail = entry['detail'].split(' command=')[0]
            print(f'    {entry["ms"]:>6} ms  {entry["event"]:<15} {detail}')
    expect(front is not None, 'the host was not brought to the front')


def interactive_run(env):
    heading(f'Interactive run in Russian: {PACKAGE.name}, answered yes, yes')
    env.reset()
    folder = install_sample(env)
    shots = DEMO_DIR / 'shots'
    shutil.rmtree(shots, ignore_errors=True)
    for old in DEMO_DIR.glob('box-*.png'):
        old.unlink()
    r = env.run(PACKAGE, locale=LOCALES['ru'], answers=['yes', 'yes'], shots_dir=shots,
                timeout=60)
    expect(not r.unexpected and not r.missing, f'the boxes did not follow the script: {r}')
    expect(r.exit_code == 0, f'the interactive run ended with exit code {r.exit_code}')
    expected = [INSTALL_QUESTION['ru'], FINISH_QUESTION]
    for box, want in zip(r.boxes, expected):
        caption, text = shown(box)
        print(f'  box {box.index}: "{caption}", answered {box.answer}')
        for line in text.split('\r\n'):
            print(f'      | {line}')
        expect((caption, text) == want, f'box {box.index} differs from the expected text')
    expect(len(r.boxes) == 2, f'expected two boxes, saw {len(r.boxes)}')
    pictures = []
    for bmp in sorted(shots.glob('*.bmp')):
        png = DEMO_DIR / (bmp.stem + '.png')
        env.bmp_to_png(bmp, png)
        pictures.append(png)
    shutil.rmtree(shots, ignore_errors=True)
    expect(len(pictures) == 2, f'expected two pictures, found {len(pictures)}')
    print('  pictures of the boxes:')
    for png in pictures:
        print(f'    {png}')
    expect(env.wait_host_event(folder, 'foreground', timeout=20) is not None,
           'the host was not started after the second yes')
    print('  the host application was started and brought to the front')


def main():
    for needed in (PACKAGE, PAYLOAD):
        if not needed.exists():
            print(f'demo: {needed} is missing; run make demo (it builds first)')
            return 1
    DEMO_DIR.mkdir(parents=True, exist_ok=True)
    try:
        with harness.WineEnv() as env:
            env.reset()
            try:
                show_startup_facts(env)
                quiet_run(env)
                interactive_run(env)
            finally:
                env.reset()
    except (DemoFailed, harness.HarnessError) as e:
        print(f'\ndemo: FAILED: {e}')
        return 1
    print('\ndemo: done')
    return 0


if __name__ == '__main__':
    sys.exit(main())
