// The pass-through: a capture object, a playback object and a ring of twelve
// blocks between them. The lock guards the slots, both indices and the
// written count, and is held only for one block copy.
#pragma once

#include <atomic>
#include <mutex>

#include "looptap/sound.h"

namespace parlune::looptap {

// Thread contract: built, started and destroyed on the caller's thread; InputCallback on the capture thread, OutputCallback on the playback thread.
class CPipe {
public:
    static constexpr int kMaxSlots = 60;
    static constexpr int kSlotsInUse = 12;
    // Playback takes no data before this many blocks have been captured...
    static constexpr int kBlocksBeforePlayback = 6;
    // ...but waits at most this long for them; then it plays silence and goes
    // on without waiting, so a capture side that never delivers cannot hold
    // the playback thread.
    static constexpr int kFirstBlocksWaitMs = 250;
    static constexpr int kRetryMs = 6;
    static constexpr int kFirstBlocksPollMs = 2;

    CPipe();
    ~CPipe();
    CPipe(const CPipe&) = delete;
    CPipe& operator=(const CPipe&) = delete;

    // Empties the ring and sizes its twelve blocks for the playback side.
    void ResetRing();
    // ResetRing, then starts capture.
    void StartInputSide();

    // 1 if the captured block was stored or not wanted, 0 if dropped (ring full).
    static int InputCallback(CBuffer* buffer, void* pipe);
    // 1 if the block was filled from the ring, 0 otherwise (left as it was).
    static int OutputCallback(CBuffer* buffer, void* pipe);

    CSoundOut m_out;
    CSoundIn m_in;
    CBuffer* m_ring[kMaxSlots] = {};
    int m_slotCount = kSlotsInUse;
    std::atomic<int> m_written{0};
    int m_writeIndex = 0;
    int m_readIndex = 0;
    std::atomic<bool> m_running{false};
    std::mutex m_lock;
    int m_captureDevice = -1;
    int m_playbackDevice = -1;

private:
    void FreeRing();

    int m_slotBytes = 0;
    std::atomic<bool> m_primed{false};  // the first-blocks wait is over
};

}  // namespace parlune::looptap
