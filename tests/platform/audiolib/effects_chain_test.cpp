// The built-in units and the system reverb as the mixer runs them, rendered
// through the WAV writer with their default parameters.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "platform/audiolib/audiolib.h"
#include "tests/platform/audiolib/render_fixture.h"

namespace al = parlune::audiolib;
using al::Result;
using parlune::audiolib::testing::renderFile;
using parlune::audiolib::testing::ScratchDir;

namespace {

constexpr int kRate = 16000;

// Renders `input` (16 kHz mono) through one built-in unit, or through the
// reverb alone when type is Unknown.
std::vector<float> throughUnit(const ScratchDir& dir, const std::vector<float>& input,
                               al::DspType type, int blocks,
                               const al::ReverbProperties* reverb = nullptr) {
    parlune::test::writeWav(dir.file("in.wav"), input, kRate);
    return renderFile(dir, dir.file("in.wav"), blocks, [&](al::System& system, al::Channel&) {
        if (type != al::DspType::Unknown) {
            al::ChannelGroup master;
            system.getMasterChannelGroup(&master);
            al::DSP unit;
            ASSERT_EQ(system.createDSPByType(type, &unit), Result::Ok);
            master.addDSP(0, unit);
        }
        if (reverb) system.setReverbProperties(0, reverb);
    });
}

// Energy of x at one frequency (Goertzel), per sample.
double toneEnergy(const std::vector<float>& x, double hz, size_t from) {
    const double w = 2 * M_PI * hz / kRate;
    double s1 = 0, s2 = 0;
    for (size_t n = from; n < x.size(); ++n) {
        double s0 = x[n] + 2 * std::cos(w) * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    return (s1 * s1 + s2 * s2 - 2 * std::cos(w) * s1 * s2) / double(x.size() - from);
}

// Below full scale: the WAV writer would hide anything beyond it.
bool bounded(const std::vector<float>& x, float limit) {
    return std::all_of(x.begin(), x.end(), [limit](float v) { return std::fabs(v) <= limit; });
}

TEST(BuiltinUnits, EchoRepeatsAnImpulseAfter500Ms) {
    ScratchDir dir;
    std::vector<float> click(kRate * 2, 0.0f);
    click[100] = 0.5f;
    std::vector<float> out = throughUnit(dir, click, al::DspType::Echo, 25);
    ASSERT_EQ(out.size(), 25u * 1024);
    auto peak = std::max_element(out.begin() + 200, out.end(),
                                 [](float a, float b) { return std::fabs(a) < std::fabs(b); });
    EXPECT_EQ(peak - out.begin(), 100 + kRate / 2) << "first repeat 500 ms after the click";
    EXPECT_NEAR(out[100], 0.5f, 1e-3) << "dry at 0 dB";
    // Feedback 50 %: the second repeat is half the first.
    EXPECT_NEAR(std::fabs(out[100 + kRate]), std::fabs(*peak) * 0.5, 0.02);
}

TEST(BuiltinUnits, TremoloModulatesAt5Hz) {
    ScratchDir dir;
    std::vector<float> tone = parlune::test::sine(kRate * 3, 1000, kRate, 0.5);
    std::vector<float> out = throughUnit(dir, tone, al::DspType::Tremolo, 45);
    // Envelope in 5 ms frames; its autocorrelation peaks at the 200 ms period.
    std::vector<double> envelope;
    for (size_t at = 0; at + 80 <= out.size(); at += 80)
        envelope.push_back(parlune::test::rms(out, at, at + 80));
    double mean = 0;
    for (double e : envelope) mean += e / envelope.size();
    int bestLag = 0;
    double best = -1;
    for (int lag = 20; lag <= 80; ++lag) {  // 100 .. 400 ms
        double c = 0;
        for (size_t i = 0; i + lag < envelope.size(); ++i)
            c += (envelope[i] - mean) * (envelope[i + lag] - mean);
        if (c > best) best = c, bestLag = lag;
    }
    EXPECT_NEAR(bestLag * 5.0, 200.0, 10.0);
    const auto [low, high] = std::minmax_element(envelope.begin() + 10, envelope.end());
    EXPECT_LT(*low, 0.1 * *high) << "depth 1 takes the level close to zero";
}

TEST(BuiltinUnits, DistortionAddsHarmonics) {
    ScratchDir dir;
    std::vector<float> tone = parlune::test::sine(kRate * 2, 400, kRate, 0.5);
    std::vector<float> clean = throughUnit(dir, tone, al::DspType::Unknown, 20);
    std::vector<float> out = throughUnit(dir, tone, al::DspType::Distortion, 20);
    double fundamental = toneEnergy(out, 400, 1024);
    EXPECT_LT(toneEnergy(clean, 1200, 1024), 1e-6 * toneEnergy(clean, 400, 1024));
    EXPECT_GT(toneEnergy(out, 1200, 1024), 1e-3 * fundamental) << "third harmonic";
    EXPECT_TRUE(bounded(out, 0.99f));
}

TEST(BuiltinUnits, ChorusAndReverbChangeTheSignalAndStayBounded) {
    ScratchDir dir;
    std::vector<float> voice = parlune::test::voicedSignal(kRate * 2, 120.0);
    voice.resize(kRate * 3, 0.0f);  // a second of silence for the reverb's tail
    std::vector<float> clean = throughUnit(dir, voice, al::DspType::Unknown, 45);
    struct Case {
        const char* what;
        al::DspType type;
        const al::ReverbProperties* reverb;
    };
    for (Case c : {Case{"chorus", al::DspType::Chorus, nullptr},
                   Case{"concert hall", al::DspType::Unknown, &al::fx::kReverbConcertHall}}) {
        std::vector<float> out = throughUnit(dir, voice, c.type, 45, c.reverb);
        ASSERT_EQ(out.size(), clean.size()) << c.what;
        std::vector<float> difference(out.size());
        for (size_t i = 0; i < out.size(); ++i) difference[i] = out[i] - clean[i];
        EXPECT_GT(parlune::test::rms(difference), 0.05 * parlune::test::rms(clean)) << c.what;
        EXPECT_TRUE(parlune::test::allFinite(out)) << c.what;
        EXPECT_TRUE(bounded(out, 0.99f)) << c.what;
    }
    std::vector<float> hall =
        throughUnit(dir, voice, al::DspType::Unknown, 45, &al::fx::kReverbConcertHall);
    EXPECT_GT(parlune::test::rms(hall, kRate * 2 + 1600, kRate * 2 + 8000), 1e-3)
        << "the hall rings on";
}

TEST(BuiltinUnits, LeavingBypassStartsFromSilence) {
    ScratchDir dir;
    std::vector<float> click(kRate * 2, 0.0f);
    click[100] = 0.5f;
    parlune::test::writeWav(dir.file("in.wav"), click, kRate);
    // The echo hears the click, is bypassed before its repeat and switched
    // back on after it: the old repeat must not come back later.
    std::vector<float> out =
        renderFile(dir, dir.file("in.wav"), 0, [&](al::System& system, al::Channel&) {
            al::ChannelGroup master;
            system.getMasterChannelGroup(&master);
            al::DSP echo;
            system.createDSPByType(al::DspType::Echo, &echo);
            master.addDSP(0, echo);
            for (int block = 0; block < 30; ++block) {
                echo.setBypass(block >= 2 && block < 4);
                system.update();
            }
        });
    ASSERT_EQ(out.size(), 30u * 1024);
    EXPECT_LT(parlune::test::rms(out, 4 * 1024), 1e-4);
}

}  // namespace
