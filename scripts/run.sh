#!/usr/bin/env bash
# Installs what is missing, builds Glyphtack and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DGLYPHTACK_TESTS=OFF -DGLYPHTACK_BENCH=OFF >/dev/null
cmake --build build -j"$(nproc)" --target glyphtack
exec ./build/glyphtack "$@"
