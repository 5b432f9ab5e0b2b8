#!/usr/bin/env bash
# Faults of the drive launcher and of a drive's mount, on the real program showing its drives
# tab: the launcher at 3 descriptors when its helper is killed (it cannot make a new one), the
# launcher in a pids cgroup that allows no fork, the launcher killed with its helper, and a FUSE drive stuck in a call (its daemon stopped) that
# is lazily unmounted and mounted again. The shown drive is a FUSE drive that answers at once
# with fixed figures: "the figures are back" is the drives tab showing exactly the picture it
# showed before the fault. Each case prints how long a greeting (a second start, answered on
# the window's thread) took during the fault and checks that SIGTERM ends the program within
# 1 s with exit code 0. koravex-snapshot reads a tmpfs drive whose source is 4,090 bytes long.
# Needs root and a mount namespace of its own (in_private_ns.sh); skips otherwise.
# Usage: drive_faults.sh KORAVEX SNAPSHOT STUCK_FUSE INSTANCE_PEER
KORAVEX=$1
SNAPSHOT=$2
STUCK_FUSE=$3
PEER=$4
HERE=$(cd "$(dirname "$0")" && pwd)
source "$HERE/lib.sh"
source "$HERE/endurance_lib.sh"
QUIT_MS=$(quit_limit_ms "$KORAVEX")
if [ "$(id -u)" -ne 0 ] || [ "${KORAVEX_PRIVATE_NS:-}" != 1 ] || [ ! -e /dev/fuse ]; then
    echo "SKIP: needs root, /dev/fuse and a mount namespace of its own"
    exit 77
fi
command -v prlimit >/dev/null || fail "prlimit (util-linux) is missing"
skip_if_instance_running "$PEER"

children() { echo $(cat "/proc/$1/task/$1/children" 2>/dev/null); }
# Gone, or a zombie nobody reaped.
dead_or_zombie() { [ ! -e "/proc/$1" ] || [ "$(awk '{ print $3 }' "/proc/$1/stat" 2>/dev/null)" = Z ]; }

dir=$(mktemp -d /mnt/koravex-drive-faults.XXXXXX)
daemons=()
cleanup_groups=()
finish() {
    cleanup
    for g in "${cleanup_groups[@]}"; do
        while read -r p; do echo "$p" >/sys/fs/cgroup/pids/tasks; done <"$g/tasks" 2>/dev/null || true
        rmdir "$g" 2>/dev/null || true
    done
    for d in "${daemons[@]}"; do
        signal_own CONT "$d"
        signal_own KILL "$d" # aborts the connection: stuck calls return
    done
    for m in $(awk -v d="$dir" 'index($5, d) == 1 { print $5 }' /proc/self/mountinfo | sort -r); do
        umount -l "$m" 2>/dev/null || true
    done
    rm -rf "$dir"
}
trap finish EXIT

# mount_fuse POINT NAME: a FUSE drive named NAME at POINT whose statfs answers at once (with
# the same figures for every such drive), each statfs a line in POINT.log; DAEMON is its pid.
# Drives are told apart by name.
mount_fuse() {
    mkdir -p "$1"
    KORAVEX_FUSE_ANSWER=1 KORAVEX_FUSE_LOG="$1.log" "$STUCK_FUSE" -f -o "fsname=$2" "$1" &
    DAEMON=$!
    daemons+=("$DAEMON")
    wait_for 5 grep -q " $1 " /proc/self/mountinfo || fail "the FUSE drive did not mount at $1"
}

greet_ms() {
    local t0
    t0=$(now_ms)
    "$PEER" greet "$(instance_socket)" >/dev/null || fail "no greeting from the program"
    echo $(($(now_ms) - t0))
}
sigterm_ends() {
    local t0 took rc=0
    alive "$KORAVEX_PID" || fail "$1: the program ended by itself"
    t0=$(now_ms)
    kill -TERM "$KORAVEX_PID"
    gone_within "$QUIT_MS" "$KORAVEX_PID" ||
        fail "$1: SIGTERM did not end the program within $QUIT_MS ms"
    took=$(($(now_ms) - t0))
    wait "$KORAVEX_PID" || rc=$?
    [ "$rc" -eq 0 ] || fail "$1: exit code $rc after SIGTERM"
    note "$1: SIGTERM ended the program in $took ms with exit code 0"
}

# start_in POINT: the program started in the drive at POINT (so that drive is the one
# shown), refreshing every 500 ms, its drives tab shown; SHOWN is the tab's picture once the drive's figures are up
# and stay the same (two pictures a refresh apart alike); LAUNCHER and HELPER its processes.
start_in() {
    (cd "$1" && exec "$KORAVEX") &
    KORAVEX_PID=$!
    cleanup_pids+=("$KORAVEX_PID")
    wait_for 15 main_window_viewable || fail "the window did not appear"
    MAIN=$(main_window)
    switch_tab 3
    set_interval 500  # a refresh every half second
    switch_tab 1
    # Asked twice: the first answer came back, and the refresh after it shows it.
    asked_twice() { [ "$(wc -l <"$1.log" 2>/dev/null || echo 0)" -ge 2 ]; }
    wait_for 10 asked_twice "$1" || fail "the drive at $1 was not asked"
    local a b=""
    stable() {
        a=$(window_sum)
        [ "$a" = "$b" ] && return 0
        b=$a
        return 1
    }
    wait_for 10 stable || fail "the drives tab never settled"
    SHOWN=$a
    LAUNCHER=$(children "$KORAVEX_PID")
    [ "$(echo "$LAUNCHER" | wc -w)" -eq 1 ] || fail "not one launcher: '$LAUNCHER'"
    HELPER=$(children "$LAUNCHER")
    [ "$(echo "$HELPER" | wc -w)" -eq 1 ] || fail "not one helper: '$HELPER'"
}
shown_again() { [ "$(window_sum)" = "$SHOWN" ]; }
not_shown() { [ "$(window_sum)" != "$SHOWN" ]; }

