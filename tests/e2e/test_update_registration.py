"""Where the update goes and where its size is recorded: the host's uninstall registration
in the 64-bit view, in its WOW6432Node mirror, in both, or nowhere."""

import harness
from update_support import (HOST_FOLDER, UNINSTALL_KEY, UNINSTALL_KEY_WOW, assert_updated,
                            estimated_size, install_sample, run_update)


@harness.smoke
def test_a_registration_only_in_the_mirror_is_updated_there_without_a_stray_key(env):
    folder = install_sample(env, registration='wow')
    r = run_update(env, args=['modest'])
    assert r.exit_code == 0
    assert_updated(env, folder, key=UNINSTALL_KEY_WOW)
    assert env.reg_list(UNINSTALL_KEY) is None, 'a key was created outside the registration'


def test_a_registration_in_both_views_uses_the_64_bit_one(env):
    folder = install_sample(env, registration='plain')
    other = r'C:\Other\Kestrane'
    env.reg_set(UNINSTALL_KEY_WOW, 'UninstallString', 'REG_SZ', other + r'\unins000.exe')
    r = run_update(env, args=['modest'])
    assert r.exit_code == 0
    assert_updated(env, folder, key=UNINSTALL_KEY)
    assert estimated_size(env, UNINSTALL_KEY_WOW) is None


def test_without_a_registration_the_program_files_folder_is_updated_and_registered(env):
    program_files = env.reg_get(r'HKLM\Software\Microsoft\Windows\CurrentVersion',
                                'ProgramFilesDir')
    folder = install_sample(env, folder=program_files.rstrip('\\') + '\\Kestrane',
                            registration=None)
    r = run_update(env, args=['modest'])
    assert r.exit_code == 0
    assert_updated(env, folder, key=UNINSTALL_KEY)
    assert env.reg_list(UNINSTALL_KEY_WOW) is None


def test_a_quoted_uninstall_command_with_arguments_is_updated_in_its_folder(env):
    folder = install_sample(env, uninstall_string=f'"{HOST_FOLDER}\\unins000.exe" /SILENT')
    r = run_update(env, args=['modest'])
    assert r.exit_code == 0
    assert_updated(env, folder)
