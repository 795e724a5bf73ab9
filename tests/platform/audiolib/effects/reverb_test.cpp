// The system reverb: the off preset is inaudible, the measured decay follows
// the decay time, the wet signal's timing, level and HF damping follow the
// properties, and the output stays bounded and deterministic.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "platform/audiolib/effects/effects.h"
#include "tests/support/test_support.h"

namespace fx = parlune::audiolib::fx;
using parlune::test::allFinite;
using parlune::test::rms;

namespace {

constexpr int kRate = 16000;
constexpr int kBlock = 1024;
constexpr double kPi = 3.141592653589793;

std::vector<float> runBlocks(fx::SystemReverb& reverb, const std::vector<float>& in) {
    std::vector<float> out(in.size());
    for (size_t at = 0; at < in.size(); at += kBlock)
        reverb.process(in.data() + at, out.data() + at,
                       int(std::min<size_t>(kBlock, in.size() - at)));
    return out;
}

// The wet part of the response to a unit impulse.
std::vector<float> wetImpulseResponse(const fx::ReverbProperties& properties, double seconds) {
    fx::SystemReverb reverb(kRate);
    EXPECT_TRUE(reverb.setProperties(properties));
    std::vector<float> in(static_cast<size_t>(seconds * kRate), 0.0f);
    in[0] = 1.0f;
    auto out = runBlocks(reverb, in);
    out[0] -= 1.0f;
    return out;
}

// RT60 from Schroeder's backward-integrated energy decay: a least-squares line
// through the curve between -5 and -35 dB (T30), extrapolated to 60 dB.
double measuredRt60Ms(const std::vector<float>& ir) {
    std::vector<double> decayDb(ir.size());
    double energy = 0;
    for (size_t i = ir.size(); i-- > 0;) {
        energy += double(ir[i]) * ir[i];
        decayDb[i] = energy;
    }
    const double total = decayDb[0];
    double sumT = 0, sumD = 0, sumTT = 0, sumTD = 0;
    int points = 0;
    for (size_t i = 0; i < ir.size(); ++i) {
        const double db = 10 * std::log10(decayDb[i] / total);
        if (db > -5) continue;
        if (db < -35) break;
        const double t = double(i) / kRate;
        sumT += t, sumD += db, sumTT += t * t, sumTD += t * db, ++points;
    }
    const double slope =
        (points * sumTD - sumT * sumD) / (points * sumTT - sumT * sumT);  // dB per second
    return -60.0 / slope * 1000.0;
}

// Second-order band-pass (constant peak gain) for splitting a response into bands.
std::vector<float> bandPass(const std::vector<float>& x, double centreHz, double q) {
    const double w = 2 * kPi * centreHz / kRate, alpha = std::sin(w) / (2 * q), a0 = 1 + alpha;
    const double b0 = alpha / a0, b2 = -alpha / a0, a1 = -2 * std::cos(w) / a0,
                 a2 = (1 - alpha) / a0;
    std::vector<float> y(x.size());
    double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
    for (size_t n = 0; n < x.size(); ++n) {
        const double v = b0 * x[n] + b2 * x2 - a1 * y1 - a2 * y2;
        x2 = x1, x1 = x[n], y2 = y1, y1 = v;
        y[n] = float(v);
    }
    return y;
}

fx::ReverbProperties with(fx::ReverbProperties p, float fx::ReverbProperties::*field, float value) {
    p.*field = value;
    return p;
}

}  // namespace

