#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "platform/base/pcm16.h"
#include "platform/pulse/device_directory.h"
#include "platform/pulse/pulse_client.h"
#include "platform/pulse/stream_reopener.h"
#include "platform/wave/wave.h"
#include "platform/wave/worker_thread.h"

namespace parlune::wave {

using Clock = std::chrono::steady_clock;

// One open device: its stream, its queue of headers (linked through
// Header::next) and the I/O thread that serves the queue.
struct DeviceBase {
    bool capture = false;
    Format format;
    ThreadId callbackThread = 0;  // 0: no messages

    std::mutex mutex;
    std::condition_variable wake;  // the I/O thread waits for headers or the end
    std::condition_variable idle;  // reset and stop wait for the header in hand
    Header* head = nullptr;
    Header* tail = nullptr;
    bool started = false;  // capture only: playback runs while headers are queued
    bool busy = false;     // the I/O thread is filling or draining `head`
    bool quit = false;
    // Set by reset and stop so the header in hand is let go between chunks
    // instead of after all of it has gone through the server.
    std::atomic<bool> abandon{false};

    // The I/O thread's while it runs. A failed stream is replaced by the
    // reopener's; until then the queue is served at the device's pace.
    std::unique_ptr<pulse::Stream> stream;
    bool streamFailed = false;
    Clock::time_point paceDeadline;
    std::unique_ptr<pulse::StreamReopener> reopener;

