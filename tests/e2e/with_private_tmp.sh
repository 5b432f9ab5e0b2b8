#!/usr/bin/env bash
# with_private_tmp.sh COMMAND...: runs COMMAND with an empty /tmp of its own. Only inside the
# private mount namespace of in_private_ns.sh (as root); elsewhere it skips (exit 77), since
# the test plants names in /tmp that other runs on the machine would meet.
# A source or build tree that itself lies under /tmp (a CI clone, say) is bound back into the
# empty /tmp at the same place, so the test's own scripts and programs stay reachable.
set -euo pipefail
if [ "${KORAVEX_PRIVATE_NS:-}" != 1 ] || [ "$(id -u)" -ne 0 ]; then
    echo "SKIP: needs root and a private mount namespace"
    exit 77
fi
keep=()
for p in "$(cd "$(dirname "$0")" && pwd -P)" "$(pwd -P)" "$@"; do
    case $p in
    /tmp/?*)
        top=/tmp/$(printf '%s' "${p#/tmp/}" | cut -d/ -f1)
        [ -d "$top" ] && keep+=("$top")
        ;;
    esac
done
saved=""
if [ ${#keep[@]} -gt 0 ]; then
    saved=$(mktemp -d /run/koravex-old-tmp.XXXXXX)
    mount --bind /tmp "$saved"
fi
mount -t tmpfs -o mode=1777 tmpfs /tmp
for top in $(printf '%s\n' "${keep[@]+"${keep[@]}"}" | sort -u); do
    mkdir -p "$top"
    mount --bind "$saved/${top#/tmp/}" "$top"
done
if [ -n "$saved" ]; then
    umount -l "$saved"  # the binds made from it stay
    rmdir "$saved"
fi
exec "$@"
