# Helpers for the Windows end-to-end scripts: koravex.exe under Wine on a virtual display
# (started by the caller) with trayer as the XEmbed tray. Sourced after tests/e2e/lib.sh.
WINE=${KORAVEX_WINE:-/usr/lib/wine/wine64}
WINESERVER=${KORAVEX_WINESERVER:-/usr/lib/wine/wineserver}

# A prefix of this run's own; its wineserver and the prefix go at the end.
start_wine_prefix() {
    WINEPREFIX=$(mktemp -d /tmp/koravex-wine.XXXXXX)
    export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    unset WINEPATH QT_PLUGIN_PATH QT_QPA_PLATFORM
    "$WINE" wineboot -i >/dev/null 2>&1 || fail "wineboot failed"
    # KORAVEX_WINE_DPI=192: a scaled screen (Wine's system DPI), for the HiDPI run.
    if [ -n "${KORAVEX_WINE_DPI:-}" ]; then
        "$WINE" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD \
            /d "$KORAVEX_WINE_DPI" /f >/dev/null 2>&1 || fail "cannot set the DPI"
        "$WINESERVER" -w
    fi
}
end_wine_prefix() {
    [ -n "${WINEPREFIX:-}" ] || return 0
    "$WINESERVER" -k >/dev/null 2>&1 || true
    "$WINESERVER" -w >/dev/null 2>&1 || true
    rm -rf "$WINEPREFIX"
}

# probe ARGS...: the Windows-side probe's answer.
probe() { "$WINE" "$PROBE" "$@" 2>/dev/null | tr -d '\r'; }
# field NAME: one field of `probe window` (read into WINDOW_INFO by window_info).
window_info() { WINDOW_INFO=$(probe window || true); }
field() { echo "$WINDOW_INFO" | sed -n "s/^$1=//p"; }
main_visible() { window_info; [ "$(field visible)" = 1 ]; }
main_hidden() { window_info; [ "$(field found)" = 1 ] && [ "$(field visible)" = 0 ]; }
popup_open() { [ "$(probe popups | cut -d' ' -f1)" -gt 0 ] 2>/dev/null; }
popup_closed() { [ "$(probe popups | cut -d' ' -f1)" = 0 ]; }

# The icon Wine docks into trayer: a small explorer.exe window inside the panel at the top.
wine_tray_icon() {
    xwininfo -root -tree 2>/dev/null |
        awk '/\("explorer.exe" "explorer.exe"\)/ {
                 n = split($0, f, " "); size = f[n - 1]; abs = f[n];
                 split(size, s, "x"); split(abs, a, "+");
                 if (s[1] >= 16 && s[1] <= 48 && s[2] >= 16 && s[2] <= 48 && a[3] < 24) {
                     print $1; exit } }'
}
icon_docked() { [ -n "$(wine_tray_icon)" ]; }
# What the tray holds, for a failure's message.
tray_tree() { xwininfo -root -tree 2>/dev/null | grep -A6 '"panel"' | tr -s ' ' | tr '\n' ';'; }
# Ends this run's trayer and waits for it, so that the next run's tray starts on a free
# display.
stop_trayer() {
    [ -n "${TRAYER_PID:-}" ] || return 0
    signal_own TERM "$TRAYER_PID"
    wait_for 5 dead "$TRAYER_PID" || signal_own KILL "$TRAYER_PID"
}
icon_gone() { [ -z "$(wine_tray_icon)" ]; }

# The window at the work area's bottom right corner, the frame included.
at_corner() {
    window_info
    local outer area
    IFS=, read -r _ _ or ob <<<"$(field outer)"
    IFS=, read -r _ _ ar ab <<<"$(field workarea)"
    [ "$or" = "$ar" ] && [ "$ob" = "$ab" ]
}

# start_program EXE: KORAVEX_PID is the Wine process running it, once its window shows.
start_program() {
    "$WINE" "$1" &
    KORAVEX_PID=$!
    wait_for 60 main_visible || fail "the window did not appear"
}

# hide_by_menu ICON: Hide (the menu's second item) through the tray menu, until the window is
# hidden. Keys typed in the moment the menu maps can reach the window under it instead (Wine
# hands the menu the keyboard a little later on a loaded machine): then the menu is closed and
# opened again, and the retry is said.
hide_by_menu() {
    local try
    for try in 1 2 3; do
        open_menu "$1"
        xdotool key Down Down Return
        wait_for 5 main_hidden && return 0
        note "Hide did not take (try $try): the menu opened again"
        if popup_open; then
            xdotool key Escape
            wait_for 5 popup_closed || true
        fi
    done
    fail "Hide did not hide"
}

# close_by_menu ICON: Close (the menu's last item) through the tray menu, with the same retry;
# then the program's end is awaited with expect_clean_exit.
close_by_menu() {
    local try
    for try in 1 2 3; do
        open_menu "$1"
        xdotool key Up Return
        wait_for 5 dead "$KORAVEX_PID" && return 0
        note "Close did not take (try $try): the menu opened again"
        if popup_open; then
            xdotool key Escape
            wait_for 5 popup_closed || true
        fi
    done
}

# open_menu ICON: a right click on the icon until the menu is open.
open_menu() {
    local try
    for try in 1 2 3; do
        xdotool mousemove --window "$1" 10 10 click 3
        wait_for 5 popup_open && return 0
    done
    fail "no menu on right click"
}
