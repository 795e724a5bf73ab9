// Looptap on the private audio server, through its two exports: sound played
// into the virtual device arrives on the speaker named in config.ini, and
// starts and stops repeat cleanly. Its latency is measured by parlune-latency
// (tests/tools/latency_tool_test.cpp).
#include <gtest/gtest.h>

#include <dirent.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>
#include <vector>

#include "looptap/looptap.h"
#include "platform/pulse/pulse_client.h"
#include "platform/vdev/virtual_device.h"
#include "tests/support/test_support.h"

namespace pulse = parlune::pulse;
namespace fs = std::filesystem;

namespace {

constexpr int kRate = 48000;

int threadCount() {
    int count = 0;
    if (DIR* tasks = opendir("/proc/self/task")) {
        while (dirent* entry = readdir(tasks))
            if (entry->d_name[0] != '.') ++count;
        closedir(tasks);
    }
    return count;
}

// Plays `signal` (mono) into `sink` while recording each source for `seconds`.
std::vector<std::vector<float>> playAndRecord(const std::string& sink,
                                              const std::vector<float>& signal,
                                              const std::vector<std::string>& sources,
                                              double seconds) {
    pulse::StreamLatency recordLatency;
    recordLatency.targetMs = 10;
    std::vector<std::unique_ptr<pulse::Stream>> records;
    for (const auto& source : sources) {
        records.push_back(pulse::Stream::open(pulse::StreamDirection::Record, source, kRate, 1,
                                              recordLatency, "looptap test capture"));
        if (!records.back()) return {};
    }
    auto player = pulse::Stream::open(pulse::StreamDirection::Playback, sink, kRate, 1,
                                      pulse::StreamLatency{}, "looptap test signal");
    if (!player) return {};
    std::thread writer([&] {
        player->write(signal.data(), signal.size());
        player->drain();
    });
    const size_t total = static_cast<size_t>(seconds * kRate), chunk = kRate / 100;
    std::vector<std::vector<float>> recorded(sources.size());
    std::vector<float> part(chunk);
    while (recorded[0].size() < total) {
        for (size_t i = 0; i < records.size(); ++i) {
            if (!records[i]->read(part.data(), chunk)) break;
            recorded[i].insert(recorded[i].end(), part.begin(), part.end());
        }
    }
    writer.join();
    return recorded;
}

std::vector<float> fadedTone(double seconds, double hz) {
    auto tone = parlune::test::sine(static_cast<int>(seconds * kRate), hz, kRate, 0.5);
    const size_t fade = kRate / 50;
    for (size_t i = 0; i < fade; ++i) {
        tone[i] *= static_cast<float>(i) / fade;
        tone[tone.size() - 1 - i] *= static_cast<float>(i) / fade;
    }
    return tone;
}

class LooptapOnServer : public ::testing::Test {
protected:
    void SetUp() override {
        PARLUNE_NEED_PULSE();
        char pattern[] = "/tmp/looptap-data.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dataHome_ = pattern;
        setenv("XDG_DATA_HOME", dataHome_.c_str(), 1);
        client_ = std::make_unique<pulse::PulseClient>("looptap test");
        ASSERT_TRUE(client_->connected());
        const auto outcome = parlune::vdev::ensureVirtualDevice(*client_);
        ASSERT_TRUE(outcome.ok) << outcome.message;
    }
    void TearDown() override {
        StopPlaying();
        if (client_) parlune::vdev::removeVirtualDevice(*client_);
        if (!dataHome_.empty()) fs::remove_all(dataHome_);
    }
    void writeConfig(const std::string& name) {
        fs::create_directories(dataHome_ + "/Parlune");
        std::ofstream(dataHome_ + "/Parlune/config.ini", std::ios::binary) << name;
    }
    // A freshly loaded null sink renders its first two seconds in one block,
    // so its monitor delivers nothing for that long. Plays short tones until
    // one comes through on `monitor`.
    bool waitUntilPassing(const std::string& monitor) {
        for (int attempt = 0; attempt < 10; ++attempt) {
            const auto heard = playAndRecord("parlune_01", fadedTone(0.3, 440.0), {monitor}, 0.6);
            if (!heard.empty() && parlune::test::rms(heard[0]) > 0.05) return true;
        }
        return false;
    }
    int streamsNamed(const std::string& mediaName) {
        int count = 0;
        for (const auto& s : client_->sinkInputs()) count += s.mediaName == mediaName;
        for (const auto& s : client_->sourceOutputs()) count += s.mediaName == mediaName;
        return count;
    }
    // The count once it is `expected` or a second has passed: pipewire-pulse
    // lists a stream a moment after it was closed.
    int streamsNamedSettling(const std::string& mediaName, int expected) {
        int count = streamsNamed(mediaName);
        for (int i = 0; i < 50 && count != expected; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            count = streamsNamed(mediaName);
        }
        return count;
    }

