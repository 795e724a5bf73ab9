// One running copy per user: an exclusive lock on a file in the per-user
// runtime folder, held for the life of the object. The lock goes with the
// process, so a crashed copy never blocks the next start.
//
// Thread contract: construct and destroy on one thread; no shared state.
#pragma once

#include <string>

namespace parlune::app {

class SingleInstance {
public:
    // Takes the lock on `lockPath`, creating the file when needed.
    explicit SingleInstance(const std::string& lockPath);
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // False when another process holds the lock. When the lock file cannot
    // be made at all the answer is true: better a second copy than none.
    bool acquired() const { return acquired_; }

    // "parlune.lock" in the per-user runtime folder ($XDG_RUNTIME_DIR, else
    // ~/.cache); empty when neither can be had.
    static std::string defaultLockPath();

private:
    int fd_ = -1;
    bool acquired_ = true;
};

}  // namespace parlune::app
