#!/usr/bin/env bash
# Installs the Debian package into a fresh, minimal Debian 12 root (made with
# mmdebstrap from this machine's own apt sources, so apt resolves the package's
# dependencies as on a new machine) and starts the program there: its window must
# appear under a virtual X server. Needs root and a few minutes.
# Usage: scripts/test-package.sh [package.deb]   (default: builds it with package.sh)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$root/scripts/deps.sh"
caprello_install mmdebstrap

deb=${1:-}
if [ -z "$deb" ]; then
    "$root/scripts/package.sh"
    deb=$(ls -1t "$root"/build-release/caprello_*_amd64.deb | head -n 1)
fi
deb=$(readlink -f "$deb")

chroot_dir=$(mktemp -d)
cleanup() {
    for m in proc sys dev tmp/.X11-unix; do umount -l "$chroot_dir/$m" 2>/dev/null || true; done
    rm -rf "$chroot_dir"
}
trap cleanup EXIT

echo "Making a minimal Debian 12 root in $chroot_dir ..."
# Only what the check itself needs besides the package: an X server and xdotool.
# Everything the program needs must come from its Depends. The sources are the
# ones apt uses on this machine (one-line or deb822 files).
sources=()
for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
    [ -s "$f" ] && sources+=("$f")
done
mmdebstrap --variant=apt --include=xvfb,xauth,xdotool bookworm "$chroot_dir" "${sources[@]}" >/dev/null

cp "$deb" "$chroot_dir/tmp/"
cp /etc/resolv.conf "$chroot_dir/etc/resolv.conf" 2>/dev/null || true
chroot "$chroot_dir" apt-get update -qq
DEBIAN_FRONTEND=noninteractive chroot "$chroot_dir" apt-get install -y -q --no-install-recommends "/tmp/$(basename "$deb")" | tail -n 3
chroot "$chroot_dir" dpkg -s caprello | sed -n '1,3p'
test -f "$chroot_dir/usr/share/applications/caprello.desktop"
test -f "$chroot_dir/usr/share/icons/hicolor/scalable/apps/caprello.svg"

mount -t proc proc "$chroot_dir/proc"
mount --rbind /dev "$chroot_dir/dev"
# The window must appear (every QML module it imports is installed) with its icon.
chroot "$chroot_dir" xvfb-run -a -s "-screen 0 1280x720x24" /bin/sh -c \
    'HOME=/tmp QT_FORCE_STDERR_LOGGING=1 /usr/bin/caprello >/tmp/caprello.log 2>&1 & app=$!
     timeout 30 xdotool search --sync --onlyvisible --name "^Caprello\$"; found=$?; kill $app
     cat /tmp/caprello.log; [ $found -eq 0 ] && ! grep -q "Icon failed" /tmp/caprello.log'
echo "The package installs on a fresh Debian 12 root and the program starts there."
