"""The harness itself: the robot reads and answers boxes exactly, flags boxes the script did
not expect and answers no box asked for; the stand-in host behaves as configured; the
registry and path helpers round-trip."""

import struct
import time
from pathlib import Path

import harness
from harness import HarnessError

PROGRAM_FILES_HOST = r'C:\Program Files\Kestrane'
TITLE_RUSSIAN = 'Обновление программы "Кестрейн"'
TITLE_ENGLISH = 'Kestrane update'
ENGLISH = 'The file could not be written: disk full.'
RUSSIAN = 'Не удалось записать файл: диск заполнен.'


def _report(env, locale, answers=('ok',), **kw):
    args = [ENGLISH.encode('cp1251').hex(), RUSSIAN.encode('cp1251').hex()]
    return env.run(env.program('report_probe'), args, locale=locale, answers=answers, **kw)


# ---- the robot reads exactly what a box shows ----

def test_error_box_speaks_only_the_language_of_the_locale(env):
    rows = [
        # locale,         caption,       text,    text that must not appear
        ('ru_RU.UTF-8', TITLE_RUSSIAN, RUSSIAN, ENGLISH),
        ('uk_UA.UTF-8', TITLE_RUSSIAN, RUSSIAN, ENGLISH),
        ('en_US.UTF-8', TITLE_ENGLISH, ENGLISH, RUSSIAN),
        ('ro_RO.UTF-8', TITLE_ENGLISH, ENGLISH, RUSSIAN),
    ]
    for locale, caption, text, absent in rows:
        r = _report(env, locale).check()
        assert r.exit_code == 0, f'{locale}: exit code {r.exit_code}'
        assert len(r.boxes) == 1, f'{locale}: {r.boxes}'
        box = r.boxes[0]
        # What the box shows, and what a program reading it through the ANSI functions of
        # the locale's code page gets.
        assert (box.unicode_caption, box.unicode_text) == (caption, text), f'{locale}: {box!r}'
        codepage = harness.locale_codepage(locale)
        assert box.caption_bytes == caption.encode(codepage, 'replace'), f'{locale}: {box!r}'
        assert box.text_bytes == text.encode(codepage, 'replace'), f'{locale}: {box!r}'
        assert absent not in box.unicode_text, f'{locale}: {box!r}'
        assert box.button_ids == [1], f'{locale}: buttons {box.buttons}'
        assert box.icon == 'error', f'{locale}: icon {box.icon}'


def test_question_box_texts_and_buttons_are_read_in_both_languages(env):
    rows = [
        ('ru_RU.UTF-8', 'ru', 'Проба', 'Вопрос 1?'),
        ('en_US.UTF-8', 'en', 'Probe', 'Question 1?'),
    ]
    for locale, language, caption, text in rows:
        r = env.run(env.program('ask_probe'), ['1', language], locale=locale,
                    answers=['yes']).check()
        box = r.boxes[0]
        assert (box.unicode_caption, box.unicode_text) == (caption, text), f'{locale}: {box!r}'
        assert (box.caption, box.text) == (caption, text), f'{locale}: {box!r}'
        assert box.button_ids == [6, 7], f'{locale}: buttons {box.buttons}'
        assert box.icon == 'question', f'{locale}: icon {box.icon}'


# ---- the robot presses what the script says ----

def test_robot_presses_the_scripted_answers_in_order(env):
    rows = [
        # answers,               exit code: bit i set when question i+1 got yes
        (['yes', 'yes', 'yes'], 0b111),
        (['no', 'no', 'no'], 0b000),
        (['yes', 'no', 'yes'], 0b101),
        (['no', 'yes', 'no'], 0b010),
    ]
    for answers, code in rows:
        r = env.run(env.program('ask_probe'), ['3'], answers=answers).check()
        assert r.exit_code == code, f'{answers}: exit code {r.exit_code}, boxes {r.boxes}'
        assert r.texts == ['Question 1?', 'Question 2?', 'Question 3?'], r.texts
        assert [b.answer for b in r.boxes] == answers


def test_robot_answers_boxes_that_follow_each_other_quickly(env):
    answers = ['yes', 'no'] * 4
    r = env.run(env.program('ask_probe'), ['8'], answers=answers).check()
    assert r.exit_code == 0b01010101, r
    assert [b.index for b in r.boxes] == list(range(1, 9))


# ---- the robot flags a script that does not fit ----

