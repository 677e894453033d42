"""Windows and Unix paths of the same file, through the prefix's drive letters."""

import os
from pathlib import Path

from .common import HarnessError


class PathsMixin:
    """Owns _drives (the cached drive map; None makes it read again); needs prefix."""

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
