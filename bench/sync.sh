#!/usr/bin/env bash
# Picture against sound in a long recording made by the real program: on the test desktop,
# ffplay shows a moving picture that flashes white with a 3000 Hz beep once a second;
# caprello records it ("Full", driven with xdotool) with 1-2 s pauses 3 s apart near the start
# (default two), for the given minutes (default 10). Prints, for the first and last minute and
# after each pause, how far each flash lies from its beep in the file (positive: the beep
# comes later).
# Usage: bench/sync.sh <caprello executable> [minutes] [pauses]
#   on Wayland: scripts/wayland-desktop.sh bench/sync.sh <caprello executable> [minutes]
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
exe=$(realpath "$1"); minutes=${2:-10}; pauses=${3:-2}
if [ -n "${WAYLAND_DISPLAY:-}" ]; then
    # Run inside scripts/wayland-desktop.sh: its desktop, sound and XWayland serve.
    caprello_desktop_start() { :; }
    caprello_desktop_stop() { :; }
else
    source "$root/scripts/virtual-desktop.sh"
fi
work=$(mktemp -d)
source "$root/bench/onsets.sh"
trap 'kill $(jobs -p) 2>/dev/null; caprello_desktop_stop; rm -rf "$work"' EXIT
caprello_desktop_start >/dev/null
export HOME=$work QT_QPA_PLATFORM=xcb
SDL_AUDIODRIVER=pulseaudio ffplay -loglevel error -nostats -left 960 -top 0 -x 320 -y 240 -noborder -f lavfi \
    "testsrc2=s=320x240:r=30,drawbox=w=160:c=white:t=fill:enable='lt(mod(t\,1)\,0.1)'[out0];aevalsrc='0.8*sin(2*PI*3000*t)*lt(mod(t\,1)\,0.1)'[out1]" &
sleep 2
# What the file is held against: the flash as X shows it (100 grabs a second) and the beep
# as the sink plays it, each stamped with the wall clock as it is read, so that what the
# player itself does is told apart from what the recording does. The sound in the server's
# usual deliveries: smaller ones asked for here would be the recording's too. On Wayland
# XWayland's root window shows nothing: there the player's own X window is grabbed, as
# XWayland has it before the compositor shows it.
t0=$(date +%s)
where=(-grab_x 960 -grab_y 0)
[ -z "${WAYLAND_DISPLAY:-}" ] || where=(-window_id "$(xdotool search --class ffplay | head -1)" -grab_x 0 -grab_y 0)
ffmpeg -v error -f x11grab -draw_mouse 0 -framerate 100 -video_size 160x240 "${where[@]}" -i "$DISPLAY" \
    -f pulse -i speakers.monitor -copyts \
    -map 0:v -vf "setpts=PTS-$t0/TB,$seen_filter=$work/ref-picture" -f null - \
    -map 1:a -af "asetpts=PTS-$t0/TB,$heard_filter=$work/ref-sound" -f null - </dev/null 2>"$work/ref.log" &
reference=$!
"$exe" >"$work/app.log" 2>&1 &
app=$!
window=$(xdotool search --sync --onlyvisible --pid $app --name '^Caprello$' | head -1)
click() { xdotool mousemove --window "$window" "$1" "$2" click 1; }
now() { date +%s.%N; }
clicked=$(now); click 860 152; started=$(now)   # START, some time between the two
# When FFmpeg really stops and runs again: its state in /proc, every half millisecond.
for ((i = 0; i < 100; i++)); do ffmpeg_pid=$(pgrep -P $app -x ffmpeg || true); [ -n "$ffmpeg_pid" ] && break; sleep 0.05; done
# The wall-clock time the file counts from, as the program gave it to FFmpeg.
base=$(tr '\0' '\n' </proc/$ffmpeg_pid/cmdline | grep -o "T-[0-9][0-9.]*" | head -1 | cut -c3-)
python3 - "$ffmpeg_pid" >"$work/stops" <<'PY' &
import sys, time
last = None
while True:
    try:
        state = open(f"/proc/{sys.argv[1]}/stat").read().rsplit(")", 1)[1].split()[0]
    except OSError:
        break
    if (state == "T") != (last == "T"):
        print(f"{time.time():.4f} {state}", flush=True)
    last = state
    time.sleep(0.0005)
