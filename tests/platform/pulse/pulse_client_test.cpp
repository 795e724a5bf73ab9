#include "platform/pulse/pulse_client.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "tests/support/test_support.h"

namespace pp = parlune::pulse;
using parlune::test::medianF0;
using parlune::test::rms;

namespace {

const pp::DeviceInfo* findDevice(const std::vector<pp::DeviceInfo>& list, const std::string& name) {
    for (const auto& d : list)
        if (d.name == name) return &d;
    return nullptr;
}

// Polls until pred() holds or about two seconds pass.
template <class Pred>
bool eventually(Pred pred) {
    for (int i = 0; i < 100; ++i) {
        if (pred()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return pred();
}

// Restores the default sink and the microphone's mute even when a test fails.
struct ServerStateGuard {
    pp::PulseClient client{"Parlune test guard"};
    std::string sink = client.defaultSinkName();
    ~ServerStateGuard() {
        client.setDefaultSink(sink);
        client.setSourceMute("mic", false);
    }
};

}  // namespace

TEST(PulseClient, ListsDevicesWithDescriptionsAndMonitorFlags) {
    PARLUNE_NEED_PULSE();
    pp::PulseClient client("Parlune test");
    ASSERT_TRUE(client.connected());
    // A sink of its own: the server may move an idle shared sink to the rate
    // of the last stream another test played into it.
    const int64_t module = client.loadModule(
        "module-null-sink",
        "sink_name=listed rate=22050 channels=3 sink_properties=device.description=Listed");
    ASSERT_GE(module, 0);
    const auto sinks = client.sinks();
    client.unloadModule(uint32_t(module));
    const auto* speaker = findDevice(sinks, "speaker");
    const auto* listed = findDevice(sinks, "listed");
    ASSERT_TRUE(speaker && listed);
    EXPECT_EQ(speaker->description, "Speaker");
    EXPECT_EQ(listed->description, "Listed");
    EXPECT_EQ(listed->rate, 22050u);
    EXPECT_EQ(listed->channels, 3);

    const auto sources = client.sources();
    const auto* mic = findDevice(sources, "mic");
    const auto* monitor = findDevice(sources, "speaker.monitor");
    ASSERT_TRUE(mic && monitor);
    EXPECT_EQ(mic->description, "Microphone");
    EXPECT_FALSE(mic->isMonitor);
    EXPECT_TRUE(monitor->isMonitor);
    EXPECT_EQ(client.defaultSourceName(), "mic");
}

TEST(PulseClient, SetsDefaultSinkAndMutesSource) {
    PARLUNE_NEED_PULSE();
    ServerStateGuard guard;
    pp::PulseClient client("Parlune test");
    ASSERT_TRUE(client.setDefaultSink("headphones"));
    EXPECT_EQ(client.defaultSinkName(), "headphones");
    ASSERT_TRUE(client.setDefaultSink("speaker"));
    EXPECT_EQ(client.defaultSinkName(), "speaker");
    EXPECT_FALSE(client.setDefaultSink("no_such_sink_anywhere"));
    EXPECT_EQ(client.defaultSinkName(), "speaker");

    ASSERT_TRUE(client.setSourceMute("mic", true));
    EXPECT_TRUE(findDevice(client.sources(), "mic")->muted);
    ASSERT_TRUE(client.setSourceMute("mic", false));
    EXPECT_FALSE(findDevice(client.sources(), "mic")->muted);
    EXPECT_FALSE(client.setSourceMute("no_such_source", true));
}

TEST(PulseClient, LoadsAndUnloadsModule) {
    PARLUNE_NEED_PULSE();
    pp::PulseClient client("Parlune test");
    const std::string argument =
        "sink_name=pulse_test_load sink_properties=device.description=LoadTest";
    const int64_t index = client.loadModule("module-null-sink", argument);
    ASSERT_GE(index, 0);
    // A failed assertion below still unloads the module, so no later test sees its sink.
    struct Unload {
        pp::PulseClient& client;
        uint32_t index;
        ~Unload() { client.unloadModule(index); }
    } unload{client, static_cast<uint32_t>(index)};
    const auto modules = client.modules();
    EXPECT_TRUE(std::any_of(modules.begin(), modules.end(), [&](const pp::ModuleInfo& m) {
        return m.index == index && m.name == "module-null-sink" && m.argument == argument;
    }));
    // The list is kept: findDevice points into it.
    const auto sinks = client.sinks();
    const auto* sink = findDevice(sinks, "pulse_test_load");
    ASSERT_TRUE(sink);
    EXPECT_EQ(sink->ownerModule, static_cast<uint32_t>(index));
    EXPECT_EQ(sink->description, "LoadTest");

    ASSERT_TRUE(client.unloadModule(static_cast<uint32_t>(index)));
    EXPECT_EQ(findDevice(client.sinks(), "pulse_test_load"), nullptr);
    EXPECT_FALSE(client.unloadModule(static_cast<uint32_t>(index)));
    EXPECT_LT(client.loadModule("module-does-not-exist", ""), 0);
}

TEST(PulseStream, ToneOnSpeakerIsHeardOnItsMonitor) {
    PARLUNE_NEED_PULSE();
    const pp::StreamLatency latency{20, 0};
    auto record = pp::Stream::open(pp::StreamDirection::Record, "speaker.monitor", 48000, 1,
                                   latency, "test record");
    auto play =
        pp::Stream::open(pp::StreamDirection::Playback, "speaker", 48000, 1, latency, "test tone");
    ASSERT_TRUE(record && play);
    EXPECT_EQ(record->rate(), 48000u);
    EXPECT_EQ(play->channels(), 1);

    const auto tone = parlune::test::sine(48000, 440.0, 48000, 0.5);
    std::thread writer([&] { EXPECT_TRUE(play->write(tone.data(), tone.size())); });
    std::vector<float> heard(48000);
    ASSERT_TRUE(record->read(heard.data(), heard.size()));
    writer.join();
    EXPECT_GE(record->readable(), 0);
    EXPECT_GE(play->latencyUs(), 0);
    EXPECT_TRUE(play->drain());
    // The tone reaches the monitor after the stream latency; judge the second half.
    std::vector<float> tail(heard.begin() + 24000, heard.end());
    EXPECT_GT(rms(tail), 0.2);
    EXPECT_NEAR(medianF0(tail, 48000), 440.0, 5.0);
    EXPECT_FALSE(record->failed());
    EXPECT_FALSE(play->failed());
}

TEST(PulseStream, DefaultStreamFollowsDefaultSinkChange) {
    PARLUNE_NEED_PULSE();
    ServerStateGuard guard;
    pp::PulseClient client("Parlune test");
    ASSERT_TRUE(client.setDefaultSink("speaker"));
    auto play = pp::Stream::open(pp::StreamDirection::Playback, "", 48000, 2, {20, 0},
                                 "follow default", "Parlune follow test");
    ASSERT_TRUE(play);
    const uint32_t speaker = findDevice(client.sinks(), "speaker")->index;
    const uint32_t headphones = findDevice(client.sinks(), "headphones")->index;
    auto sinkOfStream = [&] {
        for (const auto& s : client.sinkInputs())
            if (s.applicationName == "Parlune follow test") return s.deviceIndex;
        return UINT32_MAX;
    };
    EXPECT_EQ(sinkOfStream(), speaker);
    ASSERT_TRUE(client.setDefaultSink("headphones"));
    EXPECT_TRUE(eventually([&] { return sinkOfStream() == headphones; }));
    std::vector<float> silence(2 * 960, 0.0f);
    EXPECT_TRUE(play->write(silence.data(), 960));
    EXPECT_FALSE(play->failed());
}

TEST(PulseStream, StreamOnUnloadedDeviceFailsInsteadOfBlocking) {
    PARLUNE_NEED_PULSE();
    pp::PulseClient client("Parlune test");
    const int64_t module =
        client.loadModule("module-null-sink", "sink_name=pulse_test_gone rate=48000 channels=1");
    ASSERT_GE(module, 0);
    auto play = pp::Stream::open(pp::StreamDirection::Playback, "pulse_test_gone", 48000, 1,
                                 {20, 0}, "doomed playback");
    auto record = pp::Stream::open(pp::StreamDirection::Record, "pulse_test_gone.monitor", 48000, 1,
                                   {20, 0}, "doomed record");
    ASSERT_TRUE(play && record);
    ASSERT_TRUE(client.unloadModule(static_cast<uint32_t>(module)));

    // Long enough that both calls must wait for the device; they return false
    // once it is gone rather than blocking.
    std::vector<float> buffer(48000 * 5, 0.0f);
    EXPECT_FALSE(play->write(buffer.data(), buffer.size()));
    EXPECT_FALSE(record->read(buffer.data(), buffer.size()));
    EXPECT_TRUE(play->failed());
    EXPECT_TRUE(record->failed());
    EXPECT_EQ(record->readable(), -1);
    EXPECT_FALSE(play->write(buffer.data(), 1));  // failed stays failed
}

TEST(PulseStream, DrainFinishesForAStreamThatStartsAtOnce) {
    PARLUNE_NEED_PULSE();
    // prebuf 0 asks for an immediate start; the drain must still come back.
    auto play = pp::Stream::open(pp::StreamDirection::Playback, "headphones", 44100, 1, {20, 0},
                                 "drain test");
    ASSERT_TRUE(play);
    const auto tone = parlune::test::sine(4410, 440.0, 44100);
    ASSERT_TRUE(play->write(tone.data(), tone.size()));
    EXPECT_TRUE(play->drain());
}

TEST(PulseStream, BlockWrittenWholeReturnsWithLittleQueuedAndStarvingCountsUnderflows) {
    PARLUNE_NEED_PULSE();
    auto play = pp::Stream::open(pp::StreamDirection::Playback, "speaker", 16000, 1, {20, 0},
                                 "whole blocks");
    ASSERT_TRUE(play);
    EXPECT_EQ(play->underflows(), 0u);
    const auto block = parlune::test::sine(3200, 440.0, 16000, 0.3);  // 200 ms
    ASSERT_TRUE(play->writeThenWait(block.data(), block.size()));
    // It waited for the server to play most of the block, not just to take it.
    const int64_t queuedUs = play->latencyUs();
    EXPECT_GE(queuedUs, 0);
    EXPECT_LT(queuedUs, 100000);
    // Nothing more comes: the buffer runs dry, once.
    EXPECT_TRUE(eventually([&] { return play->underflows() >= 1; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(play->underflows(), 1u);
    // Playback resumes with the next block, which starves in turn.
    ASSERT_TRUE(play->writeThenWait(block.data(), block.size()));
    EXPECT_TRUE(eventually([&] { return play->underflows() >= 2; }));
    EXPECT_FALSE(play->failed());
}

TEST(PulseStream, MissingDeviceOpensNothing) {
    PARLUNE_NEED_PULSE();
    EXPECT_EQ(pp::Stream::open(pp::StreamDirection::Record, "no_such_source", 48000, 1, {20, 0},
                               "nothing"),
              nullptr);
    EXPECT_EQ(pp::Stream::open(pp::StreamDirection::Playback, "speaker", 48000, 0, {20, 0},
                               "no channels"),
              nullptr);
}

// Runs last in this process: points the client at a socket nobody serves.
TEST(PulseClientWithoutServer, ReportsNothingAndDoesNotHang) {
    setenv("PULSE_SERVER", "unix:/nonexistent/parlune/native", 1);
    pp::PulseClient client("Parlune test", 500);
    EXPECT_FALSE(client.connected());
    EXPECT_TRUE(client.sinks().empty());
    EXPECT_EQ(client.defaultSinkName(), "");
    EXPECT_FALSE(client.setDefaultSink("speaker"));
    EXPECT_LT(client.loadModule("module-null-sink", ""), 0);
    EXPECT_FALSE(pp::serverReachable(300));
    EXPECT_EQ(pp::Stream::open(pp::StreamDirection::Playback, "", 48000, 2, {20, 0}, "x"), nullptr);
}
