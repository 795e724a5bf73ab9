// Echo, chorus, distortion and tremolo: what each one does to a signal, their
// parameter interface, and behaviour shared by all of them (in-place and
// block-size independent processing, bounded output, tails that die out).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <vector>

#include "platform/audiolib/effects/effects.h"
#include "tests/support/test_support.h"

namespace fx = parlune::audiolib::fx;
using parlune::test::allFinite;
using parlune::test::rms;
using parlune::test::sine;

namespace {

constexpr int kRate = 16000;
constexpr int kBlock = 1024;
constexpr double kPi = 3.141592653589793;

template <class Unit>
std::vector<float> runBlocks(Unit& unit, const std::vector<float>& in, int block = kBlock) {
    std::vector<float> out(in.size());
    for (size_t at = 0; at < in.size(); at += block) {
        const int frames = static_cast<int>(std::min<size_t>(block, in.size() - at));
        unit.process(in.data() + at, out.data() + at, frames);
    }
    return out;
}

std::vector<float> impulse(int length) {
    std::vector<float> x(length, 0.0f);
    x[0] = 1.0f;
    return x;
}

// Energy outside the fundamental over energy in it, for a whole number of
// periods of a sine at `freq`.
double harmonicRatio(const std::vector<float>& x, double freq) {
    double c = 0, s = 0, total = 0;
    for (size_t n = 0; n < x.size(); ++n) {
        const double w = 2 * kPi * freq * n / kRate;
        c += x[n] * std::cos(w);
        s += x[n] * std::sin(w);
        total += double(x[n]) * x[n];
    }
    const double fundamental = 2.0 * (c * c + s * s) / x.size();
    return (total - fundamental) / fundamental;
}

size_t argMaxAbs(const std::vector<float>& x, size_t from, size_t to) {
    size_t best = from;
    for (size_t i = from; i < to; ++i)
        if (std::fabs(x[i]) > std::fabs(x[best])) best = i;
    return best;
}

// Type-erased unit, for the checks every unit must pass.
struct AnyUnit {
    const char* name;
    std::function<void(const float*, float*, int)> process;
    std::function<void()> reset;
    float bound;  // largest |output| allowed for input within [-1, 1]
    bool tailDiesInAMinute;
};

template <class Unit>
AnyUnit wrap(const char* name, std::shared_ptr<Unit> unit, float bound, bool tailDies = true) {
    return {name, [unit](const float* in, float* out, int n) { unit->process(in, out, n); },
            [unit] { unit->reset(); }, bound, tailDies};
}

std::vector<std::function<AnyUnit()>> allUnitFactories() {
    return {
        [] { return wrap("echo", std::make_shared<fx::EchoUnit>(kRate), 3.0f); },
        [] {
            auto unit = std::make_shared<fx::EchoUnit>(kRate);
            unit->setParameterFloat(fx::EchoUnit::kFeedback, 100.0f);
            unit->setParameterFloat(fx::EchoUnit::kDelay, 10.0f);
            return wrap("echo at full feedback", unit, 1000.0f, false);
        },
        [] { return wrap("chorus", std::make_shared<fx::ChorusUnit>(kRate), 1.0f); },
        [] {
            auto unit = std::make_shared<fx::ChorusUnit>(kRate);
            unit->setParameterFloat(fx::ChorusUnit::kDepth, 100.0f);
            unit->setParameterFloat(fx::ChorusUnit::kRate, 20.0f);
            unit->setParameterFloat(fx::ChorusUnit::kMix, 100.0f);
            return wrap("chorus at full depth and rate", unit, 1.0f);
        },
        [] { return wrap("distortion", std::make_shared<fx::DistortionUnit>(kRate), 1.0f); },
        [] { return wrap("tremolo", std::make_shared<fx::TremoloUnit>(kRate), 1.0f); },
        [] {
            auto unit = std::make_shared<fx::TremoloUnit>(kRate);
            unit->setParameterFloat(fx::TremoloUnit::kShape, 1.0f);
            unit->setParameterFloat(fx::TremoloUnit::kSquare, 0.7f);
            unit->setParameterFloat(fx::TremoloUnit::kSkew, -0.6f);
            unit->setParameterFloat(fx::TremoloUnit::kFrequency, 20.0f);
            return wrap("tremolo reshaped", unit, 1.0f);
        },
    };
}

}  // namespace

