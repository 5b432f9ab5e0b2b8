#!/usr/bin/env bash
# The program in a whole GNOME Shell 43 (mutter, the AppIndicator extension's tray, the
# shell's notifications) or KDE Plasma 5.27 (KWin, plasmashell's panel, its system tray and
# notifications) session from Debian's packages, driven with the mouse and keyboard as a
# user would. A 2 MB tmpfs (in the private mount namespace of in_private_ns.sh) is the low
# drive. The session runs in namespaces of its own (desktop_session_lib.sh) and ends with it.
# Usage: desktop_session.sh gnome|kde KORAVEX INSTANCE_PEER
HERE=$(cd "$(dirname "$0")" && pwd)
source "$HERE/lib.sh"
source "$HERE/endurance_lib.sh"
source "$HERE/wm_lib.sh"
source "$HERE/desktop_session_lib.sh"
# A command that fails outside a test of its own ends the script: say which.
set -o errtrace
trap 'echo "FAIL: line $LINENO: $BASH_COMMAND failed" >&2' ERR

# How long the desktop may take to come up: about 2 s on an idle machine, 10 s seen while
# two builds ran beside it.
DESKTOP_START_S=90

# ---- the desktop ------------------------------------------------------------------------
gnome_settings() {
    gsettings set org.gnome.shell enabled-extensions "['ubuntu-appindicators@ubuntu.com']"
    gsettings set org.gnome.desktop.interface enable-animations false
    gsettings set org.gnome.shell welcome-dialog-last-shown-version '9999'
    # The warning about the screen lock not being available, shown once.
    mkdir -p "$XDG_DATA_HOME/gnome-shell"
    touch "$XDG_DATA_HOME/gnome-shell/lock-warning-shown"
}
# start_gnome: the shell (replacing a running one), up with its tray and notifications, the
# overview closed. GNOME on X11 takes its scaling factor at the shell's start, as at a login.
start_gnome() {
    gnome-shell --x11 --replace >>"$DIR/desktop.log" 2>&1 &
    SHELL_PID=$!
    gnome_ready() {
        [ "$(bus_owner_pid org.gnome.Shell)" = "$SHELL_PID" ] && tray_host_ready &&
            [ "$(bus_owner_pid org.kde.StatusNotifierWatcher)" = "$SHELL_PID" ] &&
            bus_has org.freedesktop.Notifications
    }
    wait_for "$DESKTOP_START_S" gnome_ready ||
        fail "GNOME Shell did not come up: $(tail -5 "$DIR/desktop.log")"
    # It opens in the overview, as after a login, once its start is complete: closed before,
    # it would open again.
    overview_open() { [[ $(prop org.gnome.Shell /org/gnome/Shell org.gnome.Shell OverviewActive) == *true* ]]; }
    wait_for 20 overview_open || fail "the shell did not open its overview at start"
    overview_closed() {
        gdbus call --session --dest org.gnome.Shell --object-path /org/gnome/Shell \
            --method org.freedesktop.DBus.Properties.Set org.gnome.Shell OverviewActive '<false>' \
            >/dev/null 2>&1
        [[ $(prop org.gnome.Shell /org/gnome/Shell org.gnome.Shell OverviewActive) == *false* ]]
    }
    wait_for 10 overview_closed || fail "the overview stayed open"
    work_area_shrunk() { xprop -root _NET_WORKAREA | tr -d ',' | awk '{ exit !($4 > 0) }'; }
    wait_for 10 work_area_shrunk || fail "the top bar took no room: $(xprop -root _NET_WORKAREA)"
}

