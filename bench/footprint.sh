#!/usr/bin/env bash
# Measures the whole program as a user runs it, beside a bare Qt tray program and two peers
# (gkrellm and conky's X11 build), on a virtual X display with a tray host, and prints one
# table. Every program is started, driven and measured the same way in the same run.
# As root it runs in a network and mount namespace of its own, where every figure the
# programs show moves: a bounded UDP sender on lo (200 bytes every 20 ms) and a tmpfs drive
# that is written and truncated in a bounded loop (1 MiB a second); every program is started
# in that drive, so Koravex's drives tab shows it (the current directory's drive) and conky
# shows its free space too. Without root the traffic goes over the machine's own lo and the
# file is written into a scratch directory on the drive of /tmp (and the drives tab shows C:).
#   bench/footprint.sh [BUILD_DIR] [--quick] [--updates]
# --quick shortens every period (for checking the script itself; the figures are then rough);
# --updates measures only the CPU per update (full length), the rest of the table stays empty.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
quick=0 updates_only=0
for arg in "${@:2}"; do
    case $arg in
        --quick) quick=1 ;;
        --updates) updates_only=1 ;;
        *) echo "unknown option $arg" >&2; exit 2 ;;
    esac
done

koravex=$PWD/$build/shell/koravex
baseline=$PWD/$build/bench/koravex-baseline
xprobe=$PWD/$build/bench/xprobe
conky_conf=$PWD/bench/conky_peer.conf
for f in "$koravex" "$baseline" "$xprobe"; do
    [ -x "$f" ] || { echo "missing $f: build $build first" >&2; exit 1; }
done

starts=20 settle=10 cpu_period=30 update_period=60 rounds=2 growth_period=600 growth_step=30
if [ $quick = 1 ]; then
    starts=3 settle=3 cpu_period=10 update_period=10 rounds=1 growth_period=30 growth_step=15
fi

if [ -z "${KORAVEX_FOOTPRINT_INNER:-}" ]; then
    if [ -z "${KORAVEX_FOOTPRINT_NS:-}" ]; then
        bash scripts/deps.sh bench  # the peers, xdotool and the X tools, when missing
        if [ "$(id -u)" = 0 ]; then
            export KORAVEX_FOOTPRINT_NS=1
            exec unshare -n -m "$0" "$@"
        fi
        export KORAVEX_FOOTPRINT_NS=0
    fi
    export KORAVEX_FOOTPRINT_INNER=1
    # A runtime directory of its own: the instance measured never meets one the user runs.
    XDG_RUNTIME_DIR=$(mktemp -d /tmp/koravex-rt.XXXXXX)
    export XDG_RUNTIME_DIR
    chmod 700 "$XDG_RUNTIME_DIR"
    exec xvfb-run -a -s "-screen 0 1280x800x24 -nolisten tcp" dbus-run-session -- "$0" "$@"
fi

