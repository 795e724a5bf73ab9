// The built program as a person runs it, against the private audio server:
// its own process with its own data and runtime folders, on a private X
// display where the mouse is used. Speech played into the microphone comes
// out of "PARLUNE-01 Microphone" with the voice the file render gives for the
// same controls, and out of the speaker through Looptap; a preset
// double-clicked in the window changes it; a second start leaves the first
// alone; the close button and SIGTERM give the speaker back and leave only
// PARLUNE-01 behind; a run killed with SIGKILL is repaired by the next start.
//
// Each test shares one program start between its checks: a start costs
// seconds, and the checks follow one another as a person's use does.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "app/core/playdev_file.h"
#include "platform/pulse/pulse_client.h"
#include "platform/vdev/virtual_device.h"
#include "tests/support/run_program.h"
#include "tests/support/test_support.h"
#include "tests/support/virtual_display.h"
#include "tools/server_streams.h"

namespace parlune::test {
namespace {

using namespace std::chrono_literals;

// Window points, from the window's top left corner: the presets list (one
// every 56 pixels from DAVID; ALICE is the third) and the close button.
constexpr int kPresetX = 163;
constexpr int kAliceY = 171 + 2 * 56;
constexpr int kCloseX = 1075;
constexpr int kCloseY = 22;

// What the program has open on the server while it runs: Looptap's two
// streams and the live chain's two, once each.
const std::multiset<std::string> kRunningStreams = {
    "playback: Wave playback", "playback: Parlune mixer", "record: Wave capture",
    "record: Parlune capture"};

// The live chain and Looptap each delay the voice by a fraction of a
// second: the recordings go on this long after the speech ends.
constexpr auto kPathDelay = 800ms;
// The live voice may differ from the file render of the same controls by
// this share of its F0.
constexpr double kF0Tolerance = 0.05;

bool eventually(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(50ms);
    }
    return true;
}

// The modules of the server other than the two that make PARLUNE-01.
std::multiset<std::string> otherModules(pulse::PulseClient& client) {
    const auto sinkArgs = vdev::parseModuleArguments(vdev::sinkModuleArgument());
    const auto sourceArgs = vdev::parseModuleArguments(vdev::sourceModuleArgument());
    std::multiset<std::string> out;
    for (const auto& m : client.modules()) {
        const auto args = vdev::parseModuleArguments(m.argument);
        if ((m.name == "module-null-sink" && args == sinkArgs) ||
            (m.name == "module-remap-source" && args == sourceArgs))
            continue;
        out.insert(m.name + " " + m.argument);
    }
    return out;
}

// The program's streams on the server (playback and record), by media name.
std::multiset<std::string> programStreams(pulse::PulseClient& client) {
    std::multiset<std::string> out;
    for (const auto& s : client.sinkInputs())
        if (s.applicationName == "Parlune") out.insert("playback: " + s.mediaName);
    for (const auto& s : client.sourceOutputs())
        if (s.applicationName == "Parlune") out.insert("record: " + s.mediaName);
    return out;
}

std::string describe(const std::multiset<std::string>& items) {
    std::string text;
    for (const auto& item : items) text += "\n  " + item;
    return text.empty() ? " none" : text;
}

class WholeProgram : public ::testing::Test {
protected:
    void SetUp() override {
        PARLUNE_NEED_PULSE();
        client_ = std::make_unique<pulse::PulseClient>("whole program test");
        ASSERT_TRUE(client_->connected());
        speaker_ = client_->defaultSinkName();
        ASSERT_NE(speaker_, vdev::kSinkName);
        deviceBefore_ = vdev::virtualDeviceStatus(*client_).sinkPresent;
        sourcesBefore_ = client_->sources();
        modulesBefore_ = otherModules(*client_);
        speech_ = readWav(speechSamplePath());
        ASSERT_EQ(speech_.rate, 16000);
        ASSERT_EQ(mkdir(home_.file("share").c_str(), 0700), 0);
        ASSERT_EQ(mkdir(home_.file("run").c_str(), 0700), 0);
    }

