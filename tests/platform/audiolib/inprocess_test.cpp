// The in-process backend: named test devices, recording into a looping sound
// on a manual clock, what the mixer played, and devices that go away.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/audiolib/audiolib.h"
#include "platform/audiolib/inprocess.h"
#include "tests/platform/audiolib/render_fixture.h"

namespace al = parlune::audiolib;
namespace ip = parlune::audiolib::inprocess;
using al::Result;

namespace {

class InProcess : public ::testing::Test {
protected:
    void SetUp() override {
        ip::setClock(ip::ClockMode::Manual);
        ip::clearPlayed();
        ip::CaptureDevice mic;
        mic.name = "Desk Mic";
        mic.rate = 48000;
        mic.channels = 1;
        mic.toneHz = 300;
        mic.chunkMs = 80;
        ip::CaptureDevice line;
        line.name = "Line In";
        line.rate = 44100;
        line.channels = 2;
        line.toneHz = 250;
        ip::configure({{"Speaker", 48000, 2}, {"Kopfhörer", 44100, 2}}, {mic, line});
    }

    al::System initialised() {
        al::System system;
        al::createSystem(&system);
        system.setOutput(al::OutputType::InProcess);
        system.setSoftwareFormat(16000, al::SpeakerMode::Mono, 1);
        EXPECT_EQ(system.init(100, al::kInitNormal, nullptr), Result::Ok);
        return system;
    }

