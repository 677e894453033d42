"""Every way the update run can fail, met for real: what the user sees in each interface
language, the exit code that tells the outcome, and what is left written."""

import re

from update_support import (FINISH_QUESTION, FULL_ACCESS_DACL, HOST_FOLDER, INSTALL_QUESTION,
                            LANGUAGES, PACKAGE, READ_ONLY_DACL, TITLE, UNINSTALL_KEY,
                            USER_SHELL_FOLDERS, assert_boxes, assert_nothing_changed,
                            cant_install, cok_version, error, error_box, estimated_size,
                            folder_size_kib, host_starts, install_sample, package_copy,
                            question, run_altered, run_update, set_key_dacl, OLD_COK_VERSION)


def test_a_user_shell_folder_of_the_wrong_type_reports_no_registry_access(env):
    original = env.reg_get(USER_SHELL_FOLDERS, 'Programs', with_type=True)
    try:
        env.reg_set(USER_SHELL_FOLDERS, 'Programs', 'REG_DWORD', 5)
        for language in LANGUAGES:
            env.reset()
            folder = install_sample(env)
            r = run_update(env, language=language, answers=['ok'])
            assert_boxes(r, [error(error_box('no_registry', language))])
            assert r.exit_code == 2, (language, r.exit_code)
            assert_nothing_changed(env, folder)
    finally:
        if original is None:
            env.reg_delete_value(USER_SHELL_FOLDERS, 'Programs')
        else:
            env.reg_set(USER_SHELL_FOLDERS, 'Programs', original[0], original[1])


def test_a_user_without_administrator_rights_is_refused(env):
    # A token the process cannot query makes IsUserAnAdmin false without any change to the
    # package: Wine gives every process the Administrators group otherwise.
    for language in LANGUAGES:
        env.reset()
        folder = install_sample(env)
        r = run_altered(env, 'token-unqueryable', PACKAGE, language=language, answers=['ok'])
        assert_boxes(r, [error(error_box('no_rights', language))])
        assert r.exit_code == 3, (language, r.exit_code)
        assert_nothing_changed(env, folder)


def test_a_package_whose_file_is_gone_after_start_cannot_be_checked(env):
    # The package's file is renamed once it is loaded: it cannot open its own file any more.
    for language in LANGUAGES:
        env.reset()
        folder = install_sample(env)
        copy = package_copy(env, 'KestraneUpdate.exe')
        r = run_altered(env, 'image-moved', copy, language=language, answers=['ok'])
        assert_boxes(r, [error(error_box('unreadable', language))])
        assert r.exit_code == 4, (language, r.exit_code)
        assert_nothing_changed(env, folder)
        assert copy.exists(), 'the package was not put back under its name'


def test_a_host_that_is_not_installed_is_reported(env):
    # (situation, registered uninstall command or None for the usual one, Kestrane.exe there,
    #  current folder of the run)
    rows = [
        ('no Kestrane.exe in the registered folder', None, False, None),
        ('registered folder missing', r'C:\Nowhere\Kestrane\unins000.exe', True, None),
        # No folder to cut back to: the current folder, which holds a Kestrane.exe here, must
        # not stand in for it.
        ('uninstall command without a folder', 'unins000.exe', True, HOST_FOLDER),
    ]
    # The rows take turns with the interface language, so both are seen.
    for (situation, uninstall_string, with_exe, cwd), language in zip(rows, LANGUAGES * 2):
        env.reset()
        folder = install_sample(env, uninstall_string=uninstall_string)
        if not with_exe:
            (folder / 'Kestrane.exe').unlink()
        r = run_update(env, language=language, answers=['ok'], cwd=cwd)
        assert_boxes(r, [error(error_box('not_installed', language))])
        assert r.exit_code == 6, (situation, language, r.exit_code)
        assert_nothing_changed(env, folder)


