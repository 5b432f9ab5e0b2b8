#!/usr/bin/env bash
# Another user cannot reach or block this user's instance. With no runtime directory set, a
# throw-away second user plants a link, a file and a directory of its own at /tmp/koravex-UID
# (with a fake instance behind the link that greets as ours), squats the abstract socket names
# and floods what it can reach, and tries to activate the instance. This user's first start
# must still show its window, and its second start must still hand over.
# Usage (as root, with a private /tmp): instance_other_user.sh KORAVEX INSTANCE_PEER X_CLOSE
KORAVEX=$1
PEER=$2
X_CLOSE=$3
source "$(dirname "$0")/lib.sh"

OTHER=kvx-squat-$$
useradd -M -d /nonexistent -s /usr/sbin/nologin "$OTHER"
remove_other() {
    cleanup
    wait 2>/dev/null || true
    userdel "$OTHER" || echo "userdel $OTHER failed" >&2
}
trap remove_other EXIT
AS_OTHER=(setpriv --reuid "$OTHER" --regid "$OTHER" --clear-groups)
as_other() { "${AS_OTHER[@]}" "$@"; }
install -m 755 "$PEER" /tmp/instance-peer
PEER=/tmp/instance-peer

unset XDG_RUNTIME_DIR
export HOME=$(mktemp -d)
PLANTED=/tmp/koravex-$(id -u)
FALLBACK=$HOME/.cache/koravex-$(hostname)
ERR=$(mktemp)

as_other mkdir -m 777 /tmp/theirs
touch /tmp/theirs/log /tmp/theirs/squat
"${AS_OTHER[@]}" "$PEER" fake /tmp/theirs/TarquelKoravex.socket /tmp/theirs/TarquelKoravex.lock \
    "$(readlink -f "$KORAVEX")" >/tmp/theirs/log &
cleanup_pids+=($!)
wait_for 5 grep -q listening /tmp/theirs/log || fail "the fake instance did not start"
names=()
for slot in "" -1 -2 -3; do names+=("TarquelKoravex-$(id -u)$slot"); done
"${AS_OTHER[@]}" "$PEER" squat-abstract "${names[@]}" >/tmp/theirs/squat &
cleanup_pids+=($!)
wait_for 5 grep -q squatting /tmp/theirs/squat || fail "could not squat the abstract names"

start_trayer
cleanup_pids+=("$TRAYER_PID")

second_start() {
    local rc=0
    timeout 5 "$KORAVEX" 2>>"$ERR" || rc=$?
    [ "$rc" -eq 0 ] || fail "second start ended with $rc"
}
# round KIND TEXT: plants KIND at /tmp/koravex-UID as the other user; a first start must show
# its window and say TEXT about the planted name, a second start must show the hidden window.
round() {
    local kind=$1 text=$2
    note "the other user plants a $kind at $PLANTED"
    rm -rf "$PLANTED"
    case $kind in
        link) as_other ln -s /tmp/theirs "$PLANTED" ;;
        file) as_other touch "$PLANTED" ;;
        directory) as_other mkdir -m 777 "$PLANTED" ;;
    esac
    : >"$ERR"
    start_koravex 2>>"$ERR"
    cleanup_pids+=("$KORAVEX_PID")
    grep -q "^koravex: $PLANTED $text; not using it" "$ERR" || fail "no clear note: $(cat "$ERR")"
    [ -S "$FALLBACK/TarquelKoravex.socket" ] || fail "no socket in $FALLBACK"
    "$X_CLOSE" "$MAIN"
    wait_for 3 is_unmapped "$MAIN" || fail "could not hide"

    note "the other user can neither greet, flood nor activate the instance"
    rc=0
    as_other "$PEER" greet "$FALLBACK/TarquelKoravex.socket" activate raise >/dev/null 2>&1 ||
        rc=$?
    [ "$rc" -eq 4 ] || fail "the other user reached the instance (rc $rc)"
    rc=0
    as_other "$PEER" flood "$FALLBACK/TarquelKoravex.socket" 500 0 >/dev/null 2>&1 || rc=$?
    [ "$rc" -eq 4 ] || fail "the other user's flood got through (rc $rc)"
    sleep 0.5
    is_unmapped "$MAIN" || fail "the other user showed the window"

    note "a second start still hands over"
    second_start
    wait_for 3 is_viewable "$MAIN" || fail "the hidden window was not shown"
    alive "$KORAVEX_PID" || fail "the first instance ended"
    ! grep -q '^got:' /tmp/theirs/log || fail "the fake instance was talked to"
    kill "$KORAVEX_PID"
    wait "$KORAVEX_PID" 2>/dev/null || true
}
round link "is a symbolic link"
round file "is not a directory"
round directory "belongs to user $(id -u "$OTHER")"
echo "PASS"
