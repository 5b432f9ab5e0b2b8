#!/usr/bin/env bash
# Runs interfaces_bench in a network namespace of its own holding N ifb interfaces (default
# 1000), then deletes the namespace. Needs root.
# Usage: bench/netns_bench.sh [path/to/interfaces_bench] [N] [benchmark options...]
set -euo pipefail
bench=${1:-build/release/bench/interfaces_bench}
count=${2:-1000}
shift $(( $# > 2 ? 2 : $# ))
[ "$(id -u)" -eq 0 ] || { echo "netns_bench.sh: needs root" >&2; exit 1; }
[ -x "$bench" ] || { echo "netns_bench.sh: no benchmark at $bench" >&2; exit 1; }

ns=koravex-bench-$$
batch=$(mktemp)
cleanup() { ip netns delete "$ns" 2>/dev/null || true; rm -f "$batch"; }
trap cleanup EXIT
ip netns add "$ns"
for ((i = 0; i < count; i++)); do echo "link add ifb$i type ifb"; done >"$batch"
ip -n "$ns" -batch "$batch"
ip -n "$ns" link set lo up
echo "namespace $ns: $(ip -n "$ns" -o link | wc -l) interfaces"
ip netns exec "$ns" "$bench" "$@"
