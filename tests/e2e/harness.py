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
  env.set_windows_version('win7'|'win8'|'win81'|'win10')  (reset() restores the default,
      DEFAULT_WINDOWS_VERSION = 'win10', which start() also sets: what users run. A program
      whose manifest lists no supported systems, as the package's, is told 6.2.9200 there,
      as by win8 and win81; win7 tells it 6.1.7601. A test that needs another version sets
      it and says why. KESTRANE_WINDOWS=win7 makes another version the default of a whole
      run, e.g. `KESTRANE_WINDOWS=win7 python3 tests/e2e/run.py`.)
      env.windows_version() -> the version the prefix reports now.
The stand-in host application (tests/wine/programs/Kestrane.cc)
  env.install_host(folder_win, registration='plain'|'wow'|'both'|None,
                   uninstall_string=None, config={...}, with_exe=True) -> Unix folder
      copies Kestrane.exe, writes standin.cfg (keys in Kestrane.cc: memfile_delay_ms,
      window_delay_ms, show, hold_file, hold_ms, hold_folder, quit, quit_delay_ms,
      lifetime_ms, ...) and
      the "UninstallString" (default <folder>\unins000.exe) under
      HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Kestrane and/or its
      Software\WOW6432Node mirror.
  env.host_log(folder) -> [{'ms', 'epoch_ms', 'clock', 'event', 'detail'}]; host_events,
  env.wait_host_event(folder, event, timeout=10) -> first entry or None
      events: started, config, memfile_created, file_held, hold_failed, folder_held,
      hold_folder_failed, window_created, window_ready, WM_SHOWWINDOW, WM_SIZE, WM_ACTIVATE,
      foreground, background, WM_QUIT, quit_ignored, file_released, WM_CLOSE, WM_DESTROY,
      lifetime_over, exit.
  env.start_host(folder_win), env.post_quit_to_host(), env.raise_host(), env.host_window(),
  env.host_memfile_exists(), env.stop_hosts(), env.can_open_for_write(path_win)
  env.wintool([op, word...], ...) for anything else wintool.exe offers.
State between tests
  env.reset(): ends every Kestrane.exe, deletes both Kestrane uninstall keys and whatever was
  handed to env.cleanup_key(key, view) / env.cleanup_path(path) (install_host does this
  itself), and restores the default Windows version (win10).
Pictures
  env.bmp_to_png(bmp, png=None), env.screenshot(png) (the whole Xvfb screen).

Where it lives (tests/e2e/winenv/, one concern a module; this file only gathers them)
  common.py: REPO, BUILD, WIN32, WIN64, HarnessError, rel;  targets.py: Target, TARGETS,
  use_target, smoke;  processes.py: captured runs, ending by pid, the helper servers;
  display.py: Xvfb;  prefix.py: the prefix, wineserver, process environment and locales,
  set_windows_version;  paths.py: win_path, unix_path;  wintool.py: env.wintool;
  registry.py: env.reg_*;  runs.py: env.run, env.run_console, Box, Result, ConsoleResult;
  host.py: the stand-in host;  screenshots.py: bmp_to_png, screenshot;  env.py: WineEnv
  itself (start, stop, reset, cleanup_key, cleanup_path).

Example:

    def test_russian_error(env):
        r = env.run(env.program('report_probe'), locale='ru_RU.UTF-8', answers=['ok']).check()
        assert r.boxes[0].caption == 'Обновление программы "Кестрейн"'
"""

from winenv import targets as _targets
from winenv.common import (BUILD, REPO, WIN32, WIN64, WINE, WINESERVER,  # noqa: F401
                           HarnessError, rel)
from winenv.display import SCREEN  # noqa: F401
from winenv.env import WineEnv  # noqa: F401
from winenv.host import (HOST_EXE, HOST_MEMFILE, HOST_WINDOW_CLASS, UNINSTALL_KEY,  # noqa: F401
                         UNINSTALL_KEY_WOW)
from winenv.prefix import (DEFAULT_WINDOWS_VERSION, DLL_OVERRIDES, PREFIX_LAYOUT,  # noqa: F401
                           VERSION_NAMES, WINDOWS_VERSIONS)
from winenv.registry import REG_TYPE_NAMES, REG_TYPES  # noqa: F401
from winenv.runs import (ANSWERS, LOCALE_CODEPAGES, Box, ConsoleResult, Result,  # noqa: F401
                         locale_codepage)
from winenv.targets import TARGET_PROGRAMS, TARGETS, Target, smoke, use_target  # noqa: F401


def __getattr__(name):
    # harness.target follows use_target: the current target has one record, in targets.py.
    if name == 'target':
        return _targets.target
    raise AttributeError(f"module 'harness' has no attribute {name!r}")