# --- the launcher cannot make a helper
mount_fuse "$dir/limited" koravex-limited
start_in "$dir/limited"
prlimit --pid "$LAUNCHER" --nofile=3: || fail "prlimit failed"
kill -KILL "$HELPER"
wait_for 5 not_shown || fail "at 3 descriptors: the drive stayed readable"
[ -z "$(children "$LAUNCHER")" ] || fail "at 3 descriptors: the launcher made a helper"
note "launcher at 3 descriptors: the drive reads as unreadable; a greeting took $(greet_ms) ms"
prlimit --pid "$LAUNCHER" --nofile=1024: || fail "prlimit failed"
t0=$(now_ms)
wait_for 10 shown_again || fail "at 3 descriptors: the figures never came back"
note "launcher at 3 descriptors: the figures back $(($(now_ms) - t0)) ms after the limit was raised"
[ "$(children "$KORAVEX_PID")" = "$LAUNCHER" ] || fail "the launcher was replaced"
[ -n "$(children "$LAUNCHER")" ] || fail "no new helper"
sigterm_ends "launcher at 3 descriptors"

# --- the launcher cannot fork: moved into a pids cgroup (v1) that allows no more processes
pids_root=/sys/fs/cgroup/pids
if [ -w "$pids_root/tasks" ] && mkdir "$pids_root/koravex-drive-faults.$$" 2>/dev/null; then
    group=$pids_root/koravex-drive-faults.$$
    cleanup_groups+=("$group")
    mount_fuse "$dir/nofork" koravex-nofork
    start_in "$dir/nofork"
    home=$pids_root$(awk -F: '$2 == "pids" { print $3 }' "/proc/$LAUNCHER/cgroup")
    echo 1 >"$group/pids.max"
    echo "$LAUNCHER" >"$group/tasks"
    kill -KILL "$HELPER"
    wait_for 5 not_shown || fail "no fork: the drive stayed readable"
    [ -z "$(children "$LAUNCHER")" ] || fail "no fork: the launcher made a helper"
    # The drive reads as unreadable once its helper is gone; the launcher is asked for a new
    # one at a refresh after that.
    fork_refused() { [ "$(awk '{ print $2 }' "$group/pids.events" 2>/dev/null)" -gt 0 ] 2>/dev/null; }
    wait_for 5 fork_refused || fail "no fork: the cgroup refused no fork"
    note "launcher that cannot fork: the drive reads as unreadable; a greeting took $(greet_ms) ms"
    echo "$LAUNCHER" >"$home/tasks"
    t0=$(now_ms)
    wait_for 10 shown_again || fail "no fork: the figures never came back"
    note "launcher that cannot fork: the figures back $(($(now_ms) - t0)) ms after it could again"
    sigterm_ends "launcher that cannot fork"
else
    note "no writable pids cgroup (v1) here: a launcher's failing fork is tested through the seam only"
fi

# --- the launcher killed with its helper
mount_fuse "$dir/killed" koravex-killed
start_in "$dir/killed"
t0=$(now_ms)
kill -KILL "$LAUNCHER" "$HELPER"
new_launcher() {
    local l
    l=$(children "$KORAVEX_PID")
    [ -n "$l" ] && [ "$l" != "$LAUNCHER" ] && [ -n "$(children "$l")" ]
}
wait_for 10 new_launcher || fail "launcher killed: no new launcher with a helper"
note "launcher killed: a new launcher and helper $(($(now_ms) - t0)) ms after the kill"
wait_for 10 shown_again || fail "launcher killed: the figures never came back"
note "launcher killed: the figures back $(($(now_ms) - t0)) ms after the kill; a greeting took $(greet_ms) ms"
wait_for 5 dead_or_zombie "$LAUNCHER" || fail "the killed launcher still runs"
[ ! -e "/proc/$LAUNCHER" ] || fail "the killed launcher was not reaped (a zombie)"
sigterm_ends "launcher killed"

# --- a drive stuck in a call, lazily unmounted and mounted again
mount_fuse "$dir/remount" koravex-remount
start_in "$dir/remount"
old_daemon=$DAEMON
kill -STOP "$old_daemon"  # its statfs calls go unanswered from now on
note "stuck drive: a greeting took $(greet_ms) ms just after the daemon stopped"
wait_for 10 not_shown || fail "stuck drive: still shown as readable"
note "stuck drive: unreadable; a greeting took $(greet_ms) ms"
umount -l "$dir/remount" || fail "umount -l failed"
mount_fuse "$dir/remount" koravex-remount
t0=$(now_ms)
wait_for 10 shown_again || fail "remounted drive: the new mount was not asked (its figures never came)"
note "remounted drive: the figures back $(($(now_ms) - t0)) ms after the new mount; a greeting took $(greet_ms) ms"
sigterm_ends "remounted drive, the old call still stuck"
kill -CONT "$old_daemon"

# --- a mount source of 4,090 bytes
mkdir -p "$dir/long"
mount -t tmpfs -o size=2m "$(head -c 4090 /dev/zero | tr '\0' s)" "$dir/long" || fail "no long tmpfs"
t0=$(now_ms)
out=$(cd "$dir/long" && "$SNAPSHOT" --unit b) || fail "koravex-snapshot failed on the long source"
echo "$out" | grep -q "2 097 152" || fail "4,090-byte source: no figures: $out"
echo "$out" | grep -q "Не возможно определить" && fail "4,090-byte source: unreadable: $out"
note "4,090-byte source: koravex-snapshot read the drive in $(($(now_ms) - t0)) ms"
echo "PASS: drive_faults"
