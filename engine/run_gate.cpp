#include "engine/run_gate.h"

#include <chrono>

namespace parlune::engine {

uint64_t RunGate::enter() {
    std::unique_lock<std::mutex> lock(mutex_);
    const uint64_t mine = ++generation_;
    changed_.notify_all();  // older waiters learn that they are retired
    changed_.wait(lock, [&] { return active_ == 0 || generation_.load() != mine; });
    if (generation_.load() != mine) return 0;
    ++active_;
    return mine;
}

void RunGate::leave() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (active_ > 0) --active_;
    changed_.notify_all();
}

bool RunGate::waitIdle(int timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [&] { return active_ == 0; });
}

int RunGate::activeRuns() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return active_;
}

}  // namespace parlune::engine
