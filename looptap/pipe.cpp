#include "looptap/pipe.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <thread>

namespace parlune::looptap {
namespace {
void pause(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
}  // namespace

CPipe::CPipe() {
    m_out.SetCallback(&CPipe::OutputCallback, this);
    m_in.SetCallback(&CPipe::InputCallback, this);
}

CPipe::~CPipe() {
    // Cleared first so that a playback handler still waiting for the first
    // blocks lets go at once.
    m_running = false;
    if (m_out.IsRunning()) m_out.Stop();
    m_out.postMessage(kMsgEndThread);
    if (m_in.IsRunning()) m_in.Stop();
    m_in.postMessage(kMsgEndThread);
    m_ring.reset();
}

void CPipe::ResetRing() {
    m_ring.reset();
    try {
        m_ring = std::make_unique<base::SpscRing<Block>>(
            static_cast<size_t>(m_slotCount),
            Block{std::vector<char>(static_cast<size_t>(m_out.GetBufferBytes())), 0});
    } catch (const std::bad_alloc&) {
        wave::messageBox("Out of memory!");
    }
    m_written = 0;
    m_dropped = 0;
    m_replayed = 0;
    m_primed = false;
    const wave::Format& format = m_out.GetFormat();
    m_windowBlocks = std::max(1, static_cast<int>(int64_t{format.samplesPerSec} * kHoldWindowMs /
                                                  1000 / std::max(1, m_out.GetBufferFrames())));
    m_blocksInWindow = 0;
    m_fewestHeld = std::numeric_limits<int>::max();
}

void CPipe::HoldFill() {
    const int inRing = static_cast<int>(m_ring->size());
    m_fewestHeld = std::min(m_fewestHeld, inRing + m_out.GetQueued());
    if (++m_blocksInWindow < m_windowBlocks) return;
    // What it never went below for a whole second is delay and nothing else:
    // it goes at once, short of one block for this call to play.
    const int surplus = std::min(m_fewestHeld - kHeldBlocksTarget, inRing - 1);
    for (int k = 0; k < surplus; ++k) m_ring->popFront();
    if (surplus > 0) m_dropped += surplus;
    m_blocksInWindow = 0;
    m_fewestHeld = std::numeric_limits<int>::max();
}

void CPipe::StartInputSide() {
    ResetRing();
    m_in.Start(nullptr);
}

int CPipe::InputCallback(CBuffer* buffer, void* user) {
    auto* pipe = static_cast<CPipe*>(user);
    if (!pipe->m_running || !pipe->m_ring) return 1;
    Block* slot = pipe->m_ring->reserve();
    if (!slot) {
        pause(kRetryMs);
        return 0;
    }
    const int bytes = std::min(buffer->size, static_cast<int>(slot->bytes.size()));
    std::memcpy(slot->bytes.data(), buffer->data, static_cast<size_t>(bytes));
    slot->size = bytes;
    pipe->m_ring->commit();
    ++pipe->m_written;
    return 1;
}

int CPipe::OutputCallback(CBuffer* buffer, void* user) {
    auto* pipe = static_cast<CPipe*>(user);
    if (!pipe->m_running) return 0;
    if (!pipe->m_primed) {
        const auto giveUp =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(kFirstBlocksWaitMs);
        while (pipe->m_written < kBlocksBeforePlayback) {
            if (!pipe->m_running) return 0;
            if (std::chrono::steady_clock::now() >= giveUp) {
                std::memset(buffer->data, 0, static_cast<size_t>(buffer->size));
                break;
            }
            pause(kFirstBlocksPollMs);
        }
        pipe->m_primed = true;
    }
    if (!pipe->m_ring) {
        pause(kRetryMs);
        return 0;
    }
    pipe->HoldFill();
    const Block* slot = pipe->m_ring->front();
    if (slot) {
        const int bytes = std::min(slot->size, buffer->size);
        std::memcpy(buffer->data, slot->bytes.data(), static_cast<size_t>(bytes));
        buffer->size = bytes;
        pipe->m_ring->popFront();
        return 1;
    }
    ++pipe->m_replayed;
    pause(kRetryMs);
    return 0;
}

}  // namespace parlune::looptap