PY
sleep 3
# The file as it is being written counts from that time; the copy made at STOP starts at
# its earliest stream (the sound, some hundredths in, less the encoder's priming).
cp "$work"/Desktop/ScreenRecordings/*.mp4 "$work/early.mp4"
shift=$(ffprobe -v error -show_entries stream=start_time -of csv=p=0 "$work/early.mp4" | sort -n | head -1)
at=""; paused=0                                 # each pause's time in the file
for ((i = 0; i < pauses; i++)); do
    # 1.00 to 1.99 s: pauses all of one length would meet the sound server's blocks
    # always at the same place in them.
    t=$(now); click 860 210; sleep "$(printf 1.%02d $((RANDOM % 100)))"; click 860 210   # PAUSE, RESUME
    at="$at $(awk -v t="$t" -v s="$started" -v p="$paused" 'BEGIN { printf "%.3f", t - s - p }')"
    paused=$(awk -v t="$t" -v n="$(now)" -v p="$paused" 'BEGIN { printf "%.3f", p + n - t }'); sleep 3
done
sleep $((minutes * 60 - 3 - 4 * pauses > 0 ? minutes * 60 - 3 - 4 * pauses : 1))
click 860 152; sleep 5                          # STOP
click 936 24; wait $app || true
[ -z "$reference" ] || { kill -INT $reference; wait $reference || true; }
file=$(ls "$work"/Desktop/ScreenRecordings/*.mp4)
ffmpeg -v error -i "$file" -an -vf "crop=160:240:960:0,$seen_filter=-" -f null - | flashes >"$work/seen"
ffmpeg -v error -i "$file" -vn -af "$heard_filter=-" -f null - | beeps >"$work/heard"
duration=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$file")
# The start in real time, from the moment xdotool was started to click START (an upper
# bound: the click comes some time before it returns): FFmpeg's start (the time the file
# counts from) and the file's first frame; and any still picture of 0.2 s or more in the
# file's first 2 s.
first=$(ffprobe -v error -select_streams v:0 -show_entries stream=start_time -of csv=p=0 "$file")
still=$(ffmpeg -hide_banner -nostats -t 2 -i "$file" -an -vf freezedetect=n=-60dB:d=0.2 -f null - 2>&1 \
    | awk '/freeze_start/ {s = $NF} /freeze_duration/ {printf " %.2f s from %.2f s,", $NF, s}')
awk -v c="$clicked" -v x="$started" -v b="$base" -v s="$shift" -v f="$first" -v still="${still:- none}" 'BEGIN {
    printf "START to FFmpeg'"'"'s start %.0f ms, to the file'"'"'s first frame %.0f ms (xdotool took %.0f ms); still in the first 2 s:%s\n",
        (b - c) * 1000, (b + s + f - c) * 1000, (x - c) * 1000, still }'
echo "$duration s recorded; flash to beep in ms (min .. max):"
awk -v d="$duration" -v p="$pauses" -v at="$at" 'BEGIN { split(at, a, " ") } NR == FNR {h[n++] = $1; next}
    { best = 1e9; for (i = 0; i < n; i++) if ((h[i] - $1) ^ 2 < best ^ 2) best = h[i] - $1
      # Which pause came last before this flash; one within 0.3 s of a pause is left out.
      k = 0; near = 0; for (i = 1; i <= p; i++) if ($1 > a[i] - 0.3) { k = i; near = $1 < a[i] + 0.3 }
      span = k == 0 ? "before the pauses (first 3 s)" : k < p || $1 < a[p] + 3 ? (near ? "" : sprintf("after pause %2d of %d", k, p)) \
          : $1 < 60 ? "first minute" : $1 > d - 60 ? "last minute" : ""
      if (span != "") { s[span] = s[span] sprintf(" %+.0f", best * 1000); if (!(span in lo) || best < lo[span]) lo[span] = best; if (!(span in hi) || best > hi[span]) hi[span] = best } }
    END { for (k in s) printf "  %-32s %+.0f .. %+.0f\n", k, lo[k] * 1000, hi[k] * 1000 }' "$work/heard" "$work/seen" | sort
# How much each pause took out of the picture and out of the sound, against how long FFmpeg
# was really stopped: ffplay's flashes and beeps keep a one-second beat in real time, so
# the beat's phase in the file moves by what a cut took out too much or too little. Then,
# against the reference: how late each flash and each beep lies in the file in real time
# (the file's time, plus the time it counts from, plus the real stops before it), and the
# player's own flash to beep.
player=()
if [ -n "$reference" ]; then
    flashes "$work/ref-picture" >"$work/ref-seen"; beeps "$work/ref-sound" >"$work/ref-heard"
    player=("$work/ref-seen" "$work/ref-heard")
fi
python3 - "$(awk -v b="$base" -v s="$shift" 'BEGIN { printf "%.6f", b + s }')" "$t0" "$work/stops" "$work/seen" "$work/heard" \
    "${player[@]}" <<'PY'
import statistics, sys
base, t0 = float(sys.argv[1]), float(sys.argv[2])
stops = [line.split() for line in open(sys.argv[3])]
spans = [(float(a[0]), float(b[0])) for a, b in zip(stops[0::2], stops[1::2]) if a[1] == "T"]
seen, heard, *reference = ([float(v) for v in open(f)] for f in sys.argv[4:])
at, gone = [], 0.0  # each pause's place in the file, and the real time stopped before it
for p0, p1 in spans:
    at.append(p0 - base - gone)
    gone += p1 - p0
end = max(seen + heard)
def placed(onsets):
    # Each onset's span, file time and real time; onsets within 0.3 s of a pause are left out.
    for t in onsets:
        k = sum(t > a for a in at)
        if all(abs(t - a) > 0.3 for a in at):
            span = "last minute" if t > max(end - 60, at[-1] + 3 if at else 0) else f"after pause {k}" if k else "before the pauses"
            yield k, span, t, t + base + sum(p1 - p0 for p0, p1 in spans[:k])
def phases(onsets):
    # The beat's phase after each pause (0: before the first).
    out = [[] for _ in range(len(spans) + 1)]
    for k, span, t, real in placed(onsets):
        out[k].append(real)
    first = statistics.median(r % 1 for r in out[0]) if out[0] else 0
    # A cut that took out e too much moves the beat in the file e earlier: -e.
    return [-statistics.median(((r - first + 0.5) % 1) - 0.5 for r in rs) * 1000 if rs else float("nan") for rs in out]
picture, sound = phases(seen), phases(heard)
print("each pause: how long FFmpeg was stopped; how much more than that the picture and the sound lost, by then (ms)")
for k, (p0, p1) in enumerate(spans, 1):
    print(f"  pause {k:2d}: {1000 * (p1 - p0):6.0f}   picture {picture[k]:+5.0f}   sound {sound[k]:+5.0f}")
if not reference:
    sys.exit()
ref_seen, ref_heard = ([t + t0 for t in onsets] for onsets in reference)
def spell(values):
    return f"{statistics.median(values):+4.0f} ({min(values):+.0f} .. {max(values):+.0f})" if values else "   -"
def nearest(values, t):
    return min(values, key=lambda v: abs(v - t))
def matched(onsets, reference):
    # Each placed onset with the player's same onset.
    for k, span, t, real in placed(onsets):
        r = nearest(reference, real)
        if abs(r - real) < 0.4:
            yield span, t, real, r
def by_span(rows):
    out = {}
    for span, value in rows:
        out.setdefault(span, []).append(1000 * value)
    return out
picture = by_span((span, real - r) for span, t, real, r in matched(seen, ref_seen))
sound = by_span((span, real - r) for span, t, real, r in matched(heard, ref_heard))
# A flash's beep in the file against the same flash's beep in the player: what the
# recording itself parts.
apart = by_span((span, (nearest(heard, t) - t) - (nearest(ref_heard, r) - r)) for span, t, real, r in matched(seen, ref_seen))
print(f"the player itself, flash to beep (ms): {spell([1000 * (nearest(ref_heard, s) - s) for s in ref_seen[3:]])}")
print("against the player (ms, median (min .. max)): how late the file has each flash and each beep, and how far it moves a beep from its flash")
for span in sorted(set(picture) | set(sound), key=lambda s: (s != "before the pauses", s == "last minute", s)):
    print(f"  {span:18s} picture {spell(picture.get(span, []))}   sound {spell(sound.get(span, []))}   beep {spell(apart.get(span, []))}")
PY
