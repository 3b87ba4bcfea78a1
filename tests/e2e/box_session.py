#!/usr/bin/env python3
"""The editing box with the real program in a real X window, driven by real input events.

font-dialog: "Change Font" opens the real font dialog on the box's own font. The family, style
and size it shows are copied out of it (Ctrl+C in its lists and size field) and read from the X
clipboard: Arial, Bold, 9 at first; OK without a change keeps them; a second visit that changes
only the size keeps the family and the bold.

frame-click: with a box open, clicks on a frame, a frame's caption and the disabled slider leave
the box open (its sizing border and grip still there); "Finish Editing Text" then stamps it.

Exits 77 (skipped) where Xvfb, xdotool or ImageMagick are missing."""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from e2e_session import SAME, Session, session_environment  # noqa: E402
from windowlayout import WindowLayout  # noqa: E402
from xdisplay import SessionError, XDisplay, wait_until  # noqa: E402

# Where the box opens, in picture pixels: in the sample's sky.
CLICK = (60, 40)


def open_box(session):
    """Loads the sample and opens the box with a click on it; returns the view with the box."""
    session.click_button("PushButton7")
    loaded = session.wait_view("the sample picture", lambda v: v.colourfulness() > 0.5)
    vx, vy, _, _ = session.layout.viewport()
    session.x.click(session.main, vx + CLICK[0], vy + CLICK[1])
    return session.wait_view("the text box", lambda v: v.changed_pixels(loaded) > 200)


def copied(session, keys, expected, what):
    """Presses the keys (which end in a copy) and waits for the X clipboard to hold `expected`;
    fails with what it holds instead."""
    session.x.key(*keys)
    seen = [None]

    def holds():
        seen[0] = session.x.selection_text()
        return seen[0] == expected
    try:
        wait_until(f"the font dialog's {what} {expected!r} on the clipboard", holds, 5, 0.1)
    except SessionError:
        raise SessionError(f"the font dialog shows {what} {seen[0]!r}, expected {expected!r}")


def font_fields(session, family, style, size):
    """Checks the open font dialog's family, style and size. Each value read differs from the
    one read before it, so a clipboard left over from an earlier copy cannot pass."""
    copied(session, ["alt+f", "ctrl+c"], family, "family")
    copied(session, ["alt+y", "ctrl+c"], style, "style")
    copied(session, ["alt+s", "ctrl+a", "ctrl+c"], size, "size")


def font_dialog_case(session):
    open_box(session)
    session.x.type("Dialog and box agree")
    session.click_button("PushButton5")
    dialog = session.wait_dialog("^Font$")
    session.shot("font-dialog", dialog)
    font_fields(session, "Arial", "Bold", "9")
    session.x.key("Return")
    session.x.wait_gone(dialog)

    # OK without a change kept the font: the dialog shows it again. Then only the size changes.
    session.click_button("PushButton5")
    dialog = session.wait_dialog("^Font$")
    font_fields(session, "Arial", "Bold", "9")
    session.x.key("alt+s", "ctrl+a")
    session.x.type("14")
    session.x.key("Return")
    session.x.wait_gone(dialog)

    session.click_button("PushButton5")
    dialog = session.wait_dialog("^Font$")
    font_fields(session, "Arial", "Bold", "14")
    session.shot("font-dialog-again", dialog)
    session.x.key("Escape")
    session.x.wait_gone(dialog)
    # The typed text was never stamped: closing asks before it is lost.
    close_discarding(session, "unsaved-box-prompt")


def frame_click_case(session):
    layout = session.layout
    with_box = open_box(session)
    session.x.type("Still open")
    typed = session.wait_view("the typed text", lambda v: v.changed_pixels(with_box) > 50)
    session.shot("box-open")

    f2x, f2y, _, _ = layout.rect("Frame2")
    f4x, f4y, _, f4h = layout.rect("Frame4")
    sx, sy, sw, sh = layout.rect("Slider1")
    f1x, f1y, _, f1h = layout.rect("Frame1")
    clicks = {
        "the zoom frame": (f1x + 4, f1y + f1h - 4),
        "the quality frame's caption": (f2x + 30, f2y + 6),
        "the disabled slider": (f2x + f4x + sx + sw // 2, f2y + f4y + sy + sh // 2),
        "the disabled percentage frame": (f2x + f4x + 4, f2y + f4y + f4h - 4),
    }
    for what, (x, y) in clicks.items():
        session.x.click(session.main, x, y)
        view = session.wait_view(f"the view after a click on {what}", lambda v: True)
        if view.changed_pixels(typed) > SAME:
            session.shot("box-closed-by-mistake")
            raise SessionError(f"a click on {what} changed the view: the box was stamped")
    session.shot("box-still-open")

    # The check has teeth: a stamp takes the box's border and grip away.
    session.click_button("PushButton3")
    session.wait_view("the stamped text", lambda v: v.changed_pixels(typed) > 200)
    session.shot("stamped")

    # Closing asks about the unsaved stamp.
    close_discarding(session, "unsaved-prompt")


def close_discarding(session, shot):
    """Closes the window, which asks about unsaved text: the second button, Discard, closes
    without it."""
    session.x.close_window(session.main)
    prompt = session.wait_dialog("^Glyphtack$", exclude=(session.main,))
    session.shot(shot, prompt)
    session.x.key("Tab", "space")
    try:
        code = session.program.wait(timeout=10)
    except subprocess.TimeoutExpired:
        raise SessionError("the program did not end after Discard")
    if code != 0:
        raise SessionError(f"the program ended with exit code {code}")


CASES = {"font-dialog": font_dialog_case, "frame-click": frame_click_case}


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--program", required=True)
    parser.add_argument("--source-dir", required=True)
    parser.add_argument("--artifacts", required=True)
    parser.add_argument("--case", choices=sorted(CASES), required=True)
    args = parser.parse_args()

    for tool in ["Xvfb", "xdotool", "import", "convert"]:
        if not shutil.which(tool):
            print(f"SKIP: {tool} is not installed")
            return 77

    artifacts = os.path.join(args.artifacts, args.case)
    os.makedirs(artifacts, exist_ok=True)
    for old in os.listdir(artifacts):
        os.remove(os.path.join(artifacts, old))
    work = tempfile.mkdtemp(prefix="glyphtack-box-")
    display = None
    session = None
    try:
        env = session_environment(work)
        display = XDisplay(work, first=200, last=249)
        env["DISPLAY"] = display.name
        session = Session(display, WindowLayout(args.source_dir), artifacts, work)
        session.start(args.program, env)
        CASES[args.case](session)
        print(f"{args.case}: passed on {display.name}; screenshots in {artifacts}")
        return 0
    except (SessionError, RuntimeError, OSError) as error:
        print(f"FAIL: {error}")
        if display:
            try:
                display.capture().save_png(os.path.join(artifacts, "failure.png"))
            except (SessionError, OSError):
                pass
        return 1
    finally:
        log = os.path.join(work, "program.log")
        if os.path.exists(log):
            shutil.copy(log, os.path.join(artifacts, "program.log"))
        if session and session.program and session.program.poll() is None:
            session.program.kill()
            session.program.wait()
        if display:
            display.stop()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
