#!/usr/bin/env python3
"""Shows the update package at work under Wine, on a sample Kestrane installation:

1. what the start-up step finds out about the system (when startup_probe.exe is built);
2. a quiet run, "modest runapp": the file written and its version, "EstimatedSize" before
   and after, and the host application it started;
3. an interactive run in Russian and one in English, each answered yes, yes, with a picture
   of both questions;
4. the guarded package over a newer installed kvx.cok: it asks before the older file
   replaces the newer one, and "no" keeps the newer file;
5. a table of what it did and where the pictures are (build/demo/).

The prefix reports Windows 10, the harness's default. Builds nothing: `make demo` builds what
it needs first. Exits non-zero when a step fails.
"""

import shutil
import sys
import time
from pathlib import Path

REPO = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(REPO / 'tests' / 'e2e'))

import harness  # noqa: E402
from update_support import (FINISH_QUESTION, HOST_FOLDER, INSTALL_QUESTION, LOCALES,  # noqa: E402
                            OLD_COK_VERSION, PAYLOAD, UNINSTALL_KEY, cok_bytes, cok_version,
                            folder_size_kib, install_sample, shown)

DEMO_DIR = harness.BUILD / 'demo'
# The packages the demo runs: the shipped PE32 ones where this machine runs 32-bit Windows
# programs, their x64 twins otherwise (choose_packages). Every run below takes its package
# from these names.
STARTUP_PROBE = harness.WIN64 / 'startup_probe.exe'
PACKAGE = harness.WIN64 / 'KestraneUpdate.exe'
GUARDED_PACKAGE = harness.WIN64 / 'KestraneUpdateGuarded.exe'
# The version of the kvx.cok already installed before the guarded package runs: newer than
# the package's 367.
NEWER_COK_VERSION = 400
LANGUAGE_NAMES = {'ru': 'Russian', 'en': 'English'}

# What the table at the end lists: (step, what happened, where its pictures are).
done = []


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


def box_texts(box):
    """(caption, text) of a box as the robot read it."""
    return shown(box)


def print_boxes(boxes):
    for box in boxes:
        caption, text = box_texts(box)
        print(f'  box {box.index}: "{caption}", answered {box.answer}')
        for line in text.split('\r\n'):
            print(f'      | {line}')


def keep_pictures(env, shots, name, count):
    """Converts the robot's pictures of a run to build/demo/<name>/box-N.png."""
    folder = DEMO_DIR / name
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir(parents=True)
    pictures = []
    for number, bmp in enumerate(sorted(shots.glob('*.bmp')), start=1):
        pictures.append(env.bmp_to_png(bmp, folder / f'box-{number}.png'))
    shutil.rmtree(shots, ignore_errors=True)
    expect(len(pictures) == count, f'expected {count} pictures, found {len(pictures)}')
    print('  pictures of the boxes:')
    for png in pictures:
        print(f'    {png}')
    return folder


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
    done.append(('quiet run (modest runapp)',
                 f'kvx.cok {OLD_COK_VERSION} -> {version}, EstimatedSize '
                 f'{size_before[1]} -> {size_after[1]} KiB, host started', '-'))


def interactive_run(env, language):
    heading(f'Interactive run in {LANGUAGE_NAMES[language]}: {PACKAGE.name}, answered yes, yes')
    env.reset()
    folder = install_sample(env)
    shots = DEMO_DIR / 'shots'
    shutil.rmtree(shots, ignore_errors=True)
    r = env.run(PACKAGE, locale=LOCALES[language], answers=['yes', 'yes'], shots_dir=shots,
                timeout=60)
    expect(not r.unexpected and not r.missing, f'the boxes did not follow the script: {r}')
    expect(r.exit_code == 0, f'the interactive run ended with exit code {r.exit_code}')
    print_boxes(r.boxes)
    expected = [INSTALL_QUESTION[language], FINISH_QUESTION]
    expect([box_texts(b) for b in r.boxes] == expected, 'the boxes differ from the expected texts')
    pictures = keep_pictures(env, shots, f'interactive-{language}', 2)
    if language == 'en':
        # The boxes are wide (Unicode) boxes: code page 1252 has no Cyrillic, yet the Russian
        # texts read right in the pictures.
        print('  (the pictures show the Russian caption in Cyrillic, readable in this English '
              'locale too: the first box asks in English, the second asks in Russian, with the '
              'buttons "Да" and "Нет", under the English title)')
    expect(env.wait_host_event(folder, 'foreground', timeout=20) is not None,
           'the host was not started after the second yes')
    print('  the host application was started and brought to the front')
    done.append((f'interactive run, {LANGUAGE_NAMES[language]}',
                 'both questions answered yes; kvx.cok written, host started',
                 str(pictures.relative_to(harness.REPO))))


