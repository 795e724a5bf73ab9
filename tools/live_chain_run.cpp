#include "tools/live_chain_run.h"

#include "app/core/properties.h"
#include "engine/engine.h"

#include <QtConcurrent>

#include <cstdlib>

namespace parlune::tools {

const char kLiveChainOptionsHelp[] =
    "  --mode M             cartoon, human or off (morph bypassed); default cartoon\n"
    "  --pitch P --formant F  voice controls (default 1 and 1.5)\n"
    "  --mic N              record driver index (default 0)\n"
    "  --echo --chorus --distortion --tremolo --reverb   switch effects on\n";

OptionTaken takeLiveChainOption(int argc, char** argv, int& i, LiveChainOptions& o) {
    const std::string a = argv[i];
    bool* flag = a == "--echo"         ? &o.echo
                 : a == "--chorus"     ? &o.chorus
                 : a == "--distortion" ? &o.distortion
                 : a == "--tremolo"    ? &o.tremolo
                 : a == "--reverb"     ? &o.reverb
                                       : nullptr;
    if (flag) {
        *flag = true;
        return OptionTaken::Yes;
    }
    if (a != "--mode" && a != "--pitch" && a != "--formant" && a != "--mic") return OptionTaken::No;
    if (i + 1 >= argc) return OptionTaken::Bad;
    const char* v = argv[++i];
    if (a == "--mode")
        o.mode = v;
    else if (a == "--pitch")
        o.pitch = std::atof(v);
    else if (a == "--formant")
        o.formant = std::atof(v);
    else
        o.mic = std::atoi(v);
    const bool modeKnown = o.mode == "cartoon" || o.mode == "human" || o.mode == "off";
    return modeKnown ? OptionTaken::Yes : OptionTaken::Bad;
}

void startLiveChain(const LiveChainOptions& o) {
    auto& store = app::properties();
    app::writeInitialProperties(store);
    store.set(app::prop::isCartoonMorph, o.mode != "human");
    store.set(app::prop::isDspBipassed, o.mode == "off");
    store.set(app::prop::pitch, o.pitch);
    store.set(app::prop::formant, o.formant);
    store.set(app::prop::micDevice, o.mic);
    store.set(app::prop::isDspEchoBipassed, !o.echo);
    store.set(app::prop::isDspChorusBipassed, !o.chorus);
    store.set(app::prop::isDspDistortionBipassed, !o.distortion);
    store.set(app::prop::isDspTremoloBipassed, !o.tremolo);
    store.set(app::prop::isReverb, o.reverb);
    store.set(app::prop::isRunning, true);
    (void)QtConcurrent::run(engine::RunFmodFunction);
}

bool stopLiveChain(int timeoutMs) {
    app::properties().set(app::prop::isRunning, false);
    return engine::waitForLiveChainIdle(timeoutMs);
}

}  // namespace parlune::tools
