#!/usr/bin/env bash
# Fails when a layer includes what it must not: the core (with its backends) includes no
# Qt, ui or shell header; the window (ui/) includes no backend (core/linux, core/windows).
# The allowed includes are listed in docs/architecture.md.
set -euo pipefail
cd "$(dirname "$0")/.."
status=0
check() {  # check DIR REGEX WHAT
    local hits
    hits=$(grep -rnE --include='*.h' --include='*.cpp' "$2" "$1" || true)
    if [ -n "$hits" ]; then
        echo "layer check: $1 must not include $3:" >&2
        echo "$hits" >&2
        status=1
    fi
}
check core '^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"](Q[A-Za-z]*|qt[A-Za-z]*/)' 'Qt headers'
check core '^[[:space:]]*#[[:space:]]*include[[:space:]]*"(ui|shell)/' 'ui/ or shell/'
check ui '^[[:space:]]*#[[:space:]]*include[[:space:]]*"core/(linux|windows)/' 'a platform backend'
[ "$status" -eq 0 ] && echo "layer check: core, backends and ui include only what they may"
exit "$status"
