#!/usr/bin/env bash
# The program on a real desktop made of Debian's parts: openbox or xfwm4 as the window manager,
# xfce4-panel with its notification area and task list along the bottom edge, and dunst as the
# notification service. Driven with the mouse and keyboard as a user would.
#   sni     the program on the panel's session bus: the panel hosts it as a StatusNotifierItem
#           (the panel's own menu); dunst already runs when the program starts.
#   xembed  the program on a session bus of its own: the panel docks it over XEmbed (Qt's
#           menu); dunst is not running, the bus starts it at the first warning.
# A 2 MB tmpfs (root only, in the private mount namespace of in_private_ns.sh) is the low drive.
# Usage: desktop_xfce.sh sni|xembed openbox|xfwm4 KORAVEX INSTANCE_PEER
ROUTE=$1
WM=$2
KORAVEX=$3
PEER=$4
HERE=$(cd "$(dirname "$0")" && pwd)
source "$HERE/lib.sh"
source "$HERE/endurance_lib.sh"
source "$HERE/wm_lib.sh"
# A command that fails outside a test of its own ends the script: say which.
set -o errtrace
trap 'echo "FAIL: line $LINENO: $BASH_COMMAND failed" >&2' ERR

# The icon docked over XEmbed: a small window of the program inside the panel.
tray_icon() {
    xwininfo -root -tree 2>/dev/null |
        awk '/\("koravex" "koravex"\)  [0-9]+x[0-9]+\+/ { split($0, a, ")  "); split(a[2], g, "[x+]");
              if (g[1] + 0 <= 64 && g[2] + 0 <= 64 && !w) w = $1 } END { if (w) print w }'
}

# The panel: 27 pixels along the bottom; the notification area first, then the task list.
read -r SW SH < <(screen_size)
PANEL_Y=$((SH - 14))
SNI_ICON_X=20
# The task list's part of the panel, as a picture checksum and as a number of colours.
tasklist_colours() {
    import -window root -crop "600x20+60+$((SH - 24))" +repage -format '%k' info: 2>/dev/null ||
        echo unknown
}

# The tray menu, by route: KEYS after it opened.
menu_keys() {
    local _
    MENUS_BEFORE=$(open_menus)
    for _ in 1 2 3; do
        if [ "$ROUTE" = xembed ]; then
            xdotool mousemove --window "$ICON" 11 11 click 3
        else
            xdotool mousemove "$SNI_ICON_X" "$PANEL_Y" click 3
        fi
        if wait_for 3 menu_open; then
            sleep 0.2
            xdotool key "$@"
            return 0
        fi
    done
    fail "no menu on a right click on the icon"
}
# The icon's show gesture: a double click over XEmbed, the host's activation (a left click on
# the panel's button) for a StatusNotifierItem.
icon_show() {
    if [ "$ROUTE" = xembed ]; then
        xdotool mousemove --window "$ICON" 11 11 click --repeat 2 --delay 80 1
    else
        xdotool mousemove "$SNI_ICON_X" "$PANEL_Y" click 1
    fi
}

recorded() { [ -f "$DIR/dunst.log" ] && wc -l <"$DIR/dunst.log" || echo 0; }
recorded_at_least() { [ "$(recorded)" -ge "$1" ]; }

