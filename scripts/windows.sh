#!/usr/bin/env bash
# Builds Koravex for 64-bit Windows on Debian: cross-compiled with MinGW-w64 against a Qt for
# Windows, the Windows tests run under Wine on a virtual display, then the packages are made.
#
# Qt for Windows comes from, in this order: KORAVEX_QT_MINGW (an installed prefix, or the
# qt6.4.2-mingw64.tar.xz made by scripts/build-qt6-mingw64.sh), the same tarball in
# ../shared/toolchains beside this checkout, an earlier rebuild in build/toolchains, or a
# rebuild from Debian's qt6-base source (20 to 45 minutes).
# Usage: scripts/windows.sh [--no-tests]   (--no-tests: build only, no tests, no packages)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
run_tests=1
[ "${1:-}" = --no-tests ] && run_tests=0
bash scripts/deps.sh windows

jobs=${KORAVEX_JOBS:-$(nproc)}
build=build/windows
toolchains=$root/build/toolchains
qt_name=qt6.4.2-mingw64
mkdir -p "$toolchains"

# Unpacks a Qt tarball into build/toolchains (again only when the tarball is newer) and
# prints the prefix.
unpack_qt() {
    local tarball=$1 top
    top=$(tar -tJf "$tarball" | head -n 1)
    top=${top%%/*}
    if [ ! -f "$toolchains/$top/lib/cmake/Qt6/qt.toolchain.cmake" ] ||
       [ "$tarball" -nt "$toolchains/$top/.unpacked" ]; then
        echo "Unpacking $tarball" >&2
        rm -rf "${toolchains:?}/$top"
        tar -xJf "$tarball" -C "$toolchains"
        touch "$toolchains/$top/.unpacked"
    fi
    echo "$toolchains/$top"
}

if [ -n "${KORAVEX_QT_MINGW:-}" ]; then
    if [ -d "$KORAVEX_QT_MINGW" ]; then
        qt=$(readlink -f "$KORAVEX_QT_MINGW")
    elif [ -f "$KORAVEX_QT_MINGW" ]; then
        qt=$(unpack_qt "$(readlink -f "$KORAVEX_QT_MINGW")")
    else
        echo "KORAVEX_QT_MINGW=$KORAVEX_QT_MINGW is neither a Qt prefix nor a tarball" >&2
        exit 1
    fi
elif [ -f ../shared/toolchains/$qt_name.tar.xz ]; then
    qt=$(unpack_qt "$(readlink -f ../shared/toolchains/$qt_name.tar.xz)")
elif [ -f "$toolchains/$qt_name.tar.xz" ]; then
    qt=$(unpack_qt "$toolchains/$qt_name.tar.xz")
else
    echo "No Qt for Windows found: rebuilding it from Debian's qt6-base source (20-45 minutes)"
    bash scripts/build-qt6-mingw64.sh "$toolchains"
    qt=$(unpack_qt "$toolchains/$qt_name.tar.xz")
fi
qt_toolchain=$qt/lib/cmake/Qt6/qt.toolchain.cmake
if [ ! -f "$qt_toolchain" ]; then
    echo "$qt is not a Qt for Windows prefix (no lib/cmake/Qt6/qt.toolchain.cmake)" >&2
    exit 1
fi
echo "Qt for Windows: $qt"

launcher=()
if command -v ccache >/dev/null; then
    launcher=(-DCMAKE_C_COMPILER_LAUNCHER="${CMAKE_C_COMPILER_LAUNCHER:-ccache}"
              -DCMAKE_CXX_COMPILER_LAUNCHER="${CMAKE_CXX_COMPILER_LAUNCHER:-ccache}")
fi
# A build directory configured against another Qt is configured afresh.
if [ -f "$build/CMakeCache.txt" ] &&
   ! grep -qxF "CMAKE_TOOLCHAIN_FILE:FILEPATH=$qt_toolchain" "$build/CMakeCache.txt"; then
    rm -rf "$build"
fi
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKORAVEX_WERROR=ON \
      -DCMAKE_TOOLCHAIN_FILE="$qt_toolchain" "${launcher[@]}" >/dev/null
cmake --build "$build" -j"$jobs"

if [ "$run_tests" = 1 ]; then
    echo "== Windows tests under Wine =="
    xvfb-run -a -s "-screen 0 1280x800x24 -nolisten tcp -noreset" \
        bash scripts/windows-tests.sh "$build" "$qt" "$jobs"
fi
