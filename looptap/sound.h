// The two ends of the pass-through: a capture object and a playback object,
// each a worker thread to which its device posts finished buffers, and each
// keeping six buffers with its device while it runs. The handlers never
// allocate, and do nothing once `Stop` has cleared the running flag.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/wave/wave.h"
#include "platform/wave/worker_thread.h"

namespace parlune::looptap {

class CPipe;

// A block of audio bytes; owning (allocated here) or wrapping a wave header's.
// Thread contract: used by one thread at a time; ring slots only under the pipe's lock.
class CBuffer {
public:
    CBuffer(int bytes, bool owns);  // allocates; "Out of memory!" and null data on failure
    CBuffer(char* data, int bytes);  // wraps memory it does not own
    ~CBuffer();
    CBuffer(const CBuffer&) = delete;
    CBuffer& operator=(const CBuffer&) = delete;

    char* data = nullptr;
    int size = 0;
    uint32_t full = 0;
    uint8_t owns = 0;
};

// Quits the worker thread's loop; posted by the pipe when it is destroyed.
constexpr uint32_t kMsgEndThread = wave::kMsgUser + 110;
constexpr int kQueuedBuffers = 6;

// Thread contract: format and buffer setters on the caller's thread before Start; running and queued are atomics.
class CSoundBase {
public:
    using Callback = int (*)(CBuffer* buffer, void* user);

    void SetRate(uint32_t rate);
    void SetBitsPerSample(uint16_t bits);
    void SetChannels(uint16_t channels);
    const wave::Format& GetFormat() const { return m_format; }
    void SetBufferFrames(int frames) { m_bufferFrames = frames; }
    int GetBufferFrames() const { return m_bufferFrames; }
    int GetBufferBytes() const { return m_format.blockAlign * m_bufferFrames; }
    void SetCallback(Callback callback, CPipe* user);
    bool IsRunning() const { return m_running; }
    int GetQueued() const { return m_queued; }

protected:
    CSoundBase();
    void RecomputeFormat();
    void FreeBuffers();

    wave::Format m_format;
    int m_bufferFrames = 1024;
    wave::Header* m_headers[kQueuedBuffers] = {};
    char* m_blocks[kQueuedBuffers] = {};
    Callback m_callback = nullptr;
    CPipe* m_user = nullptr;
    std::atomic<bool> m_running{false};
    std::atomic<int> m_queued{0};
    wave::ThreadId m_threadId = 0;
};

// Thread contract: Start/Stop on the library caller's thread; OnWIM_DATA and the callback on its own worker thread.
class CSoundIn : public wave::WorkerThread, public CSoundBase {
public:
    CSoundIn();
    ~CSoundIn() override;
    virtual void Stop();
    virtual bool Start(const wave::Format* format);
    // Returns the queued count before the addition.
    static int AddInputBufferToQueue(wave::Header* header, CSoundIn* sound, CBuffer* buffer);

protected:
    bool initInstance() override;
    void OnWIM_DATA(uintptr_t handle, uintptr_t header);

private:
    wave::InHandle m_handle = nullptr;
};

// Thread contract: Start/Stop on the library caller's thread; OnWOM_DONE and the callback on its own worker thread.
class CSoundOut : public wave::WorkerThread, public CSoundBase {
public:
    CSoundOut();
    ~CSoundOut() override;
    virtual void Stop();
    virtual bool Start(const wave::Format* format);
    static int AddOutputBufferToQueue(wave::Header* header, CSoundOut* sound, CBuffer* buffer);

protected:
    bool initInstance() override;
    void OnWOM_DONE(uintptr_t handle, uintptr_t header);

private:
    wave::OutHandle m_handle = nullptr;
};

// "WAVEIN:%x:%s %s" / "WAVEOUT:%x:%s %s" on standard error.
void ShowInError(wave::Result error, const char* place);
void ShowOutError(wave::Result error, const char* place);

}  // namespace parlune::looptap
