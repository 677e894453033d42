"""What is under test: the PE32 build or its x64 twin, chosen before the tests are imported."""

from .common import WIN32, WIN64


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
# The one record of the current target; harness.target reads it here.
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


def program_path(name):
    """The path of a test program: from the target's build folder for the probes built from
    the installer's code (TARGET_PROGRAMS), from build/win64 for the harness's own."""
    return (target.build if name in TARGET_PROGRAMS else WIN64) / f'{name}.exe'
