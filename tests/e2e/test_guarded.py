"""The version-guarded payload write as a user sees it: guarded packages built with
`make package ... ARCH=<the target> GUARDED=1` installing over files of the sample installation, and
guarded_probe.exe (one guarded write in a fresh process) for the question from language files.

The robot reads every question in the interface language and answers it; a second thread
watches for the progress window ("PlainWindow") while the run goes on, and screenshots of the
question and of the window left up after it go to build/screenshots/guarded/.
"""

import os
import subprocess
import threading
import time
from pathlib import Path

import harness
from update_support import (FINISH_QUESTION, INSTALL_QUESTION, cok_bytes, install_sample,
                            question, shown)

SHOTS = harness.BUILD / 'screenshots' / 'guarded'
PACKAGES = harness.BUILD / 'guarded-packages' / harness.target.arch
PROBE = 'guarded_probe'
# Files whose change makes a cached package stale.
PACKAGE_INPUTS = ('src', 'resources', 'CMakeLists.txt', 'Makefile', 'scripts/package.sh', 'cmake')
# Each box stays up this long before the robot answers, so that the watcher can see the screen.
BOX_GRACE_S = 1.5

OLDER_CAPTION = {'en': 'Sound question', 'ru': 'Резонный вопрос'}


def older_question(language, target, existing, new):
    """(caption, text) of the built-in question before an older file replaces a newer one."""
    if language == 'ru':
        text = ('Устанавливаемый файл ' + target + '\r\n'
                'более старой версии, чем уже установленный.\r\n\r\n'
                'Действительно ли Вы хотите заменить уже имеющийся\r\n'
                'файл версии ' + existing + ' на более старый версии ' + new + '?')
    else:
        text = (target + ' file installing is of older version\r\n'
                'than the same already installed.\r\n\r\n'
                'Do you really want to replace existing\r\n'
                'new file version ' + existing + ' with an older file version ' + new + '?')
    return OLDER_CAPTION[language], text


def lng_bytes(version, filler='texts'):
    return f'[langver]\r\n{version}\r\n[{filler}]\r\nsome text\r\n'.encode('ascii')


# ---- guarded packages, built once and kept under build/ ----

def _newest_input_mtime():
    newest = 0.0
    for name in PACKAGE_INPUTS:
        path = harness.REPO / name
        files = [path] if path.is_file() else (p for p in path.rglob('*') if p.is_file())
        for p in files:
            newest = max(newest, p.stat().st_mtime)
    return newest


def guarded_package(file_name, payload, version, packages=PACKAGES):
    """A guarded package of the target's kind installing payload (bytes) as file_name, kept
    under packages; rebuilt only when missing, its payload changed or a source is newer.
    Returns its Unix path."""
    folder = packages / f'{file_name}-{version}'
    folder.mkdir(parents=True, exist_ok=True)
    source = folder / file_name
    exe = folder / f'{file_name.replace(".", "-")}-guarded.exe'
    if not source.exists() or source.read_bytes() != payload:
        source.write_bytes(payload)
    if exe.exists() and exe.stat().st_mtime > max(source.stat().st_mtime, _newest_input_mtime()):
        return exe
    r = subprocess.run(['make', '-s', '-C', str(harness.REPO), 'package', f'PAYLOAD={source}',
                        f'VERSION={version}', f'ARCH={harness.target.arch}', 'GUARDED=1', f'OUT={exe}', 'JOBS=2'],
                       capture_output=True, text=True, timeout=1800)
    assert r.returncode == 0 and exe.exists(), f'make package failed:\n{r.stdout}\n{r.stderr}'
    assert 'guarded:   yes' in r.stdout, r.stdout
    return exe


# ---- watching the progress window while a program runs ----

