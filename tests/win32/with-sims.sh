#!/usr/bin/env bash
# Runs a command while simulated devices sit behind COM ports of the Wine prefix.
#   with-sims.sh SIM 'comN:ARGS' ['comM:ARGS' ...] -- COMMAND...
# Each device is vorn-sim with ARGS, linked as $WINEPREFIX/dosdevices/comN.
set -u
: "${WINEPREFIX:?}"
sim=$1
shift
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
  wait 2>/dev/null
}
trap cleanup EXIT
while [ $# -gt 0 ] && [ "$1" != "--" ]; do
  port=${1%%:*}
  args=${1#*:}
  link="$WINEPREFIX/dosdevices/$port"
  rm -f "$link"
  # shellcheck disable=SC2086
  "$sim" --link "$link" $args >/dev/null &
  pids+=($!)
  for _ in $(seq 100); do [ -e "$link" ] && break; sleep 0.05; done
  shift
done
shift
"$@"
