r"""The Wine test environment the end-to-end tests run in.

One WineEnv serves a whole test run: a private Wine prefix under build/wine (created once,
reused while healthy), its own Xvfb display (the first free one from :90, or KESTRANE_DISPLAY),
one persistent wineserver, a hidden keep-alive window (Wine's desktop process would otherwise
exit and the next program would stall about 10 s), and two kinds of helper kept running:
the dialog robot (robot.exe --serve, one per locale, since programs take their locale from
the process that starts them) and wintool.exe (registry, windows, files). tests/e2e/run.py
makes one WineEnv and calls env.reset() before every test.

Targets (what is under test)
  harness.use_target('x86'|'x64') before the tests are imported (run.py does it); then
  harness.target.package is build/win32 or build/win64 KestraneUpdate.exe, and
  env.program(name) gives the target's build of the probes built from the installer's code
  (TARGET_PROGRAMS) and build/win64 for the harness's own programs.
  env.pe32_support() -> (True, facts) or (False, why): whether this prefix runs PE32 programs
  under WoW64 (the kernel runs 32-bit code, wine32 is installed and a PE32 probe runs).
  @harness.smoke marks the tests that also run against the x64 twin.
Running programs
  env.program('report_probe')  -> Path of build/win32 or build/win64 report_probe.exe
  env.run(exe, args=(), locale='en_US.UTF-8', answers=(), timeout=30, shots_dir=None,
          cwd=None, poll_ms=20, output=False, grace=0) -> Result
      Starts exe (Unix path, Windows path or a bare name like 'cmd') under the robot, which
      presses the answers ('yes', 'no', 'ok', 'cancel', ...) on the program's message boxes in
      order. Result: exit_code, boxes [Box], unexpected [Box], missing [answer words left
      over], vanished [Box], timed_out, start_error, output (with output=True), duration,
      check() (raises AssertionError on unexpected/missing/timed out/not started).
      Box: unicode_caption, unicode_text (what the box shows: its wide texts, read through
      GetWindowTextW/GetDlgItemTextW), caption, text (the ANSI read, decoded from the
      program's ANSI code page), caption_bytes, text_bytes (raw ANSI bytes, '?' for what the
      code page lacks), buttons [(id, text)], unicode_buttons, button_ids, icon ('error',
      'question', 'warning', 'information', 'none', 'unknown'), answer, expected, vanished,
      reason, t_ms (since the program started), shot (BMP path with shots_dir).
  env.run_console(exe, args=(), locale='en_US.UTF-8', timeout=60, cwd=None)
      -> ConsoleResult, a tuple (exit_code, stdout) with .stderr, .stdout_bytes, .timed_out.
Registry (key like r'HKLM\Software\...'; view 64 or 32; one helper round trip, ~10 ms)
  env.reg_set(key, name, 'REG_SZ'|'REG_EXPAND_SZ'|'REG_MULTI_SZ'|'REG_DWORD'|'REG_QWORD'|
              'REG_BINARY'|'REG_NONE', value, view=64)
  env.reg_set_many([(key, name, type, value), ...], view=64)
  env.reg_get(key, name, view=64, with_type=False) -> value or None
  env.reg_delete_value(key, name, view=64), env.reg_delete_key(key, view=64) -> bool
  env.reg_list(key, view=64) -> (subkeys, values) or None
Paths and system
  env.win_path(unix) -> 'C:\...' or 'Z:\...'; env.unix_path(win) -> Path
  env.set_windows_version('win7'|'win8'|'win81'|'win10')  (reset() restores win7)
The stand-in host application (tests/wine/programs/Kestrane.cc)
  env.install_host(folder_win, registration='plain'|'wow'|'both'|None,
                   uninstall_string=None, config={...}, with_exe=True) -> Unix folder
      copies Kestrane.exe, writes standin.cfg (keys in Kestrane.cc: memfile_delay_ms,
      window_delay_ms, show, hold_file, hold_ms, quit, quit_delay_ms, lifetime_ms, ...) and
      the "UninstallString" (default <folder>\unins000.exe) under
      HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Kestrane and/or its
      Software\WOW6432Node mirror.
  env.host_log(folder) -> [{'ms', 'epoch_ms', 'clock', 'event', 'detail'}]; host_events,
  env.wait_host_event(folder, event, timeout=10) -> first entry or None
      events: started, config, memfile_created, file_held, hold_failed, window_created,
      window_ready, WM_SHOWWINDOW, WM_SIZE, WM_ACTIVATE, foreground, background, WM_QUIT,
      quit_ignored, file_released, WM_CLOSE, WM_DESTROY, lifetime_over, exit.
  env.start_host(folder_win), env.post_quit_to_host(), env.raise_host(), env.host_window(),
  env.host_memfile_exists(), env.stop_hosts(), env.can_open_for_write(path_win)
  env.wintool([op, word...], ...) for anything else wintool.exe offers.
State between tests
  env.reset(): ends every Kestrane.exe, deletes both Kestrane uninstall keys and whatever was
  handed to env.cleanup_key(key, view) / env.cleanup_path(path) (install_host does this
  itself), and restores win7.
Pictures
  env.bmp_to_png(bmp, png=None), env.screenshot(png) (the whole Xvfb screen).

Example:

    def test_russian_error(env):
        r = env.run(env.program('report_probe'), locale='ru_RU.UTF-8', answers=['ok']).check()
        assert r.boxes[0].caption == 'Обновление программы "Кестрейн"'
"""

import fcntl
import json
import os
import shutil
import signal
import subprocess
import tempfile
import time
from pathlib import Path

REPO = Path(__file__).resolve().parents[2]
BUILD = REPO / 'build'
WIN64 = BUILD / 'win64'
WIN32 = BUILD / 'win32'
WINE = '/usr/lib/wine/wine64'
WINESERVER = '/usr/lib/wine/wineserver'
DLL_OVERRIDES = 'mscoree,mshtml=;winemenubuilder.exe=d'
SCREEN = '1024x768x24'
# Bumped whenever the one-time preparation of a new prefix changes, so old prefixes are redone.
PREFIX_LAYOUT = '1'