    std::string dataHome_;
    std::unique_ptr<pulse::PulseClient> client_;
};

}  // namespace

TEST_F(LooptapOnServer, SoundIntoTheVirtualDeviceArrivesOnTheConfiguredSpeakerOnly) {
    struct Case {
        const char* config;
        const char* heard;
        const char* silent;
    } cases[] = {{"Headphones", "headphones.monitor", "speaker.monitor"},
                 {"Speaker", "speaker.monitor", "headphones.monitor"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.config);
        writeConfig(c.config);
        StartPlaying();  // the second round replaces the running pipe
        ASSERT_TRUE(waitUntilPassing(c.heard));
        const auto recorded =
            playAndRecord("parlune_01", fadedTone(1.2, 440.0), {c.heard, c.silent}, 1.8);
        ASSERT_EQ(recorded.size(), 2u);
        EXPECT_GT(parlune::test::rms(recorded[0]), 0.1);
        EXPECT_NEAR(parlune::test::medianF0(recorded[0], kRate), 440.0, 5.0);
        EXPECT_LT(parlune::test::rms(recorded[1]), 0.001);
    }
}

// The program writes the speaker's description as UTF-8 bytes; Looptap cuts
// it at 31 bytes, here inside the three-byte dash, exactly as the name it
// gets from the device, so the two still match.
TEST_F(LooptapOnServer, ANonAsciiSpeakerNameLongerThanThirtyOneBytesIsFound) {
    const std::string salon = "Enceinte numérique du salon — stéréo";
    const std::string sejour = "Enceinte numérique du séjour — stéréo";
    std::vector<uint32_t> modules;
    for (const auto& [sink, description] :
         {std::pair{"looptap_sejour", sejour}, std::pair{"looptap_salon", salon}}) {
        const int64_t module = client_->loadModule(
            "module-null-sink", std::string("sink_name=") + sink +
                                    " rate=44100 sink_properties='device.description=\"" +
                                    description + "\"'");
        ASSERT_GE(module, 0);
        modules.push_back(static_cast<uint32_t>(module));
    }
    writeConfig(salon);
    StartPlaying();
    ASSERT_TRUE(waitUntilPassing("looptap_salon.monitor"));
    const auto recorded = playAndRecord("parlune_01", fadedTone(1.2, 440.0),
                                        {"looptap_salon.monitor", "looptap_sejour.monitor"}, 1.8);
    StopPlaying();
    for (uint32_t module : modules) client_->unloadModule(module);
    ASSERT_EQ(recorded.size(), 2u);
    EXPECT_GT(parlune::test::rms(recorded[0]), 0.1);
    EXPECT_LT(parlune::test::rms(recorded[1]), 0.001);
}

TEST_F(LooptapOnServer, RepeatedStartsKeepOnePipeAndStopsReleaseEverything) {
    writeConfig("Speaker");
    const int threadsBefore = threadCount();
    // Sound keeps flowing, so every stop finds the worker threads busy.
    std::atomic<bool> playing{true}, opened{false};
    std::thread background([&] {
        auto player = pulse::Stream::open(pulse::StreamDirection::Playback, "parlune_01", kRate, 1,
                                          pulse::StreamLatency{}, "looptap test signal");
        opened = true;
        const auto tone = parlune::test::sine(kRate / 10, 300.0, kRate, 0.3);
        while (player && playing) player->write(tone.data(), tone.size());
    });
    while (!opened) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const int threadsWithPlayer = threadCount();
    for (int round = 0; round < 2; ++round) {
        StartPlaying();
        StartPlaying();
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        EXPECT_EQ(streamsNamed("Wave capture"), 1);
        EXPECT_EQ(streamsNamed("Wave playback"), 1);
        StopPlaying();
        StopPlaying();
        EXPECT_EQ(streamsNamedSettling("Wave capture", 0), 0);
        EXPECT_EQ(streamsNamedSettling("Wave playback", 0), 0);
        EXPECT_EQ(threadCount(), threadsWithPlayer);
    }
    playing = false;
    background.join();
    EXPECT_EQ(threadCount(), threadsBefore);
}

TEST_F(LooptapOnServer, WithoutTheVirtualDeviceTheProcessEndsWithExitCodeOne) {
    parlune::vdev::removeVirtualDevice(*client_);
    for (const auto& source : client_->sources())
        if (source.description.find("Parlune") != std::string::npos)
            GTEST_SKIP() << "another capture device carries the product name: "
                         << source.description;
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // The child ends with _exit, past TearDown: it removes the data folder its
    // own SetUp made and points at one that cannot be created, so it leaves
    // nothing behind in /tmp.
    EXPECT_EXIT(
        {
            fs::remove_all(dataHome_);
            setenv("XDG_DATA_HOME", "/proc/parlune-no-data-folder", 1);
            StartPlaying();
        },
        ::testing::ExitedWithCode(1), "");
}
