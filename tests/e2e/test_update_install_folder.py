"""The install folder as the elevated update must treat it: named in characters the system's
ANSI code page cannot hold (made and registered as a Unicode installer does, with
CreateDirectoryW and RegSetValueExW through wintool), holding names in other scripts, and
held through the write so that a user who renames it away while the update waits for a held
kvx.cok cannot make it write elsewhere (folder_swap.exe).

Every test runs on a Windows 10 prefix. The one slow test waits out the replace's 10 s retry
(the held target); the rest take a few seconds each."""

from pathlib import Path

import harness
from update_support import (FINISH_QUESTION, HOST_FOLDER, INSTALL_QUESTION, LOCALES,
                            OLD_COK_VERSION, PACKAGE, PAYLOAD, TITLE, UNINSTALL_KEY,
                            UNINSTALL_KEY_WOW, cant_install, cok_bytes, cok_version, error,
                            estimated_size, folder_size_kib, install_sample, payload_installed,
                            question, run_update, shown)
from test_guarded import older_question
from winenv.common import hex_text

CYRILLIC_FOLDER = r'C:\Игры\Kestrane'
GREEK_FOLDER = r'C:\Παιχνίδια\Kestrane'
CHINESE_FOLDER = r'C:\游戏\Kestrane'
GUARDED_PACKAGE = PACKAGE.parent / 'KestraneUpdateGuarded.exe'
ERROR_ALREADY_EXISTS = 183
ERROR_SHARING_VIOLATION = 32
ACP = {'en': 1252, 'ru': 1251}


def fresh(env):
    env.reset()
    env.set_windows_version('win10')


def make_folders(env, folder_win):
    """Makes each missing folder of the path with CreateDirectoryW, as a Unicode installer
    does; reset() removes the ones made here."""
    parts = folder_win.rstrip('\\').split('\\')
    for depth in range(2, len(parts) + 1):
        path = '\\'.join(parts[:depth])
        made = env.wintool(['make-folder', hex_text(path)])[0]
        assert made['ok'] or made['error'] == ERROR_ALREADY_EXISTS, (path, made)
        if made['ok']:
            env.cleanup_path(env.unix_path(path))


def unicode_sample(env, folder_win, registration='plain', uninstall_string=None,
                   old_cok=True, config=None):
    """The stand-in Kestrane in a folder made by CreateDirectoryW and registered by
    RegSetValueExW; returns the folder's Unix path."""
    make_folders(env, folder_win)
    folder = install_sample(env, folder=folder_win, registration=registration,
                            uninstall_string=uninstall_string, old_cok=old_cok, config=config)
    # The registration holds the name in full: what the update reads is what was written.
    written = uninstall_string or folder_win + '\\unins000.exe'
    keys = {'plain': [UNINSTALL_KEY], 'wow': [UNINSTALL_KEY_WOW]}[registration]
    for key in keys:
        assert env.reg_get(key, 'UninstallString') == written, key
    return folder


def boxes_of(r):
    return [shown(b) + (sorted(b.button_ids), b.icon) for b in r.boxes]


def run_expecting(env, exit_code, boxes, icons_of_first=None, **kw):
    """Runs the package; fails naming the exit code and every box seen when either differs
    from what is expected, then on anything the robot's script did not meet. With
    icons_of_first=n only the first n boxes' icons are compared: a box that may open under the
    guarded mode's progress window (which Wine does not keep on top reliably either way) shows
    its icon only when it happens to lie above it."""
    r = run_update(env, **kw)
    got, want = (r.exit_code, boxes_of(r)), (exit_code, boxes)
    if icons_of_first is not None:
        got = (got[0], [b if i < icons_of_first else b[:-1] for i, b in enumerate(got[1])])
        want = (want[0], [b if i < icons_of_first else b[:-1] for i, b in enumerate(want[1])])
    assert got == want, f'\n got  {got}\n want {want}'
    r.check()
    return r


def each_row(rows, check):
    """Runs check(*row) for every row and fails once, naming every row that failed, so that
    one run shows the whole table."""
    failures = []
    for row in rows:
        try:
            check(*row)
        except AssertionError as e:
            failures.append(f'{row[0]}: {e}')
    assert not failures, '\n'.join(failures)