class ProgressWatch:
    """Runs a program under the robot on a thread of its own and meanwhile polls for a visible
    progress window; the first time one is seen, the whole screen is saved as shot."""

    def __init__(self, env, shot=None):
        self.env = env
        self.shot = shot
        self.result = None
        self.error = None
        self.seen_visible = False
        self.shot_taken = None

    def run(self, exe, **kw):
        def target():
            try:
                self.result = self.env.run(exe, **kw)
            except BaseException as e:  # handed to the test's thread
                self.error = e

        thread = threading.Thread(target=target)
        thread.start()
        while thread.is_alive():
            state = self.env.wintool(['find-window', 'PlainWindow'.encode().hex()])[0]
            if state['found'] and state['visible'] and not self.seen_visible:
                self.seen_visible = True
                if self.shot is not None:
                    self.shot_taken = self.env.screenshot(self.shot)
            time.sleep(0.1)
        thread.join()
        if self.error is not None:
            raise self.error
        return self.result


def box_shot(env, box, name):
    """Keeps the robot's picture of a box as build/screenshots/guarded/<name>.png."""
    assert box.shot, 'the robot took no picture of the box'
    SHOTS.mkdir(parents=True, exist_ok=True)
    return env.bmp_to_png(env.unix_path(box.shot), SHOTS / f'{name}.png')


def guarded_cok_package():
    return guarded_package('kvx.cok', cok_bytes(367), 367)


def run_package(env, exe, language, answers, shot=None, shots_dir=None):
    watch = ProgressWatch(env, shot)
    locale = {'en': 'en_US.UTF-8', 'ru': 'ru_RU.UTF-8'}[language]
    r = watch.run(exe, locale=locale, answers=answers, timeout=90, grace=BOX_GRACE_S,
                  shots_dir=shots_dir)
    return r, watch


# ---- the package over an installed file ----

def test_older_cok_asks_and_no_keeps_the_installed_file_with_the_empty_window_left_up(env):
    exe = guarded_cok_package()
    for language in ('en', 'ru'):
        env.reset()
        folder = install_sample(env, old_cok=False)
        installed = cok_bytes(368, size=9000)
        (folder / 'kvx.cok').write_bytes(installed)
        shots_dir = env.tmp / f'guarded-shots-{language}'
        r, watch = run_package(env, exe, language, ['yes', 'no', 'no'],
                               shot=SHOTS / f'package-{language}-window-left-up.png',
                               shots_dir=shots_dir)
        r.check()
        target = r'C:\Games\Kestrane\kvx.cok'
        got = [shown(b) for b in r.boxes]
        assert got == [INSTALL_QUESTION[language], older_question(language, target, '368', '367'),
                       FINISH_QUESTION], got
        assert all(b.button_ids == [6, 7] for b in r.boxes), r.boxes
        # "No" keeps the installed file: nothing written, nothing left beside it.
        assert r.exit_code == 8, r
        assert (folder / 'kvx.cok').read_bytes() == installed
        assert not (folder / '~kvx.cok').exists()
        # The empty progress window came up after the question and stayed for the rest.
        assert watch.seen_visible, 'no progress window was seen after the question'
        assert watch.shot_taken and watch.shot_taken.stat().st_size > 0
        box_shot(env, r.boxes[1], f'package-{language}-older-question')


@harness.smoke
def test_older_cok_answered_yes_is_replaced(env):
    exe = guarded_cok_package()
    folder = install_sample(env, old_cok=False)
    (folder / 'kvx.cok').write_bytes(cok_bytes(368))
    r, watch = run_package(env, exe, 'ru', ['yes', 'yes', 'no'])
    r.check()
    assert shown(r.boxes[1]) == older_question('ru', r'C:\Games\Kestrane\kvx.cok', '368', '367')
    assert r.exit_code == 0, r
    assert (folder / 'kvx.cok').read_bytes() == cok_bytes(367)
    assert not (folder / '~kvx.cok').exists()
    assert watch.seen_visible