TEST(EchoUnit, ImpulseComesBackAfterTheDelayAndEachRepeatIsScaledByTheFeedback) {
    struct Case {
        float delayMs, feedbackPercent, wetDb, dryDb;
    };
    for (const Case c : {Case{500, 50, 0, 0}, Case{250, 25, -6, -80}, Case{1234, 80, 3, -3}}) {
        SCOPED_TRACE(c.delayMs);
        fx::EchoUnit echo(kRate);
        ASSERT_TRUE(echo.setParameterFloat(fx::EchoUnit::kDelay, c.delayMs));
        ASSERT_TRUE(echo.setParameterFloat(fx::EchoUnit::kFeedback, c.feedbackPercent));
        ASSERT_TRUE(echo.setParameterFloat(fx::EchoUnit::kWetLevel, c.wetDb));
        ASSERT_TRUE(echo.setParameterFloat(fx::EchoUnit::kDryLevel, c.dryDb));
        const size_t delay = static_cast<size_t>(std::lround(c.delayMs * kRate / 1000.0));
        const auto out = runBlocks(echo, impulse(static_cast<int>(2 * delay + delay / 2)));
        const float wet = std::pow(10.0f, c.wetDb / 20),
                    dry = c.dryDb <= -80 ? 0 : std::pow(10.0f, c.dryDb / 20);

        EXPECT_NEAR(out[0], dry, 1e-6);
        EXPECT_EQ(argMaxAbs(out, 1, delay + delay / 2), delay);
        EXPECT_NEAR(out[delay], wet, 1e-6);
        EXPECT_EQ(argMaxAbs(out, delay + delay / 2, out.size()), 2 * delay);
        EXPECT_NEAR(out[2 * delay], wet * c.feedbackPercent / 100, 1e-6);
        double elsewhere = 0;
        for (size_t i = 1; i < out.size(); ++i)
            if (i != delay && i != 2 * delay)
                elsewhere = std::max(elsewhere, double(std::fabs(out[i])));
        EXPECT_EQ(elsewhere, 0.0);
    }
}

TEST(ChorusUnit, MixesInACopyDelayedAroundTwentyMillisecondsThatDrifts) {
    const auto in = parlune::test::voicedSignal(kRate * 2, 100.0);

    fx::ChorusUnit fixedDelay(kRate);
    fixedDelay.setParameterFloat(fx::ChorusUnit::kMix, 100.0f);
    fixedDelay.setParameterFloat(fx::ChorusUnit::kDepth, 0.0f);
    const auto delayed = runBlocks(fixedDelay, in);
    for (size_t i = 320; i < in.size(); i += 97) ASSERT_NEAR(delayed[i], in[i - 320], 1e-6) << i;

    fx::ChorusUnit chorus(kRate);  // defaults: half wet, 0.8 Hz, 3 % depth
    const auto out = runBlocks(chorus, in);
    std::vector<float> steadyComb(in.size());
    for (size_t i = 0; i < in.size(); ++i)
        steadyComb[i] = 0.5f * in[i] + 0.5f * (i >= 320 ? in[i - 320] : 0.0f);
    std::vector<float> drift(in.size());
    for (size_t i = 0; i < in.size(); ++i) drift[i] = out[i] - steadyComb[i];
    EXPECT_GT(rms(drift), 0.05 * rms(in)) << "the delay must move, not sit at 20 ms";
    EXPECT_LT(rms(drift), rms(in));

    fx::ChorusUnit dryOnly(kRate);
    dryOnly.setParameterFloat(fx::ChorusUnit::kMix, 0.0f);
    EXPECT_EQ(runBlocks(dryOnly, in), in);
}

TEST(DistortionUnit, RaisesHarmonicsWithLevelAndStaysWithinFullScale) {
    const auto in = sine(kRate, 250.0, kRate, 0.5);  // 250 whole periods
    const double inputRatio = harmonicRatio(in, 250.0);
    double previous = inputRatio;
    for (float level : {0.2f, 0.5f, 0.9f}) {
        fx::DistortionUnit unit(kRate);
        ASSERT_TRUE(unit.setParameterFloat(fx::DistortionUnit::kLevel, level));
        const double ratio = harmonicRatio(runBlocks(unit, in), 250.0);
        EXPECT_GT(ratio, previous * 2) << level;
        previous = ratio;
    }
    EXPECT_GT(previous, 0.01);  // at 0.9, clearly audible harmonics

    fx::DistortionUnit unit(kRate);
    const float edges[] = {-1.0f, -0.25f, 0.0f, 0.25f, 1.0f, 3.0e38f, -3.0e38f};
    float out[7];
    unit.process(edges, out, 7);
    EXPECT_FLOAT_EQ(out[0], -1.0f);
    EXPECT_FLOAT_EQ(out[4], 1.0f);
    EXPECT_EQ(out[2], 0.0f);
    EXPECT_GT(out[3], 0.25f);  // small signals gain drive
    for (float v : out) EXPECT_TRUE(std::isfinite(v) && std::fabs(v) <= 1.5f) << v;

    fx::DistortionUnit clean(kRate);
    clean.setParameterFloat(fx::DistortionUnit::kLevel, 0.0f);
    EXPECT_EQ(runBlocks(clean, in), in);
}

