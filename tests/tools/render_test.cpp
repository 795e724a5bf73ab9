#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "tests/support/run_program.h"
#include "tests/support/test_support.h"
#include "voice/morph_unit.h"

namespace {

using parlune::test::readWav;

int run(std::vector<std::string> args) {
    args.insert(args.begin(), parlune::test::binPath("parlune-render"));
    return parlune::test::runProgram(args).exitCode;
}

std::string tempPath(const std::string& name) {
    return testing::TempDir() + "parlune_render_" + name;
}

TEST(Render, PresetRendersTheSpeechSampleAsTheMorphUnitWould) {
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

TEST(Render, OtherRatesAndChannelsAreConvertedTo16kMono) {
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

TEST(Render, BadInputExitsWith2) {
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
    };
    for (const auto& args : badArguments) {
        SCOPED_TRACE(::testing::PrintToString(args));
        EXPECT_EQ(run(args), 2);
    }
    EXPECT_EQ(run({"--help"}), 0);
}

}  // namespace
