// The call contract: every call answers with a result code, and null,
// released or misused handles give an error, never a crash.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/audiolib/audiolib.h"
#include "platform/audiolib/inprocess.h"
#include "platform/audiolib/internal.h"
#include "tests/platform/audiolib/render_fixture.h"

namespace al = parlune::audiolib;
using al::Result;

namespace {

struct Case {
    const char* what;
    std::function<Result()> call;
    Result expected;
};

void runCases(const std::vector<Case>& cases) {
    for (const Case& c : cases) EXPECT_EQ(c.call(), c.expected) << c.what;
}

// An initialised system on the in-process backend (no server needed).
al::System liveSystem() {
    al::System system;
    al::createSystem(&system);
    system.setOutput(al::OutputType::InProcess);
    system.setSoftwareFormat(16000, al::SpeakerMode::Mono, 1);
    system.init(8, al::kInitNormal, nullptr);
    return system;
}

al::Sound userSound(al::System& system, unsigned bytes = 32000) {
    al::CreateSoundInfo info;
    info.cbsize = sizeof(info);
    info.length = bytes;
    info.numChannels = 1;
    info.defaultFrequency = 16000;
    info.format = al::SoundFormat::Pcm16;
    al::Sound sound;
    system.createSound(nullptr, al::kLoopNormal | al::kOpenUser, &info, &sound);
    return sound;
}

class Contract : public ::testing::Test {
protected:
    void SetUp() override {
        al::inprocess::configureDefaults();
        al::inprocess::setClock(al::inprocess::ClockMode::Manual);
    }
};

TEST_F(Contract, NullHandlesGiveInvalidHandle) {
    al::System system;
    al::Sound sound;
    al::Channel channel;
    al::ChannelGroup group;
    al::DSP dsp;
    unsigned u = 0;
    float f = 0;
    bool b = false;
    int n = 0;
    void* p = nullptr;
    al::ReverbProperties reverb = al::fx::kReverbOff;
    const Result bad = Result::InvalidHandle;
    runCases({
        {"System::init", [&] { return system.init(32, 0, nullptr); }, bad},
        {"System::update", [&] { return system.update(); }, bad},
        {"System::close", [&] { return system.close(); }, bad},
        {"System::release", [&] { return system.release(); }, bad},
        {"System::getNumDrivers", [&] { return system.getNumDrivers(&n); }, bad},
        {"System::getRecordPosition", [&] { return system.getRecordPosition(0, &u); }, bad},
        {"System::setReverbProperties", [&] { return system.setReverbProperties(0, &reverb); },
         bad},
        {"Sound::getLength", [&] { return sound.getLength(&u, al::TimeUnit::Pcm); }, bad},
        {"Sound::release", [&] { return sound.release(); }, bad},
        {"Channel::getPosition", [&] { return channel.getPosition(&u, al::TimeUnit::Pcm); }, bad},
        {"Channel::setFrequency", [&] { return channel.setFrequency(16000); }, bad},
        {"Channel::isPlaying", [&] { return channel.isPlaying(&b); }, bad},
        {"ChannelGroup::addDSP", [&] { return group.addDSP(0, dsp); }, bad},
        {"ChannelGroup::removeDSP", [&] { return group.removeDSP(dsp); }, bad},
        {"DSP::setBypass", [&] { return dsp.setBypass(true); }, bad},
        {"DSP::getUserData", [&] { return dsp.getUserData(&p); }, bad},
        {"DSP::release", [&] { return dsp.release(); }, bad},
        {"DSP::getParameterFloat", [&] { return dsp.getParameterFloat(0, &f); }, bad},
    });
}

TEST_F(Contract, ReleasedHandlesGiveInvalidHandle) {
    al::System system = liveSystem();
    al::Sound sound = userSound(system);
    al::Channel channel;
    ASSERT_EQ(system.playSound(sound, al::ChannelGroup(), false, &channel), Result::Ok);
    al::DSP echo;
    ASSERT_EQ(system.createDSPByType(al::DspType::Echo, &echo), Result::Ok);
    al::ChannelGroup master;
    ASSERT_EQ(system.getMasterChannelGroup(&master), Result::Ok);
    ASSERT_EQ(master.addDSP(0, echo), Result::Ok);

    al::DSP echoCopy = echo;
    ASSERT_EQ(echo.release(), Result::Ok);
    al::Sound soundCopy = sound;
    ASSERT_EQ(sound.release(), Result::Ok);
    al::System systemCopy = system;
    unsigned u = 0;
    bool b = false;
    int n = -1;
    runCases({
        {"DSP released twice", [&] { return echoCopy.release(); }, Result::InvalidHandle},
        {"bypass on a released unit", [&] { return echoCopy.setBypass(false); },
         Result::InvalidHandle},
        {"sound released twice", [&] { return soundCopy.release(); }, Result::InvalidHandle},
        {"length of a released sound", [&] { return soundCopy.getLength(&u, al::TimeUnit::Pcm); },
         Result::InvalidHandle},
        {"channel of a released sound is stopped", [&] { return channel.isPlaying(&b); },
         Result::Ok},
        {"chain lost the released unit", [&] { return master.getNumDSPs(&n); }, Result::Ok},
        {"system released", [&] { return system.release(); }, Result::Ok},
        {"system released twice", [&] { return systemCopy.release(); }, Result::InvalidHandle},
        {"channel after its system", [&] { return channel.setFrequency(15000); },
         Result::InvalidHandle},
        {"group after its system", [&] { return master.getNumDSPs(&n); }, Result::InvalidHandle},
    });
    EXPECT_FALSE(b);
    EXPECT_EQ(n, 0);
}

TEST_F(Contract, MisuseGivesItsOwnError) {
    al::System system = liveSystem();
    al::System other = liveSystem();
    al::Sound sound = userSound(system);
    al::Channel channel;
    system.playSound(sound, al::ChannelGroup(), false, &channel);
    al::DSP echo, chorus, foreign;
    system.createDSPByType(al::DspType::Echo, &echo);
    system.createDSPByType(al::DspType::Chorus, &chorus);
    other.createDSPByType(al::DspType::Echo, &foreign);
    al::ChannelGroup master;
    system.getMasterChannelGroup(&master);
    master.addDSP(0, echo);
    unsigned u = 0;
    al::ReverbProperties reverb = al::fx::kReverbOff;
    al::CreateSoundInfo pcm8;
    pcm8.cbsize = sizeof(pcm8);
    pcm8.length = 1000;
    pcm8.numChannels = 1;
    pcm8.defaultFrequency = 8000;
    pcm8.format = al::SoundFormat::Pcm8;
    al::Sound s;
    al::DSP d;
    runCases({
        {"a time unit that does not exist",
         [&] { return channel.getPosition(&u, static_cast<al::TimeUnit>(3)); },
         Result::InvalidParam},
        {"null out-parameter", [&] { return sound.getLength(nullptr, al::TimeUnit::Pcm); },
         Result::InvalidParam},
        {"format after init",
         [&] { return system.setSoftwareFormat(16000, al::SpeakerMode::Mono, 1); },
         Result::Initialized},
        {"init twice", [&] { return system.init(8, 0, nullptr); }, Result::Initialized},
        {"unit added twice", [&] { return master.addDSP(0, echo); }, Result::DspInUse},
        {"unit of another system", [&] { return master.addDSP(0, foreign); }, Result::InvalidParam},
        {"index past the tail", [&] { return master.addDSP(5, chorus); }, Result::InvalidParam},
        {"removing a unit not in the chain", [&] { return master.removeDSP(chorus); },
         Result::DspNotFound},
        {"reverb instance 1", [&] { return system.setReverbProperties(1, &reverb); },
         Result::InvalidParam},
        {"a user sound in 8 bits",
         [&] { return system.createSound(nullptr, al::kOpenUser, &pcm8, &s); },
         Result::Unsupported},
        {"a missing file", [&] { return system.createSound("/nonexistent/x.wav", 0, nullptr, &s); },
         Result::FileNotFound},
        {"not an audio file",
         [&] { return system.createSound("/proc/self/status", 0, nullptr, &s); }, Result::FileBad},
        {"a parameter of a custom unit", [&] { return d.setParameterFloat(0, 1); },
         Result::InvalidHandle},
        {"echo delay out of range",
         [&] { return echo.setParameterFloat(al::fx::EchoUnit::kDelay, -5); },
         Result::InvalidParam},
        {"zero frequency", [&] { return channel.setFrequency(0); }, Result::InvalidParam},
        {"record driver out of range", [&] { return system.recordStart(99, sound, true); },
         Result::InvalidParam},
        {"recording into a file sound", [&] { return system.recordStart(0, al::Sound(), true); },
         Result::InvalidHandle},
        {"unknown built-in type",
         [&] { return system.createDSPByType(static_cast<al::DspType>(3), &d); },
         Result::Unsupported},
    });
    system.release();
    other.release();
}

TEST_F(Contract, CallsBeforeInitAreRefused) {
    al::System system;
    ASSERT_EQ(al::createSystem(&system), Result::Ok);
    al::Sound sound;
    al::DSP dsp;
    al::CreateSoundInfo info;
    info.cbsize = sizeof(info);
    info.length = 2000;
    info.numChannels = 1;
    info.defaultFrequency = 16000;
    info.format = al::SoundFormat::Pcm16;
    EXPECT_EQ(system.createSound(nullptr, al::kOpenUser, &info, &sound), Result::NotInitialized);
    EXPECT_EQ(system.createDSPByType(al::DspType::Echo, &dsp), Result::NotInitialized);
    EXPECT_EQ(system.update(), Result::NotInitialized);
    EXPECT_EQ(system.close(), Result::NotInitialized);
    EXPECT_EQ(system.setSoftwareFormat(16000, al::SpeakerMode::Stereo, 2), Result::Unsupported);
    EXPECT_EQ(system.release(), Result::Ok);
}

TEST_F(Contract, UnwritableWavPathFailsAndIsLogged) {
    std::vector<std::string> messages;
    al::setLogCallback(
        [](Result, const char* message, void* context) {
            static_cast<std::vector<std::string>*>(context)->push_back(message);
        },
        &messages);
    al::System system;
    al::createSystem(&system);
    system.setOutput(al::OutputType::WavWriterNrt);
    char path[] = "/nonexistent-folder/out.wav";
    EXPECT_EQ(system.init(32, 0, path), Result::FileWrite);
    EXPECT_EQ(system.update(), Result::NotInitialized);
    EXPECT_EQ(system.init(32, 0, nullptr), Result::InvalidParam);
    EXPECT_EQ(system.release(), Result::Ok);
    al::setLogCallback(nullptr, nullptr);
    EXPECT_FALSE(messages.empty());
}

TEST_F(Contract, SeveralSystemsCoexist) {
    al::System a = liveSystem(), b = liveSystem();
    al::Sound sa = userSound(a), sb = userSound(b);
    al::Channel ca;
    EXPECT_EQ(a.playSound(sb, al::ChannelGroup(), false, &ca), Result::InvalidParam)
        << "a sound belongs to its own system";
    EXPECT_EQ(a.playSound(sa, al::ChannelGroup(), false, &ca), Result::Ok);
    EXPECT_EQ(b.release(), Result::Ok);
    bool playing = false;
    EXPECT_EQ(ca.isPlaying(&playing), Result::Ok);
    EXPECT_TRUE(playing);
    EXPECT_EQ(a.release(), Result::Ok);
}

TEST_F(Contract, LengthsInEveryUnit) {
    al::System system = liveSystem();
    // One second of 48 kHz stereo PCM16: the ring the live chain makes.
    al::CreateSoundInfo info;
    info.cbsize = sizeof(info);
    info.length = 48000 * 2 * 2;
    info.numChannels = 2;
    info.defaultFrequency = 48000;
    info.format = al::SoundFormat::Pcm16;
    al::Sound sound;
    ASSERT_EQ(system.createSound(nullptr, al::kLoopNormal | al::kOpenUser, &info, &sound),
              Result::Ok);
    unsigned pcm = 0, ms = 0, bytes = 0;
    sound.getLength(&pcm, al::TimeUnit::Pcm);
    sound.getLength(&ms, al::TimeUnit::Ms);
    sound.getLength(&bytes, al::TimeUnit::PcmBytes);
    EXPECT_EQ(pcm, 48000u);
    EXPECT_EQ(ms, 1000u);
    EXPECT_EQ(bytes, 192000u);
    system.release();
}

}  // namespace

