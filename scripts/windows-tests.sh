#!/usr/bin/env bash
# Runs the Windows build's tests under Wine, in a Wine prefix of this run only, packs the
# build (scripts/windows-package.sh) into BUILD_DIR/packages and runs the end-to-end tests
# over the packages.
# Usage: scripts/windows-tests.sh BUILD_DIR QT_PREFIX [JOBS]; DISPLAY set (xvfb-run).
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(readlink -f "$1")
qt=$(readlink -f "$2")
jobs=${3:-2}
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)

WINEPREFIX=$(mktemp -d /tmp/koravex-wine.XXXXXX)
export WINEPREFIX WINEDEBUG=-all
cleanup() {
    "$wineserver" -k 2>/dev/null || true
    rm -rf "$WINEPREFIX"
}
trap cleanup EXIT

# The prefix is made first and its server let end, so that the prefix on disk is whole (a
# test may copy it). Then one server for the whole run, made before any test: the prefix's
# own services then belong to this script, not to a test whose output they would hold open.
# No Mono or Gecko: nothing here needs them, and their installers would ask.
start=$(date +%s%N)
WINEDLLOVERRIDES="mscoree,mshtml=" "$wine" wineboot.exe -i >/dev/null 2>&1
"$wineserver" -w
"$wineserver" -p
"$wine" wineboot.exe >/dev/null 2>&1
echo "Wine prefix ready in $((($(date +%s%N) - start) / 1000000)) ms"

ctest --test-dir "$build" --output-on-failure -j"$jobs" --test-output-size-passed 4000000 \
    --output-junit "$build/ctest-junit.xml"
python3 scripts/check-skips.py wine "$build/ctest-junit.xml"

bash scripts/windows-package.sh "$build" "$qt" "$build/packages"

# End to end over the packages, each in a Wine prefix of its own.
bash tests/windows_shell/run_e2e.sh "$build/packages" \
    "$build/tests/windows_shell/koravex-win-probe.exe"
