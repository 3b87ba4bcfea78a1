"""Reads pictures through ImageMagick, an encoder and decoder independent of ours, and measures
where a saved picture differs from the one that was loaded."""

import math
import subprocess


def identify(path):
    """(width, height, JPEG quality as ImageMagick estimates it from the quantisation tables)."""
    out = subprocess.run(["identify", "-format", "%w %h %Q", path], capture_output=True,
                         text=True, check=True).stdout.split()
    return int(out[0]), int(out[1]), int(out[2])


def rgb_crop(path, x, y, w, h):
    """The pixels of a rectangle as 8-bit RGB rows."""
    return subprocess.run(["convert", path, "-crop", f"{w}x{h}+{x}+{y}", "+repage", "-depth", "8",
                           "rgb:-"], capture_output=True, check=True).stdout


def expected_quality(width, height, file_size):
    """Smart-Detect's estimate of a JPG's quality: 101 less its bytes of raw RGB per byte of
    file, halves to even, within 1..100."""
    return max(1, min(100, round(101 - width * height * 3 / file_size)))


class Change:
    """How a rectangle of the saved picture differs from the same rectangle of the original."""

    # A pixel counts as changed when its channels differ by more than this in sum: well above
    # what decoding and encoding again at a high quality moves a pixel.
    THRESHOLD = 90

    def __init__(self, original, saved, colour):
        self.pixels = len(original) // 3
        self.changed = 0
        self.towards = 0  # changed pixels that moved towards `colour`
        self.nearer = 0  # changed pixels now nearer to `colour` than to what they were
        for i in range(0, len(original) - 2, 3):
            old = original[i:i + 3]
            new = saved[i:i + 3]
            if sum(abs(new[k] - old[k]) for k in range(3)) <= self.THRESHOLD:
                continue
            self.changed += 1
            moved = [new[k] - old[k] for k in range(3)]
            wanted = [colour[k] - old[k] for k in range(3)]
            dot = sum(moved[k] * wanted[k] for k in range(3))
            norms = math.sqrt(sum(v * v for v in moved) * sum(v * v for v in wanted))
            if norms and dot / norms > 0.9:
                self.towards += 1
            if sum((new[k] - colour[k]) ** 2 for k in range(3)) < \
                    sum((new[k] - old[k]) ** 2 for k in range(3)):
                self.nearer += 1

    def share_changed(self):
        return self.changed / max(1, self.pixels)

    def share_towards(self):
        return self.towards / max(1, self.changed)

    def __str__(self):
        return (f"{self.changed} of {self.pixels} pixels changed, {self.towards} of them towards "
                f"the text colour, {self.nearer} now nearer to it than to the picture")


def compare(original_path, saved_path, rect, colour):
    x, y, w, h = rect
    return Change(rgb_crop(original_path, x, y, w, h), rgb_crop(saved_path, x, y, w, h), colour)
