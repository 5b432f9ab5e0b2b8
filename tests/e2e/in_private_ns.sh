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
    # An X server writes its compiled keymap to /var/lib/xkb/server-DISPLAY.xkm, reads it back
    # and removes it, at its start and at every reset. Display numbers are unique only among
    # servers that see the same /tmp (a test with a /tmp of its own always gets :99), so two
    # servers here may share a number: each namespace gets a keymap directory of its own.
    exec unshare --net --mount --propagation private -- bash -c '
        [ ! -d /var/lib/xkb ] || mount -t tmpfs -o mode=0755,size=4m koravex-xkb /var/lib/xkb
        exec "$@"' in_private_ns "$@"
fi
exec "$@"
