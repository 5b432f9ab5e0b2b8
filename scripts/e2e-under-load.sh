#!/usr/bin/env bash
# e2e-under-load.sh BUILD_DIR RUNS [CTEST_REGEX]: runs the end-to-end tests of a build RUNS
# times in a row while every core is kept busy by a bounded load (one busy loop per core, at
# the tests' own priority), and prints, per test, how many runs failed.
# Not part of the test command: it is how flaky tests are found and how a fix is shown to hold.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$1
runs=$2
regex=${3:-}
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$(mktemp -d /tmp/koravex-rt.XXXXXX)}
chmod 700 "$XDG_RUNTIME_DIR"
load_pids=()
stop_load() { [ ${#load_pids[@]} -eq 0 ] || kill "${load_pids[@]}" 2>/dev/null || true; }
trap stop_load EXIT
# KORAVEX_LOAD=0: no busy loops, for a machine that something else keeps busy already.
for _ in $(seq "$([ "${KORAVEX_LOAD:-1}" = 0 ] && echo 0 || nproc)"); do
    # Bounded: each loop ends by itself after an hour if this script is killed outright.
    timeout 3600 sh -c 'while :; do :; done' &
    load_pids+=($!)
done
log=$(mktemp -d /tmp/koravex-e2e-load.XXXXXX)
args=(-L e2e)
[ -z "$regex" ] || args=(-R "$regex")
for run in $(seq "$runs"); do
    rc=0
    ctest --test-dir "$build" "${args[@]}" --output-on-failure -j"$(( 2 * $(nproc) ))" \
        >"$log/run$run.txt" 2>&1 || rc=$?
    failed=$(sed -n 's/^ *[0-9]* - \([^ ]*\) (\(Failed\|Timeout\|Subprocess aborted\|Exception\).*/\1/p' \
        "$log/run$run.txt" | tr '\n' ' ')
    echo "run $run: exit $rc ${failed:+failed: $failed}"
    for t in $failed; do echo "$t" >>"$log/failures"; done
done
echo "== failures per test over $runs runs (logs in $log) =="
if [ -s "$log/failures" ]; then sort "$log/failures" | uniq -c; else echo "  none"; fi
