#!/usr/bin/env bash
# Runs one libFuzzer target for a set time, at the lowest CPU priority, and keeps what it finds.
#
#   scripts/fuzz.sh TARGET SECONDS
#
# TARGET: fuzz_metafile, fuzz_bmpreader, fuzz_loadpicture or fuzz_settings. Builds the targets
# with clang in build-fuzz (or $GLYPHTACK_FUZZ_BUILD) when needed. The work folder
# ($GLYPHTACK_FUZZ_WORK, by default /tmp/glyphtack-fuzz/TARGET) keeps the growing corpus, the
# findings (crash-*, timeout-*, oom-*, leak-*) and the log of each run; the seeds are copied
# into it from the shared corpus, never into the source tree. Prints the executions, coverage
# and findings at the end.
set -euo pipefail

target=${1:?usage: fuzz.sh TARGET SECONDS}
seconds=${2:?usage: fuzz.sh TARGET SECONDS}
root=$(cd "$(dirname "$0")/.." && pwd)
build=${GLYPHTACK_FUZZ_BUILD:-$root/build-fuzz}
work=${GLYPHTACK_FUZZ_WORK:-/tmp/glyphtack-fuzz/$target}
corpus_source=${GLYPHTACK_CORPUS:-$root/../shared/corpus}

# What each target reads, as folders of the shared corpus, and the longest input worth trying.
case $target in
fuzz_metafile) seeds=(wmf) max_len=65536 ;;
fuzz_bmpreader) seeds=(bmp) max_len=65536 ;;
fuzz_loadpicture) seeds=(bmp jpeg gif ico wmf cur) max_len=131072 ;;
fuzz_settings) seeds=() max_len=4096 ;;
*)
    echo "unknown target: $target" >&2
    exit 2
    ;;
esac

# Build (the first time configures; later only what changed is rebuilt).
if [ ! -f "$build/CMakeCache.txt" ]; then
    if ! command -v clang++ >/dev/null; then
        echo "fuzzing needs clang and its fuzzer runtime: Debian packages clang libclang-rt-14-dev" >&2
        exit 2
    fi
    CC=clang CXX=clang++ nice -n 19 cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DGLYPHTACK_FUZZ=ON -DGLYPHTACK_TESTS=OFF -DGLYPHTACK_BENCH=OFF >/dev/null
fi
# The build runs instrumented helper programs (the resource generator); Qt's own leaks at exit
# are no finding of ours.
ASAN_OPTIONS=detect_leaks=0 nice -n 19 cmake --build "$build" -j2 --target "$target" >/dev/null

mkdir -p "$work/corpus" "$work/findings" "$work/seeds"
# Seeds: the shared corpus files of the target's formats, up to max_len (larger ones only slow
# the fuzzer down), plus our own hand-made ones.
for dir in "${seeds[@]}"; do
    [ -d "$corpus_source/$dir" ] || continue
    find "$corpus_source/$dir" -type f -size -$((max_len / 1024 + 1))k -print0 |
        while IFS= read -r -d '' f; do
            cp -n "$f" "$work/seeds/$(sha1sum "$f" | cut -c1-16)" 2>/dev/null || true
        done
done
if [ -d "$root/fuzz/seeds/$target" ]; then
    cp -n "$root/fuzz/seeds/$target"/* "$work/seeds/" 2>/dev/null || true
fi

dict=()
if [ -f "$root/fuzz/$target.dict" ]; then
    dict=(-dict="$root/fuzz/$target.dict")
fi

# Fork mode with one job: the fuzzing runs in a child process, and a finding is kept and the
# run goes on, so that the whole time is spent fuzzing and every finding of the run is kept.
log="$work/run-$(date -u +%Y%m%dT%H%M%SZ).log"
echo "fuzzing $target for ${seconds}s; work folder $work; log $log"
touch "$work/.run-start"
status=0
(
    cd "$work/findings"
    ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0:allocator_may_return_null=1} \
        UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1} \
        QT_QPA_PLATFORM=offscreen \
        nice -n 19 "$build/fuzz/$target" -fork=1 -ignore_crashes=1 -ignore_ooms=1 \
        -ignore_timeouts=1 -max_total_time="$seconds" -rss_limit_mb=2048 -malloc_limit_mb=2048 \
        -timeout=5 -max_len="$max_len" -artifact_prefix="$work/findings/" "${dict[@]}" \
        "$work/corpus" "$work/seeds"
) >"$log" 2>&1 || status=$?

# The last status line of the fork mode has the totals:
# "#EXECS: cov: N ft: N corp: N exec/s N oom/timeout/crash: O/T/C time: Ns job: N ..."
last=$(grep -E '^#[0-9]+: cov:' "$log" | tail -n 1 || true)
execs=$(echo "$last" | grep -oE '^#[0-9]+' | tr -d '#' || true)
cov=$(echo "$last" | grep -oE 'cov: [0-9]+' | awk '{print $2}' || true)
ft=$(echo "$last" | grep -oE 'ft: [0-9]+' | awk '{print $2}' || true)
corpus_size=$(echo "$last" | grep -oE 'corp: [0-9]+' | awk '{print $2}' || true)
otc=$(echo "$last" | grep -oE 'oom/timeout/crash: [0-9/]+' | awk '{print $2}' || true)
# Findings of this run only; the folder keeps those of earlier runs too.
found() {
    find "$work/findings" -maxdepth 1 -type f -newer "$work/.run-start" \
        \( -name 'crash-*' -o -name 'timeout-*' -o -name 'oom-*' -o -name 'leak-*' \)
}
findings=$(found | wc -l)
echo "target=$target seconds=$seconds execs=${execs:-?} cov=${cov:-?} ft=${ft:-?}" \
    "corpus=${corpus_size:-?} oom/timeout/crash=${otc:-?} findings=$findings exit=$status"
if [ "$findings" -gt 0 ]; then
    found | sort
    grep -E '^==[0-9]+==.*ERROR|SUMMARY|runtime error|ALARM|out-of-memory' "$log" | sort | uniq -c |
        head -n 10 || true
fi
exit "$status"
