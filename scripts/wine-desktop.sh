# Sourced: a fresh Wine prefix on the X and PulseAudio desktop of virtual-desktop.sh,
# made to look to Caprello as a Windows machine does. Call caprello_wine_start, and
# caprello_wine_stop on exit. Sets HOME (Wine links the prefix's Desktop to
# $HOME/Desktop), WINEPREFIX and CAPRELLO_WINESERVER.
source "$(dirname "${BASH_SOURCE[0]}")/virtual-desktop.sh"

caprello_wine_start() {
    CAPRELLO_WINE_TMP=$(mktemp -d)
    CAPRELLO_WINESERVER="$(command -v wineserver || echo /usr/lib/wine/wineserver)"
    caprello_desktop_start || return 1
    # A loopback input named as a Windows sound driver names it: the system sound.
    pactl load-module module-remap-source master=speakers.monitor source_name=stereomix \
        "source_properties='device.description=\"Stereo Mix\"'" >/dev/null || return 1
    export HOME="$CAPRELLO_WINE_TMP/home"
    mkdir -p "$HOME/Desktop"
    export WINEPREFIX="$CAPRELLO_WINE_TMP/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    # Wine's Direct3D cannot compile Qt's shaders; its OpenGL draws. Windows keeps Direct3D 11.
    export QSG_RHI_BACKEND=opengl
    timeout 180 wineboot -i >/dev/null 2>&1 || { echo "wineboot failed" >&2; return 1; }
    "$CAPRELLO_WINESERVER" -w
    # Every Windows 10/11 has Segoe UI Emoji and Segoe UI Symbol, the last fonts Qt falls
    # back to; Qt 6.4 crashes under Wine when a shown character is in no font. Symbola
    # renamed with Debian's python3-fonttools (which /usr/bin/python3 has) stands in.
    /usr/bin/python3 - /usr/share/fonts/truetype/ancient-scripts/Symbola_hint.ttf \
        "$WINEPREFIX/drive_c/windows/Fonts" <<'PY'
import sys
from fontTools.ttLib import TTFont
for family, file in (("Segoe UI Emoji", "seguiemj.ttf"), ("Segoe UI Symbol", "seguisym.ttf")):
    font = TTFont(sys.argv[1])
    for rec in font["name"].names:
        if rec.nameID in (1, 4, 6, 16, 21):
            rec.string = family.replace(" ", "") if rec.nameID == 6 else family
    font.save(sys.argv[2] + "/" + file)
PY
}

caprello_wine_stop() {
    if [ -n "${CAPRELLO_WINE_TMP:-}" ]; then
        "$CAPRELLO_WINESERVER" -k >/dev/null 2>&1; "$CAPRELLO_WINESERVER" -w >/dev/null 2>&1
        rm -rf "$CAPRELLO_WINE_TMP"
    fi
    caprello_desktop_stop
    CAPRELLO_WINE_TMP=
    return 0
}
