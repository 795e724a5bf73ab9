// Latency bookkeeping of one live-chain run: how far playback trails the
// recording in the record ring, and which playback rate keeps that distance
// near its target. Plain arithmetic, kept apart from the audio library so the
// numbers can be checked on their own.
//
// Thread contract: owned and used by one live-chain run's thread only.
#pragma once

#include <cstdint>

namespace parlune::engine {

class LatencyControl {
public:
    // nativeRate: the record driver's rate in Hz (0 when the driver is unusable).
    explicit LatencyControl(int32_t nativeRate);

    // Ring length in samples, known once the record sound exists.
    void setSoundLength(uint32_t length) { soundLength_ = length; }

    // Takes the recording position of this pass; returns the samples recorded
    // since the previous pass (the ring's wrap added back).
    uint32_t advanceRecording(uint32_t recordPos);

    // Enough is buffered to start playback.
    bool readyToPlay() const { return samplesRecorded_ >= adjustedLatency_; }

    // Adapts the target to the driver's step and smooths the measured
    // distance to playPos; returns the playback rate to set in Hz.
    int32_t correct(uint32_t recordDelta, uint32_t playPos);

    // Set by the last correct() when playback had overtaken the recording
    // (a capture stall) or fallen half a ring behind: read across the ring's
    // wrap, such a distance would push the rate the wrong way for many
    // seconds. Playback belongs at resyncPosition(), the target behind the
    // recording; the smoothed measure restarts from the target.
    bool needsResync() const { return needsResync_; }
    uint32_t resyncPosition() const { return resyncPosition_; }

    int32_t nativeRate() const { return nativeRate_; }
    uint32_t desiredLatency() const { return desiredLatency_; }
    uint32_t driftThreshold() const { return driftThreshold_; }
    uint32_t adjustedLatency() const { return adjustedLatency_; }
    uint32_t minRecordDelta() const { return minRecordDelta_; }
    uint32_t soundLength() const { return soundLength_; }
    uint32_t recordPos() const { return recordPos_; }
    uint32_t samplesRecorded() const { return samplesRecorded_; }
    uint32_t lastLatency() const { return lastLatency_; }
    float actualLatency() const { return actualLatency_; }
    int32_t slowRate() const { return nativeRate_ - nativeRate_ / 20; }
    int32_t fastRate() const { return nativeRate_ + nativeRate_ / 20; }

private:
    int32_t nativeRate_;
    uint32_t desiredLatency_;
    uint32_t driftThreshold_;
    uint32_t adjustedLatency_;
    uint32_t minRecordDelta_ = 0xFFFFFFFFu;
    uint32_t soundLength_ = 0;
    uint32_t recordPos_ = 0;
    uint32_t lastRecordPos_ = 0;
    uint32_t samplesRecorded_ = 0;
    uint32_t lastLatency_ = 0;
    float actualLatency_ = 0.0f;
    bool needsResync_ = false;
    uint32_t resyncPosition_ = 0;
};

}  // namespace parlune::engine