    void TearDown() override {
        if (!client_ || !client_->connected()) return;
        // The server as the other tests expect it, whatever happened here:
        // the program mutes other microphones and leaves PARLUNE-01 loaded.
        if (client_->defaultSinkName() != speaker_) client_->setDefaultSink(speaker_);
        for (const auto& source : sourcesBefore_) client_->setSourceMute(source.name, source.muted);
        if (!deviceBefore_) vdev::removeVirtualDevice(*client_);
    }

    // The program with this test's folders; on `display`, or offscreen
    // without one. Nothing leaves the machine (no ping, no update check).
    std::unique_ptr<BackgroundProgram> start(const VirtualDisplay* display) {
        std::vector<std::string> env = {"XDG_DATA_HOME=" + home_.file("share"),
                                        "XDG_RUNTIME_DIR=" + home_.file("run"),
                                        "PARLUNE_PING_TID=", "PARLUNE_UPDATE_FEED="};
        if (display) {
            env.push_back("QT_QPA_PLATFORM=xcb");
            env.push_back("DISPLAY=" + display->name());
        } else {
            env.push_back("QT_QPA_PLATFORM=offscreen");
        }
        return std::make_unique<BackgroundProgram>(std::vector<std::string>{binPath("parlune")},
                                                   ProgramEnvironment{env, true});
    }

    // The window is up and PARLUNE-01 is the default playback device.
    ::testing::AssertionResult routed(const BackgroundProgram& program) {
        if (!program.waitForOutput("Window shown after", 30000))
            return ::testing::AssertionFailure()
                   << "the window did not show; the program's output:\n"
                   << program.outputSoFar();
        if (!eventually([&] { return client_->defaultSinkName() == vdev::kSinkName; }, 10s))
            return ::testing::AssertionFailure()
                   << "PARLUNE-01 is not the default playback device but "
                   << client_->defaultSinkName() << "; the program's output:\n"
                   << program.outputSoFar();
        return ::testing::AssertionSuccess();
    }

    // The server name PlayDev.ini remembers; empty without one.
    std::string rememberedSink() {
        const auto remembered = playdev::readFile(home_.file("run") + "/PlayDev.ini");
        return remembered ? remembered->sinkName : std::string();
    }

    // The speech sample played once into the microphone (through its feed
    // sink) while each source is recorded; one recording per source.
    std::vector<std::vector<float>> speakAndRecord(const std::vector<std::string>& sources) {
        std::vector<std::unique_ptr<tools::SourceRecording>> recorders;
        for (const auto& source : sources) {
            recorders.push_back(std::make_unique<tools::SourceRecording>(source, 16000));
            EXPECT_TRUE(recorders.back()->ok()) << source;
        }
        EXPECT_TRUE(tools::playInto("micsink", speech_.samples));
        std::this_thread::sleep_for(kPathDelay);
        std::vector<std::vector<float>> recorded;
        for (auto& recorder : recorders) recorded.push_back(recorder->stop());
        return recorded;
    }

    // The voice's F0 in a recording (kept beside the test's folders while it runs).
    double f0Of(const std::vector<float>& samples, const std::string& name) {
        const std::string path = home_.file(name + ".wav");
        EXPECT_TRUE(writeWav(path, samples, 16000));
        return voiceF0(path);
    }

    // The F0 of the speech sample rendered from the file with these
    // parlune-render options: the same morph as the live chain's.
    double renderedF0(const std::vector<std::string>& options, const std::string& name) {
        const std::string out = home_.file(name + "-file.wav");
        std::vector<std::string> argv = {binPath("parlune-render")};
        argv.insert(argv.end(), options.begin(), options.end());
        argv.push_back(speechSamplePath());
        argv.push_back(out);
        const ProgramResult r = runProgram(argv);
        EXPECT_EQ(r.exitCode, 0) << r.output;
        return voiceF0(out);
    }

