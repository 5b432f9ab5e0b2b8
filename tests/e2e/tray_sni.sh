#!/usr/bin/env bash
# The program with a StatusNotifierItem host (the test host on the private session bus):
# the item registers, the host's activation shows the window, the exported menu works.
# Usage: tray_sni.sh KORAVEX SNI_HOST INSTANCE_PEER
KORAVEX=$1
HOST=$2
PEER=$3
source "$(dirname "$0")/lib.sh"
skip_if_instance_running "$PEER"

DIR=$(mktemp -d)
"$HOST" serve "$DIR" watcher notifications &
cleanup_pids+=($!)
wait_for 5 test -e "$DIR/ready" || fail "the test host did not start"

start_koravex
cleanup_pids+=("$KORAVEX_PID")

note "the item registers with the host"
wait_for 5 test -s "$DIR/items" || fail "no item registered"
[ "$(wc -l <"$DIR/items")" -eq 1 ] || fail "more than one item: $(cat "$DIR/items")"

note "the menu's Hide hides the window"
"$HOST" menu Hide || fail "menu Hide failed"
wait_for 3 is_unmapped "$MAIN" || fail "Hide did not hide"

note "the host's activation (left click) shows the window"
"$HOST" activate || fail "Activate failed"
wait_for 3 is_viewable "$MAIN" || fail "activation did not show"

note "Hide, then the menu's Details shows"
"$HOST" menu Hide
wait_for 3 is_unmapped "$MAIN" || fail "Hide did not hide"
"$HOST" menu Details
wait_for 3 is_viewable "$MAIN" || fail "Details did not show"

note "the menu's Close ends the program with 0"
"$HOST" menu Close || true   # the reply may be lost as the program ends
wait_for 5 dead "$KORAVEX_PID" || fail "Close did not end the program"
rc=0
wait "$KORAVEX_PID" || rc=$?
[ "$rc" -eq 0 ] || fail "exit code $rc"
[ ! -s "$DIR/notify.log" ] || fail "unexpected notifications: $(cat "$DIR/notify.log")"
rm -rf "$DIR"
echo "PASS"