    // One second of the driver's native format, looping: the live chain's ring.
    al::Sound ring(al::System& system, int driver) {
        int rate = 0, channels = 0;
        system.getRecordDriverInfo(driver, nullptr, 0, nullptr, &rate, nullptr, &channels, nullptr);
        al::Sound sound;
        EXPECT_EQ(al::createRecordRing(system, rate, channels, &sound), Result::Ok);
        return sound;
    }
};

TEST_F(InProcess, DriverListsNamesRatesAndChannels) {
    al::System system;
    al::createSystem(&system);
    system.setOutput(al::OutputType::InProcess);
    int count = 0, connected = 0;
    ASSERT_EQ(system.getNumDrivers(&count), Result::Ok);
    EXPECT_EQ(count, 2);
    ASSERT_EQ(system.getRecordNumDrivers(&count, &connected), Result::Ok);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(connected, 2);

    char name[256];
    int rate = 0, channels = 0;
    al::DriverState state = 0;
    ASSERT_EQ(system.getRecordDriverInfo(0, name, sizeof(name), nullptr, &rate, nullptr, &channels,
                                         &state),
              Result::Ok);
    EXPECT_STREQ(name, "Desk Mic");
    EXPECT_EQ(rate, 48000);
    EXPECT_EQ(channels, 1);
    EXPECT_TRUE(state & al::kDriverDefault);
    ASSERT_EQ(system.getRecordDriverInfo(1, name, sizeof(name), nullptr, &rate, nullptr, &channels,
                                         &state),
              Result::Ok);
    EXPECT_STREQ(name, "Line In");
    EXPECT_EQ(rate, 44100);
    EXPECT_EQ(channels, 2);
    EXPECT_FALSE(state & al::kDriverDefault);

    // Names are cut to the buffer, never in the middle of a character.
    struct Cut {
        int size;
        const char* expected;
    };
    for (Cut cut : {Cut{256, "Kopfhörer"}, Cut{8, "Kopfhö"}, Cut{7, "Kopfh"}, Cut{1, ""}}) {
        std::memset(name, 'x', sizeof(name));
        ASSERT_EQ(system.getDriverInfo(1, name, cut.size, nullptr, &rate, nullptr, &channels),
                  Result::Ok);
        EXPECT_STREQ(name, cut.expected) << "buffer of " << cut.size;
    }
    EXPECT_EQ(system.getDriverInfo(2, name, 256, nullptr, &rate, nullptr, &channels),
              Result::InvalidParam);
    system.release();
}

TEST_F(InProcess, RecordingMovesInChunksAndWrapsRoundTheSound) {
    al::System system = initialised();
    al::Sound sound = ring(system, 0);
    ASSERT_EQ(system.recordStart(0, sound, true), Result::Ok);
    bool recording = false;
    system.isRecording(0, &recording);
    EXPECT_TRUE(recording);

    struct Step {
        double advanceMs;
        unsigned position;
    };
    // 80 ms chunks of 3840 samples into a ring of 48000.
    for (Step step : {Step{40, 0}, Step{40, 3840}, Step{79, 3840}, Step{1, 7680},
                      Step{800, 3840 * 12}, Step{80, 3840 * 13 - 48000}}) {
        ip::advance(step.advanceMs);
        unsigned position = 0;
        system.getRecordPosition(0, &position);
        EXPECT_EQ(position, step.position) << "at " << ip::now() << " ms";
    }
    ASSERT_EQ(system.recordStop(0), Result::Ok);
    system.isRecording(0, &recording);
    EXPECT_FALSE(recording);
    system.release();
}

TEST_F(InProcess, RecordedRingPlaysBackAtTheDevicePitch) {
    for (int driver : {0, 1}) {
        ip::clearPlayed();
        al::System system = initialised();
        al::Sound sound = ring(system, driver);
        system.recordStart(driver, sound, true);
        ip::advance(100);
        al::Channel channel;
        ASSERT_EQ(system.playSound(sound, al::ChannelGroup(), false, &channel), Result::Ok);
        ip::advance(2000);
        std::vector<float> played = ip::played("Speaker");
        system.release();
        ASSERT_GE(played.size(), 30u * 1024);
        double f0 =
            parlune::test::medianF0(std::vector<float>(played.begin() + 4096, played.end()), 16000);
        EXPECT_NEAR(f0, driver == 0 ? 300.0 : 250.0, 2.0) << "driver " << driver;
    }
}

TEST_F(InProcess, DriverZeroPlaysOnTheDefaultAndOthersByName) {
    parlune::audiolib::testing::ScratchDir dir;
    ASSERT_TRUE(parlune::test::writeWav(dir.file("tone.wav"),
                                        parlune::test::sine(16000, 400, 16000), 16000));
    for (int driver : {0, 1}) {
        ip::clearPlayed();
        al::System system;
        al::createSystem(&system);
        system.setOutput(al::OutputType::InProcess);
        system.setDriver(driver);
        system.init(32, al::kInitNormal, nullptr);
        al::Sound sound;
        system.createSound(dir.file("tone.wav").c_str(), al::kLoopNormal, nullptr, &sound);
        system.playSound(sound, al::ChannelGroup(), false, nullptr);
        ip::advance(640);  // ten blocks
        uint64_t blocks = 0;
        system.getMixedBlocks(&blocks);
        EXPECT_EQ(blocks, 10u);
        system.release();
        std::vector<float> speaker = ip::played("Speaker"), headphones = ip::played("Kopfhörer");
        EXPECT_EQ(speaker.size(), driver == 0 ? 10240u : 0u);
        EXPECT_EQ(headphones.size(), driver == 1 ? 10240u : 0u);
    }
}

TEST_F(InProcess, UnpluggedMicrophoneStopsRecordingNotTheMixer) {
    al::System system = initialised();
    al::Sound sound = ring(system, 0);
    system.recordStart(0, sound, true);
    system.playSound(sound, al::ChannelGroup(), false, nullptr);
    ip::advance(400);
    ip::unplugCapture("Desk Mic");
    ip::advance(400);
    bool recording = true;
    system.isRecording(0, &recording);
    EXPECT_FALSE(recording);
    unsigned position = 0;
    system.getRecordPosition(0, &position);
    ip::advance(400);
    unsigned later = 1;
    system.getRecordPosition(0, &later);
    EXPECT_EQ(position, later);
    uint64_t blocks = 0;
    system.getMixedBlocks(&blocks);
    EXPECT_EQ(blocks, 18u);  // 1200 ms of 64 ms blocks
    EXPECT_EQ(system.update(), Result::Ok);
    EXPECT_EQ(system.recordStart(0, sound, true), Result::RecordFailed);
    EXPECT_EQ(system.release(), Result::Ok);
}

TEST_F(InProcess, WavSourceAndGeneratorDevices) {
    parlune::audiolib::testing::ScratchDir dir;
    ASSERT_TRUE(parlune::test::writeWav(dir.file("voice.wav"),
                                        parlune::test::sine(22050, 180, 22050), 22050));
    ip::CaptureDevice fromWav;
    fromWav.name = "File Mic";
    fromWav.rate = 44100;
    fromWav.wavPath = dir.file("voice.wav");
    ip::CaptureDevice generated;
    generated.name = "Generator";
    generated.rate = 48000;
    generated.generator = [](uint64_t frame, int) {
        return static_cast<float>(0.4 * std::sin(2 * M_PI * 350.0 * frame / 48000.0));
    };
    for (auto device : {fromWav, generated}) {
        ip::configure({{"Speaker", 48000, 2}}, {device});
        ip::clearPlayed();
        al::System system = initialised();
        al::Sound sound = ring(system, 0);
        ASSERT_EQ(system.recordStart(0, sound, true), Result::Ok);
        ip::advance(60);
        system.playSound(sound, al::ChannelGroup(), false, nullptr);
        ip::advance(1500);
        system.release();
        std::vector<float> played = ip::played("Speaker");
        double f0 =
            parlune::test::medianF0(std::vector<float>(played.begin() + 2048, played.end()), 16000);
        EXPECT_NEAR(f0, device.generator ? 350.0 : 180.0, 2.0) << device.name;
    }
}

TEST_F(InProcess, DevicesFromText) {
    struct TextCase {
        const char* text;
        bool valid;
    };
    for (TextCase c :
         {TextCase{"play:Speaker:48000:2;rec:Mic:48000:1:tone=220:chunk=80", true},
          TextCase{"play:Speaker:48000", false}, TextCase{"rec:Mic:48000:1:colour=red", false},
          TextCase{"rec:Mic:0:1", false}, TextCase{"speaker:X:48000:2", false}}) {
        EXPECT_EQ(ip::configureFromText(c.text), c.valid) << c.text;
    }
    ASSERT_TRUE(
        ip::configureFromText("play:Out:44100:1;rec:Mic:16000:1:chunk=20;rec:Line:44100:2"));
    al::System system;
    al::createSystem(&system);
    system.setOutput(al::OutputType::InProcess);
    int count = 0;
    system.getRecordNumDrivers(&count, nullptr);
    EXPECT_EQ(count, 2);
    char name[64];
    int rate = 0;
    system.getDriverInfo(0, name, sizeof(name), nullptr, &rate, nullptr, nullptr);
    EXPECT_STREQ(name, "Out");
    EXPECT_EQ(rate, 44100);
    system.release();
}

TEST_F(InProcess, RealTimeClockRunsTheMixerOnItsOwn) {
    ip::setClock(ip::ClockMode::RealTime, 20.0);
    al::System system = initialised();
    uint64_t blocks = 0;
    for (int i = 0; i < 500 && blocks < 5; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        system.getMixedBlocks(&blocks);
    }
    EXPECT_GE(blocks, 5u);
    system.release();
    ip::setClock(ip::ClockMode::Manual);
}

TEST_F(InProcess, AutoDetectFollowsTheChosenDefaultBackend) {
    ip::setDefaultBackend(ip::Backend::InProcess);
    al::System system;
    al::createSystem(&system);
    al::OutputType output;
    system.getOutput(&output);
    EXPECT_EQ(output, al::OutputType::InProcess);
    int count = 0;
    system.getNumDrivers(&count);
    EXPECT_EQ(count, 2);
    system.release();
    ip::setDefaultBackend(ip::Backend::Pulse);
}

}  // namespace
