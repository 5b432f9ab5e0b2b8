# shellcheck shell=bash
# A whole desktop session (GNOME Shell or KDE Plasma) from Debian's packages for one test, in
# namespaces of its own; sourced after lib.sh.
#
# desktop_enter re-runs the calling script as an ordinary user (root seen as uid 1000 from a user
# namespace: as root GNOME shows banners that hold back notifications) and as the first process of a PID
# namespace of its own, so that everything the session starts (the shell, the services the
# bus activates, the program under test) ends with the test, however it ends. Everything that
# talks to the session bus runs in there too: the bus refuses a client of another user
# namespace, and the program's Qt would then quietly dock an XEmbed icon instead.
# The X display, both buses and the home directory are the test's own.

# desktop_enter DIR ARGS...: (as root, in the private mount namespace of in_private_ns.sh)
# runs "$0" --inside DIR ARGS... there and returns its exit status.
desktop_enter() {
    local dir=$1
    shift
    local rc=0
    unshare --user --map-user=1000 --map-group=1000 --pid --fork --mount --mount-proc \
        --kill-child -- "$0" --inside "$dir" "$@" || rc=$?
    return "$rc"
}

# A system bus with nothing on it: gnome-shell exits at start without one, and KDE's look-ups
# of logind and upower fail at once on it instead of waiting.
start_system_bus() {
    cat >"$DIR/system.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=$XDG_RUNTIME_DIR/system_bus_socket</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*"/>
    <allow receive_sender="*"/>
    <allow own="*"/>
  </policy>
</busconfig>
CONF
    dbus-daemon --config-file="$DIR/system.conf" --nofork --nopidfile >"$DIR/system-bus.log" 2>&1 &
    export DBUS_SYSTEM_BUS_ADDRESS=unix:path=$XDG_RUNTIME_DIR/system_bus_socket
    wait_for 10 test -S "$XDG_RUNTIME_DIR/system_bus_socket" || fail "the system bus did not start"
}

# The session bus: every service Debian installed except the other notification services
# (dunst's, say), so that the desktop's own is the only one that can be started. The
# environment it starts services with is this shell's.
start_session_bus() {
    mkdir -p "$DIR/services"
    local f
    for f in /usr/share/dbus-1/services/*.service; do
        grep -q '^Name=org.freedesktop.Notifications$' "$f" && continue
        ln -s "$f" "$DIR/services/"
    done
    cat >"$DIR/session.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <keep_umask/>
  <listen>unix:path=$XDG_RUNTIME_DIR/bus</listen>
  <auth>EXTERNAL</auth>
  <servicedir>$DIR/services</servicedir>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
CONF
    dbus-daemon --config-file="$DIR/session.conf" --nofork --nopidfile >"$DIR/session-bus.log" 2>&1 &
    export DBUS_SESSION_BUS_ADDRESS=unix:path=$XDG_RUNTIME_DIR/bus
    wait_for 10 test -S "$XDG_RUNTIME_DIR/bus" || fail "the session bus did not start"
}

# A virtual screen of 1280x800; DISPLAY is set once the server takes connections.
start_xvfb() {
    : >"$DIR/display"
    Xvfb -displayfd 5 -screen 0 1280x800x24 -nolisten tcp -noreset 5>"$DIR/display" >"$DIR/xvfb.log" 2>&1 &
    XVFB_PID=$!
    wait_for 15 test -s "$DIR/display" || fail "Xvfb did not start: $(tail -3 "$DIR/xvfb.log")"
    export DISPLAY=:$(head -1 "$DIR/display")
    # The server resets itself whenever its last client leaves: one stays connected.
    xprop -root -spy _NET_SUPPORTING_WM_CHECK >/dev/null 2>&1 &
}

# The session's own directories, as a login would give them.
session_dirs() {
    export HOME=$DIR/home XDG_RUNTIME_DIR=$DIR/run
    export XDG_CONFIG_HOME=$HOME/.config XDG_DATA_HOME=$HOME/.local/share XDG_CACHE_HOME=$HOME/.cache
    mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_CACHE_HOME" "$XDG_RUNTIME_DIR"
    chmod 700 "$XDG_RUNTIME_DIR"
    export XDG_SESSION_TYPE=x11 LIBGL_ALWAYS_SOFTWARE=1
    unset WAYLAND_DISPLAY QT_QPA_PLATFORM SESSION_MANAGER
}

bus_has() {
    dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.NameHasOwner "string:$1" 2>/dev/null | grep -q "boolean true"
}
# The process that owns bus name $1, and its command name.
bus_owner_pid() {
    dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.GetConnectionUnixProcessID "string:$1" 2>/dev/null |
        awk '/uint32/ { print $2 }'
}
bus_owner_comm() {
    local pid
    pid=$(bus_owner_pid "$1")
    [ -n "$pid" ] && cat "/proc/$pid/comm"
}
# prop DEST PATH INTERFACE NAME: a D-Bus property, as gdbus prints it.
prop() {
    gdbus call --session --dest "$1" --object-path "$2" \
        --method org.freedesktop.DBus.Properties.Get "$3" "$4" 2>/dev/null
}
watcher_prop() {
    prop org.kde.StatusNotifierWatcher /StatusNotifierWatcher org.kde.StatusNotifierWatcher "$1"
}
tray_host_ready() {
    bus_has org.kde.StatusNotifierWatcher && [[ $(watcher_prop IsStatusNotifierHostRegistered) == *true* ]]
}
# The program's item is registered with the desktop's tray: an item whose bus name is one of
# the program's connections. KORAVEX_ITEM is that item.
item_registered() {
    local item
    for item in $(watcher_prop RegisteredStatusNotifierItems | { grep -o "'[^']*'" || true; } | tr -d "'"); do
        [ "$(bus_owner_pid "${item%%[@/]*}")" = "$KORAVEX_PID" ] && { KORAVEX_ITEM=$item; return 0; }
    done
    return 1
}
item_unregistered() { ! item_registered; }
