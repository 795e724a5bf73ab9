#include "voice/morph_unit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "tests/support/test_support.h"

namespace parlune::voice {
namespace {

using test::allFinite;
using test::medianF0;
using test::rms;
using test::voicedSignal;

constexpr int kBlock = kBlockLength;

MorphParams human(float pitch, float formant) { return {false, pitch, formant, 1}; }
MorphParams cartoon(float pitch, float formant) { return {true, pitch, formant, 1}; }

std::vector<float> morphBlocks(const std::vector<float>& in, const MorphParams& p, MorphState& s) {
    std::vector<float> out(in.size(), 123.0f);
    for (size_t done = 0; done + kBlock <= in.size(); done += kBlock)
        processMorphBlock(in.data() + done, out.data() + done, kBlock, 1, p, s);
    return out;
}

// Field by field, so padding bytes never count.
bool sameState(const HumanMorphState& a, const HumanMorphState& b) {
    return a.tailLength == b.tailLength &&
           !std::memcmp(a.analysisWindow, b.analysisWindow, sizeof a.analysisWindow) &&
           !std::memcmp(a.tail, b.tail, sizeof a.tail) &&
           !std::memcmp(a.outputBlock, b.outputBlock, sizeof a.outputBlock);
}
bool sameState(const CartoonMorphState& a, const CartoonMorphState& b) {
    return a.pendingLength == b.pendingLength &&
           !std::memcmp(a.analysisInputHistory, b.analysisInputHistory,
                        sizeof a.analysisInputHistory) &&
           !std::memcmp(a.synthesisOutputHistory, b.synthesisOutputHistory,
                        sizeof a.synthesisOutputHistory) &&
           !std::memcmp(a.pendingOutput, b.pendingOutput, sizeof a.pendingOutput);
}

std::vector<float> noise(size_t length, float amplitude, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> dist(-amplitude, amplitude);
    std::vector<float> v(length);
    for (float& x : v) x = dist(rng);
    return v;
}

TEST(MorphUnit, FreshStateStartsAsAtProgramStart) {
    auto state = makeMorphState();
    EXPECT_EQ(state->human.tailLength, 1024);
    EXPECT_EQ(state->cartoon.pendingLength, 0);
    EXPECT_EQ(state->hannWindow[0], 0.0f);
    EXPECT_EQ(state->hannWindow[kBlock - 1], 0.0f);
    EXPECT_NEAR(state->hannWindow[kBlock / 2], 1.0f, 1e-5);
    EXPECT_EQ(&processMorphState(), &processMorphState());
}

// Hard inputs and controls in both modes, and mode switches every block: every
// block keeps its length and stays finite, and the state stays usable after.
TEST(MorphUnit, OutputIsFiniteForHardInputsAndControls) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    std::vector<std::vector<float>> inputs;
    inputs.push_back(std::vector<float>(4 * kBlock, 0.0f));  // digital silence
    std::vector<float> impulses(4 * kBlock, 0.0f);
    for (size_t i = 100; i < impulses.size(); i += 700) impulses[i] = 1.0f;
    inputs.push_back(impulses);
    inputs.push_back(noise(4 * kBlock, 1.0f, 1));  // full-scale noise
    std::vector<float> clipped = voicedSignal(4 * kBlock, 100);
    for (float& v : clipped) v = std::max(-1.0f, std::min(1.0f, v * 40.0f));
    inputs.push_back(clipped);
    std::vector<float> poisoned = noise(4 * kBlock, 0.5f, 2);
    poisoned[5] = nan, poisoned[kBlock + 7] = inf, poisoned[2 * kBlock] = -inf;
    inputs.push_back(poisoned);

