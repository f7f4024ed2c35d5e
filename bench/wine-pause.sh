#!/usr/bin/env bash
# The Windows command's picture through pauses, under Wine: ffplay on the test desktop
# flashes a corner white once a second; the shipped ffmpeg.exe runs the program's own
# Windows argument list (from `caprello_bench windows-command`) with its picture only
# (Wine's DirectShow sound capture is a stub), and is paused as the program pauses it, its
# threads suspended by the program's win_threads.c (bench/win/pause_process.c). Prints the
# start (FFmpeg's launch to the file's first frame, any still of 0.2 s or more in the first
# 2 s), the file's length against its span in real time less the pauses, and for each pause
# how much more than it the cut took out of the picture: the flashes' one-second beat moves
# in the file by that (give or take the frame in which gdigrab, at 29.97 a second, sees a
# flash of ffplay's 30: that drifts by 1 ms a second), and so does gdigrab's own beat
# (exact, but only within a frame). The last file is kept in /tmp/wine-pause-last.*.
# Usage: bench/wine-pause.sh <caprello_bench> <ffmpeg.exe> [pauses] [seconds]
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bench=$(realpath "$1"); ffexe=$(realpath "$2"); pauses=${3:-4}; seconds=${4:-30}
source "$root/scripts/wine-desktop.sh"
work=$(mktemp -d)
trap '[ $? = 0 ] || tail -5 "$work/ffmpeg.log" >&2; kill $(jobs -p) 2>/dev/null; caprello_wine_stop; rm -rf "$work"' EXIT
caprello_wine_start >/dev/null
x86_64-w64-mingw32-gcc -static -O1 -std=c11 -I"$root/src/platform" -o "$work/pause_process.exe" \
    "$root/bench/win/pause_process.c" "$root/src/platform/win_threads.c"
