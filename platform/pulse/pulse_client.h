// Synchronous client of the audio server (PulseAudio or PipeWire's pulse
// service). The one place of the project that talks to libpulse: everything
// here is plain C++ types; libpulse stays in the .cpp files of this folder.
//
// Thread contract: a PulseClient may be used from one thread at a time; each
// stream may be used from one thread at a time (its own I/O thread), and
// several clients and streams may live in one process.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace parlune::pulse {

struct DeviceInfo {
    uint32_t index = 0;
    std::string name;         // server name, e.g. "parlune_01"
    std::string description;  // friendly name the user sees
    uint32_t rate = 0;        // native sample rate
    uint8_t channels = 0;
    bool isMonitor = false;  // sources only: monitor of a sink
    bool muted = false;
    uint32_t ownerModule = UINT32_MAX;  // index of the module that made it, if any
    // What the device holds now: a sink's rendered sound not yet played.
    uint64_t latencyUs = 0;
};

struct ModuleInfo {
    uint32_t index = 0;
    std::string name;      // e.g. "module-null-sink"
    std::string argument;  // the argument string it was loaded with
};

// A playback stream (sink input) or record stream (source output).
struct StreamInfo {
    uint32_t index = 0;
    std::string applicationName;
    std::string mediaName;
    uint32_t deviceIndex = 0;           // sink or source it is connected to
    uint32_t ownerModule = UINT32_MAX;  // set for streams a module made (e.g. a remap source)
};

constexpr int kDefaultTimeoutMs = 3000;

class PulseClient {
public:
    // Connects at once; connected() tells whether the server answered in time.
    explicit PulseClient(const std::string& clientName = "Parlune",
                         int timeoutMs = kDefaultTimeoutMs);
    ~PulseClient();
    PulseClient(const PulseClient&) = delete;
    PulseClient& operator=(const PulseClient&) = delete;

    bool connected() const;

    std::vector<DeviceInfo> sinks();
    std::vector<DeviceInfo> sources();  // monitors included, flagged isMonitor
    std::string defaultSinkName();
    std::string defaultSourceName();
    bool setDefaultSink(const std::string& name);
    bool setDefaultSource(const std::string& name);
    bool setSourceMute(const std::string& name, bool mute);
    // Suspends a sink or lets it run again; false when the server refused.
    bool suspendSink(const std::string& name, bool suspend);
    // The server's own name: "pulseaudio", or one that names PipeWire.
    std::string serverName();

    std::vector<ModuleInfo> modules();
    // Returns the new module's index, or -1 on failure.
    int64_t loadModule(const std::string& name, const std::string& argument);
    // Returns once the module is gone (or the timeout passed after the server
    // accepted the request).
    bool unloadModule(uint32_t index);

    std::vector<StreamInfo> sinkInputs();
    std::vector<StreamInfo> sourceOutputs();

    // Calls onEvent on the client's event thread whenever a sink or source
    // comes, goes or changes or the server's defaults change, and once when
    // the connection is lost. Returns once the server has confirmed the
    // subscription, so no later change is missed; false when it did not. One
    // watcher per client; an empty function stops watching. onEvent runs
    // with the client busy: it must return quickly and not call the client.
    bool watchDevices(std::function<void()> onEvent);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// True when a server answers within timeoutMs.
bool serverReachable(int timeoutMs = 1000);

// Explicit buffering so the server does not pick its default (up to 2 s).
struct StreamLatency {
    uint32_t targetMs = 20;  // playback: tlength; record: fragsize
    uint32_t prebufMs = 0;   // playback only; 0 = start at once
};

enum class StreamDirection { Playback, Record };

// Blocking float32 stream. An empty device name means the default device; such
// a stream follows the default when it changes. Interleaved frames.
class Stream {
public:
    ~Stream();
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;

    // nullptr when the server or the device cannot be had.
    static std::unique_ptr<Stream> open(StreamDirection direction, const std::string& device,
                                        uint32_t rate, uint8_t channels,
                                        const StreamLatency& latency, const std::string& streamName,
                                        const std::string& applicationName = "Parlune");

    // Blocks until all frames are written/read; false when the stream failed
    // (server gone, device removed, or no progress for kDefaultTimeoutMs or
    // four buffer lengths, whichever is longer). A failed stream stays failed.
    bool write(const float* frames, size_t frameCount);
    bool read(float* frames, size_t frameCount);
    // Queues all frames at once, past the target if need be, then blocks until
    // the server asks for more (about three quarters of targetMs left); fails
    // as write does. A producer of blocks longer than the target thus starts
    // each block with little queued, and the server holds the whole block
    // while the next is made.
    bool writeThenWait(const float* frames, size_t frameCount);
    // Frames ready to read now without blocking (record streams); -1 on failure.
    long readable();
    // Current device-side latency in microseconds, or -1 when unknown.
    int64_t latencyUs();
    bool drain();
    // Playback: times the server found the stream's buffer empty. Any thread.
    uint64_t underflows() const;
    bool failed() const;
    uint32_t rate() const;
    uint8_t channels() const;

private:
    Stream();
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace parlune::pulse