# Everything the user does with the program, on the bus the program runs on.
exercise() {
    skip_if_instance_running "$PEER"
    if [ "$ROUTE" = sni ]; then
        note "dunst runs before the program"
        dunst -config "$DIR/dunstrc" >"$DIR/dunst.out" 2>&1 &
        cleanup_pids+=($!)
        wait_for 5 notify_owner || fail "dunst did not take the notification service"
    else
        notify_owner && fail "a notification service already runs on the program's bus"
    fi
    start_koravex
    cleanup_pids+=("$KORAVEX_PID")

    note "the icon docks in the panel ($ROUTE)"
    if [ "$ROUTE" = xembed ]; then
        wait_for 10 icon_docked || fail "no icon docked in the panel"
        ICON=$(tray_icon)
    fi

    note "the window starts in the work area's corner, with no task-bar or pager entry"
    wait_for 5 is_normal || fail "the window is not shown (WM_STATE $(wm_state))"
    # The panel's task list stays empty (one plain colour) while the window is up; another
    # window's button shows that it is looked at in the right place.
    sleep 0.5
    local colours
    colours=$(tasklist_colours)
    [ "$colours" -le 2 ] || fail "the task list shows a button for the window ($colours colours)"
    expect_shown_at_corner "at start"
    xmessage -geometry 200x50+200+200 "a window with a task-bar entry" >/dev/null 2>&1 &
    local other=$!
    cleanup_pids+=("$other")
    entry_shown() { [ "$(tasklist_colours)" -gt 2 ]; }
    wait_for 5 entry_shown || fail "the task list does not show another window's button"
    note "the window stays on top of another that is active"
    local other_window
    other_window=$(xwininfo -root -tree | awk '/\("xmessage"/ && !w { w = $1 } END { if (w) print w }')
    xdotool windowactivate "$other_window" 2>/dev/null || true
    other_active() { xprop -root _NET_ACTIVE_WINDOW | grep -qi "${other_window#0x}"; }
    wait_for 5 other_active || fail "the other window did not become active"
    on_top() { stacked_over "$MAIN" "$other_window"; }
    wait_for 3 on_top || fail "the window went below the active one: $(xprop -root _NET_CLIENT_LIST_STACKING)"
    kill "$other"
    wait_for 5 sh -c "[ \$(import -window root -crop 600x20+60+$((SH - 24)) +repage -format %k info:) -le 2 ]" ||
        fail "the task list kept a button after the other window went"

    note "right click opens the menu; Escape closes it"
    menu_keys Escape
    wait_for 3 menu_closed || fail "the menu stayed open"

    note "Hide hides the window; the process keeps running"
    menu_keys Down Down Return
    wait_for 3 is_unmapped "$MAIN" || fail "Hide did not hide"
    alive "$KORAVEX_PID" || fail "the process ended on Hide"

    note "the icon shows it again, in its corner, still without a task-bar entry"
    icon_show
    expect_shown_at_corner "after the icon's show"

    note "minimized, Details restores it"
    xdotool windowminimize "$MAIN"
    wait_for 5 is_iconic || fail "the window manager did not minimize the window"
    menu_keys Down Return
    expect_shown_at_corner "Details after minimize"

    note "minimized, a second start restores it"
    xdotool windowminimize "$MAIN"
    wait_for 5 is_iconic || fail "the window manager did not minimize the window"
    timeout 5 "$KORAVEX" || fail "the second start failed"
    expect_shown_at_corner "a second start after minimize"
    alive "$KORAVEX_PID" || fail "the first instance ended"

    note "a low drive with the alert on: one notification in dunst, replaced at each refresh"
    switch_tab 3
    set_interval 300
    toggle_alert
    sleep 0.3
    tick_last_drive
    wait_for 15 recorded_at_least 4 || fail "dunst got $(recorded) warnings"
    notify_owner || fail "no notification service"
    local count
    for _ in 1 2 3; do
        count=$(dunstctl count displayed)
        [ "$count" -eq 1 ] || fail "dunst shows $count notifications"
        [ "$(dunstctl count waiting)" -eq 0 ] || fail "dunst has warnings waiting"
        sleep 0.4
    done
    [ "$(dunstctl count history)" -eq 0 ] || fail "warnings went to dunst's history: not replaced"
    local line
    while IFS= read -r line; do
        case "$line" in
            "Koravex|Внимание!|На диске: "?":\\ осталось меньше 100 Mb дискового пространства|dialog-warning|NORMAL") ;;
            *) fail "dunst got: $line" ;;
        esac
    done <"$DIR/dunst.log"
    [ "$(caption)" = Koravex ] || fail "the caption reads $(caption)"
    balloon_shown && fail "a tray balloon was shown although dunst runs"

    note "Close ends the program with 0"
    menu_keys Up Return
    expect_clean_exit "$KORAVEX_PID"
    echo "PASS"
}

if [ "${1:-}" = --inside ]; then
    # The second half of the xembed route, on the program's own bus.
    ROUTE=$2 KORAVEX=$3 PEER=$4 DIR=$5 LOW_POINT=$6 WM=$7
    exercise
    exit 0
