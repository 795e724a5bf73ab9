#include "voice/cartoon_morph.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "tests/support/test_support.h"
#include "voice/kernels.h"

namespace parlune::voice {
namespace {

constexpr int kBlock = kBlockLength;
constexpr int kRate = 16000;

std::vector<float> hannWindow() {
    std::vector<float> w(kBlock);
    for (int n = 0; n < kBlock; ++n)
        w[n] = static_cast<float>(0.5 * (1.0 - std::cos(2.0 * M_PI * n / (kBlock - 1))));
    return w;
}

std::vector<float> warpMap(float f) {
    std::vector<float> map(kBlock);
    WarpMap(f, kBlock, map.data());
    return map;
}

// Runs the morph over whole blocks of `input` with fixed controls.
struct Morph {
    std::unique_ptr<CartoonMorphState> state = std::make_unique<CartoonMorphState>();
    std::vector<float> window = hannWindow();

    std::vector<float> run(const std::vector<float>& input, float pitch, float formant) {
        const std::vector<float> map = warpMap(formant);
        std::vector<float> out(input.size() / kBlock * kBlock);
        for (size_t at = 0; at + kBlock <= input.size(); at += kBlock)
            CartoonMorph(input.data() + at, kBlock, window.data(), pitch, map.data(), *state,
                         out.data() + at);
        return out;
    }
};

// Frequency (Hz) of the highest peak of the order-20 LPC envelope of a block.
double envelopePeakHz(const float* block) {
    const std::vector<float> w = hannWindow();
    float windowed[kBlock];
    for (int k = 0; k < kBlock; ++k) windowed[k] = block[k] * w[k];
    float a[64] = {};
    lpcCoefficients(windowed, kBlock, 20, a);
    float one[1] = {1.0f};
    float h[kBlock];
    freqzMagnitude(one, 1, a, 21, kBlock, h);
    int best = 1;
    for (int k = 1; k < kBlock; ++k)
        if (h[k] > h[best]) best = k;
    return best * (kRate / 2.0) / kBlock;
}

TEST(WarpMap, CurvesBendBySignAndKeepTheirEnds) {
    struct Case {
        float f;
        int side;       // +1: above the diagonal (formants move down), -1: below
        double factor;  // curve parameter the map must follow (alpha or beta)
    };
    const Case cases[] = {
        {-0.5f, +1, 0.5},   {-0.0100001f, +1, 0.0100001},
        {-0.01f, -1, 0.01}, {0.005f, -1, 0.01},
        {0.01f, -1, 0.01},  {1.0f, -1, 1.0},
        {2.5f, -1, 2.5},    {-2.0f, +1, 2.0},
    };
    const int n = kBlock;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.f);
        const std::vector<float> map = warpMap(c.f);
        EXPECT_EQ(map[0], 0.0f);
        EXPECT_EQ(map[n - 1], static_cast<float>(n - 1));
        for (int k = 1; k < n; ++k) ASSERT_GE(map[k], map[k - 1]) << k;
        for (int k : {100, 300, 512, 800}) {
            const double x = double(k) / (n - 1);
            const double expected =
                c.side > 0 ? std::log(c.factor * x + 1) / std::log(c.factor + 1) * (n - 1)
                           : (std::exp(std::log(c.factor + 1) * x) - 1) / c.factor * (n - 1);
            EXPECT_NEAR(map[k], expected, 0.02 + 1e-4 * expected) << k;
            if (c.factor > 0.1) {
                EXPECT_EQ(map[k] > k ? +1 : -1, c.side) << k;
            }
        }
    }
}

TEST(WarpMap, ValuesNearZeroShareTheNearlyStraightCurve) {
    // Comparing in double, -0.01f lies above -0.01 and takes the same curve.
    const std::vector<float> reference = warpMap(0.01f);
    for (float f : {0.005f, 0.0f, -0.01f, std::numeric_limits<float>::quiet_NaN()})
        EXPECT_EQ(warpMap(f), reference) << f;
    EXPECT_NE(warpMap(-0.0100001f), reference);
}

