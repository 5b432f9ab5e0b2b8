#!/usr/bin/env bash
# koravex.exe under Wine asked to end by other programs and by the session: WM_CLOSE to the
# tray record's window (as taskkill without /F and installers send it), the session's end
# (WM_QUERYENDSESSION, then WM_ENDSESSION), taskkill itself. Each ends the program with exit
# code 0 and its icon deleted; WM_CLOSE to the main window only hides it, and a session end
# that another program refused leaves the program running.
# A quit ends the process within 500 ms whatever its clean path does. Under Wine on a display
# without a window manager, hiding a shown window waits 2 s for the manager's answer: a quit
# with the window shown is ended by that deadline (the trace's line "quit deadline"), one
# with the window hidden ends cleanly.
# Usage: end_requests_windows.sh ZIP PROBE   (on a virtual display: tests/e2e/run_display.sh)
ZIP=$(realpath "$1")
PROBE=$(realpath "$2")
here=$(dirname "$(realpath "$0")")
source "$here/../e2e/lib.sh"
source "$here/wine_lib.sh"

start_wine_prefix
trap 'cleanup; stop_trayer; end_wine_prefix' EXIT
start_trayer
cleanup_pids+=("$TRAYER_PID")

unzip -q "$ZIP" -d "$WINEPREFIX/drive_c"
EXE="C:\\$(basename "$ZIP" .zip)\\koravex.exe"
export KORAVEX_TRAY_TRACE=$WINEPREFIX/tray-trace.txt

# start: the program, its window up and its icon docked, with a fresh trace.
start() {
    : > "$KORAVEX_TRAY_TRACE"
    start_program "$EXE"
    cleanup_pids+=("$KORAVEX_PID")
    wait_for 10 icon_docked || fail "no tray icon: $(tray_tree)"
}
icon_deleted() { grep -q '^op=2 result=1 size=952 id=1 flags=0x0 ' "$KORAVEX_TRAY_TRACE"; }
by_deadline() { grep -qx 'quit deadline' "$KORAVEX_TRAY_TRACE"; }
# tell WINDOW WHAT: the probe's request; TOLD holds its answer.
tell() {
    TOLD=$(probe tell "$1" "$2") || fail "tell $1 $2: $TOLD"
    echo "$TOLD" | grep -q '^found=1' || fail "tell $1 $2: $TOLD"
}
taskkill() {
    "$WINE" taskkill /PID "$1" >/dev/null 2>&1 || fail "taskkill /PID $1 failed"
}
# request HOW END COMMAND...: runs the command that asks the program to end; then the program
# ends with exit code 0 within 10 s, with the icon deleted and gone from the tray, cleanly
# (END clean), by the deadline (END deadline) or either way (END any). The time to the end is reported from the
# start and from the end of the asking command.
request() {
    local how=$1 end=$2 before after now rc=0 ended=clean
    shift 2
    before=$(date +%s%N)
    "$@"
    after=$(date +%s%N)
    wait_for 10 dead "$KORAVEX_PID" ||
        fail "$how did not end the program; trace: $(cat "$KORAVEX_TRAY_TRACE")"
    now=$(date +%s%N)
    wait "$KORAVEX_PID" || rc=$?
    [ "$rc" -eq 0 ] || fail "$how: exit code $rc"
    by_deadline && ended=deadline
    echo "   $how: ended ($ended) $(((now - before) / 1000000)) ms after the request was" \
         "begun, $(((now - after) / 1000000)) ms after it was made"
    icon_deleted || fail "$how: no NIM_DELETE; trace: $(cat "$KORAVEX_TRAY_TRACE")"
    echo "   the shell took $(sed -n 's/^op=2 .* ms=//p' "$KORAVEX_TRAY_TRACE") ms for NIM_DELETE"
    [ "$end" = any ] || [ "$ended" = "$end" ] || fail "$how: ended $ended, not $end; trace: $(cat "$KORAVEX_TRAY_TRACE")"
    wait_for 10 icon_gone || fail "$how: the icon stayed in the tray: $(tray_tree)"
}

note "WM_CLOSE to the main window only hides it"
start
tell main close
wait_for 5 main_hidden || fail "WM_CLOSE did not hide the main window"
alive "$KORAVEX_PID" || fail "the process ended on the main window's WM_CLOSE"

note "WM_QUERYENDSESSION is answered TRUE; a refused end leaves the program running"
tell tray queryend
[ "$(echo "$TOLD" | sed -n 's/^answer=//p')" = 1 ] || fail "WM_QUERYENDSESSION answer: $TOLD"
tell tray endsession-refused
# A second start shows the window only through a running event loop.
"$WINE" "$EXE" || fail "second start failed"
wait_for 5 main_visible || fail "the program no longer answers after a refused session end"
alive "$KORAVEX_PID" || fail "the process ended on a refused session end"
! icon_deleted || fail "the icon was deleted: $(cat "$KORAVEX_TRAY_TRACE")"

note "WM_CLOSE to the tray record's window, the window hidden: a clean end"
tell main close
wait_for 5 main_hidden || fail "WM_CLOSE did not hide the main window"
# Answered only once the program's thread is back in its event loop, past the hiding.
tell tray queryend
request "WM_CLOSE to the tray window" clean tell tray close

note "the session's end, the window shown: WM_QUERYENDSESSION, then WM_ENDSESSION TRUE"
start
tell tray queryend
[ "$(echo "$TOLD" | sed -n 's/^answer=//p')" = 1 ] || fail "WM_QUERYENDSESSION answer: $TOLD"
alive "$KORAVEX_PID" || fail "the process ended on WM_QUERYENDSESSION"
request "WM_ENDSESSION" deadline tell tray endsession

note "taskkill without /F: WM_CLOSE to every window of the program"
start
window_info
# Clean when the main window's WM_CLOSE came first and hid it, else by the deadline.
request "taskkill" any taskkill "$(field pid)"
note "PASS"
