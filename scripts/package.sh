#!/usr/bin/env bash
# Builds the Debian package: build-release/caprello_<version>_amd64.deb
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${CAPRELLO_BUILD_DIR:-$root/build-release}
source "$root/scripts/deps.sh"
caprello_install "${CAPRELLO_BUILD_PACKAGES[@]}" dpkg-dev file
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DCAPRELLO_BUILD_BENCH=OFF \
    -DCMAKE_INSTALL_PREFIX=/usr
cmake --build "$build" -j"$(nproc)"
(cd "$build" && cpack -G DEB)
ls -1 "$build"/*.deb
