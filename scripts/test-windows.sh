#!/usr/bin/env bash
# The Windows side, on Linux: cross-builds caprello.exe and caprello-guard.exe
# with the Windows toolchain (scripts/build-windows.sh; a Windows file that does
# not compile or link fails here), packs the deploy folder and the installer
# (scripts/package-windows.sh) and runs them under Wine (tests/win/wine-e2e.sh).
# Without the toolchain those steps are skipped.
# Usage: scripts/test-windows.sh [build-dir]   (default build-windows, or
# $CAPRELLO_WINDOWS_BUILD_DIR)
set -euo pipefail

repo_root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

source "$repo_root/scripts/deps.sh"
caprello_install g++-mingw-w64-x86-64 wine64 wine xvfb xauth pulseaudio pulseaudio-utils sox \
    xdotool imagemagick ffmpeg python3-fonttools fonts-symbola

status=0
cross_dir="${1:-${CAPRELLO_WINDOWS_BUILD_DIR:-$repo_root/build-windows}}"
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

exit "$status"
