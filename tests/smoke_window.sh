#!/usr/bin/env bash
# Starts the real program in a real X window under Xvfb, finds its window, checks its size and
# keeps a screenshot; then starts it as a file manager does, with a picture to open, and sees the
# picture in the window. Usage: smoke_window.sh PROGRAM ARTIFACT_FOLDER
set -euo pipefail
program=$1
artifacts=$2
mkdir -p "$artifacts"
for tool in Xvfb xdotool xwd convert; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done

display=""
for n in $(seq 91 140); do
    if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then
        display=":$n"
        break
    fi
done
[ -n "$display" ] || { echo "no free display"; exit 1; }

work=$(mktemp -d)
xvfb_pid=""
program_pid=""
cleanup() {
    [ -n "$program_pid" ] && kill "$program_pid" 2>/dev/null || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

Xvfb "$display" -screen 0 1280x800x24 -noreset -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 1 50); do
    [ -e "/tmp/.X11-unix/X${display#:}" ] && break
    sleep 0.1
done

export DISPLAY=$display
export QT_QPA_PLATFORM=xcb
export XDG_CONFIG_HOME="$work/config"
export XDG_CACHE_HOME="$work/cache"
# At start-up the program opens its home page in one run out of a hundred: a stand-in browser
# takes it, so that run neither reaches the network nor reports a missing browser.
mkdir -p "$work/bin"
printf '#!/bin/sh\necho "$@" >> "%s/opened-urls.txt"\n' "$work" >"$work/bin/xdg-open"
chmod 755 "$work/bin/xdg-open"
export BROWSER="$work/bin/xdg-open" PATH="$work/bin:$PATH"
unset XDG_CURRENT_DESKTOP DESKTOP_SESSION KDE_FULL_SESSION GNOME_DESKTOP_SESSION_ID
"$program" >"$work/program.log" 2>&1 &
program_pid=$!

window=$(timeout 20 xdotool search --sync --onlyvisible --name '^Glyphtack$' | head -n 1) || {
    echo "the window did not appear"
    cat "$work/program.log"
    exit 1
}
sleep 1
geometry=$(xdotool getwindowgeometry "$window")
echo "$geometry"
echo "$geometry" | grep -q "Geometry: 1064x386" || { echo "unexpected window size"; exit 1; }
xwd -root -silent | convert xwd:- "$artifacts/smoke-window.png"
echo "screenshot: $artifacts/smoke-window.png"
kill -0 "$program_pid" || { echo "the program ended by itself"; exit 1; }

# `glyphtack FILE`: the window opens with the picture shown where Load Picture shows it (from
# 8, 9 in the window), and nothing else opens (no error report).
kill "$program_pid"
wait "$program_pid" 2>/dev/null || true
picture="$work/a picture from a phone.png"
convert -size 200x120 xc:'#20C040' "$picture"
"$program" "$picture" >"$work/program.log" 2>&1 &
program_pid=$!
window=$(timeout 20 xdotool search --sync --onlyvisible --name '^Glyphtack$' | head -n 1) || {
    echo "the window did not appear with a picture to open"
    cat "$work/program.log"
    exit 1
}
shown=""
for _ in $(seq 1 50); do
    shown=$(xwd -id "$window" -silent | convert xwd:- -crop 1x1+60+50 -depth 8 txt:- |
        grep -o '#[0-9A-F]\{6\}' | head -n 1)
    [ "$shown" = "#20C040" ] && break
    sleep 0.2
done
xwd -id "$window" -silent | convert xwd:- "$artifacts/smoke-window-file.png"
[ "$shown" = "#20C040" ] || { echo "the picture given on the command line is not shown ($shown)"; exit 1; }
windows=$(xdotool search --onlyvisible --pid "$program_pid" | wc -l)
[ "$windows" -eq 1 ] || { echo "the program shows $windows windows"; exit 1; }
echo "started with a picture: shown (screenshot $artifacts/smoke-window-file.png)"
