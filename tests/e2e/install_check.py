#!/usr/bin/env python3
"""Installs the build into a temporary prefix and checks the tree a desktop needs: the program,
its files in the data folder, bin/glyphtack leading to it, the menu entry and the icon."""

import argparse
import os
import sys
import tempfile

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import installtree  # noqa: E402


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--cmake", default="cmake")
    parser.add_argument("--build-dir", required=True)
    parser.add_argument("--config", default="")
    parser.add_argument("--bindir", default="bin")
    parser.add_argument("--libdir", default="lib")
    parser.add_argument("--datadir", default="share")
    args = parser.parse_args()

    with tempfile.TemporaryDirectory(prefix="glyphtack-install-") as prefix:
        print(installtree.install(args.cmake, args.build_dir, prefix, args.config), end="")
        layout = installtree.Layout(prefix, args.bindir, args.libdir, args.datadir)
        problems = installtree.check(layout)
    for problem in problems:
        print("FAIL:", problem)
    if problems:
        return 1
    print("the installed tree has the program, its files, the launcher, the menu entry and icon")
    return 0


if __name__ == "__main__":
    sys.exit(main())