start_kde() {
    kwin_x11 --replace >"$DIR/kwin.log" 2>&1 &
    wm_running() { xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id"; }
    wait_for "$DESKTOP_START_S" wm_running || fail "KWin did not start: $(tail -5 "$DIR/kwin.log")"
    kded5 >"$DIR/kded.log" 2>&1 &
    plasmashell --no-respawn >"$DIR/desktop.log" 2>&1 &
    SHELL_PID=$!
    panel_strut() { xprop -root _NET_WORKAREA | tr -d ',' | awk '{ exit !($6 < 800) }'; }
    kde_ready() { panel_strut && tray_host_ready && bus_has org.freedesktop.Notifications; }
    wait_for "$DESKTOP_START_S" kde_ready ||
        fail "Plasma did not come up: $(xprop -root _NET_WORKAREA); $(tail -5 "$DIR/desktop.log")"
}

# ---- pictures ---------------------------------------------------------------------------
# crop_screen GEOMETRY OUT: part of the screen as shown.
crop_screen() { import -window root -crop "$1" +repage "$2" 2>/dev/null; }
same_picture() { [ "$(compare -metric AE "$1" "$2" null: 2>&1 || true)" = 0 ]; }
# settled_crop GEOMETRY FILE: FILE is that part of the screen once two looks a moment apart
# agree (a panel still drawing itself, a menu still closing, is not taken for what stays).
settled_crop() {
    crop_screen "$1" "$2.first.png" && sleep 0.3 && crop_screen "$1" "$2" &&
        same_picture "$2.first.png" "$2"
}
# The part of the desktop's bar where the tray shows its icons: GNOME's top bar right of the
# clock, KDE's panel between the task manager and the clock.
tray_strip() {
    case "$DESK" in
        gnome) echo "560x32+720+0" ;;
        kde) echo "240x44+900+756" ;;
    esac
}
# The program's icon is the only strongly coloured thing there (the bars and the other
# icons are grey; a window's shadow falling on KDE's panel only darkens it): "W H X Y" of
# the coloured pixels in the strip, nothing when there are none.
coloured_box() {
    crop_screen "$(tray_strip)" "$DIR/strip.png" || return 1
    convert "$DIR/strip.png" -colorspace HSL -channel G -separate +channel -threshold 40% \
        -format '%[fx:mean*w*h] ' -write info: -trim -format '%w %h %X %Y' info: 2>/dev/null |
        awk '$1 > 0 { print $2, $3, $4, $5 }' | tr -d '+'
}
icon_shown() {
    local w h x y ox oy
    read -r w h x y < <(coloured_box) || return 1
    [ -n "$w" ] || return 1
    IFS=x+ read -r _ _ ox oy <<<"$(tray_strip)"
    ICON_X=$((ox + x + w / 2))
    ICON_Y=$((oy + y + h / 2))
    ICON_BOX="${w}x${h}+$((ox + x))+$((oy + y))"
}
icon_gone() { [ -z "$(coloured_box)" ]; }
# Away from the bar, the icon and the window: hovering changes how the bars draw.
mouse_away() { xdotool mousemove 300 300; }

# KDE's task manager, between the launchers and the tray: its picture without any window
# (taken before the program starts) and now.
TASKS=640x44+210+756
tasks_as_before() { crop_screen "$TASKS" "$DIR/tasks-now.png" && same_picture "$DIR/tasks-before.png" "$DIR/tasks-now.png"; }
tasks_changed() { ! tasks_as_before; }

