#!/usr/bin/env python3
"""A whole session with the installed program in a real X window, driven by real input events:
load the sample through the open dialog, click on the picture, type two lines, colour them
through the colour dialog, stamp them, zoom in and out, save as JPG through the save dialog,
save again over the same file, close the window. Then ImageMagick checks the saved file.
Screenshots of each stage are kept in the artefacts folder. Exits 77 (skipped) where Xvfb,
xdotool or ImageMagick are missing."""

import argparse
import glob
import os
import shutil
import subprocess
import sys
import tempfile
import time

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import imagecheck  # noqa: E402
import installtree  # noqa: E402
from windowlayout import WindowLayout  # noqa: E402
from xdisplay import SessionError, XDisplay, wait_until  # noqa: E402

MAIN_TITLE = "^Glyphtack$"
LINES = ["Grüße, café", "Привет, мир"]
TEXT_COLOUR = (0xFF, 0x00, 0x00)
# Where the click lands, in picture pixels: blue sky in the sample's top-left corner.
CLICK = (90, 49)
# Views that differ in no more pixels than this are the same (a blinking text cursor).
SAME = 20


class Session:
    """The program on the display, the person using it, and the screenshots kept of it."""

    def __init__(self, display, layout, artifacts, work):
        self.x = display
        self.layout = layout
        self.artifacts = artifacts
        self.work = work
        self.program = None
        self.main = None
        self.stage = 0

    # ---- looking ----

    def main_frame(self):
        x, y, w, h = self.x.geometry(self.main)
        return self.x.capture().crop(x, y, w, h)

    def viewport(self):
        return self.main_frame().crop(*self.layout.viewport())

    def shot(self, name, *windows):
        """Keeps a screenshot of the main window and any dialog shown over it."""
        boxes = [self.x.geometry(w) for w in (self.main, *windows)]
        left = min(b[0] for b in boxes)
        top = min(b[1] for b in boxes)
        right = max(b[0] + b[2] for b in boxes)
        bottom = max(b[1] + b[3] for b in boxes)
        previous = [None]

        def settled():
            # Two captures alike: what was typed last is on the screen, not half drawn.
            frame = self.x.capture().crop(left, top, right - left, bottom - top)
            same = previous[0] is not None and frame.changed_pixels(previous[0]) <= SAME
            previous[0] = frame
            return frame if same else None
        try:
            frame = wait_until("the screen to settle", settled, 5)
        except SessionError:
            frame = previous[0]  # a screenshot is no reason to fail the session
        self.stage += 1
        path = os.path.join(self.artifacts, f"{self.stage:02d}-{name}.png")
        frame.save_png(path)
        return path

    def unexpected_windows(self):
        """Titles of the program's other windows, such as an error report nobody expected."""
        windows = [w for w in self.x.find_windows(".*", self.program.pid) if w != self.main]
        return [self.x.xdotool("getwindowname", w)[1].strip() for w in windows]

    def wait_view(self, what, test, timeout=20):
        """Waits until test(viewport) holds and the view stays the same for a moment, failing
        at once when the program shows a window of its own instead (an error report)."""
        previous = [None]

        def probe():
            if self.program.poll() is not None:
                raise SessionError(f"the program ended (exit code {self.program.returncode})")
            others = self.unexpected_windows()
            if others:
                raise SessionError(f"waiting for {what}, the program showed {others}")
            view = self.viewport()
            settled = previous[0] is not None and view.changed_pixels(previous[0]) <= SAME
            previous[0] = view
            return view if settled and test(view) else None
        return wait_until(what, probe, timeout, interval=0.1)

    def wait_dialog(self, title_regex, exclude=()):
        """Waits for a dialog, its first paint and the keyboard focus."""
        if exclude:
            window = self.x.wait_window(title_regex, exclude=exclude)
        else:
            window = self.x.wait_window_sync(title_regex)
        self.x.focus(window)
        wait_until(f"the dialog {title_regex!r} to be drawn", lambda: self.x.capture().crop(
            *self.x.geometry(window)).colourfulness() > 0.2, 10, interval=0.1)
        return window

    # ---- doing ----

    def click_button(self, name):
        self.x.click(self.main, *self.layout.centre(name))

    def start(self, launcher, env):
        log = open(os.path.join(self.work, "program.log"), "wb")
        self.program = subprocess.Popen([launcher], env=env, cwd=self.work, stdout=log,
                                        stderr=subprocess.STDOUT)
        log.close()
        self.main = self.x.wait_window_sync(MAIN_TITLE)
        _, _, w, h = self.x.geometry(self.main)
        if (w, h) != self.layout.client:
            raise SessionError(f"the window is {w} x {h}, expected {self.layout.client}")
        self.x.focus(self.main)
        wait_until("the window to be drawn",
                   lambda: self.main_frame().colourfulness() > 0.05, 10, interval=0.1)

    @staticmethod
    def temp_is_clear(temp):
        """Nothing of a save in TEMP: at most the program's own folder, empty."""
        for name in os.listdir(temp):
            path = os.path.join(temp, name)
            if not (name.startswith("glyphtack-") and os.path.isdir(path) and not os.listdir(path)):
                return False
        return True

    def wait_saved(self, target, temp, after_mtime=None):
        """A save is over when the file is there and the converter and the intermediate bitmap
        have left TEMP (the program's own folder there stays until it ends)."""
        def done():
            others = self.unexpected_windows()
            if others:
                raise SessionError(f"while saving, the program showed {others}")
            if not os.path.isfile(target):
                return False
            if after_mtime is not None and os.stat(target).st_mtime_ns <= after_mtime:
                return False
            return self.temp_is_clear(temp)
        try:
            wait_until(f"{target} to be written", done, 30, interval=0.1)
        except SessionError:
            folder = os.path.dirname(target)
            raise SessionError(f"no save to {target}: the folder holds {os.listdir(folder)}, "
                               f"TEMP holds {os.listdir(temp)}")

    def save_as_jpg(self, target):
        self.click_button("PushButton4")
        dialog = self.wait_dialog("^Save File$")
        # From the empty file-name field, Tab moves to the file type list; Down picks the
        # second entry, "JPG Files (*.jpg)"; Alt+N returns to the name field.
        self.x.key("Tab", "Down", "alt+n")
        self.x.type(target)
        return dialog

    def close(self):
        self.x.close_window(self.main)
        try:
            code = self.program.wait(timeout=10)
        except subprocess.TimeoutExpired:
            raise SessionError("the program did not end after its window was closed")
        if code != 0:
            raise SessionError(f"the program ended with exit code {code}")


