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
now_ms() { echo $(($(date +%s%N) / 1000000)); }
# gone_within MS PID: true once PID has ended, false after MS milliseconds (polls every 10 ms).
gone_within() {
    local deadline=$(($(now_ms) + $1))
    while alive "$2"; do
        [ "$(now_ms)" -ge "$deadline" ] && return 1
        sleep 0.01
    done
}
# quit_limit_ms PROGRAM: how long a quit signal may take to end PROGRAM: 1 s; a sanitizer
# build checks for leaks as it ends, and its quit deadline waits 3 s for that, so 4 s there.
quit_limit_ms() { if ldd "$1" 2>/dev/null | grep -q 'libasan\|libtsan'; then echo 4000; else echo 1000; fi; }
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
# The condition is looked at anew at every try of wait_for: `wait_for N test -n "$(tray_icon)"`
# would look once and then wait on that one answer.
icon_docked() { [ -n "$(tray_icon)" ]; }
# The program's windows and the tray's, with their sizes, for a failure message.
tray_windows() {
    xwininfo -root -tree 2>/dev/null | grep -E '"koravex"|"trayer"|"panel"' | tr -s ' ' | head -12 |
        tr '\n' ';'
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
# The X server drops a window once it has seen its client go, which a loaded machine may take
# a moment to do: a start must not take a window of an earlier run for its own.
no_main_window() { [ -z "$(main_window)" ]; }
start_koravex() {
    wait_for 5 no_main_window || fail "a window of an earlier run is still there: $(main_window)"
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

# At a scale of 1 or 2: MAIN's layout is the 1x one at SCALE times the pixels.
# show_tab_scaled N SCALE: a click on tab N's caption, waiting until the window shows it.
show_tab_scaled() {
    local tabs=(27 93 152 210 291) before
    before=$(import -window "$MAIN" rgb:- 2>/dev/null | md5sum)
    xdotool mousemove --window "$MAIN" $((tabs[$1] * $2)) $((12 * $2)) click 1
    tab_shown() { [ "$(import -window "$MAIN" rgb:- 2>/dev/null | md5sum)" != "$before" ]; }
    wait_for 5 tab_shown || fail "tab $1 did not show"
}
# pie_crop SCALE OUT: the pie (Gauge1, on the drives tab) as it is on the screen, in device
# pixels.
pie_crop() {
    import -window "$MAIN" -crop "$((145 * $1))x$((97 * $1))+$((218 * $1))+$((88 * $1))" +repage "$2"
}
# expect_pie_at_2x PIE1 PIE2 DIR: PIE2 (at scale 2) is drawn at the device resolution, not a
# 1x picture blown up, and is the same picture as PIE1 (at scale 1).
expect_pie_at_2x() {
    local differ
    # A 1x picture blown up is unchanged by halving and doubling again; the pie's edges and
    # text at 2x are not.
    convert "$2" -sample 50% -sample 200% "$3/pie2-doubled.png"
    differ=$(compare -metric AE "$2" "$3/pie2-doubled.png" null: 2>&1 || true)
    note "pixels that a 1x picture blown up would not have: $differ"
    [ "${differ%%.*}" -ge 200 ] || fail "the pie is a 1x picture blown up ($differ)"
    # The same picture as at 1x: halved, it differs from the 1x pie only along edges.
    convert "$2" -sample 50% "$3/pie2-half.png"
    differ=$(compare -metric AE "$1" "$3/pie2-half.png" null: 2>&1 || true)
    note "pixels of the halved 2x pie unlike the 1x pie: $differ of $((145 * 97))"
    [ "${differ%%.*}" -le $((145 * 97 / 10)) ] || fail "the 2x pie is another picture ($differ)"
}

cleanup_pids=()
# The kernel hands a PID out again once its process has gone: on a busy machine (PIDs up to
# 32768, dozens of processes a second) within minutes, so a PID kept from earlier may be
# another test's X server by now. Only what is still ours is signalled.
# pid_start PID: when PID started (clock ticks after boot); nothing once it has ended.
pid_start() {
    local stat
    stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 0
    set -- ${stat##*) } # the fields after the command's name (which may hold blanks)
    [ "$1" = Z ] || echo "${20}"
}
# own_child PID: true while PID is a live child of this shell.
own_child() {
    local stat
    stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 1
    set -- ${stat##*) }
    [ "$1" != Z ] && [ "$2" = "$$" ]
}
# signal_own SIGNAL PID|PID@START: sends SIGNAL to a child of this shell, or to the process
# that PID@START (from keep_pid) names, if it still runs; else to nothing.
signal_own() {
    local pid=${2%@*}
    if [ "$pid" != "$2" ]; then
        [ -n "${2#*@}" ] && [ "$(pid_start "$pid")" = "${2#*@}" ] || return 0
    else
        own_child "$pid" || return 0
    fi
    kill -"$1" "$pid" 2>/dev/null || true
}
# keep_pid PID: ends PID with the test although it is no child of this shell (a daemon that
# forked itself away).
keep_pid() { cleanup_pids+=("$1@$(pid_start "$1")"); }
# A process the test stopped (SIGSTOP) acts on TERM only once continued; until then it would
# hold the test's output open, and ctest would wait for it to its time-out.
cleanup() {
    for p in "${cleanup_pids[@]}"; do
        signal_own TERM "$p"
        signal_own CONT "$p"
    done
    [ -z "${X_OWNER_TOOL:-}" ] || rm -rf "$(dirname "$X_OWNER_TOOL")"
}
trap cleanup EXIT
