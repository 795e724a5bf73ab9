// The morph unit as an audio-library DSP: its description and its read
// callback, which takes one snapshot of the voice controls per block and runs
// the morph on it.
//
// Thread contract: createMorphDsp on the run's control thread; the read
// callback on the mixer thread (lock-free, allocation-free).
#pragma once

#include "platform/audiolib/audiolib.h"

namespace parlune::app {
class PropertyStore;
}
namespace parlune::voice {
struct MorphState;
}

namespace parlune::engine {

constexpr const char* kMorphDspName = "My first DSP unit";
constexpr unsigned kMorphDspVersion = 0x00010000;
// The description's user data: a marker value, never dereferenced.
inline void* const kMorphDspUserData = reinterpret_cast<void*>(0x12345678);

// What one morph unit works on. Must outlive the unit.
struct MorphDspContext {
    voice::MorphState* state = nullptr;              // null: the process-wide state
    const app::PropertyStore* properties = nullptr;  // null: the application's store
};

// The description every run uses: name, version 0x00010000, one input and one
// output buffer, the read callback, user data 0x12345678.
audiolib::DspDescription morphDspDescription();

// Creates the unit on an initialised system. With a null context it works on
// the process-wide morph state and reads the application's properties.
audiolib::Result createMorphDsp(audiolib::System& system, audiolib::DSP* dsp,
                                MorphDspContext* context = nullptr);

// The read callback: always returns Ok and fills the output.
audiolib::Result morphDspRead(audiolib::DspState* state, float* inBuffer, float* outBuffer,
                              unsigned length, int inChannels, int* outChannels);

}  // namespace parlune::engine
