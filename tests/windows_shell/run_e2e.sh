#!/usr/bin/env bash
# The Windows end-to-end tests over the packages: the zip's program driven through its tray
# (at 96 and at 192 dots per inch), the requests to end from other programs and the session,
# the low-space alert (root, in a private mount namespace), the installer. Each runs in a
# Wine prefix of its own; a skipped one (exit 77) fails the run unless tests/allowed-skips.txt
# gives it leave.
# Usage: run_e2e.sh PACKAGES_DIR PROBE_EXE   (DISPLAY set: a virtual display without a tray)
set -uo pipefail
here=$(dirname "$(realpath "$0")")
packages=$(realpath "$1")
probe=$(realpath "$2")
zip=$(ls "$packages"/koravex-*-win64.zip | head -1)
setup=$(ls "$packages"/koravex-*-win64-setup.exe 2>/dev/null | head -1)
failed=0
run() {
    local name=$1 rc=0
    shift
    echo "== $name =="
    "$@" || rc=$?
    case $rc in
        0) echo "== $name: passed ==" ;;
        77)
            if python3 "$here/../../scripts/check-skips.py" wine --one "$name"; then
                echo "== $name: skipped (allowed) =="
            else
                echo "== $name: FAILED (skipped) =="
                failed=1
            fi
            ;;
        *) echo "== $name: FAILED ($rc) =="; failed=1 ;;
    esac
}
run windows_e2e_tray "$here/e2e_windows.sh" "$zip" "$probe"
run windows_e2e_tray_scaled env KORAVEX_WINE_DPI=192 "$here/e2e_windows.sh" "$zip" "$probe"
run windows_e2e_end_requests "$here/end_requests_windows.sh" "$zip" "$probe"
run windows_e2e_alert "$here/../e2e/in_private_ns.sh" "$here/alert_windows.sh" "$zip" "$probe"
if [ -n "$setup" ]; then
    run windows_e2e_installer "$here/installer_windows.sh" "$setup" "$probe"
else
    echo "== windows_e2e_installer: FAILED (no installer in $packages) =="
    failed=1
fi
exit "$failed"
