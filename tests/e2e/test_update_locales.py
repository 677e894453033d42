"""The package on systems unlike the test prefix's defaults: started from a folder whose name
the ANSI code page cannot hold, and its Russian texts on an English system, read as the user
reads them (the boxes' Unicode texts) and pictured under build/screenshots/locales/."""

import shutil
from pathlib import Path

import harness
from update_support import (FINISH_QUESTION, INSTALL_QUESTION, PACKAGE, TITLE, assert_boxes,
                            assert_updated, cant_install, error, install_sample, question,
                            run_update)

SHOTS = harness.BUILD / 'screenshots' / 'locales'
DOWNLOADS = r'C:\Users\Иван\Downloads'


def copy_package_to(env, folder_win):
    """A copy of the sealed package in a folder of the prefix, removed by reset()."""
    folder = Path(env.unix_path(folder_win))
    folder.mkdir(parents=True, exist_ok=True)
    env.cleanup_path(folder)
    copy = folder / PACKAGE.name
    shutil.copyfile(PACKAGE, copy)
    return folder_win + '\\' + PACKAGE.name


def test_a_package_in_a_cyrillic_folder_installs_on_an_english_system(env):
    # The ANSI path of the package has "?" for the Cyrillic letters on code page 1252; the
    # package must still find and check its own file.
    for args, answers in ((['modest'], []), ([], ['yes', 'no'])):
        env.reset()
        folder = install_sample(env)
        package = copy_package_to(env, DOWNLOADS)
        r = run_update(env, args=args, language='en', answers=answers, exe=package)
        asked = [question(INSTALL_QUESTION['en']), question(FINISH_QUESTION)]
        assert_boxes(r, [] if args else asked)
        assert r.exit_code == 0, (args, r)
        assert_updated(env, folder)


def test_both_questions_read_as_written_on_english_and_russian_systems(env):
    # The package caption is Russian in both interface languages and the final question is
    # Russian under the English title: on an English system both must still read as Russian.
    SHOTS.mkdir(parents=True, exist_ok=True)
    for language in ('en', 'ru'):
        env.reset()
        install_sample(env)
        shots = env.tmp / f'locale-shots-{language}'
        shutil.rmtree(shots, ignore_errors=True)
        env.cleanup_path(shots)
        r = run_update(env, language=language, answers=['yes', 'no'], shots_dir=shots)
        assert_boxes(r, [question(INSTALL_QUESTION[language]), question(FINISH_QUESTION)])
        assert r.acp == {'en': 1252, 'ru': 1251}[language], r.acp
        for box, name in zip(r.boxes, ('install-question', 'finish-question')):
            assert box.shot, f'{language}: the robot took no picture of {name}'
            png = env.bmp_to_png(env.unix_path(box.shot), SHOTS / f'{language}-{name}.png')
            assert png.stat().st_size > 0


def test_a_path_and_a_russian_text_each_read_in_their_own_code_page(env):
    # Wine gives Kazakh a Russian interface and the UTF-8 ANSI code page (as Windows does
    # with its "Unicode UTF-8 for worldwide language support" option): the report's Russian
    # words are code page 1251, the install folder's path comes in UTF-8.
    folder_win = r'C:\Игры\Kestrane'
    folder = install_sample(env, folder=folder_win)
    target = folder / 'kvx.cok'
    target.chmod(0o444)  # read-only: the write is refused at once
    try:
        r = env.run(PACKAGE, args=['modest'], locale='kk_KZ.UTF-8', answers=['ok'], timeout=40)
    finally:
        target.chmod(0o644)
    assert r.acp == 65001, f'Wine gave Kazakh code page {r.acp}; the case tests nothing'
    assert_boxes(r, [error((TITLE['ru'], cant_install('ru', folder_win + r'\kvx.cok')))])
    assert r.exit_code == 8, r
