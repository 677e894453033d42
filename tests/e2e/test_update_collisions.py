"""What the quiet update meets beside the file it writes: another run started at the same
moment, leftovers and links at its temporary name "~kvx.cok", and a running host that holds
kvx.cok while it quits (or never lets go)."""

import os
from pathlib import Path

from update_support import (HOST_FOLDER, OLD_COK_VERSION, PACKAGE, TITLE, assert_boxes,
                            assert_updated, cant_install, cok_version, error, estimated_size,
                            folder_size_kib, install_sample, payload_installed, run_update)

# make test runs this many rounds of two runs started together; KESTRANE_TWIN_ROUNDS changes it.
TWIN_ROUNDS = int(os.environ.get('KESTRANE_TWIN_ROUNDS', '20'))
READ_ONLY, HIDDEN = 0x1, 0x2
TARGET = HOST_FOLDER + r'\kvx.cok'
TEMPORARY = HOST_FOLDER + r'\~kvx.cok'
REPLACE_RETRY_S = 10


def attributes(env, path_win):
    r = env.wintool(['attributes', path_win.encode().hex()])[0]
    assert r['error'] == 0, r
    return r['attributes']


def test_two_runs_started_together_both_install(env):
    # start_together creates both runs suspended and lets them go at once; the robot answers
    # (and reports) any box either of them shows.
    for round_ in range(TWIN_ROUNDS):
        env.reset()
        folder = install_sample(env)
        r = env.run(env.program('start_together'), ['2', env.win_path(PACKAGE), 'modest'],
                    output=True, timeout=60)
        assert_boxes(r, [])
        assert r.exit_code == 0 and r.output.split() == ['exit=0', 'exit=0'], (round_, r.output)
        assert payload_installed(folder), round_
        assert sorted(p.name for p in folder.iterdir() if p.name.startswith('~')) == [], round_
        # The run that recorded last measured the folder after both writes.
        assert estimated_size(env) == ('REG_DWORD', folder_size_kib(folder)), round_


def test_a_read_only_hidden_leftover_at_the_temporary_name_is_replaced(env):
    folder = install_sample(env)
    (folder / '~kvx.cok').write_bytes(b'left by a run that was killed')
    made = env.wintool(['set-attributes', TEMPORARY.encode().hex(), str(READ_ONLY | HIDDEN)])[0]
    assert made['ok'], made
    assert attributes(env, TEMPORARY) & (READ_ONLY | HIDDEN) == READ_ONLY | HIDDEN
    r = run_update(env, args=['modest'])
    assert_boxes(r, [])
    assert r.exit_code == 0, r
    assert_updated(env, folder)
    assert not (folder / '~kvx.cok').exists()
    # The installed file takes nothing over from the leftover: the next update can replace it.
    assert attributes(env, TARGET) & (READ_ONLY | HIDDEN) == 0, attributes(env, TARGET)


def test_a_link_at_the_temporary_name_is_neither_followed_nor_removed(env):
    folder = install_sample(env)
    victim = Path(env.tmp) / 'outside-victim.bin'
    victim.write_bytes(b'a file outside the install folder')
    env.cleanup_path(victim)
    link = folder / '~kvx.cok'
    link.symlink_to(victim)
    r = run_update(env, args=['modest'], answers=['ok'])
    assert_boxes(r, [error((TITLE['en'], cant_install('en', TARGET)))])
    assert r.exit_code == 8, r
    assert victim.read_bytes() == b'a file outside the install folder', 'written through it'
    assert link.is_symlink() and os.readlink(link) == str(victim), 'the link was removed'
    assert cok_version(folder / 'kvx.cok') == OLD_COK_VERSION, 'kvx.cok was replaced'
    assert not (folder / 'kvx.cok').is_symlink()


def start_holding_host(env, config):
    folder = install_sample(env, config=dict(config, hold_file='kvx.cok'))
    env.start_host(HOST_FOLDER)
    assert env.wait_host_event(folder, 'file_held', timeout=10) is not None, env.host_log(folder)
    return folder


def test_a_host_that_quits_a_second_after_being_asked_lets_the_quiet_run_install(env):
    folder = start_holding_host(env, {'quit_delay_ms': 1000})
    r = run_update(env, args=['modest'])
    assert_boxes(r, [])
    assert r.exit_code == 0, r
    assert env.host_events(folder, 'WM_QUIT'), env.host_log(folder)
    assert_updated(env, folder)
    assert not (folder / '~kvx.cok').exists()


def test_a_host_that_never_lets_go_is_reported_after_the_wait(env):
    folder = start_holding_host(env, {'quit': 'ignore'})
    r = run_update(env, args=['modest'], answers=['ok'])
    assert_boxes(r, [error((TITLE['en'], cant_install('en', TARGET)))])
    assert r.exit_code == 8, r
    # The report comes once the replace has been retried for its whole time.
    assert r.boxes[0].t_ms >= (REPLACE_RETRY_S - 0.5) * 1000, r.boxes[0].t_ms
    assert cok_version(folder / 'kvx.cok') == OLD_COK_VERSION
    assert sorted(p.name for p in folder.glob('*kvx*')) == ['kvx.cok'], 'a file was left'