def run(session, install, env):
    """The session itself; returns the saved file and the stamp's rectangle in the picture."""
    layout = session.layout
    temp = env["TEMP"]
    out = os.path.join(session.work, "out")
    os.makedirs(out)
    target = os.path.join(out, "stamped card.jpg")

    session.start(install.launcher, env)
    session.shot("started")

    # The launcher is a link into the program's folder; the sample it finds in the data folder
    # (share/glyphtack) proves that the installed program looks for its files there.
    session.click_button("PushButton7")
    sample_view = session.wait_view("the sample picture", lambda v: v.colourfulness() > 0.5)
    session.shot("sample-from-data-folder")
    session.click_button("PushButton10")
    session.wait_view("a zoomed view", lambda v: v.changed_pixels(sample_view) > 10000)

    # A load through the open dialog: back to the unzoomed picture.
    session.click_button("PushButton1")
    dialog = session.wait_dialog("^Add File\\(s\\) - ")
    session.x.type(install.sample)
    session.shot("open-dialog", dialog)
    session.x.key("Return")
    session.x.wait_gone(dialog)
    loaded = session.wait_view("the loaded picture at its own size",
                               lambda v: v.changed_pixels(sample_view) <= SAME)
    session.shot("loaded")

    vx, vy, _, _ = layout.viewport()
    session.x.click(session.main, vx + CLICK[0], vy + CLICK[1])
    box = session.wait_view("the text box", lambda v: v.changed_pixels(loaded) > 200)
    session.x.key("ctrl+a")
    session.x.type(LINES[0])
    session.x.key("Return")
    session.x.type(LINES[1])
    session.wait_view("the typed text", lambda v: v.changed_pixels(box) > 100)
    session.shot("typed")

    session.click_button("PushButton2")
    dialog = session.wait_dialog("^Color$")
    session.x.key("alt+h")  # the dialog's HTML field: the colour as #rrggbb
    session.x.type("#%02x%02x%02x" % TEXT_COLOUR)
    session.shot("colour-dialog", dialog)
    session.x.key("Return")
    session.x.wait_gone(dialog)

    before = session.viewport()
    session.click_button("PushButton3")
    stamped = session.wait_view("the stamped text", lambda v: v.changed_pixels(before) > 100)
    stamped_shot = session.shot("stamped")
    # The README's picture (docs/screenshot.png): this stage in 256 colours, to stay small.
    subprocess.run(["convert", stamped_shot, "-strip", "-colors", "256",
                    "PNG8:" + os.path.join(session.artifacts, "readme-screenshot.png")], check=True)

    session.click_button("PushButton10")
    session.wait_view("the zoomed-in view", lambda v: v.changed_pixels(stamped) > 10000)
    session.shot("zoomed-in")
    session.click_button("PushButton11")
    session.wait_view("the view back at its own size, stamp included",
                      lambda v: v.changed_pixels(stamped) <= SAME)
    session.shot("zoomed-out")

    dialog = session.save_as_jpg(target)
    session.shot("save-dialog", dialog)
    session.x.key("Return")
    session.x.wait_gone(dialog)
    session.wait_saved(target, temp)
    session.shot("saved")
    first_save = os.stat(target).st_mtime_ns

    # The same name again: the program asks before it replaces the file.
    dialog = session.save_as_jpg(target)
    session.x.key("Return")
    session.x.wait_gone(dialog)
    prompt = session.wait_dialog(MAIN_TITLE, exclude=(session.main,))
    session.shot("overwrite-prompt", prompt)
    session.x.key("alt+y")
    session.x.wait_gone(prompt)
    session.wait_saved(target, temp, after_mtime=first_save)
    session.shot("saved-again")
    if sorted(os.listdir(out)) != [os.path.basename(target)]:
        raise SessionError(f"the save left other files beside the picture: {os.listdir(out)}")

    session.close()
    # The program's own folder in TEMP goes with it.
    wait_until("TEMP to be empty after the program ended", lambda: not os.listdir(temp), 10,
               interval=0.1)
    x, y = CLICK
    return target, (x - 25, y - 20, 200, 70)