UNINSTALL_KEY = r'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Kestrane'
UNINSTALL_KEY_WOW = r'HKLM\Software\WOW6432Node\Microsoft\Windows\CurrentVersion\Uninstall\Kestrane'
HOST_EXE = 'Kestrane.exe'
HOST_WINDOW_CLASS = 'TKSMainForm'
HOST_MEMFILE = 'kestrane_memfile'

LOCALE_CODEPAGES = {'ru': 'cp1251', 'uk': 'cp1251', 'be': 'cp1251', 'bg': 'cp1251',
                    'kk': 'cp1251', 'tt': 'cp1251', 'ro': 'cp1250', 'pl': 'cp1250',
                    'cs': 'cp1250'}

REG_TYPES = {'sz': 1, 'expand_sz': 2, 'binary': 3, 'dword': 4, 'multi_sz': 7, 'qword': 11,
             'none': 0}
REG_TYPE_NAMES = {v: k for k, v in REG_TYPES.items()}

# The robot's answer words (robot.cc) and the buttons they press.
ANSWERS = {'ok': 1, 'cancel': 2, 'abort': 3, 'retry': 4, 'ignore': 5, 'yes': 6, 'no': 7,
           'close': 8, 'help': 9, 'tryagain': 10, 'continue': 11}

DEFAULT_WINDOWS_VERSION = 'win7'
WINDOWS_VERSIONS = ('win7', 'win8', 'win81', 'win10')


class HarnessError(Exception):
    """The environment itself failed (not the program under test)."""


class Target:
    """One kind of Windows build under test: its make package ARCH word, build folder and PE
    kind. The harness's own programs (robot, wintool, keepalive, the stand-in host and the
    wrappers) are always the x64 ones; the package and the probes built from the installer's
    code come from the target's folder, so that they run in the kind of process that ships."""

    def __init__(self, arch, build, pe_kind, process):
        self.arch = arch
        self.build = build
        self.pe_kind = pe_kind
        self.process = process

    @property
    def package(self):
        return self.build / 'KestraneUpdate.exe'

    def __repr__(self):
        return f'Target({self.arch})'


TARGETS = {
    'x86': Target('x86', WIN32, 'PE32', 'a 32-bit process under WoW64 (wine32)'),
    'x64': Target('x64', WIN64, 'PE32+', 'a 64-bit process (wine64)'),
}
# Programs built from the installer's own code; they run as the target does.
TARGET_PROGRAMS = frozenset({'ask_probe', 'folder_size_probe', 'guarded_probe', 'library_probe',
                             'progress_probe', 'report_probe', 'startup_probe',
                             'bitness_probe', 'seal_probe'})
target = TARGETS['x64']


def smoke(test):
    """Marks an end-to-end test as one of the few that also run against the x64 twin when the
    shipped PE32 package is the one under test."""
    test.smoke = True
    return test


def use_target(arch):
    """Makes arch ('x86' or 'x64') the build under test for what is imported afterwards."""
    global target
    target = TARGETS[arch]
    return target


def rel(path):
    """A path inside the repository as the README names it (build/win32/...)."""
    try:
        return str(Path(path).resolve().relative_to(REPO))
    except ValueError:
        return str(path)


def _hex(text):
    return text.encode('utf-8').hex()


def locale_codepage(locale):
    """Returns the Python codec of the ANSI code page Wine gives a locale such as ru_RU.UTF-8."""
    return LOCALE_CODEPAGES.get(locale.split('_')[0].lower(), 'cp1252')


class Box:
    """One message box as the robot saw it."""

    def __init__(self, record, codepage):
        self.record = record
        self.index = record['index']
        self.t_ms = record['t_ms']
        self.pid = record['pid']
        self.main = record['main']
        self.caption_bytes = bytes.fromhex(record['caption_hex'])
        self.text_bytes = bytes.fromhex(record['text_hex'])
        # Decoded from the raw ANSI bytes in the robot's code page, which matches the program's.
        self.caption = self.caption_bytes.decode(codepage, errors='replace')
        self.text = self.text_bytes.decode(codepage, errors='replace')
        # What the user sees: the box's wide texts.
        wide = lambda field: bytes.fromhex(field).decode('utf-16-le', 'replace')
        self.unicode_caption = wide(record['caption_w_hex'])
        self.unicode_text = wide(record['text_w_hex'])
        self.buttons = [(b['id'], bytes.fromhex(b['text_hex']).decode(codepage, 'replace'))
                        for b in record['buttons']]
        self.unicode_buttons = [(b['id'], wide(b['text_w_hex'])) for b in record['buttons']]
        self.button_ids = [b[0] for b in self.buttons]
        self.answer = record['answer']
        self.answer_id = record['answer_id']
        self.expected = record['expected']
        self.vanished = record.get('vanished', False)
        self.reason = record['reason']
        self.shot = record['shot']
        self.icon = record['icon']
        self.style = record['style']
        self.ex_style = record['ex_style']

    def __repr__(self):
        return (f'Box({self.index}, t={self.t_ms}ms, caption={self.unicode_caption!r}, '
                f'text={self.unicode_text!r}, '
                f'buttons={self.button_ids}, answer={self.answer!r}'
                f'{", VANISHED" if self.vanished else ""}'
                f'{"" if self.expected else ", UNEXPECTED: " + self.reason})')