# Every process this script starts is recorded here and only these are ended.
started=()
work=$(mktemp -d /tmp/koravex-footprint.XXXXXX)
cleanup() {
    # A program the update phase had stopped (SIGSTOP) ends only once it is let run again.
    for p in "${started[@]}"; do kill "$p" 2>/dev/null && kill -CONT "$p" 2>/dev/null || true; done
    if [ "$KORAVEX_FOOTPRINT_NS" = 1 ] && [ -n "${drive:-}" ]; then
        umount -l "$drive" 2>/dev/null || true
        rmdir "$drive" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

# What moves. Both load generators end by themselves after four hours at the latest, and with
# this script in any case.
bound=14400
drive=$work/drive
if [ "$KORAVEX_FOOTPRINT_NS" = 1 ]; then
    # A tmpfs is a drive where a user mounts one (under /mnt); this one only in this namespace.
    drive=$(mktemp -d /mnt/koravex-footprint.XXXXXX)
    ip link set lo up
    # gkrellm charts only interfaces the main routing table lists (it still showed no chart for
    # lo in the runs of docs/performance.md).
    ip route add 127.0.0.0/8 dev lo table main
    mount -t tmpfs -o size=64m koravex-bench "$drive"
    moving="lo and a 64 MiB tmpfs, in namespaces of their own"
else
    moving="the machine's lo and a file on the drive of /tmp (not in namespaces of their own)"
    mkdir -p "$drive"
fi
python3 - "$bound" <<'PY' &
import socket, sys, time
end = time.monotonic() + float(sys.argv[1])
rx = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
rx.bind(("127.0.0.1", 0))
rx.setblocking(False)
tx = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
payload = b"k" * 200
due = time.monotonic()
while due < end:
    tx.sendto(payload, rx.getsockname())
    try:
        while True:
            rx.recv(2048)
    except BlockingIOError:
        pass
    due += 0.02
    time.sleep(max(0.0, due - time.monotonic()))
PY
started+=($!)
python3 - "$bound" "$drive/filling" <<'PY' &
import sys, time
end = time.monotonic() + float(sys.argv[1])
chunk = b"\xa5" * (256 * 1024)
with open(sys.argv[2], "wb") as f:
    while time.monotonic() < end:
        for _ in range(48):  # 12 MiB in 12 s, then empty again
            f.write(chunk)
            f.flush()
            time.sleep(0.25)
        f.truncate(0)
        f.seek(0)
PY
started+=($!)
export KORAVEX_PEER_DRIVE=$drive  # conky's configuration shows this drive's free space

trayer --edge top --align right --widthtype pixel --width 120 --height 24 --SetDockType true \
    >/dev/null 2>&1 &
started+=($!)
sleep 1

# The X server of this display (its lock file holds its process id).
xserver=$(tr -dc 0-9 <"/tmp/.X${DISPLAY#:}-lock" 2>/dev/null || true)
xserver=${xserver%%.*}
[ -n "$xserver" ] && [ -d "/proc/$xserver" ] || { echo "cannot find the X server of $DISPLAY" >&2; exit 1; }

# gkrellm at one update a second, its first-start dialog answered by a configuration.
peer_home=$work/home
mkdir -p "$peer_home/.gkrellm2"
printf 'update_HZ 1\n' >"$peer_home/.gkrellm2/user-config"

median() { sort -n | awk '{a[NR]=$1} END {if (NR==0) {print "-"; exit} m=(NR%2)?a[(NR+1)/2]:(a[NR/2]+a[NR/2+1])/2; printf "%.1f", m}'; }
maximum() { sort -n | tail -1; }
# A process and all its descendants (Koravex makes its drive calls in helper processes of
# its own; their time and memory are the program's too).
tree() {
    ps -e -o pid=,ppid= | awk -v r="$1" '{par[$1] = $2}
        END {out[r] = 1; more = 1
             while (more) {more = 0; for (k in par) if (!(k in out) && (par[k] in out)) {out[k] = 1; more = 1}}
             for (k in out) print k}'
}
helpers() { tree "$1" | grep -vx "$1" || true; }
# Resident memory of the process itself; its helpers' is shown apart (forked, they share
# pages with it, so a sum would count those twice).
rss_kb() { awk '/^VmRSS/ {print $2}' /proc/"$1"/status; }
rss_helpers_kb() {
    local s=0 p
    for p in $(helpers "$1"); do s=$((s + $(awk '/^VmRSS/ {print $2}' /proc/"$p"/status 2>/dev/null || echo 0))); done
    echo $s
}
# Private dirty memory of the process and its helpers (private pages are counted once).
dirty_kb() {
    local p
    for p in $(tree "$1"); do cat /proc/"$p"/smaps_rollup 2>/dev/null || true; done |
        awk '/^Private_Dirty/ {s+=$2} END {print s}'
}
tck=$(getconf CLK_TCK)
# User plus system CPU time of a process and its helpers (all threads), in clock ticks.
cpu_ticks() {
    local p
    for p in $(tree "$1"); do sed 's/.*) //' /proc/"$p"/stat 2>/dev/null || true; done |
        awk '{s += $12 + $13} END {print s}'
}
# The same run time as the scheduler counts it, in nanoseconds (utime+stime is this count
# split into user and system time and rounded down to whole ticks).
cpu_ns() {
    local p
    for p in $(tree "$1"); do cat /proc/"$p"/task/*/schedstat 2>/dev/null || true; done |
        awk '{s+=$1} END {print s}'
}
# Context switches of every thread: each wake-up of a sleeping thread is one.
wakeups() {
    local p
    for p in $(tree "$1"); do cat /proc/"$p"/task/*/status 2>/dev/null || true; done |
        awk '/ctxt_switches/ {s+=$2} END {print s}'
}
# Ends a process this script started (xprobe forked it) and waits until it is gone.
stop() {
    kill "$1" 2>/dev/null || true
    for _ in $(seq 100); do kill -0 "$1" 2>/dev/null || return 0; sleep 0.05; done
    kill -9 "$1" 2>/dev/null || true
}

# The programs measured: key -> window name and command line.
declare -A NAME CMD
NAME[koravex]=Koravex CMD[koravex]="$koravex"
NAME[baseline]=Baseline CMD[baseline]="$baseline"
NAME[textbase]=Baseline CMD[textbase]="$baseline --text"
NAME[gkrellm]=gkrellm CMD[gkrellm]="env HOME=$peer_home gkrellm"
NAME[conky]=ConkyPeer CMD[conky]="conky -q -c $conky_conf"
# Starts a program and waits for its window; sets MS (exec to window mapped) and PID.
# (read from a process substitution: the program keeps xprobe's output open.)
launch() {
    MS='' PID=''
    # shellcheck disable=SC2086  # the command lines above hold no quoted words
    read -r MS PID < <(cd "$drive" && exec "$xprobe" wait-map "${NAME[$1]}" -- ${CMD[$1]})
    [ -n "$PID" ] || { echo "${NAME[$1]} did not show its window" >&2; exit 1; }
    started+=("$PID")
}
window_of() { xdotool search --onlyvisible --name "^$1\$" | head -1; }

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

# Start-up, the programs in turn within each round, so that a change of load on the
# machine falls on all of them alike.
progs=(koravex baseline textbase gkrellm conky)
if [ $updates_only = 0 ]; then
echo "Start-up ($starts starts each, in turn)..." >&2
declare -A TIMES
for ((i = 0; i < starts; i++)); do
    for prog in "${progs[@]}"; do
        launch $prog
        TIMES[$prog]+="$MS "
        stop "$PID"
        sleep 0.3
    done
done
for prog in "${progs[@]}"; do
    R[start_med_$prog]=$(printf '%s\n' ${TIMES[$prog]} | median)
    R[start_max_$prog]=$(printf '%s\n' ${TIMES[$prog]} | maximum)
done

echo "Memory, and Koravex's CPU at 100 ms..." >&2
for prog in "${progs[@]}"; do
    launch $prog
    pid=$PID
    win=$(window_of "${NAME[$prog]}")
    sleep "$settle"
    R[rss_shown_$prog]=$(rss_kb "$pid")
    R[rss_helpers_$prog]=$(rss_helpers_kb "$pid")
    R[dirty_shown_$prog]=$(dirty_kb "$pid")
    case $prog in
        koravex)
            R[cpu_default_$prog]=$(cpu_percent "$pid" "$cpu_period")
            set_interval "$win" 100
            show_tab "$win" 0
            R[cpu_mem_$prog]=$(cpu_percent "$pid" "$cpu_period")
            show_tab "$win" 2
            R[cpu_net_$prog]=$(cpu_percent "$pid" "$cpu_period")
            ;;
        baseline)
            x0=$(cpu_ns "$xserver")
            R[cpu_default_$prog]=$(cpu_percent "$pid" "$cpu_period")
            x1=$(cpu_ns "$xserver")
            # The X server's own pace with nothing updating, per second.
            R[x_idle]=$(awk -v d=$((x1 - x0)) -v s="$cpu_period" 'BEGIN {printf "%.3f", d / 1e6 / s}')
            ;;
    esac
    if [ $prog != gkrellm ] && [ $prog != conky ]; then
        "$xprobe" close "${NAME[$prog]}" || true
        sleep "$settle"
        R[rss_hidden_$prog]=$(rss_kb "$pid")
        R[dirty_hidden_$prog]=$(dirty_kb "$pid")
        if [ $prog = koravex ]; then
            w0=$(wakeups "$pid")
            R[cpu_hidden_$prog]=$(cpu_percent "$pid" "$cpu_period")
            w1=$(wakeups "$pid")
            R[wake_hidden]=$(awk -v d=$((w1 - w0)) -v s="$cpu_period" 'BEGIN {printf "%.2f", d / s}')
        fi
    fi
    stop "$pid"
    sleep 0.5