def test_a_payload_the_host_holds_is_reported_and_the_run_goes_on(env):
    # The host ignores the request to quit and keeps kvx.cok open without write sharing.
    for language in LANGUAGES:
        env.reset()
        folder = install_sample(env, config={'hold_file': 'kvx.cok', 'quit': 'ignore'})
        env.start_host(HOST_FOLDER)
        assert env.wait_host_event(folder, 'file_held', timeout=10) is not None
        r = run_update(env, language=language, answers=['yes', 'ok', 'no'])
        target = HOST_FOLDER + '\\kvx.cok'
        assert_boxes(r, [question(INSTALL_QUESTION[language]),
                         error((TITLE[language], cant_install(language, target))),
                         question(FINISH_QUESTION)])
        assert r.exit_code == 8, (language, r.exit_code)
        assert cok_version(folder / 'kvx.cok') == OLD_COK_VERSION
        assert sorted(p.name for p in folder.glob('*kvx*')) == ['kvx.cok'], 'a file was left'
        # The size is refreshed all the same; the running host's log grows meanwhile.
        kind, size = estimated_size(env)
        assert kind == 'REG_DWORD'
        assert folder_size_kib(folder, ('standin.log',)) <= size <= folder_size_kib(folder)
        assert env.host_events(folder, 'quit_ignored'), 'the host was not asked to quit'


def test_a_size_that_cannot_be_recorded_ends_through_the_application_error_box(env):
    # No registration, so the size goes to Uninstall\Kestrane, which exists and may only be
    # read: the write fails and nothing in the run catches it.
    program_files = env.reg_get(r'HKLM\Software\Microsoft\Windows\CurrentVersion',
                                'ProgramFilesDir')
    folder_win = program_files.rstrip('\\') + '\\Kestrane'
    folder = install_sample(env, folder=folder_win, registration=None)
    env.reg_set(UNINSTALL_KEY, 'DisplayName', 'REG_SZ', 'Kestrane')
    set_key_dacl(env, UNINSTALL_KEY, READ_ONLY_DACL)
    try:
        r = run_update(env, language='ru', answers=['yes', 'ok'])
    finally:
        set_key_dacl(env, UNINSTALL_KEY, FULL_ACCESS_DACL)
    r.check()
    assert len(r.boxes) == 2, r.boxes
    caption, text = r.boxes[1].unicode_caption, r.boxes[1].unicode_text
    assert caption == 'Application Error', caption
    assert re.fullmatch(r"Exception RegistryError in module KestraneUpdate\.exe at [0-9A-Fa-f]+\."
                        r"\r\nFailed to set data for 'EstimatedSize'\.\r\n", text), repr(text)
    assert r.exit_code == 1
    assert estimated_size(env) is None


def test_an_error_in_the_start_up_step_ends_through_the_application_error_box(env):
    # On Windows 6.x the start-up step reads the system's product name; a value of another
    # type raises an error before the update run begins.
    key, name = r'HKLM\Software\Microsoft\Windows NT\CurrentVersion', 'ProductName'
    folder = install_sample(env)
    original = env.reg_get(key, name, with_type=True)
    try:
        env.reg_set(key, name, 'REG_DWORD', 7)
        r = run_update(env, language='en', answers=['ok'])
    finally:
        env.reg_set(key, name, original[0], original[1])
    r.check()
    assert [b.unicode_caption for b in r.boxes] == ['Application Error'], r.boxes
    text = r.boxes[0].unicode_text
    assert re.fullmatch(r"Exception RegistryError in module KestraneUpdate\.exe at [0-9A-Fa-f]+\."
                        r"\r\nInvalid data type for 'ProductName'\.\r\n", text), repr(text)
    assert r.exit_code == 1
    assert_nothing_changed(env, folder)


def test_a_host_that_cannot_start_ends_the_run_without_a_word(env):
    folder = install_sample(env)
    (folder / 'Kestrane.exe').write_bytes(b'MZ this is not a program')
    r = run_update(env, args=['modest', 'runapp'])
    assert_boxes(r, [])
    assert r.exit_code == 0
    assert not host_starts(env, folder, timeout=0.5)
