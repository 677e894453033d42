"""Hostile surroundings: DLLs planted beside the program, registry values of the wrong type or
of great length, the user's "ComSpec", "Temp" and "TMP" naming a planted program, a watched
folder or a command, and damaged copies of the installer's own file. Each must give the behaviour the installer promises or a clear message,
never a crash.

The planted DLL (tests/wine/planted/planted_dll.c) is built here with the mingw compiler. It
exports the functions the installer takes from version.dll and comctl32.dll, each failing, and
leaves "<dll>.loaded" beside itself when a process loads it and "<dll>.called" when one of its
functions is called. Wine prefers its own built-in version.dll and comctl32.dll even to a file
beside the program; an application-specific override ("native,builtin") makes it load a
planted file as Windows would. Wine's own user32 imports version.dll (Windows' does not), so
under that override every GUI program has the planted version.dll loaded before its first
instruction: for the installer, what counts is that none of its functions is ever called.
"""

import re
import shutil
import subprocess
from pathlib import Path

import harness
from update_support import (HOST_FOLDER, INSTALL_QUESTION, FINISH_QUESTION, PACKAGE,
                            assert_boxes, assert_nothing_changed, assert_updated, error,
                            error_box, install_sample, package_copy, question, run_update)

PLANTED_SOURCE = harness.REPO / 'tests' / 'wine' / 'planted' / 'planted_dll.c'
# The planted DLLs must be of the kind of process they are planted for: a 64-bit DLL beside a
# 32-bit program would be refused by the loader and prove nothing.
PLANTED_BUILD = harness.BUILD / 'planted' / harness.target.arch
PLANTED_COMPILER = {'x86': 'i686-w64-mingw32-gcc', 'x64': 'x86_64-w64-mingw32-gcc'}
PLANTED_NAMES = ('version.dll', 'comctl32.dll')
DOWNLOADS = r'C:\users\Public\Downloads\hardening'
SYSTEM32 = 'c:\\windows\\system32\\'


def planted_dll():
    """Builds the planted DLL for the target once per source change; returns its path."""
    dll = PLANTED_BUILD / 'planted.dll'
    if not dll.exists() or dll.stat().st_mtime < PLANTED_SOURCE.stat().st_mtime:
        PLANTED_BUILD.mkdir(parents=True, exist_ok=True)
        subprocess.run([PLANTED_COMPILER[harness.target.arch], '-O2', '-Wall', '-shared', '-o',
                        str(dll), str(PLANTED_SOURCE)], check=True, timeout=120)
    return dll


def plant(env, program, names=PLANTED_NAMES):
    """Copies the program into a fresh download folder with the planted DLLs beside it and has
    Wine load DLLs from there as Windows would. Returns (folder, program copy), Unix paths."""
    folder = env.unix_path(DOWNLOADS)
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir(parents=True)
    env.cleanup_path(folder)
    copy = folder / Path(program).name
    shutil.copyfile(program, copy)
    for name in names:
        shutil.copyfile(planted_dll(), folder / name)
    key = rf'HKCU\Software\Wine\AppDefaults\{copy.name}\DllOverrides'
    env.cleanup_key(rf'HKCU\Software\Wine\AppDefaults\{copy.name}')
    env.reg_set_many([(key, Path(n).stem, 'REG_SZ', 'native,builtin') for n in names])
    return folder, copy


def markers(folder):
    """The planted DLLs some process loaded, by name."""
    return sorted(p.name[:-len('.loaded')] for p in Path(folder).glob('*.loaded'))


def planted_calls(folder):
    """The functions of planted DLLs that were called, as 'dll!function'."""
    return sorted(f'{p.name[:-len(".called")]}!{line}' for p in Path(folder).glob('*.called')
                  for line in p.read_text().splitlines() if line)


