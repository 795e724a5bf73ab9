#!/usr/bin/env bash
# Measures the live chain's latency from the microphone to the default sink's
# monitor against a private PulseAudio: voiced bursts are played into the
# microphone, and the delay of each in the output is found by correlating
# the two recordings' envelopes. Prints the median per morph mode.
# Usage: bash scripts/latency.sh [bursts per run] [runs per mode]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${PARLUNE_BUILD_DIR:-$root/build}
bursts=${1:-6}
runs=${2:-3}

cmake --build "$build" --target parlune-engine-run >/dev/null

# shellcheck source=private-pulse.sh
source "$root/scripts/private-pulse.sh"
trap private_pulse_stop EXIT
private_pulse_start

for mode in off cartoon human; do
  medians=()
  for _ in $(seq 1 "$runs"); do
    extra=(); [ "$mode" = human ] && extra=(--pitch 1 --formant 1)
    line=$("$build/bin/parlune-engine-run" --mode "$mode" "${extra[@]}" --measure-latency "$bursts" --settle 6 \
           2>/dev/null | grep '^latency:' || true)
    echo "  $line"
    m=$(sed -n 's/.*median \([0-9]*\) ms.*/\1/p' <<<"$line")
    [ -n "$m" ] && medians+=("$m")
  done
  if [ ${#medians[@]} -gt 0 ]; then
    sorted=$(printf '%s\n' "${medians[@]}" | sort -n)
    mid=$(sed -n "$(( (${#medians[@]} + 1) / 2 ))p" <<<"$sorted")
    echo "latency $mode: median of run medians ${mid} ms (runs: ${medians[*]})"
  else
    echo "latency $mode: not measured"
  fi
done