    std::vector<float> frames;  // conversion space, kChunkFrames frames
    std::thread io;
};
struct InDevice : DeviceBase {};
struct OutDevice : DeviceBase {};

namespace {

constexpr size_t kChunkFrames = 256;

struct DeviceEntry {
    std::string serverName;
    std::string description;
    uint8_t channels = 0;
};

std::mutex directoryMutex;
std::vector<DeviceEntry> captureDevices, playbackDevices;
bool captureListed = false, playbackListed = false;

std::mutex liveMutex;
std::set<const DeviceBase*> liveDevices;

// Held only while counting: a stopped Looptap leaves no connection behind.
void listDevices(bool capture) {
    std::vector<DeviceEntry> entries;
    const auto directory = pulse::DeviceDirectory::shared();
    if (const auto devices = capture ? directory->captureDevices() : directory->playbackDevices())
        for (const auto& info : *devices)
            entries.push_back({info.name, info.description, info.channels});
    std::lock_guard<std::mutex> lock(directoryMutex);
    (capture ? captureDevices : playbackDevices) = std::move(entries);
    (capture ? captureListed : playbackListed) = true;
}

bool findDevice(bool capture, unsigned deviceId, DeviceEntry* entry) {
    bool listed;
    {
        std::lock_guard<std::mutex> lock(directoryMutex);
        listed = capture ? captureListed : playbackListed;
    }
    if (!listed) listDevices(capture);
    std::lock_guard<std::mutex> lock(directoryMutex);
    const auto& devices = capture ? captureDevices : playbackDevices;
    if (deviceId >= devices.size()) return false;
    *entry = devices[deviceId];
    return true;
}

bool isLive(const DeviceBase* device) {
    std::lock_guard<std::mutex> lock(liveMutex);
    return device && liveDevices.count(device) != 0;
}

bool formatSupported(const Format& f) {
    return f.formatTag == kFormatPcm && f.bitsPerSample == 16 && f.channels >= 1 &&
           f.channels <= 8 && f.samplesPerSec >= 1000 && f.samplesPerSec <= 384000 &&
           f.blockAlign == f.channels * f.bitsPerSample / 8 &&
           f.avgBytesPerSec == f.samplesPerSec * f.blockAlign;
}

void notify(DeviceBase& d, uint32_t message, Header* header) {
    if (d.callbackThread != 0)
        postThreadMessage(d.callbackThread, message, reinterpret_cast<uintptr_t>(&d),
                          reinterpret_cast<uintptr_t>(header));
}

// Caller holds d.mutex.
Header* popHead(DeviceBase& d) {
    Header* h = d.head;
    d.head = h->next;
    if (!d.head) d.tail = nullptr;
    h->next = nullptr;
    h->flags = (h->flags | kHeaderDone) & ~kHeaderInQueue;
    return h;
}

void toSamples(const float* in, size_t count, char* out) {
    for (size_t i = 0; i < count; ++i) {
        // Captured audio: an infinity is silence like NaN, not a full-scale click.
        const int16_t v = base::toPcm16(std::isfinite(in[i]) ? in[i] : 0.0f);
        std::memcpy(out + 2 * i, &v, 2);
    }
}

void toFloats(const char* in, size_t count, float* out) {
    for (size_t i = 0; i < count; ++i) {
        int16_t v;
        std::memcpy(&v, in + 2 * i, 2);
        out[i] = base::fromPcm16(v);
    }
}

// Without a stream the I/O thread keeps the device's time on the clock: it
// sleeps as long as `count` frames last from where the last piece ended, so a
// late wake-up is made up for; after a longer break (a wait for headers) it
// counts from now.
constexpr auto kPaceCatchUp = std::chrono::milliseconds(50);
void pace(DeviceBase& d, size_t count) {
    const auto now = Clock::now();
    if (now - d.paceDeadline > kPaceCatchUp) d.paceDeadline = now;
    d.paceDeadline += std::chrono::nanoseconds(static_cast<int64_t>(count) * 1000000000LL /
                                               d.format.samplesPerSec);
    std::this_thread::sleep_until(d.paceDeadline);
}

void streamLost(DeviceBase& d) {
    d.streamFailed = true;
    d.paceDeadline = Clock::now();
    d.reopener->lost();
}

// I/O thread: a stream opened again replaces the failed one.
void takeNewStream(DeviceBase& d) {
    if (d.streamFailed && d.reopener->takeOver(d.stream)) d.streamFailed = false;
}

// Moves a chunk through the stream; false when the stream failed.
bool transferChunk(DeviceBase& d, char* bytes, size_t n) {
    const size_t channels = d.format.channels;
    if (d.capture) {
        if (!d.stream->read(d.frames.data(), n)) return false;
        toSamples(d.frames.data(), n * channels, bytes);
        return true;
    }
    toFloats(bytes, n * channels, d.frames.data());
    return d.stream->write(d.frames.data(), n);
}

enum class Transfer { Done, Abandoned };

// Moves one header's frames through the stream, a chunk at a time. A stream
// that fails on the way, or has failed before, leaves the rest to the clock:
// capture fills it with silence, playback lets it pass unheard.
Transfer transfer(DeviceBase& d, Header* h) {
    const size_t total = h->bufferLength / d.format.blockAlign;
    for (size_t done = 0; done < total;) {
        if (d.abandon) return Transfer::Abandoned;
        const size_t n = std::min(kChunkFrames, total - done);
        char* bytes = h->data + done * d.format.blockAlign;
        if (d.streamFailed || !transferChunk(d, bytes, n)) {
            if (!d.streamFailed) streamLost(d);
            if (d.capture) std::memset(bytes, 0, n * d.format.blockAlign);
            pace(d, n);
        }
        done += n;
    }
    if (d.capture) h->bytesRecorded = static_cast<uint32_t>(total * d.format.blockAlign);
    return Transfer::Done;
}

void serve(DeviceBase& d) {
    // While capture is stopped or has no header, the stream is read and the
    // sound dropped, so a later start begins with current sound.
    const size_t discardFrames = std::min<size_t>(kChunkFrames, d.format.samplesPerSec / 200);
    std::unique_lock<std::mutex> lock(d.mutex);
    while (!d.quit) {
        if (!d.head || (d.capture && !d.started)) {
            if (!d.capture) {
                d.wake.wait(lock, [&] { return d.quit || d.head; });
                continue;
            }
            lock.unlock();
            takeNewStream(d);
            if (d.streamFailed)
                pace(d, discardFrames);
            else if (!d.stream->read(d.frames.data(), discardFrames))
                streamLost(d);
            lock.lock();
            continue;
        }
        Header* h = d.head;
        d.busy = true;
        lock.unlock();
        takeNewStream(d);
        const Transfer result = transfer(d, h);
        lock.lock();
        d.busy = false;
        if (result == Transfer::Done) notify(d, d.capture ? kMsgInData : kMsgOutDone, popHead(d));
        d.idle.notify_all();
        // An abandoned header stays first in the queue; whoever abandoned it
        // is waiting for `busy` to clear.
        if (result == Transfer::Abandoned) d.wake.wait(lock, [&] { return d.quit || !d.abandon; });
    }
}

template <typename Handle>
Result open(bool capture, Handle* handle, unsigned deviceId, const Format* format,
            uintptr_t callback, uint32_t flags) {
    if (!handle || !format) return kInvalidParam;
    *handle = nullptr;
    if (flags != kCallbackNull && flags != kCallbackThread) return kInvalidFlag;
    if (flags == kCallbackThread && callback == 0) return kInvalidParam;
    if (!formatSupported(*format)) return kBadFormat;
    DeviceEntry entry;
    if (!findDevice(capture, deviceId, &entry)) return kBadDeviceId;

    auto openStream = [capture, entry, format = *format] {
        pulse::StreamLatency latency;
        latency.targetMs = capture ? kRecordFragmentMs : kPlaybackTargetMs;
        return pulse::Stream::open(
            capture ? pulse::StreamDirection::Record : pulse::StreamDirection::Playback,
            entry.serverName, format.samplesPerSec, static_cast<uint8_t>(format.channels), latency,
            capture ? "Wave capture" : "Wave playback");
    };
    auto stream = openStream();
    if (!stream) return kNoDriver;

    auto device = std::make_unique<std::remove_pointer_t<Handle>>();
    device->capture = capture;
    device->stream = std::move(stream);
    device->format = *format;
    device->callbackThread = flags == kCallbackThread ? static_cast<ThreadId>(callback) : 0;
    device->frames.assign(kChunkFrames * format->channels, 0.0f);
    const std::string side = capture ? "capture" : "playback";
    const std::string what = "wave: the " + side + " device \"" + entry.description + "\"";
    const std::string whileGone = capture ? "recording silence" : "playing nothing";
    device->reopener = std::make_unique<pulse::StreamReopener>(
        capture ? pulse::StreamDirection::Record : pulse::StreamDirection::Playback,
        entry.serverName, openStream, [what, whileGone](bool lost) {
            messageBox(lost ? what + " went away; " + whileGone + " until it is back"
                            : what + " is back");
        });
    DeviceBase* d = device.get();
    d->io = std::thread([d] { serve(*d); });
    {
        std::lock_guard<std::mutex> lock(liveMutex);
        liveDevices.insert(d);
    }
    *handle = device.release();
    notify(*d, capture ? kMsgInOpen : kMsgOutOpen, nullptr);
    return kOk;
}

Result prepare(DeviceBase* d, Header* h) {
    if (!isLive(d)) return kInvalidHandle;
    if (!h || !h->data) return kInvalidParam;
    std::lock_guard<std::mutex> lock(d->mutex);
    if (h->flags & kHeaderInQueue) return kStillPlaying;
    h->flags |= kHeaderPrepared;
    return kOk;
}

Result unprepare(DeviceBase* d, Header* h) {
    if (!isLive(d)) return kInvalidHandle;
    if (!h) return kInvalidParam;
    std::lock_guard<std::mutex> lock(d->mutex);
    if (h->flags & kHeaderInQueue) return kStillPlaying;
    h->flags &= ~kHeaderPrepared;
    return kOk;
}

Result enqueue(DeviceBase* d, Header* h) {
    if (!isLive(d)) return kInvalidHandle;
    if (!h || !h->data || h->bufferLength < d->format.blockAlign) return kInvalidParam;
    {
        std::lock_guard<std::mutex> lock(d->mutex);
        if (!(h->flags & kHeaderPrepared)) return kUnprepared;
        if (h->flags & kHeaderInQueue) return kStillPlaying;
        h->flags = (h->flags & ~kHeaderDone) | kHeaderInQueue;
        h->bytesRecorded = 0;
        h->next = nullptr;
        if (d->tail)
            d->tail->next = h;
        else
            d->head = h;
        d->tail = h;
    }
    d->wake.notify_one();
    return kOk;
}

Result reset(DeviceBase* d) {
    if (!isLive(d)) return kInvalidHandle;
    d->abandon = true;
    {
        std::unique_lock<std::mutex> lock(d->mutex);
        d->started = false;
        d->idle.wait(lock, [&] { return !d->busy; });
        while (d->head) notify(*d, d->capture ? kMsgInData : kMsgOutDone, popHead(*d));
        d->abandon = false;
    }
    d->wake.notify_all();
    return kOk;
}

Result close(DeviceBase* d) {
    if (!isLive(d)) return kInvalidHandle;
    {
        std::lock_guard<std::mutex> lock(d->mutex);
        if (d->head) return kStillPlaying;
        d->quit = true;
    }
    d->wake.notify_all();
    d->io.join();
    d->reopener.reset();  // waits for an open in hand
    {
        std::lock_guard<std::mutex> lock(liveMutex);
        liveDevices.erase(d);
    }
    notify(*d, d->capture ? kMsgInClose : kMsgOutClose, nullptr);
    if (d->capture)
        delete static_cast<InDevice*>(d);
    else
        delete static_cast<OutDevice*>(d);
    return kOk;
}

struct ErrorText {
    Result code;
    const char* text;
};
constexpr ErrorText kErrorTexts[] = {
    {kOk, "The operation succeeded."},
    {kError, "An unexpected error occurred."},
    {kBadDeviceId, "No device carries this number."},
    {kNotEnabled, "The device is not enabled."},
    {kAllocated, "The device is already in use."},
    {kInvalidHandle, "The device handle is not that of an open device."},
    {kNoDriver, "The audio server or the device cannot be reached."},
    {kNoMemory, "There is not enough memory for this operation."},
    {kNotSupported, "This operation is not supported."},
    {kBadErrorNumber, "This result code has no text."},
    {kInvalidFlag, "An unknown flag was given."},
    {kInvalidParam, "A parameter is missing or out of range."},
    {kBadFormat, "The device cannot open this wave format."},
    {kStillPlaying, "Buffers are still queued on the device."},
    {kUnprepared, "The buffer header has not been prepared."},
};

Result errorText(Result error, char* text, size_t size) {
    if (!text || size == 0) return kInvalidParam;
    for (const auto& entry : kErrorTexts) {
        if (entry.code == error) {
            std::snprintf(text, size, "%s", entry.text);
            return kOk;
        }
    }
    text[0] = '\0';
    return kBadErrorNumber;
}

}  // namespace

std::string capsName(const std::string& description) {
    return description.substr(0, kNameBytes - 1);
}

template <typename Caps>
static Result getCaps(bool capture, unsigned deviceId, Caps* caps) {
    if (!caps) return kInvalidParam;
    DeviceEntry entry;
    if (!findDevice(capture, deviceId, &entry)) return kBadDeviceId;
    *caps = Caps{};
    const std::string name = capsName(entry.description);
    std::memcpy(caps->name, name.data(), name.size());
    caps->channels = entry.channels;
    return kOk;
}

static unsigned countDevices(bool capture) {
    listDevices(capture);
    std::lock_guard<std::mutex> lock(directoryMutex);
    return static_cast<unsigned>((capture ? captureDevices : playbackDevices).size());
}

unsigned inGetNumDevs() { return countDevices(true); }
Result inGetDevCaps(unsigned deviceId, InCaps* caps) { return getCaps(true, deviceId, caps); }
Result inOpen(InHandle* handle, unsigned deviceId, const Format* format, uintptr_t callback,
              uintptr_t /*instance*/, uint32_t flags) {
    return open(true, handle, deviceId, format, callback, flags);
}
Result inPrepareHeader(InHandle handle, Header* header) { return prepare(handle, header); }
Result inUnprepareHeader(InHandle handle, Header* header) { return unprepare(handle, header); }
Result inAddBuffer(InHandle handle, Header* header) { return enqueue(handle, header); }
Result inStart(InHandle handle) {
    if (!isLive(handle)) return kInvalidHandle;
    std::lock_guard<std::mutex> lock(handle->mutex);
    handle->started = true;
    return kOk;
}
Result inStop(InHandle handle) {
    if (!isLive(handle)) return kInvalidHandle;
    handle->abandon = true;
    {
        std::unique_lock<std::mutex> lock(handle->mutex);
        handle->started = false;
        handle->idle.wait(lock, [&] { return !handle->busy; });
        handle->abandon = false;
    }
    handle->wake.notify_all();
    return kOk;
}
Result inReset(InHandle handle) { return reset(handle); }
Result inClose(InHandle handle) { return close(handle); }
Result inGetErrorText(Result error, char* text, size_t size) {
    return errorText(error, text, size);
}

unsigned outGetNumDevs() { return countDevices(false); }
Result outGetDevCaps(unsigned deviceId, OutCaps* caps) { return getCaps(false, deviceId, caps); }
Result outOpen(OutHandle* handle, unsigned deviceId, const Format* format, uintptr_t callback,
               uintptr_t /*instance*/, uint32_t flags) {
    return open(false, handle, deviceId, format, callback, flags);
}
Result outPrepareHeader(OutHandle handle, Header* header) { return prepare(handle, header); }
Result outUnprepareHeader(OutHandle handle, Header* header) { return unprepare(handle, header); }
Result outWrite(OutHandle handle, Header* header) { return enqueue(handle, header); }
Result outReset(OutHandle handle) { return reset(handle); }
Result outClose(OutHandle handle) { return close(handle); }
Result outGetErrorText(Result error, char* text, size_t size) {
    return errorText(error, text, size);
}

}  // namespace parlune::wave
