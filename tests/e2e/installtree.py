"""Installs the build into a fresh prefix and checks what a user's desktop needs from it: the
program, its files in the data folder, the launcher on PATH, the menu entry and the icon."""

import os
import shutil
import struct
import subprocess


class Layout:
    """Where the install puts things, relative to the prefix (GNUInstallDirs' folders)."""

    def __init__(self, prefix, bindir="bin", libdir="lib", datadir="share"):
        self.prefix = prefix
        self.data_dir = os.path.join(prefix, datadir, "glyphtack")
        self.program_dir = os.path.join(prefix, libdir, "glyphtack")
        self.program = os.path.join(self.program_dir, "glyphtack")
        self.launcher = os.path.join(prefix, bindir, "glyphtack")
        self.desktop_file = os.path.join(prefix, datadir, "applications", "glyphtack.desktop")
        self.icon = os.path.join(prefix, datadir, "icons", "hicolor", "256x256", "apps",
                                 "glyphtack.png")
        # The files the program reads are with the other read-only data, not beside it.
        self.sample = os.path.join(self.data_dir, "Samples", "sample.jpg")
        self.cursor = os.path.join(self.data_dir, "HAND-M.CUR")


# The media types of the pictures the program reads.
READ_TYPES = {"image/bmp", "image/jpeg", "image/gif", "image/vnd.microsoft.icon", "image/wmf",
              "image/png", "image/tiff", "image/webp", "image/heif", "image/avif", "image/jxl"}


def install(cmake, build_dir, prefix, config=""):
    """`cmake --install` of the build folder into prefix; raises with cmake's output on failure.
    The build folder's install_manifest.txt is left as it was: it lists the files of the user's
    own install, which must not be swapped for those of a test's throwaway prefix."""
    command = [cmake, "--install", build_dir, "--prefix", prefix]
    if config:
        command += ["--config", config]
    manifest = os.path.join(build_dir, "install_manifest.txt")
    kept = None
    if os.path.isfile(manifest):
        with open(manifest, "rb") as f:
            kept = f.read()
    try:
        result = subprocess.run(command, capture_output=True, text=True)
    finally:
        if kept is not None:
            with open(manifest, "wb") as f:
                f.write(kept)
        elif os.path.exists(manifest):
            os.remove(manifest)
    if result.returncode != 0:
        raise RuntimeError("cmake --install failed:\n" + result.stdout + result.stderr)
    return result.stdout


def read_desktop_entry(path):
    """The keys of the [Desktop Entry] group."""
    entry, group = {}, None
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.strip()
            if not line or line.startswith("#"):
                continue
            if line.startswith("["):
                group = line
            elif group == "[Desktop Entry]" and "=" in line:
                key, value = line.split("=", 1)
                entry[key.strip()] = value.strip()
    return entry


def png_size(path):
    with open(path, "rb") as f:
        head = f.read(24)
    if len(head) < 24 or head[:8] != b"\x89PNG\r\n\x1a\n" or head[12:16] != b"IHDR":
        return None
    return struct.unpack(">II", head[16:24])


def check(layout):
    """Everything wrong with the installed tree, as readable lines (empty when all is well)."""
    problems = []
    for path, what in [(layout.program, "the program"), (layout.sample, "the sample picture"),
                       (layout.cursor, "the hand cursor")]:
        if not os.path.isfile(path) or os.path.getsize(path) == 0:
            problems.append(f"{what} is missing: {path}")
    if os.path.isfile(layout.program) and not os.access(layout.program, os.X_OK):
        problems.append(f"the program cannot be run: {layout.program}")

    # The launcher: a relative link, so the tree still works after it is moved or packaged.
    if not os.path.lexists(layout.launcher):
        problems.append(f"no launcher on PATH: {layout.launcher}")
    else:
        if os.path.islink(layout.launcher) and os.path.isabs(os.readlink(layout.launcher)):
            problems.append(f"the launcher is an absolute link: {os.readlink(layout.launcher)}")
        if os.path.realpath(layout.launcher) != os.path.realpath(layout.program):
            problems.append(f"the launcher leads to {os.path.realpath(layout.launcher)}, "
                            f"not to {layout.program}")

    if not os.path.isfile(layout.desktop_file):
        problems.append(f"no menu entry: {layout.desktop_file}")
    else:
        entry = read_desktop_entry(layout.desktop_file)
        expected = {"Type": "Application", "Name": "Glyphtack", "Icon": "glyphtack"}
        for key, value in expected.items():
            if entry.get(key) != value:
                problems.append(f"menu entry {key}={entry.get(key)!r}, expected {value!r}")
        command = entry.get("Exec", "").split()
        if not command or command[0] != os.path.basename(layout.launcher):
            problems.append(f"menu entry Exec={entry.get('Exec')!r} does not start the launcher")
        # A file manager's "Open With" hands it one file, of any type the program reads.
        if command[1:] != ["%f"]:
            problems.append(f"menu entry Exec={entry.get('Exec')!r} takes no file (%f)")
        offered = set(entry.get("MimeType", "").split(";"))
        missing = sorted(READ_TYPES - offered)
        if missing:
            problems.append(f"menu entry MimeType leaves out {', '.join(missing)}")
        if "Graphics" not in entry.get("Categories", "").split(";"):
            problems.append("menu entry is not in the Graphics category")
        validator = shutil.which("desktop-file-validate")
        if validator:
            result = subprocess.run([validator, layout.desktop_file], capture_output=True,
                                    text=True)
            if result.returncode != 0 or result.stdout.strip():
                problems.append("desktop-file-validate: " + (result.stdout + result.stderr))

    size = png_size(layout.icon) if os.path.isfile(layout.icon) else None
    if size != (256, 256):
        problems.append(f"the icon {layout.icon} is not a 256 x 256 PNG (found {size})")
    return problems
