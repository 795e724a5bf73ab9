#include "looptap/pipe.h"

#include <algorithm>
#include <chrono>
#include <cstring>
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
    FreeRing();
}

void CPipe::FreeRing() {
    std::lock_guard<std::mutex> guard(m_lock);
    for (CBuffer*& slot : m_ring) {
        delete slot;
        slot = nullptr;
    }
}

void CPipe::ResetRing() {
    FreeRing();
    std::lock_guard<std::mutex> guard(m_lock);
    m_writeIndex = 0;
    m_slotBytes = m_out.GetBufferBytes();
    for (int i = 0; i < m_slotCount; ++i) m_ring[i] = new CBuffer(m_slotBytes, true);
    m_written = 0;
    m_primed = false;
}

void CPipe::StartInputSide() {
    ResetRing();
    m_in.Start(nullptr);
}

int CPipe::InputCallback(CBuffer* buffer, void* user) {
    auto* pipe = static_cast<CPipe*>(user);
    if (!pipe->m_running) return 1;
    std::unique_lock<std::mutex> guard(pipe->m_lock);
    CBuffer* slot = pipe->m_ring[pipe->m_writeIndex];
    if (!slot || !slot->data) return 1;
    if (slot->full) {
        guard.unlock();
        pause(kRetryMs);
        return 0;
    }
    const int bytes = std::min(buffer->size, pipe->m_slotBytes);
    std::memcpy(slot->data, buffer->data, static_cast<size_t>(bytes));
    slot->size = bytes;
    slot->full = 1;
    pipe->m_writeIndex = (pipe->m_writeIndex + 1) % pipe->m_slotCount;
    ++pipe->m_written;
    return 1;
}

int CPipe::OutputCallback(CBuffer* buffer, void* user) {
    auto* pipe = static_cast<CPipe*>(user);
    if (!pipe->m_running) return 0;
    if (!pipe->m_primed) {
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::milliseconds(kFirstBlocksWaitMs);
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
    std::unique_lock<std::mutex> guard(pipe->m_lock);
    CBuffer* slot = pipe->m_ring[pipe->m_readIndex];
    if (slot && slot->full) {
        const int bytes = std::min(slot->size, buffer->size);
        std::memcpy(buffer->data, slot->data, static_cast<size_t>(bytes));
        buffer->size = bytes;
        slot->full = 0;
        pipe->m_readIndex = (pipe->m_readIndex + 1) % pipe->m_slotCount;
        return 1;
    }
    guard.unlock();
    pause(kRetryMs);
    return 0;
}

}  // namespace parlune::looptap
