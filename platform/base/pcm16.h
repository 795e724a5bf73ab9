// The one conversion between float samples and 16-bit PCM. Every place that
// writes or reads 16-bit samples uses it: the mixer's user sounds, the WAV
// writer, the wave devices, Capwell.
//
// Full scale is 32768 both ways and the rounding is to nearest (ties to
// even), so a 16-bit sample taken to float and back comes back bit for bit.
// Beyond full scale the value is clamped to -32768 .. 32767; +inf gives 32767,
// -inf -32768, and NaN 0, so a damaged sample is a moment of silence rather
// than a full-scale click.
//
// Thread contract: pure functions without state; real-time safe on any thread.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>

namespace parlune::base {

inline int16_t toPcm16(float sample) {
    if (std::isnan(sample)) return 0;
    // Uses the default rounding mode, which nothing in the program changes.
    const float scaled = std::nearbyint(sample * 32768.0f);
    if (scaled >= 32767.0f) return 32767;
    if (scaled <= -32768.0f) return -32768;
    return static_cast<int16_t>(scaled);
}

inline float fromPcm16(int16_t sample) { return static_cast<float>(sample) * (1.0f / 32768.0f); }

// Sets every NaN and infinity of a block to 0. Audio entering the program
// (decoded files, capture) goes through it before any resampler or filter,
// which would otherwise spread one bad sample into a full-scale click.
inline void silenceNonFinite(float* samples, size_t count) {
    for (size_t i = 0; i < count; ++i)
        if (!std::isfinite(samples[i])) samples[i] = 0.0f;
}

}  // namespace parlune::base
