# Sourced: starts a private X server and PulseAudio server for tests and screenshots,
# and stops them again. Call caprello_desktop_start, and caprello_desktop_stop on exit.
# scripts/wayland-desktop.sh uses the sound part alone: caprello_sound_start/stop.
#
# Sound set-up: sink "speakers" (its monitor "speakers.monitor" is the system sound)
# plays a 1000 Hz tone; source "mic" is a 440 Hz sine and the default input. The sine
# is played into a sink of its own, "voice", whose monitor "mic" remaps, so that it
# comes as often as a microphone's sound does (module-sine-source hands it over in
# 2 s blocks, which FFmpeg then waits for).

# PulseAudio in the existing folder $XDG_RUNTIME_DIR; its state and log under $1.
caprello_sound_start() {
    local dir=$1 i
    unset PULSE_SERVER
    # Its own state: nothing a run sets (a stream's mute, a volume) outlives the desktop.
    # Not daemonized, so that it stays a child of the desktop and is stopped by its id.
    XDG_CONFIG_HOME="$dir/config" pulseaudio --daemonize=no --exit-idle-time=-1 --disallow-exit \
        >"$dir/pulse.log" 2>&1 &
    CAPRELLO_PULSE_PID=$!
    for i in $(seq 50); do
        pactl info >/dev/null 2>&1 && break
        kill -0 "$CAPRELLO_PULSE_PID" 2>/dev/null || break
        sleep 0.1
    done
    pactl info >/dev/null 2>&1 || { echo "PulseAudio did not start" >&2; cat "$dir/pulse.log" >&2; return 1; }
    pactl load-module module-null-sink sink_name=speakers sink_properties=device.description=Speakers >/dev/null
    pactl load-module module-null-sink sink_name=voice sink_properties=device.description=Voice >/dev/null
    pactl load-module module-remap-source master=voice.monitor source_name=mic \
        "source_properties='device.description=\"Sine at 440 Hz\"'" >/dev/null
    pactl set-default-sink speakers
    pactl set-default-source mic
    # Something playing on the system.
    sox -q -n -t pulseaudio speakers synth 36000 sine 1000 vol 0.5 >/dev/null 2>&1 &
    CAPRELLO_TONE_PID=$!
    sox -q -n -t pulseaudio voice synth 36000 sine 440 vol 0.5 >/dev/null 2>&1 &
    CAPRELLO_TONE_PID="$CAPRELLO_TONE_PID $!"
}

caprello_sound_stop() {
    [ -n "${CAPRELLO_TONE_PID:-}" ] && kill $CAPRELLO_TONE_PID 2>/dev/null
    [ -n "${CAPRELLO_PULSE_PID:-}" ] && kill "$CAPRELLO_PULSE_PID" 2>/dev/null && wait "$CAPRELLO_PULSE_PID" 2>/dev/null
    CAPRELLO_TONE_PID= CAPRELLO_PULSE_PID=
    return 0
}

caprello_desktop_start() {
    CAPRELLO_DESKTOP_TMP=$(mktemp -d)

    # -displayfd picks a free display number: never assume :99 is free. -noreset: a
    # desktop always has clients, this one often none between recordings, and a server
    # that resets when its last client leaves keeps the next one waiting, or drops it.
    Xvfb -displayfd 3 -screen 0 1280x720x24 -nolisten tcp -noreset 3>"$CAPRELLO_DESKTOP_TMP/display" \
        >"$CAPRELLO_DESKTOP_TMP/xvfb.log" 2>&1 &
    CAPRELLO_XVFB_PID=$!
    local i
    for i in $(seq 100); do
        [ -s "$CAPRELLO_DESKTOP_TMP/display" ] && break
        sleep 0.1
    done
    [ -s "$CAPRELLO_DESKTOP_TMP/display" ] || { echo "Xvfb did not start" >&2; cat "$CAPRELLO_DESKTOP_TMP/xvfb.log" >&2; return 1; }
    export DISPLAY=":$(cat "$CAPRELLO_DESKTOP_TMP/display")"

    # PulseAudio as root needs a runtime folder of its own.
    export XDG_RUNTIME_DIR="$CAPRELLO_DESKTOP_TMP/runtime"
    mkdir -m 700 "$XDG_RUNTIME_DIR"
    caprello_sound_start "$CAPRELLO_DESKTOP_TMP" || return 1
    echo "Virtual desktop: DISPLAY=$DISPLAY, PulseAudio in $XDG_RUNTIME_DIR"
}

caprello_desktop_stop() {
    caprello_sound_stop
    [ -n "${CAPRELLO_XVFB_PID:-}" ] && kill "$CAPRELLO_XVFB_PID" 2>/dev/null && wait "$CAPRELLO_XVFB_PID" 2>/dev/null
    [ -n "${CAPRELLO_DESKTOP_TMP:-}" ] && rm -rf "$CAPRELLO_DESKTOP_TMP"
    CAPRELLO_XVFB_PID= CAPRELLO_DESKTOP_TMP=
    return 0
}
