#!/usr/bin/env bash
# Cross-builds caprello.exe and caprello-guard.exe with MinGW-w64 and the Qt for
# Windows of the prepared toolchain (see its README), from the same CMake project
# as the Linux build. The toolchain is unpacked once per checksum into the build
# folder. Without the toolchain this prints that it is skipped and exits 0;
# exit code 3 tells scripts/test-windows.sh that nothing was built.
# Usage: scripts/build-windows.sh [build-dir]   (default build-windows)
# Environment: CAPRELLO_WINDOWS_TOOLCHAIN, a folder holding
#   caprello-windows-toolchain.tar.xz (default <repo>/../shared/windows-toolchain)
set -euo pipefail

repo_root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build_dir="${1:-$repo_root/build-windows}"
toolchain_dir="${CAPRELLO_WINDOWS_TOOLCHAIN:-$repo_root/../shared/windows-toolchain}"
archive="$toolchain_dir/caprello-windows-toolchain.tar.xz"

if [ ! -f "$archive" ]; then
    echo "build-windows: SKIPPED, no Windows toolchain at $archive"
    exit 3
fi

source "$repo_root/scripts/deps.sh"
caprello_install cmake ninja-build g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix \
    qt6-base-dev qt6-declarative-dev qt6-declarative-dev-tools qt6-shadertools-dev qt6-shader-baker

mkdir -p "$build_dir"
build_dir="$(cd "$build_dir" && pwd)"

# Unpacking 20 MB of xz takes a while; a rerun with the same archive reuses it.
sum="$(sha256sum "$archive" | cut -c1-16)"
tc_root="$build_dir/toolchain-$sum"
if [ ! -f "$tc_root/.unpacked" ]; then
    rm -rf "$build_dir"/toolchain-*
    mkdir -p "$tc_root"
    echo "build-windows: unpacking $archive"
    tar -C "$tc_root" -xf "$archive"
    touch "$tc_root/.unpacked"
fi
T="$tc_root/caprello-windows-toolchain"
echo "$T" >"$build_dir/toolchain-path"

cmake_dir="$build_dir/cmake"
nice -n 19 cmake -S "$repo_root" -B "$cmake_dir" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$T/qt/lib/cmake/Qt6/qt.toolchain.cmake" \
    -DQT_HOST_PATH=/usr -DCMAKE_BUILD_TYPE=Release \
    -DBUILD_TESTING=OFF -DCAPRELLO_BUILD_BENCH=OFF >"$build_dir/configure.log" 2>&1 \
    || { cat "$build_dir/configure.log" >&2; echo "build-windows: cmake configure FAILED" >&2; exit 1; }
nice -n 19 cmake --build "$cmake_dir" -j2 \
    || { echo "build-windows: the Windows build FAILED" >&2; exit 1; }
for exe in caprello.exe caprello-guard.exe; do
    f="$(find "$cmake_dir" -name "$exe" -type f | head -1)"
    [ -n "$f" ] || { echo "build-windows: $exe was not built" >&2; exit 1; }
    echo "build-windows: built $f"
done