now() { date +%s.%N; }
# The program's list without the two sound inputs, their filters and their map.
mapfile -t args < <(QT_QPA_PLATFORM=offscreen "$bench" windows-command 2>/dev/null | python3 -c '
import sys
a = sys.stdin.read().split("\n")[:-1]
out = []
i = 0
while i < len(a):
    if a[i] == "-f" and a[i + 1] == "dshow":
        i += 6
        continue
    if a[i] == "-filter_complex":
        out += [a[i], a[i + 1].split("[vout];")[0] + "[vout]"]
        i += 2
        continue
    if a[i] == "-map" and a[i + 1] == "[aout]":
        i += 2
        continue
    out.append(a[i])
    i += 1
print("\n".join(out[:-1]))')
[ ${#args[@]} -gt 10 ] || { echo "no Windows command from $bench" >&2; exit 1; }
file="$work/rec.mp4"
source "$root/bench/onsets.sh"
ffplay -loglevel error -nostats -left 960 -top 0 -x 320 -y 240 -noborder -an -f lavfi \
    "testsrc2=s=320x240:r=30,drawbox=w=160:c=white:t=fill:enable='lt(mod(t\,1)\,0.1)'" &
sleep 2
# A running Wine, as on Windows the system is: a cold wineserver's start (about 1 s) is Wine's.
"$CAPRELLO_WINESERVER" -p
wine "$ffexe" -version >/dev/null
launched=$(now)
wine "$ffexe" -hide_banner "${args[@]}" "$(winepath -w "$file" | tr -d '\r')" </dev/null >"$work/ffmpeg.log" 2>&1 &
ffmpeg_job=$!
sleep 3
: >"$work/stops"
for ((i = 0; i < pauses; i++)); do
    # 1.00 to 1.99 s, as bench/sync.sh pauses.
    wine "$work/pause_process.exe" ffmpeg.exe "1$(printf %02d $((RANDOM % 100)))0" | tr -d '\r' >>"$work/stops"
    sleep 3
done
sleep $((seconds - 3 - 4 * pauses > 0 ? seconds - 3 - 4 * pauses : 1))
# Wine's FFmpeg reads no "q" from a Unix pipe; Ctrl+C finishes the file as well.
quit=$(now); pkill -INT -f "^$ffexe"
wait $ffmpeg_job || true   # 255 after a signal, the file finished
grep -q "Exiting normally" "$work/ffmpeg.log"
ffmpeg -v fatal -i "$file" -an -vf "crop=160:240:960:0,$seen_filter=-" -f null - | flashes >"$work/seen"
cp "$file" /tmp/wine-pause-last.mp4; cp "$work/stops" /tmp/wine-pause-last.stops; cp "$work/ffmpeg.log" /tmp/wine-pause-last.log
duration=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$file")
still=$(ffmpeg -hide_banner -nostats -t 2 -i "$file" -an -vf freezedetect=n=-60dB:d=0.2 -f null - 2>&1 \
    | awk '/freeze_start/ {s = $NF} /freeze_duration/ {printf " %.2f s from %.2f s,", $NF, s}')
# The file counts from gdigrab's first grab, stamped with the wall clock (FFmpeg's "start").
first=$(tr -d '\r' <"$work/ffmpeg.log" | sed -n 's/.*Duration: N\/A, start: \([0-9.]*\),.*/\1/p' | head -1)
ffprobe -v error -select_streams v -show_entries packet=pts_time -of csv=p=0 "$file" | sort -n >"$work/frames"
python3 - "$launched" "$quit" "$duration" "${still:- none}" "$work/stops" "$work/seen" "$first" "$work/frames" <<'PY'
import statistics, sys
launched, quit, duration, still = float(sys.argv[1]), float(sys.argv[2]), float(sys.argv[3]), sys.argv[4]
base = float(sys.argv[7])
spans = [tuple(map(float, line.split())) for line in open(sys.argv[5]) if line.strip()]
seen = [float(v) for v in open(sys.argv[6])]
stopped = sum(b - a for a, b in spans)
print(f"FFmpeg's launch (wine) to the file's first frame {1000 * (base - launched):.0f} ms; still in the first 2 s:{still}")
print(f"{duration:.2f} s recorded; from its first frame to Ctrl+C, less {stopped:.2f} s paused: {quit - base - stopped:.2f} s")
at, before = [], [0.0]  # each pause's place in the file, and the real time stopped before it
for a, b in spans:
    at.append(a - base - before[-1])
    before.append(before[-1] + b - a)
def segment(t):
    return sum(t > a for a in at)
# The flashes in real time, by segment; those within 0.3 s of a pause are left out.
out = [[] for _ in range(len(spans) + 1)]
for t in seen:
    if all(abs(t - a) > 0.3 for a in at):
        out[segment(t)].append((t, t + base + before[segment(t)]))
first = statistics.median(r % 1 for t, r in out[0])
def offsets(rows):
    # How far each flash lies from the first segment's place on the one-second beat.
    return [((r - first + 0.5) % 1) - 0.5 for t, r in rows]
def shown(rows):
    # A cut that took out e too much moves the beat in the file e earlier: -e.
    v = offsets(rows)
    return (-1000 * statistics.median(v), 1000 * (max(v) - min(v))) if v else (float("nan"), 0)
# The same, finer but only within a frame: gdigrab grabs on one beat of 1001/30000 s from
# its start, through the pauses, so every frame's real time (once gdigrab has caught up
# after a pause, 0.6 s) keeps one phase on that beat if the cuts are right.
beat = 1001 / 30000
frames = [float(v) for v in open(sys.argv[8])]
def on_beat(k):
    lo, hi = (at[k - 1] + 0.6 if k else 0.5), (at[k] - 0.1 if k < len(at) else 1e9)
    return statistics.median((t + before[k]) % beat for t in frames if lo < t < hi)
fine = [-1000 * (((on_beat(k) - on_beat(0) + beat / 2) % beat) - beat / 2) for k in range(len(spans) + 1)]
print("each pause: how long FFmpeg was stopped; how much more than that the picture lost, by then (ms),")
print("from the flashes (their spread) and on gdigrab's beat (within half a frame, 17 ms)")
print("  before    : {:6s}   picture {:+5.0f}   spread {:3.0f}".format("", *shown(out[0])))
for k, (a, b) in enumerate(spans, 1):
    print("  pause {:2d}: {:6.0f}   picture {:+5.0f}   spread {:3.0f}   on the beat {:+4.0f}".format(k, 1000 * (b - a), *shown(out[k]), fine[k]))
# A long recording's last minute on its own: how the picture keeps time.
last = [(t, r) for t, r in out[-1] if t > duration - 60]
if duration > 120 and last:
    print("  last minute       picture {:+5.0f}   spread {:3.0f}".format(*shown(last)))
PY
