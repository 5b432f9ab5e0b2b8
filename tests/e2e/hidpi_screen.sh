#!/usr/bin/env bash
# The program on an X screen of 192 dots per inch (Xft.dpi, as desktops set it for HiDPI) and of
# 96: the window keeps its layout at twice the pixels, the pie is drawn at the screen's
# resolution (not a 1x picture blown up) and the colour swatches fill all their pixels.
# Usage: hidpi_screen.sh KORAVEX INSTANCE_PEER
KORAVEX=$1
PEER=$2
source "$(dirname "$0")/lib.sh"
skip_if_instance_running "$PEER"
command -v xrdb >/dev/null || { echo "SKIP: xrdb (x11-xserver-utils) is not installed"; exit 77; }
DIR=$(mktemp -d)
trap 'cleanup; rm -rf "$DIR"' EXIT

main_window() {
    xwininfo -root -children 2>/dev/null |
        awk '/\("koravex" "koravex"\)/ { split($0, a, ")  "); split(a[2], g, "x");
                                          if (g[1] + 0 > 300 && !w) w = $1 } END { if (w) print w }'
}
# crop X Y W H OUT: part of the window as it is on the screen, in device pixels.
crop() { import -window "$MAIN" -crop "${3}x${4}+${1}+${2}" +repage "$5"; }

# The X server forgets its resources when its last client leaves: one stays connected.
xprop -root -spy RESOURCE_MANAGER >/dev/null 2>&1 &
cleanup_pids+=($!)
wait_for 5 xprop -root RESOURCE_MANAGER >/dev/null 2>&1 || true
for scale in 1 2; do
    note "Xft.dpi $((96 * scale))"
    echo "Xft.dpi: $((96 * scale))" | xrdb -nocpp -merge
    start_koravex
    cleanup_pids+=("$KORAVEX_PID")
    size=$(xwininfo -id "$MAIN" | awk '/Width:/ {w=$2} /Height:/ {h=$2} END { print w "x" h }')
    [ "$size" = "$((373 * scale))x$((201 * scale))" ] || fail "window of $size at scale $scale"

    note "the pie (Gauge1 on the drives tab)"
    show_tab_scaled 1 "$scale"
    pie_crop "$scale" "$DIR/pie$scale.png"
    if [ "$scale" = 2 ]; then
        expect_pie_at_2x "$DIR/pie1.png" "$DIR/pie2.png" "$DIR"
    fi

    note "the colour swatches (settings tab)"
    show_tab_scaled 3 "$scale"
    # Around the two swatches (each 15 x 15 in the window's layout, used then free colour):
    # every one of their device pixels has the swatch's colour.
    crop $((262 * scale)) $((135 * scale)) $((40 * scale)) $((50 * scale)) "$DIR/sw.png"
    for colour in 0000FF FF00FF; do
        count=$(convert "$DIR/sw.png" -format %c histogram:info:- | awk -v c="#$colour" \
            'toupper($3) == c { sub(":", "", $1); print $1 }')
        [ "${count:-0}" -eq $((225 * scale * scale)) ] ||
            fail "swatch #$colour has ${count:-0} device pixels, not $((225 * scale * scale))"
    done
    cp "$DIR/pie$scale.png" "${KORAVEX_SHOTS:-$DIR}/" 2>/dev/null || true

    kill -TERM "$KORAVEX_PID"
    expect_clean_exit "$KORAVEX_PID"
done
echo "PASS"
