#!/usr/bin/env bash
# Builds Release and runs every benchmark on a private X + PulseAudio desktop, one table
# each; bench/run.sh --quick: fewer, shorter rounds. See bench/README.md.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${CAPRELLO_BENCH_BUILD:-/tmp/caprello-bench}
quick=${1:-}
[ -z "$quick" ] || [ "$quick" = --quick ] || { echo "usage: $0 [--quick]" >&2; exit 2; }
source "$root/scripts/deps.sh"
caprello_install "${CAPRELLO_BUILD_PACKAGES[@]}" xvfb xauth pulseaudio pulseaudio-utils sox libsox-fmt-pulse python3-xlib
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DCAPRELLO_BUILD_BENCH=ON >/dev/null
cmake --build "$build" -j"$(nproc)" --target caprello caprello_bench minimal_window >/dev/null
source "$root/scripts/virtual-desktop.sh"
trap caprello_desktop_stop EXIT
caprello_desktop_start
export QT_QPA_PLATFORM=xcb
sleep 2  # the desktop settles (the tone plays) before anything is timed

results=$build/bench-results.md status=0 started=$SECONDS
: >"$build/bench.log"
run() {  # exit code 1: a goal missed (in the table); anything else: the benchmark could not run
    local t=$SECONDS code=0
    "$@" 2>>"$build/bench.log" | tee -a "$results" || code=$?
    [ "$code" -le 1 ] || { echo "benchmark ${2##*/} failed (exit code $code)" | tee -a "$results"; status=1; }
    echo "(${2##*/}: $((SECONDS - t)) s)"
}
echo "## Caprello benchmarks ${quick:+(quick) }— $(date -u '+%Y-%m-%d %H:%M UTC')

$(nproc) cores, $(awk '/MemTotal/ {printf "%.0f GiB", $2 / 1048576}' /proc/meminfo), $(uname -sr);\
 $(ffmpeg -version | head -1 | cut -d' ' -f1-3); Qt $(qtpaths6 --qt-version 2>/dev/null || echo 6);\
 Xvfb 1280x720x24 and PulseAudio from scripts/virtual-desktop.sh.
Load average at the start: $(cut -d' ' -f1-3 /proc/loadavg)." | tee "$results"
for bench in start stop cpu fidelity gallery-list gallery-frames; do
    run "$build/bench/caprello_bench" "$bench" $quick
done
run /usr/bin/python3 "$root/bench/startup.py" "$build/src/caprello" "$build/bench/minimal_window" \
    --runs "$([ -n "$quick" ] && echo 3 || echo 5)"
echo "Load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)." | tee -a "$results"
echo -e "\nGoals: $(grep -cE '\| PASS +\|$' "$results" || true) met, $(grep -cE '\| MISS +\|$' "$results" || true)" \
    "missed; $((SECONDS - started)) s. Tables: $results"
exit $status
