"""wintool.exe, the Windows-side helper the registry, window and file operations go through:
through its server when one runs, else one Wine start per call."""

import json

from .common import WIN64, WINE, HarnessError
from .processes import run_captured


class WintoolMixin:
    """Owns _tool (the wintool server, or None); needs root and _env()."""

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
            code, out, err, _ = run_captured(command, self._env(), 60, self.root)
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
