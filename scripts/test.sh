#!/usr/bin/env bash
# Builds everything and runs every test: a warnings-as-errors build, the same tests under
# AddressSanitizer + UndefinedBehaviorSanitizer, the core, backend and window tests under
# ThreadSanitizer, and each parser fuzzer for a short while.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh test

jobs=$(nproc)
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$(mktemp -d /tmp/koravex-rt.XXXXXX)}
chmod 700 "$XDG_RUNTIME_DIR"

echo "== Layers =="
bash scripts/check-layers.sh

echo "== Release build (warnings are errors) =="
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORAVEX_WERROR=ON >/dev/null
cmake --build build/release -j"$jobs"
ctest --test-dir build/release --output-on-failure -j"$jobs"

echo "== Sanitizer build (ASan + UBSan) =="
cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKORAVEX_WERROR=ON \
      -DKORAVEX_SANITIZE=ON -DKORAVEX_BUILD_BENCH=OFF >/dev/null
cmake --build build/asan -j"$jobs"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir build/asan --output-on-failure -j"$jobs" -LE no-sanitizer

echo "== ThreadSanitizer build (core, backend and window tests) =="
bash scripts/tsan.sh

if [ -x scripts/fuzz.sh ]; then
    echo "== Fuzzers (short run on the seed corpus) =="
    bash scripts/fuzz.sh 10
fi
echo "== Debian package =="
bash scripts/check-package.sh build/release

echo "== Windows build (MinGW-w64; tests under Wine) =="
bash scripts/windows.sh

echo "All tests passed."
