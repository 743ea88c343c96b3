#!/usr/bin/env bash
# Runs a host against one simulated device: VORN_PORTS points the driver at it.
#   run-with-sim.sh VORN-SIM SERIAL -- COMMAND...
set -u
sim=$1 serial=$2
shift 3
dir=$(mktemp -d)
"$sim" --serial "$serial" --link "$dir/port" >/dev/null &
pid=$!
trap 'kill $pid 2>/dev/null; wait $pid 2>/dev/null; rm -rf "$dir"' EXIT
for _ in $(seq 100); do [ -e "$dir/port" ] && break; sleep 0.05; done
VORN_PORTS="$serial=$dir/port" "$@"
