"""The environment's own X display: an Xvfb on the first free number from :90, or the one
KESTRANE_DISPLAY names."""

import os
import signal
import subprocess
import time
from pathlib import Path

from .common import HarnessError
from .processes import terminate

SCREEN = '1024x768x24'


class DisplayMixin:
    """Owns requested_display, display (':N' once started) and _xvfb (the Xvfb this run
    started, or None)."""

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
        terminate(process)
        return False

    def _stop_display(self):
        terminate(self._xvfb)
        self._xvfb = None

    @staticmethod
    def _stop_leftover_display(pids):
        """Ends the Xvfb a killed earlier run noted in running.json: only an Xvfb on the
        display noted, so that a reused pid is left alone."""
        pid = pids.get('xvfb')
        if pid:
            try:
                command = Path(f'/proc/{pid}/cmdline').read_bytes().split(b'\0')
                if command[0].endswith(b'Xvfb') and command[1].decode() == pids.get('display'):
                    os.kill(pid, signal.SIGTERM)
            except (OSError, IndexError, UnicodeDecodeError):
                pass
