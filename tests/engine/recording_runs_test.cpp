// Conversion, playback and export of a recording on the in-process backend
// and the WAV writer: block counts, the output pick, determinism of exports,
// and files that cannot be read or written.
#include "engine_test_fixture.h"

#include "tests/support/test_support.h"

#include <QDir>
#include "voice/morph_unit.h"

#include <signal.h>
#include <sndfile.h>
#include <sys/resource.h>

#include <QTemporaryDir>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>

namespace parlune::engine::testing {
namespace {

class RecordingRunsTest : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        ASSERT_TRUE(folder_.isValid());
        store().set(app::prop::applicationPathREC, path("recorded.wav"));
        store().set(app::prop::applicationPathREC16khz, path("recorded16khz.wav"));
    }
    QString path(const char* name) const { return folder_.filePath(name); }
    std::string stdPath(const char* name) const { return path(name).toStdString(); }

    // A 16 kHz mono recording of `ms` milliseconds: a voice at 150 Hz.
    void writeRecording16k(int ms) {
        ASSERT_TRUE(test::writeWav(stdPath("recorded16khz.wav"),
                                   test::voicedSignal(16 * ms, 16000.0 / 150.0), 16000));
    }
    void exportTo(const char* name) {
        store().set(app::prop::fname, path(name));
        runSave();
    }

    QTemporaryDir folder_;
};

TEST_F(RecordingRunsTest, ConversionAndExportRenderOneBlockPer64Ms) {
    struct Case {
        int ms;
        size_t frames;
    };
    const Case cases[] = {{10000, 156 * 1024}, {63, 0}, {640, 10 * 1024}, {1000, 15 * 1024}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.ms);
        // The raw recording at 44.1 kHz stereo, as a recorder leaves it.
        const auto tone = test::sine(44100 * c.ms / 1000, 300.0, 44100, 0.4);
        std::vector<float> stereo;
        for (float v : tone) stereo.insert(stereo.end(), {v, v});
        ASSERT_TRUE(test::writeWav(stdPath("recorded.wav"), stereo, 44100, 2));
        runConvert();
        const test::Wav converted = test::readWav(stdPath("recorded16khz.wav"));
        EXPECT_EQ(converted.rate, 16000);
        EXPECT_EQ(converted.channels, 1);
        EXPECT_EQ(converted.samples.size(), c.frames);

        writeRecording16k(c.ms);
        exportTo("export.wav");
        const test::Wav exported = test::readWav(stdPath("export.wav"));
        EXPECT_EQ(exported.rate, 16000);
        EXPECT_EQ(exported.channels, 1);
        EXPECT_EQ(exported.samples.size(), c.frames);
        EXPECT_TRUE(test::allFinite(exported.samples));
    }
}

TEST_F(RecordingRunsTest, ConversionKeepsTheSignalUnprocessed) {
    ASSERT_TRUE(test::writeWav(stdPath("recorded.wav"),
                               test::voicedSignal(44100 * 2, 44100.0 / 180.0, 44100), 44100));
    store().set(app::prop::isDspBipassed, false);  // no unit is used by the conversion anyway
    runConvert();
    const test::Wav converted = test::readWav(stdPath("recorded16khz.wav"));
    EXPECT_NEAR(test::medianF0(converted.samples, 16000), 180.0, 3.0);
}

TEST_F(RecordingRunsTest, ExportAppliesTheMorphEvenWhenTheLiveChainBypassesIt) {
    writeRecording16k(3000);
    store().set(app::prop::isDspBipassed, true);
    store().set(app::prop::isCartoonMorph, true);
    store().set(app::prop::pitch, 1.5);
    exportTo("export.wav");
    const test::Wav exported = test::readWav(stdPath("export.wav"));
    EXPECT_NEAR(test::medianF0(exported.samples, 16000) / 150.0, 1.5, 0.1);
}