TEST(LevinsonStable, MatchesTheRecursionWhileItStaysStable) {
    // A genuine autocorrelation (0.9^m): every reflection coefficient below 1.
    float r[41];
    for (int m = 0; m <= 40; ++m) r[m] = static_cast<float>(std::pow(0.9, m) + (m == 0 ? 0.1 : 0));
    float plain[64] = {}, stable[64] = {};
    int order = -1;
    EXPECT_EQ(levinsonDurbinStable(r, stable, 40, &order), levinsonDurbin(r, plain, 40, -1.0f));
    EXPECT_EQ(order, 40);
    for (int j = 0; j <= 40; ++j) EXPECT_EQ(stable[j], plain[j]) << j;

    // The same block through the LPC entry points, bit for bit.
    const std::vector<float> voiced = test::voicedSignal(2048, 100);
    float a1[64] = {}, a2[64] = {};
    EXPECT_EQ(lpcCoefficientsStable(voiced.data(), 2048, 40, a2, &order),
              lpcCoefficients(voiced.data(), 2048, 40, a1));
    for (int j = 0; j <= 40; ++j) EXPECT_EQ(a2[j], a1[j]) << j;
}

TEST(LevinsonStable, KeepsTheLastStableOrderAndTheStatus) {
    // Not a valid autocorrelation: the order-2 reflection coefficient is 3.7.
    const float r[4] = {1.0f, 0.9f, 0.1f, 0.05f};
    float plain[64] = {}, stable[64] = {};
    int order = -1;
    const int32_t status = levinsonDurbinStable(r, stable, 3, &order);
    EXPECT_EQ(status, -2);
    EXPECT_EQ(status, levinsonDurbin(r, plain, 3, -1.0f));
    EXPECT_EQ(order, 1);
    EXPECT_FLOAT_EQ(stable[0], std::sqrt(0.19f));  // prediction error of order 1
    EXPECT_FLOAT_EQ(stable[1], -0.9f);
    EXPECT_EQ(stable[2], 0.0f);
    EXPECT_EQ(stable[3], 0.0f);
    EXPECT_GT(std::fabs(plain[2]), 1.0f);  // what the plain recursion keeps

    // Silence: failure, the trivial polynomial.
    float zeros[256] = {};
    float a[64] = {};
    EXPECT_EQ(lpcCoefficientsStable(zeros, 256, 40, a, &order), -1);
    EXPECT_EQ(a[0], 1.0f);
    for (int j = 1; j <= 40; ++j) EXPECT_EQ(a[j], 0.0f);
    EXPECT_EQ(order, 0);
}

// 160 Hz pulses through one 1000 Hz resonance (100 Hz wide), peak 0.5: a
// single formant whose place the envelope measure can see unambiguously.
std::vector<float> oneFormantVoice(int length) {
    const double r = std::exp(-M_PI * 100.0 / kRate);
    const double a1 = -2 * r * std::cos(2 * M_PI * 1000.0 / kRate), a2 = r * r;
    std::vector<double> y(length);
    double y1 = 0, y2 = 0, peak = 1e-12;
    for (int n = 0; n < length; ++n) {
        y[n] = (n % 100 == 0 ? 1.0 : 0.0) - a1 * y1 - a2 * y2;
        y2 = y1;
        y1 = y[n];
        peak = std::max(peak, std::fabs(y[n]));
    }
    std::vector<float> out(length);
    for (int n = 0; n < length; ++n) out[n] = static_cast<float>(0.5 * y[n] / peak);
    return out;
}

TEST(EnvelopeWarper, MovesTheFormantWithTheMap) {
    const std::vector<float> voice = oneFormantVoice(kBlock * 6);
    ASSERT_NEAR(envelopePeakHz(voice.data() + 5 * kBlock), 1000, 40);
    struct Case {
        float formant;
        double expectedHz;  // where the map sends the 1000 Hz bin
    };
    for (Case c : {Case{0.005f, 1000}, Case{1.0f, 1360}, Case{2.5f, 1735}, Case{-0.5f, 830}}) {
        Morph morph;
        const std::vector<float> out = morph.run(voice, 1.0f, c.formant);
        // 8 %: the tilt is not warped, so the peak lands a little off the map.
        EXPECT_NEAR(envelopePeakHz(out.data() + 5 * kBlock), c.expectedHz, 0.08 * c.expectedHz)
            << c.formant;
    }
}

