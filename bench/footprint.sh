#!/usr/bin/env bash
# Measures the whole program as a user runs it, beside a bare Qt tray program, on a virtual X
# display with a tray host, and prints one table.
#   bench/footprint.sh [BUILD_DIR] [--quick]
# --quick shortens every period (for checking the script itself; the figures are then rough).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
quick=0
[ "${2:-}" = --quick ] && quick=1

koravex=$PWD/$build/shell/koravex
baseline=$PWD/$build/bench/koravex-baseline
xprobe=$PWD/$build/bench/xprobe
for f in "$koravex" "$baseline" "$xprobe"; do
    [ -x "$f" ] || { echo "missing $f: build $build first" >&2; exit 1; }
done

starts=20 settle=10 cpu_period=60 growth_period=600 growth_step=30
if [ $quick = 1 ]; then starts=5 settle=3 cpu_period=10 growth_period=60 growth_step=15; fi

if [ -z "${KORAVEX_FOOTPRINT_INNER:-}" ]; then
    export KORAVEX_FOOTPRINT_INNER=1
    export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$(mktemp -d /tmp/koravex-rt.XXXXXX)}
    chmod 700 "$XDG_RUNTIME_DIR"
    exec xvfb-run -a -s "-screen 0 1280x800x24 -nolisten tcp" dbus-run-session -- "$0" "$@"
fi

trayer --edge top --align right --widthtype pixel --width 120 --height 24 --SetDockType true \
    >/dev/null 2>&1 &
tray_pid=$!
trap 'kill $tray_pid 2>/dev/null || true; pkill -x koravex 2>/dev/null || true; pkill -x koravex-baseline 2>/dev/null || true' EXIT
sleep 1

