#!/usr/bin/env bash
# Fails when a layer includes what it must not: the core (with its backends) includes no
# Qt, ui or shell header; the window (ui/) includes no backend (core/linux, core/windows);
# Win32 headers only in core/windows/ and shell/windows/ (and the Windows tests), X11 and xcb
# headers only in shell/posix/ (and the test and bench tools that watch the X server); the
# toolkit-free core and the window have no platform conditionals and ask Qt for no native
# interface. The allowed includes are listed in docs/architecture.md.
set -euo pipefail
cd "$(dirname "$0")/.."
status=0
sources=(--include='*.h' --include='*.hpp' --include='*.c' --include='*.cpp')
report() {  # report WHERE WHAT HITS
    if [ -n "$3" ]; then
        echo "layer check: $1 must not include $2:" >&2
        echo "$3" >&2
        status=1
    fi
}
check() {  # check DIR REGEX WHAT
    report "$1" "$3" "$(grep -rnE "${sources[@]}" "$2" "$1" || true)"
}
# check_outside REGEX WHAT ALLOWED...: REGEX (any letter case) nowhere in the sources but
# under the ALLOWED folders or files.
check_outside() {
    local regex=$1 what=$2 allowed hits
    shift 2
    allowed=$(printf '%s\n' "$@" | sed 's/[.]/\\./g; s/^/^/' | paste -sd'|')
    hits=$(grep -rniE "${sources[@]}" "$regex" core ui shell tools tests bench |
        grep -vE "$allowed" || true)
    report "anything outside $*" "$what" "$hits"
}
include='^[[:space:]]*#[[:space:]]*include[[:space:]]*'
check core "$include[<\"](Q[A-Za-z]*|qt[A-Za-z]*/)" 'Qt headers'
check core "$include\"(ui|shell)/" 'ui/ or shell/'
check ui "$include\"core/(linux|windows)/" 'a platform backend'

win32='(win[a-z0-9]*|ws2[a-z0-9]*|[a-z0-9]*api|iphlpapi|shlobj|shlwapi|commctrl|objbase|ole2|'
win32+='oleauto|psapi|tlhelp32|mmsystem|mswsock|dbt|dwmapi|uxtheme|iptypes|ifdef|ifmib|ntddndis|'
win32+='ntdef|ntstatus|wtypes|windef|sddl|aclapi|userenv|versionhelpers|setupapi|cfgmgr32|lm[a-z]*)'
check_outside "$include[<\"]$win32\\.h[>\"]" 'Win32 headers' \
    core/windows/ shell/windows/ tests/windows/ tests/windows_shell/
check_outside "$include[<\"](X11/|xcb/|Xlib\\.h)" 'X11 or xcb headers' \
    shell/posix/ tests/e2e/ tests/windows_shell/x_bell.c bench/xprobe.c
conditional='^[[:space:]]*#[[:space:]]*(if|ifdef|ifndef|elif)\b.*\b(_WIN32|_WIN64|__linux__|Q_OS_[A-Z]+)\b'
check_outside "$conditional" 'platform conditionals' core/linux/ core/windows/ shell/ tools/ tests/ bench/
check_outside 'QNativeInterface|nativeInterface[[:space:]]*<' "Qt's native interfaces" \
    shell/ tools/ tests/ bench/ core/linux/ core/windows/
[ "$status" -eq 0 ] && echo "layer check: core, backends, ui and shell include only what they may"
exit "$status"
