#!/usr/bin/env bash
# Faults of the session around the program, each on the real program: a session bus that
# accepts and never answers, a bus daemon stopped (SIGSTOP) while a StatusNotifierItem host
# holds the icon, a stopped X server, too few descriptors (ulimit -n 12, 20, 28, 40), and a
# quit signal at several moments of the start. Each case checks what the user sees (the
# window up, or one line and exit 1) and that SIGTERM ends the program within one second
# with exit code 0. Prints what each wait cost.
# Usage: session_faults.sh KORAVEX SNI_HOST INSTANCE_PEER X_CLOSE
KORAVEX=$1
HOST=$2
PEER=$3
X_CLOSE=$4
source "$(dirname "$0")/lib.sh"
skip_if_instance_running "$PEER"

work=$(mktemp -d)
XPID=$(cat "/tmp/.X${DISPLAY#:}-lock" | tr -d ' ')
DAEMON=""
finish() {
    kill -CONT "$XPID" 2>/dev/null || true
    [ -z "$DAEMON" ] || { signal_own CONT "$DAEMON_ID"; signal_own TERM "$DAEMON_ID"; }
    cleanup
    rm -rf "$work"
}
trap finish EXIT

# launch [ENV=VALUE...]: starts the program (stderr to $work/err); sets KORAVEX_PID, T0.
launch() {
    : >"$work/err"
    T0=$(now_ms)
    env "$@" "$KORAVEX" 2>"$work/err" &
    KORAVEX_PID=$!
    cleanup_pids+=("$KORAVEX_PID")
}
# window_up LABEL: waits for the window; notes how long the start took.
window_up() {
    wait_for 20 main_window_viewable || fail "$1: the window did not appear ($(cat "$work/err"))"
    MAIN=$(main_window)
    note "$1: window up $(($(now_ms) - T0)) ms after the start"
}
# The quit signals are never left held: none of SIGHUP, SIGINT, SIGTERM in SigBlk.
signals_open() {
    local blocked
    blocked=$(awk '/^SigBlk:/ { print $2 }' "/proc/$KORAVEX_PID/status")
    [ $((0x$blocked & 0x4003)) -eq 0 ] || fail "$1: quit signals held (SigBlk $blocked)"
}
# sigterm_ends LABEL: SIGTERM ends the program within 1 s with exit code 0.
sigterm_ends() {
    local t0 took rc=0
    alive "$KORAVEX_PID" || fail "$1: the program ended by itself ($(cat "$work/err"))"
    t0=$(now_ms)
    kill -TERM "$KORAVEX_PID"
    # A second quit signal, during the teardown, changes nothing.
    [ -z "${SECOND_SIGNAL:-}" ] || kill -"$SECOND_SIGNAL" "$KORAVEX_PID" 2>/dev/null || true
    gone_within 1000 "$KORAVEX_PID" || fail "$1: SIGTERM did not end the program within 1 s"
    took=$(($(now_ms) - t0))
    wait "$KORAVEX_PID" || rc=$?
    [ "$rc" -eq 0 ] || fail "$1: exit code $rc after SIGTERM"
    note "$1: SIGTERM ended the program in $took ms with exit code 0"
}
# greet_ms: how long the running program's event loop takes to greet a second start (what
# the window's thread is held up by, at most).
greet_ms() {
    local t0
    t0=$(now_ms)
    "$PEER" greet "$(instance_socket)" >/dev/null || fail "no greeting from the program"
    echo $(($(now_ms) - t0))
}

# A socket that takes connections and never reads them: a bus whose daemon hangs.
silent_bus() {
    python3 -c '
import socket, sys
s = socket.socket(socket.AF_UNIX)
s.bind(sys.argv[1]); s.listen(16)
open(sys.argv[2], "w").close()
held = []
while True:
    c, _ = s.accept(); held.append(c)
    with open(sys.argv[2], "a") as f: f.write("accepted\n")
' "$1" "$2" &
    cleanup_pids+=($!)
    wait_for 5 test -e "$2" || fail "the silent bus did not start"
}

note "a healthy start, for comparison"
launch
window_up "healthy"
greet_ms >/dev/null
note "healthy: a greeting took $(greet_ms) ms"
sigterm_ends "healthy"

note "a session bus that accepts and never answers"
silent_bus "$work/silent.sock" "$work/silent.log"
start_trayer
cleanup_pids+=("$TRAYER_PID")
launch DBUS_SESSION_BUS_ADDRESS="unix:path=$work/silent.sock"
window_up "silent bus"
grep -q "the session bus does not answer" "$work/err" || fail "no line about the bus: $(cat "$work/err")"
wait_for 5 icon_docked || fail "silent bus: no XEmbed tray icon"
signals_open "silent bus"
note "silent bus: a greeting took $(greet_ms) ms; stderr: $(head -c 300 "$work/err")"
sigterm_ends "silent bus"

