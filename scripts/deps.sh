# Sourced by run.sh and test.sh: installs the Debian 12 packages that are missing.
# Only calls apt-get when something is missing, so a prepared machine starts at once.

CAPRELLO_BUILD_PACKAGES=(
    cmake g++ make
    qt6-base-dev qt6-declarative-dev qt6-multimedia-dev qt6-declarative-dev-tools
    qml6-module-qtquick qml6-module-qtquick-controls qml6-module-qtquick-layouts
    qml6-module-qtquick-window qml6-module-qtquick-templates qml6-module-qtqml-workerscript
    qml6-module-qtmultimedia libpulse-dev libxcb1-dev
    ffmpeg
    fonts-noto-color-emoji fonts-symbola
)
# The program on a Wayland desktop records through the ScreenCast portal, PipeWire and GStreamer;
# on X through GStreamer's ximagesrc (plugins-good), or FFmpeg's x11grab where that is missing.
CAPRELLO_RUN_PACKAGES=(xvfb gstreamer1.0-pipewire gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-plugins-good qt6-wayland)
CAPRELLO_TEST_PACKAGES=(
    qml6-module-qttest
    xvfb xauth pulseaudio pulseaudio-utils sox libsox-fmt-pulse
    xdotool python3-xlib imagemagick
    g++-mingw-w64-x86-64 wine64 wine
    # The Windows build (scripts/build-windows.sh): MinGW-w64 with POSIX threads as the
    # toolchain's Qt was built with, Debian's Qt host tools, the installer, the Wine test's fonts.
    g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix ninja-build
    qt6-declarative-dev-tools qt6-shadertools-dev qt6-shader-baker nsis python3-fonttools fonts-symbola
    # The headless Wayland desktop of scripts/wayland-desktop.sh.
    sway swaybg foot fonts-dejavu-core grim xwayland acl
    xdg-desktop-portal xdg-desktop-portal-wlr pipewire pipewire-bin wireplumber
    gstreamer1.0-pipewire gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-plugins-good
    dbus dbus-user-session qt6-wayland
)

caprello_install() {
    local missing=() p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}
