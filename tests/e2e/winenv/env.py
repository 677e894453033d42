"""WineEnv: one test run's Wine environment, put together from the parts (display, prefix and
wineserver, paths, wintool, registry, program runs, stand-in host, screenshots), with its
lifetime and the state tests leave behind."""

import fcntl
import json
import os
import shutil
import subprocess
import time
from pathlib import Path

from .common import BUILD, WIN64, WINE, HarnessError, hex_text
from .display import DisplayMixin
from .host import HOST_EXE, UNINSTALL_KEY, UNINSTALL_KEY_WOW, HostMixin
from .paths import PathsMixin
from .prefix import DEFAULT_WINDOWS_VERSION, WINDOWS_VERSIONS, PrefixMixin
from .processes import HelperServer, terminate
from .registry import RegistryMixin
from .runs import RunsMixin
from .screenshots import ScreenshotsMixin
from .wintool import WintoolMixin


class WineEnv(DisplayMixin, PrefixMixin, PathsMixin, WintoolMixin, RegistryMixin, RunsMixin,
              HostMixin, ScreenshotsMixin):
    """A private Wine prefix, display and wineserver for one test run.

    Environment overrides: KESTRANE_DISPLAY (use this X display, e.g. ":12"; started when it
    is not running), KESTRANE_WINE_DIR (folder holding the prefix; default build/wine),
    KESTRANE_WINDOWS (the Windows the prefix reports between tests instead of win10, e.g. win7,
    to run a suite on another version).
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
        self.default_windows_version = (os.environ.get('KESTRANE_WINDOWS') or
                                        DEFAULT_WINDOWS_VERSION)
        if self.default_windows_version not in WINDOWS_VERSIONS:
            raise HarnessError(f'KESTRANE_WINDOWS={self.default_windows_version!r}: not one of '
                               f'{", ".join(WINDOWS_VERSIONS)}')
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
            self._kill_wineserver()
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
                self._tool = HelperServer('wintool',
                                          [WINE, str(WIN64 / 'wintool.exe'), 'serve',
                                           hex_text(self.win_path(self.root / 'serve-tool'))],
                                          self._env(), self.root / 'serve-tool',
                                          self.root / 'wintool-serve.log')
            self._apply_base_settings()
            self._apply_default_windows_version()
            if not healthy:
                self._mark_prefix_ready()
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
        terminate(self._keepalive)
        self._keepalive = None
        self._stop_server()
        self._stop_display()
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
        self._stop_leftover_display(pids)
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

    def _require_started(self):
        if not self._started:
            raise HarnessError('WineEnv is not started')

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
        restores the default Windows version (win10, or KESTRANE_WINDOWS)."""
        self._require_started()
        ops = [['kill-image', hex_text(HOST_EXE)]]
        keys = [(UNINSTALL_KEY, 64), (UNINSTALL_KEY_WOW, 64)] + self._cleanup_keys
        seen = set()
        for key, view in keys:
            if (key, view) not in seen:
                seen.add((key, view))
                ops.append(['reg-delete-key', hex_text(key), str(view)])
        self.wintool(*ops)
        for path in self._cleanup_paths:
            if path.is_dir() and not path.is_symlink():
                shutil.rmtree(path, ignore_errors=True)
            else:
                path.unlink(missing_ok=True)
        self._cleanup_keys = []
        self._cleanup_paths = []
        if self._windows_version != self.default_windows_version:
            self.set_windows_version(self.default_windows_version)
