// Looptap through a restart of the private audio server: it keeps running on
// its own, the speaker gets silence while PARLUNE-01 is gone, and once the
// virtual device is loaded again (as the program does: loaded, a stream on
// it, its clock restarted) a tone played into it is heard on the speaker
// within 2 s, and never the tone of before.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "looptap/looptap.h"
#include "platform/pulse/pulse_client.h"
#include "platform/vdev/virtual_device.h"
#include "tests/support/test_support.h"
#include "tools/server_streams.h"

namespace fs = std::filesystem;
namespace pulse = parlune::pulse;
using namespace parlune::test;
using parlune::tools::Clock;
using parlune::tools::SourceRecording;
using parlune::tools::ToneFeed;
using namespace std::chrono_literals;

namespace {

constexpr double kBefore = 440.0, kAfter = 660.0;

size_t count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

double msBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

bool ensureVirtualDevice() {
    pulse::PulseClient client("looptap restart test");
    return client.connected() && parlune::vdev::ensureVirtualDevice(client).ok;
}

// What the program does once the live chain's output is on the device.
bool restartClock() {
    pulse::PulseClient client("looptap restart test");
    return parlune::vdev::restartVirtualSinkClock(client);
}

}  // namespace

TEST(LooptapRestart, ComesBackByItselfWhenTheVirtualDeviceReturnsAndNeverReplays) {
    PARLUNE_NEED_PULSE();
    if (!canRestartPrivateServer()) GTEST_SKIP() << "needs the test script's server";
    TempDir data;
    setenv("XDG_DATA_HOME", data.path().c_str(), 1);
    fs::create_directories(data.file("Parlune"));
    std::ofstream(data.file("Parlune/config.ini"), std::ios::binary) << "Speaker";
    ASSERT_TRUE(ensureVirtualDevice());

    testing::internal::CaptureStderr();
    StartPlaying();
    {
        ToneFeed tone("parlune_01", kBefore);
        ASSERT_TRUE(tone.ok());
        ASSERT_TRUE(restartClock());
        SourceRecording speaker("speaker.monitor");
        ASSERT_TRUE(speaker.ok());
        const auto started = Clock::now();
        bool passing = false;
        while (!passing && Clock::now() - started < 8s) {
            std::this_thread::sleep_for(100ms);
            passing = speaker.firstLoud(started, 0.05).has_value();
        }
        ASSERT_TRUE(passing) << "Looptap did not pass the tone before the restart";
        ASSERT_TRUE(restartPrivateServer());  // the tone, the recording and PARLUNE-01 go
    }
    const auto serverBack = Clock::now();
    SourceRecording speaker("speaker.monitor");
    ASSERT_TRUE(speaker.ok());
    // PulseAudio's null sinks render two seconds ahead while idle, so the new
    // speaker's monitor may pass nothing at first: a probe played straight
    // into it tells when it does, and the silence is checked from then on.
    {
        ToneFeed probe("speaker", kBefore);
        ASSERT_TRUE(probe.ok());
        std::optional<Clock::time_point> warm;
        while (!warm && Clock::now() - serverBack < 6s) {
            std::this_thread::sleep_for(50ms);
            warm = speaker.firstLoud(serverBack, 0.05);
        }
        ASSERT_TRUE(warm) << "the speaker's monitor passes nothing after the restart";
        RecordProperty("speakerPassingAfterServerBackMs",
                       std::to_string(msBetween(serverBack, *warm)));
    }
    std::this_thread::sleep_for(300ms);
    const auto silentFrom = Clock::now();
    std::this_thread::sleep_for(700ms);  // PARLUNE-01 is still missing
    ASSERT_TRUE(ensureVirtualDevice());
    const auto deviceBack = Clock::now();
    ToneFeed tone("parlune_01", kAfter);
    ASSERT_TRUE(tone.ok());
    ASSERT_TRUE(restartClock());
    std::optional<Clock::time_point> heard;
    while (!heard && Clock::now() - deviceBack < 6s) {
        std::this_thread::sleep_for(50ms);
        heard = speaker.firstLoud(deviceBack, 0.05);
    }
    std::this_thread::sleep_for(500ms);
    speaker.stop();
    StopPlaying();
    const std::string log = testing::internal::GetCapturedStderr();

    const std::vector<float> gone = speaker.between(silentFrom, deviceBack);
    ASSERT_FALSE(gone.empty());
    EXPECT_LT(rms(gone), 0.005) << "the speaker got sound while PARLUNE-01 was gone";
    ASSERT_TRUE(heard) << "no tone on the speaker within 6 s of PARLUNE-01's return\n" << log;
    const double recoveryMs = msBetween(deviceBack, *heard);
    RecordProperty("heardAfterDeviceBackMs", std::to_string(recoveryMs));
    EXPECT_LT(recoveryMs, 2000.0) << log;
    // Everything loud after the return is the new tone.
    const std::vector<float> after = speaker.between(*heard, Clock::now());
    EXPECT_NEAR(medianF0(after, 48000, 300, 800), kAfter, 10.0);
    EXPECT_EQ(count(log, "capture device \"PARLUNE-01 Microphone"), 2u) << log;
    EXPECT_EQ(count(log, "went away"), count(log, "\" is back")) << log;

    pulse::PulseClient client("looptap restart test");
    parlune::vdev::removeVirtualDevice(client);
}
