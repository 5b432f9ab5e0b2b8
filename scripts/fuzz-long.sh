#!/usr/bin/env bash
# Runs every parser fuzzer (tests/fuzz/fuzz_*.cpp) for MINUTES minutes each and prints one
# table: target, executions, coverage (libFuzzer's "cov:" edges), crashes. Not part of the
# test command: it takes minutes per target.
# A fuzzer that finds a crash stops; it is started again on the grown corpus for the rest of
# its time, so a run can report more than one crash (distinct crashing inputs, as libFuzzer
# names them by content). Inputs that crashed are kept in
# BUILD/artifacts/<target>/. Exit status 1 when any target crashed.
# Usage: scripts/fuzz-long.sh [MINUTES]   (default 5; fractions such as 0.5 are allowed)
# Environment: KORAVEX_FUZZ_BUILD (build directory, default build/fuzz), KORAVEX_JOBS.
set -euo pipefail
cd "$(dirname "$0")/.."
minutes=${1:-5}
if ! [[ "$minutes" =~ ^[0-9]+([.][0-9]+)?$ ]] || [ "$(awk -v m="$minutes" 'BEGIN { print (m > 0) }')" != 1 ]; then
    echo "usage: $0 [MINUTES]  (a positive number, default 5)" >&2
    exit 2
fi
seconds=$(awk -v m="$minutes" 'BEGIN { s = int(m * 60 + 0.5); print (s < 1 ? 1 : s) }')
jobs=${KORAVEX_JOBS:-$(nproc)}
build=${KORAVEX_FUZZ_BUILD:-build/fuzz}

source scripts/fuzz-build.sh

# Figures of a target's libFuzzer logs: executions summed over its runs (final stats), and the
# highest coverage any run reported (each run starts from the corpus the earlier ones grew).
executions_in() {
    awk '/^stat::number_of_executed_units:/ { n += $2 } END { print n + 0 }' "$@"
}
coverage_in() { grep -ho 'cov: [0-9]*' "$@" | awk '$2 > c { c = $2 } END { print c + 0 }'; }

rows=()
status=0
for name in "${targets[@]}"; do
    exe="$build/tests/fuzz/$name"
    work="$build/corpus/$name"
    artifacts="$build/artifacts/$name"
    logs="$build/logs/$name"
    mkdir -p "$work" "$artifacts" "$logs"
    rm -f "$logs"/*.log
    seeds=tests/fuzz/corpus/$name
    [ -d "$seeds" ] || seeds=$work
    crashes_before=$(find "$artifacts" -type f | wc -l)
    echo "== $name: $minutes min =="
    deadline=$((SECONDS + seconds))
    run=0
    while [ "$SECONDS" -lt "$deadline" ]; do
        run=$((run + 1))
        left=$((deadline - SECONDS))
        rc=0
        "$exe" -max_total_time="$left" -timeout=10 -rss_limit_mb=2048 \
            -artifact_prefix="$artifacts/" -print_final_stats=1 \
            "$work" "$seeds" 2>"$logs/run$run.log" || rc=$?
        if [ "$rc" -eq 0 ]; then
            break
        fi
        echo "$name: run $run stopped (exit $rc); see $logs/run$run.log" >&2
        grep -m1 -E 'ERROR: |SUMMARY: ' "$logs/run$run.log" >&2 || true
        # A fuzzer that cannot even start would loop for ever.
        if ! grep -q '^stat::number_of_executed_units' "$logs/run$run.log" &&
            ! grep -qE 'Test unit written to' "$logs/run$run.log"; then
            tail -n 20 "$logs/run$run.log" >&2
            status=1
            break
        fi
    done
    crashes=$(($(find "$artifacts" -type f | wc -l) - crashes_before))
    [ "$crashes" -eq 0 ] || status=1
    rows+=("$name $(executions_in "$logs"/*.log) $(coverage_in "$logs"/*.log) $crashes")
done

echo
printf '%-24s %14s %10s %8s\n' target executions coverage crashes
for row in "${rows[@]}"; do
    # shellcheck disable=SC2086
    printf '%-24s %14s %10s %8s\n' $row
done
exit $status
