# shellcheck shell=bash
# The built program as a person runs it, for the demo and the soak: a private
# audio server (scripts/private-pulse.sh), a private virtual display, the
# program with its own data and runtime folders, the speech sample looping
# into the microphone, and the window driven with the mouse (xdotool).
#
# Usage: set build (the build folder), source this file, call wp_start LOG,
# and wp_stop on the way out (trap). Only processes started here are ever
# ended here, each by its id.

# shellcheck source=private-pulse.sh
source "$(dirname "${BASH_SOURCE[0]}")/private-pulse.sh"

wp_scripts=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
wp_speech="$build/assets/speech16k.wav"
wp_app=""
wp_xvfb=""
wp_feeder=""
wp_window=""
wp_log=""

# Window points, relative to the window's top left corner.
wp_close_button=(1075 22)
wp_human_button=(855 155)
# The presets list: DAVID JOHN ALICE EMILY GOBLIN MEERKAT ROBOT ALIEN, one
# every 56 pixels.
wp_presets=(DAVID JOHN ALICE EMILY GOBLIN MEERKAT ROBOT ALIEN)
wp_preset_modes=(human human human human cartoon cartoon cartoon cartoon)
wp_preset_x=163
wp_preset_first_y=171
wp_preset_step=56

# Starts server, display and program; the program's output goes to $1.
# Returns once the window is on screen and PARLUNE-01 is the default.
wp_start() {
  wp_log=$1
  private_pulse_start
  export XDG_DATA_HOME="$PRIVATE_PULSE_DIR/home/.local/share"
  export XDG_RUNTIME_DIR="$PRIVATE_PULSE_DIR/run"
  # Xvfb picks a free display itself and writes its number when it is ready.
  Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$PRIVATE_PULSE_DIR/display" \
    >/dev/null 2>&1 &
  wp_xvfb=$!
  local _
  for _ in $(seq 1 100); do
    [ -s "$PRIVATE_PULSE_DIR/display" ] && break
    sleep 0.1
  done
  [ -s "$PRIVATE_PULSE_DIR/display" ] || { echo "the virtual display did not start" >&2; return 1; }
  export DISPLAY=":$(head -1 "$PRIVATE_PULSE_DIR/display")" QT_QPA_PLATFORM=xcb

  "$build/bin/parlune" >"$wp_log" 2>&1 &
  wp_app=$!
  for _ in $(seq 1 200); do
    grep -q "Window shown after" "$wp_log" && [ "$(pactl get-default-sink)" = parlune_01 ] && break
    kill -0 "$wp_app" 2>/dev/null || break
    sleep 0.1
  done
  if ! grep -q "Window shown after" "$wp_log"; then
    echo "the window did not show; the program's output:" >&2
    cat "$wp_log" >&2
    return 1
  fi
  wp_window=$(xdotool search --onlyvisible --pid "$wp_app" | head -1)
  [ -n "$wp_window" ] || { echo "the program's window is not on the display" >&2; return 1; }
}

# The speech sample into the microphone, over and over, until wp_feed_stop.
wp_feed_start() {
  [ -z "$wp_feeder" ] || return 0
  # A session of its own, so the loop and its paplay end together.
  setsid bash -c 'while true; do paplay -d micsink "$0" || sleep 1; done' \
    "$wp_speech" >/dev/null 2>&1 &
  wp_feeder=$!
}

wp_feed_stop() {
  [ -n "$wp_feeder" ] || return 0
  kill -- "-$wp_feeder" 2>/dev/null || true
  wait "$wp_feeder" 2>/dev/null || true
  wp_feeder=""
}

# Records source $1 for $3 seconds into $2 (16 kHz mono WAV).
wp_record() {
  parecord --device="$1" --file-format=wav --rate=16000 --channels=1 --latency-msec=50 "$2" &
  local recorder=$!
  sleep "$3"
  kill -INT "$recorder"
  wait "$recorder" 2>/dev/null || true
}

# The voice's F0 in Hz (scripts/voice-f0.sh), 0 when it cannot be measured.
wp_f0() {
  local measured
  measured=$(bash "$wp_scripts/voice-f0.sh" "$1" 2>/dev/null) || measured=0
  echo "${measured%% *}"
}

# A click (or $3 clicks, 80 ms apart) at window point $1 $2.
wp_click() {
  xdotool mousemove --window "$wp_window" "$1" "$2" click --repeat "${3:-1}" --delay 80 1
}

# Double-clicks preset $1 (its name) and waits until the window applied it.
wp_preset() {
  local i
  for i in "${!wp_presets[@]}"; do
    [ "${wp_presets[$i]}" = "$1" ] || continue
    local before
    before=$(grep -c "isCArtoon?" "$wp_log" || true)
    wp_click "$wp_preset_x" $((wp_preset_first_y + i * wp_preset_step)) 2
    local _
    for _ in $(seq 1 50); do
      [ "$(grep -c "isCArtoon?" "$wp_log" || true)" -gt "$before" ] && return 0
      sleep 0.1
    done
    echo "the window did not apply $1" >&2
    return 1
  done
  echo "no preset $1" >&2
  return 1
}

# The program's CPU time in seconds (user + system) and its resident memory.
wp_cpu_seconds() { awk '{ printf "%.2f", ($14 + $15) / 100 }' "/proc/$wp_app/stat"; }
wp_rss_kb() { awk '/VmRSS/ { print $2 }' "/proc/$wp_app/status"; }

# The close button, as a person quits; returns once the program has ended.
wp_close() {
  wp_click "${wp_close_button[@]}"
  local _
  for _ in $(seq 1 100); do
    kill -0 "$wp_app" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$wp_app" 2>/dev/null; then
    echo "the program did not quit" >&2
    return 1
  fi
  wait "$wp_app" 2>/dev/null || true
  wp_app=""
}

wp_stop() {
  wp_feed_stop
  if [ -n "$wp_app" ]; then
    kill "$wp_app" 2>/dev/null || true
    wait "$wp_app" 2>/dev/null || true
    wp_app=""
  fi
  if [ -n "$wp_xvfb" ]; then
    kill "$wp_xvfb" 2>/dev/null || true
    wait "$wp_xvfb" 2>/dev/null || true
    wp_xvfb=""
  fi
  private_pulse_stop
}
