#!/usr/bin/env bash
# Runs a command on a private headless Wayland desktop and tears the desktop down again:
# sway (one 1280x720 output with a clock ticking on it), PipeWire and WirePlumber, the
# ScreenCast portal (xdg-desktop-portal with its wlr backend, no questions asked), a
# session bus, and PulseAudio set up as scripts/virtual-desktop.sh does.
# Usage: scripts/wayland-desktop.sh COMMAND [ARGS...]   exits with COMMAND's exit code.
#
# As root, the desktop and COMMAND run as the user caprello-test (made on first use):
# sway refuses to run as root. COMMAND gets WAYLAND_DISPLAY, XDG_RUNTIME_DIR,
# DBUS_SESSION_BUS_ADDRESS, XDG_CURRENT_DESKTOP, SWAYSOCK, QT_QPA_PLATFORM=wayland and
# that user's HOME; the rest of the caller's environment (PATH, CAPRELLO_*, QT_*) is kept.
#
# CAPRELLO_SCREENCOPY_SHIM: the built scripts/wayland/screencopy-shim.c (default
#   ${CAPRELLO_BUILD_DIR:-build}/tests/libcaprello_screencopy_shim.so). Without a GPU the
#   portal backend cannot cast without it.
# CAPRELLO_WAYLAND_LOGS: a folder to copy the desktop's logs to at the end.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
user=caprello-test

fail() { echo "wayland-desktop: $*" >&2; exit 1; }