def probe(env, folder, copy, *steps):
    """Runs library_probe with the steps, in its download folder; returns {step name: module
    file} from its output lines "<step> <name> <found> <module>"."""
    r = env.run_console(copy, steps, cwd=folder)
    assert r.exit_code == 0, f'library_probe {steps}: exit {r.exit_code}: {r.stdout}{r.stderr}'
    modules = {}
    for line in r.stdout.splitlines():
        step, name, found, module = line.split(' ', 3)
        modules[f'{step} {name}'] = module.strip() if found == '1' else None
    return modules


# ---- DLL planting, through the installer's own lookup ----

def test_planted_dlls_are_what_an_unguarded_bare_name_load_takes(env):
    # The control: without the lock-down a bare name finds the planted files, and the marker
    # shows it, so the tests below would see a planted DLL being loaded.
    folder, copy = plant(env, env.program('library_probe'))
    modules = probe(env, folder, copy, '--no-lockdown', '--bare', 'version.dll',
                    '--bare', 'comctl32.dll')
    for name in PLANTED_NAMES:
        assert modules[f'bare {name}'].lower() == f'{DOWNLOADS}\\{name}'.lower(), modules
    assert markers(folder) == sorted(PLANTED_NAMES)


def test_system_function_takes_version_and_common_controls_from_the_system_folder(env):
    folder, copy = plant(env, env.program('library_probe'))
    lookups = [('version.dll', 'GetFileVersionInfoSizeA'), ('version.dll', 'GetFileVersionInfoA'),
               ('version.dll', 'VerQueryValueA'), ('comctl32.dll', 'InitCommonControls')]
    steps = [word for dll, function in lookups for word in ('--system', dll, function)]
    modules = probe(env, folder, copy, *steps)
    for dll, function in lookups:
        assert modules[f'system {dll}!{function}'].lower() == SYSTEM32 + dll, modules
    assert markers(folder) == []


def test_lock_down_keeps_bare_name_loads_out_of_the_program_folder(env):
    folder, copy = plant(env, env.program('library_probe'))
    modules = probe(env, folder, copy, '--bare', 'version.dll', '--bare', 'comctl32.dll')
    for name in PLANTED_NAMES:
        assert modules[f'bare {name}'].lower() == SYSTEM32 + name, modules
    assert markers(folder) == []


def test_a_planted_module_loaded_by_other_code_is_not_used(env):
    # Some other code loaded the planted file by its full path first; a lookup by the bare
    # name must not hand out its functions.
    folder, copy = plant(env, env.program('library_probe'))
    for dll, function in (('version.dll', 'GetFileVersionInfoSizeA'),
                          ('comctl32.dll', 'InitCommonControls')):
        modules = probe(env, folder, copy, '--preload', f'{DOWNLOADS}\\{dll}',
                        '--system', dll, function)
        assert modules[f'preload {DOWNLOADS}\\{dll}'] is not None, modules
        assert modules[f'system {dll}!{function}'].lower() == SYSTEM32 + dll, modules


def test_system_function_refuses_paths_and_reports_what_is_missing(env):
    folder, copy = plant(env, env.program('library_probe'))
    lookups = [(f'{DOWNLOADS}\\version.dll', 'GetFileVersionInfoSizeA'),
               (r'..\version.dll', 'GetFileVersionInfoSizeA'),
               ('nosuch.dll', 'Anything'),
               ('version.dll', 'NoSuchFunction')]
    steps = [word for dll, function in lookups for word in ('--system', dll, function)]
    modules = probe(env, folder, copy, *steps)
    for dll, function in lookups:
        assert modules[f'system {dll}!{function}'] is None, modules
    assert markers(folder) == []


# ---- DLL planting, the installer itself ----

def test_the_installer_never_loads_common_controls_or_calls_a_planted_dll(env):
    for args, answers in (([], ['yes', 'no']), (['modest'], [])):
        env.reset()
        host = install_sample(env)
        folder, copy = plant(env, PACKAGE)
        r = run_update(env, exe=copy, args=args, answers=answers, cwd=folder)
        r.check()
        assert r.exit_code == 0, (args, r)
        assert_updated(env, host)
        assert 'comctl32.dll' not in markers(folder), args
        assert planted_calls(folder) == [], args


