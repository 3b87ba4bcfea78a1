#!/usr/bin/env bash
# Makes the Debian package from a build folder with cpack, checks what it installs and what it
# depends on, runs the program unpacked from it, without a display: --version, --help and
# `caption --help`, and has lintian judge it: no error and no warning. Exit 77 (skipped) where
# the Debian tools are missing.
set -euo pipefail
build=$1
version=$2
for tool in cpack dpkg-deb dpkg-shlibdeps lintian; do
    command -v "$tool" >/dev/null || { echo "$tool is not installed"; exit 77; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

(cd "$build" && cpack -G DEB -B "$work/out") > "$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log"; fail "cpack -G DEB"; }
deb=$(ls "$work"/out/*.deb)
echo "package: $(basename "$deb")"

dpkg-deb -c "$deb" | awk '{ $1 = $2 = $3 = $4 = $5 = ""; sub(/^ +/, ""); print }' > "$work/contents"
expected=(
    "./usr/bin/glyphtack -> ../lib/glyphtack/glyphtack"
    ./usr/lib/glyphtack/glyphtack
    ./usr/share/glyphtack/HAND-M.CUR
    ./usr/share/glyphtack/Samples/sample.jpg
    ./usr/share/doc/glyphtack/copyright
    ./usr/share/doc/glyphtack/changelog.Debian.gz
    ./usr/share/applications/glyphtack.desktop
    ./usr/share/metainfo/io.github.pellorin.glyphtack.metainfo.xml
    ./usr/share/man/man1/glyphtack.1.gz
    ./usr/share/bash-completion/completions/glyphtack
)
for size in 16 24 32 48 64 128 256; do
    expected+=("./usr/share/icons/hicolor/${size}x${size}/apps/glyphtack.png")
done
for path in "${expected[@]}"; do
    grep -qxF "$path" "$work/contents" || { cat "$work/contents"; fail "no $path in the package"; }
done

# Dependencies as dpkg-shlibdeps found them: Qt, libheif and libjxl for the program, libjpeg for
# its converter; each named once.
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for library in libqt6widgets6 libjpeg62-turbo libc6 libheif1 libjxl0.7; do
    [[ $depends == *"$library"* ]] || fail "the package does not depend on $library"
done
repeated=$(tr ',' '\n' <<<"$depends" | awk '{ print $1 }' | sort | uniq -d)
[ -z "$repeated" ] || fail "Depends names $repeated more than once"

# What a distribution's checker says: nothing at the error and warning levels (what it says at
# the info and pedantic levels is shown, for the record).
lintian --fail-on error,warning --display-info --pedantic "$deb" ||
    fail "lintian finds errors or warnings in the package"

dpkg-deb -x "$deb" "$work/root"
program=$work/root/usr/bin/glyphtack
run() { env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb "$program" "$@"; }
[ "$(run --version)" = "glyphtack $version" ] || fail "--version printed \"$(run --version)\""
run --help | grep -q "glyphtack caption" || fail "--help does not name the caption command"
run caption --help > "$work/caption-help" || fail "caption --help"
grep -q -- "--files-from" "$work/caption-help" || fail "caption --help lacks --files-from"

# Completion offers every option the command knows.
completion=$work/root/usr/share/bash-completion/completions/glyphtack
for option in $(grep -oE -- '--[a-z][a-z-]+' "$work/caption-help" | sort -u); do
    grep -qF -- "$option" "$completion" || fail "the completion does not offer $option"
done

metainfo=$work/root/usr/share/metainfo/io.github.pellorin.glyphtack.metainfo.xml
if command -v appstreamcli >/dev/null; then
    appstreamcli validate --no-net "$metainfo" || fail "appstreamcli validate"
fi
# The manual page describes every option --help lists; both, and the completion, give the JPG
# qualities with keep first (the default), and the two give every exit status.
zcat "$work/root/usr/share/man/man1/glyphtack.1.gz" > "$work/manual"
for option in $(grep -oE -- '--[a-z][a-z-]+' "$work/caption-help" | sort -u); do
    grep -qF -- "${option//-/\\-}" "$work/manual" || fail "the manual page does not describe $option"
done
grep -qF 'keep|smart|1-100' "$work/manual" || fail "the manual page lacks --quality keep"
grep -qF 'keep|smart|1-100' "$work/caption-help" || fail "caption --help lacks --quality keep"
grep -qF '"keep smart"' "$completion" || fail "the completion does not offer --quality keep"
for status in 0 1 2 130 143; do
    grep -qE "^\.B $status\$" "$work/manual" || fail "the manual page lacks exit status $status"
    grep -qw "$status" "$work/caption-help" || fail "caption --help lacks exit status $status"
done
echo "the package installs the program, its files, menu entry, icons, metainfo, manual page and completion"
