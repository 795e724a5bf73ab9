// RunFmodFunction: the live chain from the selected microphone through the
// morph and the effects to the default output, holding playback about 50 ms
// behind the recording.
#include "app/core/properties.h"
#include "engine/effects_chain.h"
#include "engine/engine.h"
#include "engine/engine_internal.h"
#include "engine/latency_control.h"

#include <QDebug>
#include <QThread>

#include <atomic>

namespace parlune::engine {

namespace al = audiolib;

namespace {

std::atomic<SleepFunction> sleepOverride{nullptr};

// Published by the run that holds the audio; read by tools and tests.
struct SharedStatus {
    std::atomic<int> phase{static_cast<int>(LiveChainStatus::Phase::Idle)};
    std::atomic<uint64_t> runs{0};
    std::atomic<int32_t> micDevice{0}, nativeRate{0}, nativeChannels{0}, rate{0};
    std::atomic<uint32_t> desiredLatency{0}, driftThreshold{0}, adjustedLatency{0}, soundLength{0},
        samplesRecorded{0};
    std::atomic<float> actualLatency{0.0f};
    std::atomic<uint64_t> passes{0}, slowPasses{0}, fastPasses{0}, underruns{0}, deviceUnderruns{0};
} status;

void setPhase(LiveChainStatus::Phase phase) { status.phase = static_cast<int>(phase); }

void publish(const LatencyControl& control) {
    status.desiredLatency = control.desiredLatency();
    status.driftThreshold = control.driftThreshold();
    status.adjustedLatency = control.adjustedLatency();
    status.soundLength = control.soundLength();
    status.samplesRecorded = control.samplesRecorded();
    status.actualLatency = control.actualLatency();
}

void resetStatus(int micDevice) {
    status.micDevice = micDevice;
    status.nativeRate = 0;
    status.nativeChannels = 0;
    status.rate = 0;
    status.passes = 0;
    status.slowPasses = 0;
    status.fastPasses = 0;
    status.underruns = 0;
    status.deviceUnderruns = 0;
    publish(LatencyControl(0));
}

}  // namespace

void setSleepForTests(SleepFunction sleep) { sleepOverride = sleep; }

void logAudioLibrary() {
    al::setLogCallback(
        [](al::Result result, const char* message, void*) {
            if (result == al::Result::Ok)
                qDebug().noquote() << "audio:" << message;
            else
                qDebug().noquote() << "audio:" << message << "(" << al::resultString(result) << ")";
        },
        nullptr);
}

void engineSleep(int milliseconds) {
    if (SleepFunction sleep = sleepOverride.load())
        sleep(milliseconds);
    else
        QThread::msleep(static_cast<unsigned long>(milliseconds));
}

RunGate& liveRunGate() {
    static RunGate gate;
    return gate;
}

LiveChainStatus liveChainStatus() {
    LiveChainStatus s;
    s.phase = static_cast<LiveChainStatus::Phase>(status.phase.load());
    s.runs = status.runs;
    s.activeRuns = liveRunGate().activeRuns();
    s.micDevice = status.micDevice;
    s.nativeRate = status.nativeRate;
    s.nativeChannels = status.nativeChannels;
    s.desiredLatency = status.desiredLatency;
    s.driftThreshold = status.driftThreshold;
    s.adjustedLatency = status.adjustedLatency;
    s.soundLength = status.soundLength;
    s.samplesRecorded = status.samplesRecorded;
    s.actualLatency = status.actualLatency;
    s.rate = status.rate;
    s.passes = status.passes;
    s.slowPasses = status.slowPasses;
    s.fastPasses = status.fastPasses;
    s.underruns = status.underruns;
    s.deviceUnderruns = status.deviceUnderruns;
    return s;
}

bool waitForLiveChainIdle(int timeoutMs) { return liveRunGate().waitIdle(timeoutMs); }

void RunFmodFunction() {
    qDebug() << "RunFmodFunction starts.................";
    RunGate& gate = liveRunGate();
    const uint64_t generation = gate.enter();
    if (generation == 0) {  // a newer run was started while this one waited
        qDebug() << "RunFmodFunction stops.................";
        return;
    }
    logAudioLibrary();
    const int micDevice = app::properties().get(app::prop::micDevice);
    resetStatus(micDevice);
    setPhase(LiveChainStatus::Phase::SettingUp);
    ++status.runs;  // last: whoever sees the new count sees this run's status

    al::System system;
    al::createSystem(&system);
    system.setSoftwareFormat(16000, al::SpeakerMode::Mono, 1);
    system.setDriver(0);
    const al::Result initResult = system.init(100, al::kInitNormal, nullptr);
    if (initResult != al::Result::Ok) {
        qDebug().noquote() << QString("RunFmodFunction: the output cannot be opened (%1)")
                                  .arg(al::resultString(initResult));
    }

    int nativeRate = 0;
    int nativeChannels = 0;
    const al::Result driverResult = system.getRecordDriverInfo(
        micDevice, nullptr, 0, nullptr, &nativeRate, nullptr, &nativeChannels, nullptr);
    if (driverResult != al::Result::Ok) {
        // Nothing will be captured; the run still loops until it is stopped.
        qDebug().noquote() << QString(
                                  "RunFmodFunction: record driver %1 is not available (%2); "
                                  "no capture until the live chain is restarted")
                                  .arg(micDevice)
                                  .arg(al::resultString(driverResult));
    }
    status.nativeRate = nativeRate;
    status.nativeChannels = nativeChannels;

    al::CreateSoundInfo info;
    info.cbsize = sizeof(al::CreateSoundInfo);
    info.length = static_cast<unsigned>(nativeRate * nativeChannels * 2);  // one second of PCM16
    info.numChannels = nativeChannels;
    info.defaultFrequency = nativeRate;
    info.format = al::SoundFormat::Pcm16;
    al::Sound recordSound;
    system.createSound(nullptr, al::kLoopNormal | al::kOpenUser, &info, &recordSound);
    system.recordStart(micDevice, recordSound, true);

    LatencyControl control(nativeRate);
    unsigned soundLength = 0;
    recordSound.getLength(&soundLength, al::TimeUnit::Pcm);
    control.setSoundLength(soundLength);
    publish(control);

    EffectsChain chain = buildEffectsChain(system, MorphState::Shared);
    setPhase(LiveChainStatus::Phase::Filling);

    al::Channel channel;
    bool running = true;
    while (running) {
        chain.morph.setBypass(app::properties().get(app::prop::isDspBipassed));
        applyEffectFlags(chain, readEffectFlags());
        system.setReverbProperties(0, &reverbPreset(app::properties().get(app::prop::isReverb)));
        system.update();

        bool recording = false;
        system.isRecording(micDevice, &recording);
        unsigned recordPos = control.recordPos();
        if (recording) system.getRecordPosition(micDevice, &recordPos);
        const uint32_t recordDelta = control.advanceRecording(recordPos);

        if (control.readyToPlay() && !channel) {
            system.playSound(recordSound, al::ChannelGroup(), false, &channel);
            if (channel) setPhase(LiveChainStatus::Phase::Playing);
        }

        if (channel && recordDelta != 0) {
            unsigned playPos = 0;
            channel.getPosition(&playPos, al::TimeUnit::Pcm);
            const int32_t rate = control.correct(recordDelta, playPos);
            if (control.needsResync()) {
                channel.setPosition(control.resyncPosition(), al::TimeUnit::Pcm);
                ++status.underruns;
            }
            channel.setFrequency(static_cast<float>(rate));
            status.rate = rate;
            if (rate < nativeRate) ++status.slowPasses;
            if (rate > nativeRate) ++status.fastPasses;
        }
        publish(control);
        uint64_t deviceUnderruns = 0;
        system.getUnderrunCount(&deviceUnderruns);
        status.deviceUnderruns = deviceUnderruns;
        ++status.passes;

        engineSleep(50);
        running = app::properties().get(app::prop::isRunning) && gate.isCurrent(generation);
    }

    recordSound.release();
    system.release();
    setPhase(LiveChainStatus::Phase::Ended);
    // The run's counters for whoever reads the program's output (the soak):
    // they are gone with the process otherwise.
    qDebug().noquote() << QString(
                              "Live chain run: %1 passes, %2 slowed, %3 hastened, %4 underruns, "
                              "%5 device underruns")
                              .arg(status.passes.load())
                              .arg(status.slowPasses.load())
                              .arg(status.fastPasses.load())
                              .arg(status.underruns.load())
                              .arg(status.deviceUnderruns.load());
    qDebug() << "RunFmodFunction stops.................";
    gate.leave();
}

}  // namespace parlune::engine
