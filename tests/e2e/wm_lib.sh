# shellcheck shell=bash
# The program's window under a real window manager (openbox, xfwm4, mutter, KWin), as the
# manager reports it over EWMH; sourced after lib.sh. MAIN is the program's client window.

# The main window under a window manager: a client window inside its frame (the first, at
# the scale's size).
main_window() {
    xwininfo -root -tree 2>/dev/null |
        awk -v size="$((373 * ${KORAVEX_SCALE:-1}))x$((201 * ${KORAVEX_SCALE:-1}))" \
            '/\("koravex" "koravex"\)  / && index($0, ")  " size "+") && !w { w = $1 }
             END { if (w) print w }'
}
net_states() { xprop -id "$MAIN" _NET_WM_STATE 2>/dev/null; }
wm_state() { xprop -id "$MAIN" WM_STATE 2>/dev/null | awk '/window state:/ { print $3 }'; }
is_normal() { [ "$(wm_state)" = Normal ] && is_viewable "$MAIN"; }
is_iconic() { [ "$(wm_state)" = Iconic ]; }
# corner_report: where the frame's bottom right corner is and where the work area's is.
corner_report() {
    local x y w h l r t b ax ay aw ah
    read -r x y w h < <(xwininfo -id "$MAIN" | awk '/Absolute upper-left X/ {x=$4}
        /Absolute upper-left Y/ {y=$4} /Width:/ {w=$2} /Height:/ {h=$2} END { print x, y, w, h }')
    read -r l r t b < <(xprop -id "$MAIN" _NET_FRAME_EXTENTS | tr -d ',' | awk '{ print $3, $4, $5, $6 }')
    read -r ax ay aw ah < <(xprop -root _NET_WORKAREA | tr -d ',' | awk '{ print $3, $4, $5, $6 }')
    echo "frame $((x - l)),$((y - t)) to $((x + w + r)),$((y + h + b)); work area $ax,$ay to $((ax + aw)),$((ay + ah))"
}
# The window frame's bottom right corner is the work area's (the panel's strut honoured), and
# its top left (the title bar) inside the work area.
at_corner() {
    local fx fy rx by ax ay ex ey
    read -r fx fy rx by ax ay ex ey < <(corner_report | tr ',;' '  ' | awk '{ print $2, $3, $5, $6, $9, $10, $12, $13 }')
    [ "$rx" -eq "$ex" ] && [ "$by" -eq "$ey" ] && [ "$fx" -ge "$ax" ] && [ "$fy" -ge "$ay" ]
}
no_taskbar_entry() {
    local s
    s=$(net_states)
    [[ $s == *_NET_WM_STATE_SKIP_TASKBAR* && $s == *_NET_WM_STATE_SKIP_PAGER* ]]
}
expect_shown_at_corner() {
    wait_for 5 is_normal || fail "$1: the window is not shown (WM_STATE $(wm_state))"
    wait_for 3 at_corner || fail "$1: the window is not in the work area's corner: $(corner_report)"
    no_taskbar_entry || fail "$1: the window asks for a task-bar entry: $(net_states)"
}
# Window $1 is above window $2 in the manager's stacking order.
stacked_over() {
    local order
    order=$(xprop -root _NET_CLIENT_LIST_STACKING | sed 's/.*# //; s/, /\n/g' | tr -d ' ')
    [ "$(printf '%b\n' "$order" | grep -n -i "^$1\$" | cut -d: -f1)" -gt \
        "$(printf '%b\n' "$order" | grep -n -i "^$2\$" | cut -d: -f1)" ]
}
# The active window, as the manager says (0x-prefixed, without leading zeros).
active_window() { xprop -root _NET_ACTIVE_WINDOW | awk '{ print $NF }' | sed 's/,//'; }
is_active() { [ "$(printf '%d' "$(active_window)" 2>/dev/null)" = "$(printf '%d' "$1")" ]; }

# Pop-up menus are override-redirect windows at the top of the stack.
open_menus() {
    local w n=0
    for w in $(xwininfo -root -children | awk '/^ +0x/ { print $1 }'); do
        xwininfo -id "$w" 2>/dev/null | grep -q "Override Redirect State: yes" || continue
        is_viewable "$w" || continue
        local size
        # A pop-up may be gone between the listing and this question.
        size=$(xwininfo -id "$w" 2>/dev/null | awk '/Width:/ {w=$2} /Height:/ {h=$2} END { print w "x" h }') ||
            continue
        [ "$size" = 1x1 ] || [ "$size" = 3x3 ] || n=$((n + 1))
    done
    echo "$n"
}
menu_open() { [ "$(open_menus)" -gt "$MENUS_BEFORE" ]; }
menu_closed() { [ "$(open_menus)" -eq "$MENUS_BEFORE" ]; }

notify_owner() {
    dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.NameHasOwner string:org.freedesktop.Notifications 2>/dev/null |
        grep -q "boolean true"
}
