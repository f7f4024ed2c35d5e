#!/usr/bin/env bash
# Drives the real program under Xvfb like a person would (xdotool clicks and drags,
# the real ffmpeg, a private PulseAudio) and takes screenshots of each state:
# idle, recording (with its clock), paused, the area selector, the gallery after a
# full-desktop, a custom-area and an MP3 recording made from the window alone, and the
# status line after a start without ffmpeg.
# Usage: scripts/screenshots.sh [output-dir]   (default build/screenshots)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
out=${1:-$root/build/screenshots}
build=${CAPRELLO_BUILD_DIR:-$root/build}
mkdir -p "$out"

source "$root/scripts/deps.sh"
caprello_install "${CAPRELLO_BUILD_PACKAGES[@]}" "${CAPRELLO_TEST_PACKAGES[@]}"
[ -x "$build/src/caprello" ] || { cmake -S "$root" -B "$build" && cmake --build "$build" -j"$(nproc)"; }

source "$root/scripts/virtual-desktop.sh"
home=$(mktemp -d)
app_pid=
finish() {
    [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null
    [ -n "${compositor_pid:-}" ] && kill "$compositor_pid" 2>/dev/null
    caprello_desktop_stop
    rm -rf "$home"
}
trap finish EXIT
caprello_desktop_start
# A compositor, as desktops have, so that the selector's translucent shade shows.
command -v xcompmgr >/dev/null || DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends xcompmgr
xcompmgr >/dev/null 2>&1 &
compositor_pid=$!

# Starts the program with the PATH given and waits for its window.
start_app() {
    HOME=$home PATH=$1 QT_FORCE_STDERR_LOGGING=1 "$build/src/caprello" >"$out/$2" 2>&1 &
    app_pid=$!
    for _ in $(seq 100); do
        xdotool search --name '^Caprello$' >/dev/null 2>&1 && break
        sleep 0.1
    done
    sleep 1
}
start_app "$PATH" caprello.log

shot() { import -window root "$out/$1.png"; echo "  $out/$1.png"; }
click() { xdotool mousemove "$1" "$2" click 1; sleep "${3:-0.5}"; }
# Waits until FFmpeg has reported some seconds of output: earlier stops leave empty files.
wait_recording() { sleep 5; }

# Window at the desktop's origin (no window manager): START at (860,152) when idle;
# while recording STOP is at (860,125) and PAUSE at (860,210).
echo "Screenshots:"
shot 1-idle

click 860 152 1.5      # START, mode Full
wait_recording
shot 2-recording
click 860 210          # PAUSE
shot 3-paused
click 860 210 1        # RESUME
click 860 125 3        # STOP

# Custom Area: choose it in the mode box; the selector covers the screen.
# The list opens under the box's top edge, 26 px an entry: Full, Custom Area, MP3 only.
click 137 161          # open the mode list
click 120 189 1        # Custom Area
xdotool mousemove 200 150 mousedown 1 mousemove 500 300 mousemove 840 540
sleep 0.5
shot 4-area-selector
xdotool mouseup 1
sleep 1
click 860 152 1.5      # START records the drawn area
wait_recording
click 860 125 3        # STOP

click 137 161
click 120 215 1        # MP3 only
click 860 152 1.5
wait_recording
click 860 125 3
shot 5-gallery

# A start with no ffmpeg to be found: the status line says so.
kill "$app_pid"; wait "$app_pid" 2>/dev/null || true
start_app /usr/local/sbin:/sbin caprello-no-ffmpeg.log
click 860 152 1.5
shot 6-failed-start

echo "Recordings:"
for f in "$home"/Desktop/ScreenRecordings/*; do
    printf '  %s: ' "$(basename "$f")"
    ffprobe -v error -show_entries stream=codec_name,width,height:format=duration -of compact=p=0:nk=1 "$f" | tr '\n' ' '
    echo
done