TEST(TremoloUnit, EnvelopeOfASineFollowsTheOscillatorAtItsFrequency) {
    const auto in = sine(kRate * 2, 1000.0, kRate, 0.8);
    fx::TremoloUnit tremolo(kRate);
    const auto out = runBlocks(tremolo, in);

    // Envelope: peak of each 1 ms (one sine period).
    std::vector<double> envelope;
    for (size_t at = 0; at + 16 <= out.size(); at += 16) {
        float peak = 0;
        for (size_t i = at; i < at + 16; ++i) peak = std::max(peak, std::fabs(out[i]));
        envelope.push_back(peak);
    }
    const double envelopeRate = 1000.0;
    double bestPower = 0, bestHz = 0;
    for (double hz = 1; hz <= 20; hz += 0.5) {
        double c = 0, s = 0;
        for (size_t n = 0; n < envelope.size(); ++n) {
            c += envelope[n] * std::cos(2 * kPi * hz * n / envelopeRate);
            s += envelope[n] * std::sin(2 * kPi * hz * n / envelopeRate);
        }
        if (c * c + s * s > bestPower) bestPower = c * c + s * s, bestHz = hz;
    }
    EXPECT_EQ(bestHz, 5.0);
    // Full depth: the sound fades out completely once per cycle.
    EXPECT_LT(*std::min_element(envelope.begin(), envelope.end()), 0.05 * 0.8);
    EXPECT_GT(*std::max_element(envelope.begin(), envelope.end()), 0.95 * 0.8);

    fx::TremoloUnit shallow(kRate);
    shallow.setParameterFloat(fx::TremoloUnit::kDepth, 0.0f);
    EXPECT_EQ(runBlocks(shallow, in), in);
}

TEST(TremoloUnit, OscillatorShapes) {
    struct Case {
        const char* what;
        double phase;
        float shape, skew, duty, square, expected;
    };
    const Case cases[] = {
        {"triangle start", 0.0, 0, 0, 0.5f, 0, 0.5f},
        {"triangle peak", 0.25, 0, 0, 0.5f, 0, 1.0f},
        {"triangle rising", 0.125, 0, 0, 0.5f, 0, 0.75f},
        {"triangle trough", 0.75, 0, 0, 0.5f, 0, 0.0f},
        {"wraps whole cycles", 3.25, 0, 0, 0.5f, 0, 1.0f},
        {"sine", 0.125, 1, 0, 0.5f, 0, float(0.5 + 0.5 * std::sin(kPi / 4))},
        {"skew -1 peaks early", 0.005, 0, -1, 0.5f, 0, 1.0f},
        {"skew +1 peaks late", 0.495, 0, 1, 0.5f, 0, 1.0f},
        {"short duty: upper half ends at 0.2", 0.1, 0, 0, 0.2f, 0, 1.0f},
        {"short duty: lower half from 0.2", 0.6, 0, 0, 0.2f, 0, 0.0f},
        {"square flattens", 0.05, 0, 0, 0.5f, 1, 1.0f},
        {"half square", 0.125, 0, 0, 0.5f, 0.5f, 1.0f},
        {"half square below the clip", 0.0625, 0, 0, 0.5f, 0.5f, 0.75f},
    };
    for (const Case& c : cases)
        EXPECT_NEAR(fx::TremoloUnit::oscillator(c.phase, c.shape, c.skew, c.duty, c.square),
                    c.expected, 1e-5)
            << c.what;

    // Square wave at duty 0.3: up for 30 % of the cycle, down for the rest.
    int up = 0;
    for (int i = 0; i < 1000; ++i)
        up += fx::TremoloUnit::oscillator((i + 0.5) / 1000, 0, 0, 0.3f, 1) > 0.5f;
    EXPECT_EQ(up, 300);
}