def test_a_guarded_package_reads_versions_and_shows_its_window_through_the_real_dlls(env):
    # The package installs an executable over a newer one: reading both versions needs
    # version.dll, and the progress window after the question needs common controls. The
    # question can only name both versions when the real functions answered.
    from test_guarded import OLDER_CAPTION, ProgressWatch, guarded_package, older_question
    new_exe = env.program('version_en').read_bytes()  # FileVersion 1.0.3.12
    installed = env.program('version_ru').read_bytes()  # FileVersion 2.5.0.17
    package = guarded_package('tool.exe', new_exe, 367)
    host = install_sample(env)
    (host / 'tool.exe').write_bytes(installed)
    folder, copy = plant(env, package)
    watch = ProgressWatch(env)
    r = watch.run(copy, answers=['yes', 'yes', 'no'], cwd=folder, timeout=60, grace=0.5)
    r.check()
    target = HOST_FOLDER + '\\tool.exe'
    assert r.boxes[1].unicode_text == older_question('en', target, '2.5.0.17', '1.0.3.12')[1]
    assert r.boxes[1].unicode_caption == OLDER_CAPTION['en']
    assert r.exit_code == 0, r.exit_code
    assert (host / 'tool.exe').read_bytes() == new_exe
    assert watch.seen_visible, 'the progress window did not come up after the question'
    assert 'comctl32.dll' not in markers(folder)
    assert planted_calls(folder) == []


# ---- registry values of the wrong type or of great length ----

CURRENT_VERSION = r'HKLM\Software\Microsoft\Windows\CurrentVersion'
NT_CURRENT_VERSION = r'HKLM\Software\Microsoft\Windows NT\CurrentVersion'
MACHINE_SHELL_FOLDERS = CURRENT_VERSION + r'\Explorer\Shell Folders'
USER_SHELL_FOLDERS = r'HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\Shell Folders'
HUGE = 100_000


class changed_value:
    """Sets a registry value for the length of a with-block and puts back what was there."""

    def __init__(self, env, key, name, type_, value):
        self.env, self.key, self.name, self.type_, self.value = env, key, name, type_, value

    def __enter__(self):
        self.original = self.env.reg_get(self.key, self.name, with_type=True)
        self.env.reg_set(self.key, self.name, self.type_, self.value)

    def __exit__(self, *exc):
        if self.original is None:
            self.env.reg_delete_value(self.key, self.name)
        else:
            self.env.reg_set(self.key, self.name, *self.original)
        assert self.env.reg_get(self.key, self.name, with_type=True) == self.original


def application_error(result, name):
    """Checks that the run ended through the top-level handler over the value's type."""
    result.check()
    assert [b.unicode_caption for b in result.boxes] == ['Application Error'], result.boxes
    text = result.boxes[0].unicode_text
    assert re.fullmatch(r"Exception RegistryError in module [\w.]+\.exe at [0-9A-Fa-f]+\.\r\n"
                        rf"Invalid data type for '{name}'\.\r\n", text), repr(text)
    assert result.exit_code == 1, result.exit_code


def test_values_of_the_wrong_type_end_through_the_application_error_box(env):
    # Nothing guards these reads: the error reaches the top-level handler, which says which
    # value it was, and nothing is written.
    rows = [
        # key, value name, type, data
        (NT_CURRENT_VERSION, 'ProductName', 'REG_BINARY', b'Windows 7\x00\xff'),
        (CURRENT_VERSION, 'ProgramFilesDir', 'REG_DWORD', 0x43),
        (CURRENT_VERSION, 'ProgramFilesDir', 'REG_MULTI_SZ', ['C:\\Program Files', 'D:\\']),
        (MACHINE_SHELL_FOLDERS, 'Common Desktop', 'REG_QWORD', 1),
        (harness.UNINSTALL_KEY, 'UninstallString', 'REG_DWORD', 5),
        (harness.UNINSTALL_KEY, 'UninstallString', 'REG_BINARY', b'C:\\Games\\Kestrane\\u.exe'),
    ]
    for key, name, type_, data in rows:
        env.reset()
        host = install_sample(env)
        with changed_value(env, key, name, type_, data):
            r = run_update(env, answers=['ok'])
        application_error(r, name)
        assert_nothing_changed(env, host)


