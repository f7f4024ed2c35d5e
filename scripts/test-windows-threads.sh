#!/usr/bin/env bash
# Cross-compiles the Windows thread suspend/resume code and its test with
# MinGW-w64, then runs the test under Wine in a throwaway prefix.
# Usage: scripts/test-windows-threads.sh [build-dir]   (default build/win-threads)
set -euo pipefail

repo_root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build_dir="${1:-$repo_root/build/win-threads}"

if ! command -v x86_64-w64-mingw32-gcc >/dev/null 2>&1 || ! command -v wine >/dev/null 2>&1; then
    echo "Installing MinGW-w64 and Wine..."
    apt-get update
    DEBIAN_FRONTEND=noninteractive apt-get install -y g++-mingw-w64-x86-64 wine64 wine
fi

mkdir -p "$build_dir"
build_dir="$(cd "$build_dir" && pwd)"

# -static: otherwise Wine cannot find the MinGW runtime DLLs and the exe dies
# silently with exit code 53.
cflags=(-static -O1 -Wall -Wextra -Werror -std=c11)
x86_64-w64-mingw32-gcc "${cflags[@]}" -c "$repo_root/src/platform/win_threads.c" \
    -o "$build_dir/win_threads.o"
x86_64-w64-mingw32-gcc "${cflags[@]}" -c "$repo_root/tests/win/tst_win_threads.c" \
    -o "$build_dir/tst_win_threads.o"
x86_64-w64-mingw32-gcc -static -o "$build_dir/tst_win_threads.exe" \
    "$build_dir/tst_win_threads.o" "$build_dir/win_threads.o"

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

status=0
timeout 180 wine "$build_dir/tst_win_threads.exe" || status=$?
if [ "$status" -eq 124 ]; then
    echo "tst_win_threads.exe timed out" >&2
fi
exit "$status"
