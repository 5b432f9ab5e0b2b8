#!/usr/bin/env bash
# with_desktop.sh KIND SNI_HOST COMMAND...: runs COMMAND on a desktop of the given kind,
# inside the virtual display and private bus of run_display.sh.
#   none           neither tray nor notification service
#   notifications  only a notification service (the test host)
#   sni            a StatusNotifierItem host and a notification service (the test host)
#   xembed         an XEmbed tray (trayer), no notification service
#   xembedmenu     the same (another test function)
#   snionly        a StatusNotifierItem host without a notification service
set -euo pipefail
kind=$1
host=$2
shift 2
source "$(dirname "$0")/lib.sh"

export KORAVEX_TEST_HOST_DIR
KORAVEX_TEST_HOST_DIR=$(mktemp -d)
case "$kind" in
    none) ;;
    notifications | sni)
        services=(notifications)
        [ "$kind" = sni ] && services+=(watcher)
        "$host" serve "$KORAVEX_TEST_HOST_DIR" "${services[@]}" &
        cleanup_pids+=($!)
        wait_for 5 test -e "$KORAVEX_TEST_HOST_DIR/ready" || fail "the test host did not start"
        ;;
    snionly)
        "$host" serve "$KORAVEX_TEST_HOST_DIR" watcher &
        cleanup_pids+=($!)
        wait_for 5 test -e "$KORAVEX_TEST_HOST_DIR/ready" || fail "the test host did not start"
        ;;
    xembed | xembedmenu)
        start_trayer
        cleanup_pids+=("$TRAYER_PID")
        ;;
    *) fail "unknown desktop kind $kind" ;;
esac
rc=0
"$@" || rc=$?
rm -rf "$KORAVEX_TEST_HOST_DIR"
exit "$rc"
