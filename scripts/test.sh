#!/usr/bin/env bash
# Builds everything and runs every test: a warnings-as-errors build, the same tests under
# AddressSanitizer + UndefinedBehaviorSanitizer, the core, backend and window tests under
# ThreadSanitizer, each parser fuzzer for a short while, the Debian package check and the
# Windows build with its tests under Wine. A test that skips fails the run unless
# tests/allowed-skips.txt gives it leave; the allowed skips and each stage's time are printed
# at the end.
#   --quick   the release build and its tests alone (the edit-and-test loop)
set -euo pipefail
cd "$(dirname "$0")/.."
quick=0
case "${1:-}" in
    --quick) quick=1 ;;
    "") ;;
    *) echo "usage: scripts/test.sh [--quick]" >&2; exit 2 ;;
esac
bash scripts/deps.sh test

jobs=$(nproc)
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$(mktemp -d /tmp/koravex-rt.XXXXXX)}
chmod 700 "$XDG_RUNTIME_DIR"
export KORAVEX_SKIP_SUMMARY
KORAVEX_SKIP_SUMMARY=$(mktemp /tmp/koravex-skips.XXXXXX)
times=()
stage_name="" stage_start=0
stage() {
    stage_end
    stage_name=$1
    stage_start=$SECONDS
    echo "== $1 =="
}
stage_end() {
    [ -n "$stage_name" ] && times+=("$(printf '%5d s  %s' $((SECONDS - stage_start)) "$stage_name")")
    stage_name=""
}
report() {
    stage_end
    echo "== Stage times =="
    printf '%s\n' "${times[@]}"
    echo "== Skipped with leave (tests/allowed-skips.txt) =="
    if [ -s "$KORAVEX_SKIP_SUMMARY" ]; then cat "$KORAVEX_SKIP_SUMMARY"; else echo "  none"; fi
    rm -f "$KORAVEX_SKIP_SUMMARY"
}
trap report EXIT
# ctest_checked STAGE BUILD_DIR [CTEST_ARGS...]: every test of a build; then no skip without
# leave. Passed tests' whole output is kept, so that a skipped Qt Test function is seen too.
ctest_checked() {
    local name=$1 dir=$2
    shift 2
    ctest --test-dir "$dir" --output-on-failure -j"$jobs" --test-output-size-passed 4000000 \
        --output-junit "$PWD/$dir/ctest-junit.xml" "$@"
    python3 scripts/check-skips.py "$name" "$dir/ctest-junit.xml"
}

stage "First-run costs (font cache, X server, tray)"
bash scripts/warm-up.sh

stage "Layers"
bash scripts/check-layers.sh

stage "Release build (warnings are errors)"
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORAVEX_WERROR=ON >/dev/null
cmake --build build/release -j"$jobs"
stage "Release tests"
ctest_checked release build/release
if [ "$quick" -eq 1 ]; then
    echo "Release tests passed (quick run: the sanitizer, ThreadSanitizer, fuzzer, package and Windows stages were not run)."
    exit 0
fi

stage "Sanitizer build (ASan + UBSan)"
cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKORAVEX_WERROR=ON \
      -DKORAVEX_SANITIZE=ON -DKORAVEX_BUILD_BENCH=OFF >/dev/null
cmake --build build/asan -j"$jobs"
stage "Sanitizer tests"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest_checked asan build/asan -LE no-sanitizer

stage "ThreadSanitizer build and run (core, backend and window tests)"
bash scripts/tsan.sh

stage "Fuzzers (short run on the seed corpus)"
bash scripts/fuzz.sh 10

stage "Debian package"
bash scripts/check-package.sh build/release

stage "Windows build (MinGW-w64; tests under Wine)"
bash scripts/windows.sh

echo "All tests passed."
