#!/usr/bin/env bash
# The program under Weston (headless) through Xwayland, as it runs on a Wayland desktop: the
# window shows, a close request hides it, a second start shows it again, SIGTERM ends it
# with 0. Weston's X window manager places the window itself and does not keep it on top;
# where it was put is printed, not checked. There is no tray.
# Usage: weston_xwayland.sh KORAVEX INSTANCE_PEER X_CLOSE
KORAVEX=$1
PEER=$2
X_CLOSE=$3
source "$(dirname "$0")/lib.sh"
for tool in weston Xwayland dbus-daemon; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
skip_if_instance_running "$PEER"

RUNTIME=$(mktemp -d /tmp/koravex-weston.XXXXXX)
chmod 700 "$RUNTIME"
trap 'cleanup; rm -rf "$RUNTIME"' EXIT
export XDG_RUNTIME_DIR=$RUNTIME
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM DBUS_SESSION_BUS_ADDRESS
weston --backend=headless-backend.so --xwayland --use-pixman --width=1280 --height=800 \
    --socket=wayland-koravex >"$RUNTIME/weston.log" 2>&1 &
cleanup_pids+=($!)
listening() { grep -q "xserver listening on display" "$RUNTIME/weston.log"; }
wait_for 15 listening || { echo "SKIP: Weston's Xwayland did not start: $(tail -3 "$RUNTIME/weston.log")"; exit 77; }
export WAYLAND_DISPLAY=wayland-koravex
DISPLAY=$(grep -o "listening on display :[0-9]*" "$RUNTIME/weston.log" | awk '{ print $4 }')
export DISPLAY

main_window() {
    xwininfo -root -tree 2>/dev/null |
        awk '/\("koravex" "koravex"\)  373x201/ && !w { w = $1 } END { if (w) print w }'
}
# A session bus of its own for the program.
bus=$(dbus-daemon --session --fork --print-address=1 --print-pid=1)
export DBUS_SESSION_BUS_ADDRESS=${bus%%$'\n'*}
keep_pid "${bus##*$'\n'}"

start_koravex
cleanup_pids+=("$KORAVEX_PID")
note "shown at $(xwininfo -id "$MAIN" | awk '/Absolute upper-left X/ {x=$4}
    /Absolute upper-left Y/ {y=$4} END { print x "," y }') (Weston places it)"
"$X_CLOSE" "$MAIN"
wait_for 5 is_unmapped "$MAIN" || fail "a close request did not hide the window"
alive "$KORAVEX_PID" || fail "the program ended on a close request"
timeout 5 "$KORAVEX" || fail "the second start failed"
wait_for 5 is_viewable "$MAIN" || fail "the second start did not show the window"
kill -TERM "$KORAVEX_PID"
expect_clean_exit "$KORAVEX_PID"
echo "PASS"
