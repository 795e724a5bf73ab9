#!/usr/bin/env bash
# Measures latency against a private audio server (PARLUNE_SERVER picks
# PulseAudio or PipeWire) with parlune-latency: each voiced burst is played
# into a path's input and at once a marker straight into its output, and its
# delay is the time between their onsets on the output's monitor.
# Paths: the live chain from the microphone to the default sink in each morph
# mode, then Looptap from PARLUNE-01 to the speaker after each start order
# (as the server is, PARLUNE-01 loaded anew, PARLUNE-01 or the speaker
# already playing) and on the 44.1 kHz headphones. Prints the median of the
# run medians, and the highest figure, per mode and start.
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

# Every run's whole output, burst by burst.
log="$build/latency-${PARLUNE_SERVER:-pulseaudio}.log"
: >"$log"

# Runs parlune-latency `runs` times and prints the median of its medians and
# the highest burst.
measure() {
  local name=$1; shift
  local medians=() highest="" line m x
  for _ in $(seq 1 "$runs"); do
    line=$("$build/bin/parlune-latency" --bursts "$bursts" "$@" 2>&1 | tee -a "$log" | grep '^latency:' || true)
    echo "  $line"
    m=$(sed -n 's/.*median \([0-9.-]*\) ms.*/\1/p' <<<"$line")
    x=$(sed -n 's/.*max \([0-9.-]*\) ms.*/\1/p' <<<"$line")
    [ -n "$m" ] && medians+=("$m")
    if [ -n "$x" ] && { [ -z "$highest" ] || awk -v a="$x" -v b="$highest" 'BEGIN { exit !(a > b) }'; }; then
      highest=$x
    fi
  done
  if [ ${#medians[@]} -gt 0 ]; then
    sorted=$(printf '%s\n' "${medians[@]}" | sort -n)
    mid=$(sed -n "$(( (${#medians[@]} + 1) / 2 ))p" <<<"$sorted")
    echo "latency $name: median of run medians ${mid} ms, highest ${highest} ms (runs: ${medians[*]})"
  else
    echo "latency $name: not measured"
  fi
}

for mode in off cartoon human; do
  extra=(); [ "$mode" = human ] && extra=(--pitch 1 --formant 1)
  measure "$mode" --path live --mode "$mode" "${extra[@]}" --settle 6
done
for start in as-is fresh-device capture-first playback-first; do
  measure "looptap $start" --path looptap --speaker Speaker --start "$start"
done
measure "looptap headphones" --path looptap --speaker Headphones