    const std::vector<MorphParams> controls = {
        human(1.0f, 1.0f),     human(0.65f, 0.8f),   human(1.7f, 1.2f), human(nan, nan),
        human(inf, 5.0f),      human(1.2f, -0.5f),   human(1.0f, 2.5f), cartoon(1.0f, 1.5f),
        cartoon(0.65f, -0.5f), cartoon(1.7f, 2.5f),  cartoon(nan, nan), cartoon(-inf, inf),
        cartoon(1.0f, 0.0f),   cartoon(1.0f, 1e30f),
    };
    auto state = makeMorphState();
    for (size_t i = 0; i < inputs.size(); ++i)
        for (const MorphParams& p : controls) {
            SCOPED_TRACE(testing::Message() << "input " << i << " cartoon " << p.isCartoonMorph
                                            << " pitch " << p.pitch << " formant " << p.formant);
            const std::vector<float> out = morphBlocks(inputs[i], p, *state);
            ASSERT_EQ(out.size(), inputs[i].size());
            ASSERT_TRUE(allFinite(out));
            for (float v : out) ASSERT_NE(v, 123.0f);  // every sample written
        }
    // Switching mode on every block.
    const std::vector<float> speechLike = voicedSignal(16 * kBlock, 120);
    std::vector<float> out(speechLike.size());
    for (int b = 0; b < 16; ++b)
        processMorphBlock(speechLike.data() + b * kBlock, out.data() + b * kBlock, kBlock, 1,
                          b % 2 ? cartoon(1.3f, 0.5f) : human(0.8f, 1.1f), *state);
    EXPECT_TRUE(allFinite(out));
    // Still a working state: a voiced signal comes out voiced.
    const std::vector<float> after =
        morphBlocks(voicedSignal(16 * kBlock, 120), human(1.0f, 1.0f), *state);
    EXPECT_GT(rms(after, 8 * kBlock), 0.01);
}

// Controls outside the ranges act as their limits; NaN acts as the neutral value.
TEST(MorphUnit, ControlsOutsideTheRangesActAsTheirLimits) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const std::vector<float> in = voicedSignal(6 * kBlock, 110);
    const std::pair<MorphParams, MorphParams> same[] = {
        {cartoon(5.0f, 1.0f), cartoon(1.7f, 1.0f)}, {cartoon(0.1f, 1.0f), cartoon(0.65f, 1.0f)},
        {cartoon(inf, 1.0f), cartoon(1.7f, 1.0f)},  {cartoon(nan, 1.0f), cartoon(1.0f, 1.0f)},
        {cartoon(1.2f, nan), cartoon(1.2f, 0.0f)},  {human(5.0f, 1.0f), human(1.7f, 1.0f)},
        {human(-3.0f, 1.0f), human(0.65f, 1.0f)},   {human(inf, 1.0f), human(1.7f, 1.0f)},
        {human(nan, 1.0f), human(1.0f, 1.0f)},      {human(1.2f, nan), human(1.2f, 1.0f)},
    };
    for (const auto& [outside, limit] : same) {
        SCOPED_TRACE(testing::Message()
                     << (outside.isCartoonMorph ? "cartoon" : "human") << " pitch " << outside.pitch
                     << " formant " << outside.formant);
        EXPECT_EQ(morphSignal(in, outside), morphSignal(in, limit));
    }
    EXPECT_NE(morphSignal(in, human(1.6f, 1.0f)), morphSignal(in, human(1.7f, 1.0f)));
}

TEST(MorphUnit, StateCarriesAcrossBlocksAndMatchesOneLongCall) {
    const std::vector<float> in = voicedSignal(8 * kBlock, 110);
    for (const MorphParams& p : {human(1.3f, 1.1f), cartoon(1.3f, 0.75f)}) {
        SCOPED_TRACE(p.isCartoonMorph);
        auto blockwise = makeMorphState();
        const std::vector<float> byBlocks = morphBlocks(in, p, *blockwise);
        auto longCall = makeMorphState();
        std::vector<float> byOneCall(in.size());
        processMorphBlock(in.data(), byOneCall.data(), static_cast<unsigned>(in.size()), 1, p,
                          *longCall);
        EXPECT_EQ(byBlocks, byOneCall);
        // The history matters: the same block after other audio differs from a
        // fresh start.
        auto fresh = makeMorphState();
        std::vector<float> lastBlockFresh(kBlock);
        processMorphBlock(in.data() + 7 * kBlock, lastBlockFresh.data(), kBlock, 1, p, *fresh);
        EXPECT_NE(std::vector<float>(byBlocks.end() - kBlock, byBlocks.end()), lastBlockFresh);
    }
    // A block in one mode leaves the other mode's state exactly as it was.
    {
        auto state = makeMorphState();
        morphBlocks(in, human(1.2f, 1.0f), *state);
        morphBlocks(in, cartoon(1.2f, 1.0f), *state);
        const HumanMorphState humanBefore = state->human;
        const CartoonMorphState cartoonBefore = state->cartoon;
        morphBlocks(in, cartoon(0.8f, -0.3f), *state);
        EXPECT_TRUE(sameState(humanBefore, state->human));
        morphBlocks(in, human(0.8f, 0.9f), *state);
        EXPECT_FALSE(sameState(humanBefore, state->human));
        const CartoonMorphState cartoonAfterCartoon = state->cartoon;
        morphBlocks(in, human(1.1f, 1.1f), *state);
        EXPECT_TRUE(sameState(cartoonAfterCartoon, state->cartoon));
        EXPECT_FALSE(sameState(cartoonBefore, cartoonAfterCartoon));
    }
    // The first human block fades in from the zero tail.
    auto state = makeMorphState();
    std::vector<float> first(kBlock);
    processMorphBlock(in.data(), first.data(), kBlock, 1, human(1.0f, 1.0f), *state);
    EXPECT_LT(rms(first, 0, 256), 1e-6);
}