done
fi

# CPU per update at one update a second. The three programs run at once but only the one
# measured is let run (the others are stopped with SIGSTOP), so the X server's time in the
# period is the measured program's; the columns take turns within each round.
echo "CPU per update at 1 s ($rounds rounds of ${update_period} s per column)..." >&2
declare -A PIDS
for prog in koravex gkrellm conky; do
    launch $prog
    PIDS[$prog]=$PID
done
kwin=$(window_of Koravex)
sleep 2
set_interval "$kwin" 1000
sleep "$settle"
for prog in gkrellm conky; do kill -STOP "${PIDS[$prog]}"; done
columns=(k_mem k_drv k_net gkrellm conky)
declare -A CPU_T CPU_NS X_T X_NS
for c in "${columns[@]}"; do CPU_T[$c]=0 CPU_NS[$c]=0 X_T[$c]=0 X_NS[$c]=0; done
measure() {  # column pid
    local t0 n0 x0 xn0
    t0=$(cpu_ticks "$2") n0=$(cpu_ns "$2") x0=$(cpu_ticks "$xserver") xn0=$(cpu_ns "$xserver")
    sleep "$update_period"
    CPU_T[$1]=$((CPU_T[$1] + $(cpu_ticks "$2") - t0))
    CPU_NS[$1]=$((CPU_NS[$1] + $(cpu_ns "$2") - n0))
    X_T[$1]=$((X_T[$1] + $(cpu_ticks "$xserver") - x0))
    X_NS[$1]=$((X_NS[$1] + $(cpu_ns "$xserver") - xn0))
}
for ((r = 0; r < rounds; r++)); do
    for c in "${columns[@]}"; do
        case $c in
            k_mem) show_tab "$kwin" 0; sleep 2; measure $c "${PIDS[koravex]}" ;;
            k_drv) show_tab "$kwin" 1; sleep 2; measure $c "${PIDS[koravex]}" ;;
            k_net)
                show_tab "$kwin" 2; sleep 2; measure $c "${PIDS[koravex]}"
                kill -STOP "${PIDS[koravex]}"
                ;;
            *)
                kill -CONT "${PIDS[$c]}"; sleep 2
                measure $c "${PIDS[$c]}"
                kill -STOP "${PIDS[$c]}"
                ;;
        esac
    done
    kill -CONT "${PIDS[koravex]}"