def test_robot_flags_a_box_with_no_answer_left_and_closes_it(env):
    r = env.run(env.program('ask_probe'), ['2'], answers=['yes'])
    assert [b.index for b in r.unexpected] == [2], r
    assert r.unexpected[0].reason == 'no scripted answer left'
    assert r.exit_code == 0b01, 'the unexpected question must be closed with no'
    assert not r.timed_out and not r.missing
    _assert_check_fails(r, 'unexpected box')


def test_robot_flags_a_box_without_the_scripted_button(env):
    r = _report(env, 'en_US.UTF-8', answers=['yes'])
    assert len(r.unexpected) == 1, r
    assert r.unexpected[0].reason == 'scripted button missing'
    assert r.exit_code == 0 and not r.timed_out, 'the box must be closed with the button it has'
    _assert_check_fails(r, 'unexpected box')


def test_robot_flags_answers_no_box_asked_for(env):
    r = env.run(env.program('ask_probe'), ['1'], answers=['yes', 'no', 'ok'])
    assert r.missing == ['no', 'ok'], r
    assert r.exit_code == 1 and not r.unexpected
    _assert_check_fails(r, 'no box came')


def test_robot_waits_the_grace_time_before_it_answers(env):
    rows = [0.0, 1.5]
    for grace in rows:
        r = env.run(env.program('ask_probe'), ['1'], answers=['yes'], grace=grace).check()
        answered_after = (r.t_exit_ms - r.boxes[0].t_ms) / 1000
        assert r.exit_code == 1, r
        assert grace <= answered_after < grace + 3, f'grace {grace}: {answered_after:.2f} s'


def test_boxes_that_close_by_themselves_take_no_answer(env):
    # A WM_QUIT waiting in the program's queue ends each box's modal loop at once. Such a box
    # may flash too briefly to be seen at all; when it is seen it is marked, not answered.
    r = env.run(env.program('ask_probe'), ['3', 'en', 'quit'])
    assert r.exit_code == 0, f'no question may count as answered yes: {r}'
    assert not r.unexpected and not r.missing and not r.timed_out, r
    assert all(b.vanished and b.answer == '' for b in r.boxes), r
    assert {b.text for b in r.boxes} <= {'Question 1?', 'Question 2?', 'Question 3?'}, r
    r.check()


def test_robot_ends_a_program_that_outlives_the_time_limit(env):
    env.install_host(PROGRAM_FILES_HOST, config={'lifetime_ms': 60000})
    t = time.monotonic()
    r = env.run(PROGRAM_FILES_HOST + r'\Kestrane.exe', timeout=1.5)
    assert r.timed_out, r
    assert r.exit_code == 0xDEAD, f'exit code {r.exit_code:#x}'
    assert time.monotonic() - t < 10, 'the robot must not wait past its limit'
    assert not env.host_window()['found'], 'the killed program left its window'
    _assert_check_fails(r, 'timed out')


def test_robot_saves_a_picture_of_each_box(env):
    shots = env.tmp / 'shots-test'
    env.cleanup_path(shots)
    r = env.run(env.program('ask_probe'), ['2'], answers=['no', 'no'], shots_dir=shots).check()
    assert all(b.shot for b in r.boxes), r
    for box in r.boxes:
        bmp = shots / f'box-{box.index:02d}.bmp'
        width, height, colours = _bmp_summary(bmp.read_bytes())
        assert 100 < width < 1024 and 50 < height < 768, (width, height)
        assert colours > 2, f'{bmp} looks blank ({colours} colours)'
        png = env.bmp_to_png(bmp)
        assert png.read_bytes()[:4] == b'\x89PNG'
    screen = env.screenshot(shots / 'screen.png')
    assert screen.read_bytes()[:4] == b'\x89PNG'


# ---- the stand-in host application ----

def test_host_publishes_its_object_and_window_and_quits_on_wm_quit(env):
    folder = env.install_host(PROGRAM_FILES_HOST)
    assert not env.host_memfile_exists(), 'a host object exists before the host started'
    env.start_host(PROGRAM_FILES_HOST)
    assert env.wait_host_event(folder, 'window_created'), env.host_log(folder)
    assert env.host_memfile_exists()
    assert env.host_window()['found']
    assert env.post_quit_to_host()
    assert env.wait_host_event(folder, 'exit'), env.host_log(folder)
    events = [e['event'] for e in env.host_log(folder)]
    assert events.index('WM_QUIT') < events.index('exit'), events
    started = env.host_events(folder, 'started')[0]['detail']
    assert started.endswith('Kestrane.exe"') or started.endswith('Kestrane.exe'), \
        f'started with parameters: {started}'
    _wait(lambda: not env.host_memfile_exists(), 'the object outlived the host')
    assert not env.host_window()['found']


