#!/usr/bin/env bash
# Builds the Debian package from a build tree, checks it with lintian, checks its contents and
# the desktop metadata, and (as root) installs it, starts the installed program and removes it.
# Usage: scripts/check-package.sh BUILD_DIR
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:?usage: check-package.sh BUILD_DIR}

fail() { echo "check-package: $*" >&2; exit 1; }

desktop-file-validate resources/koravex.desktop || fail "desktop entry does not validate"
appstreamcli validate --no-net resources/example.tarquel.koravex.metainfo.xml >/dev/null \
    || fail "AppStream metadata does not validate"

rm -f "$build"/koravex_*.deb
(cd "$build" && cpack -G DEB >/dev/null) || fail "cpack failed"
deb=$(ls "$build"/koravex_1.0.0.1_*.deb) || fail "no package built"

lint=$(lintian "$deb" 2>/dev/null || true)
echo "$lint" | grep -q '^E:' && { echo "$lint"; fail "lintian reports errors"; }

contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
for want in ./usr/bin/koravex ./usr/bin/koravex-snapshot \
            ./usr/share/applications/koravex.desktop \
            ./usr/share/metainfo/example.tarquel.koravex.metainfo.xml \
            ./usr/share/icons/hicolor/48x48/apps/koravex.png \
            ./usr/share/icons/hicolor/256x256/apps/koravex.png \
            ./usr/share/man/man1/koravex-snapshot.1.gz \
            ./usr/share/doc/koravex/copyright; do
    grep -qxF "$want" <<<"$contents" || fail "package lacks $want"
done
grep -qE '^\./(etc|var|home)/' <<<"$contents" && fail "package writes outside /usr"
[ "$(dpkg-deb -f "$deb" Version)" = 1.0.0.1 ] || fail "wrong version"
dpkg-deb -f "$deb" Depends | grep -q libqt6widgets6 || fail "Depends lacks the Qt libraries"
echo "package: $(basename "$deb") built, lintian clean of errors, contents as expected"

if [ "$(id -u)" -ne 0 ]; then
    echo "package: install check skipped (needs root)"
    exit 0
fi
export DEBIAN_FRONTEND=noninteractive
apt-get install -y -qq "./$deb" >/dev/null 2>&1 || apt-get install -y -qq "$(realpath "$deb")" >/dev/null \
    || fail "the package does not install"
trap 'apt-get remove -y -qq koravex >/dev/null 2>&1 || true' EXIT
[ -x /usr/bin/koravex ] || fail "/usr/bin/koravex missing after install"
/usr/bin/koravex-snapshot --json | grep -q '"Label8"' || fail "installed koravex-snapshot does not run"
[ -f /usr/share/icons/hicolor/48x48/apps/koravex.png ] || fail "icon missing after install"

# The installed program starts and keeps running on a virtual display.
out=$(mktemp -d)
xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp -noreset" dbus-run-session -- bash -c '
    /usr/bin/koravex & pid=$!
    sleep 3
    if kill -0 $pid 2>/dev/null; then echo running; kill $pid; wait $pid 2>/dev/null; fi
' >"$out/log" 2>&1 || true
grep -q running "$out/log" || { cat "$out/log"; fail "installed koravex did not keep running"; }
rm -rf "$out"

apt-get remove -y -qq koravex >/dev/null || fail "the package does not remove"
trap - EXIT
for f in /usr/bin/koravex /usr/bin/koravex-snapshot /usr/share/applications/koravex.desktop; do
    [ -e "$f" ] && fail "$f left behind after removal"
done
echo "package: installs, starts from /usr/bin/koravex and removes cleanly"
