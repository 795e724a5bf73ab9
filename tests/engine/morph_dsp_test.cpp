// The morph unit through the audio library: its description, the per-block
// property snapshot, and the morph state chosen per unit.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "app/core/properties.h"
#include "engine/morph_dsp/morph_dsp.h"
#include "tests/platform/audiolib/render_fixture.h"
#include "voice/morph_unit.h"

namespace al = parlune::audiolib;
namespace app = parlune::app;
namespace engine = parlune::engine;
namespace voice = parlune::voice;
using al::Result;
using parlune::audiolib::testing::renderFile;
using parlune::audiolib::testing::ScratchDir;
using parlune::test::readPcm16;

namespace {

void setVoice(app::PropertyStore& store, bool cartoon, double pitch, double formant) {
    store.set(app::prop::isCartoonMorph, cartoon);
    store.set(app::prop::pitch, pitch);
    store.set(app::prop::formant, formant);
    store.set(app::prop::warp, 1);
}

// Renders `input` through a chain holding only the morph unit.
std::vector<float> morphRender(const ScratchDir& dir, const std::vector<float>& input, int blocks,
                               engine::MorphDspContext* context) {
    parlune::test::writeWav(dir.file("in.wav"), input, 16000);
    return renderFile(dir, dir.file("in.wav"), blocks, [&](al::System& system, al::Channel&) {
        al::DSP morph;
        ASSERT_EQ(engine::createMorphDsp(system, &morph, context), Result::Ok);
        al::ChannelGroup master;
        system.getMasterChannelGroup(&master);
        master.addDSP(0, morph);
    });
}

TEST(MorphDsp, DescriptionCarriesTheUnitsFixedValues) {
    al::DspDescription d = engine::morphDspDescription();
    EXPECT_STREQ(d.name, "My first DSP unit");
    EXPECT_EQ(d.version, 0x00010000u);
    EXPECT_EQ(d.numInputBuffers, 1);
    EXPECT_EQ(d.numOutputBuffers, 1);
    EXPECT_EQ(d.read, &engine::morphDspRead);
    EXPECT_EQ(d.userData, reinterpret_cast<void*>(0x12345678));

    al::System system;
    al::createSystem(&system);
    system.setOutput(al::OutputType::NoSoundNrt);
    system.init(32, al::kInitNormal, nullptr);
    app::PropertyStore store;
    voice::MorphState* fresh = voice::makeMorphState().release();
    engine::MorphDspContext context{fresh, &store};
    al::DSP unit;
    ASSERT_EQ(engine::createMorphDsp(system, &unit, &context), Result::Ok);
    char name[al::kDspNameLength];
    unsigned version = 0;
    void* userData = nullptr;
    void* instance = nullptr;
    unit.getInfo(name, &version, nullptr, nullptr, nullptr);
    unit.getUserData(&userData);
    unit.getInstanceData(&instance);
    EXPECT_STREQ(name, "My first DSP unit");
    EXPECT_EQ(userData, reinterpret_cast<void*>(0x12345678)) << "the user data stays the marker";
    EXPECT_EQ(instance, &context);
    system.release();
    delete fresh;
}

TEST(MorphDsp, PrivateFreshStateRendersLikeTheOfflineMorph) {
    ScratchDir dir;
    std::vector<float> speech = parlune::test::readWav(parlune::test::speechSamplePath()).samples;
    ASSERT_GE(speech.size(), 20u * 1024);
    speech.resize(20 * 1024);
    for (bool cartoon : {true, false}) {
        app::PropertyStore store;
        setVoice(store, cartoon, 1.3, cartoon ? 1.5 : 1.1);
        auto state = voice::makeMorphState();
        engine::MorphDspContext context{state.get(), &store};
        morphRender(dir, speech, 20, &context);
        std::vector<short> rendered = readPcm16(dir.file("render-out.wav"));
        // What the mixer read: the file's 16-bit samples.
        std::vector<float> input = parlune::test::readWav(dir.file("in.wav")).samples;
        std::vector<float> expected = voice::morphSignal(input, store.morphSnapshot());
        ASSERT_EQ(rendered.size(), expected.size());
        int worst = 0;
        for (size_t i = 0; i < expected.size(); ++i) {
            float scaled =
                std::nearbyint(std::clamp(expected[i], -1.0f, 32767.0f / 32768.0f) * 32768.0f);
            worst = std::max(worst, std::abs(static_cast<int>(scaled) - rendered[i]));
        }
        EXPECT_LE(worst, 1) << (cartoon ? "cartoon" : "human");
    }
}

TEST(MorphDsp, PitchIsReadFromThePropertiesOnEveryBlock) {
    ScratchDir dir;
    std::vector<float> voiced = parlune::test::voicedSignal(16000 * 3, 100.0);  // 160 Hz
    app::PropertyStore store;
    setVoice(store, true, 1.0, 1.5);
    auto state = voice::makeMorphState();
    engine::MorphDspContext context{state.get(), &store};
    parlune::test::writeWav(dir.file("in.wav"), voiced, 16000);
    std::vector<float> out =
        renderFile(dir, dir.file("in.wav"), 0, [&](al::System& system, al::Channel&) {
            al::DSP morph;
            engine::createMorphDsp(system, &morph, &context);
            al::ChannelGroup master;
            system.getMasterChannelGroup(&master);
            master.addDSP(0, morph);
            for (int block = 0; block < 40; ++block) {
                if (block == 20) store.set(app::prop::pitch, 1.4);
                system.update();
            }
        });
    ASSERT_EQ(out.size(), 40u * 1024);
    double before = parlune::test::medianF0(
        std::vector<float>(out.begin() + 4 * 1024, out.begin() + 20 * 1024), 16000);
    double after =
        parlune::test::medianF0(std::vector<float>(out.begin() + 24 * 1024, out.end()), 16000);
    ASSERT_GT(before, 0);
    EXPECT_NEAR(after / before, 1.4, 0.1);
}

TEST(MorphDsp, WithoutContextUsesTheApplicationsProperties) {
    ScratchDir dir;
    std::vector<float> voiced = parlune::test::voicedSignal(16000 * 2, 100.0);
    setVoice(app::properties(), true, 0.7, 1.5);
    std::vector<float> out = morphRender(dir, voiced, 30, nullptr);
    ASSERT_EQ(out.size(), 30u * 1024);
    double f0 = parlune::test::medianF0(std::vector<float>(out.begin() + 4096, out.end()), 16000);
    EXPECT_NEAR(f0, 160.0 * 0.7, 10.0);
}

}  // namespace