def test_host_waits_as_configured_before_its_object_and_window(env):
    # Times count from the process's creation. Nothing may come before its delay; a new Wine
    # process needs a few hundred milliseconds before its own code runs ("started"), so the
    # upper bound is loose and the order of the two events carries the rest.
    slack_ms = 2000
    rows = [
        # memfile delay, window delay (ms)
        (0, 0),
        (600, 2400),
        (2400, 600),
    ]
    for memfile_delay, window_delay in rows:
        folder = env.install_host(PROGRAM_FILES_HOST, config={
            'memfile_delay_ms': memfile_delay, 'window_delay_ms': window_delay})
        env.start_host(PROGRAM_FILES_HOST)
        memfile = env.wait_host_event(folder, 'memfile_created')
        window = env.wait_host_event(folder, 'window_created')
        assert memfile and window, env.host_log(folder)
        floor = env.host_events(folder, 'started')[0]['ms']
        for name, event, delay in (('object', memfile, memfile_delay),
                                   ('window', window, window_delay)):
            assert delay <= event['ms'] <= max(delay, floor) + slack_ms, \
                f'{name} at {event["ms"]} ms for a delay of {delay} ms (code ran at {floor} ms)'
        if memfile_delay != window_delay:
            first = 'object' if memfile['ms'] < window['ms'] else 'window'
            assert first == ('object' if memfile_delay < window_delay else 'window'), \
                f'{first} came first: {env.host_log(folder)}'
        env.stop_hosts()


def test_host_keeps_its_file_from_writers_while_it_holds_it(env):
    folder = env.install_host(PROGRAM_FILES_HOST, config={'hold_file': 'kvx.cok'})
    (folder / 'kvx.cok').write_bytes(b'old payload')
    data_file = PROGRAM_FILES_HOST + r'\kvx.cok'
    assert env.can_open_for_write(data_file) == (True, 0), 'writable before the host runs'
    env.start_host(PROGRAM_FILES_HOST)
    assert env.wait_host_event(folder, 'file_held'), env.host_log(folder)
    assert env.can_open_for_write(data_file) == (False, 32), 'a sharing violation while held'
    assert env.wait_host_event(folder, 'window_ready'), env.host_log(folder)
    assert env.post_quit_to_host()
    assert env.wait_host_event(folder, 'exit'), env.host_log(folder)
    assert env.can_open_for_write(data_file) == (True, 0), 'writable after the host quit'


def test_host_releases_its_file_after_the_hold_time(env):
    folder = env.install_host(PROGRAM_FILES_HOST, config={'hold_file': 'kvx.cok',
                                                          'hold_ms': 700})
    (folder / 'kvx.cok').write_bytes(b'old payload')
    env.start_host(PROGRAM_FILES_HOST)
    released = env.wait_host_event(folder, 'file_released')
    assert released and released['ms'] >= 700, env.host_log(folder)
    assert env.can_open_for_write(PROGRAM_FILES_HOST + r'\kvx.cok') == (True, 0)
    assert env.host_window()['found'], 'the host must still run'


def test_host_that_ignores_wm_quit_keeps_running(env):
    folder = env.install_host(PROGRAM_FILES_HOST, config={'quit': 'ignore'})
    env.start_host(PROGRAM_FILES_HOST)
    assert env.wait_host_event(folder, 'window_created')
    assert env.post_quit_to_host()
    assert env.wait_host_event(folder, 'quit_ignored'), env.host_log(folder)
    assert env.host_window()['found'] and env.host_memfile_exists()
    assert env.stop_hosts() == 1


