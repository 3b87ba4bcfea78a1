"""A private X server (Xvfb) and the few things a person does on it: find a window by its title,
move the pointer and click, type, press keys, look at the screen, and close a window.

Input goes through xdotool, which sends real input events (XTEST), so the program sees what it
would see from a keyboard and a mouse. There is no window manager: nothing raises or focuses a
window for us, and the window's close button does not exist, so closing sends the same
WM_DELETE_WINDOW message a window manager would send.
"""

import ctypes
import ctypes.util
import os
import re
import subprocess
import time


class SessionError(Exception):
    """A step of the session did not see what it waited for."""


def wait_until(what, probe, timeout, interval=0.05):
    """Polls probe() until it returns a true value, which is returned; fails after timeout."""
    deadline = time.monotonic() + timeout
    while True:
        value = probe()
        if value:
            return value
        if time.monotonic() > deadline:
            raise SessionError(f"timed out after {timeout:.0f} s waiting for {what}")
        time.sleep(interval)


class Frame:
    """A screenshot as 8-bit RGB rows."""

    def __init__(self, width, height, pixels):
        self.width, self.height, self.pixels = width, height, pixels

    def crop(self, x, y, w, h):
        x0, y0 = max(0, x), max(0, y)
        x1, y1 = min(self.width, x + w), min(self.height, y + h)
        rows = [self.pixels[(r * self.width + x0) * 3:(r * self.width + x1) * 3]
                for r in range(y0, y1)]
        return Frame(x1 - x0, y1 - y0, b"".join(rows))

    def save_png(self, path):
        ppm = b"P6\n%d %d\n255\n" % (self.width, self.height) + self.pixels
        subprocess.run(["convert", "ppm:-", path], input=ppm, check=True)

    def changed_pixels(self, other, tolerance=24):
        """How many pixels differ by more than `tolerance` in a channel (all of them when the
        sizes differ)."""
        if (self.width, self.height) != (other.width, other.height):
            return self.width * self.height
        stride = self.width * 3
        count = 0
        for top in range(0, len(self.pixels), stride):
            a = self.pixels[top:top + stride]
            b = other.pixels[top:top + stride]
            if a == b:
                continue
            for i in range(0, stride, 3):
                if (abs(a[i] - b[i]) > tolerance or abs(a[i + 1] - b[i + 1]) > tolerance
                        or abs(a[i + 2] - b[i + 2]) > tolerance):
                    count += 1
        return count

    def colourfulness(self):
        """Share of pixels that are neither white nor black: 0 for an empty or unpainted area."""
        count = 0
        n = self.width * self.height
        for i in range(0, n * 3, 3 * 5):
            px = self.pixels[i:i + 3]
            if px != b"\xff\xff\xff" and px != b"\x00\x00\x00":
                count += 1
        return count / max(1, len(range(0, n * 3, 3 * 5)))


def parse_ppm(data):
    match = re.match(rb"P6\s+(\d+)\s+(\d+)\s+(\d+)\s", data)
    if not match:
        raise SessionError("the screenshot is not a PPM image")
    width, height = int(match.group(1)), int(match.group(2))
    if int(match.group(3)) != 255:
        raise SessionError("the screenshot does not have 8 bits a channel")
    return Frame(width, height, data[match.end():match.end() + width * height * 3])


class _XSelectionEvent(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong),
                ("send_event", ctypes.c_int), ("display", ctypes.c_void_p),
                ("requestor", ctypes.c_ulong), ("selection", ctypes.c_ulong),
                ("target", ctypes.c_ulong), ("property", ctypes.c_ulong),
                ("time", ctypes.c_ulong)]


class _XEvent(ctypes.Union):
    _fields_ = [("type", ctypes.c_int), ("xselection", _XSelectionEvent),
                ("pad", ctypes.c_long * 24)]


def _xlib():
    """libX11 with the signatures of the calls used here."""
    x11 = ctypes.CDLL(ctypes.util.find_library("X11") or "libX11.so.6")
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x11.XDefaultRootWindow.restype = ctypes.c_ulong
    x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
    x11.XCreateSimpleWindow.restype = ctypes.c_ulong
    x11.XCreateSimpleWindow.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int,
                                        ctypes.c_int, ctypes.c_uint, ctypes.c_uint,
                                        ctypes.c_uint, ctypes.c_ulong, ctypes.c_ulong]
    x11.XInternAtom.restype = ctypes.c_ulong
    x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    x11.XConvertSelection.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong,
                                      ctypes.c_ulong, ctypes.c_ulong, ctypes.c_ulong]
    x11.XPending.argtypes = [ctypes.c_void_p]
    x11.XNextEvent.argtypes = [ctypes.c_void_p, ctypes.c_void_p]
    x11.XGetWindowProperty.argtypes = [
        ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong, ctypes.c_long, ctypes.c_long,
        ctypes.c_int, ctypes.c_ulong, ctypes.POINTER(ctypes.c_ulong),
        ctypes.POINTER(ctypes.c_int), ctypes.POINTER(ctypes.c_ulong),
        ctypes.POINTER(ctypes.c_ulong), ctypes.POINTER(ctypes.c_void_p)]
    x11.XFree.argtypes = [ctypes.c_void_p]
    x11.XFlush.argtypes = [ctypes.c_void_p]
    x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
    return x11


