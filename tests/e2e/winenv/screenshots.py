"""Pictures: the robot's BMPs of single boxes as PNGs, and the whole Xvfb screen."""

import subprocess
from pathlib import Path


class ScreenshotsMixin:
    """Needs display (the environment's X display)."""

    @staticmethod
    def bmp_to_png(bmp, png=None):
        """Converts a robot BMP to PNG (ImageMagick); returns the PNG path."""
        png = Path(png) if png else Path(bmp).with_suffix('.png')
        subprocess.run(['convert', str(bmp), str(png)], check=True, timeout=60)
        return png

    def screenshot(self, png):
        """Saves the whole Xvfb screen as a PNG; returns its path."""
        png = Path(png)
        png.parent.mkdir(parents=True, exist_ok=True)
        subprocess.run(['import', '-display', self.display, '-window', 'root', str(png)],
                       check=True, timeout=60, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        return png
