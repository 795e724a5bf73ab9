#!/usr/bin/env bash
# The whole program on a machine without a display: a private PulseAudio with
# a speaker and a microphone fed with the speech sample, the built program on
# a private virtual display, a preset applied with the mouse as a person
# would, and a report: the voice on PARLUNE-01 Microphone against the
# input's, the microphone-to-virtual-microphone and pass-through latencies,
# the program's CPU share and memory, and a picture of the window. It ends by
# closing the window with its close button and shows the default playback
# device back. Needs a finished build (scripts/build.sh).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${PARLUNE_BUILD_DIR:-$root/build}
program="$build/bin/parlune"
latency="$build/bin/parlune-latency"
speech="$build/assets/speech16k.wav"
out="$build/demo"
for need in "$program" "$latency" "$speech"; do
  [ -e "$need" ] || { echo "demo: $need is missing; build first (scripts/build.sh)" >&2; exit 1; }
done
mkdir -p "$out"

# shellcheck source=private-pulse.sh
source "$root/scripts/private-pulse.sh"
feeder=""
app=""
xvfb=""
cleanup() {
  [ -n "$feeder" ] && kill "$feeder" 2>/dev/null
  pkill -f "paplay --device=micsink" 2>/dev/null || true
  [ -n "$app" ] && kill "$app" 2>/dev/null
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null
  private_pulse_stop
}
trap cleanup EXIT
private_pulse_start
export XDG_DATA_HOME="$PRIVATE_PULSE_DIR/home/.local/share"
export XDG_RUNTIME_DIR="$PRIVATE_PULSE_DIR/run"
display=:$((90 + RANDOM % 9))
Xvfb "$display" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
export DISPLAY=$display QT_QPA_PLATFORM=xcb
sleep 1

# Median F0 in Hz over the voiced frames of a recording.
f0() {
  aubiopitch -i "$1" -p yin -l 0.2 -s -40 -B 1024 -H 256 |
    awk '$2 > 50 && $2 < 600 { print $2 }' | sort -n |
    awk '{ v[NR] = $1 } END { if (NR) printf "%.1f", v[int((NR + 1) / 2)]; else print "0" }'
}
# Records the virtual microphone for five seconds into $out/$1.wav.
record_virtual_mic() {
  parecord --device=parlune_01_mic --file-format=wav --rate=16000 --channels=1 "$out/$1.wav" &
  local rec=$!
  sleep 5
  kill "$rec"
  wait "$rec" 2>/dev/null || true
}
# The program's CPU time in seconds (user + system).
cpu_seconds() { awk '{ printf "%.2f", ($14 + $15) / 100 }' "/proc/$app/stat"; }

echo "Starting Parlune on a private audio server and display..."
"$program" >"$out/parlune.log" 2>&1 &
app=$!
for _ in $(seq 1 100); do
  grep -q "Window shown after" "$out/parlune.log" && break
  sleep 0.1
done
grep -q "Window shown after" "$out/parlune.log" || { echo "demo: the window did not show" >&2; cat "$out/parlune.log" >&2; exit 1; }
echo "$(grep -o 'Window shown after [0-9]* ms' "$out/parlune.log")"
echo "Default playback device while it runs: $(pactl get-default-sink)"

(while true; do paplay --device=micsink "$speech"; done) &
feeder=$!
sleep 2
input_f0=$(f0 "$speech")
record_virtual_mic startup
startup_f0=$(f0 "$out/startup.wav")
# ROBOT is the seventh preset of the list: a double click applies it.
xdotool mousemove 163 507 click --repeat 2 --delay 80 1
sleep 1
record_virtual_mic robot
robot_f0=$(f0 "$out/robot.wav")
# Human mode, then the pad's right edge: pitch 1.7.
xdotool mousemove 855 155 click 1
sleep 0.3
xdotool mousemove 612 300 mousedown 1 mousemove 750 300 mousemove 900 300 mouseup 1
sleep 1
record_virtual_mic pitch17
pitch17_f0=$(f0 "$out/pitch17.wav")

cpu0=$(cpu_seconds)
sleep 10
cpu1=$(cpu_seconds)
rss=$(awk '/VmRSS/ { printf "%.1f", $2 / 1024 }' "/proc/$app/status")
import -window root -crop 1098x727+0+0 "$out/window.png" 2>/dev/null || true

kill "$feeder"
feeder=""
pkill -f "paplay --device=micsink" 2>/dev/null || true
sleep 1
mic_latency=$("$latency" --path running --feed micsink --heard parlune_01_mic --bursts 5 |
  grep '^latency:' || echo "not measured")
pass_latency=$("$latency" --path running --feed parlune_01 --heard speaker.monitor --bursts 5 |
  grep '^latency:' || echo "not measured")

# The close button, as a person quits.
xdotool mousemove 1075 22 click 1
for _ in $(seq 1 100); do
  kill -0 "$app" 2>/dev/null || break
  sleep 0.1
done
if kill -0 "$app" 2>/dev/null; then
  echo "demo: the program did not quit" >&2
else
  wait "$app" 2>/dev/null || true
fi
app=""

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.3f", a / b; else print "-" }'; }
cat <<EOF

Parlune demo report
  input voice (speech sample):           F0 $input_f0 Hz
  PARLUNE-01 Microphone, start-up voice: F0 $startup_f0 Hz (ratio $(ratio "$startup_f0" "$input_f0"))
  after a double click on ROBOT:         F0 $robot_f0 Hz (ratio $(ratio "$robot_f0" "$input_f0"))
  human mode, pad at its right edge:     F0 $pitch17_f0 Hz (ratio $(ratio "$pitch17_f0" "$input_f0"), pitch 1.7)
  microphone to virtual microphone:      ${mic_latency#latency: }
  pass-through (PARLUNE-01 to speaker):  ${pass_latency#latency: }
  CPU share over 10 s:                   $(awk -v a="$cpu0" -v b="$cpu1" 'BEGIN { printf "%.1f", (b - a) * 10 }') % of one core
  resident memory:                       $rss MB
  window picture:                        $out/window.png
  recordings:                            $out/startup.wav, robot.wav, pitch17.wav
  default playback device after quit:    $(pactl get-default-sink)
EOF
