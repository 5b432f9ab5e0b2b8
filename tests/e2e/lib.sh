# Helpers for the end-to-end scripts; sourced. They run under Xvfb and a private session bus.
set -euo pipefail

fail() {
    echo "FAIL: $*" >&2
    exit 1
}
note() { echo "-- $*"; }

# wait_for SECONDS COMMAND...: polls every 0.1 s until COMMAND succeeds. SECONDS is what an
# idle machine needs with room to spare; the wait allows KORAVEX_WAIT_SCALE (default 3) times
# as long, for a loaded or first-run machine: a condition that holds ends it at once, so only
# a failure pays for the room.
wait_for() {
    local deadline=$((SECONDS + $1 * ${KORAVEX_WAIT_SCALE:-3}))
    shift
    until "$@"; do
        [ "$SECONDS" -ge "$deadline" ] && return 1
        sleep 0.1
    done
}

alive() { kill -0 "$1" 2>/dev/null; }
dead() { ! kill -0 "$1" 2>/dev/null; }
# The program (a child of this shell) ends within 10 s after Close, with exit code 0.
expect_clean_exit() {
    wait_for 10 dead "$1" || fail "Close did not end the program"
    local rc=0
    wait "$1" || rc=$?
    [ "$rc" -eq 0 ] || fail "exit code $rc"
}

# The top-level window of the program (class koravex, wider than a tray icon).
main_window() {
    xwininfo -root -children 2>/dev/null |
        awk '/\("koravex" "koravex"\)/ { split($0, a, ")  "); split(a[2], g, "x");
                                          if (g[1] + 0 > 100) { print $1; exit } }'
}
# The docked tray icon: a class koravex window inside the tray host.
tray_icon() {
    xwininfo -root -tree 2>/dev/null | awk '/\("koravex" "koravex"\)  22x22/ { print $1; exit }'
}
map_state() { xwininfo -id "$1" 2>/dev/null | awk '/Map State:/ { print $3 }'; }
is_viewable() { [ "$(map_state "$1")" = IsViewable ]; }
is_unmapped() { [ "$(map_state "$1")" = IsUnMapped ]; }
# Visible top-level windows of the program other than the main window (menus, balloons).
popup_count() {
    xwininfo -root -children 2>/dev/null | grep '("koravex" "koravex")' | grep -vc "^ *$1 " || true
}
# True when window $1 is above window $2 in the stacking order (xwininfo lists top first).
stacked_above() {
    local order
    order=$(xwininfo -root -children | awk '{ print $1 }')
    [ "$(echo "$order" | grep -n "^$1\$" | cut -d: -f1)" -lt \
      "$(echo "$order" | grep -n "^$2\$" | cut -d: -f1)" ]
}
# Bottom-right corner of the window frame, "X Y".
bottom_right() {
    xwininfo -id "$1" | awk '/Absolute upper-left X/ {x=$4} /Absolute upper-left Y/ {y=$4}
                             /Width:/ {w=$2} /Height:/ {h=$2} END { print x + w, y + h }'
}
screen_size() { xdpyinfo | awk '/dimensions:/ { split($2, d, "x"); print d[1], d[2] }'; }

# x_owner SELECTION: the window owning an X selection, or failure while nobody owns it (a
# small Xlib program, built on first use: the Wine tests have no Linux build to take it from).
x_owner() {
    if [ -z "${X_OWNER_TOOL:-}" ]; then
        X_OWNER_TOOL=$(mktemp -d /tmp/koravex-x-owner.XXXXXX)/x_owner
        cc -O1 -o "$X_OWNER_TOOL" "$(dirname "${BASH_SOURCE[0]}")/x_owner.c" -lX11 ||
            fail "cannot build the X selection probe (cc, libx11-dev)"
    fi
    "$X_OWNER_TOOL" "$1"
}
tray_owned() { x_owner _NET_SYSTEM_TRAY_S0 >/dev/null; }

# An XEmbed tray (trayer), ready once it owns the tray selection: from then on a program
# started finds a tray and docks its icon there. A cold machine (font caches, a first X
# server) can take several seconds for it.
start_trayer() {
    trayer --edge top --align right --widthtype pixel --width 120 --height 24 \
        --SetDockType true >/dev/null 2>&1 &
    TRAYER_PID=$!
    wait_for 20 tray_owned ||
        fail "trayer (pid $TRAYER_PID, $(alive "$TRAYER_PID" && echo running || echo ended)) owns no tray selection"
}

# Starts the program; KORAVEX_PID is its pid, MAIN its window once mapped.
start_koravex() {
    "$KORAVEX" &
    KORAVEX_PID=$!
    wait_for 15 main_window_viewable || fail "the window did not appear"
    MAIN=$(main_window)
}
main_window_viewable() {
    local w
    w=$(main_window)
    [ -n "$w" ] && is_viewable "$w"
}

# The running instance's socket in this session's runtime directory.
instance_socket() { echo "$XDG_RUNTIME_DIR/koravex/TarquelKoravex.socket"; }

# The instance is per user and runtime directory, not per display: a Koravex this user already
# runs there (on a real desktop) would receive our starts. Such a run is skipped (exit 77).
skip_if_instance_running() {
    local rc=0
    "$1" greet "$(instance_socket)" >/dev/null 2>&1 || rc=$?
    if [ "$rc" -ne 4 ]; then
        echo "SKIP: Koravex already runs for this user on this machine"
        exit 77
    fi
}

cleanup_pids=()
cleanup() {
    for p in "${cleanup_pids[@]}"; do
        kill "$p" 2>/dev/null || true
    done
    [ -z "${X_OWNER_TOOL:-}" ] || rm -rf "$(dirname "$X_OWNER_TOOL")"
}
trap cleanup EXIT
