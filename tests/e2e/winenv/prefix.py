"""The private Wine prefix and its one persistent wineserver: creating the prefix once and
reusing it while healthy, the environment every Wine process gets (locale, display, DLL
overrides), and the Windows version the prefix reports."""

import os
import subprocess
import time
from pathlib import Path

from .common import REPO, WINE, WINESERVER, HarnessError, hex_text
from .processes import run_captured, terminate

DLL_OVERRIDES = 'mscoree,mshtml=;winemenubuilder.exe=d'
# Bumped whenever the one-time preparation of a new prefix changes, so old prefixes are redone.
PREFIX_LAYOUT = '1'
# What users run: Windows 10, which tells a program whose manifest lists no supported systems
# 6.2.9200 (as Windows 8 to 11 do). A new Wine 8 prefix reports Windows 7 until told otherwise.
DEFAULT_WINDOWS_VERSION = 'win10'
WINDOWS_VERSIONS = ('win7', 'win8', 'win81', 'win10')
# The setting ntdll reads first for every program (after a program's own AppDefaults key).
VERSION_KEY = r'HKCU\Software\Wine'
VERSION_NAMES = {'win7': 'Windows 7 (6.1.7601)', 'win8': 'Windows 8 (6.2.9200)',
                 'win81': 'Windows 8.1 (6.3.9600)', 'win10': 'Windows 10 (10.0.18362)'}


class PrefixMixin:
    """Owns root, prefix, locales, _locale_state, _server (the wineserver process) and
    _windows_version; needs display, default_windows_version, wintool() and reg_get/reg_set."""

    def _kill_wineserver(self):
        """wineserver -k for this prefix only."""
        subprocess.run([WINESERVER, '-k'], env=self._env(), stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=30)

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

    def _stop_server(self):
        if self._server is not None:
            try:
                self._kill_wineserver()
            except subprocess.TimeoutExpired:
                pass
            try:
                self._server.wait(timeout=10)
            except subprocess.TimeoutExpired:
                terminate(self._server)
            self._server = None

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

    def _mark_prefix_ready(self):
        (self.prefix / '.kestrane-ready').write_text(PREFIX_LAYOUT)

    @staticmethod
    def _kernel_runs_32bit():
        """(True, 'yes') or (False, why), from running a tiny 32-bit program."""
        r = subprocess.run(['bash', str(REPO / 'scripts' / 'can-run-32bit.sh')],
                           capture_output=True, text=True, timeout=60)
        return r.returncode == 0, r.stdout.strip().removeprefix('no: ')

    def _create_prefix(self):
        code, out, err, _ = run_captured([WINE, 'wineboot', '-i'], self._env(), 300, self.root)
        if code != 0 or not (self.prefix / 'drive_c' / 'windows' / 'system32').is_dir():
            raise HarnessError(f'wineboot failed ({code}): ' +
                               (out + err).decode(errors='replace')[-2000:])

    def _apply_base_settings(self):
        # Without a window manager Wine waits about 2 s after each box closes unless windows
        # are unmanaged; a crash dialog would hang a run.
        self.wintool(['reg-set', hex_text(r'HKCU\Software\Wine\X11 Driver'), hex_text('Managed'),
                      'sz', hex_text('N'), '64'],
                     ['reg-set', hex_text(r'HKCU\Software\Wine\WineDbg'),
                      hex_text('ShowCrashDialog'), 'dword', '0', '64'])

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

    def set_windows_version(self, version):
        """Makes the prefix report win7 (6.1.7601), win8 (6.2.9200), win81 or win10; a program
        without a supported-systems manifest is told 6.2.9200 by win8, win81 and win10.
        Raises HarnessError for an unknown version or when the setting cannot be written."""
        if version not in WINDOWS_VERSIONS:
            raise HarnessError(f'unknown Windows version {version!r}')
        if version == self._windows_version:
            return
        # winecfg keeps HKLM's CurrentVersion values (ProductName, CurrentBuild) in step with
        # the version; HKCU's "Version", written after it, is what ntdll reads first (before
        # HKLM's values) and what the Wine notes name.
        code, _, _, _ = run_captured([WINE, 'winecfg', '/v', version], self._env(), 60,
                                     self.root)
        if code != 0:
            raise HarnessError(f'winecfg /v {version} failed ({code})')
        self.reg_set(VERSION_KEY, 'Version', 'REG_SZ', version)
        self._windows_version = version

    def windows_version(self):
        """The version the prefix reports, as its HKCU setting names it; without the setting,
        'win7', what a new Wine 8 prefix reports (the harness sets it at start)."""
        return self.reg_get(VERSION_KEY, 'Version') or 'win7'

    def _apply_default_windows_version(self):
        """Sets the default version unless the prefix already reports it (a reused prefix
        keeps it between runs, so that this costs one registry read)."""
        self._windows_version = self.windows_version()
        self.set_windows_version(self.default_windows_version)
