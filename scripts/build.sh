#!/usr/bin/env bash
# Configures and builds Parlune into build/ (or $PARLUNE_BUILD_DIR).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${PARLUNE_BUILD_DIR:-$root/build}
type=${PARLUNE_BUILD_TYPE:-RelWithDebInfo}
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE="$type" >/dev/null
cmake --build "$build" -j "$(nproc)"