def check_saved(sample, target, stamp_rect):
    """The saved file: the sample's size, Smart-Detect's quality, and the text where it was put."""
    width, height, _ = imagecheck.identify(sample)
    quality = imagecheck.expected_quality(width, height, os.path.getsize(sample))
    saved = imagecheck.identify(target)
    print(f"saved {saved[0]} x {saved[1]} at quality {saved[2]}; expected {width} x {height} "
          f"at quality {quality}")
    if saved != (width, height, quality):
        raise SessionError(f"saved {saved}, expected {(width, height, quality)}")

    stamp = imagecheck.compare(sample, target, stamp_rect, TEXT_COLOUR)
    print("around the click:", stamp)
    elsewhere = (stamp_rect[0] + 250,) + stamp_rect[1:]
    control = imagecheck.compare(sample, target, elsewhere, TEXT_COLOUR)
    print("the same area of sky further right:", control)
    if stamp.changed < 300 or stamp.share_towards() < 0.8:
        raise SessionError("the text's pixels are not where the text was placed")
    if control.share_changed() > 0.01:
        raise SessionError("the saved picture changed away from the text as well")


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--cmake", default="cmake")
    parser.add_argument("--build-dir", required=True)
    parser.add_argument("--source-dir", required=True)
    parser.add_argument("--artifacts", required=True)
    parser.add_argument("--config", default="")
    parser.add_argument("--bindir", default="bin")
    parser.add_argument("--libdir", default="lib")
    parser.add_argument("--datadir", default="share")
    args = parser.parse_args()

    for tool in ["Xvfb", "xdotool", "import", "convert", "identify"]:
        if not shutil.which(tool):
            print(f"SKIP: {tool} is not installed")
            return 77

    os.makedirs(args.artifacts, exist_ok=True)
    for old in glob.glob(os.path.join(args.artifacts, "*")):
        if os.path.isfile(old):
            os.remove(old)  # nothing from an earlier run may pass for this one's
    started = time.monotonic()
    work = tempfile.mkdtemp(prefix="glyphtack-e2e-")
    display = None
    session = None
    try:
        install = installtree.Layout(os.path.join(work, "install"), args.bindir, args.libdir,
                                     args.datadir)
        installtree.install(args.cmake, args.build_dir, install.prefix, args.config)
        problems = installtree.check(install)
        if problems:
            raise SessionError("the installed tree is incomplete: " + "; ".join(problems))

        env = session_environment(work)
        display = XDisplay(work)
        env["DISPLAY"] = display.name
        session = Session(display, WindowLayout(args.source_dir), args.artifacts, work)
        target, stamp_rect = run(session, install, env)
        check_saved(install.sample, target, stamp_rect)
        shutil.copy(target, os.path.join(args.artifacts, "saved.jpg"))
        print(f"e2e session passed in {time.monotonic() - started:.1f} s on {display.name}; "
              f"screenshots in {args.artifacts}")
        return 0
    except (SessionError, RuntimeError, subprocess.SubprocessError, OSError) as error:
        print(f"FAIL: {error}")
        if session and display:
            try:
                display.capture().save_png(os.path.join(args.artifacts, "failure.png"))
                print("screenshot of the failure:", os.path.join(args.artifacts, "failure.png"))
            except (SessionError, subprocess.SubprocessError, OSError):
                pass
        return 1
    finally:
        log = os.path.join(work, "program.log")
        if os.path.exists(log):
            shutil.copy(log, os.path.join(args.artifacts, "program.log"))
        if session and session.program and session.program.poll() is None:
            session.program.kill()
            session.program.wait()
        if display:
            display.stop()
        shutil.rmtree(work, ignore_errors=True)