TEST_F(RecordingRunsTest, ExportIsTheMorphOfEachWholeBlockFromAFreshState) {
    writeRecording16k(1000);
    store().set(app::prop::isCartoonMorph, true);
    store().set(app::prop::pitch, 0.85);
    store().set(app::prop::formant, 2.0);
    exportTo("export.wav");
    const test::Wav input = test::readWav(stdPath("recorded16khz.wav"));
    const test::Wav exported = test::readWav(stdPath("export.wav"));
    ASSERT_EQ(exported.samples.size(), 15u * 1024u);
    const std::vector<float> expected = voice::morphSignal(input.samples, {true, 0.85f, 2.0f, 1});
    for (size_t i = 0; i < exported.samples.size(); ++i)
        ASSERT_NEAR(exported.samples[i], std::clamp(expected[i], -1.0f, 1.0f), 1.0 / 16384) << i;
}

TEST_F(RecordingRunsTest, SameRecordingAndSettingsExportTheSameFile) {
    writeRecording16k(2000);
    store().set(app::prop::isCartoonMorph, false);
    store().set(app::prop::pitch, 1.3);
    store().set(app::prop::formant, 1.1);
    exportTo("first.wav");
    // The live chain and a playback work the process-wide morph state between
    // the two exports; the exports start from the initial state each time.
    startLive();
    ASSERT_TRUE(waitPasses(20));
    stopLive();
    runPlay();
    exportTo("second.wav");
    const test::Wav first = test::readWav(stdPath("first.wav"));
    const test::Wav second = test::readWav(stdPath("second.wav"));
    ASSERT_FALSE(first.samples.empty());
    EXPECT_EQ(first.samples, second.samples);
}

TEST_F(RecordingRunsTest, PlaybackWaitsForTheStoppedLiveChainToReleaseTheVoiceState) {
    // The play button clears isRunning and starts playback at once, while the
    // live run may be in the middle of a slow pass; both use one morph state.
    writeRecording16k(500);
    const std::thread::id playThread = std::this_thread::get_id();
    std::atomic<bool> inSlowPass{false};
    onPause = [&](const Pause& pause, size_t index) {
        if (pause.thread != playThread && index == 5) {
            inSlowPass = true;
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
        }
    };
    startLive();
    ASSERT_TRUE(waitFor([&](const LiveChainStatus&) { return inSlowPass.load(); }));
    store().set(app::prop::isRunning, false);
    runPlay();
    std::vector<Pause> playPasses;
    for (const Pause& pause : pauses())
        if (pause.thread == playThread) playPasses.push_back(pause);
    ASSERT_FALSE(playPasses.empty());
    for (const Pause& pause : playPasses) EXPECT_EQ(pause.status.activeRuns, 0);
}

