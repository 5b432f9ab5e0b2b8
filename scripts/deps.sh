#!/usr/bin/env bash
# Installs the Debian 12 packages that building, running and testing Koravex need,
# only those that are missing. Usage: scripts/deps.sh build|test|bench|windows
set -euo pipefail

build_pkgs=(cmake ninja-build g++ pkg-config qt6-base-dev libxcb1-dev fonts-dejavu-core fonts-dejavu-extra libblkid-dev
            xvfb xauth dbus trayer x11-utils imagemagick)
test_pkgs=(libgtest-dev libbenchmark-dev clang-14 libclang-rt-14-dev xdotool iproute2
           dosfstools e2fsprogs fuse3 libfuse3-dev procps util-linux conky-std
           appstream desktop-file-utils lintian dpkg-dev file valgrind libx11-dev
           openbox xfwm4 xfce4-panel dunst x11-xserver-utils weston xwayland python3 fontconfig
           gnome-shell gnome-shell-extension-appindicator gjs
           plasma-workspace plasma-desktop kwin-x11)

# The footprint script's peers (bench/footprint.sh) and what drives them.
bench_pkgs=(xdotool gkrellm conky-std)
# The Windows build (scripts/windows.sh): MinGW-w64, Debian's host Qt tools, Wine, NSIS.
windows_pkgs=(cmake ninja-build g++-mingw-w64-x86-64-posix qt6-base-dev-tools googletest
              wine64 nsis xvfb xauth python3 python3-pefile iproute2 xz-utils zip unzip
              trayer xdotool x11-utils libx11-dev imagemagick)

want=("${build_pkgs[@]}")
[ "${1:-build}" = test ] && want+=("${test_pkgs[@]}")
[ "${1:-build}" = bench ] && want+=("${bench_pkgs[@]}")
# The Windows build draws its icon with the program's own code built for this machine.
[ "${1:-build}" = windows ] && want+=("${windows_pkgs[@]}")

missing=()
for p in "${want[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || { echo "Need root (or sudo) to install: ${missing[*]}" >&2; exit 1; }
    SUDO=sudo
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
