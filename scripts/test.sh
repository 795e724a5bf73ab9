#!/usr/bin/env bash
# Runs the whole test suite: installs what is missing, builds, starts a private
# PulseAudio (the sound card) and a private session bus, and runs ctest with
# the offscreen Qt platform.
#
#   bash scripts/test.sh [ctest options]          the whole suite
#   bash scripts/test.sh --server pipewire [ctest options]
#                                                 the same against a private
#                                                 PipeWire (pipewire-pulse)
#   bash scripts/test.sh --asan [ctest options]   the server-free tests built with
#                                                 AddressSanitizer and UBSan
#   bash scripts/test.sh --tsan [ctest options]   the same with ThreadSanitizer
#
# Warnings are errors when PARLUNE_WERROR=ON (CI sets it).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
sanitizer=""
case "${1:-}" in
  --asan) sanitizer=asan; shift ;;
  --tsan) sanitizer=tsan; shift ;;
  --server) export PARLUNE_SERVER=$2; shift 2 ;;
esac
bash "$root/scripts/deps.sh"

# A session bus of the run's own (the tests of the remote control start a
# bus of their own besides, so they may run side by side).
# shellcheck source=private-bus.sh
source "$root/scripts/private-bus.sh"

export QT_QPA_PLATFORM=offscreen
if [ -z "$sanitizer" ]; then
  build=${PARLUNE_BUILD_DIR:-$root/build}
  PARLUNE_BUILD_DIR=$build bash "$root/scripts/build.sh"
  # shellcheck source=private-pulse.sh
  source "$root/scripts/private-pulse.sh"
  trap 'private_bus_stop; private_pulse_stop' EXIT
  private_pulse_start
  private_bus_start "$PRIVATE_PULSE_DIR"
  export PARLUNE_REQUIRE_PULSE=1
  # Data and temporary folders of the program under test stay private.
  export XDG_DATA_HOME="$PRIVATE_PULSE_DIR/home/.local/share"
  export XDG_RUNTIME_DIR="$PRIVATE_PULSE_DIR/run"
  cd "$build"
  ctest --output-on-failure --timeout 600 -j 2 "$@"
else
  build=${PARLUNE_BUILD_DIR:-$root/build-$sanitizer}
  option=PARLUNE_${sanitizer^^}
  PARLUNE_BUILD_DIR=$build PARLUNE_BUILD_CMAKE_ARGS="-D$option=ON" bash "$root/scripts/build.sh"
  # No server here: the tests that need one skip themselves, and the label
  # keeps them from being started at all.
  unset PULSE_SERVER
  scratch=$(mktemp -d /tmp/parlune-sanitize.XXXXXX)
  trap 'private_bus_stop; rm -rf "$scratch"' EXIT
  mkdir -p "$scratch/share" "$scratch/run" && chmod 700 "$scratch/run"
  private_bus_start "$scratch"
  export XDG_DATA_HOME="$scratch/share" XDG_RUNTIME_DIR="$scratch/run"
  export PULSE_CLIENTCONFIG="$scratch/client.conf"
  echo "autospawn = no" >"$PULSE_CLIENTCONFIG"
  export ASAN_OPTIONS=${ASAN_OPTIONS:-abort_on_error=1:detect_stack_use_after_return=1}
  export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$root/tests/sanitizers/lsan.supp}
  export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
  export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1:suppressions=$root/tests/sanitizers/tsan.supp}
  cd "$build"
  ctest --output-on-failure --timeout 1200 -j 2 -LE pulse "$@"
fi