    // The live voice against the file render: both ratios to the input's F0
    // are reported, and must agree within the tolerance.
    void expectVoice(double liveF0, double fileF0, const std::string& what) {
        const double inputF0 = voiceF0(speechSamplePath());
        ASSERT_GT(inputF0, 0.0);
        RecordProperty(what + "LiveF0Ratio", std::to_string(liveF0 / inputF0));
        RecordProperty(what + "FileF0Ratio", std::to_string(fileF0 / inputF0));
        ASSERT_GT(fileF0, 0.0);
        EXPECT_NEAR(liveF0, fileF0, kF0Tolerance * fileF0)
            << what << ": live F0 " << liveF0 << " Hz (ratio " << liveF0 / inputF0
            << "), file render " << fileF0 << " Hz (ratio " << fileF0 / inputF0 << "), input "
            << inputF0 << " Hz";
    }

    // After the program ended the normal way: exit code 0, the speaker is
    // the default playback device again, none of its streams is left, and
    // of the modules it loaded only PARLUNE-01's two stay, once each (the
    // virtual device stays loaded, as an installed device would, for chat
    // programs that have it open and for the next start).
    void expectEndedAsDesigned(const ProgramResult& result) {
        EXPECT_FALSE(result.timedOut) << result.output;
        EXPECT_EQ(result.exitCode, 0) << result.output;
        EXPECT_TRUE(eventually([&] { return client_->defaultSinkName() == speaker_; }, 3s))
            << "default playback device " << client_->defaultSinkName() << "\n"
            << result.output;
        EXPECT_TRUE(eventually([&] { return programStreams(*client_).empty(); }, 5s))
            << "streams left:" << describe(programStreams(*client_));
        EXPECT_EQ(otherModules(*client_), modulesBefore_)
            << "modules now:" << describe(otherModules(*client_));
        const vdev::Status device = vdev::virtualDeviceStatus(*client_);
        EXPECT_TRUE(device.sinkPresent && device.sourcePresent);
        EXPECT_EQ(device.ownModules, 2);
    }

