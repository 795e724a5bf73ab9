// The live chain run inside a command-line tool (parlune-engine-run,
// parlune-latency): the voice and effect options both take, the properties
// they set, and the start and stop of the run.
//
// Thread contract: all calls from the tool's main thread, which must own a
// QCoreApplication; the live chain itself runs on a pool thread.
#pragma once

#include <string>

namespace parlune::tools {

struct LiveChainOptions {
    std::string mode = "cartoon";  // cartoon, human or off (morph bypassed)
    double pitch = 1.0;
    double formant = 1.5;
    int mic = 0;  // record driver index
    bool echo = false, chorus = false, distortion = false, tremolo = false, reverb = false;
};

// Help lines for the options takeLiveChainOption reads.
extern const char kLiveChainOptionsHelp[];

enum class OptionTaken { No, Yes, Bad };
// Reads argv[i] (and its value, moving i past it) when it is one of the live
// chain's options; Bad when its value is missing or the mode unknown.
OptionTaken takeLiveChainOption(int argc, char** argv, int& i, LiveChainOptions& options);

// Writes the application properties for `options` and starts a live-chain
// run on a pool thread.
void startLiveChain(const LiveChainOptions& options);
// Clears isRunning; true when the run released its audio within timeoutMs.
bool stopLiveChain(int timeoutMs);

}  // namespace parlune::tools
