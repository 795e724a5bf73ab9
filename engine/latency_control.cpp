#include "engine/latency_control.h"

namespace parlune::engine {

LatencyControl::LatencyControl(int32_t nativeRate)
    : nativeRate_(nativeRate),
      desiredLatency_(static_cast<uint32_t>(nativeRate * 50 / 1000)),
      driftThreshold_(desiredLatency_ / 2),
      adjustedLatency_(desiredLatency_) {}

uint32_t LatencyControl::advanceRecording(uint32_t recordPos) {
    recordPos_ = recordPos;
    uint32_t delta = recordPos - lastRecordPos_;
    if (recordPos < lastRecordPos_) delta += soundLength_;  // the ring wrapped
    lastRecordPos_ = recordPos;
    samplesRecorded_ += delta;
    return delta;
}

int32_t LatencyControl::correct(uint32_t recordDelta, uint32_t playPos) {
    if (recordDelta < minRecordDelta_) {
        minRecordDelta_ = recordDelta;
        // A driver that hands over more than the target at once raises the
        // target to one of its steps; less than that could never be held.
        adjustedLatency_ = recordDelta <= desiredLatency_ ? desiredLatency_ : recordDelta;
    }
    uint32_t latency = recordPos_ - playPos;
    if (recordPos_ < playPos) latency += soundLength_;
    lastLatency_ = latency;

    needsResync_ = soundLength_ > 0 && latency > soundLength_ / 2;
    if (needsResync_) {
        const uint32_t behind = adjustedLatency_ % soundLength_;
        resyncPosition_ = (recordPos_ + soundLength_ - behind) % soundLength_;
        actualLatency_ = static_cast<float>(adjustedLatency_);
        return nativeRate_;
    }
    actualLatency_ =
        0.97f * actualLatency_ + 0.03f * static_cast<float>(static_cast<int32_t>(latency));

    const float low = static_cast<float>(adjustedLatency_ - driftThreshold_);
    const float high = static_cast<float>(adjustedLatency_ + driftThreshold_);
    if (low > actualLatency_) return slowRate();   // playback is catching up
    if (actualLatency_ > high) return fastRate();  // playback falls behind
    return nativeRate_;
}

}  // namespace parlune::engine
