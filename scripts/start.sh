#!/usr/bin/env bash
# Builds Koravex and starts it. Without a display, runs koravex-snapshot instead.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh build
cmake -S . -B build/app -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORAVEX_BUILD_TESTS=OFF \
      -DKORAVEX_BUILD_BENCH=OFF >/dev/null
cmake --build build/app -j"$(nproc)"
exec build/app/tools/snapshot/koravex-snapshot