fi

for tool in "$WM" xfce4-panel dunst dunstctl xmessage; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
XFCONFD=$(ls /usr/lib/*/xfce4/xfconf/xfconfd 2>/dev/null | head -1)
[ -x "$XFCONFD" ] || { echo "SKIP: xfconfd is not installed"; exit 77; }
if [ "$(id -u)" -ne 0 ]; then
    echo "SKIP: needs root to mount a low drive under /mnt"
    exit 77
fi

DIR=$(mktemp -d)
finish() {
    unmount_low_drive
    cleanup
    rm -rf "$DIR"
}
trap finish EXIT
mount_low_drive || fail "cannot mount a tmpfs under /mnt"

# A private settings tree for the panel, its settings daemon started by hand.
export XDG_CONFIG_HOME=$DIR/config HOME=$DIR
mkdir -p "$XDG_CONFIG_HOME/xfce4/xfconf/xfce-perchannel-xml"
cp "$HERE/desktop/xfce4-panel.xml" "$XDG_CONFIG_HOME/xfce4/xfconf/xfce-perchannel-xml/"
cat >"$DIR/record.sh" <<REC
#!/bin/sh
printf '%s|%s|%s|%s|%s\n' "\$1" "\$2" "\$3" "\$4" "\$5" >>"$DIR/dunst.log"
REC
chmod +x "$DIR/record.sh"
sed "s|@RECORD@|$DIR/record.sh|" "$HERE/desktop/dunstrc" >"$DIR/dunstrc"

# The X server resets itself whenever its last client leaves, and a window manager that
# connects just then fails to start: one client stays connected throughout.
xprop -root -spy _NET_SUPPORTING_WM_CHECK >/dev/null 2>&1 &
cleanup_pids+=($!)
"$XFCONFD" >"$DIR/xfconfd.log" 2>&1 &
cleanup_pids+=($!)
bus_has() {
    dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.NameHasOwner "string:$1" 2>/dev/null | grep -q "boolean true"
}
# The window manager and the panel read their settings from it at start.
wait_for 10 bus_has org.xfce.Xfconf || fail "xfconfd did not start: $(tail -3 "$DIR/xfconfd.log")"
case "$WM" in
    openbox) openbox --sm-disable >"$DIR/wm.log" 2>&1 & ;;
    xfwm4) xfwm4 --compositor=off --sm-client-disable >"$DIR/wm.log" 2>&1 & ;;
    *) fail "unknown window manager $WM" ;;
esac
cleanup_pids+=($!)
wm_running() { xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id"; }
wait_for 20 wm_running || fail "$WM did not start: $(tail -5 "$DIR/wm.log")"
xfce4-panel --disable-wm-check >"$DIR/panel.log" 2>&1 &
cleanup_pids+=($!)
panel_strut() { xprop -root _NET_WORKAREA | tr -d ',' | awk '{ exit !($6 < '"$SH"') }'; }
wait_for 15 panel_strut || fail "the panel did not reserve its edge"
wait_for 10 bus_has org.kde.StatusNotifierWatcher || fail "the panel's notification area did not start"

case "$ROUTE" in
    sni) exercise ;;
    xembed)
        # The program's own bus knows no tray watcher; it starts dunst on the first warning.
        mkdir -p "$DIR/services"
        cat >"$DIR/services/org.freedesktop.Notifications.service" <<SVC
[D-BUS Service]
Name=org.freedesktop.Notifications
Exec=$(command -v dunst) -config $DIR/dunstrc
SVC
        sed "s|<servicedir>.*</servicedir>|<servicedir>$DIR/services</servicedir>|" \
            "$KORAVEX_BUS_CONFIG" >"$DIR/program-bus.conf"
        rc=0
        dbus-run-session --config-file="$DIR/program-bus.conf" -- \
            "$0" --inside xembed "$KORAVEX" "$PEER" "$DIR" "$LOW_POINT" "$WM" || rc=$?
        exit "$rc"
        ;;
    *) fail "unknown route $ROUTE" ;;
esac
