#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "tests/support/run_program.h"
#include "tests/support/test_support.h"
#include "voice/morph_unit.h"

namespace {

namespace fs = std::filesystem;
using parlune::test::readFileBytes;
using parlune::test::readWav;

int run(std::vector<std::string> args) {
    args.insert(args.begin(), parlune::test::binPath("parlune-render"));
    return parlune::test::runProgram(args).exitCode;
}

parlune::test::ProgramResult runFull(std::vector<std::string> args) {
    args.insert(args.begin(), parlune::test::binPath("parlune-render"));
    return parlune::test::runProgram(args);
}

// A WAV file byte by byte, so that a test can give it any header: `format` 1
// is 16-bit PCM, 3 is 32-bit float; `declaredBytes` is what the header says
// the data holds (a truncated file says more than it has).
std::string rawWav(uint32_t rate, uint16_t channels, uint16_t format, const std::string& data,
                   uint32_t declaredBytes) {
    const uint16_t bits = format == 3 ? 32 : 16;
    std::string out;
    auto u32 = [&](uint32_t v) { out.append(reinterpret_cast<const char*>(&v), 4); };
    auto u16 = [&](uint16_t v) { out.append(reinterpret_cast<const char*>(&v), 2); };
    out += "RIFF";
    u32(36 + declaredBytes);
    out += "WAVEfmt ";
    u32(16);
    u16(format);
    u16(channels);
    u32(rate);
    u32(rate * channels * (bits / 8));
    u16(static_cast<uint16_t>(channels * (bits / 8)));
    u16(bits);
    out += "data";
    u32(declaredBytes);
    return out + data;
}

std::string floatData(const std::vector<float>& samples) {
    return std::string(reinterpret_cast<const char*>(samples.data()), samples.size() * 4);
}

std::string pcmData(const std::vector<float>& samples) {
    std::string out;
    for (float v : samples) {
        const auto s = static_cast<int16_t>(std::lround(v * 32767.0f));
        out.append(reinterpret_cast<const char*>(&s), 2);
    }
    return out;
}

// Every test's files live in a folder of its own, removed at its end.
class Render : public ::testing::Test {
protected:
    std::string tempPath(const std::string& name) const { return dir_.file(name); }
    // Files written beside an output ("out.wav.XXXXXX") and left there.
    int partialFiles() const {
        int count = 0;
        for (const auto& entry : fs::directory_iterator(dir_.path()))
            count += entry.path().filename().string().find(".wav.") != std::string::npos;
        return count;
    }

private:
    parlune::test::TempDir dir_;
};

TEST_F(Render, PresetRendersTheSpeechSampleAsTheMorphUnitWould) {
    const std::string out = tempPath("robot.wav");
    ASSERT_EQ(run({"--preset", "robot", parlune::test::speechSamplePath(), out}), 0);
    const auto input = readWav(parlune::test::speechSamplePath());
    const auto output = readWav(out);
    ASSERT_EQ(output.rate, 16000);
    ASSERT_EQ(output.channels, 1);
    ASSERT_EQ(output.samples.size(), input.samples.size());
    EXPECT_TRUE(parlune::test::allFinite(output.samples));
    // ROBOT is cartoon, pad (0.7, 2.0): pitch 0.85, formant 2.0; the file holds
    // the same morph, quantised to 16 bits.
    const std::vector<float> expected =
        parlune::voice::morphSignal(input.samples, {true, 0.85f, 2.0f, 1});
    for (size_t i = 0; i < expected.size(); i += 97)
        ASSERT_NEAR(output.samples[i], std::max(-1.0f, std::min(1.0f, expected[i])), 1.0 / 16384)
            << i;
}

TEST_F(Render, OtherRatesAndChannelsAreConvertedTo16kMono) {
    const std::string in = tempPath("stereo44.wav");
    const std::vector<float> tone = parlune::test::sine(44100, 220, 44100);
    std::vector<float> stereo;
    for (float v : tone) stereo.insert(stereo.end(), {v, v});
    ASSERT_TRUE(parlune::test::writeWav(in, stereo, 44100, 2));
    const std::string out = tempPath("stereo44_out.wav");
    ASSERT_EQ(run({"--mode", "human", "--pitch", "1.2", "--formant", "1", in, out}), 0);
    const auto output = readWav(out);
    EXPECT_EQ(output.rate, 16000);
    EXPECT_EQ(output.channels, 1);
    EXPECT_NEAR(double(output.samples.size()), 16000.0, 2.0);
    EXPECT_TRUE(parlune::test::allFinite(output.samples));
}

TEST_F(Render, BadInputExitsWith2) {
    const std::string out = tempPath("never.wav");
    const std::string notWav = tempPath("not_a_wav.wav");
    std::ofstream(notWav) << "hello\n";
    const std::string speech = parlune::test::speechSamplePath();
    const std::vector<std::vector<std::string>> badArguments = {
        {"/nonexistent/in.wav", out},         {notWav, out},
        {"--preset", "nobody", speech, out},  {"--mode", "robotic", speech, out},
        {"--pitch", "abc", speech, out},      {"--formant", speech},
        {"--frobnicate", speech, out},        {speech},
        {speech, "/nonexistent/dir/out.wav"},
        // Outside the pad's ranges (1e39 is no float: it used to print "pitch inf").
        {"--pitch", "1e39", speech, out},     {"--pitch", "-1", speech, out},
        {"--pitch", "1e9", speech, out},      {"--pitch", "0.6", speech, out},
        {"--formant", "2.6", speech, out},    {"--formant", "-1", speech, out},
    };
    for (const auto& args : badArguments) {
        SCOPED_TRACE(::testing::PrintToString(args));
        EXPECT_EQ(run(args), 2);
    }
    EXPECT_EQ(run({"--help"}), 0);
}

// Inputs that are no audio file to render, and an output that is the input:
// each refused with exit code 2 and one line saying why, the files as they were.
TEST_F(Render, OddInputsAreRefusedAndNothingIsWritten) {
    const std::string out = tempPath("out.wav");
    const std::string in = tempPath("in.wav");
    const std::string tone = pcmData(parlune::test::sine(3200, 220, 16000, 0.3));
    const struct {
        const char* what;
        std::function<void()> make;
        std::vector<std::string> args;
        const char* message;
    } cases[] = {
        {"the same file twice",
         [&] { parlune::test::writeFileBytes(in, rawWav(16000, 1, 1, tone, tone.size())); },
         {in, in}, "is the input"},
        {"the input by another name",
         [&] {
             parlune::test::writeFileBytes(in, rawWav(16000, 1, 1, tone, tone.size()));
             fs::create_directory(tempPath("sub"));
         },
         {in, tempPath("sub/../in.wav")}, "is the input"},
        {"a hard link to the input",
         [&] {
             parlune::test::writeFileBytes(in, rawWav(16000, 1, 1, tone, tone.size()));
             fs::create_hard_link(in, out);
         },
         {in, out}, "is the input"},
        // 2,100,000 Hz used to overflow the padding's arithmetic.
        {"a header rate above 768 kHz",
         [&] { parlune::test::writeFileBytes(in, rawWav(2100000, 1, 1, tone, tone.size())); },
         {in, out}, "768000"},
        // 1 Hz would expand 3,200 frames to 51 million.
        {"a header rate of 1 Hz",
         [&] { parlune::test::writeFileBytes(in, rawWav(1, 1, 1, tone, tone.size())); },
         {in, out}, "1000"},
        {"a FIFO", [&] { ASSERT_EQ(mkfifo(in.c_str(), 0600), 0); }, {in, out},
         "not a regular file"},
        {"a folder", [&] { fs::create_directory(in); }, {in, out}, "folder"},
        {"a link to /dev/zero", [&] { fs::create_symlink("/dev/zero", in); }, {in, out},
         "not a regular file"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(in);
        fs::remove_all(out);
        fs::remove_all(tempPath("sub"));
        c.make();
        const std::string before = fs::is_regular_file(in) ? readFileBytes(in) : "";
        const auto result = runFull(c.args);
        EXPECT_EQ(result.exitCode, 2) << result.output;
        EXPECT_NE(result.output.find(c.message), std::string::npos) << result.output;
        EXPECT_EQ(std::count(result.output.begin(), result.output.end(), '\n'), 1)
            << result.output;
        if (fs::is_regular_file(in)) {
            EXPECT_EQ(readFileBytes(in), before);
        }
        EXPECT_EQ(partialFiles(), 0);
    }
}

// A write that fails leaves an older OUT.wav as it was, and says so with a
// non-zero exit: a full disk (a file size limit here) and an output that
// cannot be replaced (a folder in its place).
TEST_F(Render, AFailedWriteKeepsTheOldOutputAndExitsNonZero) {
    const std::string in = tempPath("long.wav");
    ASSERT_TRUE(parlune::test::writeWav(in, parlune::test::sine(320000, 220, 16000, 0.3), 16000));
    const std::string out = tempPath("out.wav");
    const std::string old = rawWav(8000, 1, 1, pcmData(std::vector<float>(800, 0.1f)), 1600);
    ASSERT_TRUE(parlune::test::writeFileBytes(out, old));

    // Written files stop at 200 kB; the limit's signal is ignored (and so it
    // stays in the child), so the writes fail with EFBIG as on a full disk.
    const auto previousHandler = signal(SIGXFSZ, SIG_IGN);
    const auto full = parlune::test::runProgram(
        {"prlimit", "--fsize=200000", parlune::test::binPath("parlune-render"), in, out});
    signal(SIGXFSZ, previousHandler);
    EXPECT_EQ(full.exitCode, 1) << full.output;
    EXPECT_NE(full.output.find("cannot"), std::string::npos) << full.output;
    EXPECT_TRUE(readFileBytes(out) == old);  // not printed: a WAV file

    const std::string folder = tempPath("folder.wav");
    fs::create_directory(folder);
    ASSERT_TRUE(parlune::test::writeFileBytes(folder + "/inside", "kept"));
    const auto blocked = runFull({in, folder});
    EXPECT_EQ(blocked.exitCode, 1) << blocked.output;
    EXPECT_EQ(readFileBytes(folder + "/inside"), "kept");

    EXPECT_EQ(partialFiles(), 0);
}

// One NaN and one infinity in a float file: silence for a moment, at any
// rate. Away from 16 kHz the conversion's resampler used to spread them into
// a full-scale click.
TEST_F(Render, NonFiniteSamplesBecomeSilenceAtEveryRate) {
    for (const int rate : {16000, 44100}) {
        SCOPED_TRACE(rate);
        std::vector<float> samples = parlune::test::sine(rate / 2, 220, rate, 0.1);
        samples[samples.size() / 3] = std::numeric_limits<float>::quiet_NaN();
        samples[samples.size() / 2] = std::numeric_limits<float>::infinity();
        const std::string in = tempPath("nan.wav");
        const std::string out = tempPath("nan_out.wav");
        const std::string data = floatData(samples);
        ASSERT_TRUE(parlune::test::writeFileBytes(in, rawWav(rate, 1, 3, data, data.size())));
        const auto result = runFull({"--mode", "human", in, out});
        ASSERT_EQ(result.exitCode, 0) << result.output;
        const auto output = readWav(out);
        ASSERT_FALSE(output.samples.empty());
        float peak = 0;
        for (float v : output.samples) peak = std::max(peak, std::fabs(v));
        EXPECT_LT(peak, 0.5f);
    }
}

// A file cut short renders what it holds, with a warning.
TEST_F(Render, ATruncatedFileRendersWithAWarning) {
    const std::string in = tempPath("cut.wav");
    const std::string out = tempPath("cut_out.wav");
    const std::string data = pcmData(parlune::test::sine(8000, 220, 16000, 0.3));
    ASSERT_TRUE(parlune::test::writeFileBytes(in, rawWav(16000, 1, 1, data, 2 * data.size())));
    const auto result = runFull({in, out});
    EXPECT_EQ(result.exitCode, 0) << result.output;
    EXPECT_NE(result.output.find("warning"), std::string::npos) << result.output;
    EXPECT_EQ(readWav(out).samples.size(), 8000u);
}

}  // namespace
