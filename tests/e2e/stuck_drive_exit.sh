#!/usr/bin/env bash
# Ending always works, also with a drive that never answers: the program is started from
# inside a FUSE drive whose daemon took the statfs request and never answers (so that drive
# is the one shown), and SIGTERM, SIGINT and SIGHUP each end it within one second with exit
# code 0 and its tray icon removed, also while it starts; a new start then shows its window. koravex-snapshot ends
# within one second plus the drive budget on every drive letter, the stuck one included.
# Needs root and a mount namespace of its own (in_private_ns.sh); skips otherwise.
# Usage: stuck_drive_exit.sh KORAVEX SNAPSHOT STUCK_FUSE INSTANCE_PEER
KORAVEX=$1
SNAPSHOT=$2
STUCK_FUSE=$3
PEER=$4
source "$(dirname "$0")/lib.sh"
QUIT_MS=$(quit_limit_ms "$KORAVEX")
if [ "$(id -u)" -ne 0 ] || [ "${KORAVEX_PRIVATE_NS:-}" != 1 ] || [ ! -e /dev/fuse ]; then
    echo "SKIP: needs root, /dev/fuse and a mount namespace of its own"
    exit 77
fi
skip_if_instance_running "$PEER"


dir=$(mktemp -d /mnt/koravex-exit.XXXXXX)
point=$dir/never
mkdir -p "$point"
# Multi-threaded: the statfs it took stays unanswered, lookups (cd) are answered. Each
# statfs it takes is a line in $taken.
taken=$dir/taken
KORAVEX_FUSE_LOG=$taken "$STUCK_FUSE" -f -o fsname=koravex-never "$point" &
DAEMON=$!
finish() {
    cleanup
    signal_own CONT "$DAEMON"
    signal_own KILL "$DAEMON" # aborts the connection: stuck calls return
    wait "$DAEMON" 2>/dev/null || true
    umount -l "$point" 2>/dev/null || true
    rm -rf "$dir"
}
trap finish EXIT
wait_for 5 grep -q " $point " /proc/self/mountinfo || fail "the FUSE drive did not mount"

start_trayer
cleanup_pids+=("$TRAYER_PID")

questions() { [ -e "$taken" ] && wc -l <"$taken" || echo 0; }
asked_since_start() { [ "$(questions)" -gt "$asked_before" ]; }
start_in_stuck_drive() {
    asked_before=$(questions)
    (cd "$point" && exec "$KORAVEX" 2>>"$dir/stderr") &
    KORAVEX_PID=$!
    cleanup_pids+=("$KORAVEX_PID")
    local t0
    t0=$(now_ms)
    wait_for 15 main_window_viewable || fail "the window did not appear"
    note "window shown $(($(now_ms) - t0)) ms after the start (the shown drive never answers)"
    wait_for 5 icon_docked || fail "the tray icon did not dock"
    # The program's question is out to the drive and not answered: the signals below come
    # while a call on the drive is stuck.
    wait_for 3 asked_since_start || fail "the stuck drive was never asked"
}

for signal in TERM INT HUP; do
    start_in_stuck_drive
    sleep 2.5  # the drive's question is older than 2 s: shown as unreadable, still out
    alive "$KORAVEX_PID" || fail "the program ended by itself"
    t0=$(now_ms)
    kill -"$signal" "$KORAVEX_PID"
    gone_within "$QUIT_MS" "$KORAVEX_PID" ||
        fail "SIG$signal did not end the program within $QUIT_MS ms"
    took=$(($(now_ms) - t0))
    rc=0
    wait "$KORAVEX_PID" || rc=$?
    [ "$rc" -eq 0 ] || fail "SIG$signal: exit code $rc"
    [ -z "$(tray_icon)" ] || fail "SIG$signal: the tray icon stayed"
    [ -z "$(main_window)" ] || fail "SIG$signal: the window stayed"
    # The clean end, not the quit deadline: nothing in it waits for the stuck drive.
    ! grep -q 'did not finish in time' "$dir/stderr" ||
        fail "SIG$signal: the clean end did not finish; the quit deadline ended the program"
    note "SIG$signal ended the program in $took ms with exit code 0"
done

# A signal while the program starts (its drive list waiting for the stuck drive) is held
# until the program can end cleanly, and ends it all the same.
(cd "$point" && exec "$KORAVEX") &
KORAVEX_PID=$!
cleanup_pids+=("$KORAVEX_PID")
sleep 0.2
kill -TERM "$KORAVEX_PID"
gone_within "$QUIT_MS" "$KORAVEX_PID" ||
    fail "SIGTERM at start did not end the program within $QUIT_MS ms"
rc=0
wait "$KORAVEX_PID" || rc=$?
[ "$rc" -eq 0 ] || fail "SIGTERM at start: exit code $rc"
note "SIGTERM 0.2 s after the start ended the program with exit code 0"

# A new start after all that shows its window, and Close ends it as before.
start_in_stuck_drive
kill -TERM "$KORAVEX_PID"
expect_clean_exit "$KORAVEX_PID"

# koravex-snapshot: the stuck drive by the current directory, then every letter by --drive.
t0=$(now_ms)
out=$(cd "$point" && "$SNAPSHOT") || fail "koravex-snapshot failed in the stuck drive"
took=$(($(now_ms) - t0))
[ "$took" -le 1100 ] || fail "koravex-snapshot took $took ms in the stuck drive"
echo "$out" | grep -q "Не возможно определить" || fail "the stuck drive was not unreadable"
note "koravex-snapshot in the stuck drive: $took ms"
worst=0
for letter in C D E F G H I J K L M N O P Q R S T U V W X Y Z; do
    t0=$(now_ms)
    "$SNAPSHOT" --drive "$letter" >/dev/null || fail "koravex-snapshot --drive $letter failed"
    took=$(($(now_ms) - t0))
    [ "$took" -le 1100 ] || fail "koravex-snapshot --drive $letter took $took ms"
    [ "$took" -gt "$worst" ] && worst=$took
done
note "koravex-snapshot --drive C..Z: the slowest took $worst ms"
echo "PASS: stuck_drive_exit"