TEST(CartoonMorph, ChangesPitchByTheRatioWithBoundedPending) {
    // 160 Hz voiced signal; the delivered F0 must follow p within 1 % (the
    // splices land on whole periods, so the measured ratio is within 0.2 %).
    const std::vector<float> voiced = test::voicedSignal(kBlock * 24, 100);
    for (float p : {0.65f, 1.0f, 1.3f, 1.7f}) {
        SCOPED_TRACE(p);
        Morph morph;
        const std::vector<float> map = warpMap(0.005f);
        std::vector<float> out(voiced.size());
        for (size_t at = 0; at < voiced.size(); at += kBlock) {
            CartoonMorph(voiced.data() + at, kBlock, morph.window.data(), p, map.data(),
                         *morph.state, out.data() + at);
            ASSERT_GE(morph.state->pendingLength, 0);
            ASSERT_LT(morph.state->pendingLength, 200);
        }
        const std::vector<float> settled(out.begin() + 2 * kBlock, out.end());
        EXPECT_TRUE(test::allFinite(settled));
        EXPECT_GT(test::rms(settled), 0.01);
        EXPECT_NEAR(test::medianF0(settled, kRate) / 160.0, p, 0.01 * p);
    }
}

TEST(CartoonMorph, SilenceStaysSilentAndLeavesTheHistoriesAtZero) {
    const std::vector<float> silence(kBlock * 3, 0.0f);
    for (float p : {0.65f, 1.0f, 1.7f}) {
        for (float f : {-0.5f, 0.005f, 2.5f}) {
            Morph morph;
            for (float v : morph.run(silence, p, f)) ASSERT_EQ(v, 0.0f) << p << " " << f;
            for (int k = 0; k < 40; ++k) {
                ASSERT_EQ(morph.state->analysisInputHistory[k], 0.0f);
                ASSERT_EQ(morph.state->synthesisOutputHistory[k], 0.0f);
            }
        }
    }
}

TEST(CartoonMorph, HostileInputGivesFiniteOutputAndTheStateRecovers) {
    std::mt19937 random(7);
    std::uniform_real_distribution<float> full(-1.0f, 1.0f);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    auto block = [](auto fill) {
        std::vector<float> b(kBlock);
        for (int k = 0; k < kBlock; ++k) b[k] = fill(k);
        return b;
    };
    const std::vector<std::vector<float>> hostile = {
        block([](int k) { return k == 0 ? 1.0f : 0.0f; }),                 // impulse
        block([](int k) { return k % 256 == 0 ? 1.0f : 0.0f; }),           // impulse train
        block([&](int) { return full(random); }),                          // full-scale noise
        block([](int k) { return (k / 40) % 2 ? 1.0f : -1.0f; }),          // clipped square
        block([](int) { return -1.0f; }),                                  // negative full scale
        block([](int k) { return 8.0f * std::sin(0.05f * k); }),           // far beyond full scale
        block([&](int k) { return k % 3 ? nan : (k % 2 ? inf : -inf); }),  // not numbers
        block([](int k) { return k == 512 ? 1e-30f : 0.0f; }),             // denormal-sized
    };
    const std::vector<float> voiced = test::voicedSignal(kBlock * 4, 100);
    for (float pitch : {0.65f, 1.0f, 1.7f, nan}) {
        for (float formant : {-0.5f, 2.5f}) {
            Morph morph;
            const std::vector<float> map = warpMap(formant);
            std::vector<float> out(kBlock);
            for (const std::vector<float>& in : hostile) {
                CartoonMorph(in.data(), kBlock, morph.window.data(), pitch, map.data(),
                             *morph.state, out.data());
                for (float v : out) ASSERT_TRUE(std::isfinite(v) && std::fabs(v) <= 1.0f + 1e-5f);
                ASSERT_GE(morph.state->pendingLength, 0);
                ASSERT_LT(morph.state->pendingLength, 400);
            }
            // Still a working voice morph afterwards.
            const std::vector<float> after = morph.run(voiced, pitch, formant);
            EXPECT_TRUE(test::allFinite(after));
            EXPECT_GT(test::rms(after, kBlock), 0.01);
        }
    }
}

