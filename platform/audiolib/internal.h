// Objects behind the audio library's handles, the mixer and the backend
// interfaces. Private to platform/audiolib.
//
// Thread contract: objects are changed on their system's control thread; the
// mixer thread reads channel slots and the master chain under Mixer::lock,
// which control calls take only for short edits.
#pragma once

#include <sndfile.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/audiolib/audiolib.h"

typedef struct SRC_STATE_tag SRC_STATE;

namespace parlune::audiolib::detail {

// Reports to the host's log callback (control threads only).
void logFailure(Result result, const std::string& message);

// A failure seen on the mixer or a capture thread, kept until update()
// reports it. Lock-free: the first failure since the last report wins. A
// poster claims the slot before storing the result and publishes the message
// last, so report() never pairs a message with another failure's result.
class DeferredFailure {
public:
    void post(Result result, const char* staticMessage) {
        const char* expected = nullptr;
        if (!message_.compare_exchange_strong(expected, &kClaimed, std::memory_order_acquire))
            return;
        result_.store(result, std::memory_order_relaxed);
        message_.store(staticMessage, std::memory_order_release);
    }
    void report() {
        const char* message = message_.load(std::memory_order_acquire);
        if (!message || message == &kClaimed) return;
        Result result = result_.load(std::memory_order_relaxed);
        // Frees the slot only after the result is read; a second reporter loses.
        if (!message_.compare_exchange_strong(message, nullptr)) return;
        logFailure(result, message);
    }

private:
    static constexpr char kClaimed = 0;  // its address marks a slot being filled
    std::atomic<const char*> message_{nullptr};
    std::atomic<Result> result_{Result::Ok};
};

struct SystemObject;

struct SoundObject {
    ~SoundObject();
    std::atomic<bool> alive{true};
    SystemObject* system = nullptr;
    Mode mode = kModeDefault;
    int channels = 1;
    int rate = 16000;
    SoundFormat format = SoundFormat::Pcm16;
    int bytesPerSample = 2;
    uint64_t frames = 0;
    std::vector<float> fileData;                       // file sounds, interleaved
    std::unique_ptr<std::atomic<int16_t>[]> ringData;  // user sounds, interleaved
    std::atomic<int> recordings{0};                    // capture streams writing here
    // Stream sounds (kCreateStream): the open file, decoded a piece at a time
    // on the thread that mixes, into a buffer made at creation. Mutable: the
    // reads are the mixer's, through the const readMono.
    mutable SNDFILE* stream = nullptr;
    mutable std::vector<float> streamBuffer;
    mutable uint64_t streamCursor = 0;  // the file's read position, in frames

    bool loops() const { return (mode & kLoopNormal) != 0; }
    // Mono (channel average) of frames [frame, frame + count), no wrap.
    void readMono(uint64_t frame, size_t count, float* out) const;
    // Interleaved float frames in the sound's channel layout, no wrap.
    void writeFrames(uint64_t frame, size_t count, const float* interleaved);
};

struct DspObject;

struct GroupObject {
    std::atomic<bool> alive{true};
    SystemObject* system = nullptr;
    // Head first: chain[0] runs last. Edited under Mixer::lock.
    std::vector<DspObject*> chain;
};

class BuiltinUnit {
public:
    virtual ~BuiltinUnit() = default;
    virtual void process(const float* in, float* out, int frames) = 0;
    virtual void reset() = 0;
    virtual bool setParameter(int index, float value) = 0;
    virtual bool getParameter(int index, float* value) const = 0;
};
std::unique_ptr<BuiltinUnit> makeBuiltinUnit(DspType type, int sampleRate);

struct DspObject {
    std::atomic<bool> alive{true};
    SystemObject* system = nullptr;
    DspType type = DspType::Unknown;
    DspDescription description;
    std::unique_ptr<BuiltinUnit> builtin;
    std::atomic<bool> bypass{false};
    // A built-in unit leaving bypass starts from silence, not from old state.
    std::atomic<bool> resetPending{false};
    GroupObject* group = nullptr;  // the chain it is in, if any
    DspState state;                // state.instance refers back to this object
};

struct ChannelSlot {
    std::atomic<uint64_t> generation{0};
    SystemObject* system = nullptr;
    // Set by playSound under Mixer::lock; read by the mixer.
    std::shared_ptr<SoundObject> sound;
    std::atomic<bool> playing{false};
    std::atomic<bool> paused{false};
    std::atomic<float> frequency{0};
    // Nominal play position in sound frames (what getPosition reports).
    std::atomic<double> position{0};
    // Resampler: fed from feedCursor in small pieces.
    SRC_STATE* resampler = nullptr;
    bool resampling = false;
    uint64_t feedCursor = 0;
    bool feedEnded = false;
    std::vector<float> feedBuffer;

