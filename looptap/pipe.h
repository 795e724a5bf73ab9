// The pass-through: a capture object, a playback object and a ring of twelve
// blocks between them. The capture thread fills the ring and the playback
// thread empties it through the lock-free single-producer/single-consumer
// ring, so neither ever waits for the other.
#pragma once

#include <atomic>
#include <memory>
#include <vector>

#include "looptap/sound.h"
#include "platform/base/spsc_ring.h"

namespace parlune::looptap {

// Thread contract: built, reset, started and destroyed on the caller's
// thread, ResetRing while the pipe is not running. InputCallback runs on the
// capture thread only, OutputCallback on the playback thread only (the
// playback side's Start also calls it on the caller's thread, before the pipe
// runs, when it touches nothing): the ring's one producer and one consumer.
// Both callbacks sleep, on their own thread, as said below.
class CPipe {
public:
    static constexpr int kSlotsInUse = 12;
    // Playback takes no data before this many blocks have been captured...
    static constexpr int kBlocksBeforePlayback = 6;
    // ...but waits at most this long for them; then it plays silence and goes
    // on without waiting, so a capture side that never delivers cannot hold
    // the playback thread.
    static constexpr int kFirstBlocksWaitMs = 250;
    // Once playing, the pipe holds this many blocks between capture and the
    // playback device (the ring and the output's queued buffers): when the
    // fewest it held over a second of playback is above it, the surplus is
    // dropped from the ring's oldest end at once. Otherwise how the two sides
    // started (or a capture side that delivered in a burst) would set the
    // delay for the whole run. Six leaves, beside the output's other five
    // buffers, one block in the ring when playback comes for the next: the
    // least that does not run dry while both sides keep pace.
    static constexpr int kHeldBlocksTarget = kBlocksBeforePlayback;
    static constexpr int kHoldWindowMs = 1000;
    static constexpr int kRetryMs = 6;
    static constexpr int kFirstBlocksPollMs = 2;

    // One block of the ring: room for a playback buffer, and the bytes used.
    struct Block {
        std::vector<char> bytes;
        int size = 0;
    };

    CPipe();
    ~CPipe();
    CPipe(const CPipe&) = delete;
    CPipe& operator=(const CPipe&) = delete;

    // A new, empty ring of m_slotCount blocks sized for the playback side
    // (allocates; "Out of memory!" and no ring when that fails).
    void ResetRing();
    // ResetRing, then starts capture.
    void StartInputSide();

    // 1 if the captured block was stored or not wanted, 0 if dropped: the
    // ring was full, and the capture thread has slept kRetryMs.
    static int InputCallback(CBuffer* buffer, void* pipe);
    // 1 if the block was filled from the ring, 0 otherwise (left as it was,
    // so it is played again; the playback thread has slept kRetryMs). The
    // first call of a run first waits, polling every kFirstBlocksPollMs, for
    // kBlocksBeforePlayback captured blocks, at most kFirstBlocksWaitMs.
    // Later calls hold the fill (kHeldBlocksTarget).
    static int OutputCallback(CBuffer* buffer, void* pipe);

    CSoundOut m_out;
    CSoundIn m_in;
    std::unique_ptr<base::SpscRing<Block>> m_ring;  // none before ResetRing
    int m_slotCount = kSlotsInUse;
    std::atomic<int> m_written{0};   // blocks stored since ResetRing
    std::atomic<int> m_dropped{0};   // blocks dropped to hold the fill, since ResetRing
    std::atomic<int> m_replayed{0};  // blocks played again on an empty ring, since ResetRing
    std::atomic<bool> m_running{false};
    int m_captureDevice = -1;
    int m_playbackDevice = -1;

private:
    // Playback thread, real-time safe: at the end of each window, drops what
    // the pipe held above kHeldBlocksTarget all through it.
    void HoldFill();

    std::atomic<bool> m_primed{false};  // the first-blocks wait is over
    // The fill window: the playback thread's alone once the pipe runs.
    int m_windowBlocks = 1;  // blocks played in kHoldWindowMs
    int m_blocksInWindow = 0;
    int m_fewestHeld = 0;
};

}  // namespace parlune::looptap
