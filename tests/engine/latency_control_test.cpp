// The live chain's latency arithmetic: targets per driver rate, ring wrap,
// adaptation to coarse drivers, and the rate correction band.
#include "engine/latency_control.h"

#include <gtest/gtest.h>

using parlune::engine::LatencyControl;

namespace {

struct RateCase {
    int32_t rate;
    uint32_t desired, threshold;
    int32_t slow, fast;
};

TEST(LatencyControl, TargetsAndCorrectedRatesFollowTheDriverRate) {
    const RateCase cases[] = {
        {48000, 2400, 1200, 45600, 50400},
        {44100, 2205, 1102, 41895, 46305},
        {16000, 800, 400, 15200, 16800},
        {0, 0, 0, 0, 0},  // unusable driver
    };
    for (const RateCase& c : cases) {
        LatencyControl control(c.rate);
        EXPECT_EQ(control.desiredLatency(), c.desired) << c.rate;
        EXPECT_EQ(control.driftThreshold(), c.threshold) << c.rate;
        EXPECT_EQ(control.adjustedLatency(), c.desired) << c.rate;
        EXPECT_EQ(control.slowRate(), c.slow) << c.rate;
        EXPECT_EQ(control.fastRate(), c.fast) << c.rate;
    }
}

TEST(LatencyControl, RingWrapKeepsDeltaAndLatencyPositive) {
    LatencyControl control(48000);
    control.setSoundLength(48000);
    EXPECT_EQ(control.advanceRecording(47000), 47000u);
    EXPECT_EQ(control.advanceRecording(1000), 2000u);  // wrapped past the end
    EXPECT_EQ(control.samplesRecorded(), 49000u);
    // Recording at 1000 after the wrap, playback still near the end.
    control.correct(2000, 46600);
    EXPECT_EQ(control.lastLatency(), 2400u);
}

TEST(LatencyControl, StartsPlaybackOnceTheTargetIsBuffered) {
    LatencyControl control(48000);
    control.setSoundLength(48000);
    control.advanceRecording(2399);
    EXPECT_FALSE(control.readyToPlay());
    control.advanceRecording(2400);
    EXPECT_TRUE(control.readyToPlay());
}

TEST(LatencyControl, CoarseDriverRaisesTheTargetToOneStep) {
    LatencyControl control(48000);
    control.setSoundLength(48000);
    const uint32_t chunk = 3840;  // 80 ms
    const uint32_t delta = control.advanceRecording(chunk);
    ASSERT_TRUE(control.readyToPlay());  // the first chunk already covers 50 ms
    control.correct(delta, 0);
    EXPECT_EQ(control.adjustedLatency(), chunk);
    EXPECT_EQ(control.minRecordDelta(), chunk);
    // A finer step later brings the target back down to 50 ms.
    control.correct(480, 0);
    EXPECT_EQ(control.adjustedLatency(), 2400u);
    // Steps no smaller than the smallest seen change nothing.
    control.correct(4000, 0);
    EXPECT_EQ(control.adjustedLatency(), 2400u);
}

TEST(LatencyControl, RateLeavesNativeOnlyOutsideTheBand) {
    LatencyControl control(48000);
    control.setSoundLength(48000);
    control.advanceRecording(10000);
    // The smoothed measure starts at zero: below the band, playback slows.
    EXPECT_EQ(control.correct(480, 10000 - 2400), 45600);
    // Held at the target, the measure climbs into the band (1200..3600).
    int32_t rate = 0;
    for (int pass = 0; pass < 200; ++pass) rate = control.correct(480, 10000 - 2400);
    EXPECT_NEAR(control.actualLatency(), 2400.0f, 10.0f);
    EXPECT_EQ(rate, 48000);
    // Playback falling far behind pushes the measure above the band.
    for (int pass = 0; pass < 200; ++pass) rate = control.correct(480, 10000 - 6000);
    EXPECT_GT(control.actualLatency(), 3600.0f);
    EXPECT_EQ(rate, 50400);
}

TEST(LatencyControl, SmoothingIsThreePercentPerPass) {
    LatencyControl control(48000);
    control.setSoundLength(48000);
    control.advanceRecording(5000);
    control.correct(480, 5000 - 1000);
    EXPECT_FLOAT_EQ(control.actualLatency(), 30.0f);
    control.correct(480, 5000 - 1000);
    EXPECT_FLOAT_EQ(control.actualLatency(), 0.97f * 30.0f + 30.0f);
}

}  // namespace

namespace {

TEST(LatencyControl, PlaybackThatOvertookTheRecordingIsPutBackOnTarget) {
    struct Case {
        uint32_t recordPos, playPos;
        bool resync;
        uint32_t position;
    };
    const Case cases[] = {
        {10000, 7600, false, 0},     // on target
        {10000, 10480, true, 7600},  // 10 ms ahead: reads as 990 ms behind
        {1000, 47000, false, 0},     // behind across the wrap: 2000 samples
        {1000, 2000, true, 46600},   // ahead, target across the wrap
        {30000, 5000, true, 27600},  // more than half a ring behind
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.playPos);
        LatencyControl control(48000);
        control.setSoundLength(48000);
        control.advanceRecording(c.recordPos);
        const int32_t rate = control.correct(480, c.playPos);
        EXPECT_EQ(control.needsResync(), c.resync);
        if (c.resync) {
            EXPECT_EQ(control.resyncPosition(), c.position);
            EXPECT_EQ(rate, 48000);
            EXPECT_FLOAT_EQ(control.actualLatency(), 2400.0f);
        }
    }
}

}  // namespace
