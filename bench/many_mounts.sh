#!/usr/bin/env bash
# The drive table with 5,000 real mounts, in a mount namespace of its own (root only):
# koravex-snapshot's time, and the window's refresh over the live table (mounts_bench)
# while the table stands still and while a mount comes and goes ten times a second; and what
# the kernel alone takes to hand out the table, as text and through statmount (mount_reads).
# Usage: bench/many_mounts.sh [BUILD_DIR] [COUNT]   (defaults build/release, 5000)
set -euo pipefail
build=${1:-build/release}
count=${2:-5000}
snapshot=$build/tools/snapshot/koravex-snapshot
bench=$build/bench/mounts_bench
reads=$build/bench/mount_reads
[ "$(id -u)" -eq 0 ] || { echo "needs root (mounts)" >&2; exit 1; }
[ -x "$snapshot" ] && [ -x "$bench" ] && [ -x "$reads" ] || { echo "build $build first" >&2; exit 1; }
if [ -z "${KORAVEX_MANY_MOUNTS_NS:-}" ]; then
    export KORAVEX_MANY_MOUNTS_NS=1
    exec unshare --mount --propagation private -- "$0" "$@"
fi

dir=$(mktemp -d /mnt/koravex-many.XXXXXX)
churn_pid=
finish() {
    [ -n "$churn_pid" ] && kill "$churn_pid" 2>/dev/null || true
    umount -R -l "$dir" 2>/dev/null || true
    rm -rf "$dir"
}
trap finish EXIT

# snapshot_ms RUNS: mean wall and CPU (user + system) of one koravex-snapshot run, in ms.
snapshot_ms() {
    local runs=$1 start end cpu0 cpu1
    read -r cpu0 < <(awk '{ print $14 + $15 + $16 + $17 }' /proc/$$/stat)
    start=$(date +%s%N)
    for _ in $(seq "$runs"); do "$snapshot" --drive C >/dev/null; done
    end=$(date +%s%N)
    read -r cpu1 < <(awk '{ print $14 + $15 + $16 + $17 }' /proc/$$/stat)
    local tick
    tick=$(getconf CLK_TCK)
    awk -v w=$((end - start)) -v c=$((cpu1 - cpu0)) -v n="$runs" -v t="$tick" \
        'BEGIN { printf "wall %.2f ms, CPU %.2f ms per snapshot\n", w / n / 1e6, c * 1000 / t / n }'
}
live() {
    "$bench" --benchmark_filter='RefreshLiveTable|RefreshEvery100ms' --benchmark_min_time=2 \
        2>/dev/null | awk '
        /^BM_RefreshLiveTable/ { print "back-to-back refresh: wall " $2 " " $3 ", window thread CPU " $4 " " $5 }
        /^BM_RefreshEvery100ms/ { print "refresh every 100 ms: window thread CPU " $2 " " $3 " per refresh" }'
}

echo "== $(grep -c '' /proc/self/mountinfo) mounts (this namespace as it is)"
snapshot_ms 20
live
"$reads" 20

for kind in tmpfs bind; do
    echo "== $count $kind mounts more"
    mkdir -p "$dir/$kind"
    mount -t tmpfs koravex-many "$dir/$kind"  # the directories live in RAM
    for i in $(seq "$count"); do
        mkdir "$dir/$kind/$i"
        if [ "$kind" = tmpfs ]; then
            mount -t tmpfs -o size=64k "koravex-$i" "$dir/$kind/$i"
        else
            mount --bind "$dir/$kind" "$dir/$kind/$i"
        fi
    done
    echo "mount table: $(grep -c '' /proc/self/mountinfo) lines"
    snapshot_ms 20
    live
    "$reads" 20
    echo "-- churning: a tmpfs mounted and unmounted ten times a second"
    mkdir -p "$dir/churn"
    (while :; do
        mount -t tmpfs koravex-churn "$dir/churn"
        sleep 0.05
        umount "$dir/churn"
        sleep 0.05
    done) &
    churn_pid=$!
    sleep 0.3
    snapshot_ms 20
    live
    kill "$churn_pid"
    wait "$churn_pid" 2>/dev/null || true
    churn_pid=
    umount -l "$dir/churn" 2>/dev/null || true
    umount -R -l "$dir/$kind"
done