done
updates=$((rounds * update_period))  # one update a second in every column
for c in "${columns[@]}"; do
    R[upd_$c]=$(awk -v d="${CPU_T[$c]}" -v t="$tck" -v n=$updates 'BEGIN {printf "%.3f", d / t * 1000 / n}')
    R[updns_$c]=$(awk -v d="${CPU_NS[$c]}" -v n=$updates 'BEGIN {printf "%.3f", d / 1e6 / n}')
    R[updx_$c]=$(awk -v d="${X_T[$c]}" -v t="$tck" -v n=$updates 'BEGIN {printf "%.3f", d / t * 1000 / n}')
    R[updxns_$c]=$(awk -v d="${X_NS[$c]}" -v n=$updates 'BEGIN {printf "%.3f", d / 1e6 / n}')
done
for prog in gkrellm conky; do kill -CONT "${PIDS[$prog]}"; done
for prog in koravex gkrellm conky; do stop "${PIDS[$prog]}"; done
sleep 0.5

slope='' first_rss='' last_rss=''
if [ $updates_only = 0 ]; then
echo "Hand-over ($starts second starts)..." >&2
launch koravex
first=$PID
sleep 2
times=()
for ((i = 0; i < starts; i++)); do
    "$xprobe" close Koravex
    sleep 0.5
    "$xprobe" viewable Koravex && { echo "window did not hide" >&2; exit 1; }
    ms=$(cd "$drive" && "$xprobe" wait-map Koravex -- "$koravex" | awk '{print $1}')
    times+=("$ms")
    sleep 0.5
done
R[handover]=$(printf '%s\n' "${times[@]}" | median)
stop "$first"
sleep 0.5

echo "Growth (${growth_period} s at 100 ms)..." >&2
launch koravex
pid=$PID
win=$(window_of Koravex)
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
fi

ratio() { awk -v a="$1" -v b="$2" 'BEGIN {if (b == 0) print "-"; else printf "%.2f", a / b}'; }
cat <<TABLE
Load while measuring: $(cut -d' ' -f1-3 /proc/loadavg) (1, 5, 15 min) on $(nproc) cores.
Moving at every update: $moving.