def session_environment(work):
    """The program's settings, TEMP and home in the work folder, and a stand-in web browser:
    at start-up the program opens its home page in one run out of a hundred, and that must
    neither reach the network nor fail for want of a browser."""
    folders = {name: os.path.join(work, name) for name in
               ["home", "config", "cache", "data", "runtime", "temp", "tmp", "bin"]}
    for path in folders.values():
        os.makedirs(path, mode=0o700)
    browser = os.path.join(folders["bin"], "xdg-open")
    with open(browser, "w", encoding="utf-8") as f:
        f.write(f'#!/bin/sh\necho "$@" >> "{work}/opened-urls.txt"\n')
    os.chmod(browser, 0o755)
    env = dict(os.environ)
    env.update(HOME=folders["home"], XDG_CONFIG_HOME=folders["config"],
               XDG_CACHE_HOME=folders["cache"], XDG_DATA_HOME=folders["data"],
               XDG_RUNTIME_DIR=folders["runtime"], TEMP=folders["temp"], TMPDIR=folders["tmp"],
               BROWSER=browser, QT_QPA_PLATFORM="xcb",
               PATH=folders["bin"] + os.pathsep + os.environ.get("PATH", ""))
    for name in ["XDG_CURRENT_DESKTOP", "DESKTOP_SESSION", "KDE_FULL_SESSION",
                 "GNOME_DESKTOP_SESSION_ID", "QT_SCALE_FACTOR", "QT_SCREEN_SCALE_FACTORS"]:
        env.pop(name, None)
    return env


if __name__ == "__main__":
    sys.exit(main())
