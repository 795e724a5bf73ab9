// The engine runs: the live chain from microphone to output, the conversion,
// playback and export of a recording, and the two device lists. Every run
// owns a private audio-library system from creation to release and reads the
// application properties only.
//
// Thread contract: RunFmodFunction, runPlay and runSave run on pool threads
// (QtConcurrent::run); runConvert and the device lists on any thread, usually
// the GUI thread. liveChainStatus() and waitForLiveChainIdle() from any thread.
#pragma once

#include <QStringList>

#include <cstdint>

namespace parlune::engine {

// One run of the live chain; loops until `isRunning` reads false at the end
// of a pass, then releases its system. Runs are one at a time: a run started
// while an older one still holds its audio (a restart whose pause was shorter
// than a slow pass) retires the older one at the end of its pass and opens
// its own audio only once the older one has released its system.
void RunFmodFunction();

// `applicationPathREC` converted to 16 kHz mono at `applicationPathREC16khz`.
// False (and logged) when that file could not be written completely; it is
// written aside and replaces an older one only when it was.
bool runConvert();
// `applicationPathREC16khz` through the morph and the effects to the output
// named by `speakerPlayDevice` (driver 0 when no name matches).
void runPlay();
// `applicationPathREC16khz` through the morph and the effects into `fname`.
// The morph starts from its initial state at every export, so the same file
// and settings always give the same output. False (and logged) when `fname`
// could not be written completely (a full disk): an older file there stays.
bool runSave();

// Names of the record and playback drivers, index = driver index, read with a
// temporary system each time. Driver names are UTF-8.
QStringList recordDriverNames();
QStringList playbackDriverNames();

// What the current (or last) live-chain run is doing, for tools and tests.
struct LiveChainStatus {
    enum class Phase { Idle, SettingUp, Filling, Playing, Ended };
    Phase phase = Phase::Idle;
    uint64_t runs = 0;   // live-chain runs started so far
    int activeRuns = 0;  // runs currently holding their audio
    int32_t micDevice = 0;
    int32_t nativeRate = 0;
    int32_t nativeChannels = 0;
    uint32_t desiredLatency = 0;  // samples at nativeRate
    uint32_t driftThreshold = 0;
    uint32_t adjustedLatency = 0;
    uint32_t soundLength = 0;  // ring length in samples
    uint32_t samplesRecorded = 0;
    float actualLatency = 0.0f;  // smoothed, samples
    int32_t rate = 0;            // playback rate last set, Hz
    uint64_t passes = 0;
    uint64_t slowPasses = 0;       // passes that set the slowed rate
    uint64_t fastPasses = 0;       // passes that set the hastened rate
    uint64_t underruns = 0;        // playback overtook the recording; each was put back on target
    uint64_t deviceUnderruns = 0;  // the output device ran out of mixed audio
};
LiveChainStatus liveChainStatus();

// Waits until no live-chain run holds its audio; true when none does.
bool waitForLiveChainIdle(int timeoutMs);

}  // namespace parlune::engine
