#!/usr/bin/env bash
# Runs the whole test suite: installs what is missing, builds, starts a private
# PulseAudio (the sound card) and runs ctest with the offscreen Qt platform.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/deps.sh"
bash "$root/scripts/build.sh"
build=${PARLUNE_BUILD_DIR:-$root/build}

# shellcheck source=private-pulse.sh
source "$root/scripts/private-pulse.sh"
trap private_pulse_stop EXIT
private_pulse_start

export PARLUNE_REQUIRE_PULSE=1
export QT_QPA_PLATFORM=offscreen
# Data and temporary folders of the program under test stay private.
export XDG_DATA_HOME="$PRIVATE_PULSE_DIR/home/.local/share"
export XDG_RUNTIME_DIR="$PRIVATE_PULSE_DIR/run"
cd "$build"
ctest --output-on-failure --timeout 600 -j 2 "$@"
