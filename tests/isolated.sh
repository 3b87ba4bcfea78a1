#!/usr/bin/env bash
# Runs one test (the command and its arguments) with a temporary folder and a runtime folder of
# its own, made fresh and removed afterwards, so that what other programs on the machine do in
# the shared ones cannot change its outcome. The temporary folder's name is kept short: some tests
# type paths inside it. Its exit status is the test's.
set -u
base=$(mktemp -d "${TMPDIR:-/tmp}/gt-XXXXXX") || exit 1
trap 'rm -rf "$base"' EXIT
# Open to every user with the sticky bit, as /tmp is: a test may run a stretch as another user.
chmod 1777 "$base"
mkdir -m 700 "$base/.runtime"
export TMPDIR="$base" XDG_RUNTIME_DIR="$base/.runtime"
"$@"
