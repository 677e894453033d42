"""Hostile surroundings: DLLs planted beside the program, registry values of the wrong type or
of great length, a missing or oversized "ComSpec" or "Temp", and damaged copies of the
installer's own file. Each must give the behaviour the installer promises or a clear message,
never a crash.

The planted DLL (tests/wine/planted/planted_dll.c) is built here with the mingw compiler. It
exports the functions the installer takes from version.dll and comctl32.dll, each failing, and
leaves "<dll>.loaded" beside itself when a process loads it. Wine prefers its own built-in
version.dll and comctl32.dll even to a file beside the program; an application-specific
override ("native,builtin") makes it load a planted file as Windows would.
"""

import shutil
import subprocess
from pathlib import Path

import harness

PLANTED_SOURCE = harness.REPO / 'tests' / 'wine' / 'planted' / 'planted_dll.c'
PLANTED_BUILD = harness.BUILD / 'planted'
PLANTED_NAMES = ('version.dll', 'comctl32.dll')
DOWNLOADS = r'C:\users\Public\Downloads\hardening'
SYSTEM32 = 'c:\\windows\\system32\\'


def planted_dll():
    """Builds the planted DLL once per source change; returns its path."""
    dll = PLANTED_BUILD / 'planted.dll'
    if not dll.exists() or dll.stat().st_mtime < PLANTED_SOURCE.stat().st_mtime:
        PLANTED_BUILD.mkdir(parents=True, exist_ok=True)
        subprocess.run(['x86_64-w64-mingw32-gcc', '-O2', '-Wall', '-shared', '-o', str(dll),
                        str(PLANTED_SOURCE)], check=True, timeout=120)
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
