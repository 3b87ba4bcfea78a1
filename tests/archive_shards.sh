#!/usr/bin/env bash
# The README's recipe for several machines, run on this one: GNU parallel hands three shards of
# one list to three runs of `glyphtack caption` (through --sshlogin ':', this machine). Together
# they must write exactly the files one run writes, byte for byte, each picture in one shard.
# Exit 77 (skipped) where GNU parallel is missing.
set -euo pipefail
program=$1
command -v parallel >/dev/null || { echo "GNU parallel is not installed"; exit 77; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/photos/a" "$work/photos/b"
# Twelve pictures in two folders, two of them under a name with a space.
for i in $(seq 1 12); do
    folder=$([ $((i % 2)) -eq 0 ] && echo a || echo b)
    name="photo $i"
    [ "$i" -gt 2 ] && name="photo$i"
    cp "$(dirname "$program")/Samples/sample.jpg" "$work/photos/$folder/$name.jpg"
done
(cd "$work" && find photos -name '*.jpg' | sort > list.txt)
options=(--text '{n} {name}' --anchor bottom-left --quality 80 --jobs 1)

# One run, its list NUL-separated on standard input.
(cd "$work" && tr '\n' '\0' < list.txt |
    "$program" caption "${options[@]}" --files-from - -0 --out one) > "$work/one.log"

# Three shards through GNU parallel, each given the same list.
(cd "$work" && parallel --will-cite --quote --sshlogin : \
    "$program" caption "${options[@]}" --files-from list.txt --shard {}/3 --out three \
    ::: 0 1 2) > "$work/three.log"

cat "$work/one.log" "$work/three.log"
if ! diff -r "$work/one" "$work/three"; then
    echo "FAIL: the shards wrote other files than one run"
    exit 1
fi
[ "$(ls "$work/one" | wc -l)" -eq 12 ] || { echo "FAIL: one run did not write 12 files"; exit 1; }
# Each picture in one shard only, and no shard left without any.
counts=$(sed -n 's/^captioned \([0-9]*\) of \([0-9]*\) .*/\2/p' "$work/three.log")
[ "$(echo "$counts" | wc -l)" -eq 3 ] || { echo "FAIL: not three shards"; exit 1; }
[ "$(echo "$counts" | awk '{ s += $1 } END { print s }')" -eq 12 ] || { echo "FAIL: shards overlap"; exit 1; }
if echo "$counts" | grep -qx 0; then echo "FAIL: an empty shard"; exit 1; fi
echo "three shards through GNU parallel wrote what one run wrote"