def assert_installed(env, folder, key=UNINSTALL_KEY, leave_out=()):
    assert payload_installed(folder), f'kvx.cok: version {cok_version(folder / "kvx.cok")}'
    assert estimated_size(env, key) == ('REG_DWORD', folder_size_kib(folder, leave_out)), \
        f'EstimatedSize under {key}: {estimated_size(env, key)}'
    assert not (folder / '~kvx.cok').exists(), 'the temporary file was left'


QUIET = ('quiet', ['modest'], [], [])
ASKED = ('interactive', [], ['yes', 'no'],
         [question(INSTALL_QUESTION['en']), question(FINISH_QUESTION)])


def test_a_cyrillic_folder_registered_by_a_unicode_installer_is_updated_on_an_english_system(
        env):
    quoted = f'"{CYRILLIC_FOLDER}\\unins000.exe" /SILENT'
    # (name, registration, UninstallString (None: unquoted path of unins000.exe), key)
    registrations = [
        ('unquoted', 'plain', None, UNINSTALL_KEY),
        ('quoted with an argument', 'plain', quoted, UNINSTALL_KEY),
        ('only under WOW6432Node', 'wow', None, UNINSTALL_KEY_WOW),
    ]
    rows = [(f'{name}, {mode[0]}', registration, string, key, mode)
            for name, registration, string, key in registrations for mode in (QUIET, ASKED)]

    def check(name, registration, uninstall_string, key, mode):
        fresh(env)
        folder = unicode_sample(env, CYRILLIC_FOLDER, registration, uninstall_string)
        _, args, answers, boxes = mode
        r = run_expecting(env, 0, boxes, args=args, answers=answers, language='en')
        assert r.acp == ACP['en'], r.acp
        assert_installed(env, folder, key)
        other = UNINSTALL_KEY if key == UNINSTALL_KEY_WOW else UNINSTALL_KEY_WOW
        assert env.reg_list(other) is None, f'a key was made under {other}'

    each_row(rows, check)


def test_install_folders_in_other_scripts_are_updated_where_the_code_page_lacks_them(env):
    # (name, interface language and its locale's code page, install folder)
    rows = [('Greek on a Russian system', 'ru', GREEK_FOLDER),
            ('Chinese on an English system', 'en', CHINESE_FOLDER)]

    def check(name, language, folder_win):
        fresh(env)
        folder = unicode_sample(env, folder_win)
        r = run_expecting(env, 0, [], args=['modest'], language=language)
        assert r.acp == ACP[language], r.acp
        assert_installed(env, folder)

    each_row(rows, check)


# What a user keeps inside the install folder: (path inside it, size in bytes, or None for a
# folder), made with CreateDirectoryW and CreateFileW.
USER_CONTENT = [
    ('Сохранения', None),
    ('Сохранения\\слот 1.sav', 2 * 1024 * 1024),
    ('Сохранения\\Ελληνικά', None),
    ('Сохранения\\Ελληνικά\\παιχνίδι.sav', 300_001),
    ('Αρχεία', None),
    ('Αρχεία\\σημειώσεις.txt', 12_345),
    ('журнал.txt', 54_321),
]


def make_user_content(env, folder_win):
    for relative, size in USER_CONTENT:
        path = folder_win + '\\' + relative
        op = ['make-folder', hex_text(path)] if size is None else \
            ['write-file', hex_text(path), str(size)]
        made = env.wintool(op)[0]
        assert made['ok'], (relative, made)


def test_names_in_other_scripts_inside_the_folder_are_counted_in_the_recorded_size(env):
    # The expected size is summed from what was made, not walked: the stand-in, its settings,
    # the payload and the user's files.
    rows = [('ASCII install folder', HOST_FOLDER), ('Cyrillic install folder', CYRILLIC_FOLDER)]

    def check(name, folder_win):
        fresh(env)
        folder = unicode_sample(env, folder_win)
        make_user_content(env, folder_win)
        made = sum(size for _, size in USER_CONTENT if size is not None)
        own = sum((folder / f).stat().st_size for f in (harness.HOST_EXE, 'standin.cfg'))
        expected_kib = (made + own + PAYLOAD.stat().st_size) >> 10
        run_expecting(env, 0, [], args=['modest'], language='en')
        assert payload_installed(folder), 'kvx.cok does not hold the payload'
        assert folder_size_kib(folder) == expected_kib, 'the folder holds more than was made'
        assert estimated_size(env) == ('REG_DWORD', expected_kib), \
            f'EstimatedSize {estimated_size(env)}, {expected_kib} KiB on disk'

    each_row(rows, check)


