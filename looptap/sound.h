// The two ends of the pass-through: a capture object and a playback object,
// each a worker thread to which its device posts finished buffers, and each
// keeping six buffers with its device while it runs. The handlers never
// allocate, and do nothing once `Stop` has cleared the running flag; they
// run the pipe's callback, which may sleep on the worker thread (a few ms
// when the ring is full or empty, up to 250 ms for playback's first blocks:
// see CPipe).
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/wave/wave.h"
#include "platform/wave/worker_thread.h"

namespace parlune::looptap {

class CPipe;

// A block of audio bytes it does not own: a wave header's, handed to the
// pipe's callbacks.
// Thread contract: used by one thread at a time.
class CBuffer {
public:
    CBuffer(char* bytes, int length) : data(bytes), size(length) {}
    CBuffer(const CBuffer&) = delete;
    CBuffer& operator=(const CBuffer&) = delete;

    char* data = nullptr;
    int size = 0;
};

// Quits the worker thread's loop; posted by the pipe when it is destroyed.
constexpr uint32_t kMsgEndThread = wave::kMsgUser + 110;
constexpr int kQueuedBuffers = 6;

// Thread contract: format and buffer setters on the caller's thread before Start; running and
// queued are atomics.
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

// Thread contract: Start/Stop on the library caller's thread; OnWIM_DATA and the callback on its
// own worker thread. Start opens the device, which asks the audio server (seconds when it does not
// answer). Stop waits for the handler in hand, and for the device's reset and close (a stalled
// stream holds each up to its 3 s timeout, see wave.h), and sleeps 210 ms on top (200 after the
// reset, 10 after the close).
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

// Thread contract: Start/Stop on the library caller's thread; OnWOM_DONE and the callback on its
// own worker thread. Start opens the device as CSoundIn's does and runs the callback for the first
// six buffers on the caller's thread. Stop waits and sleeps as CSoundIn's.
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
