#include "engine/morph_dsp/morph_dsp.h"

#include <atomic>
#include <cstring>

#include "app/core/properties.h"
#include "voice/morph_unit.h"

namespace parlune::engine {

namespace al = audiolib;

// One mixer block is morphed as exactly one morph block: with another length
// the morph would pad parts of blocks with silence, or do several blocks'
// work in one callback.
static_assert(voice::kBlockLength == al::kMixerBlockFrames,
              "the morph block and the audio library's mixer block differ in length");

namespace {
// The application's store, resolved on a control thread so the mixer thread
// never takes the lock that properties() takes on first use.
std::atomic<const app::PropertyStore*> applicationStore{nullptr};
}  // namespace

al::DspDescription morphDspDescription() {
    al::DspDescription description;
    std::strncpy(description.name, kMorphDspName, al::kDspNameLength - 1);
    description.version = kMorphDspVersion;
    description.numInputBuffers = 1;
    description.numOutputBuffers = 1;
    description.read = morphDspRead;
    description.userData = kMorphDspUserData;
    return description;
}

al::Result createMorphDsp(al::System& system, al::DSP* dsp, MorphDspContext* context) {
    if (!context || !context->properties) applicationStore.store(&app::properties());
    voice::processMorphState();  // built here, not on the mixer thread
    al::DspDescription description = morphDspDescription();
    al::Result result = system.createDSP(&description, dsp);
    if (result != al::Result::Ok) return result;
    return dsp->setInstanceData(context);
}

al::Result morphDspRead(al::DspState* state, float* inBuffer, float* outBuffer, unsigned length,
                        int inChannels, int*) {
    // Asked for as the unit always has; neither value steers anything.
    char name[al::kDspNameLength];
    unsigned version = 0;
    void* userData = nullptr;
    state->instance.getInfo(name, &version, nullptr, nullptr, nullptr);
    state->instance.getUserData(&userData);

    const auto* context = static_cast<const MorphDspContext*>(state->instanceData);
    voice::MorphState& morph =
        context && context->state ? *context->state : voice::processMorphState();
    const app::PropertyStore* store = context && context->properties
                                          ? context->properties
                                          : applicationStore.load(std::memory_order_acquire);
    voice::MorphParams params;
    if (store) params = store->morphSnapshot();
    voice::processMorphBlock(inBuffer, outBuffer, length, inChannels, params, morph);
    return al::Result::Ok;
}

}  // namespace parlune::engine
