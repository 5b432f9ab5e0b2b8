#!/usr/bin/env bash
# The whole program, built with AddressSanitizer, LeakSanitizer and UBSan, for two minutes at
# a 100 ms interval in an XEmbed tray, used as a user would: every tab in turn, the interval
# typed, the unit track bar moved, the alert switched off and on, a threshold typed, a low
# drive (a 2 MB tmpfs, root only) ticked so that a balloon comes at every refresh, the drive
# list's view switched, another drive picked in the selector, the window hidden by a close
# request and shown again by a second start. Then the tray menu's Close: the program must
# end with 0 and no sanitizer may have written a report (log_path into a scratch directory;
# a report from the second starts counts too).
# Usage: endurance_asan.sh KORAVEX X_CLOSE INSTANCE_PEER [SECONDS]   (default 120)
KORAVEX=$1
X_CLOSE=$2
PEER=$3
RUN_SECONDS=${4:-120}
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/endurance_lib.sh"
skip_if_instance_running "$PEER"

REPORTS=$(mktemp -d)
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=1:log_path=$REPORTS/asan"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:+$UBSAN_OPTIONS:}print_stacktrace=1:log_path=$REPORTS/ubsan"
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$(cd "$(dirname "$0")/.." && pwd)/lsan.supp:print_suppressions=0}
finish() {
    unmount_low_drive
    cleanup
}
trap finish EXIT

low_drive=no
if [ "$(id -u)" -eq 0 ] && mount_low_drive; then
    low_drive=yes
else
    note "not root: no low drive is mounted and ticked (that part is skipped)"
fi

start_trayer
cleanup_pids+=("$TRAYER_PID")
start_koravex
cleanup_pids+=("$KORAVEX_PID")
wait_for 5 icon_docked || fail "no tray icon"

note "settings: interval 100 ms typed, the alert on, threshold typed, the low drive ticked"
# Counted on the memory tab, where each refresh reads /proc: ten of them in a second read far
# more than at most one.
before=$(bytes_read "$KORAVEX_PID")
sleep 1
slow=$(($(bytes_read "$KORAVEX_PID") - before))
switch_tab 3
set_interval 100
switch_tab 0
sleep 0.3
before=$(bytes_read "$KORAVEX_PID")
sleep 1
fast=$(($(bytes_read "$KORAVEX_PID") - before))
[ "$fast" -gt $((5 * slow + 1000)) ] || fail "no faster refresh after typing 100 ($slow -> $fast bytes/s)"
switch_tab 3
toggle_alert
sleep 0.2
set_threshold 150
if [ "$low_drive" = yes ]; then
    tick_last_drive
    wait_for 5 balloon_shown || fail "no balloon for the ticked low drive"
fi

note "driving it for $RUN_SECONDS s"
deadline=$((SECONDS + RUN_SECONDS))
rounds=0
alert_on=1
while [ "$SECONDS" -lt "$deadline" ]; do
    rounds=$((rounds + 1))
    # Every tab in turn; each shows something else.
    sums=()
    for tab in 0 1 2 3 4; do
        switch_tab "$tab"
        sleep 0.2
        sums+=("$(window_sum)")
    done
    [ "$(printf '%s\n' "${sums[@]}" | sort -u | wc -l)" -eq 5 ] ||
        fail "round $rounds: the five tabs did not show five different pictures"

    switch_tab 1
    pick_next_drive
    sleep 0.3

    switch_tab 3
    set_unit $((rounds % 2 == 1 ? 2 : 1))
    sleep 0.3
    toggle_list_view
    toggle_list_view
    if [ "$low_drive" = yes ]; then
        tick_last_drive # off
        tick_last_drive # on again
    fi
    toggle_alert
    alert_on=$((1 - alert_on))
    sleep 0.3
    if [ "$alert_on" -eq 1 ]; then
        set_threshold $((100 + rounds))
        sleep 0.3
    fi
    set_interval 100
    sleep 0.3

    "$X_CLOSE" "$MAIN"
    wait_for 3 is_unmapped "$MAIN" || fail "round $rounds: close request did not hide"
    sleep 0.5
    "$KORAVEX" || fail "round $rounds: the second start failed"
    wait_for 5 is_viewable "$MAIN" || fail "round $rounds: the second start did not show"
    alive "$KORAVEX_PID" || fail "round $rounds: the program ended"
done
note "$rounds rounds"
if [ "$low_drive" = yes ] && [ "$alert_on" -eq 1 ]; then
    wait_for 5 balloon_shown || fail "no balloon at the end"
fi

note "Close in the tray menu ends the program with 0"
tray_menu Up Return
wait_for 30 dead "$KORAVEX_PID" || fail "Close did not end the program"
rc=0
wait "$KORAVEX_PID" || rc=$?
reports=$(find "$REPORTS" -type f)
if [ -n "$reports" ]; then
    for r in $reports; do
        echo "== $r" >&2
        head -n 60 "$r" >&2
    done
    fail "sanitizer reports: $(echo "$reports" | wc -l)"
fi
[ "$rc" -eq 0 ] || fail "exit code $rc"
rm -rf "$REPORTS"
echo "PASS"
