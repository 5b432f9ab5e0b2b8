#!/usr/bin/env bash
# The low-space alert of koravex.exe under Wine: a 2 MB tmpfs mapped as drive E: in the
# prefix, ticked in the drive list with the alert switched on, must ring the bell (Wine's
# MessageBeep is an X bell), hand the shell the balloon with the exact title and text, and
# leave the caption "Koravex". Needs root for the mount (run it in a private mount
# namespace: tests/e2e/in_private_ns.sh); skipped (77) otherwise.
# Usage: alert_windows.sh ZIP PROBE   (on a virtual display: tests/e2e/run_display.sh)
ZIP=$(realpath "$1")
PROBE=$(realpath "$2")
here=$(dirname "$(realpath "$0")")
source "$here/../e2e/lib.sh"
source "$here/wine_lib.sh"

if [ "$(id -u)" -ne 0 ] || [ -z "${KORAVEX_PRIVATE_NS:-}" ]; then
    echo "SKIP: needs root in a private mount namespace"
    exit 77
fi
bell=$(mktemp -d /tmp/koravex-bell.XXXXXX)
cc -O1 -o "$bell/x_bell" "$here/x_bell.c" -lX11 2>/dev/null || {
    echo "SKIP: no C compiler or Xlib headers for the bell watcher"
    exit 77
}

start_wine_prefix
drive=$(mktemp -d /tmp/koravex-e.XXXXXX)
trap 'cleanup; stop_trayer; end_wine_prefix; umount "$drive" 2>/dev/null; rm -rf "$drive" "$bell"' EXIT
mount -t tmpfs -o size=2m koravex-e "$drive"
ln -s "$drive" "$WINEPREFIX/dosdevices/e:"
# Wine's mount manager reads the drive links when it starts: start it afresh.
"$WINESERVER" -k >/dev/null 2>&1 || true
"$WINESERVER" -w >/dev/null 2>&1 || true
# One server for the rest of the run, with its services up and E: known before the program
# starts: the drive list is filled once, and a drive Windows does not know yet is not in it.
"$WINESERVER" -p
drive_e() { probe drive E >/dev/null; }
wait_for 30 drive_e || fail "Wine does not know drive E: ($(probe drive E))"
start_trayer
cleanup_pids+=("$TRAYER_PID")

mkdir -p "$WINEPREFIX/drive_c/Koravex"
unzip -q "$ZIP" -d "$WINEPREFIX/drive_c/Koravex"
EXE="C:\\Koravex\\$(basename "$ZIP" .zip)\\koravex.exe"
export KORAVEX_TRAY_TRACE=$WINEPREFIX/tray-trace.txt
start_program "$EXE"
cleanup_pids+=("$KORAVEX_PID")
wait_for 10 icon_docked || fail "no tray icon: $(tray_tree)"
IFS=, read -r ox oy <<<"$(field origin)"
# The X server hands the clicks and keys to the window in order, so each lands on what the
# one before it showed.
click_client() { xdotool mousemove "$((ox + $1))" "$((oy + $2))" click 1; }

balloon_window() {
    xwininfo -root -children 2>/dev/null | grep '("explorer.exe" "explorer.exe")' |
        awk '{ split($0, a, ")  "); split(a[2], g, "[x+]"); if (g[1] > 100 && g[2] > 30) f = 1 }
             END { exit !f }'
}
balloon_window && fail "a balloon window before any alert"

note "settings tab: the alert on, drive E: ticked (Home, Right, Space in the drive list)"
click_client 190 10        # the tab "Настройки"
click_client 60 71         # CheckBox1
click_client 250 180       # the drive list, away from any item
xdotool key Home Right space
"$bell/x_bell" 90 1 > "$bell/count" &
bell_pid=$!
wait_for 5 grep -q ready "$bell/count" || fail "bell watcher did not start: $(cat "$bell/count")"

note "within two refreshes the balloon is handed over for E:"
text='На диске: E:\ осталось меньше 100 Mb дискового пространства'
balloon() {
    grep -qF "op=1 result=1 size=952 id=1 flags=0x17 callback=0x800 icon=1 tip=Koravex timeout=20000 infoflags=2 title=Внимание! text=$text" \
        "$KORAVEX_TRAY_TRACE"
}
# Within two refreshes (10 s).
if ! wait_for 15 balloon; then
    import -window root "${KORAVEX_E2E_SHOTS:-$WINEPREFIX}/alert.png" 2>/dev/null || true
    fail "no balloon for E: (trace: $(cat "$KORAVEX_TRAY_TRACE"))"
fi
window_info
[ "$(field caption)" = Koravex ] || fail "caption '$(field caption)' after the alert"

note "the bell rang"
wait "$bell_pid" || true
bells=$(sed -n 's/^bells=//p' "$bell/count")
echo "   bells: $bells"
[ "${bells:-0}" -ge 1 ] || fail "no bell"

note "Wine shows the balloon: a window of its tray beside the icon"
wait_for 10 balloon_window || fail "no balloon window beside the icon"
import -window root "${KORAVEX_E2E_SHOTS:-$WINEPREFIX}/alert.png" 2>/dev/null || true
note "PASS"
