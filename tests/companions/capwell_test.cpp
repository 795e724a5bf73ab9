#include "companions/capwell.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <cstdio>
#include <filesystem>
#include <sstream>
#include <thread>

#include "platform/pulse/pulse_client.h"
#include "platform/vdev/virtual_device.h"
#include "tests/support/run_program.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;
namespace pp = parlune::pulse;
using namespace parlune::test;

namespace {

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
