// A stream must never hang when its server dies or stops answering, and the
// device directory must hear of the loss. Each test runs its own throw-away
// PulseAudio, so the suite's server is not touched.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <thread>

#include "platform/pulse/device_directory.h"
#include "platform/pulse/pulse_client.h"
#include "tests/support/run_program.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;
namespace pp = parlune::pulse;

namespace {

class ThrowAwayServer {
public:
    ThrowAwayServer() {
        char pattern[] = "/tmp/parlune-lost-XXXXXX";
        dir_ = mkdtemp(pattern);
        fs::create_directories(dir_ + "/run");
        chmod((dir_ + "/run").c_str(), 0700);
        const std::string socket = dir_ + "/run/native";
        const std::string protocol =
            "module-native-protocol-unix socket=" + socket + " auth-anonymous=1";
        // Only these variables: the server reads no configuration of the user's.
        server_ = std::make_unique<parlune::test::BackgroundProgram>(
            std::vector<std::string>{"pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1",
                                     "--use-pid-file=no", "--log-target=file:" + dir_ + "/log",
                                     "-L", protocol, "-L", "module-null-sink sink_name=lost"},
            parlune::test::ProgramEnvironment{
                {"HOME=" + dir_, "XDG_RUNTIME_DIR=" + dir_ + "/run",
                 "XDG_CONFIG_HOME=" + dir_ + "/config", "PATH=/usr/bin:/bin"},
                false});
        if (const char* old = std::getenv("PULSE_SERVER")) suiteServer_ = old;
        setenv("PULSE_SERVER", ("unix:" + socket).c_str(), 1);
        for (int i = 0; i < 100 && server_->running() && !pp::serverReachable(200); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ~ThrowAwayServer() {
        server_.reset();  // killed even when stopped
        fs::remove_all(dir_);
        if (suiteServer_.empty())
            unsetenv("PULSE_SERVER");
        else
            setenv("PULSE_SERVER", suiteServer_.c_str(), 1);
    }
    bool up() const { return server_->running() && pp::serverReachable(500); }
    void signal(int sig) { server_->signal(sig); }
    void kill9() { server_->kill(); }

private:
    std::string dir_;
    std::string suiteServer_;
    std::unique_ptr<parlune::test::BackgroundProgram> server_;
};

}  // namespace

TEST(PulseServerLoss, StreamsAndCallsFailWhenTheServerDies) {
    PARLUNE_NEED_PULSE();
    ThrowAwayServer server;
    ASSERT_TRUE(server.up());
    pp::PulseClient client("Parlune loss test");
    auto play =
        pp::Stream::open(pp::StreamDirection::Playback, "lost", 48000, 2, {20, 0}, "lost play");
    auto record =
        pp::Stream::open(pp::StreamDirection::Record, "", 48000, 2, {20, 0}, "lost record");
    ASSERT_TRUE(client.connected() && play && record);

    server.kill9();
    std::vector<float> buffer(48000 * 2 * 5, 0.0f);
    EXPECT_FALSE(play->write(buffer.data(), 48000 * 5));
    EXPECT_FALSE(record->read(buffer.data(), 48000 * 5));
    EXPECT_TRUE(play->failed());
    EXPECT_TRUE(record->failed());
    EXPECT_EQ(play->latencyUs(), -1);
    EXPECT_FALSE(play->drain());
    // The client learns of the loss on its next call, which fails instead of waiting.
    EXPECT_TRUE(client.sinks().empty());
    EXPECT_FALSE(client.setDefaultSink("lost"));
    EXPECT_FALSE(client.connected());
}

TEST(PulseServerLoss, StreamsGiveUpOnAServerThatStopsAnswering) {
    PARLUNE_NEED_PULSE();
    ThrowAwayServer server;
    ASSERT_TRUE(server.up());
    auto play =
        pp::Stream::open(pp::StreamDirection::Playback, "lost", 48000, 2, {20, 0}, "stalled play");
    auto record = pp::Stream::open(pp::StreamDirection::Record, "lost.monitor", 48000, 2, {20, 0},
                                   "stalled record");
    pp::PulseClient client("Parlune stall test", 500);
    ASSERT_TRUE(play && record && client.connected());

    server.signal(SIGSTOP);
    std::vector<float> buffer(48000 * 2 * 10, 0.0f);
    EXPECT_FALSE(play->write(buffer.data(), 48000 * 10));  // 10 s of audio; gives up long before
    EXPECT_FALSE(record->read(buffer.data(), 48000 * 10));
    EXPECT_TRUE(play->failed());
    EXPECT_TRUE(client.sinks().empty());  // the call times out instead of waiting
    server.signal(SIGCONT);
}

TEST(PulseServerLoss, DeviceDirectoryTellsOfTheLossAndConnectsAgain) {
    PARLUNE_NEED_PULSE();
    std::optional<ThrowAwayServer> server(std::in_place);
    ASSERT_TRUE(server->up());
    pp::DeviceDirectory directory("Parlune loss test", 500);
    ASSERT_TRUE(directory.playbackDevices().has_value());
    std::atomic<int> calls{0};
    directory.addListener([&] { ++calls; });

    const uint64_t beforeLoss = directory.generation();
    server->kill9();
    EXPECT_TRUE(directory.waitForChange(beforeLoss, 2000));  // told without being asked
    EXPECT_GT(calls.load(), 0);
    EXPECT_FALSE(directory.playbackDevices().has_value());
    EXPECT_FALSE(directory.captureDevices().has_value());
    EXPECT_EQ(directory.defaultPlaybackName(), "");
    EXPECT_FALSE(directory.setCaptureMute("mic", true));
    EXPECT_FALSE(directory.connected());

    // The suite's server again: the next call connects to it, which counts as a change.
    server.reset();
    const uint64_t beforeReturn = directory.generation();
    ASSERT_TRUE(directory.connected());
    EXPECT_GT(directory.generation(), beforeReturn);
    const auto playback = directory.playbackDevices();
    ASSERT_TRUE(playback.has_value());
    EXPECT_TRUE(std::any_of(playback->begin(), playback->end(),
                            [](const pp::DeviceInfo& d) { return d.name == "speaker"; }));
}
