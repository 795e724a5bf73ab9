// The device directory on the private audio server: its lists against the
// server's own, and the change notice when a device comes and goes.
#include "platform/pulse/device_directory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <optional>
#include <thread>

#include "tests/support/test_support.h"

namespace pp = parlune::pulse;

namespace {

std::vector<std::string> names(const std::vector<pp::DeviceInfo>& devices) {
    std::vector<std::string> out;
    for (const auto& d : devices) out.push_back(d.name);
    return out;
}

bool lists(pp::DeviceDirectory& directory, const std::string& sink) {
    const auto n = names(directory.playbackDevices().value_or(std::vector<pp::DeviceInfo>{}));
    return std::find(n.begin(), n.end(), sink) != n.end();
}

// Waits, change by change, until the directory lists `sink` (or no longer
// does), as a caller that has just loaded or unloaded a device would.
bool settlesOn(pp::DeviceDirectory& directory, const std::string& sink, bool listed) {
    for (int i = 0; i < 50; ++i) {
        const uint64_t seen = directory.generation();
        if (lists(directory, sink) == listed) return true;
        directory.waitForChange(seen, 200);
    }
    return false;
}

}  // namespace

TEST(DeviceDirectory, ListsSinksAndNonMonitorSourcesInServerOrder) {
    PARLUNE_NEED_PULSE();
    pp::DeviceDirectory directory("Parlune directory test");
    pp::PulseClient client("Parlune directory test reference");
    ASSERT_TRUE(directory.connected());

    // Other tests load devices meanwhile: compare lists taken back to back,
    // again when one came between.
    std::optional<std::vector<pp::DeviceInfo>> playback, capture;
    std::vector<std::string> sinks, expected;
    for (int i = 0; i < 10; ++i) {
        playback = directory.playbackDevices();
        sinks = names(client.sinks());
        capture = directory.captureDevices();
        expected.clear();
        for (const auto& source : client.sources())
            if (!source.isMonitor) expected.push_back(source.name);
        if (playback && capture && names(*playback) == sinks && names(*capture) == expected) break;
    }
    ASSERT_TRUE(playback.has_value());
    ASSERT_TRUE(capture.has_value());
    EXPECT_EQ(names(*playback), sinks);
    EXPECT_EQ(names(*capture), expected);
    EXPECT_NE(std::find(expected.begin(), expected.end(), "mic"), expected.end());
    for (const auto& d : *capture) EXPECT_FALSE(d.isMonitor) << d.name;
    const auto mic = std::find_if(capture->begin(), capture->end(),
                                  [](const pp::DeviceInfo& d) { return d.name == "mic"; });
    ASSERT_NE(mic, capture->end());
    EXPECT_EQ(mic->description, "Microphone");

    EXPECT_EQ(directory.defaultPlaybackName(), client.defaultSinkName());
    EXPECT_EQ(directory.defaultCaptureName(), client.defaultSourceName());
    EXPECT_FALSE(directory.defaultPlaybackName().empty());
}

TEST(DeviceDirectory, TellsOfASinkLoadedAndUnloaded) {
    PARLUNE_NEED_PULSE();
    pp::DeviceDirectory directory("Parlune directory test");
    ASSERT_TRUE(directory.connected());
    std::atomic<int> calls{0};
    const int listener = directory.addListener([&] { ++calls; });
    pp::PulseClient client("Parlune directory test loader");

    const uint64_t beforeLoad = directory.generation();
    const int64_t module = client.loadModule(
        "module-null-sink",
        "sink_name=directory_test sink_properties=device.description=DirectoryTest");
    ASSERT_GE(module, 0);
    EXPECT_TRUE(directory.waitForChange(beforeLoad, 2000));
    EXPECT_TRUE(settlesOn(directory, "directory_test", true));
    EXPECT_GT(calls.load(), 0);
    const auto capture = names(directory.captureDevices().value_or(std::vector<pp::DeviceInfo>{}));
    EXPECT_EQ(std::find(capture.begin(), capture.end(), "directory_test.monitor"), capture.end());

    directory.removeListener(listener);
    const int callsBeforeUnload = calls.load();
    const uint64_t beforeUnload = directory.generation();
    ASSERT_TRUE(client.unloadModule(static_cast<uint32_t>(module)));
    EXPECT_TRUE(directory.waitForChange(beforeUnload, 2000));
    EXPECT_TRUE(settlesOn(directory, "directory_test", false));
    EXPECT_EQ(calls.load(), callsBeforeUnload);  // a removed listener hears nothing
}

TEST(DeviceDirectory, ServesSeveralThreadsOnItsOneConnection) {
    PARLUNE_NEED_PULSE();
    pp::DeviceDirectory directory("Parlune directory test");
    pp::PulseClient client("Parlune directory test loader");
    std::atomic<int> failures{0};
    auto lister = [&] {
        for (int i = 0; i < 30; ++i) {
            const auto playback = directory.playbackDevices();
            if (!playback || !directory.captureDevices() || directory.defaultPlaybackName().empty())
                ++failures;
        }
    };
    std::thread a(lister), b(lister);
    for (int i = 0; i < 3; ++i) {
        const int64_t module = client.loadModule("module-null-sink", "sink_name=directory_busy");
        if (module >= 0) client.unloadModule(static_cast<uint32_t>(module));
    }
    a.join();
    b.join();
    EXPECT_EQ(failures.load(), 0);
}
