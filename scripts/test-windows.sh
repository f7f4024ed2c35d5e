#!/usr/bin/env bash
# The Windows side, on Linux: cross-builds caprello.exe and caprello-guard.exe
# with the Windows toolchain (scripts/build-windows.sh; a Windows file that does
# not compile or link fails here), packs the deploy folder and the installer
# (scripts/package-windows.sh) and runs them under Wine (tests/win/wine-e2e.sh).
# Without the toolchain those steps are skipped. Then it builds the Qt-free
# process code, caprello-guard.exe and tests/win/tst_win.c and runs that test
# under Wine in a throwaway prefix.
# Usage: scripts/test-windows.sh [build-dir]   (default build/win)
# The cross build goes to $CAPRELLO_WINDOWS_BUILD_DIR (default build-windows).
set -euo pipefail

repo_root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build_dir="${1:-$repo_root/build/win}"

source "$repo_root/scripts/deps.sh"
caprello_install g++-mingw-w64-x86-64 wine64 wine xvfb xauth pulseaudio pulseaudio-utils sox \
    xdotool imagemagick ffmpeg python3-fonttools fonts-symbola

status=0
cross_dir="${CAPRELLO_WINDOWS_BUILD_DIR:-$repo_root/build-windows}"
step() { # step NAME command...: runs it, times it, records a failure
    local start=$SECONDS rc=0
    echo "== $1"
    shift
    "$@" || rc=$?
    echo "== $((SECONDS - start)) s"
    return "$rc"
}
rc=0
step "Windows cross build" "$repo_root/scripts/build-windows.sh" "$cross_dir" || rc=$?
if [ "$rc" -eq 0 ]; then
    step "Windows deploy folder and installer" "$repo_root/scripts/package-windows.sh" "$cross_dir" \
        && step "the installed program under Wine" timeout 600 "$repo_root/tests/win/wine-e2e.sh" "$cross_dir" \
        || status=1
elif [ "$rc" -ne 3 ]; then   # 3: no toolchain, skipped
    status=1
fi

mkdir -p "$build_dir"
build_dir="$(cd "$build_dir" && pwd)"

# -static: otherwise Wine cannot find the MinGW runtime DLLs and the exe dies
# silently with exit code 53.
cc=(x86_64-w64-mingw32-gcc -static -O1 -Wall -Wextra -Werror -std=c11)
platform="$repo_root/src/platform"
"${cc[@]}" -mwindows -o "$build_dir/caprello-guard.exe" \
    "$platform/win_guard_main.c" "$platform/win_guard.c" "$platform/win_threads.c"
"${cc[@]}" -o "$build_dir/tst_win.exe" \
    "$repo_root/tests/win/tst_win.c" "$platform/win_guard.c" "$platform/win_threads.c"

# Debian puts wineserver on PATH through alternatives; /usr/lib/wine has it
# when that link is missing.
wineserver_bin="$(command -v wineserver || echo /usr/lib/wine/wineserver)"

WINEPREFIX="$(mktemp -d)"
export WINEPREFIX
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="   # skip the Mono/Gecko install prompts

cleanup() {
    "$wineserver_bin" -k >/dev/null 2>&1 || true
    "$wineserver_bin" -w >/dev/null 2>&1 || true
    rm -rf "$WINEPREFIX"
}
trap cleanup EXIT

echo "== tst_win.exe"
rc=0
# Run in the build folder: the stand-in FFmpeg writes its marker files there.
(cd "$build_dir" && timeout 300 wine "$build_dir/tst_win.exe") || rc=$?
if [ "$rc" -eq 124 ]; then
    echo "tst_win.exe timed out" >&2
elif [ "$rc" -ne 0 ]; then
    echo "tst_win.exe failed with exit status $rc" >&2
fi
[ "$rc" -eq 0 ] || status=1
exit "$status"
