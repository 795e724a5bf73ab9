#!/usr/bin/env bash
# The F0 of a recorded voice, as the demo, the soak and the whole-program
# tests measure it: bash scripts/voice-f0.sh FILE.wav
# Prints "<F0 Hz> <frames in the voice's band> <voiced frames>", F0 0 when
# nothing is voiced.
#
# aubiopitch (yin) gives one F0 a frame. A morphed voice, above all one with
# its formants moved up, has frames where the tracker locks onto a harmonic,
# scattered from twice the F0 upwards; a plain median over all frames drifts
# up with their share. So the figure is the median of the densest band
# of frames whose top is 1.5625 times its bottom (25 % either side of its
# middle): the voice itself, not its harmonics.
set -euo pipefail
[ $# -eq 1 ] || { echo "usage: voice-f0.sh FILE.wav" >&2; exit 2; }
aubiopitch -i "$1" -p yin -l 0.2 -s -40 -B 1024 -H 256 |
  awk '$2 > 50 && $2 < 600 { print $2 }' | sort -n |
  awk '{ v[NR] = $1 }
    END {
      if (NR == 0) { print "0 0 0"; exit }
      best = 0; top = 1
      for (bottom = 1; bottom <= NR; bottom++) {
        if (top < bottom) top = bottom
        while (top < NR && v[top + 1] <= v[bottom] * 1.5625) top++
        if (top - bottom + 1 > best) { best = top - bottom + 1; from = bottom }
      }
      printf "%.1f %d %d\n", v[from + int((best - 1) / 2)], best, NR
    }'