TEST(EffectUnits, ParametersByIndexStartAtTheirDefaultsAndRejectBadValues) {
    struct Expect {
        int index;
        float value;
    };
    fx::EchoUnit echo(kRate);
    fx::ChorusUnit chorus(kRate);
    fx::DistortionUnit distortion(kRate);
    fx::TremoloUnit tremolo(kRate);
    auto check = [](auto& unit, std::initializer_list<Expect> defaults, int count) {
        for (const Expect& e : defaults) {
            float v = -1;
            ASSERT_TRUE(unit.getParameterFloat(e.index, &v));
            EXPECT_FLOAT_EQ(v, e.value) << e.index;
            EXPECT_FLOAT_EQ(unit.parameterInfo(e.index)->defaultValue, e.value);
        }
        float v = 0;
        EXPECT_FALSE(unit.getParameterFloat(count, &v));
        EXPECT_FALSE(unit.getParameterFloat(-1, &v));
        EXPECT_FALSE(unit.getParameterFloat(0, nullptr));
        EXPECT_FALSE(unit.setParameterFloat(count, 0.0f));
        EXPECT_EQ(unit.parameterInfo(count), nullptr);
        const auto* info = unit.parameterInfo(0);
        float before = 0, after = 0;
        unit.getParameterFloat(0, &before);
        EXPECT_FALSE(unit.setParameterFloat(0, std::nanf("")));
        EXPECT_FALSE(unit.setParameterFloat(0, info->maximum + 1.0f));
        EXPECT_FALSE(unit.setParameterFloat(0, info->minimum - 1.0f));
        unit.getParameterFloat(0, &after);
        EXPECT_EQ(before, after);
        EXPECT_TRUE(unit.setParameterFloat(0, info->maximum));
        unit.getParameterFloat(0, &after);
        EXPECT_EQ(after, info->maximum);
    };
    check(echo, {{0, 500}, {1, 50}, {2, 0}, {3, 0}}, fx::EchoUnit::kParameterCount);
    check(chorus, {{0, 50}, {1, 0.8f}, {2, 3}}, fx::ChorusUnit::kParameterCount);
    check(distortion, {{0, 0.5f}}, fx::DistortionUnit::kParameterCount);
    check(tremolo, {{0, 5}, {1, 1}, {2, 0}, {3, 0}, {4, 0.5f}, {5, 0}, {6, 0}, {7, 0}},
          fx::TremoloUnit::kParameterCount);
}

TEST(EffectUnits, InPlaceAndAnyBlockSizeGiveTheSameOutput) {
    const auto in = parlune::test::voicedSignal(kRate * 3, 123.0);
    for (const auto& make : allUnitFactories()) {
        AnyUnit reference = make(), inPlace = make(), oddBlocks = make();
        SCOPED_TRACE(reference.name);
        std::vector<float> expected(in.size());
        for (size_t at = 0; at < in.size(); at += kBlock)
            reference.process(in.data() + at, expected.data() + at,
                              int(std::min<size_t>(kBlock, in.size() - at)));

        std::vector<float> buffer = in;
        for (size_t at = 0; at < in.size(); at += kBlock)
            inPlace.process(buffer.data() + at, buffer.data() + at,
                            int(std::min<size_t>(kBlock, in.size() - at)));
        EXPECT_EQ(buffer, expected);

        std::vector<float> out(in.size());
        for (size_t at = 0, block = 1; at < in.size(); at += block, block = block % 997 + 113)
            oddBlocks.process(in.data() + at, out.data() + at,
                              int(std::min(block, in.size() - at)));
        EXPECT_EQ(out, expected);

        // After reset the unit behaves as new.
        reference.reset();
        std::vector<float> again(kBlock);
        reference.process(in.data(), again.data(), kBlock);
        EXPECT_TRUE(std::equal(again.begin(), again.end(), expected.begin()));
    }
}

TEST(EffectUnits, FullScaleNoiseForMinutesStaysBoundedAndTailsDieToExactZero) {
    const auto loud = parlune::test::whiteNoise(static_cast<size_t>(kRate) * 120, 12345);
    const std::vector<float> silence(static_cast<size_t>(kRate) * 60, 0.0f);
    for (const auto& make : allUnitFactories()) {
        AnyUnit unit = make();
        SCOPED_TRACE(unit.name);
        std::vector<float> block(kBlock);
        float peak = 0;
        bool finite = true;
        for (size_t at = 0; at + kBlock <= loud.size(); at += kBlock) {
            unit.process(loud.data() + at, block.data(), kBlock);
            finite = finite && allFinite(block);
            for (float v : block) peak = std::max(peak, std::fabs(v));
        }
        EXPECT_TRUE(finite);
        EXPECT_LE(peak, unit.bound);
        EXPECT_GT(peak, 0.1f);

        for (size_t at = 0; at + kBlock <= silence.size(); at += kBlock)
            unit.process(silence.data() + at, block.data(), kBlock);
        // Flushed recursive state reaches zero instead of lingering as denormals.
        if (unit.tailDiesInAMinute) {
            EXPECT_TRUE(std::all_of(block.begin(), block.end(), [](float v) { return v == 0.0f; }));
        }
    }
}
