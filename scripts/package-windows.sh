#!/usr/bin/env bash
# Makes the Windows deploy folder and the NSIS installer from the cross build of
# scripts/build-windows.sh (run it first):
#   <build-dir>/deploy/                       caprello.exe, caprello-guard.exe, ffmpeg.exe,
#                                             the DLLs they import, plugins, QML modules
#   <build-dir>/Caprello-<version>-setup.exe
# The DLLs are found by walking the PE import tables from the programs and the
# plugins, so a new Qt module is picked up without editing a list here.
# Usage: scripts/package-windows.sh [build-dir]   (default build-windows)
set -euo pipefail

repo_root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build_dir="$(cd "${1:-$repo_root/build-windows}" && pwd)"
T="$(cat "$build_dir/toolchain-path")"
qt="$T/qt"
cmake_dir="$build_dir/cmake"
deploy="$build_dir/deploy"

source "$repo_root/scripts/deps.sh"
caprello_install nsis binutils-mingw-w64-x86-64 qt6-declarative-dev-tools

rm -rf "$deploy"
mkdir -p "$deploy/plugins" "$deploy/qml"
cp "$cmake_dir/caprello.exe" "$cmake_dir/caprello-guard.exe" "$deploy/"
cp "$T/ffmpeg/bin/ffmpeg.exe" "$deploy/"
# Plugins and QML modules sit in folders of their own; qt.conf tells Qt where.
printf '[Paths]\nPrefix = .\nPlugins = plugins\nQmlImports = qml\n' >"$deploy/qt.conf"

# windows: the platform; windowsmediaplugin: Qt Multimedia's backend (the audio
# inputs); qico: the window icon is an .ico.
for p in platforms/qwindows.dll multimedia/windowsmediaplugin.dll imageformats/qico.dll; do
    mkdir -p "$deploy/plugins/$(dirname "$p")"
    cp "$qt/plugins/$p" "$deploy/plugins/$p"
done

# The QML modules the window imports. The Controls module names every style as an
# optional import; the program always sets Fusion (on Basic), so the others stay out.
/usr/lib/qt6/libexec/qmlimportscanner -rootPath "$repo_root/qml" -importPath "$qt/qml" \
    >"$build_dir/qmlimports.json"
mapfile -t modules < <(python3 - "$build_dir/qmlimports.json" <<'PY'
import json, sys
skip = ("Material", "Imagine", "Universal", "Windows", "macOS", "iOS")
for m in json.load(open(sys.argv[1])):
    if m.get("type") != "module" or "path" not in m:
        continue
    parts = m["name"].split(".")
    if m["name"] == "QtQuick.NativeStyle" or (len(parts) > 2 and parts[2] in skip):
        continue
    print(m["path"])
PY
)
[ "${#modules[@]}" -gt 0 ] || { echo "package-windows: qmlimportscanner found no modules" >&2; exit 1; }
for path in "${modules[@]}"; do
    rel="${path#"$qt/qml/"}"
    mkdir -p "$deploy/qml/$rel"
    # The module's own files; nested modules are listed on their own.
    find "$path" -maxdepth 1 -type f -exec cp {} "$deploy/qml/$rel/" \;
done

# Every DLL imported by anything deployed, found in Qt's bin folder or MinGW's
# runtime folders. System DLLs (KERNEL32, USER32, ...) are in none of them.
search=("$qt/bin" /usr/lib/gcc/x86_64-w64-mingw32/12-posix /usr/x86_64-w64-mingw32/lib)
declare -A seen=()
mapfile -t queue < <(find "$deploy" -iname '*.exe' -o -iname '*.dll')
while [ "${#queue[@]}" -gt 0 ]; do
    f="${queue[0]}"; queue=("${queue[@]:1}")
    while read -r dll; do
        key="${dll,,}"
        [ -n "${seen[$key]:-}" ] && continue
        seen[$key]=1
        for d in "${search[@]}"; do
            if [ -f "$d/$dll" ]; then
                cp "$d/$dll" "$deploy/"
                queue+=("$deploy/$dll")
                break
            fi
        done
    done < <(x86_64-w64-mingw32-objdump -p "$f" | sed -n 's/^\s*DLL Name: //p')
done
for need in Qt6Core.dll Qt6Quick.dll Qt6Multimedia.dll libstdc++-6.dll libwinpthread-1.dll; do
    [ -f "$deploy/$need" ] || { echo "package-windows: $need was not deployed" >&2; exit 1; }
done

mkdir -p "$deploy/licenses"
cp "$repo_root/LICENSE" "$deploy/LICENSE.txt"
cp -r "$T/licenses/." "$deploy/licenses/"

version="$(sed -n 's/^project(Caprello VERSION \([0-9.]*\).*/\1/p' "$repo_root/CMakeLists.txt")"
[ -n "$version" ] || { echo "package-windows: no project VERSION in CMakeLists.txt" >&2; exit 1; }
setup="$build_dir/Caprello-$version-setup.exe"
# Compressing takes a minute: the installer is made again only when what goes into it changed.
inputs="$( (cd "$deploy" && find . -type f -print0 | sort -z | xargs -0 sha256sum; \
    sha256sum "$repo_root/packaging/caprello.nsi" "$repo_root/qml/app_icon.ico") | sha256sum | cut -c1-32)"
if [ -f "$setup" ] && [ "$(cat "$setup.inputs" 2>/dev/null)" = "$inputs" ]; then
    echo "package-windows: $setup is up to date"
else
    rm -f "$setup" "$setup.inputs"
    nice -n 19 makensis -V2 -DVERSION="$version" -DDEPLOY="$deploy" -DOUTFILE="$setup" \
        -DROOT="$repo_root" "$repo_root/packaging/caprello.nsi"
    [ -f "$setup" ] || { echo "package-windows: makensis made no installer" >&2; exit 1; }
    echo "$inputs" >"$setup.inputs"
fi
echo "package-windows: $deploy ($(du -sh "$deploy" | cut -f1), $(find "$deploy" -type f | wc -l) files)"
echo "package-windows: $setup ($(du -h "$setup" | cut -f1))"
