#!/usr/bin/env bash
# Runs a command on a private virtual display with a private session bus.
# The bus starts only the services in $KORAVEX_BUS_SERVICES (a folder of D-Bus .service files),
# none by default: a notification daemon installed on this machine (dunst, xfce4-notifyd)
# would otherwise be started by the first warning of every test.
set -euo pipefail
# A runtime directory of its own (mode 0700), where the program's single instance meets no
# other Koravex of this user.
export XDG_RUNTIME_DIR=$(mktemp -d /tmp/koravex-rt.XXXXXX)
unset DBUS_SESSION_BUS_ADDRESS WAYLAND_DISPLAY QT_QPA_PLATFORM
bus_dir=$(mktemp -d /tmp/koravex-bus.XXXXXX)
trap 'rm -rf "$bus_dir"' EXIT
services=${KORAVEX_BUS_SERVICES:-$bus_dir/services}
mkdir -p "$bus_dir/services"
cat >"$bus_dir/session.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <keep_umask/>
  <listen>unix:tmpdir=/tmp</listen>
  <auth>EXTERNAL</auth>
  <servicedir>$services</servicedir>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
CONF
# Scripts that start a second bus of their own take this one's settings.
export KORAVEX_BUS_CONFIG=$bus_dir/session.conf
rc=0
# -noreset: a server resets whenever its last client leaves (between two runs of the program,
# after every xwininfo while none runs), and a client that connects while it resets may be
# turned away: 9 of 600 xwininfo calls one after another failed here, none with -noreset.
xvfb-run -a -s "-screen 0 1280x800x24 -nolisten tcp -noreset" \
    dbus-run-session --config-file="$bus_dir/session.conf" -- "$@" || rc=$?
exit "$rc"
