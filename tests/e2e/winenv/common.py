"""What every part of the harness shares: where the build and Wine live, the error the
environment raises about itself, and the hex spelling of texts on helper command lines."""

from pathlib import Path

REPO = Path(__file__).resolve().parents[3]
BUILD = REPO / 'build'
WIN64 = BUILD / 'win64'
WIN32 = BUILD / 'win32'
WINE = '/usr/lib/wine/wine64'
WINESERVER = '/usr/lib/wine/wineserver'


class HarnessError(Exception):
    """The environment itself failed (not the program under test)."""


def rel(path):
    """A path inside the repository as the README names it (build/win32/...)."""
    try:
        return str(Path(path).resolve().relative_to(REPO))
    except ValueError:
        return str(path)


def hex_text(text):
    """A text as the helpers take it on their command lines: UTF-8 bytes in hex, so that no
    quoting or code page can change it on the way."""
    return text.encode('utf-8').hex()
