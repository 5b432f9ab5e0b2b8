#!/usr/bin/env bash
# in_private_ns.sh COMMAND...: runs COMMAND in a network and mount namespace of its own when
# run as root, else as it is. In its own network namespace nothing the test does to interfaces
# or abstract socket names is seen outside; in its own mount namespace a drive the test mounts
# is seen by no one else, and goes with the namespace however the test ends. The X display and the session bus started inside
# are reached through their socket files.
set -euo pipefail
if [ "$(id -u)" -eq 0 ] && [ -z "${KORAVEX_PRIVATE_NS:-}" ] &&
    unshare --net --mount --propagation private true 2>/dev/null; then
    export KORAVEX_PRIVATE_NS=1
    exec unshare --net --mount --propagation private -- "$@"
fi
exec "$@"