TEST(MorphUnit, OddLengthsAndChannelCountsStayInRange) {
    const std::vector<float> mono = voicedSignal(2 * kBlock + 300, 100);
    for (const MorphParams& p : {human(1.2f, 1.0f), cartoon(1.2f, 1.0f)}) {
        SCOPED_TRACE(p.isCartoonMorph);
        // A tail shorter than a block: processed zero-padded, nothing written past it.
        std::vector<float> out(mono.size() + 8, 77.0f);
        auto state = makeMorphState();
        processMorphBlock(mono.data(), out.data(), static_cast<unsigned>(mono.size()), 1, p,
                          *state);
        EXPECT_TRUE(allFinite(out));
        for (size_t i = mono.size(); i < out.size(); ++i) EXPECT_EQ(out[i], 77.0f);
        // The same as morphing the zero-padded signal and cutting it back.
        std::vector<float> padded = mono;
        padded.resize(3 * kBlock, 0.0f);
        auto reference = makeMorphState();
        const std::vector<float> whole = morphBlocks(padded, p, *reference);
        EXPECT_TRUE(std::equal(whole.begin(), whole.begin() + mono.size(), out.begin()));

        // Stereo: the average of both channels is morphed and written to both.
        std::vector<float> stereo(2 * kBlock * 2);
        for (int i = 0; i < 2 * kBlock; ++i) {
            stereo[2 * i] = mono[i] * 1.5f;
            stereo[2 * i + 1] = mono[i] * 0.5f;
        }
        std::vector<float> stereoOut(stereo.size() + 4, 77.0f);
        auto stereoState = makeMorphState();
        processMorphBlock(stereo.data(), stereoOut.data(), 2 * kBlock, 2, p, *stereoState);
        auto monoState = makeMorphState();
        const std::vector<float> monoOut =
            morphBlocks(std::vector<float>(mono.begin(), mono.begin() + 2 * kBlock), p, *monoState);
        for (int i = 0; i < 2 * kBlock; ++i) {
            ASSERT_NEAR(stereoOut[2 * i], monoOut[i], 1e-6) << i;
            ASSERT_EQ(stereoOut[2 * i + 1], stereoOut[2 * i]) << i;
        }
        for (size_t i = stereo.size(); i < stereoOut.size(); ++i) EXPECT_EQ(stereoOut[i], 77.0f);

        // No frames, no channels or no buffers: nothing is written.
        std::vector<float> untouched(kBlock, 5.0f);
        processMorphBlock(mono.data(), untouched.data(), 0, 1, p, *state);
        processMorphBlock(mono.data(), untouched.data(), kBlock, 0, p, *state);
        processMorphBlock(nullptr, untouched.data(), kBlock, 1, p, *state);
        processMorphBlock(mono.data(), nullptr, kBlock, 1, p, *state);
        for (float v : untouched) ASSERT_EQ(v, 5.0f);
    }
}

// The pitch of a synthetic voice follows the control: the cartoon morph scales
// F0 by the pitch, the human morph by 1 / q with q the period factor.
TEST(MorphUnit, PitchFollowsTheControl) {
    const int rate = kMorphSampleRate;
    const std::vector<float> in = voicedSignal(40 * kBlock, 128.0);  // 125 Hz
    const double inputF0 = medianF0(in, rate);
    ASSERT_NEAR(inputF0, 125.0, 3.0);
    struct Case {
        MorphParams params;
        double expectedRatio;
    };
    const Case cases[] = {
        {cartoon(1.4f, 0.75f), 1.4},      {cartoon(0.85f, 2.0f), 0.85},
        {cartoon(1.0f, 1.5f), 1.0},       {human(1.4f, 1.15f), 1.0 / 0.8},  // q = 1 - 0.4 * 0.5
        {human(0.85f, 0.85f), 1.0 / 1.3},                                   // q = 0.15 * 2 + 1
        {human(1.0f, 1.0f), 1.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << (c.params.isCartoonMorph ? "cartoon" : "human")
                                        << " pitch " << c.params.pitch);
        const std::vector<float> out = morphSignal(in, c.params);
        ASSERT_EQ(out.size(), in.size());
        ASSERT_TRUE(allFinite(out));
        // Skip the first blocks (fade-in and history).
        const std::vector<float> settled(out.begin() + 4 * kBlock, out.end());
        const double ratio = medianF0(settled, rate) / inputF0;
        EXPECT_NEAR(ratio, c.expectedRatio, 0.05 * c.expectedRatio);
    }
}

}  // namespace
}  // namespace parlune::voice
