#include "looptap/sound.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "looptap/pipe.h"

namespace parlune::looptap {
namespace {

void pause(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

void showError(const char* side, wave::Result error, const char* place, bool capture) {
    char text[wave::kMaxErrorText] = {};
    if (capture)
        wave::inGetErrorText(error, text, 101);
    else
        wave::outGetErrorText(error, text, 101);
    char line[256];
    std::snprintf(line, sizeof line, "%s:%x:%s %s", side, error, text, place);
    wave::messageBox(line);
}

}  // namespace

void ShowInError(wave::Result error, const char* place) { showError("WAVEIN", error, place, true); }
void ShowOutError(wave::Result error, const char* place) {
    showError("WAVEOUT", error, place, false);
}

CSoundBase::CSoundBase() { RecomputeFormat(); }

void CSoundBase::RecomputeFormat() {
    m_format.blockAlign = static_cast<uint16_t>(m_format.channels * m_format.bitsPerSample / 8);
    m_format.avgBytesPerSec = m_format.samplesPerSec * m_format.blockAlign;
}

void CSoundBase::SetRate(uint32_t rate) {
    m_format.samplesPerSec = rate;
    RecomputeFormat();
}

void CSoundBase::SetBitsPerSample(uint16_t bits) {
    m_format.bitsPerSample = bits;
    RecomputeFormat();
}

void CSoundBase::SetChannels(uint16_t channels) {
    m_format.channels = channels;
    RecomputeFormat();
}

void CSoundBase::SetCallback(Callback callback, CPipe* user) {
    m_callback = callback;
    m_user = user;
}

void CSoundBase::FreeBuffers() {
    for (int i = 0; i < kQueuedBuffers; ++i) {
        delete m_headers[i];
        delete[] m_blocks[i];
        m_headers[i] = nullptr;
        m_blocks[i] = nullptr;
    }
}

// --- capture ---------------------------------------------------------------

CSoundIn::CSoundIn() {
    onMessage(wave::kMsgInData,
              [this](uintptr_t handle, uintptr_t header) { OnWIM_DATA(handle, header); });
    onMessage(kMsgEndThread, [this](uintptr_t, uintptr_t) { postQuitMessage(); });
    createThread();
}

CSoundIn::~CSoundIn() {
    Stop();
    endThread();
    FreeBuffers();
}

bool CSoundIn::initInstance() {
    m_threadId = threadId();
    return true;
}

bool CSoundIn::Start(const wave::Format* format) {
    if (m_running || !m_callback || !m_user) return false;
    if (format) m_format = *format;
    wave::Result result = wave::inOpen(&m_handle, static_cast<unsigned>(m_user->m_captureDevice),
                                       &m_format, m_threadId, 0, wave::kCallbackThread);
    if (result != wave::kOk) {
        ShowInError(result, "in Start()");
        return false;
    }
    FreeBuffers();
    const int bytes = GetBufferBytes();
    for (int i = 0; i < kQueuedBuffers; ++i) {
        m_headers[i] = new wave::Header();
        m_blocks[i] = new char[bytes]();
        CBuffer block(m_blocks[i], bytes);
        AddInputBufferToQueue(m_headers[i], this, &block);
    }
    // Running before the device starts, so the first filled buffer is never
    // ignored.
    m_running = true;
    result = wave::inStart(m_handle);
    if (result != wave::kOk) {
        m_running = false;
        ShowInError(result, "in Start()");
        return false;
    }
    return true;
}

int CSoundIn::AddInputBufferToQueue(wave::Header* header, CSoundIn* sound, CBuffer* buffer) {
    const int before = sound->m_queued;
    header->data = buffer->data;
    header->bufferLength = static_cast<uint32_t>(buffer->size);
    wave::Result result = wave::inPrepareHeader(sound->m_handle, header);
    if (result == wave::kOk) result = wave::inAddBuffer(sound->m_handle, header);
    if (result == wave::kOk)
        ++sound->m_queued;
    else
        ShowInError(result, "in AddInputBufferToQueue()");
    return before;
}

void CSoundIn::OnWIM_DATA(uintptr_t, uintptr_t headerAddress) {
    if (!m_running) return;
    --m_queued;
    auto* header = reinterpret_cast<wave::Header*>(headerAddress);
    CBuffer block(header->data, static_cast<int>(header->bufferLength));
    m_callback(&block, m_user);
    if (wave::inAddBuffer(m_handle, header) == wave::kOk) ++m_queued;
}

void CSoundIn::Stop() {
    if (!m_running) return;
    m_running = false;
    // A handler that got past its running check finishes before the device
    // is reset, so it cannot queue a header behind the reset.
    waitIdle();
    wave::Result result = wave::inReset(m_handle);
    pause(200);
    if (result != wave::kOk) {
        wave::messageBox("CSoundIn waveInReset failed!");
        return;
    }
    // The buffers the reset handed back are handled (and ignored) before
    // their headers are freed.
    waitIdle();
    for (int i = 0; i < kQueuedBuffers; ++i) {
        if (!m_headers[i]) continue;
        result = wave::inUnprepareHeader(m_handle, m_headers[i]);
        if (result != wave::kOk) {
            ShowInError(result, "in OnWIM_DATA()");
            return;
        }
    }
    result = wave::inClose(m_handle);
    pause(10);
    if (result != wave::kOk)
        wave::messageBox("CSoundIn waveinClose failed!");
    else
        m_handle = nullptr;
    FreeBuffers();
    m_queued = 0;
}

// --- playback --------------------------------------------------------------

CSoundOut::CSoundOut() {
    onMessage(wave::kMsgOutDone,
              [this](uintptr_t handle, uintptr_t header) { OnWOM_DONE(handle, header); });
    onMessage(kMsgEndThread, [this](uintptr_t, uintptr_t) { postQuitMessage(); });
    createThread();
}

CSoundOut::~CSoundOut() {
    Stop();
    endThread();
    FreeBuffers();
}

bool CSoundOut::initInstance() {
    m_threadId = threadId();
    return true;
}

bool CSoundOut::Start(const wave::Format* format) {
    if (m_running || !m_callback || !m_user) return false;
    if (format) m_format = *format;
    wave::Result result = wave::outOpen(&m_handle, static_cast<unsigned>(m_user->m_playbackDevice),
                                        &m_format, m_threadId, 0, wave::kCallbackThread);
    if (result != wave::kOk) {
        ShowOutError(result, "in start()");
        return false;
    }
    FreeBuffers();
    // The server takes the first buffers at once; running is set before they
    // are written so that none of their completions is ignored.
    m_running = true;
    const int bytes = GetBufferBytes();
    for (int i = 0; i < kQueuedBuffers; ++i) {
        m_headers[i] = new wave::Header();
        m_blocks[i] = new char[bytes]();
        CBuffer block(m_blocks[i], bytes);
        m_callback(&block, m_user);
        AddOutputBufferToQueue(m_headers[i], this, &block);
    }
    return true;
}

int CSoundOut::AddOutputBufferToQueue(wave::Header* header, CSoundOut* sound, CBuffer* buffer) {
    const int before = sound->m_queued;
    header->data = buffer->data;
    header->bufferLength = static_cast<uint32_t>(buffer->size);
    wave::Result result = wave::outPrepareHeader(sound->m_handle, header);
    if (result == wave::kOk) result = wave::outWrite(sound->m_handle, header);
    if (result == wave::kOk)
        ++sound->m_queued;
    else
        ShowOutError(result, "in AddOutputBufferToQueue()");
    return before;
}

void CSoundOut::OnWOM_DONE(uintptr_t, uintptr_t headerAddress) {
    if (!m_running) return;
    --m_queued;
    auto* header = reinterpret_cast<wave::Header*>(headerAddress);
    CBuffer block(header->data, static_cast<int>(header->bufferLength));
    m_callback(&block, m_user);
    if (wave::outWrite(m_handle, header) == wave::kOk) ++m_queued;
}

void CSoundOut::Stop() {
    if (!m_running) return;
    m_running = false;
    waitIdle();
    wave::Result result = wave::outReset(m_handle);
    pause(200);
    if (result != wave::kOk) wave::messageBox("CSoundOut waveinReset failed!");
    waitIdle();
    for (int i = 0; i < kQueuedBuffers; ++i) {
        if (!m_headers[i]) continue;
        result = wave::outUnprepareHeader(m_handle, m_headers[i]);
        if (result != wave::kOk) {
            ShowOutError(result, "in Stop()");
            return;
        }
    }
    result = wave::outClose(m_handle);
    pause(10);
    if (result != wave::kOk)
        wave::messageBox("CSoundOut waveoutClose failed!");
    else
        m_handle = nullptr;
    FreeBuffers();
    m_queued = 0;
}

}  // namespace parlune::looptap
