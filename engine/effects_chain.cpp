#include "engine/effects_chain.h"

#include "app/core/properties.h"

namespace parlune::engine {

namespace al = audiolib;

EffectFlags readEffectFlags() {
    EffectFlags flags;
    flags.echo = app::properties().get(app::prop::isDspEchoBipassed);
    flags.chorus = app::properties().get(app::prop::isDspChorusBipassed);
    flags.distortion = app::properties().get(app::prop::isDspDistortionBipassed);
    flags.tremolo = app::properties().get(app::prop::isDspTremoloBipassed);
    return flags;
}

EffectsChain buildEffectsChain(al::System& system, MorphState state) {
    EffectsChain chain;
    chain.morphContext = std::make_unique<MorphDspContext>();
    if (state == MorphState::FreshPrivate) {
        chain.privateMorphState = voice::makeMorphState();
        chain.morphContext->state = chain.privateMorphState.get();
    }
    createMorphDsp(system, &chain.morph, chain.morphContext.get());
    system.createDSPByType(al::DspType::Echo, &chain.echo);
    system.createDSPByType(al::DspType::Chorus, &chain.chorus);
    system.createDSPByType(al::DspType::Distortion, &chain.distortion);
    system.createDSPByType(al::DspType::Tremolo, &chain.tremolo);
    system.getMasterChannelGroup(&chain.master);
    // Each unit goes in at the head, so the last added processes last.
    for (al::DSP* unit :
         {&chain.morph, &chain.echo, &chain.chorus, &chain.distortion, &chain.tremolo})
        chain.master.addDSP(0, *unit);
    for (al::DSP* unit :
         {&chain.morph, &chain.echo, &chain.chorus, &chain.distortion, &chain.tremolo})
        unit->setBypass(true);
    return chain;
}

void applyEffectFlags(EffectsChain& chain, const EffectFlags& flags) {
    chain.echo.setBypass(flags.echo);
    chain.chorus.setBypass(flags.chorus);
    chain.distortion.setBypass(flags.distortion);
    chain.tremolo.setBypass(flags.tremolo);
}

const al::ReverbProperties& reverbPreset(bool reverbOn) {
    return reverbOn ? al::fx::kReverbConcertHall : al::fx::kReverbOff;
}

}  // namespace parlune::engine