class Result:
    """What one robot run saw: the exit code, the boxes and what went wrong with the script.

    unexpected: boxes that had no scripted answer left or lacked the scripted button.
    vanished: boxes that closed by themselves before they could be answered (they take no
    answer); a box that closes within a few milliseconds may not be seen at all.
    missing: scripted answers no box asked for (the program ended first).
    timed_out: the run hit its time limit and the program was killed.
    """

    def __init__(self, records, codepage, robot_stdout='', duration=0.0, transcript=None):
        self.records = records
        self.transcript = transcript
        self.robot_stdout = robot_stdout
        self.duration = duration
        self.boxes = [Box(r, codepage) for r in records if r.get('event') == 'box']
        self.unexpected = [b for b in self.boxes if not b.expected]
        self.vanished = [b for b in self.boxes if b.vanished]
        start = next((r for r in records if r.get('event') == 'start'), None)
        end = next((r for r in records if r.get('event') == 'exit'), None)
        failed = next((r for r in records if r.get('event') == 'start_failed'), None)
        self.pid = start['pid'] if start else None
        self.acp = start['acp'] if start else None
        self.lcid = start['lcid'] if start else None
        self.start_error = failed['error'] if failed else None
        self.exit_code = end['exit_code'] if end else None
        # Without an exit record the robot itself was stopped, which counts as a time-out.
        self.timed_out = end['timed_out'] if end else failed is None
        self.missing = list(end['left_over']) if end else []
        self.t_exit_ms = end['t_ms'] if end else None
        self.output = None  # the program's output, when run(output=True)
        self.output_bytes = None

    @property
    def texts(self):
        return [b.text for b in self.boxes]

    def check(self):
        """Raises AssertionError when the script and the boxes did not match."""
        problems = []
        if self.start_error is not None:
            problems.append(f'the program did not start (error {self.start_error})')
        if self.timed_out:
            problems.append('timed out')
        problems += [f'unexpected box {b!r}' for b in self.unexpected]
        if self.missing:
            problems.append(f'no box came for the answers {self.missing}')
        if problems:
            raise AssertionError('; '.join(problems) + f'; boxes: {self.boxes}')
        return self

    def __repr__(self):
        return (f'Result(exit_code={self.exit_code}, boxes={self.boxes}, '
                f'missing={self.missing}, timed_out={self.timed_out})')


class ConsoleResult(tuple):
    """(exit_code, stdout) of a console program; also .stderr, .stdout_bytes, .timed_out."""

    def __new__(cls, exit_code, stdout, stderr, stdout_bytes, timed_out, duration):
        self = super().__new__(cls, (exit_code, stdout))
        self.exit_code = exit_code
        self.stdout = stdout
        self.stderr = stderr
        self.stdout_bytes = stdout_bytes
        self.timed_out = timed_out
        self.duration = duration
        return self


def _run_captured(command, env, timeout, tmp, cwd=None):
    """Runs a command with its output in temporary files, never pipes: a Windows process it
    starts (Wine's desktop process, the host application) may inherit the output handles and
    would keep a pipe open long after the command ended. Returns (exit code or None on a
    timeout, stdout bytes, stderr bytes, seconds)."""
    with tempfile.TemporaryFile(dir=tmp) as out, tempfile.TemporaryFile(dir=tmp) as err:
        t = time.monotonic()
        process = subprocess.Popen(command, env=env, stdin=subprocess.DEVNULL, stdout=out,
                                   stderr=err, cwd=cwd, start_new_session=True)
        try:
            code = process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            code = None
            process.kill()
            process.wait()
        duration = time.monotonic() - t
        out.seek(0)
        err.seek(0)
        return code, out.read(), err.read(), duration


class _Server:
    """A Windows helper kept running for the whole test run (robot.exe --serve or wintool.exe
    serve), fed request files in a folder of its own (tests/wine/programs/serve_loop.h)."""

    def __init__(self, name, command, env, folder, log):
        self.name = name
        self.folder = Path(folder)
        shutil.rmtree(self.folder, ignore_errors=True)
        self.folder.mkdir(parents=True)
        self._next = 0
        with open(log, 'ab') as out:
            self.process = subprocess.Popen(command, env=env, stdin=subprocess.DEVNULL,
                                            stdout=out, stderr=subprocess.STDOUT,
                                            start_new_session=True)

    def request(self, lines, timeout):
        """Sends the lines; returns the response text. Raises HarnessError when the server
        died or did not answer in time (it is then stopped)."""
        self._next += 1
        ident = f'{os.getpid()}-{self._next}'
        temp = self.folder / f'{ident}.tmp'
        temp.write_text(''.join(line + '\n' for line in lines), encoding='utf-8')
        os.rename(temp, self.folder / f'{ident}.req')
        response = self.folder / f'{ident}.res'
        deadline = time.monotonic() + timeout
        pause = 0.001
        while True:
            try:
                text = response.read_text(encoding='utf-8')
                response.unlink()
                return text
            except FileNotFoundError:
                pass
            if self.process.poll() is not None:
                raise HarnessError(f'{self.name} server ended ({self.process.returncode})')
            if time.monotonic() > deadline:
                self.stop()
                raise HarnessError(f'{self.name} server did not answer in {timeout:.0f} s')
            time.sleep(pause)
            pause = min(pause * 2, 0.01)

    def alive(self):
        return self.process.poll() is None

    def stop(self):
        if self.process.poll() is None:
            try:
                (self.folder / 'stop.req').write_text('')
                self.process.wait(timeout=3)
            except (OSError, subprocess.TimeoutExpired):
                _terminate(self.process)


def _terminate(process, grace=3.0):
    """Ends a process this harness started (by its pid only) and reaps it."""
    if process is None or process.poll() is not None:
        return
    try:
        process.send_signal(signal.SIGTERM)
        process.wait(timeout=grace)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait(timeout=grace)
    except ProcessLookupError:
        pass


