#!/usr/bin/env bash
# Starts a private audio server whose null sinks serve as the sound card:
#   speaker     the user's speaker (default sink)
#   headphones  a second output device
#   micsink     what is played here is heard by the "Microphone" source
#   mic         "Microphone", a mono capture device remapped from micsink's monitor
# PARLUNE_SERVER picks the server: "pulseaudio" (the default) or "pipewire"
# (pipewire, wireplumber and pipewire-pulse on a private D-Bus session; the
# devices are loaded through pipewire-pulse as modules).
#
# Usage: source this file, then call private_pulse_start / private_pulse_stop.
# Exports PULSE_SERVER (and XDG_RUNTIME_DIR when it had none) for children,
# and PRIVATE_PULSE_CTL, this file's path: `bash "$PRIVATE_PULSE_CTL" restart`
# (with PRIVATE_PULSE_DIR set) ends the server process that clients talk to
# and starts it again with the same devices; tests of recovery use it.

# The server's pulse side with its devices; $1 is "pulseaudio" or "pipewire".
_private_pulse_launch() {
  local dir=$PRIVATE_PULSE_DIR
  (
    # The server outlives whoever started it and keeps none of their
    # descriptors: pipewire-pulse would hold a test's output pipe open (as
    # gtest's captured stderr keeps a copy of it) and keep ctest waiting.
    local fd
    for fd in /proc/$BASHPID/fd/*; do
      fd=${fd##*/}
      [ "$fd" -gt 2 ] 2>/dev/null && eval "exec $fd>&-"
    done
    export HOME="$dir/home" XDG_RUNTIME_DIR="$dir/run" XDG_CONFIG_HOME="$dir/home/.config" \
      XDG_STATE_HOME="$dir/home/.local/state"
    if [ "$1" = pipewire ]; then
      # shellcheck disable=SC1091
      source "$dir/dbus.env"
      exec pipewire-pulse >>"$dir/pipewire-pulse.log" 2>&1
    fi
    exec pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no \
      --log-target=file:"$dir/pulse.log" \
      -L "module-native-protocol-unix socket=$dir/run/native auth-anonymous=1" \
      -L "module-null-sink sink_name=speaker rate=48000 channels=2 sink_properties=device.description=Speaker" \
      -L "module-null-sink sink_name=headphones rate=44100 channels=2 sink_properties=device.description=Headphones" \
      -L "module-null-sink sink_name=micsink rate=48000 channels=1 sink_properties=device.description=MicFeed" \
      -L "module-remap-source source_name=mic master=micsink.monitor channels=1 channel_map=mono source_properties=device.description=Microphone" \
      -L "module-always-sink" \
      >/dev/null 2>&1
  ) &
  echo $! >"$dir/server.pid"
  local _
  for _ in $(seq 1 50); do
    if pactl info >/dev/null 2>&1; then
      if [ "$1" = pipewire ]; then
        pactl load-module module-null-sink sink_name=speaker rate=48000 channels=2 \
          sink_properties=device.description=Speaker >/dev/null &&
          pactl load-module module-null-sink sink_name=headphones rate=44100 channels=2 \
            sink_properties=device.description=Headphones >/dev/null &&
          pactl load-module module-null-sink sink_name=micsink rate=48000 channels=1 \
            sink_properties=device.description=MicFeed >/dev/null &&
          pactl load-module module-remap-source source_name=mic master=micsink.monitor \
            channels=1 channel_map=mono source_properties=device.description=Microphone \
            >/dev/null || return 1
        # The server acknowledges loads before it lists the devices.
        for _ in $(seq 1 50); do
          pactl list short sources | grep -q "	mic	" && break
          sleep 0.05
        done
      fi
      pactl set-default-sink speaker
      pactl set-default-source mic
      return 0
    fi
    sleep 0.1
  done
  echo "private $1 did not start; its log:" >&2
  cat "$dir/pulse.log" "$dir/pipewire-pulse.log" >&2 2>/dev/null || true
  return 1
}