def test_the_guarded_package_asks_about_a_newer_file_naming_the_cyrillic_path(env):
    target = CYRILLIC_FOLDER + r'\kvx.cok'
    newer = cok_bytes(OLD_COK_VERSION + 100, size=9000)
    asked = [question(INSTALL_QUESTION['en']),
             question(older_question('en', target, str(OLD_COK_VERSION + 100), '367')),
             question(FINISH_QUESTION)]
    # (answer to the older-version question, exit code, whether the payload replaces it)
    rows = [('yes', 0, True), ('no', 8, False)]

    def check(answer, exit_code, replaced):
        fresh(env)
        folder = unicode_sample(env, CYRILLIC_FOLDER, old_cok=False)
        (folder / 'kvx.cok').write_bytes(newer)
        run_expecting(env, exit_code, asked, icons_of_first=2, exe=GUARDED_PACKAGE,
                      language='en', answers=['yes', answer, 'no'], timeout=60)
        if replaced:
            assert payload_installed(folder), 'the payload was not installed'
        else:
            assert (folder / 'kvx.cok').read_bytes() == newer, 'the newer file was replaced'
        assert not (folder / '~kvx.cok').exists(), 'the temporary file was left'

    each_row(rows, check)


def test_a_held_target_in_a_cyrillic_folder_is_reported_by_its_real_path(env):
    # Slow: the report comes after the replace has been retried for 10 s.
    fresh(env)
    folder = unicode_sample(env, CYRILLIC_FOLDER, config={'hold_file': 'kvx.cok',
                                                          'quit': 'ignore'})
    env.start_host(CYRILLIC_FOLDER)
    assert env.wait_host_event(folder, 'file_held', timeout=10) is not None, env.host_log(folder)
    report = error((TITLE['en'], cant_install('en', CYRILLIC_FOLDER + r'\kvx.cok')))
    run_expecting(env, 8, [report], args=['modest'], answers=['ok'], language='en')
    assert cok_version(folder / 'kvx.cok') == OLD_COK_VERSION, 'kvx.cok was replaced'
    assert sorted(p.name for p in folder.glob('*kvx*')) == ['kvx.cok'], 'a file was left'


def test_a_folder_another_program_holds_without_sharing_is_a_failed_write(env):
    # The update cannot hold the folder against renames, so it writes nothing there.
    fresh(env)
    folder = unicode_sample(env, HOST_FOLDER, config={'hold_folder': 1, 'memfile': 0,
                                                       'window': 0})
    env.start_host(HOST_FOLDER)
    assert env.wait_host_event(folder, 'folder_held', timeout=10) is not None, \
        env.host_log(folder)
    report = error((TITLE['en'], cant_install('en', HOST_FOLDER + r'\kvx.cok')))
    run_expecting(env, 8, [report], args=['modest'], answers=['ok'], language='en')
    assert cok_version(folder / 'kvx.cok') == OLD_COK_VERSION, 'kvx.cok was replaced'
    assert sorted(p.name for p in folder.glob('*kvx*')) == ['kvx.cok'], 'a file was left'


def test_modest_runapp_starts_the_host_from_a_cyrillic_folder(env):
    fresh(env)
    folder = unicode_sample(env, CYRILLIC_FOLDER)
    run_expecting(env, 0, [], args=['modest', 'runapp'], language='en')
    # The stand-in logs beside its own file: an entry there means it ran from this folder.
    assert env.wait_host_event(folder, 'started', timeout=15) is not None, env.host_log(folder)
    assert env.wait_host_event(folder, 'foreground', timeout=15) is not None, \
        env.host_log(folder)
    assert_installed(env, folder, leave_out=('standin.log',))


def test_two_runs_at_once_in_a_cyrillic_folder_both_install(env):
    # The two runs hold the same folder at once; the ASCII case is the collisions test's.
    for round_ in range(3):
        fresh(env)
        folder = unicode_sample(env, CYRILLIC_FOLDER)
        r = env.run(env.program('start_together'), ['2', env.win_path(PACKAGE), 'modest'],
                    locale=LOCALES['en'], output=True, timeout=60)
        assert (r.output.split(), boxes_of(r)) == (['exit=0', 'exit=0'], []), (round_, r)
        r.check()
        assert_installed(env, folder)


