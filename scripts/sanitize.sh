#!/usr/bin/env bash
# Builds the program, the converter and the whole test suite with AddressSanitizer and
# UndefinedBehaviorSanitizer (g++, GLYPHTACK_SANITIZE=ON) in build-asan, or in
# $GLYPHTACK_ASAN_BUILD, and runs the suite under them. Any sanitizer report fails its test:
# undefined behaviour aborts at once (-fno-sanitize-recover=undefined), and leaks are reported
# at exit except those listed in scripts/lsan.supp (leaks of the system libraries under Qt,
# explained there). Prints how long the build and the run took.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${GLYPHTACK_ASAN_BUILD:-$root/build-asan}
jobs=${GLYPHTACK_JOBS:-2}

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:detect_stack_use_after_return=1:check_initialization_order=1"
export LSAN_OPTIONS="suppressions=$root/scripts/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

. "$root/scripts/compiler-cache.sh"

# Warnings are not errors here: with the sanitizers' checks inlined, g++ 12 warns of array bounds
# in code that is fine (the normal build keeps -Werror).
start=$(date +%s)
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DGLYPHTACK_SANITIZE=ON \
    -DGLYPHTACK_WERROR=OFF -DGLYPHTACK_BENCH=OFF >/dev/null
cmake --build "$build" -j"$jobs"
built=$(date +%s)

status=0
(cd "$build" && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$jobs") || status=$?
done_at=$(date +%s)
echo "sanitizer build: $((built - start)) s; suite under the sanitizers: $((done_at - built)) s"
exit "$status"
