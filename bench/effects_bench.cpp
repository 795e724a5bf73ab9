// Cost of the built-in effect units and the system reverb per mixer block
// (1024 frames at 16 kHz, that is 64 ms of audio), on speech-like input.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "platform/audiolib/effects/effects.h"

namespace fx = parlune::audiolib::fx;

namespace {

constexpr int kRate = 16000;
constexpr int kBlock = 1024;

std::vector<float> testBlock() {
    std::vector<float> x(kBlock);
    for (int i = 0; i < kBlock; ++i)
        x[i] = 0.4f * std::sin(0.07f * i) + 0.2f * std::sin(0.31f * i) + 0.05f * std::sin(1.7f * i);
    return x;
}

template <class Unit>
void runUnit(benchmark::State& state, Unit& unit) {
    const auto in = testBlock();
    std::vector<float> out(kBlock);
    for (auto _ : state) {
        unit.process(in.data(), out.data(), kBlock);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    // Share of real time one block takes: seconds of work per second of audio.
    state.counters["realtime_share"] =
        benchmark::Counter(double(kBlock) / kRate, benchmark::Counter::kIsIterationInvariantRate |
                                                       benchmark::Counter::kInvert);
}

void BM_Echo(benchmark::State& state) {
    fx::EchoUnit unit(kRate);
    runUnit(state, unit);
}
void BM_Chorus(benchmark::State& state) {
    fx::ChorusUnit unit(kRate);
    runUnit(state, unit);
}
void BM_Distortion(benchmark::State& state) {
    fx::DistortionUnit unit(kRate);
    runUnit(state, unit);
}
void BM_Tremolo(benchmark::State& state) {
    fx::TremoloUnit unit(kRate);
    runUnit(state, unit);
}
void BM_ReverbConcertHall(benchmark::State& state) {
    fx::SystemReverb unit(kRate);
    unit.setProperties(fx::kReverbConcertHall);
    runUnit(state, unit);
}
void BM_ReverbOff(benchmark::State& state) {
    fx::SystemReverb unit(kRate);
    unit.setProperties(fx::kReverbOff);
    runUnit(state, unit);
}

// Everything switched on, in chain order, as the live chain runs it.
struct FullChain {
    fx::EchoUnit echo{kRate};
    fx::ChorusUnit chorus{kRate};
    fx::DistortionUnit distortion{kRate};
    fx::TremoloUnit tremolo{kRate};
    fx::SystemReverb reverb{kRate};
    FullChain() { reverb.setProperties(fx::kReverbConcertHall); }
    void process(const float* in, float* out, int frames) {
        echo.process(in, out, frames);
        chorus.process(out, out, frames);
        distortion.process(out, out, frames);
        tremolo.process(out, out, frames);
        reverb.process(out, out, frames);
    }
};
void BM_AllUnitsAndConcertHall(benchmark::State& state) {
    FullChain chain;
    runUnit(state, chain);
}

}  // namespace

BENCHMARK(BM_Echo);
BENCHMARK(BM_Chorus);
BENCHMARK(BM_Distortion);
BENCHMARK(BM_Tremolo);
BENCHMARK(BM_ReverbConcertHall);
BENCHMARK(BM_ReverbOff);
BENCHMARK(BM_AllUnitsAndConcertHall);
BENCHMARK_MAIN();