# The renamer's own folder, moved into the install folder's place if the rename succeeds.
OWN_FILES = {'~kvx.cok': b'the renamer\'s own temporary file',
             'kvx.cok': b'the renamer\'s own kvx.cok',
             'readme.txt': b'made by the user'}


def test_renaming_the_folder_away_while_the_write_waits_is_refused_and_the_run_installs(env):
    swap_while_the_write_waits(env)


def swap_while_the_write_waits(env, **run_options):
    """Runs the package under folder_swap against the sample installation and fails naming
    every way the swap reached the update."""
    fresh(env)
    folder = unicode_sample(env, HOST_FOLDER)
    own_win = HOST_FOLDER + '-own'
    own = Path(env.unix_path(own_win))
    own.mkdir()
    env.cleanup_path(own)
    for name, data in OWN_FILES.items():
        (own / name).write_bytes(data)
    moved_away = Path(env.unix_path(HOST_FOLDER + '-moved-away'))
    env.cleanup_path(moved_away)
    r = env.run(env.program('folder_swap'), [HOST_FOLDER, own_win, env.win_path(PACKAGE),
                                             'modest'], output=True, timeout=60, **run_options)
    steps = dict(line.split('=', 1) for line in r.output.splitlines() if '=' in line)
    problems = []
    if steps.get('temporary_seen') != '1':
        problems.append(f'the swap never saw the temporary file: {steps}')
    if steps.get('moved_away') != f'error {ERROR_SHARING_VIOLATION}':
        problems.append(f'the install folder was not held: moving it away gave '
                        f'{steps.get("moved_away")}, then putting the own folder in its place '
                        f'{steps.get("put_in_place")}')
    if steps.get('exit') != '0' or r.exit_code != 0 or r.timed_out:
        problems.append(f'the update exited with {steps.get("exit")} (folder_swap: '
                        f'{r.exit_code}, timed out: {r.timed_out})')
    if boxes_of(r):
        problems.append(f'boxes: {boxes_of(r)}')
    installed = (folder / 'kvx.cok').read_bytes() if (folder / 'kvx.cok').exists() else None
    if installed in OWN_FILES.values():
        problems.append(f'kvx.cok holds the renamer\'s own file: {installed!r}')
    elif not payload_installed(folder):
        problems.append('kvx.cok does not hold the payload')
    elif estimated_size(env) != ('REG_DWORD', folder_size_kib(folder)):
        problems.append(f'EstimatedSize {estimated_size(env)}, {folder_size_kib(folder)} KiB '
                        f'in the install folder')
    # Wherever the renamer's folder ended up, its files are there as it made them.
    where = folder if not own.exists() else own
    kept = {p.name: p.read_bytes() for p in where.iterdir() if p.name in OWN_FILES}
    if not own.exists() or kept != OWN_FILES:
        problems.append(f'the renamer\'s folder was moved or changed: '
                        f'{sorted(kept)} left of {sorted(OWN_FILES)} in {where.name}')
    left = sorted(str(p.relative_to(folder.parent)) for base in (folder, moved_away)
                  if base.exists() for p in base.glob('~kvx.cok'))
    if moved_away.exists() or left:
        problems.append(f'left behind: {left}, moved-away folder exists: {moved_away.exists()}')
    assert not problems, '\n'.join(problems) + f'\nswap output: {r.output!r}'


def test_an_install_folder_the_user_moved_elsewhere_behind_a_link_is_followed(env):
    # A program moved to another place with a link left at its old path: the link is the
    # user's choice, made before the run, and the update goes where it leads.
    fresh(env)
    moved_win = r'C:\Moved\Kestrane'
    moved = install_sample(env, folder=moved_win)
    env.cleanup_path(moved.parent)
    link = Path(env.unix_path(HOST_FOLDER))
    link.parent.mkdir(parents=True, exist_ok=True)
    link.symlink_to(moved)
    env.cleanup_path(link)
    env.reg_set(UNINSTALL_KEY, 'UninstallString', 'REG_SZ', HOST_FOLDER + r'\unins000.exe')
    run_expecting(env, 0, [], args=['modest'], language='en')
    assert link.is_symlink() and link.resolve() == moved.resolve(), 'the link was replaced'
    assert_installed(env, moved)
