#!/usr/bin/env bash
# The tray host (trayer) stopped and started again, twice, while the program runs at a 100 ms
# interval: it goes on refreshing while there is no tray, its icon docks in each new host by
# itself, and the icon's menu still works there (Hide, Details, Close with exit code 0).
# Usage: endurance_tray_host.sh KORAVEX INSTANCE_PEER
KORAVEX=$1
PEER=$2
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/endurance_lib.sh"
skip_if_instance_running "$PEER"

start_trayer
cleanup_pids+=("$TRAYER_PID")
start_koravex
cleanup_pids+=("$KORAVEX_PID")
switch_tab 3
set_interval 100
# The memory tab shown: each refresh reads /proc/meminfo, which tells that it ran.
switch_tab 0

# The icon docked in the running trayer: a window of the program inside trayer's panel.
panel() { xwininfo -root -tree 2>/dev/null | awk '/\("panel" "trayer"\)/ { print $1; exit }'; }
panel_gone() { [ -z "$(panel)" ]; }
docked() {
    local p
    p=$(panel)
    [ -n "$p" ] && xwininfo -id "$p" -tree 2>/dev/null | grep -q '("koravex" "koravex")  22x22'
}
wait_for 5 docked || fail "the icon did not dock at start"

for round in 1 2; do
    note "round $round: trayer stopped"
    kill "$TRAYER_PID"
    wait "$TRAYER_PID" 2>/dev/null || true
    wait_for 5 panel_gone || fail "trayer's panel stayed"
    before=$(bytes_read "$KORAVEX_PID")
    wait_for 10 read_since "$KORAVEX_PID" "$before" || fail "no refresh without a tray host"
    alive "$KORAVEX_PID" || fail "the program ended with the tray host"
    is_viewable "$MAIN" || fail "the window went away with the tray host"

    note "round $round: trayer started again; the icon docks in it"
    start_trayer
    cleanup_pids+=("$TRAYER_PID")
    wait_for 10 docked || fail "the icon did not come back"
    tray_menu Down Down Return # Details, Hide
    wait_for 3 is_unmapped "$MAIN" || fail "Hide in the new tray's menu did not hide"
    tray_menu Down Return # Details
    wait_for 3 is_viewable "$MAIN" || fail "Details in the new tray's menu did not show"
done

note "Close in the menu ends the program with 0"
tray_menu Up Return
expect_clean_exit "$KORAVEX_PID"
echo "PASS"
