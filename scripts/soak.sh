#!/usr/bin/env bash
# Soak run of the live chain: runs it for N minutes (default 10) against a
# private PulseAudio with speech looping into the microphone, and reports the
# latency band held, the underruns (playback overtaking the recording in the
# ring), the device underruns (the output running out of mixed audio) and the
# resident memory at start and end.
# Usage: bash scripts/soak.sh [minutes] [extra parlune-engine-run options]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${PARLUNE_BUILD_DIR:-$root/build}
minutes=${1:-10}
shift || true

cmake --build "$build" --target parlune-engine-run speech_sample >/dev/null
speech="$build/assets/speech16k.wav"

# shellcheck source=private-pulse.sh
source "$root/scripts/private-pulse.sh"
feeder=""
cleanup() {
  if [ -n "$feeder" ]; then
    kill "$feeder" 2>/dev/null || true
    wait "$feeder" 2>/dev/null || true
  fi
  private_pulse_stop
}
trap cleanup EXIT
private_pulse_start

# Speech into the microphone for the whole run.
( while true; do paplay --device=micsink "$speech" 2>/dev/null || sleep 1; done ) &
feeder=$!

echo "soak: ${minutes} min of the live chain"
"$build/bin/parlune-engine-run" --seconds "$((minutes * 60))" --status-ms 30000 "$@" 2>/dev/null
