#!/usr/bin/env bash
# Runs one test (the command and its arguments) with a temporary folder, a runtime folder and a
# home for scratch files of its own, made fresh and removed afterwards, so that what other
# programs on the machine do in the shared ones cannot change its outcome. Its exit status is the
# test's.
set -u
base=$(mktemp -d "${TMPDIR:-/tmp}/glyphtack-test.XXXXXXXX") || exit 1
trap 'rm -rf "$base"' EXIT
# Others may pass through (a test may run a stretch as another user), as through /tmp.
chmod 755 "$base"
mkdir -m 1777 "$base/tmp"
mkdir -m 700 "$base/runtime"
export TMPDIR="$base/tmp" XDG_RUNTIME_DIR="$base/runtime"
"$@"
