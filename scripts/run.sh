#!/usr/bin/env bash
# Installs what is missing, builds Caprello and runs it.
# Without a display it says so and runs the program on a virtual X display.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${CAPRELLO_BUILD_DIR:-$root/build-release}

source "$root/scripts/deps.sh"
caprello_install "${CAPRELLO_BUILD_PACKAGES[@]}" "${CAPRELLO_RUN_PACKAGES[@]}"

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF
cmake --build "$build" -j"$(nproc)"

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "No display found (DISPLAY and WAYLAND_DISPLAY are empty)."
    echo "Running Caprello on a virtual X display: nothing will be visible. Stop it with Ctrl+C."
    exec xvfb-run -a -s "-screen 0 1280x720x24" "$build/src/caprello" "$@"
fi
exec "$build/src/caprello" "$@"
