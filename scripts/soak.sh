#!/usr/bin/env bash
# Soak run of the whole program: the built program on a private audio server
# and a private virtual display (scripts/whole-program.sh) for N minutes
# (default 60), the speech sample looping into the microphone, and each minute
# the next preset double-clicked in the window. Each minute it prints the
# preset's voice on PARLUNE-01 Microphone against the file render of the same
# preset, the microphone-to-virtual-microphone latency (three bursts, with the
# speech paused) and the resident memory. At the end it quits with the close
# button and prints: resident memory at start and end and its growth, the
# latency band over the run, the pass-through latency at start and end, the
# live chain's underruns and rate corrections (the program's own count), the
# CPU share, whether config.ini, favorites.dat and PlayDev.ini are intact,
# and the default playback device after quitting.
#
#   bash scripts/soak.sh [minutes]
#   bash scripts/soak.sh [minutes] --engine [parlune-engine-run options]
#       the live chain alone (parlune-engine-run), its status every 30 s and
#       its summary line
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${PARLUNE_BUILD_DIR:-$root/build}
minutes=${1:-60}
shift || true

if [ "${1:-}" = --engine ]; then
  shift
  cmake --build "$build" --target parlune-engine-run speech_sample >/dev/null
  # shellcheck source=private-pulse.sh
  source "$root/scripts/private-pulse.sh"
  feeder=""
  cleanup() {
    if [ -n "$feeder" ]; then
      kill -- "-$feeder" 2>/dev/null || true
      wait "$feeder" 2>/dev/null || true
    fi
    private_pulse_stop
  }
  trap cleanup EXIT
  private_pulse_start
  # Speech into the microphone for the whole run; a session of its own, so
  # the loop and its paplay end together.
  setsid bash -c 'while true; do paplay -d micsink "$0" 2>/dev/null || sleep 1; done' \
    "$build/assets/speech16k.wav" &
  feeder=$!
  echo "soak: ${minutes} min of the live chain"
  "$build/bin/parlune-engine-run" --seconds "$((minutes * 60))" --status-ms 30000 "$@" 2>/dev/null
  exit 0
fi

cmake --build "$build" --target parlune parlune-latency parlune-render swaplane speech_sample \
  >/dev/null
out="$build/soak"
mkdir -p "$out"
# shellcheck source=whole-program.sh
source "$root/scripts/whole-program.sh"
trap wp_stop EXIT

# parlune-latency's median in ms for a running path, empty when unmeasured.
latency_ms() {
  "$build/bin/parlune-latency" --path running --feed "$1" --heard "$2" --bursts "$3" 2>/dev/null |
    sed -n 's/^latency: .* median \([0-9.]*\) ms.*/\1/p' || true
}
mb() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }

echo "soak: ${minutes} min of the whole program (output in $out)"
wp_start "$out/parlune.log"
data="$XDG_DATA_HOME/Parlune"
playdev="$XDG_RUNTIME_DIR/PlayDev.ini"
cp "$data/favorites.dat" "$out/favorites.start"
config_start=$(head -1 "$data/config.ini")
playdev_start=$(iconv -f UTF-16LE -t UTF-8 "$playdev" | paste -sd ' ')

# PulseAudio passes nothing through a virtual device for its first two seconds.
sleep 3
pass_start=$(latency_ms parlune_01 speaker.monitor 5)
wp_feed_start
sleep 5
rss_start=$(wp_rss_kb)
cpu_start=$(wp_cpu_seconds)
started=$(date +%s)

