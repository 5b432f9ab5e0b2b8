#!/usr/bin/env bash
# with_private_tmp.sh COMMAND...: runs COMMAND with an empty /tmp of its own. Only inside the
# private mount namespace of in_private_ns.sh (as root); elsewhere it skips (exit 77), since
# the test plants names in /tmp that other runs on the machine would meet.
set -euo pipefail
if [ "${KORAVEX_PRIVATE_NS:-}" != 1 ] || [ "$(id -u)" -ne 0 ]; then
    echo "SKIP: needs root and a private mount namespace"
    exit 77
fi
mount -t tmpfs -o mode=1777 tmpfs /tmp
exec "$@"