    ~ChannelSlot();
};

// Resampler input callback of a channel slot (libsamplerate callback API).
long feedChannel(void* slot, float** out);

// The software mixer of one system: channels -> master chain -> reverb.
class Mixer {
public:
    Mixer(SystemObject* system, int rate, int maxChannels);
    ~Mixer();
    // Mixer thread: fills kMixerBlockFrames frames.
    void renderBlock(float* out);
    int rate() const { return rate_; }

    std::mutex lock;
    std::vector<std::shared_ptr<ChannelSlot>> slots;
    fx::SystemReverb reverb;
    std::atomic<bool> reverbActive{false};
    std::atomic<uint64_t> blocks{0};
    size_t nextSlot = 0;  // control thread: where playSound looks first

private:
    void renderChannel(ChannelSlot& slot, float* out);
    SystemObject* system_;
    int rate_;
    std::vector<float> mix_, scratch_, channelOut_;
};

// An output the mixer renders into.
class Output {
public:
    virtual ~Output() = default;
    // Control thread, after the mixer exists.
    virtual Result start() = 0;
    // Control thread: non-real-time outputs render one block here.
    virtual Result update() = 0;
    // Control thread: stops rendering; completes files.
    virtual void stop() = 0;
    // Control thread: stop(), and whether the output's file was completed.
    virtual Result finish() {
        stop();
        return Result::Ok;
    }
    // Any thread: times the device ran out of mixed audio.
    virtual uint64_t underruns() const { return 0; }
};

// Where a capture stream writes: a PCM16 sound, wrapping when looping.
class RecordTarget {
public:
    RecordTarget(std::shared_ptr<SoundObject> sound, bool loop);
    ~RecordTarget();
    // Capture thread: interleaved float frames in the sound's layout. Returns
    // false when a non-looping recording has reached the sound's end.
    bool write(const float* frames, size_t count);
    // Capture thread, when the device went away: a looping recording is
    // silenced whole, its position kept, so a play cursor that runs ahead of
    // the writes (a new device delivering nothing yet) hears silence, never
    // the sound held from before. A one-shot recording keeps what it holds.
    // Real-time safe.
    void silenceLoop();
    unsigned position() const { return position_.load(std::memory_order_acquire); }
    const SoundObject& sound() const { return *sound_; }

private:
    std::shared_ptr<SoundObject> sound_;
    bool loop_;
    std::atomic<unsigned> position_{0};
};

class Recorder {
public:
    virtual ~Recorder() = default;
    virtual bool recording() const = 0;
    virtual unsigned position() const = 0;
    virtual void stop() = 0;  // joins the capture thread
    // Control thread, every System::update: reports a lost or regained
    // device and tries to get a lost one back.
    virtual void update() {}
};

// Driver list entries of any backend.
struct DriverEntry {
    std::string name;    // the user-visible (UTF-8) name
    std::string device;  // backend device id; empty = the default device
    int rate = 0;
    int channels = 0;
    bool isDefault = false;
};

// The backend behind real-time devices: the audio server or the in-process one.
class DeviceBackend {
public:
    virtual ~DeviceBackend() = default;
    virtual Result playbackDrivers(std::vector<DriverEntry>* out) = 0;
    virtual Result recordDrivers(std::vector<DriverEntry>* out) = 0;
    virtual std::unique_ptr<Output> openOutput(Mixer* mixer, const DriverEntry& driver,
                                               DeferredFailure* failures, Result* result) = 0;
    virtual std::unique_ptr<Recorder> openRecorder(const DriverEntry& driver,
                                                   std::unique_ptr<RecordTarget> target,
                                                   DeferredFailure* failures, Result* result) = 0;
};
std::unique_ptr<DeviceBackend> makePulseBackend();
std::unique_ptr<DeviceBackend> makeInProcessBackend();

std::unique_ptr<Output> makeNonRealTimeOutput(Mixer* mixer, const char* wavPath, Result* result);

struct SystemObject {
    std::atomic<bool> alive{true};
    int rate = 16000;
    OutputType outputType = OutputType::AutoDetect;
    int driver = 0;
    bool initialized = false;
    int maxChannels = 0;
    ReverbProperties reverbProperties = fx::kReverbOff;

    std::unique_ptr<DeviceBackend> backend;  // lazily, for lists and devices
    std::vector<DriverEntry> playbackList, recordList;
    bool playbackListRead = false, recordListRead = false;

    std::unique_ptr<Mixer> mixer;
    std::unique_ptr<Output> output;
    struct Recording {
        std::unique_ptr<Recorder> recorder;
        SoundObject* sound = nullptr;
    };
    std::map<int, Recording> recorders;  // by record driver index
    std::shared_ptr<GroupObject> master;
    std::vector<std::shared_ptr<SoundObject>> sounds;
    std::vector<std::shared_ptr<DspObject>> dsps;
    DeferredFailure failures;

    // The device backend this system's output type uses; null for NRT outputs.
    DeviceBackend* deviceBackend();
    OutputType effectiveOutput() const;
};

}  // namespace parlune::audiolib::detail
