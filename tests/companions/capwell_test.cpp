#include "companions/capwell.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <thread>

#include "platform/pulse/pulse_client.h"
#include "platform/vdev/virtual_device.h"
#include "tests/support/run_program.h"
#include "tests/support/test_support.h"
#include "tools/server_streams.h"

namespace fs = std::filesystem;
namespace pp = parlune::pulse;
using namespace parlune::test;
using parlune::tools::Clock;
using parlune::tools::ToneFeed;

namespace {

size_t occurrences(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

// The power of `hz` in `x` (a single-bin DFT).
double tonePower(const std::vector<float>& x, double hz, int rate) {
    double re = 0, im = 0;
    for (size_t n = 0; n < x.size(); ++n) {
        re += x[n] * std::cos(2 * M_PI * hz * double(n) / rate);
        im += x[n] * std::sin(2 * M_PI * hz * double(n) / rate);
    }
    return re * re + im * im;
}

class Capwell : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/parlune capwell XXXXXX";
        dir = mkdtemp(pattern);
        if (client.connected()) parlune::vdev::ensureVirtualDevice(client);
    }
    void TearDown() override {
        stop_record();
        if (client.connected()) parlune::vdev::removeVirtualDevice(client);
        fs::remove_all(dir);
    }
    pp::PulseClient client{"Parlune capwell test"};
    std::string dir;
};

}  // namespace