// A live run that holds the shared morph state past the bounded wait keeps it:
// playback then morphs on a state of its own, from the initial one, so what it
// plays is the morph of the recording from a fresh state even though the
// shared state carries the history of an earlier playback.
TEST_F(RecordingRunsTest, PlaybackBehindALiveRunThatDoesNotEndUsesAVoiceStateOfItsOwn) {
    ip::configure({{"Speaker", 48000, 2}, {"Headphones", 16000, 1}},
                  {captureDevice("Microphone", 48000, 1)});
    writeRecording16k(1000);
    store().set(app::prop::isCartoonMorph, false);
    store().set(app::prop::pitch, 1.3);
    store().set(app::prop::formant, 1.1);
    store().set(app::prop::speakerPlayDevice, QStringLiteral("Headphones"));
    runPlay();  // leaves its voice history in the shared state
    ip::clearPlayed();

    const std::thread::id playThread = std::this_thread::get_id();
    std::atomic<bool> held{false}, playing{false};
    int livePauses = 0;  // counted on the live run's thread
    onPause = [&](const Pause& pause, size_t) {
        if (pause.thread == playThread) {
            playing = true;
        } else if (++livePauses == 5) {
            // The live run keeps its audio until playback has begun (a real-time
            // guard ends the hold should playback wait for it after all).
            held = true;
            const auto guard = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            while (!playing && std::chrono::steady_clock::now() < guard)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    };
    const size_t pausesBefore = pauses().size();
    startLive();
    ASSERT_TRUE(waitFor([&](const LiveChainStatus&) { return held.load(); }));
    store().set(app::prop::isRunning, false);
    runPlay();
    EXPECT_EQ(
        countLog(
            "runPlay: the live chain is still running; playback uses a voice state of its own"),
        1);
    const std::vector<Pause> all = pauses();
    const auto firstPlayPass = std::find_if(all.begin() + pausesBefore, all.end(),
                                            [&](const Pause& p) { return p.thread == playThread; });
    ASSERT_NE(firstPlayPass, all.end());
    EXPECT_EQ(firstPlayPass->status.activeRuns, 1)
        << "playback began while the live run held its audio";

    const test::Wav input = test::readWav(stdPath("recorded16khz.wav"));
    const std::vector<float> expected = voice::morphSignal(input.samples, {false, 1.3f, 1.1f, 1});
    const std::vector<float> played = ip::played("Headphones");
    const size_t wholeBlocks = 15 * 1024;
    ASSERT_GE(played.size(), wholeBlocks);
    for (size_t i = 0; i < wholeBlocks; ++i) ASSERT_NEAR(played[i], expected[i], 1e-5) << i;
}

TEST_F(RecordingRunsTest, ExportLeavesTheLiveChainRunning) {
    writeRecording16k(2000);
    startLive();
    ASSERT_TRUE(waitPasses(5));
    const uint64_t runs = liveChainStatus().runs;
    exportTo("export.wav");
    const uint64_t passes = liveChainStatus().passes;
    ASSERT_TRUE(waitPasses(passes + 5));
    EXPECT_EQ(liveChainStatus().runs, runs);
    EXPECT_EQ(liveChainStatus().phase, LiveChainStatus::Phase::Playing);
}

TEST_F(RecordingRunsTest, ExportIntoAnUnwritablePlaceIsLoggedNotFatal) {
    writeRecording16k(500);
    // A path below a regular file cannot be created, even by root.
    ASSERT_TRUE(test::writeWav(stdPath("plain"), {0.0f}, 16000));
    exportTo("plain/export.wav");
    EXPECT_FALSE(QFile::exists(path("plain/export.wav")));
    EXPECT_EQ(countLog("runSave: cannot write"), 1);
    EXPECT_EQ(countLog("runSave starts................."), 1);
}

// A full disk (a file size limit here; its signal ignored, so writes fail
// with EFBIG): the export and the conversion say they failed, an older file
// stays as it was and no partial file is left beside it.
TEST_F(RecordingRunsTest, AFailedWriteIsReportedAndKeepsTheOldFile) {
    writeRecording16k(2000);
    ASSERT_TRUE(test::writeWav(stdPath("recorded.wav"), test::sine(44100, 300.0, 44100, 0.4),
                               44100));
    const std::string old = "an older file";
    ASSERT_TRUE(test::writeFileBytes(stdPath("export.wav"), old));
    const std::string converted = test::readFileBytes(stdPath("recorded16khz.wav"));

    rlimit limit{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &limit), 0);
    const auto previousHandler = signal(SIGXFSZ, SIG_IGN);
    rlimit small = limit;
    small.rlim_cur = 16 * 1024;  // half a second at 16 kHz
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    store().set(app::prop::fname, path("export.wav"));
    const bool saved = runSave();
    const bool convertedAgain = runConvert();
    setrlimit(RLIMIT_FSIZE, &limit);
    signal(SIGXFSZ, previousHandler);

    EXPECT_FALSE(saved);
    EXPECT_FALSE(convertedAgain);
    EXPECT_EQ(test::readFileBytes(stdPath("export.wav")), old);
    EXPECT_EQ(test::readFileBytes(stdPath("recorded16khz.wav")), converted);
    EXPECT_EQ(countLog("runSave: cannot write"), 1);
    EXPECT_EQ(countLog("runConvert: cannot write"), 1);
    EXPECT_EQ(QDir(folder_.path()).entryList(QDir::Files).size(), 3);
    // With room again, the same export succeeds.
    EXPECT_TRUE(runSave());
    EXPECT_EQ(test::readWav(stdPath("export.wav")).samples.size(), 31u * 1024);
}

