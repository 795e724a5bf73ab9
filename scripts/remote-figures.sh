#!/usr/bin/env bash
# Figures for the remote control, with the real program running (offscreen)
# on a private audio server and a private session bus:
#   - the round trip of a method call from a connected client and of
#     `parlunectl status` as a new process (build/bin/parlune_bench_remote);
#   - the time from `parlunectl preset ROBOT` to the changed voice on
#     "PARLUNE-01 Microphone": a steady voiced tone plays into the microphone,
#     the virtual microphone is recorded, and the F0 (aubiopitch, as the demo
#     measures it) is followed after each call (parlune-switch-timing). The
#     tracker's own delay, measured on the same tone changing at a known
#     moment, is taken off;
#   - the microphone to virtual microphone latency by bursts
#     (parlune-latency --path running), since the goal is the change heard
#     within one 64 ms block of the call plus that latency.
# Needs a finished build (scripts/build.sh).
#
#   bash scripts/remote-figures.sh [cycles]    # default 10 preset calls
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${PARLUNE_BUILD_DIR:-$root/build}
cycles=${1:-10}
out="$build/remote-figures"
for need in parlune parlunectl parlune-latency parlune-switch-timing parlune_bench_remote; do
  [ -x "$build/bin/$need" ] || { echo "remote-figures: $build/bin/$need is missing; build first" >&2; exit 1; }
done
command -v aubiopitch >/dev/null || { echo "remote-figures: aubiopitch is missing (aubio-tools)" >&2; exit 1; }
mkdir -p "$out"

# shellcheck source=private-pulse.sh
source "$root/scripts/private-pulse.sh"
app=""
cleanup() {
  if [ -n "$app" ]; then kill "$app" 2>/dev/null || true; wait "$app" 2>/dev/null || true; fi
  private_bus_stop
  private_pulse_stop
}
trap cleanup EXIT
private_pulse_start
export XDG_DATA_HOME="$PRIVATE_PULSE_DIR/home/.local/share"
export XDG_RUNTIME_DIR="$PRIVATE_PULSE_DIR/run"
# A session bus of this run's own, nothing started on demand.
# shellcheck source=private-bus.sh
source "$root/scripts/private-bus.sh"
private_bus_start "$PRIVATE_PULSE_DIR"

echo "Starting Parlune on a private audio server and session bus..."
QT_QPA_PLATFORM=offscreen "$build/bin/parlune" >"$out/parlune.log" 2>&1 &
app=$!
for _ in $(seq 1 100); do
  grep -q "Remote control on the session bus" "$out/parlune.log" && break
  sleep 0.1
done
grep -q "Remote control on the session bus" "$out/parlune.log" ||
  { echo "remote-figures: the remote control did not start" >&2; cat "$out/parlune.log" >&2; exit 1; }
# A virtual device loaded a moment ago passes nothing for its first seconds.
sleep 3

echo "Round trips..."
round_trips=$("$build/bin/parlune_bench_remote" 1000 100)

echo "Microphone to virtual microphone latency..."
chain=$("$build/bin/parlune-latency" --path running --feed micsink --heard parlune_01_mic --bursts 6 |
  grep '^latency:' || echo "latency: not measured")
chain_ms=$(sed -n 's/.*median \([0-9.]*\) ms.*/\1/p' <<<"$chain")

echo "Preset calls against the voice on the virtual microphone ($cycles calls)..."
"$build/bin/parlune-switch-timing" --cycles "$cycles" --out "$out/switch.wav" \
  --calibration "$out/switch-calibration.wav" >"$out/switch.txt"
ratio=$(sed -n 's/.*(pitch \([0-9.]*\)).*/\1/p' "$out/switch.txt")
step=$(sed -n 's/.*F0 changes at \([0-9.]*\) s.*/\1/p' "$out/switch.txt")

