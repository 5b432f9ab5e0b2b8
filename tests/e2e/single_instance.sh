#!/usr/bin/env bash
# One instance per user: hand-over to a hidden and to a visible first instance, a start after
# kill -9, ten starts at once, and a process of another user that tries to activate it.
# Usage: single_instance.sh KORAVEX INSTANCE_PEER X_CLOSE
KORAVEX=$1
PEER=$2
X_CLOSE=$3
source "$(dirname "$0")/lib.sh"
skip_if_instance_running "$PEER"

start_trayer
cleanup_pids+=("$TRAYER_PID")
start_koravex
cleanup_pids+=("$KORAVEX_PID")
NAME="TarquelKoravex-$(id -u)"

# second_start: runs a second start, which must end with 0 within a second.
second_start() {
    local start=$(date +%s%N) rc=0
    timeout 5 "$KORAVEX" || rc=$?
    local ms=$((($(date +%s%N) - start) / 1000000))
    [ "$rc" -eq 0 ] || fail "second start ended with $rc"
    [ "$ms" -lt 1000 ] || fail "second start took $ms ms"
    note "second start ended 0 after $ms ms"
}

note "a second start shows the hidden first instance"
"$X_CLOSE" "$MAIN"
wait_for 3 is_unmapped "$MAIN" || fail "could not hide"
second_start
wait_for 3 is_viewable "$MAIN" || fail "the hidden window was not shown"
alive "$KORAVEX_PID" || fail "the first instance ended"

note "a second start brings a covered visible window to the front"
read -r x y < <(bottom_right "$MAIN")
xmessage -geometry "500x400+$((x - 450))+$((y - 350))" cover >/dev/null 2>&1 &
COVER_PID=$!
cleanup_pids+=("$COVER_PID")
wait_for 5 sh -c 'xwininfo -root -children | grep -q "(\"xmessage\""' || fail "no cover window"
COVER=$(xwininfo -root -children | awk '/\("xmessage"/ { print $1; exit }')
wait_for 3 stacked_above "$COVER" "$MAIN" || fail "the cover is not on top"
second_start
wait_for 3 stacked_above "$MAIN" "$COVER" || fail "the window was not raised"
kill "$COVER_PID"

note "another user cannot activate the instance"
"$X_CLOSE" "$MAIN"
wait_for 3 is_unmapped "$MAIN" || fail "could not hide"
if [ "$(id -u)" -eq 0 ]; then
    rc=0
    setpriv --reuid 65534 --regid 65534 --clear-groups "$PEER" "$NAME" activate raise || rc=$?
    [ "$rc" -eq 3 ] || fail "a peer of another uid got rc $rc (3 = dropped unanswered)"
    sleep 0.5
    is_unmapped "$MAIN" || fail "a process of another user showed the window"
    # The same request from this user is answered and obeyed.
    "$PEER" "$NAME" activate raise | grep -q '^instance TForm1 0 ' || fail "own user not greeted"
    wait_for 3 is_viewable "$MAIN" || fail "own user's activate ignored"
else
    echo "SKIP: not root, cannot run a process as another user"
fi

note "malformed requests are ignored"
"$X_CLOSE" "$MAIN"
wait_for 3 is_unmapped "$MAIN" || fail "could not hide"
"$PEER" "$NAME" "ACTIVATE" "activate now" "$(head -c 300 /dev/zero | tr '\0' x)" >/dev/null
sleep 0.5
is_unmapped "$MAIN" || fail "a malformed request showed the window"
alive "$KORAVEX_PID" || fail "a malformed request ended the instance"

note "after kill -9 a new start runs as the first instance"
kill -9 "$KORAVEX_PID"
wait "$KORAVEX_PID" 2>/dev/null || true
start_koravex
cleanup_pids+=("$KORAVEX_PID")
sleep 1.5
alive "$KORAVEX_PID" || fail "the start after kill -9 did not stay"

note "ten starts at once leave exactly one instance"
kill "$KORAVEX_PID"
wait "$KORAVEX_PID" 2>/dev/null || true
pids=()
for _ in $(seq 10); do
    "$KORAVEX" &
    pids+=($!)
done
cleanup_pids+=("${pids[@]}")
count_alive() {
    local n=0 p
    for p in "${pids[@]}"; do
        alive "$p" && n=$((n + 1))
    done
    echo "$n"
}
# The losers end within a second of finding the name taken; give slow machines room.
at_most_one_alive() { [ "$(count_alive)" -le 1 ]; }
wait_for 20 at_most_one_alive || fail "$(count_alive) instances still run"
sleep 1
running=0
for p in "${pids[@]}"; do
    if alive "$p"; then
        running=$((running + 1))
    else
        rc=0
        wait "$p" || rc=$?
        [ "$rc" -eq 0 ] || fail "a losing start ended with $rc"
    fi
done
[ "$running" -eq 1 ] || fail "$running instances run"
for p in "${pids[@]}"; do
    kill "$p" 2>/dev/null || true
    wait "$p" 2>/dev/null || true
done

note "a start of an upgraded executable still finds the running instance"
BIN_DIR=$(mktemp -d)
cp "$KORAVEX" "$BIN_DIR/koravex"
KORAVEX=$BIN_DIR/koravex
start_koravex
cleanup_pids+=("$KORAVEX_PID")
"$X_CLOSE" "$MAIN"
wait_for 3 is_unmapped "$MAIN" || fail "could not hide"
cp "$KORAVEX" "$BIN_DIR/koravex.new"
mv "$BIN_DIR/koravex.new" "$KORAVEX"   # the running file is now deleted
second_start
wait_for 3 is_viewable "$MAIN" || fail "the upgraded start did not show the window"
kill "$KORAVEX_PID"
wait "$KORAVEX_PID" 2>/dev/null || true
rm -rf "$BIN_DIR"
echo "PASS"