# ---- the icon's menu, drawn by the host ------------------------------------------------
# The host asks the program for the menu's contents as it opens it (AboutToShow or GetLayout
# on com.canonical.dbusmenu) and sends the chosen item back (Event), seen on the bus.
menu_calls() { grep -c "member=$1\$" "$DIR/menu-bus.log" || true; }
menu_asks() { menu_calls '\(AboutToShow\|AboutToShowGroup\|GetLayout\)'; }
# GNOME draws the menu inside the shell (seen as a change below the icon), KDE as a pop-up
# window of plasmashell.
below_icon() { echo "300x200+$((ICON_X - 250))+32"; }
menu_drawn() {
    [ "$(menu_asks)" -gt "$1" ] || return 1
    if [ "$DESK" = kde ]; then
        menu_open
    else
        crop_screen "$(below_icon)" "$DIR/below-now.png" &&
            ! same_picture "$DIR/below-before.png" "$DIR/below-now.png"
    fi
}
menu_gone() {
    if [ "$DESK" = kde ]; then
        menu_closed
    else
        crop_screen "$(below_icon)" "$DIR/below-now.png" &&
            same_picture "$DIR/below-before.png" "$DIR/below-now.png"
    fi
}
# The screen below GNOME's icon with no menu drawn there, kept as below-before.png: taken once
# two looks a moment apart agree (settled_crop), so that a menu still closing on a loaded
# machine is not taken for the bare bar.
baseline_below_icon() {
    wait_for 10 settled_crop "$(below_icon)" "$DIR/below-before.png" ||
        fail "the bar below the icon never settled"
}
# open_host_menu BUTTON: a click on the icon until the host shows its menu.
open_host_menu() {
    local before _
    for _ in 1 2 3; do
        before=$(menu_asks)
        MENUS_BEFORE=$(open_menus)
        xdotool mousemove "$ICON_X" "$ICON_Y" click "$1"
        wait_for 3 menu_drawn "$before" && return 0
        xdotool key Escape
        wait_for 3 menu_gone || true
        [ "$DESK" = kde ] || baseline_below_icon
    done
    return 1
}
# host_menu KEYS...: the menu opened the host's way (GNOME: left click; KDE: right click),
# then KEYS; the item chosen reaches the program as an Event.
host_menu() {
    local events
    events=$(menu_calls Event)
    if [ "$DESK" = gnome ]; then
        baseline_below_icon
        open_host_menu 1 || fail "no menu on a left click on the icon"
    else
        open_host_menu 3 || fail "no menu on a right click on the icon"
    fi
    xdotool key "$@"
    event_sent() { [ "$(menu_calls Event)" -gt "$events" ]; }
    wait_for 3 event_sent || fail "the host sent no Event for the item chosen"
    mouse_away
}
# The labels of the exported menu, in order, as GetLayout gives them to the host.
menu_labels() {
    local path
    path=$(prop "$KORAVEX_BUS_NAME" "/${KORAVEX_ITEM#*/}" org.kde.StatusNotifierItem Menu |
        sed -E "s/.*objectpath '([^']*)'.*/\1/")
    gdbus call --session --dest "$KORAVEX_BUS_NAME" --object-path "$path" \
        --method com.canonical.dbusmenu.GetLayout -- 0 -1 '[]' |
        grep -o "'label': <'[^']*'>" | sed -E "s/.*<'(.*)'>/\1/" | paste -sd, -
}

# ---- notifications ----------------------------------------------------------------------
# The program's Notify calls on the bus and the answers, one line each:
# APP|REPLACES_ID|ICON|SUMMARY|BODY|RETURNED_ID. The program's notifications have a bus
# connection of their own: the first caller of the service's Notify, which must be the program.
notify_sender() {
    grep -m1 " -> destination=org.freedesktop.Notifications .*member=Notify\$" "$DIR/notify-bus.log" |
        sed -E 's/.* sender=([^ ]*) .*/\1/'
}
notify_calls() {
    local me
    me=$(notify_sender)
    [ -n "$me" ] || return 0
    [ "$(bus_owner_pid "$me")" = "$KORAVEX_PID" ] ||
        fail "Notify was called by $me, process $(bus_owner_pid "$me"), not by the program"
    awk -v me="$me" '
        /^method call/ && /member=Notify$/ && index($0, "sender=" me " -> destination=org.freedesktop.Notifications ") {
            match($0, / serial=[0-9]+/); cur = substr($0, RSTART + 8, RLENGTH - 8)
            order[++k] = cur; n = 0; want = 0; next }
        /^(method return|error)/ && index($0, "destination=" me " ") {
            match($0, /reply_serial=[0-9]+/); r = substr($0, RSTART + 13, RLENGTH - 13)
            want = (r in call); cur = ""
            if (want && /^error/) { match($0, /error_name=[^ ]+/); id[r] = substr($0, RSTART, RLENGTH); want = 0 }
            next }
        /^(method|signal|error)/ { cur = ""; want = 0; next }
        cur != "" && n < 5 { v = $0; sub(/^ *(string|uint32) /, "", v); gsub(/^"|"$/, "", v)
                             call[cur] = call[cur] (n ? "|" : "") v; n++; next }
        want && /uint32/ { id[r] = $2; want = 0 }
        END { for (i = 1; i <= k; i++) print call[order[i]] "|" id[order[i]] }' "$DIR/notify-bus.log"
}
notified_at_least() { [ "$(notify_calls | awk -F'|' '$6 != ""' | wc -l)" -ge "$1" ]; }

