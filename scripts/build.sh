#!/usr/bin/env bash
# Configures and builds Parlune into build/ (or $PARLUNE_BUILD_DIR).
# PARLUNE_BUILD_TYPE picks the build type, PARLUNE_WERROR=ON makes warnings
# errors, PARLUNE_BUILD_CMAKE_ARGS adds configure options.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${PARLUNE_BUILD_DIR:-$root/build}
type=${PARLUNE_BUILD_TYPE:-RelWithDebInfo}
# shellcheck disable=SC2086
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE="$type" \
  -DPARLUNE_WERROR="${PARLUNE_WERROR:-OFF}" ${PARLUNE_BUILD_CMAKE_ARGS:-} >/dev/null
cmake --build "$build" -j "$(nproc)"