    std::unique_ptr<pulse::PulseClient> client_;
    std::string speaker_;
    bool deviceBefore_ = false;
    std::vector<pulse::DeviceInfo> sourcesBefore_;
    std::multiset<std::string> modulesBefore_;
    Wav speech_;
    TempDir home_;
};

// One start used as a person uses it: the start-up voice on the virtual
// microphone and the speaker, a preset double-clicked, a second start
// refused, and the close button.
TEST_F(WholeProgram, MorphsRoutesTakesAPresetAndTheCloseButtonGivesTheSpeakerBack) {
    VirtualDisplay display;
    ASSERT_TRUE(display.ok()) << "Xvfb did not start: " << display.failure();
    auto program = start(&display);
    ASSERT_TRUE(routed(*program));
    EXPECT_EQ(rememberedSink(), speaker_);
    EXPECT_TRUE(eventually([&] { return programStreams(*client_) == kRunningStreams; }, 5s))
        << "streams:" << describe(programStreams(*client_));
    // A virtual device loaded a moment ago passes nothing for a moment.
    std::this_thread::sleep_for(2s);

    // The start-up voice: cartoon, pitch 1.0, formant 1.5.
    auto heard = speakAndRecord({vdev::kSourceName, speaker_ + ".monitor"});
    const double startupF0 = f0Of(heard[0], "startup");
    expectVoice(startupF0,
                renderedF0({"--mode", "cartoon", "--pitch", "1", "--formant", "1.5"}, "startup"),
                "startup");
    // Looptap plays what the virtual microphone carries on the speaker.
    EXPECT_GT(rms(heard[1]), 0.01);
    EXPECT_NEAR(f0Of(heard[1], "startup-speaker"), startupF0, kF0Tolerance * startupF0);

    // ALICE (human, pitch 1.4, formant 1.15), double-clicked as a person does.
    const auto window = ProgramWindow::find(display, program->pid(), 10000);
    ASSERT_TRUE(window) << "no window of the program on " << display.name();
    ASSERT_TRUE(window->click(kPresetX, kAliceY, 2));
    ASSERT_TRUE(program->waitForOutput("isCArtoon?  false", 5000))
        << "the window did not apply the preset:\n"
        << program->outputSoFar();
    const double aliceFileF0 = renderedF0({"--preset", "alice"}, "alice");
    heard = speakAndRecord({vdev::kSourceName, speaker_ + ".monitor"});
    expectVoice(f0Of(heard[0], "alice"), aliceFileF0, "alice");
    expectVoice(f0Of(heard[1], "alice-speaker"), aliceFileF0, "aliceOnTheSpeaker");

    // A second start ends at once, without a window, and the first goes on
    // routing and morphing with the same streams.
    auto second = start(&display);
    const ProgramResult secondResult = second->wait(20000);
    EXPECT_FALSE(secondResult.timedOut);
    EXPECT_EQ(secondResult.exitCode, 0) << secondResult.output;
    EXPECT_EQ(secondResult.output.find("Window shown"), std::string::npos) << secondResult.output;
    EXPECT_EQ(client_->defaultSinkName(), vdev::kSinkName);
    EXPECT_EQ(programStreams(*client_), kRunningStreams);
    heard = speakAndRecord({vdev::kSourceName});
    expectVoice(f0Of(heard[0], "alice-after-second-start"), aliceFileF0, "afterASecondStart");

    ASSERT_TRUE(window->click(kCloseX, kCloseY));
    expectEndedAsDesigned(program->wait(20000));
    EXPECT_EQ(rememberedSink(), speaker_);
}

// SIGKILL while routed leaves PARLUNE-01 the default playback device; the
// next start gives the remembered speaker back before it routes again (so it
// remembers the speaker, not PARLUNE-01), its voice reaches the virtual
// microphone and the speaker, and SIGTERM ends it the normal way.
TEST_F(WholeProgram, AKilledRunIsRepairedByTheNextStartAndSigtermEndsIt) {
    auto killed = start(nullptr);
    ASSERT_TRUE(routed(*killed));
    killed->kill();
    EXPECT_EQ(client_->defaultSinkName(), vdev::kSinkName) << "the crash left nothing to repair";
    EXPECT_TRUE(eventually([&] { return programStreams(*client_).empty(); }, 5s))
        << "the server kept the killed program's streams:" << describe(programStreams(*client_));
    EXPECT_EQ(rememberedSink(), speaker_);

    auto next = start(nullptr);
    ASSERT_TRUE(routed(*next));
    EXPECT_NE(next->outputSoFar().find("is the default playback device again"), std::string::npos)
        << "the start did not give the remembered device back:\n"
        << next->outputSoFar();
    EXPECT_EQ(rememberedSink(), speaker_);
    EXPECT_TRUE(eventually([&] { return programStreams(*client_) == kRunningStreams; }, 5s))
        << "streams:" << describe(programStreams(*client_));
    EXPECT_EQ(vdev::virtualDeviceStatus(*client_).ownModules, 2);

    std::this_thread::sleep_for(1s);
    const auto heard = speakAndRecord({vdev::kSourceName, speaker_ + ".monitor"});
    expectVoice(f0Of(heard[0], "repaired"),
                renderedF0({"--mode", "cartoon", "--pitch", "1", "--formant", "1.5"}, "repaired"),
                "repaired");
    EXPECT_GT(rms(heard[1]), 0.01) << "Looptap does not play on the speaker";

    ASSERT_TRUE(next->signal(SIGTERM));
    expectEndedAsDesigned(next->wait(20000));
}

}  // namespace
}  // namespace parlune::test