TEST(CartoonMorph, ABlockOfNonNumbersDoesNotCostTheNextBlock) {
    // Non-finite samples read as 0, so they never reach the filter histories.
    const float nan = std::numeric_limits<float>::quiet_NaN();
    std::vector<float> input(kBlock, nan);
    const std::vector<float> voiced = test::voicedSignal(kBlock, 100);
    input.insert(input.end(), voiced.begin(), voiced.end());
    Morph morph;
    const std::vector<float> out = morph.run(input, 1.0f, 1.0f);
    EXPECT_TRUE(test::allFinite(out));
    EXPECT_GT(test::rms(out, kBlock), 0.05);
}

TEST(CartoonMorph, OtherBlockLengthsPassThrough) {
    Morph morph;
    const std::vector<float> in = test::sine(512, 300, kRate);
    std::vector<float> out(512, 9.0f);
    CartoonMorph(in.data(), 512, morph.window.data(), 1.3f, warpMap(1.0f).data(), *morph.state,
                 out.data());
    EXPECT_EQ(out, in);
    EXPECT_EQ(morph.state->pendingLength, 0);
}

TEST(EnvelopeWarper, GuardZeroesOverflowAndTheHistoryFollowsTheGuard) {
    // A clipped full-scale square wave overflows the gain-free synthesis filter.
    std::vector<float> loud(kBlock);
    for (int k = 0; k < kBlock; ++k) loud[k] = (k / 40) % 2 ? 1.0f : -1.0f;
    CartoonMorphState state;
    const std::vector<float> window = hannWindow();
    const std::vector<float> map = warpMap(2.5f);
    float y[kBlock];
    const int guarded = LpcEnvelopeWarper(loud.data(), window.data(), map.data(), state, y);
    EXPECT_GT(guarded, 0);
    int zeros = 0;
    for (float v : y) {
        ASSERT_LE(std::fabs(v), 1.0f);
        zeros += v == 0.0f;
    }
    EXPECT_GE(zeros, guarded);
    for (int k = 0; k < 40; ++k) EXPECT_EQ(state.synthesisOutputHistory[k], y[kBlock - 40 + k]);
    for (int k = 0; k < 20; ++k) EXPECT_EQ(state.analysisInputHistory[k], loud[kBlock - 20 + k]);
}

TEST(EnvelopeWarper, SpeechLosesAlmostNothingToTheGuard) {
    // With the plain order-40 fit, a reflection coefficient >= 1 made the
    // synthesis filter blow up and the guard zero most of a block: 0.49 % to
    // 1.8 % of this sample's samples, whole 64 ms dropouts. What is left now
    // are brief overflows of the gain-free filter (at most 0.21 %).
    const test::Wav speech = test::readWav(test::speechSamplePath());
    ASSERT_EQ(speech.rate, kRate);
    ASSERT_GT(speech.samples.size(), size_t(kBlock) * 20);
    const std::vector<float> window = hannWindow();
    for (float formant : {-0.5f, 0.005f, 1.0f, 2.5f}) {
        SCOPED_TRACE(formant);
        const std::vector<float> map = warpMap(formant);
        CartoonMorphState state;
        long guarded = 0, total = 0;
        int worstBlock = 0;
        float y[kBlock];
        for (size_t at = 0; at + kBlock <= speech.samples.size(); at += kBlock) {
            const int lost =
                LpcEnvelopeWarper(speech.samples.data() + at, window.data(), map.data(), state, y);
            guarded += lost;
            worstBlock = std::max(worstBlock, lost);
            total += kBlock;
        }
        EXPECT_LT(double(guarded) / total, 0.004);
        EXPECT_LT(worstBlock, kBlock / 2);
    }
}

