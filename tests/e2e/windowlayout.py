"""The main window's controls in window pixels, read from the layout constants the program itself
is built with (resources/Layout.h, in twips), so the clicks follow the layout when it changes."""

import os
import re


class WindowLayout:
    # Controls placed inside a frame, whose rectangles are relative to it.
    PARENTS = {"PushButton10": "Frame1", "PushButton11": "Frame1"}

    def __init__(self, source_dir):
        with open(os.path.join(source_dir, "resources", "Layout.h"), encoding="utf-8") as f:
            text = f.read()
        per_pixel = int(re.search(r"TwipsPerPixel = (\d+)", text).group(1))
        self.px = lambda t: (t + per_pixel // 2) // per_pixel
        self.twips = {m[0]: tuple(map(int, m[1:])) for m in re.findall(
            r"constexpr Twips (\w+)\{(-?\d+), (-?\d+), (-?\d+), (-?\d+)\}", text)}
        self.border = int(re.search(r"ViewportBorder = (\d+)", text).group(1))
        self.client = (self.px(int(re.search(r"ClientWidth = (\d+)", text).group(1))),
                       self.px(int(re.search(r"ClientHeight = (\d+)", text).group(1))))

    def rect(self, name):
        x, y, w, h = (self.px(v) for v in self.twips[name])
        parent = self.PARENTS.get(name)
        if parent:
            px, py, _, _ = self.rect(parent)
            x, y = x + px, y + py
        return x, y, w, h

    def centre(self, name):
        x, y, w, h = self.rect(name)
        return x + w // 2, y + h // 2

    def viewport(self):
        """The picture area inside the viewport's border; the picture's pixel (0, 0) shows at
        its top-left corner while the scroll bars are at their start."""
        x, y, w, h = self.rect("Picture2")
        b = self.border
        return x + b, y + b, w - 2 * b, h - 2 * b
