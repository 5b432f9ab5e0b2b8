#!/usr/bin/env bash
# Builds every libFuzzer target (tests/fuzz/fuzz_*.cpp) with clang-14 in build/fuzz and runs
# each for SECONDS seconds on a copy of its seed corpus (tests/fuzz/corpus/<target>/).
# Usage: scripts/fuzz.sh [SECONDS]   (default 10)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-10}
jobs=${KORAVEX_JOBS:-$(nproc)}
build=build/fuzz

source scripts/fuzz-build.sh

status=0
for exe in "$build"/tests/fuzz/fuzz_*; do
    [ -x "$exe" ] || continue
    name=$(basename "$exe")
    work="$build/corpus/$name"
    mkdir -p "$work"
    seeds=tests/fuzz/corpus/$name
    [ -d "$seeds" ] || seeds=$work
    echo "== $name: ${seconds}s =="
    if ! "$exe" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
            -artifact_prefix="$build/" -print_final_stats=0 "$work" "$seeds" 2>"$build/$name.log"; then
        echo "$name FAILED; see $build/$name.log" >&2
        tail -n 40 "$build/$name.log" >&2
        status=1
    else
        grep -E "^#[0-9]+ *DONE" "$build/$name.log" || tail -n 1 "$build/$name.log"
    fi
done
exit $status
