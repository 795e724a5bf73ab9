// The cartoon morph: an LPC vocoder that warps the block's spectral envelope
// along a curved frequency map, resynthesises the residual through the warped
// envelope, resamples for the new pitch and splices whole periods so that
// every call still delivers one 1024-sample block.
//
// Thread contract: every function runs on the caller's thread (the mixer's);
// a CartoonMorphState must be touched by one thread at a time. No heap, no
// locks, no I/O: all working arrays are fixed-size and live on the stack,
// about 130 KiB of it for one CartoonMorph call (measured: see morph_unit.h).
#pragma once

#include <cstdint>

#include "voice/block.h"

namespace parlune::voice {

constexpr float kCartoonPitchMin = 0.65f;
constexpr float kCartoonPitchMax = 1.7f;

// Carried between blocks; zero-initialised, never reset while the program runs.
struct CartoonMorphState {
    float analysisInputHistory[2048] = {};    // last 20 input samples, oldest first
    float synthesisOutputHistory[2048] = {};  // last 40 synthesis outputs, oldest first
    float pendingOutput[4096] = {};           // samples spliced beyond the last block
    int32_t pendingLength = 0;
};

// Fractional bin positions (length entries, 0 .. length-1) at which the warped
// envelope reads the original one. f >= 0.01 bends the map below the diagonal
// (formants move up), f <= -0.01 above it (formants move down); in between the
// map is the nearly straight exponential curve of 0.01. Compares f in double.
void WarpMap(float f, int length, float* map);

// One block: reads 1024 input samples and writes 1024 output samples.
// window: the Hann window of `length` entries; warpMap: WarpMap of `length`
// entries; pitch: the pitch ratio, clamped again to 0.65 .. 1.7 (NaN reads as
// 1). A length other than 1024 passes the block through unchanged (`length`
// samples) and leaves the state alone. The output is always finite.
void CartoonMorph(const float* input, int length, const float* window, float pitch,
                  const float* warpMap, CartoonMorphState& state, float* output);

// ---- Stages, exposed for the tests -------------------------------------

// The envelope-warping half of the morph: input[1024] -> y[1024], with the
// output guard applied (samples above 1, below -1 or NaN become 0). Updates
// both filter histories. Returns the number of guarded samples.
int LpcEnvelopeWarper(const float* input, const float* window, const float* warpMap,
                      CartoonMorphState& state, float* y);

// Resamples y[1024] to M = ceil(1024 / p) samples into z (room for 2048);
// returns M. p must already lie in 0.65 .. 1.7.
int CartoonResample(const float* y, float p, float* z);

// Period estimate of b[0 .. l-1]: distance of the two strongest peaks at
// least 33 samples apart, at most 200. 0 when no sample above -1 exists.
int splicePeriod(const float* b, int l);

// Inserts (extend) or removes count samples of b[0 .. l-1] with a linear
// crossfade into s (room for l + count); returns the length of s.
int spliceByCount(const float* b, int l, int count, bool extend, float* s);

// Joins the pending samples and z[0 .. m-1], splices whole periods to reach
// n = 1024 samples, writes them to output and keeps the rest pending.
void PeriodSplicer(const float* z, int m, int n, float* output, CartoonMorphState& state);

}  // namespace parlune::voice
