#!/usr/bin/env bash
# bench/probe.sh [N]: N probes (default 200) of Bumple's engine against a loopback HTTP
# server, printing per-probe wall and CPU time and bytes sent, side by side with curl doing
# the same request in a shell loop. Three runs of each; medians. Builds Release first.
# Runs inside a private network namespace (needs root): nothing leaves the machine.
set -euo pipefail
source "$(dirname "$0")/lib.sh"
N=${1:-200}
if [ "${BUMPLE_BENCH_NETNS:-0}" != 1 ]; then
    bench_build
fi
enter_netns "$0" "$@"
new_workdir probe
trap cleanup EXIT
prog_env
machine_info "$WORK/machine.json"
start_server "$WORK/server.log"
probe_phase "$N" "${BUMPLE_BENCH_RUNS:-3}"
$ANALYZE report "$WORK"
