#!/usr/bin/env bash
# The program in an XEmbed tray (trayer), driven with the mouse and keyboard as a user would.
# Usage: tray_xembed.sh KORAVEX X_CLOSE INSTANCE_PEER
KORAVEX=$1
X_CLOSE=$2
PEER=$3
source "$(dirname "$0")/lib.sh"
skip_if_instance_running "$PEER"

start_trayer
cleanup_pids+=("$TRAYER_PID")
start_koravex
cleanup_pids+=("$KORAVEX_PID")

note "the icon docks in the tray"
wait_for 5 icon_docked || fail "no tray icon"
ICON=$(tray_icon)

note "the window starts in the bottom right corner"
read -r sw sh < <(screen_size)
[ "$(bottom_right "$MAIN")" = "$sw $sh" ] || fail "window not at the corner: $(bottom_right "$MAIN")"

# A utility window owned by the program's group leader gets no task-bar entry from an EWMH
# task bar; this must hold after every hide and show.
no_taskbar_entry() {
    xprop -id "$MAIN" _NET_WM_WINDOW_TYPE | grep -q _NET_WM_WINDOW_TYPE_UTILITY &&
        xprop -id "$MAIN" WM_TRANSIENT_FOR | grep -q "window id"
}
no_taskbar_entry || fail "the window would get a task-bar entry"

note "right click opens the menu; Escape closes it"
before=$(popup_count "$MAIN")
menu_open() { [ "$(popup_count "$MAIN")" -gt "$before" ]; }
menu_closed() { [ "$(popup_count "$MAIN")" -eq "$before" ]; }
# A right click on the icon until the menu is open (a click can be lost while the pointer
# grab of the menu closed just before is still being released).
open_menu() {
    local try
    for try in 1 2 3; do
        xdotool mousemove --window "$ICON" 11 11 click 3
        wait_for 3 menu_open && return 0
    done
    fail "no menu on right click"
}
xdotool mousemove --window "$ICON" 11 11 click 3
wait_for 3 menu_open || fail "no menu on right click"
# The menu opens at the cursor: its top edge is the pointer's row (it is pushed left only
# as far as the screen edge requires).
eval "$(xdotool getmouselocation --shell)"
menu_y=$(xwininfo -root -children | grep '("koravex" "koravex")' | grep -v "^ *$MAIN " |
    head -1 | sed -E 's/.*[0-9]+x[0-9]+\+-?[0-9]+\+(-?[0-9]+) .*/\1/')
[ "$menu_y" -eq "$Y" ] || fail "menu at y=$menu_y, pointer at y=$Y"
xdotool key Escape
wait_for 3 menu_closed || fail "menu stayed open"

note "a single left click does nothing"
xdotool mousemove --window "$ICON" 11 11 click 1
sleep 0.6
is_viewable "$MAIN" || fail "single click changed the window"

note "Hide in the menu hides the window; the process keeps running"
open_menu
xdotool key Down Down Return   # Details, Hide
wait_for 3 is_unmapped "$MAIN" || fail "Hide did not hide"
sleep 0.5
alive "$KORAVEX_PID" || fail "the process ended on Hide"

note "a double click shows the window at the corner again, its figures read afresh"
sleep 5.5  # at least one refresh while hidden (the low-space watch only)
io_before=$(awk '/^rchar/ { print $2 }' "/proc/$KORAVEX_PID/io")
xdotool mousemove --window "$ICON" 11 11 click --repeat 2 --delay 80 1
wait_for 3 is_viewable "$MAIN" || fail "double click did not show"
io_after=$(awk '/^rchar/ { print $2 }' "/proc/$KORAVEX_PID/io")
[ "$io_after" -gt "$io_before" ] || fail "the figures were not read on show"
[ "$(bottom_right "$MAIN")" = "$sw $sh" ] || fail "shown away from the corner"
no_taskbar_entry || fail "a task-bar entry after hiding and showing"

note "the window's close button only hides it"
"$X_CLOSE" "$MAIN"
wait_for 3 is_unmapped "$MAIN" || fail "close request did not hide"
sleep 0.5
alive "$KORAVEX_PID" || fail "the process ended on a close request"
[ -n "$(tray_icon)" ] || fail "the icon went away on a close request"

note "Details in the menu shows it"
open_menu
xdotool key Down Return
wait_for 3 is_viewable "$MAIN" || fail "Details did not show"

note "Close removes the icon and ends the program with exit code 0"
open_menu
xdotool key Up Return   # Close, the last entry
wait_for 5 dead "$KORAVEX_PID" || fail "Close did not end the program"
rc=0
wait "$KORAVEX_PID" || rc=$?
[ "$rc" -eq 0 ] || fail "exit code $rc"
[ -z "$(tray_icon)" ] || fail "the icon is still docked"
echo "PASS"
