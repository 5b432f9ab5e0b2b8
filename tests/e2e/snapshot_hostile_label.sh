#!/usr/bin/env bash
# koravex-snapshot's text report for a drive whose label carries terminal escape sequences and
# a byte that is not UTF-8: a loop-mounted ext4 image, in a private mount namespace (root only,
# see in_private_ns.sh). The label must reach the terminal escaped, as the JSON output has it.
# Usage: snapshot_hostile_label.sh KORAVEX_SNAPSHOT
SNAPSHOT=$1
source "$(dirname "$0")/lib.sh"
if [ "$(id -u)" -ne 0 ] || [ -z "${KORAVEX_PRIVATE_NS:-}" ]; then
    echo "SKIP: needs root in a private mount namespace to loop-mount an image"
    exit 77
fi
command -v mkfs.ext4 >/dev/null || { echo "SKIP: mkfs.ext4 is not installed"; exit 77; }

DIR=$(mktemp -d)
POINT=$(mktemp -d /mnt/koravex-label.XXXXXX)
finish() {
    umount -l "$POINT" 2>/dev/null || true
    rmdir "$POINT" 2>/dev/null || true
    rm -rf "$DIR"
}
trap finish EXIT

# A title change, a bell, a byte that is never UTF-8, a colour change: 16 bytes, ext4's most.
LABEL=$'\e]0;PWN\a\xff\e[31m'
truncate -s 8M "$DIR/image"
mkfs.ext4 -q -F -L "$LABEL" "$DIR/image"
mount -o loop,ro "$DIR/image" "$POINT" || fail "cannot loop-mount the image"

note "the drive's letter, from the JSON output (which escapes the label its own way)"
letter=
for l in D E F G H I J K L M N O P Q R S T U V W X Y Z; do
    if "$SNAPSHOT" --drive "$l" --json | grep -qF '"Label12": "\u001b]0;PWN\u0007\ufffd\u001b[31m"'; then
        letter=$l
        break
    fi
done
[ -n "$letter" ] || fail "no drive shows the image's label"

note "the text report of drive $letter"
text=$("$SNAPSHOT" --drive "$letter")
printf '%s' "$text" | grep -qF '\x1b]0;PWN\x07'$'\xef\xbf\xbd''\x1b[31m' ||
    fail "the label is not shown escaped: $(printf '%s' "$text" | grep -a PWN | od -c | head -5)"
# No control byte but the line breaks, no DEL, and the whole report is UTF-8.
if printf '%s' "$text" | tr -d '\n' | LC_ALL=C grep -qP '[\x00-\x1f\x7f]'; then
    fail "a control byte reached the report: $(printf "%s" "$text" | od -c | head -20)"
fi
printf '%s' "$text" | iconv -f UTF-8 -t UTF-8 >/dev/null || fail "the report is not UTF-8"
echo "PASS"
