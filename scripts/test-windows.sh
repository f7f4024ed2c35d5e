#!/usr/bin/env bash
# The Windows side, on Linux: compiles every Windows source file with MinGW-w64
# against the Qt headers (scripts/compile-windows.sh), then builds the
# Qt-free process code, caprello-guard.exe and tests/win/tst_win.c and runs
# the test under Wine in a throwaway prefix.
# Usage: scripts/test-windows.sh [build-dir]   (default build/win)
set -euo pipefail

repo_root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build_dir="${1:-$repo_root/build/win}"

source "$repo_root/scripts/deps.sh"
caprello_install g++-mingw-w64-x86-64 wine64 wine

status=0
"$repo_root/scripts/compile-windows.sh" || status=1

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
