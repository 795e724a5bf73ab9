#!/usr/bin/env bash
# The whole program on a machine without a display: a private PulseAudio with
# a speaker and a microphone fed with the speech sample, the built program on
# a private virtual display, a preset applied and the pad dragged with the
# mouse as a person would, and a report: the voice on PARLUNE-01 Microphone
# against the input's and against the file render of the same voice, the
# microphone-to-virtual-microphone and pass-through latencies, the program's
# CPU share and memory, and a picture of the window. It ends by closing the
# window with its close button and shows the default playback device back.
# Needs a finished build (scripts/build.sh).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${PARLUNE_BUILD_DIR:-$root/build}
out="$build/demo"
for need in "$build/bin/parlune" "$build/bin/parlune-latency" "$build/bin/parlune-render" \
  "$build/assets/speech16k.wav"; do
  [ -e "$need" ] || { echo "demo: $need is missing; build first (scripts/build.sh)" >&2; exit 1; }
done
mkdir -p "$out"

# shellcheck source=whole-program.sh
source "$root/scripts/whole-program.sh"
trap wp_stop EXIT

echo "Starting Parlune on a private audio server and display..."
wp_start "$out/parlune.log"
grep -o 'Window shown after [0-9]* ms' "$out/parlune.log"
echo "Default playback device while it runs: $(pactl get-default-sink)"

# The voice heard on PARLUNE-01 Microphone over one pass of the speech
# sample, into $out/$1.wav, and the same voice rendered from the file
# (parlune-render options after the name) into $out/$1-file.wav.
listen() {
  local name=$1
  shift
  wp_record parlune_01_mic "$out/$name.wav" 12
  "$build/bin/parlune-render" "$@" "$wp_speech" "$out/$name-file.wav" >/dev/null
}

wp_feed_start
# PulseAudio passes nothing through a virtual device for its first two seconds.
sleep 2
input_f0=$(wp_f0 "$wp_speech")
listen startup --mode cartoon --pitch 1 --formant 1.5
wp_preset ROBOT
listen robot --preset robot
# Human mode, then the pad dragged to its right edge (pitch 1.7) at the
# formant's middle.
wp_click "${wp_human_button[@]}"
sleep 0.3
xdotool mousemove --window "$wp_window" 612 300 mousedown 1 mousemove --window "$wp_window" 750 300 \
  mousemove --window "$wp_window" 900 300 mouseup 1
sleep 1
listen pitch17 --mode human --pitch 1.7 --formant 1

cpu0=$(wp_cpu_seconds)
sleep 10
cpu1=$(wp_cpu_seconds)
rss_kb=$(wp_rss_kb)
import -window "$wp_window" "$out/window.png" 2>/dev/null || echo "demo: no picture taken" >&2

wp_feed_stop
sleep 1
measure() {
  "$build/bin/parlune-latency" --path running --feed "$1" --heard "$2" --bursts 5 |
    grep '^latency:' | sed 's/^latency: //' || echo "not measured"
}
mic_latency=$(measure micsink parlune_01_mic)
pass_latency=$(measure parlune_01 speaker.monitor)

wp_close

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.3f", a / b; else print "-" }'; }
voice() {
  local live file
  live=$(wp_f0 "$out/$1.wav")
  file=$(wp_f0 "$out/$1-file.wav")
  echo "F0 $live Hz, ratio $(ratio "$live" "$input_f0") (file render: $(ratio "$file" "$input_f0"))"
}
cat <<EOF

Parlune demo report
  input voice (speech sample):           F0 $input_f0 Hz
  PARLUNE-01 Microphone, start-up voice: $(voice startup)
  after a double click on ROBOT:         $(voice robot)
  human mode, pad at its right edge:     $(voice pitch17)
  microphone to virtual microphone:      $mic_latency
  pass-through (PARLUNE-01 to speaker):  $pass_latency
  CPU share over 10 s:                   $(awk -v a="$cpu0" -v b="$cpu1" 'BEGIN { printf "%.1f", (b - a) * 10 }') % of one core
  resident memory:                       $(awk -v k="$rss_kb" 'BEGIN { printf "%.1f", k / 1024 }') MB
  window picture:                        $out/window.png
  recordings:                            $out/startup.wav, robot.wav, pitch17.wav (and *-file.wav)
  default playback device after quit:    $(pactl get-default-sink)
EOF
