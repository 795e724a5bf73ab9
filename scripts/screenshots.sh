#!/usr/bin/env bash
# Pictures of the real window in each state a person meets, taken on a
# private virtual display: bash scripts/screenshots.sh [FOLDER]
# (default build/screenshots). Not part of the test run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${PARLUNE_BUILD_DIR:-$root/build}
out=${1:-$build/screenshots}
bash "$root/scripts/deps.sh"
bash "$root/scripts/build.sh" >/dev/null
display=:$((90 + RANDOM % 9))
Xvfb "$display" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null || true' EXIT
sleep 1
DISPLAY=$display QT_QPA_PLATFORM=xcb "$build/bin/parlune-screenshots" "$out"
echo "Screenshots are in $out"
