#!/usr/bin/env bash
# Starts a private PulseAudio whose null sinks serve as the sound card:
#   speaker     the user's speaker (default sink)
#   headphones  a second output device
#   micsink     what is played here is heard by the "Microphone" source
#   mic         "Microphone", a capture device remapped from micsink's monitor
# Usage: source this file, then call private_pulse_start / private_pulse_stop.
# Exports PULSE_SERVER (and XDG_RUNTIME_DIR when it had none) for children.

private_pulse_start() {
  PRIVATE_PULSE_DIR=$(mktemp -d /tmp/parlune-pulse.XXXXXX)
  export PRIVATE_PULSE_DIR
  mkdir -p "$PRIVATE_PULSE_DIR/home" "$PRIVATE_PULSE_DIR/run"
  chmod 700 "$PRIVATE_PULSE_DIR/run"
  export PULSE_SERVER="unix:$PRIVATE_PULSE_DIR/run/native"
  # Keep the server from reading the user's configuration or autospawning.
  export PULSE_CLIENTCONFIG="$PRIVATE_PULSE_DIR/client.conf"
  echo "autospawn = no" >"$PULSE_CLIENTCONFIG"
  HOME="$PRIVATE_PULSE_DIR/home" XDG_RUNTIME_DIR="$PRIVATE_PULSE_DIR/run" \
  XDG_CONFIG_HOME="$PRIVATE_PULSE_DIR/home/.config" \
    pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no \
      --log-target=file:"$PRIVATE_PULSE_DIR/pulse.log" \
      -L "module-native-protocol-unix socket=$PRIVATE_PULSE_DIR/run/native auth-anonymous=1" \
      -L "module-null-sink sink_name=speaker rate=48000 channels=2 sink_properties=device.description=Speaker" \
      -L "module-null-sink sink_name=headphones rate=44100 channels=2 sink_properties=device.description=Headphones" \
      -L "module-null-sink sink_name=micsink rate=48000 channels=1 sink_properties=device.description=MicFeed" \
      -L "module-remap-source source_name=mic master=micsink.monitor source_properties=device.description=Microphone" \
      -L "module-always-sink" \
      >/dev/null 2>&1 &
  PRIVATE_PULSE_PID=$!
  export PRIVATE_PULSE_PID
  for _ in $(seq 1 50); do
    if pactl info >/dev/null 2>&1; then
      pactl set-default-sink speaker
      pactl set-default-source mic
      return 0
    fi
    sleep 0.1
  done
  echo "private PulseAudio did not start; its log:" >&2
  cat "$PRIVATE_PULSE_DIR/pulse.log" >&2 || true
  return 1
}

private_pulse_stop() {
  if [ -n "${PRIVATE_PULSE_PID:-}" ]; then
    kill "$PRIVATE_PULSE_PID" 2>/dev/null || true
    wait "$PRIVATE_PULSE_PID" 2>/dev/null || true
  fi
  [ -n "${PRIVATE_PULSE_DIR:-}" ] && rm -rf "$PRIVATE_PULSE_DIR"
  unset PRIVATE_PULSE_PID PRIVATE_PULSE_DIR
}