# ---- scale 2 ----------------------------------------------------------------------------
# The desktop's own setting for a 2x screen.
set_scale_2() {
    case "$DESK" in
        gnome)
            gsettings set org.gnome.desktop.interface scaling-factor 2
            start_gnome
            dpi_192() { xrdb -query | grep -q 'Xft.dpi:.*192'; }
            wait_for 10 dpi_192 || fail "the settings daemon did not pass the scale on: $(xrdb -query)"
            ;;
        kde)
            # What Display Configuration writes for a global scale of 2 on X11. Plasma's start
            # (startplasma-x11) hands ScreenScaleFactors to every program as
            # QT_SCREEN_SCALE_FACTORS, and its fonts module sets Xft.dpi from forceFontDPI:
            # done here as they do it, since a session is not started again.
            kwriteconfig5 --file kdeglobals --group KScreen --key ScaleFactor 2
            kwriteconfig5 --file kdeglobals --group KScreen --key ScreenScaleFactors "screen=2;"
            kwriteconfig5 --file kcmfonts --group General --key forceFontDPI 192
            QT_SCREEN_SCALE_FACTORS=$(kreadconfig5 --file kdeglobals --group KScreen --key ScreenScaleFactors)
            export QT_SCREEN_SCALE_FACTORS
            echo "Xft.dpi: $(kreadconfig5 --file kcmfonts --group General --key forceFontDPI)" |
                xrdb -nocpp -merge
            ;;
    esac
}