median() { sort -n | awk '{a[NR]=$1} END {if (NR==0) {print "-"; exit} m=(NR%2)?a[(NR+1)/2]:(a[NR/2]+a[NR/2+1])/2; printf "%.1f", m}'; }
maximum() { sort -n | tail -1; }
rss_kb() { awk '/^VmRSS/ {print $2}' /proc/"$1"/status; }
# CPU time of every thread of a process, in nanoseconds.
cpu_ns() { cat /proc/"$1"/task/*/schedstat | awk '{s+=$1} END {print s}'; }
# Ends a process (not a child of this shell: xprobe started it) and waits until it is gone.
stop() {
    kill "$1" 2>/dev/null || true
    for _ in $(seq 100); do kill -0 "$1" 2>/dev/null || return 0; sleep 0.05; done
    kill -9 "$1" 2>/dev/null || true
}

# Starts PROGRAM (with an optional argument), waits for its window NAME; echoes "ms pid".
start_timed() { "$xprobe" wait-map "$2" -- "$1" ${3:+"$3"}; }
# The programs measured: key, executable, window name, argument.
program() {
    case $1 in
        koravex) echo "$koravex Koravex" ;;
        baseline) echo "$baseline Baseline" ;;
        textbase) echo "$baseline Baseline --text" ;;
    esac
}

# Window-relative points of the tabs (memory, drives, network, settings, about) and of Edit1,
# with the fonts the README's commands install. Without a window manager the keyboard follows
# the pointer, so keys are sent as real input (XTEST) to the window under it.
tab_x=(26 83 140 193 265)
show_tab() {  # 0 memory .. 4 about
    xdotool mousemove --window "$1" "${tab_x[$2]}" 12 click 1
    sleep 0.3
}
# Koravex's refresh interval is set as a user sets it: settings tab, Edit1, typed.
set_interval() {
    show_tab "$1" 3
    xdotool mousemove --window "$1" 35 42 click 1
    xdotool key ctrl+a
    xdotool type "$2"
    sleep 0.3
}
cpu_percent() {  # pid seconds -> percent of one core
    local a b
    a=$(cpu_ns "$1"); sleep "$2"; b=$(cpu_ns "$1")
    awk -v a="$a" -v b="$b" -v s="$2" 'BEGIN {printf "%.3f", (b - a) / (s * 1e9) * 100}'
}

declare -A R

echo "Start-up ($starts starts each)..." >&2
for prog in koravex baseline textbase; do
    read -r bin name arg < <(program $prog)
    times=()
    for ((i = 0; i < starts; i++)); do
        read -r ms pid < <(start_timed "$bin" "$name" "$arg")
        times+=("$ms")
        stop "$pid"
        sleep 0.3
    done
    R[start_med_$prog]=$(printf '%s\n' "${times[@]}" | median)
    R[start_max_$prog]=$(printf '%s\n' "${times[@]}" | maximum)
done

echo "Memory and CPU..." >&2
for prog in koravex baseline textbase; do
    read -r bin name arg < <(program $prog)
    read -r _ pid < <(start_timed "$bin" "$name" "$arg")
    win=$(xdotool search --onlyvisible --name "^$name\$" | head -1)
    sleep "$settle"
    R[rss_shown_$prog]=$(rss_kb "$pid")
    if [ $prog = koravex ]; then
        R[cpu_default_$prog]=$(cpu_percent "$pid" "$cpu_period")
        set_interval "$win" 100
        show_tab "$win" 0
        R[cpu_mem_$prog]=$(cpu_percent "$pid" "$cpu_period")
        show_tab "$win" 2
        R[cpu_net_$prog]=$(cpu_percent "$pid" "$cpu_period")
    elif [ $prog = baseline ]; then
        R[cpu_default_$prog]=$(cpu_percent "$pid" "$cpu_period")
        R[cpu_mem_$prog]=${R[cpu_default_$prog]}
        R[cpu_net_$prog]=${R[cpu_default_$prog]}
    fi
    "$xprobe" close "$name" || true
    sleep "$settle"
    R[rss_hidden_$prog]=$(rss_kb "$pid")
    [ $prog = textbase ] || R[cpu_hidden_$prog]=$(cpu_percent "$pid" "$cpu_period")
    stop "$pid"
    sleep 0.5
done

echo "Hand-over ($starts second starts)..." >&2
read -r _ first < <(start_timed "$koravex" Koravex)
sleep 2
times=()
for ((i = 0; i < starts; i++)); do
    "$xprobe" close Koravex
    sleep 0.5
    "$xprobe" viewable Koravex && { echo "window did not hide" >&2; exit 1; }
    ms=$("$xprobe" wait-map Koravex -- "$koravex" | awk '{print $1}')
    times+=("$ms")
    sleep 0.5
done
R[handover]=$(printf '%s\n' "${times[@]}" | median)
stop "$first"
sleep 0.5

echo "Growth (${growth_period} s at 100 ms)..." >&2
read -r _ pid < <(start_timed "$koravex" Koravex)
win=$(xdotool search --onlyvisible --name '^Koravex$' | head -1)
sleep 2
set_interval "$win" 100
show_tab "$win" 2
samples=()
for ((t = 0; t <= growth_period; t += growth_step)); do
    samples+=("$t $(rss_kb "$pid")")
    [ $t -lt $growth_period ] && sleep "$growth_step"
done
stop "$pid"
slope=$(printf '%s\n' "${samples[@]}" | awk '{n++; sx+=$1; sy+=$2; sxx+=$1*$1; sxy+=$1*$2}
    END {d=n*sxx-sx*sx; if (d==0) print 0; else printf "%.2f", (n*sxy-sx*sy)/d*60}')
first_rss=$(printf '%s\n' "${samples[@]}" | head -1 | awk '{print $2}')
last_rss=$(printf '%s\n' "${samples[@]}" | tail -1 | awk '{print $2}')

cat <<TABLE
| Figure | Koravex | Baseline | Baseline with text | Target |
|---|---|---|---|---|
| Start-up, exec to window mapped, median of $starts (ms) | ${R[start_med_koravex]} | ${R[start_med_baseline]} | ${R[start_med_textbase]} | at most 1.5 x baseline |
| Start-up, max of $starts (ms) | ${R[start_max_koravex]} | ${R[start_max_baseline]} | ${R[start_max_textbase]} | |
| RSS ${settle} s after start, shown (KiB) | ${R[rss_shown_koravex]} | ${R[rss_shown_baseline]} | ${R[rss_shown_textbase]} | at most baseline + 4096 |
| RSS hidden (KiB) | ${R[rss_hidden_koravex]} | ${R[rss_hidden_baseline]} | ${R[rss_hidden_textbase]} | at most baseline + 4096 |
| CPU, 100 ms interval, memory tab shown (% of a core) | ${R[cpu_mem_koravex]} | ${R[cpu_mem_baseline]} | | at most 1 |
| CPU, 100 ms interval, network tab shown | ${R[cpu_net_koravex]} | ${R[cpu_net_baseline]} | | at most 1 |
| CPU, 100 ms interval, hidden | ${R[cpu_hidden_koravex]} | ${R[cpu_hidden_baseline]} | | at most 0.2 |
| CPU, default 5000 ms interval, shown | ${R[cpu_default_koravex]} | ${R[cpu_default_baseline]} | | idle |
| Hand-over, second start to window shown, median of $starts (ms) | ${R[handover]} | | | under 100 |
| RSS growth over ${growth_period} s at 100 ms (KiB: first, last, slope per minute) | ${first_rss} -> ${last_rss}, ${slope}/min | | | under 1024 in all |
TABLE
