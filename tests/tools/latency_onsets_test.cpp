// The burst method's arithmetic on synthetic recordings: known delays are
// found to a fraction of a millisecond whatever the output's level, shape or
// recording start; missing bursts are reported, not guessed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "tests/support/test_support.h"
#include "tools/latency_onsets.h"

namespace parlune::tools {
namespace {

constexpr int kRate = 48000;
const std::vector<double> kBurstSeconds = {0.5, 2.5, 4.5};

// Silence with a 300 ms voiced burst (period `periodSamples`) starting `delay`
// seconds after each burst time; `missing` burst numbers left out.
std::vector<float> bursts(double delay, double gain, double periodSamples,
                          std::vector<int> missing = {}) {
    std::vector<float> x(kRate * 6, 0.0f);
    const std::vector<float> burst = test::voicedSignal(kRate * 3 / 10, periodSamples, kRate);
    for (size_t k = 0; k < kBurstSeconds.size(); ++k) {
        if (std::find(missing.begin(), missing.end(), int(k)) != missing.end()) continue;
        const size_t at = static_cast<size_t>(std::lround((kBurstSeconds[k] + delay) * kRate));
        for (size_t n = 0; n < burst.size(); ++n) x[at + n] = static_cast<float>(gain * burst[n]);
    }
    return x;
}

// The recording of `signal` (frame 0 at time 0) by a stream that started
// `startSeconds` later, with a little noise.
TimedRecording recordedFrom(const std::vector<float>& signal, double startSeconds) {
    TimedRecording r;
    r.startSeconds = startSeconds;
    const size_t skip = static_cast<size_t>(std::lround(startSeconds * kRate));
    r.samples.assign(signal.begin() + skip, signal.end());
    const std::vector<float> noise = test::whiteNoise(r.samples.size(), 7);
    for (size_t n = 0; n < r.samples.size(); ++n) r.samples[n] += 0.002f * noise[n];
    return r;
}

TEST(LatencyOnsets, KnownDelaysAreFoundWhateverTheLevelShapeAndStart) {
    struct Case {
        const char* what;
        double delayMs;
        double gain;
        double periodSamples;  // the reference's is 340 (141 Hz)
        double outputStart;    // seconds after the reference's
    } cases[] = {
        {"no delay", 0.0, 1.0, 340, 0.0},
        {"live chain", 105.3, 1.0, 340, 0.0},
        {"quiet output", 37.5, 0.05, 340, 0.0},
        {"another voice", 236.0, 0.6, 230, 0.0},
        {"output recorded later", 113.0, 1.0, 340, 0.1234},
        {"output recorded earlier", 80.0, 1.0, 340, -0.0567},
        {"near the end of the window", 760.0, 1.0, 340, 0.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // The earlier recording starts at 0.1 s of the signal's time line.
        const double referenceStart = 0.1, outputStart = referenceStart + c.outputStart;
        const TimedRecording reference = recordedFrom(bursts(0, 1.0, 340), referenceStart);
        const TimedRecording output =
            recordedFrom(bursts(c.delayMs / 1000, c.gain, c.periodSamples), outputStart);
        const std::vector<BurstFigure> figures = measureBursts(reference, output);
        ASSERT_EQ(figures.size(), kBurstSeconds.size());
        for (size_t k = 0; k < figures.size(); ++k) {
            EXPECT_TRUE(figures[k].found) << k;
            EXPECT_NEAR(figures[k].sentSeconds, kBurstSeconds[k], 0.002) << k;
            EXPECT_NEAR(figures[k].latencyMs, c.delayMs, 0.5) << k;
        }
        EXPECT_NEAR(medianLatencyMs(figures), c.delayMs, 0.5);
    }
}

TEST(LatencyOnsets, BurstsMissingFromTheOutputAreReportedNotGuessed) {
    const TimedRecording reference = recordedFrom(bursts(0, 1.0, 340), 0.0);
    const TimedRecording partial = recordedFrom(bursts(0.1, 1.0, 340, {1}), 0.0);
    std::vector<BurstFigure> figures = measureBursts(reference, partial);
    ASSERT_EQ(figures.size(), 3u);
    EXPECT_TRUE(figures[0].found);
    EXPECT_FALSE(figures[1].found) << "the third burst is 2 s later, past the window";
    EXPECT_TRUE(figures[2].found);
    EXPECT_NEAR(medianLatencyMs(figures), 100.0, 0.5);

    // Later than the search window, or nothing but noise: no figure at all.
    for (const TimedRecording& output : {recordedFrom(bursts(0.9, 1.0, 340), 0.0),
                                         recordedFrom(std::vector<float>(kRate * 6, 0.0f), 0.0)}) {
        figures = measureBursts(reference, output);
        ASSERT_EQ(figures.size(), 3u);
        for (const BurstFigure& f : figures) EXPECT_FALSE(f.found);
        EXPECT_TRUE(std::isnan(medianLatencyMs(figures)));
    }
}

TEST(LatencyOnsets, OneOnsetPerBurstAndTheMedianOfAnEvenCountIsTheMiddlePairsMean) {
    // A burst whose envelope ripples and dips inside it is still one burst.
    std::vector<float> x(kRate * 2, 0.0f);
    for (int n = 0; n < kRate / 5; ++n)
        x[kRate / 2 + n] = static_cast<float>(0.5 * std::sin(2 * M_PI * 50.0 * n / kRate));
    EXPECT_EQ(burstOnsetsMs(envelope(x, kRate), {}).size(), 1u);
    EXPECT_TRUE(burstOnsetsMs(envelope(std::vector<float>(kRate, 0.001f), kRate), {}).empty());

    std::vector<BurstFigure> figures(4);
    const double latencies[] = {90, 120, 100, 400};
    for (size_t k = 0; k < 4; ++k) figures[k] = {0, latencies[k], true};
    EXPECT_DOUBLE_EQ(medianLatencyMs(figures), 110.0);
    figures.push_back({0, 5000, false});  // not found: not counted
    EXPECT_DOUBLE_EQ(medianLatencyMs(figures), 110.0);
}

// The output's monitor hears each marker at a burst time and the voice a
// known delay later, louder or quieter; split into bands, the delays come out
// as they were put in, and a marker alone leaves no voice behind.
TEST(LatencyOnsets, TheVoiceIsTimedAgainstItsMarkerInOneRecording) {
    struct Case {
        const char* what;
        double delayMs;
        double voiceGain;
        double markerGain;
    } cases[] = {
        {"no delay", 0.0, 1.0, 1.0},        {"the voice inside its marker", 111.8, 1.0, 1.0},
        {"a quiet voice", 37.5, 0.05, 1.0}, {"a voice 46 dB under its marker", 80.0, 0.05, 10.0},
        {"a long way", 236.0, 0.6, 1.0},
    };
    const std::vector<float> marker = markerBurst(kRate);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<float> heard(kRate * 6, 0.0f);
        const std::vector<float> voice = voicedBurst(kRate);
        for (double seconds : kBurstSeconds) {
            const size_t at = static_cast<size_t>(std::lround(seconds * kRate));
            const size_t late =
                static_cast<size_t>(std::lround((seconds + c.delayMs / 1000) * kRate));
            for (size_t n = 0; n < marker.size(); ++n)
                heard[at + n] += static_cast<float>(c.markerGain * marker[n]);
            for (size_t n = 0; n < voice.size(); ++n)
                heard[late + n] += static_cast<float>(c.voiceGain * voice[n]);
        }
        const MarkerSplit bands = splitMarker(recordedFrom(heard, 0.1));
        const std::vector<BurstFigure> figures = measureBursts(bands.marker, bands.voice);
        ASSERT_EQ(figures.size(), kBurstSeconds.size());
        for (size_t k = 0; k < figures.size(); ++k) {
            EXPECT_TRUE(figures[k].found) << k;
            // The onset lies a little into the burst's rise.
            EXPECT_NEAR(figures[k].sentSeconds, kBurstSeconds[k] + 0.005, 0.002) << k;
            EXPECT_NEAR(figures[k].latencyMs, c.delayMs, 0.5) << k;
        }
    }

    std::vector<float> markersOnly(kRate * 6, 0.0f);
    for (double seconds : kBurstSeconds)
        for (size_t n = 0; n < marker.size(); ++n)
            markersOnly[static_cast<size_t>(std::lround(seconds * kRate)) + n] = marker[n];
    const MarkerSplit bands = splitMarker(recordedFrom(markersOnly, 0.0));
    for (const BurstFigure& f : measureBursts(bands.marker, bands.voice)) EXPECT_FALSE(f.found);
}

}  // namespace
}  // namespace parlune::tools