note "a quit signal at moments of the start (the silent bus again)"
# main has run its first line: the program holds or catches SIGTERM (bit 15).
moment_main() {
    local blk cgt
    [ "$(readlink "/proc/$KORAVEX_PID/exe")" = "$(readlink -f "$KORAVEX")" ] || return 1
    blk=$(awk '/^SigBlk:/ { print $2 }' "/proc/$KORAVEX_PID/status" 2>/dev/null)
    cgt=$(awk '/^SigCgt:/ { print $2 }' "/proc/$KORAVEX_PID/status" 2>/dev/null)
    [ -n "$blk" ] && [ -n "$cgt" ] && [ $(((0x$blk | 0x$cgt) & 0x4000)) -ne 0 ]
}
moment_bus() { [ "$(grep -c accepted "$work/silent.log")" -gt "$accepted_before" ]; }
moment_instance() { test -S "$(instance_socket)"; }
for moment in main bus instance window; do
    accepted_before=$(grep -c accepted "$work/silent.log" || true)
    rm -f "$(instance_socket)"  # left by a program the deadline ended
    launch DBUS_SESSION_BUS_ADDRESS="unix:path=$work/silent.sock"
    case $moment in
    main) wait_for 10 moment_main || fail "main never started" ;;
    bus) wait_for 10 moment_bus || fail "the bus was never asked" ;;
    instance) wait_for 10 moment_instance || fail "the instance socket never appeared" ;;
    window) wait_for 20 main_window_viewable || fail "the window did not appear" ;;
    esac
    sigterm_ends "SIGTERM once $moment is reached"
done

note "a bus daemon stopped while a StatusNotifierItem host holds the icon"
read -r bus_address DAEMON < <(dbus-daemon --config-file="$KORAVEX_BUS_CONFIG" --fork \
    --print-address=1 --print-pid=1 | paste -s -d ' ')
[ -n "$DAEMON" ] || fail "no second bus daemon"
DAEMON_ID=$DAEMON@$(pid_start "$DAEMON") # it forked itself away: no child of this shell
DBUS_SESSION_BUS_ADDRESS=$bus_address "$HOST" serve "$work" watcher &
cleanup_pids+=($!)
wait_for 5 test -e "$work/ready" || fail "the tray host did not start"
kill "$TRAYER_PID"
launch DBUS_SESSION_BUS_ADDRESS="$bus_address"
window_up "stopped bus"
wait_for 5 test -s "$work/items" || fail "stopped bus: the item never registered"
kill -STOP "$DAEMON"
note "stopped bus: a greeting took $(greet_ms) ms with the daemon stopped"
t0=$(now_ms)
"$X_CLOSE" "$MAIN" || fail "the window manager's close failed"
wait_for 3 is_unmapped "$MAIN" || fail "stopped bus: closing did not hide the window"
note "stopped bus: closing hid the window in $(($(now_ms) - t0)) ms"
t0=$(now_ms)
"$PEER" greet "$(instance_socket)" activate >/dev/null || fail "no greeting"
wait_for 3 is_viewable "$MAIN" || fail "stopped bus: a second start did not show the window"
note "stopped bus: a second start showed the window in $(($(now_ms) - t0)) ms"
signals_open "stopped bus"
sigterm_ends "stopped bus"

note "a bus daemon already stopped when the program starts (its queue takes the connection)"
launch DBUS_SESSION_BUS_ADDRESS="$bus_address"
window_up "stopped before the start"
grep -q "the session bus does not answer" "$work/err" || fail "no line about the bus: $(cat "$work/err")"
sigterm_ends "stopped before the start"
kill -CONT "$DAEMON"

note "a stopped X server"
launch
window_up "stopped X"
kill -STOP "$XPID"
t0=$(now_ms)
if timeout 2 "$PEER" greet "$(instance_socket)" >/dev/null; then
    note "stopped X: a greeting took $(($(now_ms) - t0)) ms with the X server stopped"
else
    note "stopped X: no greeting within 2 s (the window's thread waits for the X server)"
fi
SECOND_SIGNAL=HUP sigterm_ends "stopped X"
kill -CONT "$XPID"
wait_for 5 xdpyinfo >/dev/null 2>&1 || fail "the X server did not come back"

note "too few descriptors"
for n in 12 20 28 40; do
    : >"$work/err"
    T0=$(now_ms)
    (ulimit -n "$n" && exec "$KORAVEX") 2>"$work/err" &
    KORAVEX_PID=$!
    cleanup_pids+=("$KORAVEX_PID")
    window_or_end() { main_window_viewable || dead "$KORAVEX_PID"; }
    wait_for 20 window_or_end || fail "ulimit -n $n: neither a window nor an end"
    if dead "$KORAVEX_PID"; then
        rc=0
        wait "$KORAVEX_PID" || rc=$?
        [ "$rc" -eq 1 ] || fail "ulimit -n $n: exit code $rc ($(cat "$work/err"))"
        [ "$(wc -l <"$work/err")" -eq 1 ] && grep -q '^koravex: ' "$work/err" ||
            fail "ulimit -n $n: not one line: $(cat "$work/err")"
        note "ulimit -n $n: exit 1 after $(($(now_ms) - T0)) ms: $(cat "$work/err")"
        continue
    fi
    note "ulimit -n $n: window up $(($(now_ms) - T0)) ms after the start"
    signals_open "ulimit -n $n"
    sigterm_ends "ulimit -n $n"
done
echo "PASS: session_faults"
