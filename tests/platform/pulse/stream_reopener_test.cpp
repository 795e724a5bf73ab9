// The stream reopener on the private audio server: after a loss it tries to
// open nothing while the device is not listed (a named stream must not land
// on another device), hands a new stream over once the device is back, and
// tells of each change once.
#include "platform/pulse/stream_reopener.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/pulse/pulse_client.h"
#include "tests/support/test_support.h"

namespace pp = parlune::pulse;
using namespace std::chrono_literals;

namespace {

constexpr char kSink[] = "reopener_sink";

std::unique_ptr<pp::Stream> openOnSink() {
    return pp::Stream::open(pp::StreamDirection::Playback, kSink, 48000, 1, {20, 0},
                            "reopener test");
}

}  // namespace

TEST(StreamReopener, OpensOnceTheDeviceIsListedAgainAndHandsItOver) {
    PARLUNE_NEED_PULSE();
    pp::PulseClient client("reopener test");
    int64_t module = client.loadModule("module-null-sink", std::string("sink_name=") + kSink);
    ASSERT_GE(module, 0);
    auto stream = openOnSink();
    ASSERT_TRUE(stream);

    std::atomic<int> opens{0};
    std::mutex noticeMutex;
    std::vector<bool> notices;
    pp::StreamReopener reopener(
        pp::StreamDirection::Playback, kSink,
        [&] {
            ++opens;
            return openOnSink();
        },
        [&](bool lost) {
            std::lock_guard<std::mutex> lock(noticeMutex);
            notices.push_back(lost);
        });
    EXPECT_FALSE(reopener.isLost());
    EXPECT_FALSE(reopener.takeOver(stream));

    ASSERT_TRUE(client.unloadModule(static_cast<uint32_t>(module)));
    const std::vector<float> block(960, 0.0f);
    while (stream->write(block.data(), block.size())) {
    }
    reopener.lost();
    reopener.lost();  // once per loss
    std::this_thread::sleep_for(3 * std::chrono::milliseconds(pp::kReopenIntervalMs));
    EXPECT_TRUE(reopener.isLost());
    EXPECT_EQ(opens, 0) << "opened while the device was not listed";
    EXPECT_FALSE(reopener.takeOver(stream));

    module = client.loadModule("module-null-sink", std::string("sink_name=") + kSink);
    ASSERT_GE(module, 0);
    pp::Stream* const failed = stream.get();
    const auto giveUp = std::chrono::steady_clock::now() + 5s;
    bool taken = false;
    while (!taken && std::chrono::steady_clock::now() < giveUp) {
        taken = reopener.takeOver(stream);
        std::this_thread::sleep_for(10ms);
    }
    ASSERT_TRUE(taken);
    EXPECT_NE(stream.get(), failed);
    EXPECT_FALSE(reopener.isLost());
    EXPECT_TRUE(stream->write(block.data(), block.size()));
    EXPECT_EQ(opens, 1);
    // The "back" notice comes once the reopener has freed the stream given up.
    const auto noticed = std::chrono::steady_clock::now() + 2s;
    while (std::chrono::steady_clock::now() < noticed) {
        {
            std::lock_guard<std::mutex> lock(noticeMutex);
            if (notices.size() >= 2) break;
        }
        std::this_thread::sleep_for(10ms);
    }
    {
        std::lock_guard<std::mutex> lock(noticeMutex);
        EXPECT_EQ(notices, (std::vector<bool>{true, false}));
    }
    stream.reset();
    client.unloadModule(static_cast<uint32_t>(module));
}

// A reopener destroyed while it looks for a device that never comes back
// lets go (it waits between tries, not for the device).
TEST(StreamReopener, LetsGoWhileTheDeviceStaysAway) {
    PARLUNE_NEED_PULSE();
    auto reopener =
        std::make_unique<pp::StreamReopener>(pp::StreamDirection::Record, "reopener_never_there",
                                             [] { return std::unique_ptr<pp::Stream>(); });
    reopener->lost();
    std::this_thread::sleep_for(std::chrono::milliseconds(pp::kReopenIntervalMs + 50));
    auto gone = std::async(std::launch::async, [&] { reopener.reset(); });
    EXPECT_EQ(gone.wait_for(2s), std::future_status::ready);
}