_private_pulse_kill() {
  local pid
  pid=$(cat "$1" 2>/dev/null) || return 0
  kill "$pid" 2>/dev/null || true
  # Not a child when run from the restart command: wait by polling.
  for _ in $(seq 1 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.02; done
  rm -f "$1"
}

private_pulse_start() {
  local server=${PARLUNE_SERVER:-pulseaudio}
  PRIVATE_PULSE_DIR=$(mktemp -d /tmp/parlune-pulse.XXXXXX)
  export PRIVATE_PULSE_DIR
  mkdir -p "$PRIVATE_PULSE_DIR/home/.config" "$PRIVATE_PULSE_DIR/run"
  chmod 700 "$PRIVATE_PULSE_DIR/run"
  echo "$server" >"$PRIVATE_PULSE_DIR/server"
  # Keep clients from reading the user's configuration or autospawning.
  export PULSE_CLIENTCONFIG="$PRIVATE_PULSE_DIR/client.conf"
  echo "autospawn = no" >"$PULSE_CLIENTCONFIG"
  PRIVATE_PULSE_CTL=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/private-pulse.sh
  export PRIVATE_PULSE_CTL
  case "$server" in
    pulseaudio)
      export PULSE_SERVER="unix:$PRIVATE_PULSE_DIR/run/native"
      ;;
    pipewire)
      export PULSE_SERVER="unix:$PRIVATE_PULSE_DIR/run/pulse/native"
      # A session bus of its own, so nothing of the machine's session is used.
      dbus-daemon --session --fork --print-address=1 --print-pid=1 >"$PRIVATE_PULSE_DIR/dbus.out"
      {
        echo "export DBUS_SESSION_BUS_ADDRESS='$(sed -n 1p "$PRIVATE_PULSE_DIR/dbus.out")'"
      } >"$PRIVATE_PULSE_DIR/dbus.env"
      sed -n 2p "$PRIVATE_PULSE_DIR/dbus.out" >"$PRIVATE_PULSE_DIR/dbus.pid"
      local name
      for name in pipewire wireplumber; do
        (
          export HOME="$PRIVATE_PULSE_DIR/home" XDG_RUNTIME_DIR="$PRIVATE_PULSE_DIR/run" \
            XDG_CONFIG_HOME="$PRIVATE_PULSE_DIR/home/.config" \
            XDG_STATE_HOME="$PRIVATE_PULSE_DIR/home/.local/state"
          # shellcheck disable=SC1091
          source "$PRIVATE_PULSE_DIR/dbus.env"
          exec "$name" >"$PRIVATE_PULSE_DIR/$name.log" 2>&1
        ) &
        echo $! >"$PRIVATE_PULSE_DIR/$name.pid"
        # WirePlumber connects to the graph pipewire makes.
        for _ in $(seq 1 50); do
          [ -S "$PRIVATE_PULSE_DIR/run/pipewire-0" ] && break
          sleep 0.05
        done
      done
      ;;
    *)
      echo "PARLUNE_SERVER must be pulseaudio or pipewire, not $server" >&2
      return 1
      ;;
  esac
  _private_pulse_launch "$server"
}

# Ends the pulse side and starts it again with the same devices.
private_pulse_restart() {
  local server
  server=$(cat "$PRIVATE_PULSE_DIR/server")
  _private_pulse_kill "$PRIVATE_PULSE_DIR/server.pid"
  _private_pulse_launch "$server"
}

private_pulse_stop() {
  if [ -n "${PRIVATE_PULSE_DIR:-}" ]; then
    local name
    for name in server wireplumber pipewire dbus; do
      _private_pulse_kill "$PRIVATE_PULSE_DIR/$name.pid"
    done
    rm -rf "$PRIVATE_PULSE_DIR"
  fi
  unset PRIVATE_PULSE_DIR PRIVATE_PULSE_CTL
}

if [ "${BASH_SOURCE[0]}" = "$0" ] && [ "${1:-}" = restart ]; then
  set -eu
  : "${PRIVATE_PULSE_DIR:?names the running private server}"
  private_pulse_restart
fi
