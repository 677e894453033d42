"""The stand-in host application (tests/wine/programs/Kestrane.cc): installing it into a
folder of the prefix with its registration, reading its log, and acting on its window."""

import shutil
import time
from pathlib import Path

from .common import WIN64, HarnessError, hex_text

UNINSTALL_KEY = r'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Kestrane'
UNINSTALL_KEY_WOW = r'HKLM\Software\WOW6432Node\Microsoft\Windows\CurrentVersion\Uninstall\Kestrane'
HOST_EXE = 'Kestrane.exe'
HOST_WINDOW_CLASS = 'TKSMainForm'
HOST_MEMFILE = 'kestrane_memfile'


class HostMixin:
    """Needs wintool(), reg_set_many(), unix_path(), cleanup_key() and cleanup_path()."""

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
        r = self.wintool(['shell-open', hex_text(folder_win.rstrip('\\') + '\\' + HOST_EXE)])[0]
        if not r['ok']:
            raise HarnessError(f'ShellExecute failed: {r["result"]}')

    def post_quit_to_host(self):
        """Posts WM_QUIT to the first TKSMainForm window; returns False when there is none."""
        r = self.wintool(['post-quit', hex_text(HOST_WINDOW_CLASS)])[0]
        return r['found'] and r['posted']

    def raise_host(self):
        """Shows the host window normally and makes it the foreground window, as the installer
        does after starting it; returns the window state afterwards."""
        return self.wintool(['raise', hex_text(HOST_WINDOW_CLASS)])[0]

    def can_open_for_write(self, path_win):
        """Returns (opened, error) for an attempt to open an existing file for writing."""
        r = self.wintool(['open-write', hex_text(path_win)])[0]
        return r['opened'], r['error']

    def host_window(self):
        """The state of the stand-in's main window: dict with found, visible, iconic, foreground."""
        return self.wintool(['find-window', hex_text(HOST_WINDOW_CLASS)])[0]

    def host_memfile_exists(self):
        return self.wintool(['mapping-exists', hex_text(HOST_MEMFILE)])[0]['exists']

    def stop_hosts(self):
        """Ends every running stand-in (or real) Kestrane.exe of the prefix; returns the count."""
        return self.wintool(['kill-image', hex_text(HOST_EXE)])[0]['killed']