def test_equal_newer_or_missing_cok_needs_no_question_and_shows_no_window(env):
    exe = guarded_cok_package()
    # (what is installed, whether the payload ends up installed)
    rows = [('equal version', cok_bytes(367, size=100), True),
            ('older installed', cok_bytes(300), True),
            ('nothing installed', None, True),
            ('installed file too short to carry a version', b'kvx', True)]
    for name, installed, replaced in rows:
        env.reset()
        folder = install_sample(env, old_cok=False)
        if installed is not None:
            (folder / 'kvx.cok').write_bytes(installed)
        r, watch = run_package(env, exe, 'en', ['yes', 'no'])
        r.check()
        assert [shown(b) for b in r.boxes] == [INSTALL_QUESTION['en'], FINISH_QUESTION], name
        assert r.exit_code == 0, (name, r)
        assert (folder / 'kvx.cok').read_bytes() == cok_bytes(367), name
        assert not (folder / '~kvx.cok').exists(), name
        assert not watch.seen_visible, f'{name}: a progress window without a question'


def test_language_file_is_compared_except_in_a_folder_with_an_exclamation_mark(env):
    exe = guarded_package('russian.lng', lng_bytes(5, 'new'), 5)
    # (install folder, whether the question comes)
    rows = [(r'C:\Games\Kestrane', True), (r'C:\Games\Kestrane!', False)]
    for host_folder, asked in rows:
        env.reset()
        folder = install_sample(env, folder=host_folder, old_cok=False)
        (folder / 'russian.lng').write_bytes(lng_bytes(12, 'old'))
        answers = ['yes', 'yes', 'no'] if asked else ['yes', 'no']
        r, watch = run_package(env, exe, 'en', answers)
        r.check()
        boxes = [shown(b) for b in r.boxes]
        if asked:
            assert boxes[1] == older_question('en', host_folder + r'\russian.lng', '12', '5'), \
                boxes
        assert len(boxes) == len(answers), boxes
        assert (folder / 'russian.lng').read_bytes() == lng_bytes(5, 'new'), host_folder
        assert not (folder / '~russian.lng').exists()
        assert watch.seen_visible == asked, host_folder


# ---- the question from the chosen language's file (probe program) ----

def probe_folder(env, name):
    folder_win = rf'C:\kestrane-guarded\{name}'
    folder = env.unix_path(folder_win)
    folder.mkdir(parents=True, exist_ok=True)
    env.cleanup_path(env.unix_path(r'C:\kestrane-guarded'))
    return folder, folder_win


def probe_lines(result):
    return dict(line.split('=', 1) for line in (result.output or '').splitlines() if '=' in line)


def test_chosen_language_gives_the_question_its_caption_and_text(env):
    # (locale, language id, caption, text with %1, how the robot decodes it)
    rows = [('ru_RU.UTF-8', '0x419', 'Вопрос о звуке', 'Файл %1\r\nстарее установленного. Заменить?'),
            ('en_US.UTF-8', '0x409', 'Older sound file', 'Replace the newer %1\r\nwith the older one?')]
    for locale, language_id, caption, text in rows:
        env.reset()
        folder, folder_win = probe_folder(env, 'language')
        codepage = harness.locale_codepage(locale)
        (folder / 'chosen.lng').write_bytes(
            (f'[langver]\r\n1\r\n[soundquest]\r\n{caption}\r\n\r\n[olderfilever]\r\n{text}\r\n\r\n')
            .encode(codepage))
        (folder / 'kvx.cok').write_bytes(cok_bytes(368))
        (folder / 'new.bin').write_bytes(cok_bytes(367))
        target = folder_win + r'\kvx.cok'
        r = env.run(env.program(PROBE), ['cok', target, folder_win + r'\new.bin',
                                         folder_win + r'\chosen.lng', language_id],
                    locale=locale, answers=['no'], output=True, shots_dir=env.tmp / 'probe-shots')
        r.check()
        assert [(b.unicode_caption, b.unicode_text) for b in r.boxes] == \
            [(caption, text.replace('%1', target))]
        lines = probe_lines(r)
        assert lines.get('outcome') == 'kept', r.output
        assert lines.get('progress') == 'visible', r.output
        assert lines.get('caption') == '' and lines.get('status') == '', r.output
        assert (folder / 'kvx.cok').read_bytes() == cok_bytes(368)
        assert not (folder / '~kvx.cok').exists()
        box_shot(env, r.boxes[0], f'language-question-{locale.split("_")[0]}')