// A NaN or an infinity in a float recording is silence, also through the
// conversion's resampler (which would spread it into a full-scale click).
TEST_F(RecordingRunsTest, NonFiniteSamplesOfAFileBecomeSilence) {
    std::vector<float> samples = test::sine(44100, 300.0, 44100, 0.1);
    samples[10000] = std::numeric_limits<float>::quiet_NaN();
    samples[20000] = std::numeric_limits<float>::infinity();
    samples[30000] = -std::numeric_limits<float>::infinity();
    SF_INFO info{};
    info.samplerate = 44100;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* file = sf_open(stdPath("recorded.wav").c_str(), SFM_WRITE, &info);
    ASSERT_TRUE(file);
    ASSERT_EQ(sf_writef_float(file, samples.data(), 44100), 44100);
    sf_close(file);
    ASSERT_TRUE(runConvert());
    const test::Wav converted = test::readWav(stdPath("recorded16khz.wav"));
    ASSERT_EQ(converted.samples.size(), 15u * 1024);
    float peak = 0;
    for (float v : converted.samples) peak = std::max(peak, std::fabs(v));
    EXPECT_LT(peak, 0.2f);
}

TEST_F(RecordingRunsTest, MissingSourceRendersNothing) {
    exportTo("export.wav");
    EXPECT_TRUE(test::readWav(stdPath("export.wav")).samples.empty());
    runConvert();
    EXPECT_TRUE(test::readWav(stdPath("recorded16khz.wav")).samples.empty());
    const double before = ip::now();
    runPlay();  // length 0: no pass, no wait
    EXPECT_EQ(ip::now(), before);
}

struct PlayCase {
    const char* speaker;
    const char* expectedDevice;
};

TEST_F(RecordingRunsTest, PlaybackGoesToTheNamedOutputElseDriverZero) {
    ip::configure({{"Speaker", 48000, 2}, {"Headphones", 44100, 2}, {"Kopfhörer Ü", 48000, 2}},
                  {captureDevice("Microphone", 48000, 1)});
    writeRecording16k(1000);
    const PlayCase cases[] = {
        {"Headphones", "Headphones"},
        {"Kopfhörer Ü", "Kopfhörer Ü"},
        {"No Such Device", "Speaker"},
        {"", "Speaker"},
    };
    for (const PlayCase& c : cases) {
        SCOPED_TRACE(c.speaker);
        ip::clearPlayed();
        store().set(app::prop::speakerPlayDevice, QString::fromUtf8(c.speaker));
        const double before = ip::now();
        const size_t pausesBefore = pauses().size();
        runPlay();
        // floor(1000 / 36) = 27 passes of 42 ms.
        EXPECT_EQ(pauses().size() - pausesBefore, 27u);
        EXPECT_DOUBLE_EQ(ip::now() - before, 27 * 42.0);
        for (const char* device : {"Speaker", "Headphones", "Kopfhörer Ü"}) {
            const std::vector<float> played = ip::played(device);
            if (std::string(device) == c.expectedDevice) {
                EXPECT_GT(test::rms(played), 0.01) << device;
            } else {
                EXPECT_TRUE(played.empty()) << device;
            }
        }
    }
}

TEST_F(RecordingRunsTest, PlaybackAppliesTheMorphAndTheEffectFlagsReadAtItsStart) {
    writeRecording16k(1500);
    store().set(app::prop::isDspBipassed, true);  // live chain only
    store().set(app::prop::isCartoonMorph, true);
    store().set(app::prop::pitch, 1.5);
    store().set(app::prop::isDspDistortionBipassed, true);
    onPause = [this](const Pause&, size_t index) {
        // Too late for this playback: the flags were read at its start.
        if (index == 2) store().set(app::prop::isDspDistortionBipassed, false);
    };
    runPlay();
    const std::vector<float> played = ip::played("Speaker");
    ASSERT_GT(played.size(), 16000u);
    EXPECT_NEAR(test::medianF0(played, 16000) / 150.0, 1.5, 0.1);

    // The same playback again, now with the distortion read as on: louder peaks.
    ip::clearPlayed();
    onPause = nullptr;
    runPlay();
    const std::vector<float> distorted = ip::played("Speaker");
    ASSERT_EQ(distorted.size(), played.size());
    EXPECT_GT(test::rms(distorted), test::rms(played) * 1.1);
}

}  // namespace
}  // namespace parlune::engine::testing