namespace {

al::Result failingRead(al::DspState*, float*, float* out, unsigned length, int, int*) {
    for (unsigned i = 0; i < length; ++i) out[i] = 99.0f;  // must not reach the output
    return Result::Unsupported;
}

TEST(MixerFailures, AreDeferredToUpdateAndTheBlockPassesUnchanged) {
    struct Log {
        std::vector<Result> results;
    } log;
    al::setLogCallback(
        [](Result r, const char*, void* c) { static_cast<Log*>(c)->results.push_back(r); }, &log);
    parlune::audiolib::testing::ScratchDir dir;
    std::vector<short> source(4096);
    for (size_t i = 0; i < source.size(); ++i)
        source[i] = static_cast<short>((i * 37) % 2000 - 1000);
    ASSERT_TRUE(parlune::test::writePcm16(dir.file("in.wav"), source, 16000, 1));
    parlune::audiolib::testing::renderFile(
        dir, dir.file("in.wav"), 0, [&](al::System& system, al::Channel&) {
            al::DspDescription description;
            description.read = failingRead;
            al::DSP unit;
            system.createDSP(&description, &unit);
            al::ChannelGroup master;
            system.getMasterChannelGroup(&master);
            master.addDSP(0, unit);
            EXPECT_EQ(system.update(), Result::Ok);
            EXPECT_EQ(log.results, std::vector<Result>{Result::Unsupported})
                << "reported by the update that mixed";
            system.update();
            system.update();
            system.update();
        });
    al::setLogCallback(nullptr, nullptr);
    EXPECT_EQ(log.results.size(), 4u) << "one report per failing block";
    EXPECT_EQ(parlune::test::readPcm16(dir.file("render-out.wav")), source);
}

// Two mixer-side threads post different failures while the control thread
// reports: every logged message must come with the result posted beside it.
// A mismatch needs a report inside a window of a few instructions, so many
// reports are needed: with 200000, a result stored after its message shows
// up as a dozen mismatches on a busy two-core machine.
// The three threads start together and the control thread reports until it
// has seen enough, so a loaded machine that starts the posters late makes the
// test slower, not wrong.
TEST(MixerFailures, EachReportedMessageCarriesItsOwnResult) {
    constexpr int kReports = 200000;
    struct Log {
        int reports = 0, mismatched = 0;  // written on the reporting thread only
    } log;
    al::setLogCallback(
        [](Result r, const char* message, void* c) {
            auto& log = *static_cast<Log*>(c);
            ++log.reports;
            const bool memory = std::strcmp(message, "memory") == 0;
            if (r != (memory ? Result::Memory : Result::Unsupported)) ++log.mismatched;
        },
        &log);
    parlune::audiolib::detail::DeferredFailure failures;
    std::atomic<int> waiting{3};
    auto startTogether = [&] {
        --waiting;
        while (waiting.load() > 0) std::this_thread::yield();
    };
    std::atomic<bool> done{false};
    auto poster = [&](Result result, const char* message) {
        startTogether();
        while (!done.load(std::memory_order_relaxed)) failures.post(result, message);
    };
    std::thread a(poster, Result::Memory, "memory"), b(poster, Result::Unsupported, "unsupported");
    startTogether();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (log.reports < kReports && std::chrono::steady_clock::now() < deadline)
        for (int i = 0; i < 1000; ++i) failures.report();
    done = true;
    a.join();
    b.join();
    failures.report();
    al::setLogCallback(nullptr, nullptr);
    EXPECT_GE(log.reports, kReports) << "reports seen before the deadline";
    EXPECT_EQ(log.mismatched, 0) << "of " << log.reports << " reports";
}

}  // namespace

// A capture device that goes away silences a looping recording whole, so a
// play cursor running ahead of the writes cannot replay the last second; a
// one-shot recording keeps what it holds. Neither moves its position.
TEST(RecordTargetLoss, SilencesALoopButKeepsAOneShotRecording) {
    namespace d = parlune::audiolib::detail;
    for (const bool loop : {true, false}) {
        auto sound = std::make_shared<d::SoundObject>();
        sound->channels = 2;
        sound->frames = 100;
        sound->mode = loop ? al::kLoopNormal : al::kModeDefault;
        sound->ringData.reset(new std::atomic<int16_t>[200]);
        for (int i = 0; i < 200; ++i) sound->ringData[i].store(0);
        d::RecordTarget target(sound, loop);
        const std::vector<float> tone(2 * 70, 0.5f);
        ASSERT_TRUE(target.write(tone.data(), 70));
        target.silenceLoop();
        EXPECT_EQ(target.position(), 70u) << (loop ? "loop" : "one-shot");
        int loud = 0;
        for (int i = 0; i < 200; ++i) loud += sound->ringData[i].load() != 0;
        EXPECT_EQ(loud, loop ? 0 : 140) << (loop ? "loop" : "one-shot");
    }
}
