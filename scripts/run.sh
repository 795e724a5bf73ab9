#!/usr/bin/env bash
# Runs Parlune: the window when a display is there, otherwise the demo, which
# renders the speech sample through every preset.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/deps.sh"
bash "$root/scripts/build.sh" >/dev/null
build=${PARLUNE_BUILD_DIR:-$root/build}
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -x "$build/bin/parlune" ]; then
  exec "$build/bin/parlune" "$@"
fi
exec bash "$root/scripts/demo.sh"