def test_a_user_shell_folder_of_great_length_is_read_whole(env):
    # The user's shell folders are read in the one guarded step; a long value is no failure.
    host = install_sample(env)
    with changed_value(env, USER_SHELL_FOLDERS, 'Desktop', 'REG_SZ', 'C:\\' + 'd' * HUGE):
        r = run_update(env, args=['modest'])
    assert_boxes(r, [])
    assert r.exit_code == 0
    assert_updated(env, host)


def test_a_product_name_of_great_length_is_read_whole(env):
    host = install_sample(env)
    with changed_value(env, NT_CURRENT_VERSION, 'ProductName', 'REG_SZ', 'W' * HUGE):
        r = run_update(env, args=['modest'])
    assert_boxes(r, [])
    assert r.exit_code == 0
    assert_updated(env, host)


def test_an_uninstall_command_of_great_length_is_cut_to_its_folder_or_refused(env):
    deep = 'C:\\' + ('d' * 200 + '\\') * (HUGE // 201 + 1) + 'unins000.exe'
    rows = [
        # what the command holds, the command, updated?
        ('the host folder, then a file name of 100,000 characters',
         HOST_FOLDER + '\\' + 'u' * HUGE, True),
        ('a folder of 100,000 characters', deep, False),
        ('100,000 characters without a backslash', 'u' * HUGE, False),
        ('100,000 backslashes', '\\' * HUGE, False),
    ]
    for what, command, updated in rows:
        assert len(command) >= HUGE, what
        env.reset()
        host = install_sample(env, uninstall_string=command)
        if updated:
            r = run_update(env, args=['modest'])
            assert_boxes(r, [])
            assert r.exit_code == 0, (what, r.exit_code)
            assert_updated(env, host)
        else:
            r = run_update(env, answers=['ok'])
            assert_boxes(r, [error(error_box('not_installed', 'en'))])
            assert r.exit_code == 6, (what, r.exit_code)
            assert_nothing_changed(env, host)


def test_a_program_files_folder_of_great_length_leaves_a_registered_host_alone(env):
    # The default folder only matters without a registration; with one it is never used.
    host = install_sample(env)
    with changed_value(env, CURRENT_VERSION, 'ProgramFilesDir', 'REG_SZ', 'C:\\' + 'p' * HUGE):
        r = run_update(env, args=['modest'])
    assert_boxes(r, [])
    assert r.exit_code == 0
    assert_updated(env, host)


# ---- the user's "ComSpec", "Temp" and "TMP" ----
#
# Any program of the user can set these under HKCU\Environment, where they override the
# system's values for every program the user starts, the elevated installer included. The
# installer used to run "ver" through the interpreter ComSpec named, with its output in a file
# in Temp; now it learns the version without either. The runs are told Windows 10, where every
# start used to run "ver".

SPY_LOG = 'C:\\interpreter-spy.log'
USER_ENVIRONMENT = r'HKCU\Environment'
WATCHED = 'C:\\users\\Public\\watched-temp'


def run_with_environment(env, changes, args=('modest',), cwd=None, answers=()):
    """Runs the package through with_environment with the changes, a list of word lists
    (['unset', 'Temp'], ['set', 'ComSpec', path], ['pad', 'ComSpec', '300']), on a system
    told Windows 10, where the start-up step once ran "ver"."""
    env.set_windows_version('win10')
    words = [w for change in changes for w in change]
    return env.run(env.program('with_environment'),
                   args=words + ['set', 'KESTRANE_SPY_LOG', SPY_LOG, '--',
                                 env.win_path(PACKAGE)] + list(args),
                   answers=answers, cwd=cwd, timeout=40)


def spy_runs(env):
    """The command lines the interpreter spy was started with, and the log removed."""
    log = env.unix_path(SPY_LOG)
    env.cleanup_path(log)
    try:
        lines = log.read_text(encoding='latin-1').splitlines()
    except FileNotFoundError:
        return []
    log.unlink()
    return [line for line in lines if line]


def spy_path(env):
    """The spy's path inside the prefix: a short one, so that padding can pass 260."""
    spy = env.unix_path('C:\\spy.exe')
    shutil.copyfile(env.program('interpreter_spy'), spy)
    env.cleanup_path(spy)
    return 'C:\\spy.exe'


def run_as_the_user_starts_it(env):
    """Runs the package with "modest" as a program the user starts afresh: Wine builds its
    environment from the registry, HKCU\\Environment included. (A program the robot starts
    inherits the robot's environment instead, fixed when the robot started.) Returns the exit
    code; a box would hold the run until the timeout."""
    r = env.run_console(PACKAGE, ['modest'], timeout=60)
    assert not r.timed_out, 'the run did not end (a box?)'
    return r.exit_code


def seen_by_a_new_program(env, name):
    """The value of an environment variable in a program the user starts now (the control
    that the values set below reach the installer)."""
    r = env.run_console('cmd', ['/c', 'set'])
    prefix = name.upper() + '='
    return next((line[len(prefix):] for line in r.stdout.splitlines()
                 if line.upper().startswith(prefix)), None)


class user_environment:
    """Sets values under HKCU\\Environment for the length of a with-block, as a program of the
    user can, and puts back what was there."""

    def __init__(self, env, values):
        self.changes = [changed_value(env, USER_ENVIRONMENT, name, 'REG_SZ', value)
                        for name, value in values.items()]

    def __enter__(self):
        for change in self.changes:
            change.__enter__()

    def __exit__(self, *exc):
        for change in reversed(self.changes):
            change.__exit__(*exc)


def watched_folder(env):
    """A folder with one file in it, and a snapshot of both: (Unix folder, snapshot()). The
    folder's own time changes when anything in it is made, renamed or deleted; the file's
    when it is written."""
    folder = env.unix_path(WATCHED)
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir(parents=True)
    env.cleanup_path(folder)
    (folder / 'canary.txt').write_bytes(b'canary')

    def snapshot():
        return (folder.stat().st_mtime_ns, sorted(p.name for p in folder.iterdir()),
                (folder / 'canary.txt').stat().st_mtime_ns, (folder / 'canary.txt').read_bytes())
    return folder, snapshot


def test_the_users_comspec_naming_a_planted_program_never_starts_it(env):
    for comspec in ('C:\\spy.exe', 'C:\\spy.exe /k', 'C:\\spy.exe' + ' ' * 300):
        env.reset()
        env.set_windows_version('win10')
        host = install_sample(env)
        spy_runs(env)
        with user_environment(env, {'ComSpec': comspec.replace('C:\\spy.exe', spy_path(env)),
                                    'KESTRANE_SPY_LOG': SPY_LOG}):
            assert seen_by_a_new_program(env, 'ComSpec').startswith('C:\\spy.exe')
            exit_code = run_as_the_user_starts_it(env)
        assert exit_code == 0, (comspec, exit_code)
        assert_updated(env, host)
        assert spy_runs(env) == [], comspec


def test_the_users_temp_folder_sees_nothing_made_written_or_deleted(env):
    env.set_windows_version('win10')
    host = install_sample(env)
    folder, snapshot = watched_folder(env)
    with user_environment(env, {'Temp': WATCHED, 'TMP': WATCHED}):
        assert seen_by_a_new_program(env, 'Temp') == WATCHED
        before = snapshot()
        exit_code = run_as_the_user_starts_it(env)
    assert exit_code == 0
    assert_updated(env, host)
    assert snapshot() == before, 'the run touched the watched temp folder'


def test_a_temp_value_carrying_a_quote_and_a_command_never_runs_it(env):
    env.set_windows_version('win10')
    host = install_sample(env)
    spy_runs(env)
    spy = spy_path(env)
    command = f'C:\\t" & {spy} & rem "'
    with user_environment(env, {'Temp': command, 'TMP': command, 'KESTRANE_SPY_LOG': SPY_LOG}):
        assert seen_by_a_new_program(env, 'Temp') == command
        exit_code = run_as_the_user_starts_it(env)
    assert exit_code == 0
    assert_updated(env, host)
    assert spy_runs(env) == []


def test_comspec_of_any_length_starts_nothing(env):
    # Once 259 characters named the interpreter that ran "ver" and 260 counted as none; now no
    # length starts anything.
    rows = [[], [['pad', 'ComSpec', '259']], [['pad', 'ComSpec', '260']],
            [['pad', 'ComSpec', '32000']]]
    for changes in rows:
        env.reset()
        host = install_sample(env)
        spy_runs(env)
        r = run_with_environment(env, [['set', 'ComSpec', spy_path(env)]] + changes)
        assert_boxes(r, [])
        assert r.exit_code == 0, (changes, r.exit_code)
        assert_updated(env, host)
        assert spy_runs(env) == [], changes


def test_without_comspec_the_run_goes_on_without_ver(env):
    host = install_sample(env)
    r = run_with_environment(env, [['unset', 'ComSpec']], args=(), answers=['yes', 'no'])
    assert_boxes(r, [question(INSTALL_QUESTION['en']), question(FINISH_QUESTION)])
    assert r.exit_code == 0
    assert_updated(env, host)


def test_without_temp_nothing_is_made_in_the_current_folder(env):
    host = install_sample(env)
    work = env.unix_path('C:\\hardening-cwd')
    work.mkdir(exist_ok=True)
    env.cleanup_path(work)
    spy_runs(env)
    r = run_with_environment(env, [['unset', 'Temp'], ['unset', 'TMP'],
                                   ['set', 'ComSpec', spy_path(env)]], cwd='C:\\hardening-cwd')
    assert_boxes(r, [])
    assert r.exit_code == 0
    assert_updated(env, host)
    assert spy_runs(env) == []
    assert list(work.iterdir()) == [], 'the run left a file in the current folder'


def test_a_temp_folder_too_long_for_a_path_leaves_the_run_unharmed(env):
    for length in ('300', '32000'):
        env.reset()
        host = install_sample(env)
        r = run_with_environment(env, [['set', 'Temp', 'C:\\t'], ['pad', 'Temp', length]])
        assert_boxes(r, [])
        assert r.exit_code == 0, (length, r.exit_code)
        assert_updated(env, host)


# ---- the installer's own file, damaged ----

SEAL_TOOL = harness.BUILD / 'native' / 'kestrane-seal'
DATA_DIRECTORY = {'certificate': 4, 'debug': 6}


def u32(data, offset):
    return int.from_bytes(data[offset:offset + 4], 'little')


def put32(data, offset, value):
    data[offset:offset + 4] = (value & 0xFFFFFFFF).to_bytes(4, 'little')


def pe_offsets(data):
    """Offsets of the fields the damage below touches: (PE header, first section header,
    data directory)."""
    pe = u32(data, 0x3C)
    optional = pe + 24
    plus = int.from_bytes(data[optional:optional + 2], 'little') == 0x20B
    optional_size = int.from_bytes(data[pe + 20:pe + 22], 'little')
    return pe, optional + optional_size, optional + (112 if plus else 96)


def damaged(kind, data):
    """A copy of the package's bytes with one kind of damage a loader may let pass."""
    data = bytearray(data)
    pe, section, directory = pe_offsets(data)
    size = len(data)
    if kind == 'no seal':
        data[0x1C:0x3C] = bytes(32)
    elif kind == 'certificate table past the end':
        entry = directory + 8 * DATA_DIRECTORY['certificate']
        put32(data, entry, (size + 4096) & ~7)
        put32(data, entry + 4, 4096)
    elif kind == 'certificate table of 4 GiB':
        entry = directory + 8 * DATA_DIRECTORY['certificate']
        put32(data, entry, size & ~7)
        put32(data, entry + 4, 0xFFFFFFF8)
    elif kind == 'symbol table past the end':
        put32(data, pe + 12, 0xFFFFFF00)
        put32(data, pe + 16, 0x10000000)
    elif kind == 'debug directory past the end':
        entry = directory + 8 * DATA_DIRECTORY['debug']
        put32(data, entry, 0x7FFFFFF0)
        put32(data, entry + 4, 0x1C)
    elif kind == 'bytes appended':
        data += b'\0' * 4096
    elif kind == 'header offset past the end':
        put32(data, 0x3C, size + 64)
    elif kind == 'section data past the end':
        put32(data, section + 20, size + 4096)
    else:
        raise ValueError(kind)
    return bytes(data)


LOADABLE_DAMAGE = ('no seal', 'certificate table past the end', 'certificate table of 4 GiB',
                   'symbol table past the end', 'debug directory past the end', 'bytes appended')
# The loader refuses these itself before the installer could look (Windows says error 193;
# Wine says 193 or, for a header past the end, 3). Where wine32 is installed, Wine may hand a
# file no loader takes to its other loader, which starts and ends with an NT status instead.
UNLOADABLE_DAMAGE = ('header offset past the end', 'section data past the end')


def seal_verify(path):
    r = subprocess.run([str(SEAL_TOOL), '--verify', str(path)], capture_output=True, timeout=60)
    return r.returncode, (r.stdout + r.stderr).decode(errors='replace')


def test_the_sealing_tool_calls_every_damaged_or_tiny_file_distorted(env):
    # Files too small or too broken to be started at all are checked the same way the
    # installer checks itself, through the publisher's tool; it must give a verdict, never
    # crash (a signal gives a negative code).
    package = PACKAGE.read_bytes()
    assert seal_verify(PACKAGE) == (0, seal_verify(PACKAGE)[1])
    rows = [(kind, damaged(kind, package)) for kind in LOADABLE_DAMAGE + UNLOADABLE_DAMAGE]
    rows += [('empty', b''), ('MZ alone', b'MZ'), ('five bytes', b'MZ\x90\x00\x03'),
             ('a DOS header of zeros', bytes(64)), ('one MiB of zeros', bytes(1 << 20)),
             ('a DOS header alone', package[:64]), ('headers alone', package[:4096])]
    work = Path(env.tmp) / 'seal-verify'
    work.mkdir(exist_ok=True)
    for kind, data in rows:
        path = work / 'damaged.exe'
        path.write_bytes(data)
        code, output = seal_verify(path)
        assert code == 1, (kind, code, output)
        assert 'distorted' in output, (kind, output)
        path.unlink()


def test_a_damaged_package_reports_distortion_and_writes_nothing(env):
    package = PACKAGE.read_bytes()
    rows = [(kind, True) for kind in LOADABLE_DAMAGE] + \
           [(kind, False) for kind in UNLOADABLE_DAMAGE]
    for (kind, loadable), language in zip(rows, ('en', 'ru') * len(rows)):
        env.reset()
        host = install_sample(env)
        copy = package_copy(env, 'damaged.exe')
        copy.write_bytes(damaged(kind, package))
        r = run_update(env, exe=copy, language=language, answers=['ok'])
        if loadable:
            assert_boxes(r, [error(error_box('distorted', language))])
            assert r.exit_code == 5, (kind, r.exit_code)
        else:
            # What the user meets either way: no box from the installer, a failure.
            assert r.boxes == [], (kind, r)
            assert r.start_error is not None or r.exit_code not in (0, None), (kind, r)
        assert_nothing_changed(env, host)
