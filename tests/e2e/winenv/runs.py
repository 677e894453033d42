"""Running Windows programs: under the dialog robot, which answers their message boxes and
writes a transcript (Result, Box), or directly as console programs (ConsoleResult)."""

import json
import os
import tempfile
import time
from pathlib import Path

from . import targets
from .common import WIN32, WIN64, WINE, HarnessError
from .processes import HelperServer, run_captured

LOCALE_CODEPAGES = {'ru': 'cp1251', 'uk': 'cp1251', 'be': 'cp1251', 'bg': 'cp1251',
                    'kk': 'cp1251', 'tt': 'cp1251', 'ro': 'cp1250', 'pl': 'cp1250',
                    'cs': 'cp1250'}

# The robot's answer words (tests/wine/programs/robot/options.cc) and the buttons they press.
ANSWERS = {'ok': 1, 'cancel': 2, 'abort': 3, 'retry': 4, 'ignore': 5, 'yes': 6, 'no': 7,
           'close': 8, 'help': 9, 'tryagain': 10, 'continue': 11}


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



class RunsMixin:
    """Owns _robots (one robot server per locale) and _pe32; needs root, tmp, serve, verbose,
    _env(), win_path(), unix_path(), _arg_path() and _require_started()."""

    def program(self, name):
        """The path of a test program: from the target's build folder for the probes built
        from the installer's code (TARGET_PROGRAMS), from build/win64 for the harness's own."""
        return targets.program_path(name)

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
            robot_code, out, err, _ = run_captured([WINE, str(WIN64 / 'robot.exe')] + words,
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
            command = [WINE, str(WIN64 / 'robot.exe'), '--serve', self.win_path(folder)]
            server = HelperServer(f'robot ({locale})', command, self._env(locale), folder,
                                  self.root / f'robot-serve-{locale}.log')
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
        code, raw, err, duration = run_captured(command, self._env(locale), timeout, self.tmp,
                                                unix_cwd)
        return ConsoleResult(code, raw.decode(locale_codepage(locale), 'replace'),
                             err.decode('utf-8', 'replace'), raw, code is None, duration)