| Figure | Koravex | Baseline | Baseline with text | gkrellm | conky |
|---|---|---|---|---|---|
| Start-up, exec to window mapped, median of $starts (ms) | ${R[start_med_koravex]:-} | ${R[start_med_baseline]:-} | ${R[start_med_textbase]:-} | ${R[start_med_gkrellm]:-} | ${R[start_med_conky]:-} |
| Start-up, max of $starts (ms) | ${R[start_max_koravex]:-} | ${R[start_max_baseline]:-} | ${R[start_max_textbase]:-} | ${R[start_max_gkrellm]:-} | ${R[start_max_conky]:-} |
| RSS ${settle} s after start, shown (KiB) | ${R[rss_shown_koravex]:-} | ${R[rss_shown_baseline]:-} | ${R[rss_shown_textbase]:-} | ${R[rss_shown_gkrellm]:-} | ${R[rss_shown_conky]:-} |
| RSS of its helper processes, shown (KiB) | ${R[rss_helpers_koravex]:-} | ${R[rss_helpers_baseline]:-} | ${R[rss_helpers_textbase]:-} | ${R[rss_helpers_gkrellm]:-} | ${R[rss_helpers_conky]:-} |
| Private dirty with the helpers, shown (KiB) | ${R[dirty_shown_koravex]:-} | ${R[dirty_shown_baseline]:-} | ${R[dirty_shown_textbase]:-} | ${R[dirty_shown_gkrellm]:-} | ${R[dirty_shown_conky]:-} |
| RSS hidden (KiB) | ${R[rss_hidden_koravex]:-} | ${R[rss_hidden_baseline]:-} | ${R[rss_hidden_textbase]:-} | | |
| Private dirty with the helpers, hidden (KiB) | ${R[dirty_hidden_koravex]:-} | ${R[dirty_hidden_baseline]:-} | ${R[dirty_hidden_textbase]:-} | | |
| CPU per update at 1 s ($updates updates), ms: memory tab | ${R[updns_k_mem]:-} | | | ${R[updns_gkrellm]:-} | ${R[updns_conky]:-} |
| the same, drives tab | ${R[updns_k_drv]:-} | | | | |
| the same, network tab | ${R[updns_k_net]:-} | | | | |
| the same from utime+stime (10 ms ticks): memory, drives, network tab | ${R[upd_k_mem]:-}, ${R[upd_k_drv]:-}, ${R[upd_k_net]:-} | | | ${R[upd_gkrellm]:-} | ${R[upd_conky]:-} |
| X server CPU per update in the same periods, ms: memory, drives, network tab | ${R[updxns_k_mem]:-}, ${R[updxns_k_drv]:-}, ${R[updxns_k_net]:-} | ${R[x_idle]:-} a second, idle | | ${R[updxns_gkrellm]:-} | ${R[updxns_conky]:-} |
| the same from utime+stime | ${R[updx_k_mem]:-}, ${R[updx_k_drv]:-}, ${R[updx_k_net]:-} | | | ${R[updx_gkrellm]:-} | ${R[updx_conky]:-} |
| CPU per update against gkrellm's: memory, drives, network tab | $(ratio "${R[updns_k_mem]:-0}" "${R[updns_gkrellm]:-0}"), $(ratio "${R[updns_k_drv]:-0}" "${R[updns_gkrellm]:-0}"), $(ratio "${R[updns_k_net]:-0}" "${R[updns_gkrellm]:-0}") | | | 1 | $(ratio "${R[updns_conky]:-0}" "${R[updns_gkrellm]:-0}") |
| CPU, 100 ms interval, memory tab shown (% of a core) | ${R[cpu_mem_koravex]:-} | ${R[cpu_default_baseline]:-} | | | |
| CPU, 100 ms interval, network tab shown | ${R[cpu_net_koravex]:-} | | | | |
| CPU, 100 ms interval, hidden, no drive ticked | ${R[cpu_hidden_koravex]:-} | | | | |
| Wake-ups a second, hidden, no drive ticked (context switches of all threads) | ${R[wake_hidden]:-} | | | | |
| CPU, default 5000 ms interval, shown | ${R[cpu_default_koravex]:-} | | | | |
| Hand-over, second start to window shown, median of $starts (ms) | ${R[handover]:-} | | | | |
| RSS growth over ${growth_period} s at 100 ms, network tab (KiB: first, last, slope per minute) | ${first_rss} -> ${last_rss}, ${slope}/min | | | | |
TABLE
