#!/usr/bin/env bash
# What a restart of the audio server costs, on each server (a private one
# each, from scripts/private-pulse.sh): for the live chain, Looptap and the
# program, the time from the server being back with its devices to sound
# flowing again (median of the rounds; one restart each), the failures of
# the virtual device's ensure step right after a restart, and then the
# latencies by the burst method (scripts/latency.sh). Prints figures only;
# nothing here is a test.
# Usage: bash scripts/recovery.sh [rounds (5)] [ensure rounds (50)] [server...]
#        servers: pulseaudio pipewire (default both)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${PARLUNE_BUILD_DIR:-$root/build}
rounds=${1:-5}
ensure_rounds=${2:-50}
shift $(($# < 2 ? $# : 2))
servers=("$@")
[ ${#servers[@]} -gt 0 ] || servers=(pulseaudio pipewire)

cmake --build "$build" --target parlune-recovery parlune-latency parlune swaplane >/dev/null

# shellcheck source=private-pulse.sh
source "$root/scripts/private-pulse.sh"
trap private_pulse_stop EXIT

summary=()
for server in "${servers[@]}"; do
  echo "== $server"
  export PARLUNE_SERVER=$server
  private_pulse_start
  # The program's data and runtime files stay private.
  export XDG_DATA_HOME="$PRIVATE_PULSE_DIR/home/.local/share"
  export XDG_RUNTIME_DIR="$PRIVATE_PULSE_DIR/run"
  for path in live looptap program; do
    out=$("$build/bin/parlune-recovery" --path "$path" --rounds "$rounds" 2>/dev/null || true)
    grep -E '^round ' <<<"$out" | sed 's/^/  /' || true
    while IFS= read -r line; do summary+=("$server: $line"); done < <(grep -E '^recovery ' <<<"$out")
  done
  out=$("$build/bin/parlune-recovery" --path ensure --rounds "$ensure_rounds" 2>/dev/null || true)
  while IFS= read -r line; do summary+=("$server: $line"); done < <(grep -E '^ensure ' <<<"$out")
  private_pulse_stop
  while IFS= read -r line; do summary+=("$server: $line"); done < <(
    PARLUNE_BUILD_DIR=$build bash "$root/scripts/latency.sh" 2>/dev/null | grep -E '^latency ')
done

echo "== figures"
printf '%s\n' "${summary[@]}"
