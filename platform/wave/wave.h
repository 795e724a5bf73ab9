// The wave interface Looptap is written against: numbered capture and playback
// devices with capabilities, open with a callback thread, prepared headers
// queued in order, start, reset, close, result codes with texts. Each open
// device runs on a pulse stream driven by an I/O thread of its own, which
// fills (capture) or drains (playback) the queued headers one after another
// and posts kMsgInData / kMsgOutDone with (handle, header) to the callback
// thread (see worker_thread.h). The I/O threads never allocate, log or wait
// on a lock a caller holds for long.
//
// An open device outlives its stream. When the stream fails (the server went
// away, the device was removed, or it stalled past its 3 s timeout), the I/O
// thread goes on serving the queue at the device's pace on the clock: capture
// headers come back filled with silence, never with older sound; playback
// headers come back unplayed. A thread of the device's own opens the stream
// again every 250 ms once the server lists the same device again and hands it
// over through atomics; the I/O thread takes it between two headers. That
// thread writes one line on standard error when the device goes and one when
// it is back (see platform/pulse/stream_reopener.h).
//
// Thread contract: any call from any thread, except that nothing may use a handle while it is being
// closed. What the calls wait for: the device counts, and caps or open when no list has been taken
// yet, ask the audio server (2 s when it does not answer); open also connects its stream (3 s for
// each step). Stop and reset wait for the I/O thread to let go of the header in hand, which it does
// between chunks of 256 frames (a few ms, with or without a stream), and close joins the I/O
// thread, which may be reading a 5 ms piece it discards: a stalled stream holds each of them until
// its stall timeout (3 s) fails the stream. Close also waits for an open of the stream again that
// is in hand: at once when the server is gone, up to 3 s for each step when it does not answer.
// The other calls take the device's lock only for a queue edit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace parlune::wave {

using Result = uint32_t;
enum : Result {
    kOk = 0,
    kError = 1,
    kBadDeviceId = 2,
    kNotEnabled = 3,
    kAllocated = 4,
    kInvalidHandle = 5,
    kNoDriver = 6,
    kNoMemory = 7,
    kNotSupported = 8,
    kBadErrorNumber = 9,
    kInvalidFlag = 10,
    kInvalidParam = 11,
    kBadFormat = 32,
    kStillPlaying = 33,
    kUnprepared = 34,
};

// Longest error text, terminator included, that the error-text calls write.
constexpr size_t kMaxErrorText = 128;

constexpr uint16_t kFormatPcm = 1;
struct Format {
    uint16_t formatTag = kFormatPcm;
    uint16_t channels = 2;
    uint32_t samplesPerSec = 44100;
    uint32_t avgBytesPerSec = 176400;
    uint16_t blockAlign = 4;
    uint16_t bitsPerSample = 16;
    uint16_t extraSize = 0;
};

enum HeaderFlag : uint32_t {
    kHeaderDone = 0x01,
    kHeaderPrepared = 0x02,
    kHeaderInQueue = 0x10,
};
struct Header {
    char* data = nullptr;
    uint32_t bufferLength = 0;
    uint32_t bytesRecorded = 0;  // capture: valid bytes when done
    uintptr_t user = 0;
    uint32_t flags = 0;
    Header* next = nullptr;  // the device's queue; owned by the layer while queued
};

// Device names hold 31 bytes and a terminator, as the capability records do.
constexpr size_t kNameBytes = 32;
struct InCaps {
    char name[kNameBytes] = {};
    uint16_t channels = 0;
};
struct OutCaps {
    char name[kNameBytes] = {};
    uint16_t channels = 0;
};
// The first 31 bytes of a device description: the name the caps carry. Cut
// byte-wise, so UTF-8 text may be cut inside a character. The one rule for
// cutting a device name: whatever is compared with these names (Looptap's
// configured speaker, routing's look for the capture side) is cut by it too.
std::string capsName(const std::string& description);

struct InDevice;
struct OutDevice;
using InHandle = InDevice*;
using OutHandle = OutDevice*;

// Open flags: where completions go.
constexpr uint32_t kCallbackNull = 0x00000;    // none: poll kHeaderDone
constexpr uint32_t kCallbackThread = 0x20000;  // callback = the worker thread's id

// Messages posted to the callback thread: wParam = handle, lParam = header
// (open and close carry no header).
constexpr uint32_t kMsgOutOpen = 0x3BB;
constexpr uint32_t kMsgOutClose = 0x3BC;
constexpr uint32_t kMsgOutDone = 0x3BD;
constexpr uint32_t kMsgInOpen = 0x3BE;
constexpr uint32_t kMsgInClose = 0x3BF;
constexpr uint32_t kMsgInData = 0x3C0;
constexpr uint32_t kMsgUser = 0x400;

// Capture and playback devices are those of the process's device directory
// (sources that are not monitors, and sinks), in server order. The counts take
// a fresh look at the server; caps and open use the list of the last count (taking one
// first if there was none), so indices stay those the caller counted.
unsigned inGetNumDevs();
Result inGetDevCaps(unsigned deviceId, InCaps* caps);
Result inOpen(InHandle* handle, unsigned deviceId, const Format* format, uintptr_t callback,
              uintptr_t instance, uint32_t flags);
Result inPrepareHeader(InHandle handle, Header* header);
Result inUnprepareHeader(InHandle handle, Header* header);
Result inAddBuffer(InHandle handle, Header* header);
Result inStart(InHandle handle);
// Waits for the chunk in hand (up to the stall timeout on a stalled stream).
Result inStop(InHandle handle);
// Stops capture and hands every queued header back as done, in order. Waits
// for the chunk in hand, as inStop does.
Result inReset(InHandle handle);
// kStillPlaying (at once) while headers are queued; otherwise joins the I/O
// thread.
Result inClose(InHandle handle);
Result inGetErrorText(Result error, char* text, size_t size);

unsigned outGetNumDevs();
Result outGetDevCaps(unsigned deviceId, OutCaps* caps);
Result outOpen(OutHandle* handle, unsigned deviceId, const Format* format, uintptr_t callback,
               uintptr_t instance, uint32_t flags);
Result outPrepareHeader(OutHandle handle, Header* header);
Result outUnprepareHeader(OutHandle handle, Header* header);
// Queues a header; playback starts with the first one.
Result outWrite(OutHandle handle, Header* header);
// Waits for the chunk in hand as inReset does, then hands every queued header
// back as done, in order.
Result outReset(OutHandle handle);
// As inClose; a playback I/O thread without headers leaves at once.
Result outClose(OutHandle handle);
Result outGetErrorText(Result error, char* text, size_t size);

// Buffering asked of the server on top of the queued headers.
constexpr uint32_t kRecordFragmentMs = 10;
constexpr uint32_t kPlaybackTargetMs = 30;

}  // namespace parlune::wave