[ $# -gt 0 ] || fail "usage: $0 COMMAND [ARGS...]"
for c in sway foot swaymsg pipewire wireplumber pw-cli dbus-daemon dbus-send pulseaudio pactl sox \
    /usr/libexec/xdg-desktop-portal /usr/libexec/xdg-desktop-portal-wlr; do
    command -v "$c" >/dev/null || fail "$c is missing (scripts/deps.sh lists the test packages)"
done

if [ -z "${CAPRELLO_SCREENCOPY_SHIM:-}" ]; then
    build=${CAPRELLO_BUILD_DIR:-$root/build}
    CAPRELLO_SCREENCOPY_SHIM=$build/tests/libcaprello_screencopy_shim.so
fi
# Absolute, because the command may run elsewhere.
CAPRELLO_SCREENCOPY_SHIM=$(realpath -m "$CAPRELLO_SCREENCOPY_SHIM")
export CAPRELLO_SCREENCOPY_SHIM

if [ "$(id -u)" -eq 0 ]; then
    # Another test may be making the user at the same moment.
    id -u "$user" >/dev/null 2>&1 || useradd -m "$user" || id -u "$user" >/dev/null 2>&1 \
        || fail "cannot create the user $user"
    home=$(getent passwd "$user" | cut -d: -f6)
    # A checkout the user cannot reach (a clone under /root, say): it may pass through
    # the folders on the way, by an ACL entry for it alone. Listing them stays closed.
    for path in "$root" "$PWD" "$(dirname "$CAPRELLO_SCREENCOPY_SHIM")" ${1:+"$(dirname "$1")"}; do
        dir=$(realpath -m "$path")  # a relative path would never reach /
        while :; do
            setpriv --reuid="$user" --regid="$user" --init-groups -- test -x "$dir" \
                || setfacl -m "u:$user:x" "$dir" || fail "cannot let $user pass through $dir"
            [ "$dir" = / ] && break
            dir=$(dirname "$dir")
        done
    done
    # setpriv, not runuser: runuser would stay in between and kill this script 2 s after
    # passing on a SIGTERM, before it has stopped the desktop.
    exec env HOME="$home" USER="$user" LOGNAME="$user" \
        setpriv --reuid="$user" --regid="$user" --init-groups -- "$root/scripts/wayland-desktop.sh" "$@"
fi

[ -r "$CAPRELLO_SCREENCOPY_SHIM" ] || fail "$(id -un) cannot read $CAPRELLO_SCREENCOPY_SHIM (build the caprello_screencopy_shim target, or set CAPRELLO_SCREENCOPY_SHIM)"

source "$root/scripts/virtual-desktop.sh"

# Nothing of the caller's own desktop or session may leak in.
unset DISPLAY XAUTHORITY WAYLAND_DISPLAY WAYLAND_SOCKET SWAYSOCK I3SOCK DBUS_SESSION_BUS_ADDRESS \
    PULSE_SERVER PIPEWIRE_REMOTE PIPEWIRE_RUNTIME_DIR XDG_SESSION_ID XDG_DATA_HOME XDG_STATE_HOME XDG_CACHE_HOME
# The desktop runs in a folder of its own; COMMAND in the caller's.
cwd=$PWD
(cd "$cwd") 2>/dev/null || fail "$(id -un) cannot enter $cwd: start from a folder it can read"
tmp=$(mktemp -d /tmp/caprello-wayland.XXXXXX)
cd "$tmp"
export XDG_RUNTIME_DIR=$tmp/runtime XDG_CONFIG_HOME=$tmp/config
mkdir -m 700 "$XDG_RUNTIME_DIR"
mkdir -p "$XDG_CONFIG_HOME/xdg-desktop-portal-wlr"
export XDG_CURRENT_DESKTOP=sway XDG_SESSION_TYPE=wayland
export WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman WLR_HEADLESS_OUTPUTS=1

pids=()
command_pid=
started=$(date +%s%N)

# The processes of this desktop: all that was started here, by the bus, by sway or by
# COMMAND, found by the runtime folder in their environment; parent[pid] is the parent's.
desktop_pids() {
    local p e env line
    found=()
    parent=()
    for p in /proc/[0-9]*; do
        p=${p#/proc/}
        [ "$p" = $$ ] && continue
        mapfile -d '' env 2>/dev/null <"/proc/$p/environ" || continue
        for e in "${env[@]}"; do
            [ "$e" = "XDG_RUNTIME_DIR=$XDG_RUNTIME_DIR" ] || continue
            read -r line 2>/dev/null <"/proc/$p/stat" || break
            line=${line##*) }
            parent[$p]=${line#* }
            parent[$p]=${parent[$p]%% *}
            found+=("$p")
            break
        done
    done
}

teardown() {
    local status=$? p i
    local -a found
    local -A parent signalled
    trap - EXIT INT TERM HUP
    set +e
    # COMMAND first, with time to finish its files and stop its own children.
    if [ -n "$command_pid" ]; then
        kill -TERM "$command_pid" 2>/dev/null
        for i in $(seq 40); do kill -0 "$command_pid" 2>/dev/null || break; sleep 0.05; done
    fi
    caprello_sound_stop
    # Children before their parents, so that each is reaped by its parent, not left a zombie.
    for i in $(seq 40); do
        desktop_pids
        [ ${#found[@]} -eq 0 ] && break
        for p in "${found[@]}"; do
            [ -n "${signalled[$p]:-}" ] && continue
            [[ " ${parent[*]} " == *" $p "* ]] && continue
            kill -TERM "$p" 2>/dev/null
            signalled[$p]=1
        done
        sleep 0.05
    done
    desktop_pids
    for p in "${found[@]}" $(jobs -p); do kill -KILL "$p" 2>/dev/null; done
    wait 2>/dev/null
    if [ -n "${CAPRELLO_WAYLAND_LOGS:-}" ]; then
        mkdir -p "$CAPRELLO_WAYLAND_LOGS" && cp "$tmp"/*.log "$CAPRELLO_WAYLAND_LOGS"/ 2>/dev/null
    fi
    rm -rf "$tmp"
    return "$status"
}
trap teardown EXIT
trap 'exit 129' HUP
trap 'exit 130' INT
trap 'exit 143' TERM

# await PID SECONDS NAME LOG CHECK...: until CHECK succeeds; fails if PID dies or time is up.
await() {
    local pid=$1 seconds=$2 name=$3 log=$4 i
    shift 4
    for i in $(seq $((seconds * 20))); do
        "$@" >/dev/null 2>&1 && return 0
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.05
    done
    "$@" >/dev/null 2>&1 && return 0
    echo "wayland-desktop: $name did not start ($(kill -0 "$pid" 2>/dev/null && echo "no answer after $seconds s" || echo exited)); its log:" >&2
    tail -n 40 "$log" >&2
    exit 1
}
has_bus_name() {
    dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.NameHasOwner "string:$1" | grep -q 'boolean true'
}

dbus-daemon --session --nofork --nopidfile --address="unix:path=$XDG_RUNTIME_DIR/bus" \
    --print-address=3 3>"$tmp/bus-address" >"$tmp/dbus.log" 2>&1 &
pids+=($!)
await $! 5 dbus-daemon "$tmp/dbus.log" test -s "$tmp/bus-address"
DBUS_SESSION_BUS_ADDRESS=$(head -n 1 "$tmp/bus-address")
export DBUS_SESSION_BUS_ADDRESS

# Something that changes on screen ten times a second: a big clock in a terminal,
# floating in the middle, so that the background colour shows around it. Bash alone,
# no child processes: it waits on the terminal, which never gets input, and ends with it.
cat >"$tmp/clock.sh" <<'EOF'
printf '\033[?25l'
while :; do
    t=$EPOCHREALTIME
    printf '\033[H\033[2J\n %(%H:%M:%S)T.%.1s' "${t%.*}" "${t#*.}"
    read -rst 0.1 _
    [ $? -gt 128 ] || exit 0
done
EOF
cat >"$tmp/sway.config" <<EOF
output HEADLESS-1 mode --custom 1280x720@30Hz position 0 0 bg #204080 solid_color
xwayland force
default_border none
for_window [app_id="caprello-clock"] floating enable, resize set 880 240, move position center
# The program as an X client (tests drive it with xdotool): at the top-left corner in
# its own size, as on the X test desktop.
for_window [class="caprello"] floating enable, move position 0 0
# The flash test's player (ffplay, an X client too) where that test looks for its flashes.
for_window [class="ffplay"] floating enable, move position 960 0
exec env LANG=C.UTF-8 foot --app-id=caprello-clock --font=monospace:size=64 bash $tmp/clock.sh
exec sh -c 'echo "\$DISPLAY" >$tmp/x-display'
EOF
sway -c "$tmp/sway.config" >"$tmp/sway.log" 2>&1 &
pids+=($!)
export SWAYSOCK=$XDG_RUNTIME_DIR/sway-ipc.$UID.$!.sock
await $! 10 sway "$tmp/sway.log" sh -c 'swaymsg -t get_outputs | grep -q HEADLESS-1'
for s in "$XDG_RUNTIME_DIR"/wayland-*; do
    [ -S "$s" ] && { export WAYLAND_DISPLAY=${s##*/}; break; }
done
[ -n "${WAYLAND_DISPLAY:-}" ] || fail "sway made no Wayland socket"
await "${pids[-1]}" 10 "the clock (foot)" "$tmp/sway.log" sh -c 'swaymsg -t get_tree | grep -q caprello-clock'
await "${pids[-1]}" 10 "XWayland" "$tmp/sway.log" grep -q : "$tmp/x-display"
export DISPLAY=$(cat "$tmp/x-display")

pipewire >"$tmp/pipewire.log" 2>&1 &
pids+=($!)
await $! 10 pipewire "$tmp/pipewire.log" test -S "$XDG_RUNTIME_DIR/pipewire-0"
wireplumber >"$tmp/wireplumber.log" 2>&1 &
pids+=($!)
await $! 10 wireplumber "$tmp/wireplumber.log" sh -c 'pw-cli ls Client | grep -qi wireplumber'

printf '[screencast]\noutput_name=HEADLESS-1\nchooser_type=none\nmax_fps=30\n' \
    >"$XDG_CONFIG_HOME/xdg-desktop-portal-wlr/config"
# Started again whenever it ends: xdg-desktop-portal-wlr 0.7 crashes in its PipeWire
# code when a client that is casting is killed, and the tests kill such clients.
(set +e; while :; do
    LD_PRELOAD=$CAPRELLO_SCREENCOPY_SHIM /usr/libexec/xdg-desktop-portal-wlr
    echo "xdg-desktop-portal-wlr ended ($?): started again"
    sleep 0.2
done) >"$tmp/portal-wlr.log" 2>&1 &
pids+=($!)
await $! 10 xdg-desktop-portal-wlr "$tmp/portal-wlr.log" has_bus_name org.freedesktop.impl.portal.desktop.wlr
/usr/libexec/xdg-desktop-portal >"$tmp/portal.log" 2>&1 &
pids+=($!)
await $! 10 xdg-desktop-portal "$tmp/portal.log" has_bus_name org.freedesktop.portal.Desktop

caprello_sound_start "$tmp" || exit 1

echo "Wayland desktop: WAYLAND_DISPLAY=$WAYLAND_DISPLAY, up in $((($(date +%s%N) - started) / 1000000)) ms, user $(id -un)" >&2

cd "$cwd"
# In the background, so that a signal to this script is handled at once; stdin kept.
QT_QPA_PLATFORM=wayland env -u XDG_CONFIG_HOME "$@" <&0 &
command_pid=$!
status=0
wait "$command_pid" || status=$?
command_pid=
exit $status
