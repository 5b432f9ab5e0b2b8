#!/usr/bin/env bash
# Builds Koravex and starts it. On a desktop (DISPLAY or WAYLAND_DISPLAY set) the program
# starts and lives in the tray. Without a display it runs for a few seconds on a virtual
# display with a tray, saves a screenshot, prints the koravex-snapshot report and exits 0.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh build
cmake -S . -B build/app -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORAVEX_BUILD_TESTS=OFF \
      -DKORAVEX_BUILD_BENCH=OFF >/dev/null
cmake --build build/app -j"$(nproc)"

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
    exec build/app/shell/koravex
fi

echo "No display: running Koravex for a few seconds on a virtual display with a tray."
shot=$PWD/build/app/koravex-screenshot.png
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$(mktemp -d /tmp/koravex-rt.XXXXXX)}
chmod 700 "$XDG_RUNTIME_DIR"
rm -f "$shot"
xvfb-run -a -s "-screen 0 1280x800x24 -nolisten tcp" dbus-run-session -- bash -c '
    trayer --edge top --align right --widthtype pixel --width 120 --height 24 \
           --SetDockType true >/dev/null 2>&1 &
    tray=$!
    sleep 1
    "$1" &
    app=$!
    sleep 4
    import -window root "$2"
    kill "$app" "$tray" 2>/dev/null
    wait 2>/dev/null
    true
' start-koravex "$PWD/build/app/shell/koravex" "$shot" 2>/dev/null || true

echo
build/app/tools/snapshot/koravex-snapshot || true
echo
if [ -s "$shot" ]; then
    echo "Screenshot of the window and its tray icon: $shot"
else
    echo "No screenshot could be taken (see above)."
fi
exit 0
