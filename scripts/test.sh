#!/usr/bin/env bash
# Installs what is missing, builds Glyphtack with its tests (warnings are errors) and runs the
# whole suite headless.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
. scripts/compiler-cache.sh
cmake -S . -B build-test -DCMAKE_BUILD_TYPE=RelWithDebInfo -DGLYPHTACK_WERROR=ON >/dev/null
cmake --build build-test -j"$(nproc)"
cd build-test
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$(nproc)"