class XDisplay:
    """Xvfb on the first free display number from `first`, stopped by stop()."""

    def __init__(self, workdir, first=150, last=199, size="1280x800x24"):
        self.workdir = workdir
        self.process = None
        self.name = None
        for number in range(first, last + 1):
            if any(os.path.exists(path) for path in
                   (f"/tmp/.X11-unix/X{number}", f"/tmp/.X{number}-lock")):
                continue
            if self._start(number, size):
                return
        raise SessionError(f"no free X display between :{first} and :{last}")

    def _start(self, number, size):
        log = open(os.path.join(self.workdir, f"xvfb-{number}.log"), "wb")
        process = subprocess.Popen(["Xvfb", f":{number}", "-screen", "0", size, "-noreset",
                                    "-nolisten", "tcp"], stdout=log, stderr=log)
        log.close()
        env = dict(os.environ, DISPLAY=f":{number}")
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline:
            if process.poll() is not None:
                return False  # another server took the number first
            probe = subprocess.run(["xdotool", "getdisplaygeometry"], env=env,
                                   capture_output=True)
            if probe.returncode == 0:
                self.process, self.name = process, f":{number}"
                return True
            time.sleep(0.05)
        process.kill()
        process.wait()
        return False

    def stop(self):
        if self.process and self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()

    # ---- the person at the keyboard ----

    def _env(self):
        return dict(os.environ, DISPLAY=self.name)

    def xdotool(self, *args, timeout=10):
        result = subprocess.run(["xdotool", *map(str, args)], env=self._env(),
                                capture_output=True, text=True, timeout=timeout)
        return result.returncode, result.stdout

    def find_windows(self, title_regex, pid=None):
        """Ids of the mapped windows whose title matches (anchored by the caller)."""
        args = ["search", "--onlyvisible"]
        if pid is not None:
            args += ["--pid", pid]
        code, out = self.xdotool(*args, "--name", title_regex)
        windows = [int(w) for w in out.split()] if code == 0 else []
        if pid is not None:
            # xdotool lets the root window through a --pid search; ask each window its owner.
            windows = [w for w in windows
                       if self.xdotool("getwindowpid", w)[1].strip() == str(pid)]
        return windows

    def wait_window(self, title_regex, timeout=20, exclude=()):
        """Waits for a mapped window with this title that is not one of `exclude`."""
        return wait_until(f"a window titled {title_regex!r}",
                          lambda: next((w for w in self.find_windows(title_regex)
                                        if w not in exclude), None), timeout)

    def wait_window_sync(self, title_regex, timeout=20):
        """The same for a title no other window has: xdotool itself waits for it."""
        try:
            result = subprocess.run(["timeout", str(timeout), "xdotool", "search", "--sync",
                                     "--onlyvisible", "--name", title_regex], env=self._env(),
                                    capture_output=True, text=True, timeout=timeout + 5)
        except subprocess.TimeoutExpired:
            result = None
        if result is None or result.returncode != 0 or not result.stdout.split():
            raise SessionError(f"timed out after {timeout} s waiting for a window titled "
                               f"{title_regex!r}")
        return int(result.stdout.split()[0])

    def wait_gone(self, window, timeout=20):
        def gone():
            code, out = self.xdotool("search", "--onlyvisible", "--name", ".*")
            return code != 0 or window not in [int(w) for w in out.split()]
        wait_until(f"window {window} to close", gone, timeout)

    def geometry(self, window):
        code, out = self.xdotool("getwindowgeometry", "--shell", window)
        if code != 0:
            raise SessionError(f"window {window} has gone")
        values = dict(line.split("=", 1) for line in out.split() if "=" in line)
        return int(values["X"]), int(values["Y"]), int(values["WIDTH"]), int(values["HEIGHT"])

    def focus(self, window, timeout=5):
        """Makes sure key presses go to this window; Qt gives a new modal dialog the focus
        itself, this only steps in when it has not (yet)."""
        def focused():
            code, out = self.xdotool("getwindowfocus")
            return code == 0 and out.strip() == str(window)
        try:
            wait_until(f"window {window} to take the keyboard focus", focused, 1.0)
        except SessionError:
            self.xdotool("windowfocus", "--sync", window)
            wait_until(f"window {window} to take the keyboard focus", focused, timeout)

    def click(self, window, x, y):
        """A left click at (x, y) inside the window."""
        self.xdotool("mousemove", "--window", window, x, y)
        self.xdotool("click", "1")

    def key(self, *keys):
        self.xdotool("key", "--delay", "40", *keys)

    def type(self, text):
        # Letters outside the keyboard map (accents, Cyrillic) are typed by xdotool through a
        # spare key code it maps on the fly; a gentle pace gives the program time to see each
        # map change before the key that uses it.
        self.xdotool("type", "--delay", "40", text, timeout=60)

    def capture(self):
        """The whole screen. ImageMagick's `import` reads what is shown on the screen; `xwd`
        misses some freshly mapped dialogs on this server (it shows them black)."""
        result = subprocess.run(["import", "-silent", "-window", "root", "-depth", "8",
                                 "ppm:-"],
                                env=self._env(), capture_output=True, timeout=20)
        if result.returncode != 0:
            raise SessionError("screenshot failed: " + result.stderr.decode(errors="replace"))
        return parse_ppm(result.stdout)

    def selection_text(self, selection="CLIPBOARD", timeout=5):
        """The text a program holds in an X selection (what Ctrl+C copied), asked for as UTF-8;
        None when no program holds it or it cannot be read as text."""
        x11 = _xlib()
        display = x11.XOpenDisplay(self.name.encode())
        if not display:
            raise SessionError(f"cannot open display {self.name}")
        try:
            root = x11.XDefaultRootWindow(display)
            window = x11.XCreateSimpleWindow(display, root, 0, 0, 1, 1, 0, 0, 0)
            atom = x11.XInternAtom(display, selection.encode(), 0)
            utf8 = x11.XInternAtom(display, b"UTF8_STRING", 0)
            target = x11.XInternAtom(display, b"GLYPHTACK_TEST_SELECTION", 0)
            x11.XConvertSelection(display, atom, utf8, target, window, 0)
            x11.XFlush(display)
            event = _XEvent()
            deadline = time.monotonic() + timeout
            while True:
                if x11.XPending(display):
                    x11.XNextEvent(display, ctypes.byref(event))
                    if event.type == 31:  # SelectionNotify
                        break
                elif time.monotonic() > deadline:
                    return None
                else:
                    time.sleep(0.02)
            if event.xselection.property == 0:
                return None
            kind, fmt = ctypes.c_ulong(), ctypes.c_int()
            count, after = ctypes.c_ulong(), ctypes.c_ulong()
            data = ctypes.c_void_p()
            if x11.XGetWindowProperty(display, window, target, 0, 1 << 16, 1, 0,
                                      ctypes.byref(kind), ctypes.byref(fmt), ctypes.byref(count),
                                      ctypes.byref(after), ctypes.byref(data)) != 0:
                return None
            try:
                if not data.value or fmt.value != 8:
                    return None
                return ctypes.string_at(data.value, count.value).decode("utf-8", "replace")
            finally:
                if data.value:
                    x11.XFree(data)
        finally:
            x11.XCloseDisplay(display)

    def close_window(self, window):
        """Sends WM_DELETE_WINDOW, as a window manager does when the close button is clicked."""
        x11 = ctypes.CDLL(ctypes.util.find_library("X11") or "libX11.so.6")
        x11.XOpenDisplay.restype = ctypes.c_void_p
        x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
        x11.XInternAtom.restype = ctypes.c_ulong
        x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
        x11.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long,
                                   ctypes.c_void_p]
        x11.XFlush.argtypes = [ctypes.c_void_p]
        x11.XCloseDisplay.argtypes = [ctypes.c_void_p]

        class ClientMessage(ctypes.Structure):
            _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong),
                        ("send_event", ctypes.c_int), ("display", ctypes.c_void_p),
                        ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                        ("format", ctypes.c_int), ("data", ctypes.c_long * 5)]

        class Event(ctypes.Union):
            _fields_ = [("xclient", ClientMessage), ("pad", ctypes.c_long * 24)]

        display = x11.XOpenDisplay(self.name.encode())
        if not display:
            raise SessionError(f"cannot open display {self.name}")
        try:
            event = Event()
            event.xclient.type = 33  # ClientMessage
            event.xclient.window = window
            event.xclient.message_type = x11.XInternAtom(display, b"WM_PROTOCOLS", 0)
            event.xclient.format = 32
            event.xclient.data[0] = x11.XInternAtom(display, b"WM_DELETE_WINDOW", 0)
            event.xclient.data[1] = 0  # CurrentTime
            x11.XSendEvent(display, window, 0, 0, ctypes.byref(event))
            x11.XFlush(display)
        finally:
            x11.XCloseDisplay(display)
