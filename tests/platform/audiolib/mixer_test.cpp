// The mixer: chain order, one callback per block, bypass, the WAV writer's
// block count and its treatment of NaN and values beyond full scale,
// sample-exact rendering at the mixer rate, and resampling of
// other rates and channel counts to the right pitch.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <cstring>
#include <iterator>
#include <limits>
#include <vector>

#include "platform/audiolib/audiolib.h"
#include "tests/platform/audiolib/render_fixture.h"

namespace al = parlune::audiolib;
using al::Result;
using parlune::audiolib::testing::renderFile;
using parlune::audiolib::testing::ScratchDir;
using parlune::test::readPcm16;
using parlune::test::writePcm16;

namespace {

// A custom unit that replaces each sample x by 10 x + tag and notes the order
// in which units ran, so a chain of tags spells its own order.
struct TagLog {
    int order[16] = {};
    int count = 0;
    unsigned lastLength = 0;
    int lastChannels = 0;
    float headOutput = 0;
};
struct TagUnit {
    int tag;
    TagLog* log;
};

Result tagRead(al::DspState* state, float* in, float* out, unsigned length, int channels, int*) {
    auto* unit = static_cast<TagUnit*>(state->instanceData);
    for (unsigned i = 0; i < length; ++i) out[i] = in[i] * 10 + static_cast<float>(unit->tag);
    unit->log->order[unit->log->count++ % 16] = unit->tag;
    unit->log->lastLength = length;
    unit->log->lastChannels = channels;
    unit->log->headOutput = out[0];
    return Result::Ok;
}

al::DSP tagUnit(al::System& system, TagUnit* unit) {
    al::DspDescription description;
    std::strcpy(description.name, "tag");
    description.numInputBuffers = description.numOutputBuffers = 1;
    description.read = tagRead;
    al::DSP dsp;
    EXPECT_EQ(system.createDSP(&description, &dsp), Result::Ok);
    dsp.setInstanceData(unit);
    return dsp;
}

al::System silentSystem() {
    al::System system;
    al::createSystem(&system);
    system.setOutput(al::OutputType::NoSoundNrt);
    system.setSoftwareFormat(16000, al::SpeakerMode::Mono, 1);
    system.init(32, al::kInitNormal, nullptr);
    return system;
}

std::vector<short> toPcm16(const std::vector<float>& x) {
    std::vector<short> out(x.size());
    for (size_t i = 0; i < x.size(); ++i) out[i] = static_cast<short>(std::lrint(x[i] * 20000.0f));
    return out;
}

TEST(Mixer, UnitsAddedAtTheHeadRunInInsertionOrder) {
    al::System system = silentSystem();
    TagLog log;
    TagUnit morph{1, &log}, echo{2, &log}, chorus{3, &log}, distortion{4, &log}, tremolo{5, &log};
    al::ChannelGroup master;
    system.getMasterChannelGroup(&master);
    std::vector<al::DSP> units;
    for (TagUnit* unit : {&morph, &echo, &chorus, &distortion, &tremolo}) {
        units.push_back(tagUnit(system, unit));
        ASSERT_EQ(master.addDSP(0, units.back()), Result::Ok);
    }
    al::DSP head;
    master.getDSP(0, &head);
    EXPECT_TRUE(head == units.back()) << "the last unit added is the head";

    system.update();
    ASSERT_EQ(log.count, 5);
    EXPECT_EQ(std::vector<int>(log.order, log.order + 5), (std::vector<int>{1, 2, 3, 4, 5}));
    EXPECT_EQ(log.headOutput, 12345.0f) << "silence tagged morph first, tremolo last";

    // Removing one unit closes the gap; the others keep their order.
    log.count = 0;
    master.removeDSP(units[2]);
    system.update();
    EXPECT_EQ(log.headOutput, 1245.0f);
    system.release();
}

TEST(Mixer, OneCallbackPerBlockOf1024MonoFrames) {
    al::System system = silentSystem();
    TagLog log;
    TagUnit unit{1, &log};
    al::ChannelGroup master;
    system.getMasterChannelGroup(&master);
    al::DSP dsp = tagUnit(system, &unit);
    master.addDSP(0, dsp);
    for (int i = 0; i < 10; ++i) system.update();
    uint64_t blocks = 0;
    system.getMixedBlocks(&blocks);
    EXPECT_EQ(log.count, 10);
    EXPECT_EQ(blocks, 10u);
    EXPECT_EQ(log.lastLength, 1024u);
    EXPECT_EQ(log.lastChannels, 1);

    // A bypassed custom unit is not called at all.
    dsp.setBypass(true);
    for (int i = 0; i < 3; ++i) system.update();
    EXPECT_EQ(log.count, 10);
    system.release();
}

TEST(Mixer, WavWriterRendersOneBlockPerUpdateSampleExact) {
    ScratchDir dir;
    std::vector<short> source = toPcm16(parlune::test::voicedSignal(16000, 100.0));
    ASSERT_TRUE(writePcm16(dir.file("source.wav"), source, 16000, 1));
    for (int updates : {0, 1, 7, 15}) {
        std::vector<float> out = renderFile(dir, dir.file("source.wav"), updates);
        std::vector<short> written = readPcm16(dir.file("render-out.wav"));
        ASSERT_EQ(written.size(), static_cast<size_t>(updates) * 1024) << updates << " updates";
        for (size_t i = 0; i < written.size(); ++i)
            ASSERT_EQ(written[i], source[i])
                << "sample " << i << " after " << updates << " updates";
    }
}

// What a unit hands the WAV writer beyond full scale, or not a number at all.
constexpr float kOddSamples[] = {std::numeric_limits<float>::quiet_NaN(),
                                 std::numeric_limits<float>::infinity(),
                                 -std::numeric_limits<float>::infinity(),
                                 2.0f,
                                 -2.0f,
                                 1.0f,
                                 -1.0f,
                                 0.5f};
constexpr short kOddSamplesWritten[] = {0, 32767, -32768, 32767, -32768, 32767, -32768, 16384};

Result oddRead(al::DspState*, float*, float* out, unsigned length, int, int*) {
    for (unsigned i = 0; i < length; ++i) out[i] = kOddSamples[i % std::size(kOddSamples)];
    return Result::Ok;
}

TEST(Mixer, WavWriterWritesSilenceForNaNAndClampsBeyondFullScale) {
    ScratchDir dir;
    ASSERT_TRUE(writePcm16(dir.file("source.wav"), std::vector<short>(16000, 0), 16000, 1));
    renderFile(dir, dir.file("source.wav"), 2, [](al::System& system, al::Channel&) {
        al::DspDescription description;
        std::strcpy(description.name, "odd");
        description.numInputBuffers = description.numOutputBuffers = 1;
        description.read = oddRead;
        al::DSP dsp;
        system.createDSP(&description, &dsp);
        al::ChannelGroup master;
        system.getMasterChannelGroup(&master);
        master.addDSP(0, dsp);
    });
    std::vector<short> written = readPcm16(dir.file("render-out.wav"));
    ASSERT_EQ(written.size(), 2u * 1024);
    for (size_t i = 0; i < written.size(); ++i)
        ASSERT_EQ(written[i], kOddSamplesWritten[i % std::size(kOddSamplesWritten)])
            << "sample " << i;
}

TEST(Mixer, BypassedUnitsAndTheOffReverbLeaveTheSignalUntouched) {
    ScratchDir dir;
    std::vector<short> source = toPcm16(parlune::test::voicedSignal(16000, 90.0));
    ASSERT_TRUE(writePcm16(dir.file("source.wav"), source, 16000, 1));
    TagLog log;
    TagUnit tag{7, &log};
    auto build = [&](bool distortionOn) {
        return [&, distortionOn](al::System& system, al::Channel&) {
            al::ChannelGroup master;
            system.getMasterChannelGroup(&master);
            al::DSP custom = tagUnit(system, &tag);
            master.addDSP(0, custom);
            custom.setBypass(true);
            for (al::DspType type : {al::DspType::Echo, al::DspType::Chorus,
                                     al::DspType::Distortion, al::DspType::Tremolo}) {
                al::DSP unit;
                system.createDSPByType(type, &unit);
                master.addDSP(0, unit);
                unit.setBypass(!(distortionOn && type == al::DspType::Distortion));
            }
            system.setReverbProperties(0, &al::fx::kReverbOff);
        };
    };
    renderFile(dir, dir.file("source.wav"), 12, build(false));
    std::vector<short> written = readPcm16(dir.file("render-out.wav"));
    ASSERT_EQ(written.size(), 12u * 1024);
    EXPECT_TRUE(std::equal(written.begin(), written.end(), source.begin()));
    EXPECT_EQ(log.count, 0);

    renderFile(dir, dir.file("source.wav"), 12, build(true));
    written = readPcm16(dir.file("render-out.wav"));
    EXPECT_FALSE(std::equal(written.begin(), written.end(), source.begin()))
        << "the active unit acts";
}

TEST(Mixer, LoopingSoundsWrapAndOthersEnd) {
    ScratchDir dir;
    std::vector<short> source = toPcm16(parlune::test::sine(1500, 250, 16000));
    ASSERT_TRUE(writePcm16(dir.file("short.wav"), source, 16000, 1));
    renderFile(dir, dir.file("short.wav"), 3);
    std::vector<short> onceWritten = readPcm16(dir.file("render-out.wav"));
    ASSERT_EQ(onceWritten.size(), 3u * 1024);
    EXPECT_TRUE(std::equal(source.begin(), source.end(), onceWritten.begin()));
    EXPECT_TRUE(
        std::all_of(onceWritten.begin() + 1500, onceWritten.end(), [](short s) { return s == 0; }));

    renderFile(dir, dir.file("short.wav"), 3, {}, al::kLoopNormal);
    std::vector<short> looped = readPcm16(dir.file("render-out.wav"));
    for (size_t i = 0; i < looped.size(); ++i) ASSERT_EQ(looped[i], source[i % source.size()]) << i;
}

TEST(Mixer, NonLoopingChannelReportsItsEnd) {
    ScratchDir dir;
    ASSERT_TRUE(writePcm16(dir.file("short.wav"), std::vector<short>(1500, 1000), 16000, 1));
    bool before = false, after = true;
    unsigned position = 0;
    renderFile(dir, dir.file("short.wav"), 0, [&](al::System& system, al::Channel& channel) {
        system.update();
        channel.isPlaying(&before);
        system.update();
        channel.isPlaying(&after);
        channel.getPosition(&position, al::TimeUnit::Pcm);
    });
    EXPECT_TRUE(before);
    EXPECT_FALSE(after);
    EXPECT_EQ(position, 1500u);
}

struct PitchCase {
    int rate;
    int channels;
    double nudge;  // frequency = rate * nudge
};

TEST(Mixer, OtherRatesAndChannelCountsKeepTheirPitch) {
    ScratchDir dir;
    const double toneHz = 300.0;
    for (PitchCase c :
         {PitchCase{48000, 2, 1.0}, PitchCase{44100, 1, 1.0}, PitchCase{48000, 2, 1.05},
          PitchCase{44100, 1, 1.05}, PitchCase{44100, 1, 0.95}, PitchCase{16000, 1, 1.05}}) {
        std::vector<float> mono = parlune::test::sine(c.rate * 3, toneHz, c.rate);
        std::vector<float> interleaved;
        for (float x : mono)
            for (int ch = 0; ch < c.channels; ++ch) interleaved.push_back(x);
        ASSERT_TRUE(parlune::test::writeWav(dir.file("tone.wav"), interleaved, c.rate, c.channels));
        unsigned position = 0, positionMs = 0;
        std::vector<float> out = renderFile(
            dir, dir.file("tone.wav"), 30, [&](al::System& system, al::Channel& channel) {
                channel.setFrequency(static_cast<float>(c.rate * c.nudge));
                for (int i = 0; i < 10; ++i) system.update();
                channel.getPosition(&position, al::TimeUnit::Pcm);
                channel.getPosition(&positionMs, al::TimeUnit::Ms);
            });
        ASSERT_EQ(out.size(), 40u * 1024);
        double f0 =
            parlune::test::medianF0(std::vector<float>(out.begin() + 1024, out.end()), 16000);
        EXPECT_NEAR(f0, toneHz * c.nudge, toneHz * c.nudge * 0.005)
            << c.rate << " Hz, " << c.channels << " channels, nudge " << c.nudge;
        double expectedFrames = 10 * 1024 * (c.rate * c.nudge / 16000.0);
        EXPECT_NEAR(position, expectedFrames, 2) << c.rate << " Hz position";
        EXPECT_EQ(positionMs, static_cast<unsigned>(uint64_t(position) * 1000 / c.rate));
    }
}

// A file sound read as it plays (kCreateStream) mixes exactly as one loaded
// whole, also where the channel is moved back; a NaN or an infinity in the
// file is silence either way, before the resampler could spread it.
TEST(Mixer, StreamSoundsMixAsLoadedOnesWithNonFiniteSamplesSilenced) {
    ScratchDir dir;
    for (const int channels : {1, 2}) {
        for (const int rate : {16000, 44100}) {
            SCOPED_TRACE(std::to_string(rate) + " Hz, " + std::to_string(channels) + " channels");
            std::vector<float> interleaved;
            for (float x : parlune::test::sine(rate * 3, 300.0, rate, 0.1))
                for (int ch = 0; ch < channels; ++ch) interleaved.push_back(x);
            interleaved[interleaved.size() / 4] = std::numeric_limits<float>::quiet_NaN();
            interleaved[interleaved.size() / 3] = std::numeric_limits<float>::infinity();
            SF_INFO info{};
            info.samplerate = rate;
            info.channels = channels;
            info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
            SNDFILE* file = sf_open(dir.file("tone.wav").c_str(), SFM_WRITE, &info);
            ASSERT_TRUE(file);
            const auto frames = static_cast<sf_count_t>(interleaved.size() / channels);
            ASSERT_EQ(sf_writef_float(file, interleaved.data(), frames), frames);
            sf_close(file);

            const auto rewind = [](al::System& system, al::Channel& channel) {
                for (int i = 0; i < 20; ++i) system.update();
                channel.setPosition(1000, al::TimeUnit::Ms);
            };
            const std::vector<float> loaded =
                renderFile(dir, dir.file("tone.wav"), 40, rewind, al::kModeDefault);
            const std::vector<float> streamed =
                renderFile(dir, dir.file("tone.wav"), 40, rewind, al::kCreateStream);
            ASSERT_EQ(loaded.size(), 60u * 1024);
            EXPECT_EQ(streamed, loaded);
            float peak = 0;
            for (float v : streamed) peak = std::max(peak, std::fabs(v));
            EXPECT_LT(peak, 0.15f);
        }
    }
}

TEST(Mixer, FrequencyChangesEveryBlockWithoutClicks) {
    ScratchDir dir;
    std::vector<float> tone = parlune::test::sine(48000 * 4, 200.0, 48000, 0.5);
    ASSERT_TRUE(parlune::test::writeWav(dir.file("tone.wav"), tone, 48000, 1));
    std::vector<float> out =
        renderFile(dir, dir.file("tone.wav"), 0, [&](al::System& system, al::Channel& channel) {
            // The live chain's corrections, flipping on every block.
            for (int i = 0; i < 40; ++i) {
                channel.setFrequency(i % 2 ? 45600.0f : 50400.0f);
                system.update();
            }
        });
    ASSERT_EQ(out.size(), 40u * 1024);
    // A 210 Hz sine of amplitude 0.5 moves at most 0.041 per sample at 16 kHz;
    // a discontinuity would jump far more.
    double largestStep = 0;
    for (size_t i = 1025; i < out.size(); ++i)
        largestStep = std::max(largestStep, double(std::fabs(out[i] - out[i - 1])));
    EXPECT_LT(largestStep, 0.05);
    EXPECT_GT(parlune::test::rms(out, 1024), 0.3);
}

}  // namespace