# ---- the run ----------------------------------------------------------------------------
inside() {
    session_dirs
    start_xvfb
    # Everything here ends with this process (the first of its PID namespace); the X server
    # is ended first, so that it removes its lock file in the machine's /tmp.
    trap 'kill -TERM "$XVFB_PID" 2>/dev/null; wait_for 5 dead "$XVFB_PID" || true' EXIT
    read -r SW SH < <(screen_size)
    [ "$SW $SH" = "1280 800" ] || fail "screen of ${SW}x$SH"
    case "$DESK" in
        gnome) export XDG_CURRENT_DESKTOP=GNOME ;;
        # Before the bus starts: kded5, started by the bus, loads its tray watcher only in a
        # full KDE session.
        kde) export XDG_CURRENT_DESKTOP=KDE KDE_FULL_SESSION=true KDE_SESSION_VERSION=5 ;;
    esac
    start_system_bus
    start_session_bus
    local t0=$SECONDS
    if [ "$DESK" = gnome ]; then
        gnome_settings
        start_gnome
        # The settings daemon that hands the scaling factor to X programs, as in a session.
        /usr/libexec/gsd-xsettings >"$DIR/xsettings.log" 2>&1 &
    else
        start_kde
    fi
    note "$DESK up in $((SECONDS - t0)) s; work area $(xprop -root _NET_WORKAREA | cut -d= -f2)"
    local service
    service=$(bus_owner_comm org.freedesktop.Notifications)
    note "notifications by $service, tray watcher by $(bus_owner_comm org.kde.StatusNotifierWatcher)"
    case "$DESK:$service" in
        gnome:gjs | kde:plasmashell) ;;
        *) fail "the notification service is $service's, not the desktop's" ;;
    esac

    dbus-monitor --session "type='method_call',interface='com.canonical.dbusmenu'" \
        >"$DIR/menu-bus.log" 2>&1 &
    dbus-monitor --session "type='method_call',interface='org.freedesktop.Notifications'" \
        "type='signal',interface='org.freedesktop.Notifications'" "type='method_return'" \
        "type='error'" >"$DIR/notify-bus.log" 2>&1 &
    mouse_away
    icon_gone || fail "something coloured in the tray before the program starts"
    if [ "$DESK" = kde ]; then
        wait_for 10 settled_crop "$TASKS" "$DIR/tasks-before.png" ||
            fail "KDE's task manager never settled before the program started"
    fi

    note "the program starts; its icon registers with the desktop's tray and shows"
    "$KORAVEX" >"$DIR/koravex.log" 2>&1 &
    KORAVEX_PID=$!
    wait_for 20 main_window_viewable || fail "the window did not appear"
    MAIN=$(main_window)
    wait_for 10 item_registered || fail "no item registered: $(watcher_prop RegisteredStatusNotifierItems)"
    item_registered
    # Its connection's unique name, which its Notify calls come from.
    KORAVEX_BUS_NAME=$(dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.GetNameOwner "string:${KORAVEX_ITEM%%[@/]*}" | awk -F'"' '/string/ { print $2 }')
    wait_for 10 icon_shown || fail "the icon does not show in the $DESK bar"
    note "icon at $ICON_BOX; the menu it exports: $(menu_labels)"
    [ "$(menu_labels)" = Details,Hide,Close ] || fail "the exported menu is $(menu_labels)"

    note "the window starts in the work area's corner, with no task-bar or pager entry"
    expect_shown_at_corner "at start"
    note "$(corner_report)"
    if [ "$DESK" = kde ]; then
        tasks_as_before || fail "the task manager shows an entry for the window"
    fi

    note "the window stays on top of a normal window activated later"
    xmessage -geometry 300x80+700+500 "a normal window" >"$DIR/xmessage.log" 2>&1 &
    local other_pid=$! other
    xmessage_window() { xwininfo -root -tree | awk '/\("xmessage"/ && !w { w = $1 } END { if (w) print w }'; }
    xmessage_shown() { [ -n "$(xmessage_window)" ] && is_viewable "$(xmessage_window)"; }
    wait_for 10 xmessage_shown || fail "the other window did not appear: $(cat "$DIR/xmessage.log")"
    other=$(xmessage_window)
    if [ "$DESK" = kde ]; then
        wait_for 5 tasks_changed || fail "the task manager shows no entry for another window"
    fi
    # Asked again until it is done: a request made before the manager took the window is lost.
    activate_other() { xdotool windowactivate "$other" 2>/dev/null; wait_for 1 is_active "$other"; }
    wait_for 5 activate_other ||
        fail "the other window ($other) did not become active: $(active_window); $(xwininfo -root -tree | grep -i xmessage)"
    wait_for 3 stacked_over "$MAIN" "$other" ||
        fail "the window went below the active one: $(xprop -root _NET_CLIENT_LIST_STACKING)"

    note "a second start brings the window to the front"
    timeout 10 "$KORAVEX" || fail "the second start failed"
    if wait_for 3 is_active "$MAIN"; then
        note "the window is the active one"
    else
        note "the manager kept $(active_window) active (the other window is $other); the window's states: $(net_states)"
        crop_screen 1280x800+0+0 "$DIR/second-start.png"
        SECOND_START_FOCUS=refused
    fi
    stacked_over "$MAIN" "$other" || fail "the window is below the other window after a second start"
    kill "$other_pid"
    if [ "$DESK" = kde ]; then
        wait_for 5 tasks_as_before || fail "the task manager kept an entry after the other window went"
    fi
    mouse_away

    note "Hide through the host's menu hides the window; the process keeps running"
    host_menu Down Down Return
    wait_for 3 is_unmapped "$MAIN" || fail "Hide did not hide"
    alive "$KORAVEX_PID" || fail "the process ended on Hide"
    wait_for 5 icon_shown || fail "the icon went with the window"

    if [ "$DESK" = gnome ]; then
        note "a left click opens the menu and leaves the window hidden; a double click shows it"
        baseline_below_icon
        open_host_menu 1 || fail "no menu on a left click"
        is_unmapped "$MAIN" || fail "a left click showed the window"
        xdotool key Escape
        wait_for 3 menu_gone || fail "the menu stayed open"
        xdotool mousemove "$ICON_X" "$ICON_Y" click --repeat 2 --delay 80 1
        expect_shown_at_corner "after a double click"
        mouse_away
        note "hidden again, Details through the host's menu shows it"
        host_menu Down Down Return
        wait_for 3 is_unmapped "$MAIN" || fail "Hide did not hide"
        host_menu Down Return
        expect_shown_at_corner "Details"
    else
        note "a left click shows the window"
        xdotool mousemove "$ICON_X" "$ICON_Y" click 1
        expect_shown_at_corner "after a left click"
        mouse_away
        note "minimized, Details through the host's menu restores it"
        xdotool windowminimize "$MAIN"
        wait_for 5 is_iconic || fail "KWin did not minimize the window"
        host_menu Down Return
        expect_shown_at_corner "Details after minimize"
        note "minimized, a left click on the icon restores it"
        xdotool windowminimize "$MAIN"
        wait_for 5 is_iconic || fail "KWin did not minimize the window"
        xdotool mousemove "$ICON_X" "$ICON_Y" click 1
        expect_shown_at_corner "the icon after minimize"
        mouse_away
        note "minimized, a second start restores it"
        xdotool windowminimize "$MAIN"
        wait_for 5 is_iconic || fail "KWin did not minimize the window"
        timeout 10 "$KORAVEX" || fail "the second start failed"
        expect_shown_at_corner "a second start after minimize"
        tasks_as_before || fail "the task manager shows an entry for the window after minimize"
    fi
    alive "$KORAVEX_PID" || fail "the first instance ended"

    note "the pie at 1x, to compare with 2x"
    show_tab_scaled 1 1
    pie_crop 1 "$DIR/pie1.png"

    note "a low drive with the alert on: one notification through $service, replaced at each refresh"
    switch_tab 3
    set_interval 300
    toggle_alert
    sleep 0.3
    tick_last_drive
    if ! wait_for 20 notified_at_least 4; then
        crop_screen 1280x800+0+0 "$DIR/no-warning.png"
        fail "$(notify_calls | wc -l) warnings reached $service: $(notify_calls)"
    fi
    local first_id="" previous=0 n=0 refused=0
    while IFS='|' read -r app replaces icon summary body id; do
        n=$((n + 1))
        [ -n "$id" ] || continue
        [ "$app|$icon|$summary" = "Koravex|dialog-warning|Внимание!" ] ||
            fail "warning $n: $app|$icon|$summary"
        case "$body" in
            "На диске: "?":\\ осталось меньше 100 Mb дискового пространства") ;;
            *) fail "warning $n reads: $body" ;;
        esac
        [ "$replaces" = "$previous" ] || fail "warning $n replaces $replaces, not $previous"
        # Plasma refuses a notification like the last it took within a second of it, as
        # "too many": that one stays on the screen.
        if [ "$DESK:$id" = kde:error_name=org.freedesktop.Notifications.Error.ExcessNotificationGeneration ] &&
            [ -n "$first_id" ]; then
            refused=$((refused + 1))
            continue
        fi
        [ -z "$first_id" ] && first_id=$id
        [ "$id" = "$first_id" ] || fail "warning $n became notification $id, beside $first_id: stacked"
        previous=$id
    done < <(notify_calls)
    note "$n warnings, all notification $first_id ($refused refused by the service as repeats)"
    [ "$(caption)" = Koravex ] || fail "the caption reads $(caption)"
    crop_screen 1280x800+0+0 "$DIR/warning.png"

    note "Close through the host's menu ends the program with 0; the icon goes"
    host_menu Down Down Down Return
    expect_clean_exit "$KORAVEX_PID"
    wait_for 5 item_unregistered || fail "the item stays registered: $(watcher_prop RegisteredStatusNotifierItems)"
    wait_for 5 icon_gone || fail "the icon stays in the bar"

    note "the warning dismissed, as a user would (Plasma's lies over the window's corner)"
    gdbus call --session --dest org.freedesktop.Notifications --object-path /org/freedesktop/Notifications \
        --method org.freedesktop.Notifications.CloseNotification "$first_id" >/dev/null
    closed() { grep -q "member=NotificationClosed$" "$DIR/notify-bus.log"; }
    wait_for 10 closed || fail "the notification was not closed"

    note "scale 2 ($DESK's own setting): the gauges drawn at the device resolution"
    set_scale_2
    export KORAVEX_SCALE=2
    "$KORAVEX" >"$DIR/koravex2.log" 2>&1 &
    KORAVEX_PID=$!
    wait_for 20 main_window_viewable || fail "no window of 746x402 at scale 2: $(xwininfo -root -tree | grep koravex)"
    MAIN=$(main_window)
    expect_shown_at_corner "at scale 2"
    show_tab_scaled 1 2
    pie_crop 2 "$DIR/pie2.png"
    expect_pie_at_2x "$DIR/pie1.png" "$DIR/pie2.png" "$DIR"
    kill -TERM "$KORAVEX_PID"
    expect_clean_exit "$KORAVEX_PID"
    echo "PASS${SECOND_START_FOCUS:+ (the second start did not take the focus)}"
}