class WineEnv:
    """A private Wine prefix, display and wineserver for one test run.

    Environment overrides: KESTRANE_DISPLAY (use this X display, e.g. ":12"; started when it
    is not running), KESTRANE_WINE_DIR (folder holding the prefix; default build/wine).
    """

    def __init__(self, root=None, display=None, verbose=False):
        self.root = Path(root or os.environ.get('KESTRANE_WINE_DIR') or BUILD / 'wine')
        self.prefix = self.root / 'prefix'
        self.tmp = self.root / 'tmp'
        self.locales = self.root / 'locale'
        self._locale_state = {}
        # Helper servers save a Wine start per operation; KESTRANE_NO_SERVE=1 turns them off.
        self.serve = os.environ.get('KESTRANE_NO_SERVE') != '1'
        self._tool = None
        self._robots = {}
        self.requested_display = display or os.environ.get('KESTRANE_DISPLAY')
        self.verbose = verbose
        self.display = None
        self.timings = {}
        self._xvfb = None
        self._server = None
        self._keepalive = None
        self._lock = None
        self._windows_version = None
        self._cleanup_keys = []
        self._cleanup_paths = []
        self._drives = None
        self._pe32 = None
        self._started = False

    # ---- lifetime ----

    def __enter__(self):
        self.start()
        return self

    def __exit__(self, *exc):
        self.stop()

    def start(self):
        """Prepares the prefix, display, wineserver and keep-alive window. Idempotent."""
        if self._started:
            return
        for exe in ('robot', 'wintool', 'keepalive'):
            if not (WIN64 / f'{exe}.exe').exists():
                raise HarnessError(f'{WIN64 / exe}.exe is missing: run make win64 first')
        self.root.mkdir(parents=True, exist_ok=True)
        self._take_lock()
        try:
            self._started = True
            self._stop_leftovers()
            self._start_display()
            # A server left over by an earlier run of this prefix that was killed would hold
            # its registry; end it (this prefix only) before starting ours.
            subprocess.run([WINESERVER, '-k'], env=self._env(), stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=30)
            healthy = self._prefix_healthy()
            if not healthy:
                shutil.rmtree(self.prefix, ignore_errors=True)
            self.prefix.mkdir(parents=True, exist_ok=True)
            self._start_server()
            self._record_started()
            if not healthy:
                t = time.monotonic()
                self._create_prefix()
                self.timings['prefix_creation_s'] = time.monotonic() - t
            self._keepalive = subprocess.Popen(
                [WINE, str(WIN64 / 'keepalive.exe')], env=self._env(), stdin=subprocess.DEVNULL,
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
            self.tmp.mkdir(parents=True, exist_ok=True)
            if self.serve:
                self._tool = _Server('wintool', [WINE, str(WIN64 / 'wintool.exe'), 'serve',
                                                 _hex(self.win_path(self.root / 'serve-tool'))],
                                     self._env(), self.root / 'serve-tool',
                                     self.root / 'wintool-serve.log')
            self._apply_base_settings()
            if not healthy:
                (self.prefix / '.kestrane-ready').write_text(PREFIX_LAYOUT)
        except BaseException:
            self.stop()
            raise

    def stop(self):
        """Stops what this environment started: by pid, and wineserver -k for its prefix."""
        if not self._started:
            return
        self._started = False
        for server in [self._tool] + list(self._robots.values()):
            if server is not None:
                server.stop()
        self._tool = None
        self._robots = {}
        _terminate(self._keepalive)
        self._keepalive = None
        if self._server is not None:
            try:
                subprocess.run([WINESERVER, '-k'], env=self._env(), stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL, timeout=30)
            except subprocess.TimeoutExpired:
                pass
            try:
                self._server.wait(timeout=10)
            except subprocess.TimeoutExpired:
                _terminate(self._server)
            self._server = None
        _terminate(self._xvfb)
        self._xvfb = None
        (self.root / 'running.json').unlink(missing_ok=True)
        if self._lock is not None:
            self._lock.close()
            self._lock = None

    def _record_started(self):
        """Notes the pids of what this run started, so that a run killed before it could
        clean up has its leftovers stopped by the next one."""
        pids = {'xvfb': self._xvfb.pid if self._xvfb else None,
                'server': self._server.pid if self._server else None,
                'display': self.display}
        (self.root / 'running.json').write_text(json.dumps(pids))

    def _stop_leftovers(self):
        try:
            pids = json.loads((self.root / 'running.json').read_text())
        except (OSError, ValueError):
            return
        # Only an Xvfb on the display noted, so that a reused pid is left alone.
        pid = pids.get('xvfb')
        if pid:
            try:
                command = Path(f'/proc/{pid}/cmdline').read_bytes().split(b'\0')
                if command[0].endswith(b'Xvfb') and command[1].decode() == pids.get('display'):
                    os.kill(pid, signal.SIGTERM)
            except (OSError, IndexError, UnicodeDecodeError):
                pass
        (self.root / 'running.json').unlink(missing_ok=True)

    def _take_lock(self):
        self._lock = open(self.root / '.lock', 'w')
        deadline = time.monotonic() + 120
        while True:
            try:
                fcntl.flock(self._lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
                return
            except BlockingIOError:
                if time.monotonic() > deadline:
                    raise HarnessError(f'another test run holds {self.root}; gave up waiting')
                time.sleep(0.5)

    def _start_display(self):
        if self.requested_display:
            self.display = self.requested_display
            number = self.display.lstrip(':').split('.')[0]
            if Path(f'/tmp/.X11-unix/X{number}').exists():
                return
            if not self._try_xvfb(int(number)):
                raise HarnessError(f'cannot start Xvfb on {self.display}')
            return
        for number in range(90, 190):
            if Path(f'/tmp/.X11-unix/X{number}').exists() or Path(f'/tmp/.X{number}-lock').exists():
                continue
            if self._try_xvfb(number):
                return
        raise HarnessError('no free X display from :90 to :189')

    def _try_xvfb(self, number):
        process = subprocess.Popen(
            ['Xvfb', f':{number}', '-screen', '0', SCREEN, '-nolisten', 'tcp'],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            start_new_session=True)
        socket = Path(f'/tmp/.X11-unix/X{number}')
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline:
            if process.poll() is not None:
                return False  # lost a race for this display number
            if socket.exists():
                self._xvfb = process
                self.display = f':{number}'
                return True
            time.sleep(0.02)
        _terminate(process)
        return False

    def _start_server(self):
        self._server = subprocess.Popen(
            [WINESERVER, '-f', '-p'], env=self._env(), stdin=subprocess.DEVNULL,
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
        # The server makes its socket folder its current folder once it listens there (the
        # folder's name varies between Wine builds).
        socket = Path(f'/proc/{self._server.pid}/cwd/socket')
        deadline = time.monotonic() + 10
        while True:
            try:
                if socket.is_socket():
                    return
            except OSError:
                pass
            if self._server.poll() is not None:
                raise HarnessError('wineserver exited at start')
            if time.monotonic() > deadline:
                raise HarnessError('wineserver did not come up')
            time.sleep(0.01)

    def _prefix_healthy(self):
        p = self.prefix
        windows = p / 'drive_c' / 'windows'
        try:
            healthy = ((p / '.kestrane-ready').read_text() == PREFIX_LAYOUT and
                       (p / 'system.reg').stat().st_size > 0 and (windows / 'system32').is_dir())
        except OSError:
            return False
        # A prefix made before wine32 could run lacks the 32-bit system folder that PE32
        # programs need; it is made anew once they can run.
        if healthy and self._kernel_runs_32bit()[0] and Path('/usr/lib/wine/wine').exists():
            healthy = (windows / 'syswow64' / 'kernel32.dll').exists()
        return healthy

    @staticmethod
    def _kernel_runs_32bit():
        """(True, 'yes') or (False, why), from running a tiny 32-bit program."""
        r = subprocess.run(['bash', str(REPO / 'scripts' / 'can-run-32bit.sh')],
                           capture_output=True, text=True, timeout=60)
        return r.returncode == 0, r.stdout.strip().removeprefix('no: ')

    def _create_prefix(self):
        code, out, err, _ = _run_captured([WINE, 'wineboot', '-i'], self._env(), 300, self.root)
        if code != 0 or not (self.prefix / 'drive_c' / 'windows' / 'system32').is_dir():
            raise HarnessError(f'wineboot failed ({code}): ' +
                               (out + err).decode(errors='replace')[-2000:])

    def _apply_base_settings(self):
        # Without a window manager Wine waits about 2 s after each box closes unless windows
        # are unmanaged; a crash dialog would hang a run.
        self.wintool(['reg-set', _hex(r'HKCU\Software\Wine\X11 Driver'), _hex('Managed'), 'sz',
                      _hex('N'), '64'],
                     ['reg-set', _hex(r'HKCU\Software\Wine\WineDbg'), _hex('ShowCrashDialog'),
                      'dword', '0', '64'])

    def _env(self, locale='en_US.UTF-8'):
        env = {k: v for k, v in os.environ.items()
               if not (k.startswith('LC_') or k in ('LANG', 'LANGUAGE', 'WINEDEBUG', 'LOCPATH'))}
        env.update(WINEPREFIX=str(self.prefix), WINEDLLOVERRIDES=DLL_OVERRIDES,
                   WINEDEBUG='-all', WINEARCH='win64', LC_ALL=locale, LANG=locale)
        if self._compile_locale(locale):
            env['LOCPATH'] = str(self.locales)
        if self.display:
            env['DISPLAY'] = self.display
        return env

    def _compile_locale(self, locale):
        """Makes sure glibc can load the locale; returns True when it lives in self.locales.

        Wine takes the user's locale identifier and ANSI code page from LC_ALL even when glibc
        lacks the locale, but then reads Unix file names as 7-bit text, so that a folder named
        in Russian cannot be found; a locale compiled into build/ (LOCPATH) fixes that.
        """
        if locale in self._locale_state:
            return self._locale_state[locale]
        name, _, charset = locale.partition('.')
        compiled = self.locales / locale
        state = False
        if locale in ('C', 'POSIX') or locale.startswith('C.'):
            state = False
        elif (compiled / 'LC_CTYPE').exists():
            state = True
        elif Path('/usr/share/i18n/locales', name).exists():
            self.locales.mkdir(parents=True, exist_ok=True)
            r = subprocess.run(['localedef', '-i', name, '-f', charset or 'UTF-8', str(compiled)],
                               stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL, timeout=120)
            state = (compiled / 'LC_CTYPE').exists()
            if r.returncode not in (0, 1) or not state:
                print(f'harness: localedef {locale} failed; non-ASCII file names will not work')
        else:
            print(f'harness: glibc has no locale source for {name} (package "locales"); Wine '
                  f'still takes {locale} from LC_ALL, but non-ASCII file names fail under it')
        self._locale_state[locale] = state
        return state

    # ---- paths ----

    def program(self, name):
        """The path of a test program: from the target's build folder for the probes built
        from the installer's code (TARGET_PROGRAMS), from build/win64 for the harness's own."""
        return (target.build if name in TARGET_PROGRAMS else WIN64) / f'{name}.exe'

    def pe32_support(self):
        """Returns (True, facts) when this prefix runs PE32 programs as WoW64 does, else
        (False, why). Asked of the machine each time: whether its kernel runs 32-bit code and
        whether wine32 is installed both vary."""
        if self._pe32 is None:
            self._pe32 = self._probe_pe32()
        return self._pe32

    def _probe_pe32(self):
        runs, why = self._kernel_runs_32bit()
        if not runs:
            return False, why
        if not Path('/usr/lib/wine/wine').exists():
            return False, 'wine32 is not installed (/usr/lib/wine/wine is missing)'
        probe = WIN32 / 'bitness_probe.exe'
        if not probe.exists():
            return False, f'{probe} is missing: run make win32 first'
        r = self.run_console(probe, timeout=120)
        facts = dict(line.split(': ', 1) for line in r.stdout.splitlines() if ': ' in line)
        if r.exit_code != 0 or facts.get('pointer bits') != '32':
            return False, (f'wine does not run a PE32 program (exit code {r.exit_code}: '
                           f'{(r.stdout + r.stderr).strip()[-300:]})')
        if facts.get('WoW64') != 'yes':
            return False, f'a PE32 program does not run under WoW64 here ({facts})'
        return True, facts

    def _drive_map(self):
        if self._drives is None:
            drives = []
            for link in (self.prefix / 'dosdevices').iterdir():
                name = link.name.lower()
                if len(name) == 2 and name[1] == ':' and link.is_symlink():
                    drives.append((name[0].upper(), Path(os.path.realpath(link))))
            # The longest target wins, so C: is chosen over Z: for paths inside drive_c.
            drives.sort(key=lambda d: len(str(d[1])), reverse=True)
            self._drives = drives
        return self._drives

    def win_path(self, unix):
        """Returns the Windows path of a Unix path (C:\\... inside the prefix, else Z:\\...)."""
        unix = Path(os.path.abspath(unix))
        for letter, target in self._drive_map():
            try:
                rest = unix.relative_to(target)
            except ValueError:
                continue
            tail = str(rest).replace('/', '\\')
            return f'{letter}:\\' + ('' if tail == '.' else tail)
        raise HarnessError(f'no Wine drive holds {unix}')

    def unix_path(self, win):
        """Returns the Unix path of a Windows path on one of the prefix's drives."""
        if len(win) < 2 or win[1] != ':':
            raise HarnessError(f'not a drive path: {win!r}')
        letter = win[0].upper()
        for drive, target in self._drive_map():
            if drive == letter:
                rest = win[2:].replace('\\', '/').lstrip('/')
                return target / rest if rest else target
        raise HarnessError(f'no drive {letter}: in the prefix')

    def _arg_path(self, exe):
        """A Windows path for a Unix or Windows path; a bare name such as 'cmd' stays as it
        is, for Windows to search."""
        text = str(exe)
        if len(text) > 1 and text[1] == ':':
            return text
        if isinstance(exe, str) and '/' not in text and '\\' not in text:
            return text
        return self.win_path(exe)

    # ---- running programs ----

    def run(self, exe, args=(), locale='en_US.UTF-8', answers=(), timeout=30.0, shots_dir=None,
            cwd=None, poll_ms=20, output=False, grace=0.0):
        """Runs a Windows program under the robot and returns a Result.

        exe: a Unix path or a Windows path. answers: words such as 'yes', 'no', 'ok', one per
        box in order. shots_dir: a Unix folder for a BMP of each box before it is answered.
        cwd: the program's current folder (Windows or Unix path). output: capture the program's
        standard output and error into Result.output (decoded from the ANSI code page).
        grace: seconds to leave each box alone first, for a program that answers its own.
        """
        self._require_started()
        unknown = [a for a in answers if a not in ANSWERS]
        if unknown:
            raise HarnessError(f'unknown answers {unknown}; the robot knows {sorted(ANSWERS)}')
        fd, transcript = tempfile.mkstemp(prefix='robot-', suffix='.jsonl', dir=self.tmp)
        os.close(fd)
        words = ['--transcript', self.win_path(transcript),
                 '--timeout-ms', str(int(timeout * 1000)), '--poll-ms', str(poll_ms)]
        if answers:
            words += ['--answers', ','.join(answers)]
        if shots_dir is not None:
            Path(shots_dir).mkdir(parents=True, exist_ok=True)
            words += ['--shots', self.win_path(shots_dir)]
        if cwd is not None:
            words += ['--cwd', self._arg_path(cwd)]
        if grace:
            words += ['--grace-ms', str(int(grace * 1000))]
        output_path = None
        if output:
            fd, output_path = tempfile.mkstemp(prefix='robot-', suffix='.out', dir=self.tmp)
            os.close(fd)
            words += ['--output', self.win_path(output_path)]
        words += ['--', self._arg_path(exe)] + [str(a) for a in args]
        t = time.monotonic()
        if self.serve:
            robot_code, robot_out = self._robot_server(locale).request(words, timeout + 20), ''
            robot_code = int(robot_code.strip().split('=', 1)[1])
        else:
            # Output goes to a file, not a pipe: a program the tested one starts (the host
            # application) may inherit the pipe and would keep a reader waiting.
            robot_code, out, err, _ = _run_captured([WINE, str(WIN64 / 'robot.exe')] + words,
                                                     self._env(locale), timeout + 20, self.tmp)
            robot_out = (out + err).decode('utf-8', 'replace')
        duration = time.monotonic() - t
        records = []
        with open(transcript, encoding='utf-8') as f:
            for line in f:
                if line.strip():
                    records.append(json.loads(line))
        if robot_code == 2:
            raise HarnessError('robot rejected its command line (see build/wine/robot-serve-*.log): '
                               + robot_out)
        start = next((r for r in records if r.get('event') == 'start'), None)
        codepage = f'cp{start["acp"]}' if start else locale_codepage(locale)
        result = Result(records, codepage, robot_out, duration, transcript)
        if output_path:
            result.output_bytes = Path(output_path).read_bytes()
            result.output = result.output_bytes.decode(codepage, 'replace')
            os.unlink(output_path)
        if not self.verbose:
            os.unlink(transcript)
            result.transcript = None
        return result

    def _robot_server(self, locale):
        """The robot server of the locale: programs take the locale from the process that
        starts them, so each locale has its own."""
        server = self._robots.get(locale)
        if server is None or not server.alive():
            folder = self.root / f'serve-robot-{locale}'
            server = _Server(f'robot ({locale})',
                             [WINE, str(WIN64 / 'robot.exe'), '--serve', self.win_path(folder)],
                             self._env(locale), folder, self.root / f'robot-serve-{locale}.log')
            self._robots[locale] = server
        return server

    def run_console(self, exe, args=(), locale='en_US.UTF-8', timeout=60.0, cwd=None):
        """Runs a console program directly; returns ConsoleResult (exit_code, stdout).

        stdout is decoded from the locale's ANSI code page; the exit code is None on a timeout.
        """
        self._require_started()
        command = [WINE, str(exe)] + [str(a) for a in args]
        unix_cwd = None
        if cwd is not None:
            unix_cwd = str(self.unix_path(cwd) if str(cwd)[1:2] == ':' else cwd)
        code, raw, err, duration = _run_captured(command, self._env(locale), timeout, self.tmp,
                                                 unix_cwd)
        return ConsoleResult(code, raw.decode(locale_codepage(locale), 'replace'),
                             err.decode('utf-8', 'replace'), raw, code is None, duration)

    def _require_started(self):
        if not self._started:
            raise HarnessError('WineEnv is not started')

    # ---- the Windows-side helper ----

    def wintool(self, *operations):
        """Runs wintool.exe with the operations (lists of words); returns one dict per operation."""
        self._require_started()
        command = [WINE, str(WIN64 / 'wintool.exe')]
        for i, op in enumerate(operations):
            if i:
                command.append(';')
            command += [str(w) for w in op]
        if self._tool is not None and self._tool.alive():
            text = self._tool.request(command[2:], 60)
        else:
            code, out, err, _ = _run_captured(command, self._env(), 60, self.root)
            if code != 0:
                raise HarnessError(f'wintool failed ({code}): '
                                   f'{(out + err).decode(errors="replace")}')
            text = out.decode('utf-8')
        lines = [json.loads(l) for l in text.splitlines() if l.startswith('{')]
        bad = [l for l in lines if l.get('malformed')]
        if bad:
            raise HarnessError(f'wintool: malformed operation {bytes.fromhex(bad[0]["op"])!r}')
        if len(lines) != len(operations):
            raise HarnessError(f'wintool answered {len(lines)} of {len(operations)} operations')
        return lines

    # ---- registry ----

    @staticmethod
    def _reg_data(type_name, value):
        if type_name in ('sz', 'expand_sz'):
            return _hex(value)
        if type_name == 'multi_sz':
            return _hex('\n'.join(value))
        if type_name in ('dword', 'qword'):
            return str(int(value) & (0xFFFFFFFF if type_name == 'dword' else 0xFFFFFFFFFFFFFFFF))
        return bytes(value).hex()

    @staticmethod
    def _type_name(type_):
        name = type_.lower()
        name = name[4:] if name.startswith('reg_') else name
        if name not in REG_TYPES:
            raise HarnessError(f'unknown registry type {type_!r}')
        return name

    def reg_set_op(self, key, name, type_, value, view=64):
        """The wintool operation of reg_set, for batching several in one wintool call."""
        type_name = self._type_name(type_)
        return ['reg-set', _hex(key), _hex(name), type_name, self._reg_data(type_name, value),
                str(view)]

    def reg_set(self, key, name, type_, value, view=64):
        """Writes a value, creating the key. key: 'HKLM\\Software\\...'; type_: 'REG_SZ',
        'REG_EXPAND_SZ', 'REG_MULTI_SZ' (list), 'REG_DWORD', 'REG_QWORD' (int), 'REG_BINARY',
        'REG_NONE' (bytes); view 64 or 32. Raises HarnessError when the write fails."""
        r = self.wintool(self.reg_set_op(key, name, type_, value, view))[0]
        if not r['ok']:
            raise HarnessError(f'reg_set {key}\\{name} failed: error {r["error"]}')

    def reg_set_many(self, values, view=64):
        """Writes (key, name, type, value) tuples in one helper start."""
        ops = [self.reg_set_op(k, n, t, v, view) for k, n, t, v in values]
        for (k, n, _, _), r in zip(values, self.wintool(*ops)):
            if not r['ok']:
                raise HarnessError(f'reg_set {k}\\{n} failed: error {r["error"]}')

    def reg_get(self, key, name, view=64, with_type=False):
        """Returns the value (str, list, int or bytes), or None when the key or value is missing.
        With with_type, returns (type name such as 'REG_DWORD', value) or None."""
        r = self.wintool(['reg-get', _hex(key), _hex(name), str(view)])[0]
        if not r['ok']:
            if r['error'] == 2:
                return None
            raise HarnessError(f'reg_get {key}\\{name} failed: error {r["error"]}')
        data = bytes.fromhex(r['data_hex'])
        type_name = REG_TYPE_NAMES.get(r['type'], str(r['type']))
        if type_name in ('sz', 'expand_sz'):
            value = data.decode('utf-16-le', 'replace')
            value = value.split('\0', 1)[0]
        elif type_name == 'multi_sz':
            value = [s for s in data.decode('utf-16-le', 'replace').split('\0') if s]
        elif type_name in ('dword', 'qword') and len(data) in (4, 8):
            value = int.from_bytes(data, 'little')
        else:
            value = data
        return ('REG_' + type_name.upper(), value) if with_type else value

    def reg_delete_value(self, key, name, view=64):
        """Deletes a value. Returns False when it was not there."""
        r = self.wintool(['reg-delete-value', _hex(key), _hex(name), str(view)])[0]
        if r['ok'] or r['error'] == 2:
            return r['ok']
        raise HarnessError(f'reg_delete_value {key}\\{name} failed: error {r["error"]}')

    def reg_delete_key(self, key, view=64):
        """Deletes a key and everything below it. Returns False when it was not there."""
        return self.reg_delete_keys([key], view)[0]

    def reg_delete_keys(self, keys, view=64):
        results = self.wintool(*[['reg-delete-key', _hex(k), str(view)] for k in keys])
        for k, r in zip(keys, results):
            if not r['ok'] and r['error'] != 2:
                raise HarnessError(f'reg_delete_key {k} failed: error {r["error"]}')
        return [r['ok'] for r in results]

    def reg_list(self, key, view=64):
        """Returns (subkey names, value names), or None when the key is missing."""
        r = self.wintool(['reg-list', _hex(key), str(view)])[0]
        if not r['ok']:
            return None
        decode = lambda items: [bytes.fromhex(x).decode('utf-8') for x in items]
        return decode(r['keys_hex']), decode(r['values_hex'])

    # ---- Windows version ----

    def set_windows_version(self, version):
        """Makes the prefix report win7 (6.1.7601), win8 (6.2.9200), win81 or win10."""
        if version not in WINDOWS_VERSIONS:
            raise HarnessError(f'unknown Windows version {version!r}')
        if version == self._windows_version:
            return
        code, _, _, _ = _run_captured([WINE, 'winecfg', '/v', version], self._env(), 60,
                                      self.root)
        if code != 0:
            raise HarnessError(f'winecfg /v {version} failed ({code})')
        self._windows_version = version

    # ---- the stand-in host application ----

    def install_host(self, folder_win, registration='plain', uninstall_string=None, config=None,
                     with_exe=True):
        """Puts the stand-in Kestrane.exe into a folder of the prefix and registers it.

        registration: 'plain' (Software\\...\\Uninstall\\Kestrane), 'wow' (the WOW6432Node
        mirror), 'both', or None. uninstall_string defaults to <folder>\\unins000.exe.
        config: standin.cfg settings (see Kestrane.cc), e.g. {'window_delay_ms': 5000}.
        The folder and keys are removed by reset(). Returns the folder's Unix path.
        """
        folder_win = folder_win.rstrip('\\')
        folder = Path(self.unix_path(folder_win))
        folder.mkdir(parents=True, exist_ok=True)
        self.cleanup_path(folder)
        if with_exe:
            shutil.copyfile(WIN64 / HOST_EXE, folder / HOST_EXE)
        lines = [f'{k}={v}' for k, v in (config or {}).items()]
        (folder / 'standin.cfg').write_bytes(('\r\n'.join(lines) + '\r\n').encode('cp1251'))
        (folder / 'standin.log').unlink(missing_ok=True)
        if uninstall_string is None:
            uninstall_string = folder_win + '\\unins000.exe'
        keys = {'plain': [UNINSTALL_KEY], 'wow': [UNINSTALL_KEY_WOW],
                'both': [UNINSTALL_KEY, UNINSTALL_KEY_WOW], None: []}[registration]
        for key in keys:
            self.cleanup_key(key)
        if keys:
            self.reg_set_many([(k, 'UninstallString', 'REG_SZ', uninstall_string) for k in keys])
        return folder

    def host_log(self, folder):
        """The stand-in's log in a folder (Windows or Unix path) as a list of dicts with ms
        (since its process started), epoch_ms, clock, event and detail; [] without a log."""
        folder = Path(self.unix_path(folder)) if str(folder)[1:2] == ':' else Path(folder)
        try:
            text = (folder / 'standin.log').read_bytes().decode('cp1251', 'replace')
        except FileNotFoundError:
            return []
        entries = []
        for line in text.splitlines():
            parts = line.split('\t', 4)
            if len(parts) < 4:
                continue
            entries.append({'ms': int(parts[0]), 'epoch_ms': int(parts[1]), 'clock': parts[2],
                            'event': parts[3], 'detail': parts[4] if len(parts) > 4 else ''})
        return entries

    def host_events(self, folder, event):
        return [e for e in self.host_log(folder) if e['event'] == event]

    def wait_host_event(self, folder, event, timeout=10.0):
        """Polls the stand-in's log until the event appears; returns its first entry, or
        None after the timeout."""
        deadline = time.monotonic() + timeout
        while True:
            found = self.host_events(folder, event)
            if found:
                return found[0]
            if time.monotonic() > deadline:
                return None
            time.sleep(0.02)

    def start_host(self, folder_win):
        """Opens <folder>\\Kestrane.exe through the shell with no parameters, as the installer
        does, and returns at once. Raises HarnessError when the shell refuses."""
        r = self.wintool(['shell-open', _hex(folder_win.rstrip('\\') + '\\' + HOST_EXE)])[0]
        if not r['ok']:
            raise HarnessError(f'ShellExecute failed: {r["result"]}')

    def post_quit_to_host(self):
        """Posts WM_QUIT to the first TKSMainForm window; returns False when there is none."""
        r = self.wintool(['post-quit', _hex(HOST_WINDOW_CLASS)])[0]
        return r['found'] and r['posted']

    def raise_host(self):
        """Shows the host window normally and makes it the foreground window, as the installer
        does after starting it; returns the window state afterwards."""
        return self.wintool(['raise', _hex(HOST_WINDOW_CLASS)])[0]

    def can_open_for_write(self, path_win):
        """Returns (opened, error) for an attempt to open an existing file for writing."""
        r = self.wintool(['open-write', _hex(path_win)])[0]
        return r['opened'], r['error']

    def host_window(self):
        """The state of the stand-in's main window: dict with found, visible, iconic, foreground."""
        return self.wintool(['find-window', _hex(HOST_WINDOW_CLASS)])[0]

    def host_memfile_exists(self):
        return self.wintool(['mapping-exists', _hex(HOST_MEMFILE)])[0]['exists']

    def stop_hosts(self):
        """Ends every running stand-in (or real) Kestrane.exe of the prefix; returns the count."""
        return self.wintool(['kill-image', _hex(HOST_EXE)])[0]['killed']

    # ---- per-test state ----

    def cleanup_key(self, key, view=64):
        """Has reset() delete the key."""
        if (key, view) not in self._cleanup_keys:
            self._cleanup_keys.append((key, view))

    def cleanup_path(self, path):
        """Has reset() delete the file or folder (a Unix path inside the prefix or build/)."""
        path = Path(path)
        if path not in self._cleanup_paths:
            self._cleanup_paths.append(path)

    def reset(self):
        """Returns the prefix to its starting state between tests: ends stand-in hosts, deletes
        the uninstall registrations, the keys and paths handed to cleanup_key/cleanup_path and
        restores the default Windows version."""
        self._require_started()
        ops = [['kill-image', _hex(HOST_EXE)]]
        keys = [(UNINSTALL_KEY, 64), (UNINSTALL_KEY_WOW, 64)] + self._cleanup_keys
        seen = set()
        for key, view in keys:
            if (key, view) not in seen:
                seen.add((key, view))
                ops.append(['reg-delete-key', _hex(key), str(view)])
        self.wintool(*ops)
        for path in self._cleanup_paths:
            if path.is_dir() and not path.is_symlink():
                shutil.rmtree(path, ignore_errors=True)
            else:
                path.unlink(missing_ok=True)
        self._cleanup_keys = []
        self._cleanup_paths = []
        if self._windows_version not in (None, DEFAULT_WINDOWS_VERSION):
            self.set_windows_version(DEFAULT_WINDOWS_VERSION)

    # ---- screenshots ----

    @staticmethod
    def bmp_to_png(bmp, png=None):
        """Converts a robot BMP to PNG (ImageMagick); returns the PNG path."""
        png = Path(png) if png else Path(bmp).with_suffix('.png')
        subprocess.run(['convert', str(bmp), str(png)], check=True, timeout=60)
        return png

    def screenshot(self, png):
        """Saves the whole Xvfb screen as a PNG; returns its path."""
        png = Path(png)
        png.parent.mkdir(parents=True, exist_ok=True)
        subprocess.run(['import', '-display', self.display, '-window', 'root', str(png)],
                       check=True, timeout=60, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        return png
