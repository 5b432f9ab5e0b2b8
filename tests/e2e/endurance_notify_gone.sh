#!/usr/bin/env bash
# The desktop's notification service goes away while a ticked low drive (a 2 MB tmpfs, root
# only) raises the alert at every refresh. The warning falls back as the program promises:
# with no tray and no service left it shows the caption "not" (which then stays); a tray that
# appears later takes the warnings again.
#   notifications  a notification service alone (the test host), no tray at start: after it
#                  is killed the caption reads "not"; a trayer started then docks the icon
#                  and shows the balloon.
#   sni            a StatusNotifierItem host with a notification service (the test host):
#                  after it is killed the caption reads "not"; when it is back the item
#                  registers again, the warnings reach it and its menu works.
# Usage: endurance_notify_gone.sh KIND KORAVEX SNI_HOST INSTANCE_PEER
KIND=$1
KORAVEX=$2
HOST=$3
PEER=$4
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/endurance_lib.sh"
skip_if_instance_running "$PEER"
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

start_host() {
    rm -f "$DIR/ready"
    "$HOST" serve "$DIR" "$@" &
    HOST_PID=$!
    cleanup_pids+=("$HOST_PID")
    wait_for 5 test -e "$DIR/ready" || fail "the test host did not start"
}
notified() { [ -f "$DIR/notify.log" ] && wc -l <"$DIR/notify.log"; }
notified_more_than() { [ "$(notified)" -gt "$1" ]; }
caption_is() { [ "$(caption)" = "$1" ]; }

case "$KIND" in
    notifications) start_host notifications ;;
    sni) start_host watcher notifications ;;
    *) fail "unknown kind $KIND" ;;
esac
start_koravex
cleanup_pids+=("$KORAVEX_PID")

note "the alert armed: interval 200 ms, the alert on, the low drive ticked"
switch_tab 3
set_interval 200
toggle_alert
sleep 0.3
tick_last_drive
wait_for 10 notified_more_than 2 || fail "no warnings reached the notification service"
caption_is Koravex || fail "caption $(caption) while the service answers"

note "the service killed: the caption reads \"not\", the program goes on"
kill "$HOST_PID"
wait "$HOST_PID" 2>/dev/null || true
wait_for 10 caption_is not || fail "caption $(caption) with nobody to warn"
switch_tab 0 # the memory tab: each refresh reads /proc, which tells that it ran
before=$(bytes_read "$KORAVEX_PID")
wait_for 10 read_since "$KORAVEX_PID" "$before" || fail "refreshing stopped"

case "$KIND" in
    notifications)
        note "a tray appears: the icon docks and shows the balloon"
        start_trayer
        cleanup_pids+=("$TRAYER_PID")
        wait_for 10 icon_docked || fail "the icon did not dock in the new tray: $(tray_windows)"
        wait_for 5 balloon_shown || fail "no balloon in the new tray"
        ;;
    sni)
        note "the host is back: the item registers again and gets the warnings"
        rm -f "$DIR/items"
        start_host watcher notifications
        wait_for 10 test -s "$DIR/items" || fail "the item did not register again"
        count=$(notified)
        wait_for 10 notified_more_than "$count" || fail "no warnings after the host came back"
        "$HOST" menu Hide || fail "menu Hide failed"
        wait_for 3 is_unmapped "$MAIN" || fail "Hide did not hide"
        "$HOST" activate || fail "Activate failed"
        wait_for 3 is_viewable "$MAIN" || fail "activation did not show"
        ;;
esac
caption_is not || fail "the caption \"not\" did not stay: $(caption)"

note "Close ends the program with 0"
if [ "$KIND" = sni ]; then
    "$HOST" menu Close || true # the reply may be lost as the program ends
else
    tray_menu Up Return
fi
expect_clean_exit "$KORAVEX_PID"
echo "PASS"