def test_host_log_shows_when_it_is_raised(env):
    rows = [
        # initial show state, event that shows the raise
        ('hidden', 'WM_SHOWWINDOW'),
        ('minimized', 'WM_SIZE'),
    ]
    for show, raise_event in rows:
        folder = env.install_host(PROGRAM_FILES_HOST, config={'show': show})
        env.start_host(PROGRAM_FILES_HOST)
        assert env.wait_host_event(folder, 'window_ready'), env.host_log(folder)
        before = env.host_window()
        assert not before['foreground'], f'{show}: foreground before the raise'
        ready_ms = env.host_events(folder, 'window_ready')[0]['ms']
        state = env.raise_host()
        assert state['visible'] and not state['iconic'], f'{show}: {state}'
        front = env.wait_host_event(folder, 'foreground', timeout=3)
        assert front and front['ms'] >= ready_ms, f'{show}: {env.host_log(folder)}'
        shown = [e for e in env.host_events(folder, raise_event) if e['ms'] >= ready_ms]
        assert shown, f'{show}: no {raise_event} after the raise: {env.host_log(folder)}'
        env.stop_hosts()


# ---- registry and paths ----

def test_registry_values_round_trip(env):
    key = r'HKCU\Software\KestraneHarnessTest'
    env.cleanup_key(key)
    rows = [
        ('Plain', 'REG_SZ', r'C:\Games\Kestrane\unins000.exe'),
        ('Russian', 'REG_SZ', r'C:\Игры\Кестрейн\unins000.exe'),
        ('Empty', 'REG_SZ', ''),
        ('Expand', 'REG_EXPAND_SZ', r'%ProgramFiles%\Kestrane'),
        ('Multi', 'REG_MULTI_SZ', ['one', 'два']),
        ('Size', 'REG_DWORD', 0xFFFFFFFF),
        ('Big', 'REG_QWORD', 1 << 40),
        ('Bytes', 'REG_BINARY', b'\x00\x01\xfe'),
    ]
    env.reg_set_many([(key, name, type_, value) for name, type_, value in rows])
    for name, type_, value in rows:
        assert env.reg_get(key, name, with_type=True) == (type_, value), name
    assert env.reg_get(key, 'Absent') is None
    assert env.reg_delete_value(key, 'Plain') and env.reg_get(key, 'Plain') is None
    assert env.reg_delete_key(key) and env.reg_list(key) is None
    assert not env.reg_delete_key(key), 'deleting a missing key reports it was not there'


def test_registry_views_meet_in_the_wow6432node_mirror(env):
    key32 = r'HKLM\Software\KestraneHarnessTest'
    mirror = r'HKLM\Software\WOW6432Node\KestraneHarnessTest'
    env.cleanup_key(key32, view=32)
    env.reg_set(key32, 'Where', 'REG_SZ', 'written through the 32-bit view', view=32)
    assert env.reg_get(mirror, 'Where') == 'written through the 32-bit view'
    assert env.reg_get(key32, 'Where') is None, 'the 64-bit view must not see it'


def test_windows_paths_and_unix_paths_convert_both_ways(env):
    rows = [
        (r'C:\Program Files\Kestrane\kvx.cok', env.prefix / 'drive_c/Program Files/Kestrane/kvx.cok'),
        ('C:\\', env.prefix / 'drive_c'),
        (r'Z:\tmp\a b.txt', '/tmp/a b.txt'),
    ]
    for win, unix in rows:
        assert str(env.unix_path(win)) == str(unix), win
        assert env.win_path(unix) == win.rstrip('\\') + ('\\' if win.endswith(':\\') else ''), win
    # The Windows side sees a file the test made through the converted path.
    folder = env.install_host(r'C:\Harness Путь', registration=None, with_exe=False)
    (folder / 'probe.txt').write_bytes(b'x')
    assert env.can_open_for_write(r'C:\Harness Путь\probe.txt') == (True, 0)


def test_windows_version_follows_the_setting(env):
    # cmd.exe declares Windows 10 support in its manifest, so it sees 10.0 there.
    rows = [('win8', '6.2.9200'), ('win10', '10.0.18362'), ('win7', '6.1.7601'),
            ('win81', '6.3.9600')]
    for version, shown in rows:
        env.set_windows_version(version)
        code, out = env.run_console('cmd', ['/c', 'ver'])
        assert code == 0 and shown in out, f'{version}: {out!r}'
        assert env.windows_version() == version
    # Between tests the prefix goes back to its default: what users run, Windows 10, unless
    # KESTRANE_WINDOWS names another for the whole run.
    env.reset()
    code, out = env.run_console('cmd', ['/c', 'ver'])
    default = env.default_windows_version
    assert env.windows_version() == default and dict(rows)[default] in out, (default, out)