if [ "${1:-}" = --inside ]; then
    DIR=$2 DESK=$3 KORAVEX=$4 PEER=$5 LOW_POINT=$6
    inside
    exit 0
fi

DESK=$1
KORAVEX=$2
PEER=$3
case "$DESK" in
    gnome) needs=(gnome-shell gjs /usr/libexec/gsd-xsettings) ;;
    kde) needs=(kwin_x11 kded5 plasmashell kwriteconfig5) ;;
    *) fail "unknown desktop $DESK" ;;
esac
for tool in "${needs[@]}" Xvfb dbus-daemon dbus-monitor gdbus xmessage xrdb unshare; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
[ "$DESK" = gnome ] && [ ! -d /usr/share/gnome-shell/extensions/ubuntu-appindicators@ubuntu.com ] &&
    { echo "SKIP: gnome-shell-extension-appindicator is not installed"; exit 77; }
if [ "$(id -u)" -ne 0 ] || [ "${KORAVEX_PRIVATE_NS:-}" != 1 ]; then
    echo "SKIP: needs root and a private mount namespace (for the low drive)"
    exit 77
fi
unshare --user --map-user=1000 --map-group=1000 --pid --fork --mount --mount-proc true 2>/dev/null ||
    { echo "SKIP: no user and PID namespaces here"; exit 77; }

DIR=$(mktemp -d)
# KORAVEX_DESKTOP_KEEP=DIR keeps the session's logs and pictures there.
finish() {
    unmount_low_drive
    [ -n "${KORAVEX_DESKTOP_KEEP:-}" ] && cp -r "$DIR/." "$KORAVEX_DESKTOP_KEEP/" 2>/dev/null
    rm -rf "$DIR"
}
trap finish EXIT
mount_low_drive || fail "cannot mount a tmpfs under /mnt"
t0=$SECONDS
rc=0
desktop_enter "$DIR" "$DESK" "$KORAVEX" "$PEER" "$LOW_POINT" || rc=$?
note "$((SECONDS - t0)) s"
exit "$rc"
