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
# Every click lands at a place in the window, so the window's place is read once it has come
# to rest at the corner: read while it was elsewhere (seen once: the client 4 px right of and
# 24 px below where it came to rest), every click missed.
where() {
    window_info
    echo "origin $(field origin), outer $(field outer), work area $(field workarea)"
}
# At the corner, and at the same place as at the last look.
placed() {
    at_corner && [ "$(field origin)" = "${last_origin:-}" ] && return 0
    last_origin=$(field origin)
    false
}
window_info
first_place="origin $(field origin), outer $(field outer)"
wait_for 10 placed || fail "the window did not come to rest at the corner: $(where)"
IFS=, read -r ox oy <<<"$(field origin)"
echo "   client origin: $ox,$oy"
[ "$first_place" = "origin $(field origin), outer $(field outer)" ] ||
    note "the window came to rest at the corner after the icon docked (first: $first_place)"
click_client() { xdotool mousemove "$((ox + $1))" "$((oy + $2))" click 1; }
# A failure's screenshot is kept outside the prefix, which goes at the end; a pass keeps one
# only in KORAVEX_E2E_SHOTS.
shots=${KORAVEX_E2E_SHOTS:-$(mktemp -d /tmp/koravex-wine-alert.XXXXXX)}
shoot() { import -window root "$shots/alert.png" 2>/dev/null && echo "$shots/alert.png"; }
fail_shot() { fail "$* (window: $(where); screen: $(shoot))"; }

# Each step waits for what it changes on screen before the next: a click or key that did not
# take is then seen and given again, instead of the keys that follow landing on another
# control. A part of the window is compared with itself
# before the step (client coordinates at 96 DPI, away from the pointer's hover marks).
grab() { import -window root -crop "$3x$4+$((ox + $1))+$((oy + $2))" "$5" 2>/dev/null; }
region() { grab "$@" rgb:- | md5sum; }
label15() { region 90 34 150 16; }  # "Интервал обновления..." (the memory page's title before)
edit2() { region 12 81 45 16; }     # the threshold box, greyed until the alert is on
drives() { region 12 104 200 60; }  # the drive list's items
changed() { [ "$("$1")" != "$2" ]; }
is() { [ "$("$1")" = "$2" ]; }
# steady PART: that part's digest once two reads 0.2 s apart agree (a page drawn whole).
steady() {
    local a b n
    a=$("$1")
    for n in $(seq 50); do
        sleep 0.2
        b=$("$1")
        [ "$a" = "$b" ] && break
        a=$b
    done
    echo "$a"
}
# The memory page's title is drawn (more than two colours) before it is compared with.
drawn() { [ "$(grab 90 34 150 16 png:- | convert - -format %k info:)" -gt 2 ] 2>/dev/null; }

balloon_window() {
    xwininfo -root -children 2>/dev/null | grep '("explorer.exe" "explorer.exe")' |
        awk '{ split($0, a, ")  "); split(a[2], g, "[x+]"); if (g[1] > 100 && g[2] > 30) f = 1 }
             END { exit !f }'
}
balloon_window && fail "a balloon window before any alert"

note "settings tab: the alert on, drive E: ticked (Home, Right, Space in the drive list)"
wait_for 10 drawn || fail_shot "the memory page is not drawn"
memory_page=$(steady label15)
settings_tab() {
    local try
    for try in 1 2 3; do
        click_client 190 10  # the tab "Настройки"; a second click keeps it open
        wait_for 3 changed label15 "$memory_page" && return 0
        note "the settings page did not open (try $try)"
    done
    fail_shot "the settings page did not open"
}
settings_tab
settings_page=$(steady label15)
alert_off=$(steady edit2)
for try in 1 2 3; do
    click_client 60 71  # CheckBox1
    wait_for 3 changed edit2 "$alert_off" && break
    [ "$try" = 3 ] && fail_shot "CheckBox1 did not switch the alert on"
    note "CheckBox1 did not take (try $try)"
done
is label15 "$settings_page" || fail_shot "the settings page went away"
# The keys go to the list only once a click in it (away from any item) has given it the
# focus: Home marks the first drive. Keys that went to the tab bar instead turned the page.
for try in 1 2 3; do
    unmarked=$(steady drives)
    click_client 250 180
    xdotool key Home
    wait_for 3 changed drives "$unmarked" && is label15 "$settings_page" && break
    [ "$try" = 3 ] && fail_shot "the drive list did not take the keys"
    note "the drive list did not take Home (try $try)"
    is label15 "$settings_page" || settings_tab
done
for key in Right space; do  # the next drive, E:, then its tick
    before=$(steady drives)
    xdotool key "$key"
    wait_for 3 changed drives "$before" || fail_shot "the drive list did not take $key"
done
is label15 "$settings_page" || fail_shot "the settings page went away"
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
wait_for 15 balloon || fail_shot "no balloon for E: (trace: $(cat "$KORAVEX_TRAY_TRACE"))"
window_info
[ "$(field caption)" = Koravex ] || fail "caption '$(field caption)' after the alert"

note "the bell rang"
wait "$bell_pid" || true
bells=$(sed -n 's/^bells=//p' "$bell/count")
echo "   bells: $bells"
[ "${bells:-0}" -ge 1 ] || fail "no bell"

note "Wine shows the balloon: a window of its tray beside the icon"
wait_for 10 balloon_window || fail_shot "no balloon window beside the icon"
if [ -n "${KORAVEX_E2E_SHOTS:-}" ]; then shoot >/dev/null; else rm -rf "$shots"; fi
note "PASS"