// The speech sample through a windowed-sinc low-pass (Blackman, 255 taps),
// then 16-bit dither: what a microphone resampled to 16 kHz delivers, its top
// band empty but for noise.
std::vector<float> bandLimited(const std::vector<float>& in, double cutoffHz) {
    constexpr int kTaps = 255, kHalf = kTaps / 2;
    const double fc = cutoffHz / kRate;
    std::vector<double> h(kTaps);
    double sum = 0.0;
    for (int i = 0; i < kTaps; ++i) {
        const int m = i - kHalf;
        const double sinc = m == 0 ? 2.0 * fc : std::sin(2.0 * M_PI * fc * m) / (M_PI * m);
        const double w = 0.42 - 0.5 * std::cos(2.0 * M_PI * i / (kTaps - 1)) +
                         0.08 * std::cos(4.0 * M_PI * i / (kTaps - 1));
        sum += h[i] = sinc * w;
    }
    std::mt19937 noise(7);
    std::uniform_real_distribution<float> lsb(-0.5f / 32768, 0.5f / 32768);
    std::vector<float> out(in.size());
    for (size_t n = 0; n < in.size(); ++n) {
        double acc = 0.0;
        for (int i = 0; i < kTaps; ++i) {
            const long at = long(n) + kHalf - i;
            if (at >= 0 && at < long(in.size())) acc += h[i] / sum * in[size_t(at)];
        }
        out[n] = float(acc) + lsb(noise) + lsb(noise);
    }
    return out;
}

double rms(const std::vector<float>& x) {
    double e = 0.0;
    for (float v : x) e += double(v) * v;
    return std::sqrt(e / double(x.size()));
}

TEST(CartoonMorph, BandLimitedSpeechKeepsItsLevel) {
    // The analysis fit once whitened the empty top band up to the speech's
    // level, and upward formants put gain over it: the start-up voice came
    // out 1.5 to 1.7 times louder from a 6 kHz band than from the full one,
    // hissing, with samples lost to the guard.
    const test::Wav speech = test::readWav(test::speechSamplePath());
    ASSERT_EQ(speech.rate, kRate);
    struct Voice {
        const char* name;
        float pitch, formant;
    };
    const Voice voices[] = {
        {"start-up", 1.0f, 1.5f}, {"robot", 0.85f, 2.0f}, {"alien", 0.9f, 0.4f}};
    for (double cutoff : {6000.0, 7000.0}) {
        const std::vector<float> limited = bandLimited(speech.samples, cutoff);
        for (const Voice& v : voices) {
            SCOPED_TRACE(std::string(v.name) + " from a band up to " + std::to_string(int(cutoff)));
            const double full = rms(Morph().run(speech.samples, v.pitch, v.formant));
            const std::vector<float> out = Morph().run(limited, v.pitch, v.formant);
            EXPECT_NEAR(rms(out) / full, 1.0, 0.2);
            const long zeroed = std::count(out.begin(), out.end(), 0.0f);
            EXPECT_LT(double(zeroed) / double(out.size()), 0.004);
        }
    }
}

TEST(Resample, LengthAndPositionsFollowTheRatio) {
    float y[kBlock];
    for (int k = 0; k < kBlock; ++k) y[k] = std::sin(0.01f * k);
    float z[2 * kBlock];
    struct Case {
        float p;
        int m;
    };
    for (Case c : {Case{1.0f, 1024}, Case{1.7f, 603}, Case{0.65f, 1576}, Case{1.3f, 788}}) {
        ASSERT_EQ(CartoonResample(y, c.p, z), c.m) << c.p;
        EXPECT_EQ(z[0], y[0]);
        EXPECT_NEAR(z[c.m - 1], y[kBlock - 1], 1e-4);
    }
    CartoonResample(y, 1.0f, z);
    for (int k = 0; k < kBlock; ++k) ASSERT_EQ(z[k], y[k]);  // integer positions at p = 1
}

