#!/usr/bin/env bash
# Compiles (syntax only) every source file the Windows build compiles, with
# MinGW-w64 against Debian's Qt 6 headers and the win32-g++ mkspec, so that a
# change that breaks the Windows build fails on Linux too. The list comes from
# src/ itself: every .cpp and .c except the other platforms' files, so new
# files are covered without editing this script.
# Usage: scripts/compile-windows.sh
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$root/scripts/deps.sh"
caprello_install g++-mingw-w64-x86-64 qt6-base-dev qt6-declarative-dev qt6-multimedia-dev

qt=/usr/include/x86_64-linux-gnu/qt6
flags=(-fsyntax-only -DUNICODE -D_UNICODE -DWIN32 -I"$root/src"
       -I"$qt" -I/usr/lib/x86_64-linux-gnu/qt6/mkspecs/win32-g++)
for module in QtCore QtGui QtQml QtQuick QtQuickControls2 QtMultimedia; do
    flags+=(-I"$qt/$module")
done

mapfile -t sources < <(cd "$root" && find src -type f \( -name '*.cpp' -o -name '*.c' \) \
    ! -name '*_unix.cpp' ! -name 'pulse_*.cpp' ! -name '*_other.cpp' | sort)
if [ "${#sources[@]}" -eq 0 ]; then
    echo "compile-windows: no sources found under $root/src" >&2
    exit 1
fi

# Qt's headers redeclare some dllimport functions as friends; GCC warns about
# each one, which would bury a real message.
status=0
for src in "${sources[@]}"; do
    case "$src" in
        *.c) compiler=(x86_64-w64-mingw32-gcc -std=c11) ;;
        *)   compiler=(x86_64-w64-mingw32-g++ -std=c++17 -Wno-attributes) ;;
    esac
    if "${compiler[@]}" "${flags[@]}" "$root/$src"; then
        echo "compiles for Windows: $src"
    else
        echo "DOES NOT COMPILE for Windows: $src" >&2
        status=1
    fi
done
exit "$status"
