// Keeps live-chain runs one at a time. Callers start a run and stop it only
// through the `isRunning` property; a restart whose pause is shorter than a
// slow pass would otherwise leave the old run going beside the new one. Each
// run takes a generation when it starts: a newer run retires the older one at
// the end of its pass, and does not open its audio until the older one has
// released its system.
//
// Thread contract: all members may be called from any thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace parlune::engine {

class RunGate {
public:
    // Takes the next generation and waits until no older run holds the
    // audio. Returns 0 when a still newer run arrived meanwhile: the caller
    // then does nothing.
    uint64_t enter();
    // False once a newer run has entered.
    bool isCurrent(uint64_t generation) const { return generation_.load() == generation; }
    // The run has released its audio.
    void leave();
    // Waits up to timeoutMs for every run to have left; true if none is active.
    bool waitIdle(int timeoutMs);
    int activeRuns() const;

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::atomic<uint64_t> generation_{0};
    int active_ = 0;
};

}  // namespace parlune::engine
