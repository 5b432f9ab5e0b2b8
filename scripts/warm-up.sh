#!/usr/bin/env bash
# Pays what a machine's first run costs once, before any test is timed: the fontconfig caches
# (a cold one makes the first Qt and GTK programs take seconds), the first X server (its
# compiled keymap is kept in /var/lib/xkb) and the first XEmbed tray (GTK's own start-up).
set -euo pipefail
cd "$(dirname "$0")/.."
start=$SECONDS
fc-cache >/dev/null 2>&1 || true
xvfb-run -a -s "-screen 0 1280x800x24 -nolisten tcp" bash -c '
    source tests/e2e/lib.sh
    start_trayer
    cleanup_pids+=("$TRAYER_PID")'
echo "First-run costs paid in $((SECONDS - start)) s"