TEST(SystemReverb, OffPresetLeavesTheSignalUntouched) {
    const auto in = parlune::test::voicedSignal(kRate * 2, 140.0);

    fx::SystemReverb fresh(kRate);  // starts switched off
    EXPECT_EQ(runBlocks(fresh, in), in);

    fx::SystemReverb reverb(kRate);
    ASSERT_TRUE(reverb.setProperties(fx::kReverbConcertHall));
    runBlocks(reverb, in);
    ASSERT_TRUE(reverb.setProperties(fx::kReverbOff));
    std::vector<float> buffer = in;  // in place
    for (size_t at = 0; at < buffer.size(); at += kBlock)
        reverb.process(buffer.data() + at, buffer.data() + at, kBlock);
    // One block glides the wet level down; from the next one on, nothing is added.
    EXPECT_NE(std::vector<float>(buffer.begin(), buffer.begin() + kBlock),
              std::vector<float>(in.begin(), in.begin() + kBlock));
    EXPECT_TRUE(std::equal(buffer.begin() + kBlock, buffer.end(), in.begin() + kBlock));

    // Switched on again, the room starts empty: nothing before the first reflection.
    ASSERT_TRUE(reverb.setProperties(fx::kReverbConcertHall));
    std::vector<float> out(kBlock);
    reverb.process(in.data(), out.data(), kBlock);
    const int firstReflection = kRate * 20 / 1000;
    for (int i = 0; i < firstReflection; ++i) ASSERT_EQ(out[i], in[i]) << i;
}

TEST(SystemReverb, MeasuredDecayTimeFollowsTheDecayTimeProperty) {
    using P = fx::ReverbProperties;
    const struct Case {
        const char* what;
        fx::ReverbProperties properties;
    } cases[] = {
        {"concert hall", fx::kReverbConcertHall},
        {"short, undamped",
         with(with(fx::kReverbConcertHall, &P::decayTime, 1000), &P::hfDecayRatio, 100)},
        {"2 s, strong damping",
         with(with(fx::kReverbConcertHall, &P::decayTime, 2000), &P::hfDecayRatio, 40)},
        {"8 s, sparse", with(with(fx::kReverbConcertHall, &P::decayTime, 8000), &P::density, 0)},
        {"no diffusion, no early reflections",
         with(with(fx::kReverbConcertHall, &P::diffusion, 0), &P::earlyLateMix, 0)},
    };
    for (const Case& c : cases) {
        const auto ir = wetImpulseResponse(c.properties, c.properties.decayTime * 0.002 + 1.0);
        const double rt60 = measuredRt60Ms(ir);
        RecordProperty(c.what, std::to_string(rt60));
        EXPECT_NEAR(rt60, c.properties.decayTime, 0.25 * c.properties.decayTime) << c.what;
    }
}

TEST(SystemReverb, HighFrequenciesDieFasterByTheHfDecayRatio) {
    using P = fx::ReverbProperties;
    // High cut out of the way so the band above the reference is audible.
    const auto base = with(with(fx::kReverbConcertHall, &P::highCut, 20000), &P::hfReference, 4000);
    const auto damped = with(base, &P::hfDecayRatio, 50);
    const auto irDamped = wetImpulseResponse(damped, 8.0);
    const double low = measuredRt60Ms(bandPass(irDamped, 300, 2));
    const double high = measuredRt60Ms(bandPass(irDamped, 4000, 4));
    EXPECT_NEAR(low, 3900, 0.25 * 3900);
    EXPECT_NEAR(high / low, 0.5, 0.15);

    const auto irFlat = wetImpulseResponse(with(base, &P::hfDecayRatio, 100), 8.0);
    EXPECT_NEAR(
        measuredRt60Ms(bandPass(irFlat, 4000, 4)) / measuredRt60Ms(bandPass(irFlat, 300, 2)), 1.0,
        0.15);
}

