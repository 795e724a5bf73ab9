// The command-line renderer and the window's export give the same audio for
// the same recording and settings; the renderer also keeps the recording's
// last partial block, so its file is as long as the recording.
#include "engine_test_fixture.h"

#include "tests/support/run_program.h"
#include "tests/support/test_support.h"

#include <QFile>
#include <QTemporaryDir>

namespace parlune::engine::testing {
namespace {

struct RenderCase {
    int rate, channels;
    std::vector<std::string> options;
    bool cartoon;
    double pitch, formant;
    app::Key<bool> bypassedOff;  // the effect flag the options switch on
};

TEST_F(EngineTest, RendererWritesWhatTheWindowExports) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const RenderCase cases[] = {
        {16000,
         1,
         {"--mode", "human", "--pitch", "1.3", "--formant", "1.1", "--echo"},
         false,
         1.3,
         1.1,
         app::prop::isDspEchoBipassed},
        {44100,
         2,
         {"--mode", "cartoon", "--pitch", "0.8", "--formant", "2", "--tremolo"},
         true,
         0.8,
         2.0,
         app::prop::isDspTremoloBipassed},
    };
    for (const RenderCase& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.options));
        // The recording as the window holds it: raw, then converted if needed.
        const QString raw = folder.filePath("recorded.wav");
        const QString converted = folder.filePath("recorded16khz.wav");
        const std::vector<float> mono = test::voicedSignal(c.rate * 2, c.rate / 160.0, c.rate);
        std::vector<float> interleaved;
        for (float v : mono) interleaved.insert(interleaved.end(), size_t(c.channels), v);
        ASSERT_TRUE(test::writeWav(raw.toStdString(), interleaved, c.rate, c.channels));

        writeInitialProperties(store());
        store().set(app::prop::isCartoonMorph, c.cartoon);
        store().set(app::prop::pitch, c.pitch);
        store().set(app::prop::formant, c.formant);
        store().set(c.bypassedOff, false);
        store().set(app::prop::applicationPathREC, raw);
        store().set(app::prop::applicationPathREC16khz, c.rate == 16000 ? raw : converted);
        if (c.rate != 16000) runConvert();
        store().set(app::prop::fname, folder.filePath("window.wav"));
        runSave();

        const QString cli = folder.filePath("cli.wav");
        std::vector<std::string> render{test::binPath("parlune-render")};
        render.insert(render.end(), c.options.begin(), c.options.end());
        render.insert(render.end(), {raw.toStdString(), cli.toStdString()});
        const test::ProgramResult rendered = test::runProgram(render);
        ASSERT_EQ(rendered.exitCode, 0) << rendered.output;
        const test::Wav fromWindow = test::readWav(folder.filePath("window.wav").toStdString());
        const test::Wav fromCli = test::readWav(cli.toStdString());
        ASSERT_GT(fromWindow.samples.size(), 16000u);
        ASSERT_EQ(fromCli.rate, fromWindow.rate);
        ASSERT_EQ(fromCli.channels, fromWindow.channels);
        EXPECT_EQ(fromCli.samples.size(), 2u * 16000u);  // 2 s at 16 kHz
        ASSERT_GE(fromCli.samples.size(), fromWindow.samples.size());
        const std::vector<float> leading(fromCli.samples.begin(),
                                         fromCli.samples.begin() + fromWindow.samples.size());
        EXPECT_EQ(leading, fromWindow.samples);
    }
}

}  // namespace
}  // namespace parlune::engine::testing
