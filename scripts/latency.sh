#!/usr/bin/env bash
# Measures latency against a private PulseAudio with parlune-latency: voiced
# bursts are played into a path's input, and each burst's delay is the time
# between its onsets on the input's monitor and on the output's monitor.
# Paths: the live chain from the microphone to the default sink in each morph
# mode, then Looptap from PARLUNE-01 to the speaker. Prints the median of the
# run medians per mode and for Looptap.
# Usage: bash scripts/latency.sh [bursts per run] [runs per mode]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${PARLUNE_BUILD_DIR:-$root/build}
bursts=${1:-6}
runs=${2:-3}

cmake --build "$build" --target parlune-latency >/dev/null

# shellcheck source=private-pulse.sh
source "$root/scripts/private-pulse.sh"
trap private_pulse_stop EXIT
private_pulse_start
# Looptap's data folder and runtime files stay private too.
export XDG_DATA_HOME="$PRIVATE_PULSE_DIR/home/.local/share"
export XDG_RUNTIME_DIR="$PRIVATE_PULSE_DIR/run"

# Runs parlune-latency `runs` times and prints the median of its medians.
measure() {
  local name=$1; shift
  local medians=() line m
  for _ in $(seq 1 "$runs"); do
    line=$("$build/bin/parlune-latency" --bursts "$bursts" "$@" 2>/dev/null | grep '^latency:' || true)
    echo "  $line"
    m=$(sed -n 's/.*median \([0-9.]*\) ms.*/\1/p' <<<"$line")
    [ -n "$m" ] && medians+=("$m")
  done
  if [ ${#medians[@]} -gt 0 ]; then
    sorted=$(printf '%s\n' "${medians[@]}" | sort -n)
    mid=$(sed -n "$(( (${#medians[@]} + 1) / 2 ))p" <<<"$sorted")
    echo "latency $name: median of run medians ${mid} ms (runs: ${medians[*]})"
  else
    echo "latency $name: not measured"
  fi
}

for mode in off cartoon human; do
  extra=(); [ "$mode" = human ] && extra=(--pitch 1 --formant 1)
  measure "$mode" --path live --mode "$mode" "${extra[@]}" --settle 6
done
measure looptap --path looptap --speaker Speaker
