#!/usr/bin/env bash
# The Windows side, on Linux: compiles every Windows source file with MinGW-w64
# against the Qt headers (scripts/compile-windows.sh), then cross-compiles the
# thread suspend/resume and child-tying code and their tests and runs the tests
# under Wine in a throwaway prefix.
# Usage: scripts/test-windows.sh [build-dir]   (default build/win)
set -euo pipefail

repo_root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build_dir="${1:-$repo_root/build/win}"

if ! command -v x86_64-w64-mingw32-gcc >/dev/null 2>&1 || ! command -v wine >/dev/null 2>&1; then
    echo "Installing MinGW-w64 and Wine..."
    apt-get update
    DEBIAN_FRONTEND=noninteractive apt-get install -y g++-mingw-w64-x86-64 wine64 wine
fi

compile_status=0
"$repo_root/scripts/compile-windows.sh" || compile_status=1

mkdir -p "$build_dir"
build_dir="$(cd "$build_dir" && pwd)"

# -static: otherwise Wine cannot find the MinGW runtime DLLs and the exe dies
# silently with exit code 53.
cflags=(-static -O1 -Wall -Wextra -Werror -std=c11)
x86_64-w64-mingw32-gcc "${cflags[@]}" -c "$repo_root/src/platform/win_threads.c" \
    -o "$build_dir/win_threads.o"
tests=(tst_win_threads tst_win_job)
for t in "${tests[@]}"; do
    x86_64-w64-mingw32-gcc "${cflags[@]}" -c "$repo_root/tests/win/$t.c" -o "$build_dir/$t.o"
    x86_64-w64-mingw32-gcc -static -o "$build_dir/$t.exe" "$build_dir/$t.o" "$build_dir/win_threads.o"
done

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

# Every test runs even when an earlier one fails; the first failure's status
# is the script's.
status=$compile_status
for t in "${tests[@]}"; do
    echo "== $t.exe"
    rc=0
    timeout 180 wine "$build_dir/$t.exe" || rc=$?
    if [ "$rc" -eq 124 ]; then
        echo "$t.exe timed out" >&2
    elif [ "$rc" -ne 0 ]; then
        echo "$t.exe failed with exit status $rc" >&2
    fi
    if [ "$status" -eq 0 ]; then
        status=$rc
    fi
done
exit "$status"
