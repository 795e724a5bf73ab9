// The chain every engine run builds on its system's master group: the morph
// unit first, then echo, chorus, distortion and tremolo, and the system
// reverb's two presets.
//
// Thread contract: used by the one run that owns the system.
#pragma once

#include "engine/morph_dsp/morph_dsp.h"
#include "platform/audiolib/audiolib.h"
#include "voice/morph_unit.h"

#include <memory>

namespace parlune::engine {

// Which morph state a run's morph unit works on.
enum class MorphState {
    Shared,       // the process-wide state: live chain and playback
    FreshPrivate  // a private state from the initial one: exports, and playback
                  // while a live run still holds the shared one
};

struct EffectsChain {
    audiolib::DSP morph, echo, chorus, distortion, tremolo;
    audiolib::ChannelGroup master;
    // What the morph unit works on; kept here so it outlives the unit.
    std::unique_ptr<MorphDspContext> morphContext;
    std::unique_ptr<voice::MorphState> privateMorphState;
};

// The four effect flags (true = bypassed), as the properties hold them now.
struct EffectFlags {
    bool echo = true, chorus = true, distortion = true, tremolo = true;
};
EffectFlags readEffectFlags();

// Creates the five units, fetches the master group and inserts each unit at
// its head in signal order, so the signal meets the morph first and the
// tremolo last. All five start bypassed. The system must be initialised.
EffectsChain buildEffectsChain(audiolib::System& system, MorphState state);

void applyEffectFlags(EffectsChain& chain, const EffectFlags& flags);

const audiolib::ReverbProperties& reverbPreset(bool reverbOn);

}  // namespace parlune::engine
