#!/usr/bin/env bash
# A session bus of a run's own, with no services to start on demand, so the
# programs a run starts (the window's remote control, parlunectl) never reach
# the machine's bus.
#
# Usage: source this file, then `private_bus_start DIR` (the bus's socket and
# configuration go into DIR; exports DBUS_SESSION_BUS_ADDRESS) and
# `private_bus_stop`.
_private_bus_pid=""
private_bus_start() {
  cat >"$1/session-bus.conf" <<EOF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir=$1</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
EOF
  local out
  out=$(dbus-daemon --config-file="$1/session-bus.conf" --fork --print-address=1 --print-pid=1)
  DBUS_SESSION_BUS_ADDRESS=$(sed -n 1p <<<"$out")
  export DBUS_SESSION_BUS_ADDRESS
  _private_bus_pid=$(sed -n 2p <<<"$out")
}
private_bus_stop() {
  if [ -n "$_private_bus_pid" ]; then kill "$_private_bus_pid" 2>/dev/null || true; fi
  _private_bus_pid=""
}