TEST(SystemReverb, WetSignalTimingAndLevelFollowTheProperties) {
    using P = fx::ReverbProperties;
    const int earlyDelay = kRate * 20 / 1000, lateStart = kRate * (20 + 29) / 1000;
    auto firstNonZero = [](const std::vector<float>& ir) {
        return std::find_if(ir.begin(), ir.end(), [](float v) { return v != 0.0f; }) - ir.begin();
    };
    const auto hall = wetImpulseResponse(fx::kReverbConcertHall, 1.0);
    EXPECT_EQ(firstNonZero(hall), earlyDelay);
    const auto lateOnly =
        wetImpulseResponse(with(fx::kReverbConcertHall, &P::earlyLateMix, 0), 1.0);
    EXPECT_GE(firstNonZero(lateOnly), lateStart);
    EXPECT_LT(firstNonZero(lateOnly), lateStart + kRate / 10);
    const auto longerWait =
        wetImpulseResponse(with(fx::kReverbConcertHall, &P::earlyDelay, 100), 1.0);
    EXPECT_EQ(firstNonZero(longerWait), kRate / 10);

    // 6 dB more wet level doubles the wet signal.
    const auto louder = wetImpulseResponse(with(fx::kReverbConcertHall, &P::wetLevel, -3.8f), 1.0);
    EXPECT_NEAR(rms(louder) / rms(hall), std::pow(10.0, 6.0 / 20), 1e-3);

    // A low shelf cut takes energy out of the low band only.
    const auto shelved =
        wetImpulseResponse(with(fx::kReverbConcertHall, &P::lowShelfGain, -12), 1.0);
    EXPECT_LT(rms(bandPass(shelved, 100, 2)), 0.4 * rms(bandPass(hall, 100, 2)));
    EXPECT_NEAR(rms(bandPass(shelved, 3000, 2)) / rms(bandPass(hall, 3000, 2)), 1.0, 0.05);
}

TEST(SystemReverb, PropertiesAreClampedAndNonFiniteOnesRejected) {
    fx::SystemReverb reverb(kRate);
    EXPECT_EQ(reverb.getProperties().wetLevel, -80.0f);
    fx::ReverbProperties wild = fx::kReverbConcertHall;
    wild.decayTime = 1e9f;
    wild.earlyDelay = -5;
    wild.wetLevel = -200;
    ASSERT_TRUE(reverb.setProperties(wild));
    const auto got = reverb.getProperties();
    EXPECT_EQ(got.decayTime, 20000.0f);
    EXPECT_EQ(got.earlyDelay, 0.0f);
    EXPECT_EQ(got.wetLevel, -80.0f);
    EXPECT_EQ(got.highCut, fx::kReverbConcertHall.highCut);

    fx::ReverbProperties broken = fx::kReverbConcertHall;
    broken.density = std::nanf("");
    EXPECT_FALSE(reverb.setProperties(broken));
    broken.density = INFINITY;
    EXPECT_FALSE(reverb.setProperties(broken));
    EXPECT_EQ(reverb.getProperties().decayTime, 20000.0f);
}

TEST(SystemReverb, FullScaleNoiseForMinutesStaysBoundedDeterministicAndDiesToZero) {
    using P = fx::ReverbProperties;
    const auto loud = parlune::test::whiteNoise(static_cast<size_t>(kRate) * 120, 777);
    const std::vector<float> silence(static_cast<size_t>(kRate) * 60, 0.0f);
    // Every delay at its longest, strongest damping and boost, loudest wet level.
    const fx::ReverbProperties extremes{100, 300, 100, 20, 10, 100, 100, 1000, 12, 20000, 100, 20};
    const struct Case {
        fx::ReverbProperties properties;
        float bound;
        bool tailDiesInAMinute;
    } cases[] = {{fx::kReverbConcertHall, 10, true},
                 {with(fx::kReverbConcertHall, &P::decayTime, 20000), 10, false},
                 {extremes, 100, true}};
    for (const auto& [properties, bound, tailDies] : cases) {
        SCOPED_TRACE(properties.decayTime);
        fx::SystemReverb a(kRate), b(kRate);
        a.setProperties(properties);
        b.setProperties(properties);
        const auto outA = runBlocks(a, loud), outB = runBlocks(b, loud);
        EXPECT_EQ(outA, outB);
        ASSERT_TRUE(allFinite(outA));
        float peak = 0;
        for (float v : outA) peak = std::max(peak, std::fabs(v));
        EXPECT_LT(peak, bound);
        // Steady, not creeping up.
        const size_t half = loud.size() / 2;
        EXPECT_NEAR(rms(outA, loud.size() - kRate * 30) / rms(outA, half - kRate * 30, half), 1.0,
                    0.1);

        if (!tailDies) continue;
        const auto tail = runBlocks(a, silence);
        EXPECT_TRUE(
            std::all_of(tail.end() - kBlock, tail.end(), [](float v) { return v == 0.0f; }));
    }
}