# "mode ms" per minute: the morph modes differ by their own delay.
latencies=()
deviations=()
applied=0
for minute in $(seq 1 "$minutes"); do
  minute_start=$(date +%s)
  index=$(((minute - 1) % ${#wp_presets[@]}))
  preset=${wp_presets[$index]}
  line="minute $minute/$minutes: $preset"
  if wp_preset "$preset"; then
    applied=$((applied + 1))
    name=$(echo "$preset" | tr '[:upper:]' '[:lower:]')
    [ -e "$out/$name-file.wav" ] ||
      "$build/bin/parlune-render" --preset "$name" "$wp_speech" "$out/$name-file.wav" >/dev/null
    # One pass of the speech sample, as the file render has it.
    wp_record parlune_01_mic "$out/voice.wav" 12
    live=$(wp_f0 "$out/voice.wav")
    file=$(wp_f0 "$out/$name-file.wav")
    deviation=$(awk -v a="$live" -v b="$file" 'BEGIN { if (b > 0) printf "%+.1f", (a / b - 1) * 100 }')
    deviations+=("$deviation")
    line+=", F0 $live Hz against $file Hz from the file ($deviation %)"
  else
    line+=" not applied"
  fi
  sleep $((minute_start + 46 - $(date +%s))) 2>/dev/null || true
  wp_feed_stop
  sleep 1
  ms=$(latency_ms micsink parlune_01_mic 3)
  wp_feed_start
  [ -n "$ms" ] && latencies+=("${wp_preset_modes[$index]} $ms")
  echo "$line, latency ${ms:-not measured} ms, RSS $(mb "$(wp_rss_kb)") MB"
  if [ "$minute" -lt "$minutes" ]; then
    sleep $((minute_start + 60 - $(date +%s))) 2>/dev/null || true
  fi
done

rss_end=$(wp_rss_kb)
cpu_end=$(wp_cpu_seconds)
ended=$(date +%s)
wp_feed_stop
sleep 1
pass_end=$(latency_ms parlune_01 speaker.monitor 5)

# The data files while the program still runs, then after it quit.
files_state() {
  local state=""
  [ "$(head -1 "$data/config.ini")" = "$config_start" ] && state+="config.ini intact ($config_start)" ||
    state+="config.ini CHANGED: $(head -c 80 "$data/config.ini" | tr '\n' ' ')"
  cmp -s "$data/favorites.dat" "$out/favorites.start" &&
    state+=", favorites.dat intact ($(stat -c %s "$data/favorites.dat") bytes, unchanged)" ||
    state+=", favorites.dat CHANGED ($(stat -c %s "$data/favorites.dat" 2>/dev/null || echo no) bytes)"
  local remembered
  remembered=$(iconv -f UTF-16LE -t UTF-8 "$playdev" 2>/dev/null | paste -sd ' ')
  [ "$remembered" = "$playdev_start" ] && state+=", PlayDev.ini intact ($remembered)" ||
    state+=", PlayDev.ini CHANGED: $remembered"
  echo "$state"
}
files_running=$(files_state)
wp_close
files_after=$(files_state)

# Lowest, median and highest of the minutes' latencies in mode $1 (all: any).
band() {
  printf '%s\n' "${latencies[@]}" | awk -v m="$1" 'm == "all" || $1 == m { print $2 }' | sort -n |
    awk '{ v[NR] = $1 } END { if (NR) printf "min %.1f, median %.1f, max %.1f ms (%d minutes)", v[1], v[int((NR + 1) / 2)], v[NR], NR; else print "not measured" }'
}
worst=$(printf '%s\n' "${deviations[@]}" |
  awk '{ a = $1 < 0 ? -$1 : $1; if (a >= w) { w = a; s = $1 } } END { if (NR) printf "%s %%", s; else print "-" }')
run_line=$(grep -o 'Live chain run: .*' "$out/parlune.log" | tail -1)
looptap_line=$(grep -o 'Looptap stops: .*' "$out/parlune.log" | tail -1)
cat <<EOF

soak summary ($minutes min of the whole program)
  resident memory:       $(mb "$rss_start") MB at start, $(mb "$rss_end") MB at the end ($(awk -v a="$rss_start" -v b="$rss_end" 'BEGIN { printf "%+.1f", (b - a) / 1024 }') MB)
  CPU share:             $(awk -v a="$cpu_start" -v b="$cpu_end" -v s="$((ended - started))" 'BEGIN { if (s > 0) printf "%.1f", (b - a) * 100 / s }') % of one core
  latency, microphone to virtual microphone:
    all minutes:         $(band all)
    human presets:       $(band human)
    cartoon presets:     $(band cartoon)
  pass-through latency:  ${pass_start:-not measured} ms at start, ${pass_end:-not measured} ms at the end
  presets applied:       $applied of $minutes; worst F0 against the file render: $worst
  live chain:            ${run_line#Live chain run: }
  Looptap:               ${looptap_line#Looptap stops: }
  data files, running:   $files_running
  data files, after quit: $files_after
  default playback device after quit: $(pactl get-default-sink)
EOF
