#!/usr/bin/env bash
# The installer under Wine: a silent install (/S) for the current user, the installed program
# started from where the Start-menu entry points, then a silent uninstall that must leave
# nothing behind (files, Start-menu entry, uninstall key).
# Usage: installer_windows.sh SETUP PROBE   (on a virtual display: tests/e2e/run_display.sh)
SETUP=$(realpath "$1")
PROBE=$(realpath "$2")
here=$(dirname "$(realpath "$0")")
source "$here/../e2e/lib.sh"
source "$here/wine_lib.sh"

start_wine_prefix
trap 'cleanup; stop_trayer; end_wine_prefix' EXIT
start_trayer
cleanup_pids+=("$TRAYER_PID")
user_dir=$(find "$WINEPREFIX/drive_c/users" -mindepth 1 -maxdepth 1 -type d ! -name Public | head -1)
inst="$user_dir/AppData/Local/Programs/Koravex"
menu="$user_dir/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/Koravex"
key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Koravex'
snapshot() {
    (cd "$WINEPREFIX/drive_c" && find . -path ./windows -prune -o -print | grep -v '/Temp/' | sort)
}
"$WINESERVER" -w
before=$(snapshot)

note "a silent install puts the program, its DLLs and licences, the menu entry and the key"
"$WINE" "$SETUP" /S || fail "setup exit code $?"
wait_for 30 test -f "$inst/Uninstall.exe" || fail "nothing installed in $inst"
for f in koravex.exe Qt6Core.dll Qt6Gui.dll Qt6Widgets.dll platforms/qwindows.dll \
    styles/qwindowsvistastyle.dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll \
    licenses/Qt-LGPL-3.txt licenses/GPL-3.txt licenses/GCC-runtime-copyright.txt \
    licenses/MinGW-w64-copyright.txt licenses/SOURCES.txt; do
    [ -f "$inst/$f" ] || fail "not installed: $f"
done
[ -f "$menu/Koravex.lnk" ] || fail "no Start-menu entry"
"$WINE" reg query "$key" /v DisplayVersion 2>/dev/null | tr -d '\r' | grep -q '1\.0\.0\.1' ||
    fail "no uninstall key"

note "the installed program starts, docks its icon and closes"
start_program "C:\\users\\$(basename "$user_dir")\\AppData\\Local\\Programs\\Koravex\\koravex.exe"
cleanup_pids+=("$KORAVEX_PID")
wait_for 10 icon_docked || fail "no tray icon: $(tray_tree)"
close_by_menu "$(wine_tray_icon)"
expect_clean_exit "$KORAVEX_PID"

note "a silent uninstall leaves nothing behind"
# The uninstaller copies itself to the temporary folder and starts the copy; exit code 2 says
# that the copy could not be made or started (seen once under Wine on a loaded machine; the script
# itself having no abort): the user would start it again, and so does the test, saying so.
rc=0
"$WINE" "$inst/Uninstall.exe" /S || rc=$?
if [ "$rc" = 2 ]; then
    note "the uninstaller could not start its copy (exit code 2): once more"
    rc=0
    "$WINE" "$inst/Uninstall.exe" /S || rc=$?
fi
[ "$rc" = 0 ] || fail "uninstaller exit code $rc"
wait_for 30 test ! -e "$inst" || fail "left behind: $(cd "$inst" && find . | head)"
"$WINESERVER" -w
[ ! -e "$menu" ] || fail "the Start-menu folder is left"
if "$WINE" reg query "$key" >/dev/null 2>&1; then fail "the uninstall key is left"; fi
after=$(snapshot)
left=$(comm -13 <(echo "$before") <(echo "$after"))
[ -z "$left" ] || fail "left behind: $left"
note "PASS"
