#!/usr/bin/env bash
# Renders the speech sample through every preset into $build/demo/<preset>.wav
# and prints the median F0 of the input and of each output. Needs a finished
# build (scripts/build.sh).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${PARLUNE_BUILD_DIR:-$root/build}
render="$build/bin/parlune-render"
speech="$build/assets/speech16k.wav"
out="$build/demo"
for need in "$render" "$speech"; do
  [ -e "$need" ] || { echo "demo: $need is missing; build first (scripts/build.sh)" >&2; exit 1; }
done
mkdir -p "$out"

# Median F0 in Hz over the voiced frames, or the rough frequency when the
# pitch tracker is not installed.
measure() {
  if command -v aubiopitch >/dev/null; then
    aubiopitch -i "$1" -p yin -l 0.2 -s -40 -B 1024 -H 256 |
      awk '$2 > 60 && $2 < 500 { print $2 }' | sort -n |
      awk '{ v[NR] = $1 } END { if (NR) printf "%.1f Hz F0", v[int((NR + 1) / 2)]; else print "unvoiced" }'
  else
    sox "$1" -n stat 2>&1 | awk -F: '/Rough/ { printf "%.1f Hz rough frequency", $2 }'
  fi
}

echo "Input: $speech ($(measure "$speech"))"
while read -r preset; do
  file="$out/$preset.wav"
  "$render" --preset "$preset" "$speech" "$file" >/dev/null
  printf '%-8s -> %s (%s)\n' "$preset" "$file" "$(measure "$file")"
done < <("$render" --list-presets)
echo "Rendered voices are in $out"
