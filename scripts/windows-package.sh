#!/usr/bin/env bash
# Packs the Windows build: koravex-<version>-win64.zip (the program with the Qt and MinGW
# DLLs and plugins it needs, runnable from any folder) and, where makensis is there, the
# installer koravex-<version>-win64-setup.exe.
# Usage: scripts/windows-package.sh BUILD_DIR QT_PREFIX OUT_DIR
#   BUILD_DIR  the cross build (it holds shell/windows/koravex.exe)
#   QT_PREFIX  Qt for Windows (bin/Qt6Core.dll, plugins/platforms/qwindows.dll)
#   OUT_DIR    where the folder, the zip and the installer go
set -euo pipefail
[ $# -eq 3 ] || { echo "usage: $0 BUILD_DIR QT_PREFIX OUT_DIR" >&2; exit 2; }
BUILD=$(realpath "$1")
QT=$(realpath "$2")
OUT=$(mkdir -p "$3" && realpath "$3")
ROOT=$(cd "$(dirname "$0")/.." && pwd)
VERSION=$(sed -nE 's/^project\(Koravex VERSION ([0-9.]+).*/\1/p' "$ROOT/CMakeLists.txt")
NAME=koravex-$VERSION-win64
CXX=${KORAVEX_MINGW_CXX:-x86_64-w64-mingw32-g++-posix}
STRIP=${KORAVEX_MINGW_STRIP:-x86_64-w64-mingw32-strip}

fail() { echo "windows-package: $*" >&2; exit 1; }
runtime_dll() {
    local path
    path=$("$CXX" -print-file-name="$1")
    [ -f "$path" ] || fail "$CXX does not know where $1 is"
    echo "$path"
}

STAGE=$OUT/$NAME
rm -rf "$STAGE" "$OUT/$NAME.zip" "$OUT/$NAME-setup.exe"
mkdir -p "$STAGE/platforms" "$STAGE/styles" "$STAGE/licenses"

[ -f "$BUILD/shell/windows/koravex.exe" ] || fail "no koravex.exe in $BUILD"
cp "$BUILD/shell/windows/koravex.exe" "$STAGE/"
snapshot=$(find "$BUILD/tools" -name koravex-snapshot.exe -print -quit 2>/dev/null || true)
[ -n "$snapshot" ] && cp "$snapshot" "$STAGE/"
for dll in Qt6Core Qt6Gui Qt6Widgets; do
    cp "$QT/bin/$dll.dll" "$STAGE/"
done
cp "$QT/plugins/platforms/qwindows.dll" "$STAGE/platforms/"
cp "$QT/plugins/styles/qwindowsvistastyle.dll" "$STAGE/styles/"
for dll in libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll; do
    cp "$(runtime_dll "$dll")" "$STAGE/"
done
find "$STAGE" -name '*.exe' -o -name '*.dll' | while read -r f; do
    "$STRIP" --strip-unneeded "$f"
done

# Licences: ours, Qt's (LGPL-3, which builds on the GPL-3), the MinGW runtime's (GCC with its
# runtime library exception; winpthreads), and where their sources are.
cp "$ROOT/LICENSE" "$STAGE/licenses/Koravex.txt"
cp /usr/share/common-licenses/LGPL-3 "$STAGE/licenses/Qt-LGPL-3.txt"
cp /usr/share/common-licenses/GPL-3 "$STAGE/licenses/GPL-3.txt"
cp /usr/share/doc/libqt6core6/copyright "$STAGE/licenses/Qt-copyright.txt"
cp /usr/share/doc/gcc-mingw-w64-base/copyright "$STAGE/licenses/GCC-runtime-copyright.txt"
cp /usr/share/doc/mingw-w64-common/copyright "$STAGE/licenses/MinGW-w64-copyright.txt"
version_of() { dpkg-query -W -f='${Version}' "$1" 2>/dev/null || echo unknown; }
qt_version=$(sed -nE 's/.*QT_VERSION_STR "([0-9.]+)".*/\1/p' "$QT/include/QtCore/qtcore-config.h" \
    "$QT/include/QtCore/qconfig.h" 2>/dev/null | head -1)
cat > "$STAGE/licenses/SOURCES.txt" <<TXT
Koravex $VERSION for 64-bit Windows: the parts and where their sources are.

Koravex (koravex.exe, koravex-snapshot.exe): MIT licence, see Koravex.txt.
  Source: the Koravex repository, tag or commit of this build.

Qt ${qt_version:-6} (Qt6Core.dll, Qt6Gui.dll, Qt6Widgets.dll, platforms\\qwindows.dll,
styles\\qwindowsvistastyle.dll): GNU Lesser General Public License version 3, see
Qt-LGPL-3.txt and GPL-3.txt; copyright notices in Qt-copyright.txt. The DLLs are loaded
from this folder and may be replaced by compatible builds of your own.
  Source: Debian's qt6-base source package, version $(version_of qt6-base-dev)
  (apt-get source qt6-base=$(version_of qt6-base-dev), or
  https://snapshot.debian.org/package/qt6-base/), built for Windows with MinGW-w64.

GCC runtime (libstdc++-6.dll, libgcc_s_seh-1.dll): GNU General Public License version 3
with the GCC Runtime Library Exception, see GCC-runtime-copyright.txt and GPL-3.txt.
  Source: Debian's gcc-mingw-w64 source package, version $(version_of gcc-mingw-w64-x86-64-posix)
  (https://snapshot.debian.org/package/gcc-mingw-w64/).

winpthreads (libwinpthread-1.dll): MIT (expat) licence and a BSD licence for two headers,
see MinGW-w64-copyright.txt.
  Source: Debian's mingw-w64 source package, version $(version_of mingw-w64-common)
  (https://snapshot.debian.org/package/mingw-w64/).
TXT

(cd "$OUT" && rm -f "$NAME.zip" && zip -qr -X "$NAME.zip" "$NAME")
echo "windows-package: $OUT/$NAME.zip"

if command -v makensis >/dev/null; then
    # The installed files, listed so that the uninstaller removes exactly those.
    inst=$OUT/$NAME-install.nsh
    uninst=$OUT/$NAME-uninstall.nsh
    : > "$inst"
    : > "$uninst"
    while read -r f; do
        f=${f#./}
        w=${f//\//\\}
        dir=$(dirname "$f")
        if [ "$dir" = . ]; then out='$INSTDIR'; else out="\$INSTDIR\\${dir//\//\\}"; fi
        printf 'SetOutPath "%s"\nFile "%s\\%s"\n' "$out" "$STAGE" "$w" >> "$inst"
        printf 'Delete "$INSTDIR\\%s"\n' "$w" >> "$uninst"
    done < <(cd "$STAGE" && find . -type f | sort)
    while read -r d; do
        d=${d#./}
        printf 'RMDir "$INSTDIR\\%s"\n' "${d//\//\\}" >> "$uninst"
    done < <(cd "$STAGE" && find . -mindepth 1 -type d | sort -r)
    makensis -V2 -INPUTCHARSET UTF8 -DVERSION="$VERSION" -DSTAGE="$STAGE" \
        -DICON="$BUILD/shell/windows/koravex.ico" -DINSTALL_FILES="$inst" \
        -DUNINSTALL_FILES="$uninst" -DOUTFILE="$OUT/$NAME-setup.exe" \
        "$ROOT/packaging/windows/koravex.nsi"
    rm -f "$inst" "$uninst"
    echo "windows-package: $OUT/$NAME-setup.exe"
else
    echo "windows-package: makensis not found, no installer" >&2
fi
