// runConvert, runPlay and runSave: the recording turned into 16 kHz mono,
// heard through the morph and the effects, and exported as a WAV file. The
// conversion and the export read their source as they render (a stream
// sound), so their memory does not grow with the recording's length.
#include "app/core/properties.h"
#include "engine/effects_chain.h"
#include "engine/engine.h"
#include "engine/engine_internal.h"

#include <QDebug>

namespace parlune::engine {

namespace al = audiolib;

namespace {

constexpr int kMixerBlockMs = 64;  // 1024 frames at 16 kHz
constexpr int kPlayPassMs = 42;
constexpr int kPlayPassDivisorMs = 36;  // playback lasts about 7/6 of the recording
// The play button stops the live chain and starts playback at once; the live
// run lets go of the shared morph state at the end of its pass.
constexpr int kLiveChainReleaseWaitMs = 1000;

void logWriteFailure(const char* routine, const QByteArray& outputPath, al::Result result) {
    qDebug().noquote() << QString("%1: cannot write \"%2\" (%3)")
                              .arg(routine, QString::fromUtf8(outputPath),
                                   al::resultString(result));
}

// A non-real-time system writing 16 kHz mono into `outputPath`; false (and
// logged, the system released) when the file cannot be written.
bool initWavWriter(al::System& system, const QByteArray& outputPath, const char* routine) {
    al::createSystem(&system);
    system.setOutput(al::OutputType::WavWriterNrt);
    system.setSoftwareFormat(16000, al::SpeakerMode::Mono, 1);
    const al::Result result =
        system.init(32, al::kInitNormal, const_cast<char*>(outputPath.constData()));
    if (result != al::Result::Ok) {
        logWriteFailure(routine, outputPath, result);
        system.release();
        return false;
    }
    return true;
}

unsigned lengthMs(const al::Sound& sound) {
    unsigned length = 0;
    sound.getLength(&length, al::TimeUnit::Ms);
    return length;
}

// Closes the system, which completes the output file; false when it was not.
bool releaseChainAndSystem(al::System& system, al::Sound& sound, EffectsChain& chain) {
    sound.release();
    chain.master.removeDSP(chain.morph);
    chain.morph.release();
    const al::Result closed = system.close();
    system.release();
    return closed == al::Result::Ok;
}

// Renders `blocks` mixer blocks into the WAV writer, stopping at the first
// block that cannot be written; false (logged) then.
bool renderBlocks(al::System& system, unsigned blocks, const QByteArray& target,
                  const char* routine) {
    for (unsigned i = 0; i < blocks; ++i) {
        const al::Result result = system.update();
        if (result != al::Result::Ok) {
            logWriteFailure(routine, target, result);
            return false;
        }
    }
    return true;
}

}  // namespace

bool runConvert() {
    const QByteArray source = app::properties().get(app::prop::applicationPathREC).toUtf8();
    const QByteArray target = app::properties().get(app::prop::applicationPathREC16khz).toUtf8();
    al::System system;
    if (!initWavWriter(system, target, "runConvert")) return false;
    al::Sound sound;
    system.createSound(source.constData(), al::kCreateStream, nullptr, &sound);
    const unsigned blocks = lengthMs(sound) / kMixerBlockMs;
    al::Channel channel;
    system.playSound(sound, al::ChannelGroup(), false, &channel);
    bool written = renderBlocks(system, blocks, target, "runConvert");
    sound.release();
    if (system.close() != al::Result::Ok && written) {
        logWriteFailure("runConvert", target, al::Result::FileWrite);
        written = false;
    }
    system.release();
    return written;
}

void runPlay() {
    qDebug() << "runPlay starts.................";
    const QByteArray source = app::properties().get(app::prop::applicationPathREC16khz).toUtf8();
    const QString speaker = app::properties().get(app::prop::speakerPlayDevice);

    logAudioLibrary();
    al::System system;
    al::createSystem(&system);
    system.setSoftwareFormat(16000, al::SpeakerMode::Mono, 1);
    // The driver is picked before init: init opens the output device.
    int drivers = 0;
    system.getNumDrivers(&drivers);
    for (int i = 0; i < drivers; ++i) {
        char name[256] = {};
        system.getDriverInfo(i, name, sizeof name, nullptr, nullptr, nullptr, nullptr);
        if (QString::fromUtf8(name) == speaker) system.setDriver(i);  // the last match wins
    }
    // Playback and the live chain share one morph state, which only one mixer
    // may run at a time: playback waits for the stopped live run to release it.
    // A live run that keeps it longer (a pass stuck on a stalled server) keeps
    // it to itself, and playback morphs on a private state from the initial
    // one: playback starts within the second instead of waiting behind a live
    // run that may never end, and loses only the voice history of the run.
    const bool liveChainIdle = waitForLiveChainIdle(kLiveChainReleaseWaitMs);
    if (!liveChainIdle)
        qDebug()
            << "runPlay: the live chain is still running; playback uses a voice state of its own";
    system.init(32, al::kInitNormal, nullptr);

    al::Sound sound;
    system.createSound(source.constData(), al::kLoopNormal, nullptr, &sound);
    const unsigned passes = lengthMs(sound) / kPlayPassDivisorMs;

    EffectsChain chain =
        buildEffectsChain(system, liveChainIdle ? MorphState::Shared : MorphState::FreshPrivate);
    chain.morph.setBypass(false);
    applyEffectFlags(chain, readEffectFlags());

    al::Channel channel;
    system.playSound(sound, al::ChannelGroup(), false, &channel);
    for (unsigned i = 0; i < passes; ++i) {
        engineSleep(kPlayPassMs);
        system.update();
    }
    releaseChainAndSystem(system, sound, chain);  // no file: nothing to complete
}

bool runSave() {
    qDebug() << "runSave starts.................";
    const QByteArray target = app::properties().get(app::prop::fname).toUtf8();
    const QByteArray source = app::properties().get(app::prop::applicationPathREC16khz).toUtf8();
    al::System system;
    if (!initWavWriter(system, target, "runSave")) return false;
    al::Sound sound;
    system.createSound(source.constData(), al::kCreateStream, nullptr, &sound);
    const unsigned blocks = lengthMs(sound) / kMixerBlockMs;

    EffectsChain chain = buildEffectsChain(system, MorphState::FreshPrivate);
    chain.morph.setBypass(false);
    applyEffectFlags(chain, readEffectFlags());

    al::Channel channel;
    system.playSound(sound, al::ChannelGroup(), false, &channel);
    bool written = renderBlocks(system, blocks, target, "runSave");
    if (!releaseChainAndSystem(system, sound, chain) && written) {
        logWriteFailure("runSave", target, al::Result::FileWrite);
        written = false;
    }
    return written;
}

}  // namespace parlune::engine
