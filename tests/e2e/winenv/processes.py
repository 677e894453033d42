"""Unix processes the harness starts: captured runs, ending them by pid, and the Windows
helpers kept running for a whole test run."""

import os
import shutil
import signal
import subprocess
import tempfile
import time
from pathlib import Path

from .common import HarnessError


def run_captured(command, env, timeout, tmp, cwd=None):
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


def terminate(process, grace=3.0):
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


class HelperServer:
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
                terminate(self.process)
