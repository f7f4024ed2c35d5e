#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test headless: the Windows sources
# compiled with MinGW-w64 and the Windows code under Wine, the unit tests under
# AddressSanitizer, then every test, with real recordings and the real program on a
# private X and PulseAudio server.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${CAPRELLO_BUILD_DIR:-$root/build}

source "$root/scripts/deps.sh"
caprello_install "${CAPRELLO_BUILD_PACKAGES[@]}" "${CAPRELLO_TEST_PACKAGES[@]}"

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Debug
cmake --build "$build" -j"$(nproc)"

source "$root/scripts/virtual-desktop.sh"
trap caprello_desktop_stop EXIT
caprello_desktop_start

status=0
"$root/scripts/test-windows.sh" || status=1

# The unit tests again under AddressSanitizer + UndefinedBehaviorSanitizer,
# leak checking on; any report fails the run.
cmake -S "$root" -B "$build-asan" -DCMAKE_BUILD_TYPE=Debug -DCAPRELLO_SANITIZE=ON
cmake --build "$build-asan" -j"$(nproc)"
ASAN_OPTIONS=detect_leaks=1:fast_unwind_on_malloc=0:halt_on_error=1:abort_on_error=0 \
LSAN_OPTIONS=suppressions=$root/tests/sanitizer/lsan.supp:print_suppressions=0 \
UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    ctest --test-dir "$build-asan" --output-on-failure -j1 -L unit || status=1

# Everything in the normal build.
ctest --test-dir "$build" --output-on-failure -j1 || status=1
exit $status
