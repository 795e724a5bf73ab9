// The morph unit: the per-block entry point that the audio engine calls on
// its mixer thread. It takes one snapshot of the voice controls, runs the
// human or the cartoon morph on the block and writes the block back.
//
// Thread contract: processMorphBlock runs on one audio thread at a time per
// MorphState and allocates nothing; the state carries no lock. Per call it
// needs about 135 KiB of the calling thread's stack in the cartoon mode and
// 70 KiB in the human mode: the kernels' transform arrays and the cartoon's
// working arrays live there (the human's are in the state). Measured with
// GCC 12 at -O2: -fstack-usage frames summed along the deepest call chain
// give 132,520 bytes (through CartoonMorph, LpcEnvelopeWarper and
// freqzMagnitude) and 66,208 bytes (through HumanMorph, estimatePeriod and
// magnitudeAutocorrelation), libm not counted; on a thread whose stack was
// painted beforehand, sixty blocks of each mode used 137,520 and 71,280
// bytes beyond what an empty thread uses. A default thread stack (8 MiB) is
// ample; a smaller one made for the mixer must keep this room.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "voice/block.h"
#include "voice/cartoon_morph.h"
#include "voice/human_morph.h"
#include "voice/morph_params.h"

namespace parlune::voice {

// Everything both morphs carry between blocks, plus the fixed per-block
// buffers, so a block allocates nothing. The two modes never touch each
// other's state. sizeof is 1,717,040 bytes (about 1.7 MB), 93 % of it the
// human workspace, and most of that its grain rows: 100 new grains (819,200
// bytes) and 50 cut grains (409,600 bytes) of 1024 doubles each. Static
// storage or heap, never a thread stack.
struct MorphState {
    HumanMorphState human;
    HumanWorkspace humanWork;
    CartoonMorphState cartoon;
    float hannWindow[kBlockLength];  // symmetric Hann, made once in double, stored as float
    float warpMap[kBlockLength];
    double formantAxis[kAxisLength];
    float blockIn[kBlockLength];  // the mono block being morphed (also makes in == out safe)
    float blockOut[kBlockLength];

    MorphState();
};

// The one process-wide state that every live engine run shares. The first
// call builds it: make that call before the audio stream starts.
MorphState& processMorphState();

// A fresh state as at program start (human tail of 1024 zeros, no pending
// cartoon samples), for runs that must not depend on earlier audio.
std::unique_ptr<MorphState> makeMorphState();

// Morphs `length` frames of `inChannels` interleaved channels from `in` into
// `out` (same layout). Mono is processed in 1024-sample blocks with the state
// carried; a final part shorter than a block is padded with zeros, processed
// as one block and cut back. Several channels are averaged to mono, morphed,
// and the result is written to every channel. No channel, no length or a null
// buffer writes nothing. The output is always finite.
void processMorphBlock(const float* in, float* out, unsigned length, int inChannels,
                       const MorphParams& params, MorphState& state);

// Morphs a whole mono 16 kHz signal from a fresh state; the result has the
// input's length. Deterministic: the same input and params give the same output.
std::vector<float> morphSignal(const std::vector<float>& mono16k, const MorphParams& params);

}  // namespace parlune::voice
