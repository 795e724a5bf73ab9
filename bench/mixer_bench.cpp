// Cost of one mixer block with the whole chain the live voice runs through:
// a 48 kHz stereo source resampled to 16 kHz mono, the morph unit, echo,
// chorus, distortion, tremolo and the concert-hall reverb. The figure
// "x_realtime" is how many times faster than real time blocks are mixed.
#include <benchmark/benchmark.h>

#include <sndfile.h>
#include <unistd.h>

#include <cmath>
#include <string>
#include <vector>

#include "app/core/properties.h"
#include "engine/morph_dsp/morph_dsp.h"
#include "voice/morph_unit.h"

namespace al = parlune::audiolib;

namespace {

enum Chain { kNothing, kEffectsAndReverb, kCartoonMorphAndAll, kHumanMorphAndAll };

// A voiced 48 kHz stereo source, looped.
std::string writeSource() {
    static std::string path;
    if (!path.empty()) return path;
    path = "/tmp/parlune-mixer-bench-" + std::to_string(getpid()) + ".wav";
    std::vector<float> frames(48000 * 2 * 2);
    for (size_t n = 0; n < frames.size() / 2; ++n) {
        double t = n / 48000.0, f0 = 140 + 30 * std::sin(2 * M_PI * 0.5 * t);
        float v = static_cast<float>(0.3 * std::sin(2 * M_PI * f0 * t) +
                                     0.1 * std::sin(2 * M_PI * 3 * f0 * t));
        frames[2 * n] = frames[2 * n + 1] = v;
    }
    SF_INFO info{};
    info.samplerate = 48000;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    sf_writef_float(file, frames.data(), 48000 * 2);
    sf_close(file);
    return path;
}

void BM_MixerBlock(benchmark::State& state) {
    const Chain chain = static_cast<Chain>(state.range(0));
    parlune::app::PropertyStore store;
    store.set(parlune::app::prop::isCartoonMorph, chain == kCartoonMorphAndAll);
    store.set(parlune::app::prop::pitch, 1.3);
    store.set(parlune::app::prop::formant, chain == kCartoonMorphAndAll ? 1.5 : 1.1);
    auto morphState = parlune::voice::makeMorphState();
    parlune::engine::MorphDspContext context{morphState.get(), &store};

    al::System system;
    al::createSystem(&system);
    system.setOutput(al::OutputType::NoSoundNrt);
    system.setSoftwareFormat(16000, al::SpeakerMode::Mono, 1);
    system.init(100, al::kInitNormal, nullptr);
    al::Sound sound;
    system.createSound(writeSource().c_str(), al::kLoopNormal, nullptr, &sound);
    al::Channel channel;
    system.playSound(sound, al::ChannelGroup(), false, &channel);
    channel.setFrequency(50400.0f);  // nudged, as the live chain often is
    al::ChannelGroup master;
    system.getMasterChannelGroup(&master);
    if (chain == kCartoonMorphAndAll || chain == kHumanMorphAndAll) {
        al::DSP morph;
        parlune::engine::createMorphDsp(system, &morph, &context);
        master.addDSP(0, morph);
    }
    if (chain != kNothing) {
        for (al::DspType type : {al::DspType::Echo, al::DspType::Chorus, al::DspType::Distortion,
                                 al::DspType::Tremolo}) {
            al::DSP unit;
            system.createDSPByType(type, &unit);
            master.addDSP(0, unit);
        }
        system.setReverbProperties(0, &al::fx::kReverbConcertHall);
    }
    for (auto _ : state) system.update();
    state.counters["x_realtime"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * al::kMixerBlockFrames / 16000.0,
        benchmark::Counter::kIsRate);
    system.release();
}
BENCHMARK(BM_MixerBlock)
    ->ArgName("chain")
    ->Arg(kNothing)
    ->Arg(kEffectsAndReverb)
    ->Arg(kCartoonMorphAndAll)
    ->Arg(kHumanMorphAndAll)
    ->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
