# shellcheck shell=bash
# Driving the program's window as a user would, for the endurance scripts; sourced after
# lib.sh. Places are the window's own layout: the tab bar on top, each page's controls at
# fixed offsets from the page's top-left corner (PAGE_X, PAGE_Y in the window).
PAGE_X=2
PAGE_Y=24
TAB_Y=12
TAB_X=(27 93 152 210 291) # memory, drives, network, settings, about

# click_at X Y [BUTTON]: a click at window coordinates of the main window.
click_at() { xdotool mousemove --window "$MAIN" "$1" "$2" click "${3:-1}"; }
# page_click X Y: a click at page coordinates.
page_click() { click_at $((PAGE_X + $1)) $((PAGE_Y + $2)); }

# The main window's picture, as a checksum (tells whether anything on it changed).
window_sum() { import -window "$MAIN" rgb:- 2>/dev/null | md5sum | cut -d' ' -f1; }

show_tab() { click_at "${TAB_X[$1]}" "$TAB_Y"; }
picture_changed() { [ "$(window_sum)" != "$1" ]; }
# switch_tab N: shows tab N (another than the one shown) and waits until the window shows it.
switch_tab() {
    local before
    before=$(window_sum)
    show_tab "$1"
    wait_for 5 picture_changed "$before" || fail "tab $1 did not show"
}

# type_into X Y TEXT: a click into the edit box at page coordinates, all of its text
# selected and replaced by TEXT.
type_into() {
    page_click "$1" "$2"
    xdotool key --clearmodifiers ctrl+a
    xdotool type --delay 30 "$3"
}

set_interval() { type_into 30 18 "$1"; }     # Edit1
set_threshold() { type_into 30 66 "$1"; }    # Edit2 (editable while the alert is on)
toggle_alert() { page_click 14 48; }         # CheckBox1's box
# set_unit 0|1|2: a click on TrackBar1's groove where that position's thumb sits (megabytes at
# the top); from a neighbouring position the thumb moves there.
UNIT_Y=(40 64 88)
set_unit() { page_click 287 "${UNIT_Y[$1]}"; }
# ListView1, a double click on an empty corner: large icons <-> report. Waits until the
# settings page (where nothing else moves) shows the other view.
toggle_list_view() {
    local before
    before=$(window_sum)
    xdotool mousemove --window "$MAIN" $((PAGE_X + 250)) $((PAGE_Y + 160)) \
        click --repeat 2 --delay 60 1
    wait_for 5 picture_changed "$before" || fail "the drive list did not change its view"
}
# tick_last_drive: from the large-icon view, over to the report, the first row's caption
# clicked, the last row's first cell made current (ctrl+End, Home) and its box toggled with
# the space bar, back to large icons.
tick_last_drive() {
    local before
    toggle_list_view
    page_click 33 108
    before=$(window_sum)
    xdotool key ctrl+End Home space
    wait_for 5 picture_changed "$before" || fail "no tick mark changed"
    toggle_list_view
}
# pick_next_drive: opens the drive selector and takes the next drive in it.
pick_next_drive() {
    page_click 288 41
    sleep 0.2
    xdotool key Down Return
}

# Bytes the process read through read(2) and friends so far: each refresh reads /proc files.
bytes_read() { awk '/^rchar/ { print $2 }' "/proc/$1/io"; }
# read_since PID BYTES: the process has read more than BYTES in all (a refresh ran since).
read_since() { [ "$(bytes_read "$1")" -gt "$2" ]; }

# Shown pop-ups of the program: the balloon is typed as a tool tip; the tray menu is the
# other override-redirect window. popup_shown balloon|menu. A balloon lives for one refresh
# only (the next one replaces it), so a window may be gone by the time it is asked about.
popup_shown() {
    local w types
    for w in $(xwininfo -root -children 2>/dev/null | awk '/\("koravex" "koravex"\)/ { print $1 }'); do
        [ "$w" = "$MAIN" ] && continue
        types=$(xprop -id "$w" _NET_WM_WINDOW_TYPE 2>/dev/null) || continue
        case "$1:$types" in
            balloon:*_NET_WM_WINDOW_TYPE_TOOLTIP*) return 0 ;;
            menu:*_NET_WM_WINDOW_TYPE_TOOLTIP*) ;;
            menu:*)
                is_viewable "$w" &&
                    xwininfo -id "$w" 2>/dev/null | grep -q "Override Redirect State: yes" &&
                    return 0
                ;;
        esac
    done
    return 1
}
menu_shown() { popup_shown menu; }
balloon_shown() { popup_shown balloon; }

# tray_menu KEYS...: right click on the icon until the menu opens, then KEYS.
tray_menu() {
    local icon _
    icon=$(tray_icon)
    [ -n "$icon" ] || fail "no tray icon for the menu"
    for _ in 1 2 3; do
        xdotool mousemove --window "$icon" 11 11 click 3
        if wait_for 3 menu_shown; then
            xdotool key "$@"
            return 0
        fi
    done
    fail "no menu on right click"
}

# The window's caption.
caption() { xprop -id "$MAIN" WM_NAME 2>/dev/null | sed -E 's/^[^"]*"(.*)"$/\1/'; }

# mount_low_drive: a 2 MB tmpfs under /mnt (root only); LOW_POINT is where. In the private
# mount namespace of in_private_ns.sh it goes with the test; the directory is removed on exit.
mount_low_drive() {
    LOW_POINT=$(mktemp -d /mnt/koravex-endure.XXXXXX)
    mount -t tmpfs -o size=2m koravex-endure "$LOW_POINT"
}
unmount_low_drive() {
    [ -n "${LOW_POINT:-}" ] || return 0
    umount -l "$LOW_POINT" 2>/dev/null || true
    rmdir "$LOW_POINT" 2>/dev/null || true
}