def test_console_programs_give_their_output_and_exit_code(env):
    code, out = env.run_console(env.program('wintool'), ['sleep', '0'])
    assert code == 0 and '"op":"sleep"' in out, (code, out)
    code, out = env.run_console(env.program('wintool'), ['no-such-operation'])
    assert code == 2, code
    try:
        env.wintool(['no-such-operation'])
    except HarnessError:
        pass
    else:
        raise AssertionError('a malformed helper call must raise HarnessError')


def test_an_unknown_answer_word_is_refused_before_anything_runs(env):
    try:
        env.run(env.program('ask_probe'), ['1'], answers=['yes', 'maybe'])
    except HarnessError as e:
        assert 'maybe' in str(e), str(e)
    else:
        raise AssertionError('the answer "maybe" was accepted')


def test_a_program_that_cannot_start_is_reported(env):
    r = env.run(r'C:\no\such\program.exe')
    assert r.start_error in (2, 3), f'error {r.start_error}'  # file or path not found
    assert r.exit_code is None and not r.timed_out and not r.boxes
    _assert_check_fails(r, 'did not start')


def test_robot_captures_the_output_of_the_program(env):
    r = env.run(env.program('wintool'), ['sleep', '0'], output=True).check()
    assert r.exit_code == 0 and '"op":"sleep"' in r.output, r.output


def test_gtest_summary_counts_crashes_and_hangs_as_failures_and_skips_apart(env):
    import run
    rows = [
        # output, exit code, (passed, failed, skipped)
        ('[==========] 3 tests ran.\n[  PASSED  ] 3 tests.\n', 0, (3, 0, 0)),
        ('[  PASSED  ] 1 test.\n', 0, (1, 0, 0)),
        ('[  PASSED  ] 2 tests.\n[  FAILED  ] 1 test, listed below:\n'
         '[  FAILED  ] A.B\n\n 1 FAILED TEST\n', 1, (2, 1, 0)),
        ('[  PASSED  ] 2 tests.\n[  SKIPPED ] 2 tests, listed below:\n'
         '[  SKIPPED ] A.B\n[  SKIPPED ] A.C\n', 0, (2, 0, 2)),
        ('[ RUN      ] A.B\n', 0xC0000005, (0, 1, 0)),  # crashed before its summary
        ('[ RUN      ] A.B\n', None, (0, 1, 0)),        # hung and was ended
        ('', 0, (0, 0, 0)),
    ]
    for output, code, expected in rows:
        passed, failed, skipped, _ = run.gtest_counts(output, code)
        got = (passed, failed, skipped)
        assert got == expected, f'{output!r} exit {code}: {got}'


def test_the_suite_log_names_the_pe_kind_read_from_the_file(env):
    import run
    text = Path(env.tmp) / 'not-a-program.exe'
    text.write_text('MZ but nothing more')
    rows = [(harness.WIN32 / 'KestraneUpdate.exe', 'PE32'),
            (harness.WIN64 / 'KestraneUpdate.exe', 'PE32+'),
            (text, 'no PE file')]
    for path, kind in rows:
        assert run.pe_kind(path) == kind, (path, run.pe_kind(path))
    assert run.pe_kind(text.with_name('missing.exe')).startswith('unreadable')


# ---- helpers ----

def _assert_check_fails(result, words):
    try:
        result.check()
    except AssertionError as e:
        assert words in str(e), f'check() said {e}'
        return
    raise AssertionError(f'check() passed a run with "{words}": {result}')


def _wait(predicate, message, timeout=5.0):
    deadline = time.monotonic() + timeout
    while not predicate():
        if time.monotonic() > deadline:
            raise AssertionError(message)
        time.sleep(0.05)


def _bmp_summary(data):
    """(width, height, distinct colours) of a 24-bit bottom-up BMP."""
    assert data[:2] == b'BM', 'not a BMP'
    offset = struct.unpack_from('<I', data, 10)[0]
    width, height = struct.unpack_from('<ii', data, 18)
    bits = struct.unpack_from('<H', data, 28)[0]
    assert bits == 24, f'{bits} bits per pixel'
    stride = (width * 3 + 3) // 4 * 4
    colours = set()
    for row in range(0, abs(height), 4):
        line = data[offset + row * stride: offset + row * stride + width * 3]
        colours.update(line[i:i + 3] for i in range(0, len(line), 3))
    return width, abs(height), len(colours)