TEST_F(Capwell, RecordsAToneIntoACompleteSixteenBitWav) {
    PARLUNE_NEED_PULSE();
    const std::string path = dir + "/media recorded.wav";
    set_recorded_filename(path.c_str());
    start_record();

    auto play = pp::Stream::open(pp::StreamDirection::Playback, "parlune_01", 44100, 1, {20, 0},
                                 "capwell test tone");
    ASSERT_TRUE(play);
    const auto tone = sine(44100, 440.0, 44100, 0.5);
    ASSERT_TRUE(play->write(tone.data(), tone.size()));
    ASSERT_TRUE(play->drain());
    stop_record();

    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    ASSERT_NE(file, nullptr) << "no complete WAV after stop_record";
    sf_close(file);
    EXPECT_EQ(info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    const Wav wav = readWav(path);
    ASSERT_GT(wav.channels, 0);
    const size_t frames = wav.samples.size() / wav.channels;
    EXPECT_GT(frames, static_cast<size_t>(wav.rate) * 8 / 10);  // most of the second
    std::vector<float> first(frames);
    for (size_t i = 0; i < frames; ++i) first[i] = wav.samples[i * wav.channels];
    EXPECT_GT(rms(first), 0.2);
    EXPECT_NEAR(medianF0(first, wav.rate), 440.0, 5.0);
}

TEST_F(Capwell, StartingAgainFinishesTheFirstFileAndStopIsHarmless) {
    PARLUNE_NEED_PULSE();
    stop_record();  // nothing running: harmless
    const std::string a = dir + "/a.wav", b = dir + "/b.wav";
    set_recorded_filename(a.c_str());
    start_record();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    set_recorded_filename(b.c_str());
    start_record();
    EXPECT_FALSE(readWav(a).samples.empty());  // closed when the second began
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    stop_record();
    stop_record();
    EXPECT_FALSE(readWav(b).samples.empty());
}

TEST_F(Capwell, RecordsNothingWithoutDeviceOrWritableFile) {
    PARLUNE_NEED_PULSE();
    const std::string unwritable = dir + "/no/such/folder/x.wav";
    set_recorded_filename(unwritable.c_str());
    start_record();
    stop_record();
    EXPECT_FALSE(fs::exists(unwritable));

    parlune::vdev::removeVirtualDevice(client);
    const std::string path = dir + "/nodevice.wav";
    set_recorded_filename(path.c_str());
    start_record();
    stop_record();
    EXPECT_FALSE(fs::exists(path));
}

// A restart of the server mid-recording: the file goes on with silence while
// PARLUNE-01 is gone and records again once it is loaded back, as long as
// the time it ran, and nothing recorded before the restart comes twice.
TEST_F(Capwell, ARecordingGoesOnThroughAServerRestart) {
    PARLUNE_NEED_PULSE();
    if (!canRestartPrivateServer()) GTEST_SKIP() << "needs the test script's server";
    const std::string path = dir + "/restart.wav";
    set_recorded_filename(path.c_str());
    testing::internal::CaptureStderr();
    Clock::time_point started;
    {
        // As the program has it: a stream on PARLUNE-01, its clock restarted.
        ToneFeed before("parlune_01", 440.0);
        ASSERT_TRUE(before.ok());
        ASSERT_TRUE(parlune::vdev::restartVirtualSinkClock(client));
        started = Clock::now();
        start_record();
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        ASSERT_TRUE(restartPrivateServer());
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    pp::PulseClient again("Parlune capwell test");
    ASSERT_TRUE(parlune::vdev::ensureVirtualDevice(again).ok);
    {
        ToneFeed after("parlune_01", 660.0);
        ASSERT_TRUE(after.ok());
        ASSERT_TRUE(parlune::vdev::restartVirtualSinkClock(again));
        std::this_thread::sleep_for(std::chrono::milliseconds(2000));
    }
    stop_record();
    const double ranSeconds = std::chrono::duration<double>(Clock::now() - started).count();
    const std::string log = testing::internal::GetCapturedStderr();
    parlune::vdev::removeVirtualDevice(again);

    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    ASSERT_NE(file, nullptr) << "no complete WAV after stop_record";
    sf_close(file);
    const Wav wav = readWav(path);
    ASSERT_GT(wav.channels, 0);
    const size_t frames = wav.samples.size() / wav.channels;
    // Silence at the device's pace while it was gone: the file is as long as
    // the recording ran.
    EXPECT_NEAR(double(frames) / wav.rate, ranSeconds, 0.05 * ranSeconds);
    std::vector<float> first(frames);
    for (size_t i = 0; i < frames; ++i) first[i] = wav.samples[i * wav.channels];
    // Each 100 ms piece: 440 (before), silence (gone), 660 (after), in that
    // order only.
    const size_t piece = wav.rate / 10;
    std::string order;
    for (size_t at = 0; at + piece <= frames; at += piece) {
        const std::vector<float> part(first.begin() + long(at), first.begin() + long(at + piece));
        // A piece on a tone's edge holds part of it: the tone with more of the
        // piece's energy names it.
        char kind = '.';
        if (rms(part) > 0.05) {
            const double a = tonePower(part, 440.0, wav.rate), b = tonePower(part, 660.0, wav.rate);
            kind = a > 4 * b ? 'a' : b > 4 * a ? 'b' : '?';
        }
        if (order.empty() || order.back() != kind) order += kind;
    }
    // Silence may lead (a null sink's first seconds) and may trail.
    std::string core = order;
    if (!core.empty() && core.front() == '.') core.erase(0, 1);
    if (!core.empty() && core.back() == '.') core.pop_back();
    EXPECT_EQ(core, "a.b") << "100 ms pieces, a = 440 Hz, b = 660 Hz, . = silence: " << order;
    EXPECT_EQ(occurrences(log, "went away"), 1u) << log;
    EXPECT_EQ(occurrences(log, "is back; recording again"), 1u) << log;
}

TEST(CapwellLibrary, ExportsOnlyItsThreeFunctions) {
    const auto nm = runProgram(
        {"/usr/bin/nm", "-D", "--defined-only", std::string(PARLUNE_LIB_DIR) + "/libcapwell.so"});
    ASSERT_EQ(nm.exitCode, 0) << nm.output;
    std::istringstream lines(nm.output);
    std::vector<std::string> names;
    std::string address, type, name;
    while (lines >> address >> type >> name) names.push_back(name);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names,
              (std::vector<std::string>{"set_recorded_filename", "start_record", "stop_record"}));
}
