// The pipe's two sides on real devices of the private audio server: start and
// stop rules, the error lines, and a capture side that never delivers.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "looptap/pipe.h"
#include "platform/pulse/pulse_client.h"
#include "platform/wave/wave.h"
#include "tests/support/test_support.h"

using parlune::looptap::CPipe;
namespace pulse = parlune::pulse;

namespace {

int playbackDevice(const std::string& name) {
    const unsigned count = parlune::wave::outGetNumDevs();
    for (unsigned i = 0; i < count; ++i) {
        parlune::wave::OutCaps caps;
        if (parlune::wave::outGetDevCaps(i, &caps) == parlune::wave::kOk && name == caps.name)
            return static_cast<int>(i);
    }
    return -1;
}

}  // namespace

TEST(LooptapSides, StartingARunningSideFailsAndStoppingAStoppedSideDoesNothing) {
    PARLUNE_NEED_PULSE();
    CPipe pipe;
    pipe.m_playbackDevice = playbackDevice("Headphones");
    ASSERT_GE(pipe.m_playbackDevice, 0);
    pipe.m_out.SetBufferFrames(512);
    pipe.m_out.Stop();  // never started
    ASSERT_TRUE(pipe.m_out.Start(nullptr));
    EXPECT_TRUE(pipe.m_out.IsRunning());
    EXPECT_FALSE(pipe.m_out.Start(nullptr));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    pipe.m_out.Stop();
    EXPECT_FALSE(pipe.m_out.IsRunning());
    EXPECT_EQ(pipe.m_out.GetQueued(), 0);
    pipe.m_out.Stop();
    ASSERT_TRUE(pipe.m_out.Start(nullptr));  // and again after a stop
}

TEST(LooptapSides, WaveFailuresShowTheirCodeTextAndPlaceOnStandardError) {
    PARLUNE_NEED_PULSE();
    CPipe pipe;  // both device numbers still -1
    testing::internal::CaptureStderr();
    EXPECT_FALSE(pipe.m_out.Start(nullptr));
    EXPECT_FALSE(pipe.m_in.Start(nullptr));
    const std::string lines = testing::internal::GetCapturedStderr();
    EXPECT_EQ(lines,
              "WAVEOUT:2:No device carries this number. in start()\n"
              "WAVEIN:2:No device carries this number. in Start()\n");
    EXPECT_FALSE(pipe.m_out.IsRunning());
    EXPECT_FALSE(pipe.m_in.IsRunning());
}

TEST(LooptapSides, PlaybackGoesOnInSilenceWhenCaptureNeverDeliversAndStopsAtOnce) {
    PARLUNE_NEED_PULSE();
    auto pipe = std::make_unique<CPipe>();
    pipe->m_playbackDevice = playbackDevice("Headphones");
    ASSERT_GE(pipe->m_playbackDevice, 0);
    pipe->m_out.SetBufferFrames(512);
    pipe->ResetRing();  // capture is never started
    ASSERT_TRUE(pipe->m_out.Start(nullptr));
    pipe->m_running = true;

    pulse::StreamLatency latency;
    latency.targetMs = 10;
    auto monitor = pulse::Stream::open(pulse::StreamDirection::Record, "headphones.monitor", 48000,
                                       1, latency, "looptap test capture");
    ASSERT_TRUE(monitor);
    std::vector<float> heard(48000);
    ASSERT_TRUE(monitor->read(heard.data(), heard.size()));
    EXPECT_LT(parlune::test::rms(heard), 1e-4);
    // Still cycling its buffers: no handler is stuck waiting for capture.
    EXPECT_GE(pipe->m_out.GetQueued(), 4);

    auto destroyed = std::async(std::launch::async, [&] { pipe.reset(); });
    EXPECT_EQ(destroyed.wait_for(std::chrono::seconds(10)), std::future_status::ready);
}