def older_question(target, existing, new):
    """The English question before an older file replaces a newer one."""
    return ('Sound question',
            target + ' file installing is of older version\r\n'
            'than the same already installed.\r\n\r\n'
            'Do you really want to replace existing\r\n'
            f'new file version {existing} with an older file version {new}?')


def guarded_run(env):
    heading(f'Guarded package over a newer file: {GUARDED_PACKAGE.name}, answered yes, no, no')
    env.reset()
    folder = install_sample(env, old_cok=False)
    newer = cok_bytes(NEWER_COK_VERSION)
    (folder / 'kvx.cok').write_bytes(newer)
    print(f'  installed     kvx.cok version {NEWER_COK_VERSION}; the package carries 367')
    shots = DEMO_DIR / 'shots'
    shutil.rmtree(shots, ignore_errors=True)
    r = env.run(GUARDED_PACKAGE, locale=LOCALES['en'], answers=['yes', 'no', 'no'],
                shots_dir=shots, timeout=90)
    expect(not r.unexpected and not r.missing, f'the boxes did not follow the script: {r}')
    print_boxes(r.boxes)
    target = HOST_FOLDER + '\\kvx.cok'
    expected = [INSTALL_QUESTION['en'],
                older_question(target, str(NEWER_COK_VERSION), '367'), FINISH_QUESTION]
    expect([box_texts(b) for b in r.boxes] == expected, 'the boxes differ from the expected texts')
    # "No" keeps the newer file; the run reports that as a payload not written (exit code 8).
    expect(r.exit_code == 8, f'the guarded run ended with exit code {r.exit_code}, not 8')
    kept = (folder / 'kvx.cok').read_bytes() == newer
    print(f'  exit code {r.exit_code}: the payload was not written; kvx.cok still version '
          f'{cok_version(folder / "kvx.cok")}: {"kept" if kept else "REPLACED"}')
    expect(kept, 'the newer kvx.cok was replaced')
    pictures = keep_pictures(env, shots, 'guarded', 3)
    done.append(('guarded package over a newer file',
                 f'asked before 367 replaced {NEWER_COK_VERSION}; "no" kept the newer file',
                 str(pictures.relative_to(harness.REPO))))


def print_table():
    heading('What the demo did')
    width = [max(len(row[i]) for row in done + [('Step', 'Result', 'Pictures')])
             for i in range(3)]
    for row in [('Step', 'Result', 'Pictures')] + done:
        print('  ' + '  '.join(cell.ljust(width[i]) for i, cell in enumerate(row)).rstrip())


def choose_packages(env):
    """Puts the shipped PE32 packages under the demo where this machine runs them, and says
    which ran and why."""
    global PACKAGE, GUARDED_PACKAGE, STARTUP_PROBE
    pe32, why = env.pe32_support()
    build = harness.TARGETS['x86' if pe32 else 'x64']
    PACKAGE = build.build / 'KestraneUpdate.exe'
    GUARDED_PACKAGE = build.build / 'KestraneUpdateGuarded.exe'
    STARTUP_PROBE = build.build / 'startup_probe.exe'
    heading('The packages')
    if pe32:
        print(f'  the shipped {build.pe_kind} packages, {harness.rel(PACKAGE)} and '
              f'{GUARDED_PACKAGE.name}, each run as {build.process}')
    else:
        print(f'  the x64 twins {harness.rel(PACKAGE)} and {GUARDED_PACKAGE.name} ({build.pe_kind}):'
              f' the shipped PE32 package cannot run here, {why}')
    version = env.windows_version()
    print(f'  the prefix reports {harness.VERSION_NAMES.get(version, version)}, as users\' '
          f'systems do; a package without a supported-systems list is told 6.2.9200 there')
    done.append(('packages', f'{build.pe_kind}: {harness.rel(PACKAGE)}, on {version}', ''))
    for needed in (PACKAGE, GUARDED_PACKAGE, PAYLOAD):
        if not needed.exists():
            raise DemoFailed(f'{needed} is missing; run make demo (it builds first)')


def main():
    DEMO_DIR.mkdir(parents=True, exist_ok=True)
    for old in DEMO_DIR.glob('box-*.png'):  # where earlier demos put their pictures
        old.unlink()
    try:
        with harness.WineEnv() as env:
            env.reset()
            try:
                choose_packages(env)
                show_startup_facts(env)
                quiet_run(env)
                for language in ('ru', 'en'):
                    interactive_run(env, language)
                guarded_run(env)
            finally:
                env.reset()
    except (DemoFailed, harness.HarnessError) as e:
        print(f'\ndemo: FAILED: {e}')
        return 1
    print_table()
    print('\ndemo: done')
    return 0


if __name__ == '__main__':
    sys.exit(main())
