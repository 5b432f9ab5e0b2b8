#!/usr/bin/env bash
# CPU time of one update of a general-purpose monitor (conky; Debian conky-cli or conky-std) showing the
# figures of one Koravex refresh: memory, swap, size and free space of /, each interface's
# totals. Two runs of different lengths; the difference divided by the extra updates leaves
# out start-up. Compare with BM_FullRefresh of probes_bench, run at the same time.
# Usage: bench/conky_peer.sh [SHORT LONG]   (default 50 550 updates)
set -euo pipefail
short=${1:-50}
long=${2:-550}
command -v conky >/dev/null || { echo "conky is not installed (Debian: conky-std)" >&2; exit 1; }
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT

text='${mem} ${memmax} ${swap} ${swapmax} ${fs_size /} ${fs_free /}'
for i in /sys/class/net/*; do
    n=$(basename "$i")
    text+=" \${totaldown $n} \${totalup $n}"
done

cpu_of() {  # runs conky for $1 updates, prints user+system CPU seconds of the run
    cat >"$dir/conky.conf" <<CONF
conky.config = { out_to_console = true, background = false,
                 update_interval = 0.02, total_run_times = $1, use_spacer = "none" };
conky.text = [[
$text
]];
CONF
    /usr/bin/time -f "%U %S" -o "$dir/time" conky -c "$dir/conky.conf" >"$dir/out"
    [ "$(wc -l <"$dir/out")" -eq "$1" ] || { echo "conky printed $(wc -l <"$dir/out") of $1 updates" >&2; exit 1; }
    awk '{ print $1 + $2 }' "$dir/time"
}

a=$(cpu_of "$short")
b=$(cpu_of "$long")
awk -v a="$a" -v b="$b" -v n=$((long - short)) \
    'BEGIN { printf "conky: %.0f us of CPU per update (%d updates, %.2f s vs %.2f s)\n", (b - a) * 1e6 / n, n, b, a }'
