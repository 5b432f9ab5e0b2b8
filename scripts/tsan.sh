#!/usr/bin/env bash
# The core, the Linux backend (its drive helper processes included) and the window's tests
# under ThreadSanitizer. Reports of every process, the helpers too (whose stderr is
# /dev/null), are written to files; any file fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
tests=(core/core_tests linux/linux_drive_tests linux/linux_net_tests
       ui/gauge_test ui/drive_combo_box_test ui/main_window_layout_test
       ui/main_window_refresh_test ui/main_window_settings_test ui/window_parts_test)
cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKORAVEX_WERROR=ON \
      -DKORAVEX_TSAN=ON -DKORAVEX_BUILD_BENCH=OFF >/dev/null
cmake --build build/tsan -j"$jobs" --target "${tests[@]##*/}"
logs=$(mktemp -d /tmp/koravex-tsan.XXXXXX)
# die_after_fork=0: the drive launcher forks helpers that start threads; it has one thread.
export TSAN_OPTIONS="halt_on_error=1:die_after_fork=0:suppressions=$PWD/tests/tsan.supp:log_path=$logs/report"
export QT_QPA_PLATFORM=offscreen
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$(mktemp -d /tmp/koravex-rt.XXXXXX)}
chmod 700 "$XDG_RUNTIME_DIR"
status=0
for t in "${tests[@]}"; do
    rc=0
    "build/tsan/tests/$t" >"$logs/${t##*/}.out" 2>&1 || rc=$?
    if [ "$rc" -ne 0 ]; then
        echo "ThreadSanitizer run: $t failed (exit $rc)" >&2
        tail -20 "$logs/${t##*/}.out" >&2
        status=1
    elif grep -qE '^\[  SKIPPED \]|^SKIP   :' "$logs/${t##*/}.out"; then
        echo "ThreadSanitizer run: $t skipped a test:" >&2
        grep -E '^\[  SKIPPED \]|^SKIP   :' "$logs/${t##*/}.out" >&2
        status=1
    else
        echo "ThreadSanitizer run: $t passed"
    fi
done
if compgen -G "$logs/report*" >/dev/null; then
    echo "ThreadSanitizer reports:" >&2
    cat "$logs"/report* >&2
    status=1
fi
[ "$status" -eq 0 ] && rm -rf "$logs"
exit "$status"
