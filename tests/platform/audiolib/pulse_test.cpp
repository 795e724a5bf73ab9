// The audio library on the audio server: driver lists, recording into a
// looping sound, the mixer's output on a sink, following the default sink,
// and devices that go away while a system runs.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "platform/audiolib/audiolib.h"
#include "platform/pulse/pulse_client.h"
#include "tests/platform/audiolib/render_fixture.h"

namespace al = parlune::audiolib;
namespace pulse = parlune::pulse;
using al::Result;
using Clock = std::chrono::steady_clock;

namespace {

void sleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

al::System pulseSystem(int driver = 0) {
    al::System system;
    al::createSystem(&system);
    system.setOutput(al::OutputType::Pulse);
    system.setSoftwareFormat(16000, al::SpeakerMode::Mono, 1);
    system.setDriver(driver);
    EXPECT_EQ(system.init(100, al::kInitNormal, nullptr), Result::Ok);
    return system;
}

int driverIndex(al::System& system, const std::string& wanted, bool record) {
    int count = 0;
    if (record)
        system.getRecordNumDrivers(&count, nullptr);
    else
        system.getNumDrivers(&count);
    for (int i = 0; i < count; ++i) {
        char name[256];
        if (record)
            system.getRecordDriverInfo(i, name, sizeof(name), nullptr, nullptr, nullptr, nullptr,
                                       nullptr);
        else
            system.getDriverInfo(i, name, sizeof(name), nullptr, nullptr, nullptr, nullptr);
        if (wanted == name) return i;
    }
    return -1;
}

// Captures `ms` of a sink's monitor at 16 kHz mono.
std::vector<float> captureMonitor(const std::string& sink, int ms) {
    auto stream = pulse::Stream::open(pulse::StreamDirection::Record, sink + ".monitor", 16000, 1,
                                      pulse::StreamLatency{10, 0}, "audiolib test capture");
    if (!stream) return {};
    std::vector<float> out(static_cast<size_t>(16 * ms));
    if (!stream->read(out.data(), out.size())) return {};
    return out;
}

// Plays a looping 440 Hz tone on the system's master group.
al::Sound playTone(const parlune::audiolib::testing::ScratchDir& dir, al::System& system) {
    parlune::test::writeWav(dir.file("tone.wav"), parlune::test::sine(16000, 440, 16000, 0.5),
                            16000);
    al::Sound sound;
    EXPECT_EQ(system.createSound(dir.file("tone.wav").c_str(), al::kLoopNormal, nullptr, &sound),
              Result::Ok);
    EXPECT_EQ(system.playSound(sound, al::ChannelGroup(), false, nullptr), Result::Ok);
    return sound;
}

bool carriesTone(const std::vector<float>& captured) {
    return parlune::test::rms(captured) > 0.1 &&
           std::abs(parlune::test::medianF0(captured, 16000) - 440) < 5;
}

// Plays a tone into "micsink", whose monitor the microphone is, as a voice
// would arrive; an idle null sink's monitor delivers irregularly.
class MicFeed {
public:
    MicFeed() {
        stream_ = pulse::Stream::open(pulse::StreamDirection::Playback, "micsink", 48000, 1,
                                      pulse::StreamLatency{20, 0}, "audiolib test feed");
        if (stream_)
            thread_ = std::thread([this] {
                std::vector<float> tone =
                    parlune::test::sine(4800, 500, 48000, 0.3);  // whole periods
                while (!stop_ && stream_->write(tone.data(), tone.size())) {
                }
            });
    }
    ~MicFeed() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }
    bool running() const { return stream_ != nullptr; }

private:
    std::unique_ptr<pulse::Stream> stream_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

class OnServer : public ::testing::Test {
protected:
    void SetUp() override { PARLUNE_NEED_PULSE(); }
    void TearDown() override {
        pulse::PulseClient client;
        if (client.connected()) client.setDefaultSink("speaker");
    }
};

TEST_F(OnServer, DriverListsPutTheDefaultFirstAndLeaveMonitorsOut) {
    al::System system;
    al::createSystem(&system);
    system.setOutput(al::OutputType::Pulse);
    int count = 0;
    ASSERT_EQ(system.getNumDrivers(&count), Result::Ok);
    ASSERT_GE(count, 3);
    char name[256];
    int rate = 0, channels = 0;
    system.getDriverInfo(0, name, sizeof(name), nullptr, &rate, nullptr, &channels);
    EXPECT_STREQ(name, "Speaker");
    EXPECT_EQ(rate, 48000);
    EXPECT_EQ(channels, 2);
    EXPECT_EQ(driverIndex(system, "Headphones", false), 1) << "the others in server order";

    ASSERT_EQ(system.getRecordNumDrivers(&count, nullptr), Result::Ok);
    for (int i = 0; i < count; ++i) {
        system.getRecordDriverInfo(i, name, sizeof(name), nullptr, &rate, nullptr, &channels,
                                   nullptr);
        EXPECT_EQ(std::string(name).find("Monitor"), std::string::npos) << name;
    }
    system.getRecordDriverInfo(0, name, sizeof(name), nullptr, &rate, nullptr, &channels, nullptr);
    EXPECT_STREQ(name, "Microphone");
    EXPECT_EQ(rate, 48000);
    EXPECT_EQ(channels, 1);
    system.release();
}

TEST_F(OnServer, RecordingAdvancesAtTheSourceRateAndWraps) {
    MicFeed feed;
    ASSERT_TRUE(feed.running());
    al::System system = pulseSystem();
    al::Sound ring;
    ASSERT_EQ(al::createRecordRing(system, 48000, 1, &ring), Result::Ok);
    ASSERT_EQ(system.recordStart(0, ring, true), Result::Ok);

    // An idle null sink finishes its long render block before it honours a
    // small latency, so the first data may take a while; the rate is
    // measured from then on.
    unsigned last = 0, smallestStep = UINT32_MAX;
    auto opened = Clock::now();
    while (last == 0 && Clock::now() - opened < std::chrono::seconds(5)) {
        sleepMs(3);
        system.getRecordPosition(0, &last);
    }
    ASSERT_NE(last, 0u) << "no captured data within 5 s";
    std::printf("capture: first data after %.0f ms\n",
                std::chrono::duration<double, std::milli>(Clock::now() - opened).count());
    uint64_t total = 0;
    bool wrapped = false;
    auto start = Clock::now();
    while (Clock::now() - start < std::chrono::milliseconds(1600)) {
        sleepMs(3);
        system.update();
        unsigned position = 0;
        system.getRecordPosition(0, &position);
        unsigned step = position >= last ? position - last : position + 48000 - last;
        wrapped |= position < last;
        if (step) smallestStep = std::min(smallestStep, step);
        total += step;
        last = position;
    }
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    bool recording = false;
    system.isRecording(0, &recording);
    EXPECT_TRUE(recording);
    EXPECT_TRUE(wrapped);
    EXPECT_NEAR(total / seconds, 48000.0, 48000.0 * 0.15);
    std::printf("capture: %.0f samples/s, smallest step %u samples (%.1f ms)\n", total / seconds,
                smallestStep, smallestStep / 48.0);
    EXPECT_LE(smallestStep, 48u * 50) << "the capture side delivers in small steps";
    system.release();
}

TEST_F(OnServer, ToneThroughTheMixerArrivesOnTheSink) {
    parlune::audiolib::testing::ScratchDir dir;
    al::System probe;
    al::createSystem(&probe);
    probe.setOutput(al::OutputType::Pulse);
    int headphones = driverIndex(probe, "Headphones", false);
    probe.release();
    ASSERT_GT(headphones, 0);
    al::System system = pulseSystem(headphones);
    playTone(dir, system);
    sleepMs(200);
    EXPECT_TRUE(carriesTone(captureMonitor("headphones", 800)));
    EXPECT_FALSE(carriesTone(captureMonitor("speaker", 400))) << "only the chosen device plays";
    system.release();
}

TEST_F(OnServer, DriverZeroFollowsTheDefaultSink) {
    parlune::audiolib::testing::ScratchDir dir;
    al::System system = pulseSystem(0);
    playTone(dir, system);
    sleepMs(200);
    EXPECT_TRUE(carriesTone(captureMonitor("speaker", 600)));
    pulse::PulseClient client;
    ASSERT_TRUE(client.setDefaultSink("headphones"));
    sleepMs(300);
    EXPECT_TRUE(carriesTone(captureMonitor("headphones", 600)));
    system.release();
}

// A master unit that, when asked, holds the mixer thread up once, far longer
// than the playback stream's buffer lasts.
std::atomic<bool> stallRequested{false};
al::Result stallOnceRead(al::DspState*, float* in, float* out, unsigned length, int channels,
                         int*) {
    if (stallRequested.exchange(false)) sleepMs(300);
    std::copy(in, in + length * channels, out);
    return Result::Ok;
}

TEST_F(OnServer, AMixerThatFallsBehindTheDeviceIsCountedAsAnUnderrun) {
    al::System system = pulseSystem(0);
    al::DspDescription description;
    description.numInputBuffers = description.numOutputBuffers = 1;
    description.read = stallOnceRead;
    al::DSP stall;
    ASSERT_EQ(system.createDSP(&description, &stall), Result::Ok);
    al::ChannelGroup master;
    system.getMasterChannelGroup(&master);
    ASSERT_EQ(master.addDSP(0, stall), Result::Ok);
    // Stall only once the device plays: a stream that never had audio cannot
    // run dry. An idle null sink may take up to its 2 s block to start.
    uint64_t blocks = 0;
    for (int i = 0; i < 250 && blocks < 4; ++i) {
        sleepMs(20);
        system.getMixedBlocks(&blocks);
    }
    ASSERT_GE(blocks, 4u);
    uint64_t before = 0, underruns = 0;
    ASSERT_EQ(system.getUnderrunCount(&before), Result::Ok);
    stallRequested = true;
    for (int i = 0; i < 100 && underruns <= before; ++i) {
        sleepMs(20);
        system.getUnderrunCount(&underruns);
    }
    EXPECT_GT(underruns, before);
    system.release();
    EXPECT_EQ(system.getUnderrunCount(&underruns), Result::InvalidHandle);
}

TEST_F(OnServer, DevicesThatGoAwayNeitherCrashNorHang) {
    pulse::PulseClient client;
    int64_t sinkModule = client.loadModule(
        "module-null-sink",
        "sink_name=gone_sink rate=48000 channels=1 sink_properties=device.description=GoneSink");
    int64_t sourceModule = client.loadModule("module-remap-source",
                                             "source_name=gone_mic master=gone_sink.monitor "
                                             "source_properties=device.description=GoneMic");
    ASSERT_GE(sinkModule, 0);
    ASSERT_GE(sourceModule, 0);

    auto run = std::async(std::launch::async, [&] {
        parlune::audiolib::testing::ScratchDir dir;
        al::System system;
        al::createSystem(&system);
        system.setOutput(al::OutputType::Pulse);
        int sink = driverIndex(system, "GoneSink", false),
            mic = driverIndex(system, "GoneMic", true);
        EXPECT_GT(sink, 0);
        EXPECT_GE(mic, 0);
        system.setDriver(sink);
        EXPECT_EQ(system.init(32, al::kInitNormal, nullptr), Result::Ok);
        al::Sound ring;
        al::createRecordRing(system, 48000, 1, &ring);
        EXPECT_EQ(system.recordStart(mic, ring, true), Result::Ok);
        system.playSound(ring, al::ChannelGroup(), false, nullptr);
        playTone(dir, system);
        sleepMs(300);

        client.unloadModule(static_cast<uint32_t>(sourceModule));
        client.unloadModule(static_cast<uint32_t>(sinkModule));
        // The recording goes on in silence at the device's pace, waiting for
        // the source to come back.
        bool recording = false;
        uint64_t blocksAtLoss = 0, blocks = 0;
        unsigned positionAtLoss = 0, position = 0;
        system.getMixedBlocks(&blocksAtLoss);
        system.getRecordPosition(mic, &positionAtLoss);
        for (int i = 0; i < 10; ++i) {
            sleepMs(50);
            system.update();
        }
        system.isRecording(mic, &recording);
        system.getRecordPosition(mic, &position);
        EXPECT_TRUE(recording) << "a lost source does not end the recording";
        EXPECT_NE(position, positionAtLoss) << "the recording moves on in silence";
        sleepMs(500);
        system.update();
        system.getMixedBlocks(&blocks);
        EXPECT_GT(blocks, blocksAtLoss + 3) << "the mixer keeps time without its device";
        EXPECT_EQ(system.release(), Result::Ok);
    });
    ASSERT_EQ(run.wait_for(std::chrono::seconds(30)), std::future_status::ready)
        << "the system hung";
    run.get();
}

}  // namespace