# F0 frames ("time f0") of a recording, 5 ms apart.
f0_track() { aubiopitch -i "$1" -p yin -l 0.2 -s -40 -B 2048 -H 240; }
# For each call moment on standard input: the delay (ms) to the first frame
# from which three frames in a row (15 ms) hold an F0 nearer the new voice's
# (the one before the call times the ratio) than the old one, and not an
# octave off; "none" within 0.8 s. The live chain's drift correction may move
# both by up to 5 %, so the frames are judged by which of the two they are
# nearer; the cartoon morph's output is irregular for a moment after a jump
# of the voice, so a longer run would be broken by it. Then the count of
# silent frames between the call and that frame: a gap in the output there
# hides the change until the sound is back.
delays() {
  awk -v ratio="$ratio" -v track="$1" '
    function median(a, m,    i, j, x) {
      for (i = 2; i <= m; i++) { x = a[i]; for (j = i - 1; j > 0 && a[j] > x; j--) a[j + 1] = a[j]; a[j + 1] = x }
      return a[int((m + 1) / 2)]
    }
    BEGIN { while ((getline line < track) > 0) { split(line, v, " "); n++; t[n] = v[1]; f[n] = v[2] } }
    {
      c = $1; m = 0
      for (i = 1; i <= n; i++) if (t[i] >= c - 0.6 && t[i] < c - 0.02 && f[i] > 50) base[++m] = f[i]
      if (m == 0) { print "none 0"; next }
      b = median(base, m); split("", base)
      target = b * ratio; middle = (b + target) / 2; found = "none"
      for (i = 1; i <= n && found == "none"; i++) {
        if (t[i] < c || t[i] > c + 0.8) continue
        ok = 1
        for (j = i; j < i + 3 && j <= n; j++) if (f[j] < target * 0.85 || f[j] > middle) ok = 0
        if (ok) {
          silent = 0
          for (j = 1; j < i; j++) if (t[j] >= c && f[j] == 0) silent++
          found = sprintf("%.1f %d", (t[i] - c) * 1000, silent)
        }
      }
      print (found == "none" ? "none 0" : found)
    }'
}
f0_track "$out/switch.wav" >"$out/switch-f0.txt"
f0_track "$out/switch-calibration.wav" >"$out/switch-calibration-f0.txt"
tracker_ms=$(echo "$step" | delays "$out/switch-calibration-f0.txt" | cut -d' ' -f1)
sed -n 's/^call [0-9]* at \([0-9.]*\) s.*/\1/p' "$out/switch.txt" | delays "$out/switch-f0.txt" >"$out/switch-delays.txt"

# Median and 95th percentile of a column of numbers; "-" when there is none.
stats() {
  sort -n | awk '{ v[++n] = $1 } END {
    if (!n) { print "-"; exit }
    printf "median %.1f ms, 95th percentile %.1f ms, max %.1f ms", v[int((n + 1) / 2)], v[int(0.95 * (n - 1)) + 1], v[n] }'
}
heard_all=$(grep -v none "$out/switch-delays.txt" | awk -v d="$tracker_ms" '{ printf "%.1f\n", $1 - d }' | stats)
heard=$(awk -v d="$tracker_ms" '$1 != "none" && $2 == 0 { printf "%.1f\n", $1 - d }' "$out/switch-delays.txt" | stats)
clean=$(awk '$1 != "none" && $2 == 0' "$out/switch-delays.txt" | wc -l)
missed=$(grep -c none "$out/switch-delays.txt" || true)
silent=$(awk '$2 == 0 { s++ } END { printf "%.1f", 100 * s / NR }' "$out/switch-f0.txt")
client=$(sed -n 's/.*parlunectl done after \([0-9.]*\) ms.*/\1/p' "$out/switch.txt" | stats)
goal=$(awk -v l="$chain_ms" 'BEGIN { if (l != "") printf "%.1f ms (64 ms + %.1f ms)", 64 + l, l; else print "-" }')

cat <<EOF

Parlune remote control figures
$(sed 's/^/  /' <<<"$round_trips")
  parlunectl preset ROBOT, start to exit:  $client
  the call to the changed voice heard:     $heard
    ($clean of $cycles calls, those with no gap in the sound before the change;
    over all of them: $heard_all, $missed not found)
    (on PARLUNE-01 Microphone, F0 by aubiopitch; its own delay of ${tracker_ms} ms taken off;
    the recording is silent in $silent % of its frames)
  microphone to virtual microphone:        ${chain#latency: }
  goal, one 64 ms block plus that latency: $goal
  recordings and F0 tracks:                $out
EOF
