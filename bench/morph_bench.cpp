// Cost of one 1024-sample morph block (64 ms of audio) in each mode on the
// speech sample. "realtime" is seconds of audio morphed per second of CPU:
// 64 ms divided by the cost of one block.
#include <benchmark/benchmark.h>
#include <sndfile.h>

#include <cstdio>
#include <vector>

#include "voice/kernels.h"
#include "voice/morph_unit.h"

namespace {

using parlune::voice::kBlockLength;

const std::vector<float>& speech() {
    static const std::vector<float> samples = [] {
        std::vector<float> out;
        SF_INFO info{};
        SNDFILE* file = sf_open(PARLUNE_SPEECH_WAV, SFM_READ, &info);
        if (!file || info.channels != 1) {
            std::fprintf(stderr, "cannot read the speech sample %s\n", PARLUNE_SPEECH_WAV);
            if (file) sf_close(file);
            return out;
        }
        out.resize(static_cast<size_t>(info.frames));
        out.resize(static_cast<size_t>(sf_readf_float(file, out.data(), info.frames)));
        sf_close(file);
        out.resize(out.size() / kBlockLength * kBlockLength);
        return out;
    }();
    return samples;
}

void morphBlocks(benchmark::State& bench, const parlune::voice::MorphParams& params) {
    const std::vector<float>& in = speech();
    if (in.empty()) {
        bench.SkipWithError("no speech sample");
        return;
    }
    auto state = parlune::voice::makeMorphState();
    std::vector<float> out(kBlockLength);
    size_t at = 0;
    for (auto _ : bench) {
        parlune::voice::processMorphBlock(in.data() + at, out.data(), kBlockLength, 1, params,
                                          *state);
        benchmark::DoNotOptimize(out.data());
        at = (at + kBlockLength) % in.size();
    }
    const double blockSeconds = double(kBlockLength) / parlune::voice::kMorphSampleRate;
    bench.counters["realtime"] =
        benchmark::Counter(bench.iterations() * blockSeconds, benchmark::Counter::kIsRate);
}

void BM_HumanBlock(benchmark::State& bench) { morphBlocks(bench, {false, 1.4f, 1.15f, 3}); }
void BM_CartoonBlock(benchmark::State& bench) { morphBlocks(bench, {true, 1.4f, 0.75f, 3}); }
BENCHMARK(BM_HumanBlock)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CartoonBlock)->Unit(benchmark::kMillisecond);

void BM_Transform(benchmark::State& bench) {
    const int n = static_cast<int>(bench.range(0));
    std::vector<float> re(n, 0.25f), im(n, 0.0f);
    for (auto _ : bench) {
        parlune::voice::fftRadix2(re.data(), im.data(), n);
        benchmark::DoNotOptimize(re.data());
    }
}
BENCHMARK(BM_Transform)->Arg(1024)->Arg(2048)->Arg(4096)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