TEST(Splice, ExtendAndShrinkCrossfadeContinuously) {
    float ramp[10];
    for (int i = 0; i < 10; ++i) ramp[i] = float(i);
    float s[32];
    // Extending by 3: 0 1 2, then a fade from i into i - 3, then 7 8 9 again.
    ASSERT_EQ(spliceByCount(ramp, 10, 3, true, s), 13);
    const float extended[13] = {0, 1, 2, 3, 3.5f, 4, 4.5f, 5, 5.5f, 6, 7, 8, 9};
    for (int i = 0; i < 13; ++i) EXPECT_NEAR(s[i], extended[i], 1e-5) << i;
    // Shrinking by 3: a fade from i into i + 3.
    ASSERT_EQ(spliceByCount(ramp, 10, 3, false, s), 7);
    const float shrunk[7] = {0, 1.5f, 3, 4.5f, 6, 7.5f, 9};
    for (int i = 0; i < 7; ++i) EXPECT_NEAR(s[i], shrunk[i], 1e-5) << i;
    for (bool extend : {true, false}) {
        ASSERT_EQ(spliceByCount(ramp, 10, 0, extend, s), 10);
        for (int i = 0; i < 10; ++i) EXPECT_EQ(s[i], ramp[i]);
    }
}

// A block of spikes `spacing` apart starting at `first`, zero elsewhere.
std::vector<float> spikes(int length, int first, int spacing) {
    std::vector<float> z(length, 0.0f);
    for (int i = first; i < length; i += spacing) z[i] = 0.8f;
    return z;
}

TEST(Splice, PeriodFromTheTwoStrongestPeaks) {
    EXPECT_EQ(splicePeriod(spikes(1000, 10, 100).data(), 1000), 100);
    EXPECT_EQ(splicePeriod(spikes(1000, 10, 300).data(), 1000), 200);  // capped
    std::vector<float> z = spikes(1000, 10, 100);
    z[510] = 0.9f;  // the strongest; the next one at least 33 away wins second
    EXPECT_EQ(splicePeriod(z.data(), 1000), 100);
    const std::vector<float> floor(1000, -1.0f);
    EXPECT_EQ(splicePeriod(floor.data(), 1000), 0);
    const std::vector<float> silence(1000, 0.0f);
    EXPECT_EQ(splicePeriod(silence.data(), 1000), 33);
}

TEST(Splice, WholePeriodsFillTheBlockAndTheRestWaits) {
    struct Case {
        int m;  // resampled length
        int pendingBefore;
        int pendingAfter;
    };
    // p = 1.7: 421 missing, five periods of 100 inserted, 79 left;
    // p = 0.65: 552 too many, five periods removed, 52 left;
    // p = 1 with 60 pending: nothing spliced, everything 60 samples late.
    for (Case c : {Case{603, 0, 79}, Case{1576, 0, 52}, Case{1024, 60, 60}}) {
        SCOPED_TRACE(c.m);
        CartoonMorphState state;
        const std::vector<float> old = spikes(c.pendingBefore, 0, 100);
        std::copy(old.begin(), old.end(), state.pendingOutput);
        state.pendingLength = c.pendingBefore;
        const std::vector<float> z = spikes(c.m, 30, 100);
        std::vector<float> out(kBlock);
        PeriodSplicer(z.data(), c.m, kBlock, out.data(), state);
        EXPECT_EQ(state.pendingLength, c.pendingAfter);
        if (c.m == kBlock) {
            for (int k = 0; k < kBlock; ++k)
                ASSERT_EQ(out[k], k < c.pendingBefore ? old[k] : z[k - c.pendingBefore]) << k;
        }
    }
    // Nothing above -1 gives no period; the splicer still delivers a block.
    CartoonMorphState state;
    const std::vector<float> floor(603, -1.0f);
    std::vector<float> out(kBlock, 5.0f);
    PeriodSplicer(floor.data(), 603, kBlock, out.data(), state);
    for (float v : out) ASSERT_EQ(v, -1.0f);
    EXPECT_GE(state.pendingLength, 0);
    EXPECT_LT(state.pendingLength, 200);
}

}  // namespace
}  // namespace parlune::voice
