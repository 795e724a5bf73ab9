// Small numeric helpers shared by the effect units (internal to this folder).
#pragma once

#include <cmath>

namespace parlune::audiolib::fx::detail {

// Recursive state decays towards zero forever; flushing tiny values keeps it
// out of the denormal range, where arithmetic is many times slower.
inline float flushTiny(float v) { return std::fabs(v) < 1e-20f ? 0.0f : v; }

// Decibels to linear gain; -80 dB and below is silence.
inline float dbToGain(float db) { return db <= -80.0f ? 0.0f : std::pow(10.0f, db / 20.0f); }

}  // namespace parlune::audiolib::fx::detail
