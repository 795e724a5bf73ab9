// Parlune's audio library: systems, sounds, channels, a software mixer with a
// master DSP chain, custom and built-in DSP units, a system reverb, recording
// into looping sounds, and three outputs (the audio server, a non-real-time
// WAV writer, and a deterministic in-process backend for tests).
//
// On the audio server the mixer thread is paced by its playback stream: a
// block is mixed when about 12 ms remain queued; capture streams deliver in
// 5 ms fragments. A mixer
// block is 1024 frames (64 ms at 16 kHz).
//
// Handles (System, Sound, Channel, ChannelGroup, DSP) are small value objects.
// A default-constructed (null) handle, or one whose object was released, makes
// every call return an error code; no call crashes on a bad handle.
//
// Thread contract: a System and everything created from it are used from one
// control thread at a time (the run that owns it); the mixer thread calls DSP
// read callbacks, which may call DSP::getInfo/getUserData/getInstanceData on
// their own unit. Several systems may coexist, each on its own thread.
//
// Which calls wait, and for what (marked at each call below):
// - "Mixer lock": the mixer thread holds its system's mixer lock while it
//   renders a whole block (every channel, the master chain with its DSP read
//   callbacks, the reverb). These calls take that lock, so they may wait
//   until the block in progress is rendered. A DSP read callback runs under
//   the lock: it must not make any of these calls.
// - "Joins": waits for a mixer or capture thread of the audio server's
//   output to finish what it has in hand; a stalled stream holds it up to
//   the stream's 3 s timeout.
// - "Server": asks the audio server and waits for its answer (2 to 3 s
//   timeouts when it does not answer). With the in-process backend these
//   calls, and the joins, take its hub's lock instead, which is held while
//   it renders a block: they may wait as the mixer lock's calls do.
// Unmarked calls wait for no other thread and no server (createSound reads
// its file).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/audiolib/effects/effects.h"

namespace parlune::audiolib {

enum class Result : int {
    Ok = 0,
    InvalidHandle,   // null handle, or its object was released
    InvalidParam,    // a pointer, index or value out of range
    NotInitialized,  // the call needs init() first
    Initialized,     // the call must come before init()
    Unsupported,     // format or mode the library does not provide
    FileNotFound,
    FileBad,       // unreadable or not an audio file
    FileWrite,     // the WAV writer's file cannot be written
    OutputInit,    // the audio server or device cannot be had
    RecordFailed,  // the capture device cannot be opened or failed
    ChannelAlloc,  // all channels busy
    DspInUse,      // the unit is already in a chain
    DspNotFound,   // the unit is not in this chain
    SoundInUse,    // the sound is being recorded into
    Memory,        // the sound does not fit in memory
};
const char* resultString(Result result);

// Failures are reported here, when the host sets a callback. Messages of the
// mixer and capture threads are deferred and reported from System::update()
// on the control thread. The callback may be called from any control thread.
using LogCallback = void (*)(Result result, const char* message, void* context);
void setLogCallback(LogCallback callback, void* context);

enum class OutputType : int {
    AutoDetect = 0,    // the process default: the audio server, or the in-process backend
    NoSoundNrt = 4,    // each update() renders one block and discards it
    WavWriterNrt = 5,  // each update() renders one block into a 16-bit mono WAV file
    Pulse = 100,       // the audio server (PulseAudio or pipewire-pulse)
    InProcess = 101,   // named test devices, see platform/audiolib/inprocess.h
};

// The mixer is mono; Stereo is only reported by driver info.
enum class SpeakerMode : int { Default = 0, Raw = 1, Mono = 2, Stereo = 3 };

// Sound modes (bit flags; values combine, e.g. kLoopNormal | kOpenUser = 0x402).
using Mode = unsigned;
constexpr Mode kModeDefault = 0x0;  // loop off, sound from a file
constexpr Mode kLoopOff = 0x1;
constexpr Mode kLoopNormal = 0x2;
constexpr Mode kOpenUser = 0x400;  // a silent PCM sound described by CreateSoundInfo
// A file sound read from its file while it plays instead of loaded whole, so
// memory does not grow with its length. The file is read on the thread that
// mixes: for non-real-time outputs (the WAV writer) only.
constexpr Mode kCreateStream = 0x80;

enum class TimeUnit : unsigned { Ms = 1, Pcm = 2, PcmBytes = 4 };

enum class SoundFormat : int { None = 0, Pcm8 = 1, Pcm16 = 2, Pcm24 = 3, Pcm32 = 4, PcmFloat = 5 };

// Describes a user sound (mode kOpenUser). cbsize must be non-zero; set it to
// sizeof(CreateSoundInfo).
struct CreateSoundInfo {
    int cbsize = 0;
    unsigned length = 0;  // bytes
    int numChannels = 0;
    int defaultFrequency = 0;                // Hz
    SoundFormat format = SoundFormat::None;  // Pcm16 only
};

using InitFlags = unsigned;
constexpr InitFlags kInitNormal = 0;

// Opaque 16-byte device identifier (unused by the library, zero-filled).
struct DriverGuid {
    uint8_t bytes[16];
};
using DriverState = unsigned;
constexpr DriverState kDriverConnected = 0x1;
constexpr DriverState kDriverDefault = 0x2;

enum class DspType : int { Unknown = 0, Echo = 6, Distortion = 9, Chorus = 14, Tremolo = 22 };

// Parameter indices of the built-in units (DSP::setParameterFloat). Defaults:
// echo delay 500 ms, feedback 50 %, dry 0 dB, wet 0 dB; chorus mix 50 %, rate
// 0.8 Hz, depth 3 %; distortion level 0.5; tremolo 5 Hz, depth 1, triangle.
using EchoParameter = fx::EchoUnit::Parameter;
using ChorusParameter = fx::ChorusUnit::Parameter;
using DistortionParameter = fx::DistortionUnit::Parameter;
using TremoloParameter = fx::TremoloUnit::Parameter;

// The twelve reverb properties, in order; fx::kReverbOff and
// fx::kReverbConcertHall are two ready values.
using ReverbProperties = fx::ReverbProperties;

constexpr int kMixerBlockFrames = 1024;
constexpr int kDspNameLength = 32;  // including the terminating zero
constexpr int kMaxChannels = 4093;

namespace detail {
struct SystemObject;
struct SoundObject;
struct ChannelSlot;
struct GroupObject;
struct DspObject;
}  // namespace detail

class System;
class Sound;
class Channel;
class ChannelGroup;
class DSP;

// What the mixer hands a DSP read callback: the unit being run and the
// per-instance data its host set with DSP::setInstanceData (null by default).
struct DspState;

// Called on the mixer thread once per block, with the mixer lock held; must
// fill outBuffer and return Result::Ok. Buffers hold length * inChannels
// floats (1024 mono frames).
using DspReadCallback = Result (*)(DspState* state, float* inBuffer, float* outBuffer,
                                   unsigned length, int inChannels, int* outChannels);

struct DspDescription {
    char name[kDspNameLength] = {};
    unsigned version = 0;
    int numInputBuffers = 0;
    int numOutputBuffers = 0;
    DspReadCallback read = nullptr;
    void* userData = nullptr;
};

class DSP {
public:
    DSP() = default;
    explicit operator bool() const { return object_ != nullptr; }

    Result release();  // mixer lock when the unit is in a chain
    Result setBypass(bool bypass);
    Result getBypass(bool* bypass) const;
    // name: at least kDspNameLength bytes, or null. Built-in units report
    // channels 1 and config width/height 0.
    Result getInfo(char* name, unsigned* version, int* channels, int* configWidth,
                   int* configHeight) const;
    Result getUserData(void** userData) const;
    // Host data for this instance, reachable from the read callback through
    // DspState::instanceData without touching the description's user data.
    // Mixer lock, once the system is initialised.
    Result setInstanceData(void* data);
    Result getInstanceData(void** data) const;
    Result getType(DspType* type) const;
    // Built-in units only; index from the unit's parameter enum.
    Result setParameterFloat(int index, float value);
    Result getParameterFloat(int index, float* value) const;

    bool operator==(const DSP& other) const { return object_ == other.object_; }
    bool operator!=(const DSP& other) const { return object_ != other.object_; }

private:
    friend class System;
    friend class ChannelGroup;
    friend struct detail::DspObject;
    friend struct detail::GroupObject;
    std::shared_ptr<detail::DspObject> object_;
};

struct DspState {
    DSP instance;
    void* instanceData = nullptr;
};

class Sound {
public:
    Sound() = default;
    explicit operator bool() const { return object_ != nullptr; }

    // Stops channels playing the sound and any recording into it. Mixer
    // lock; joins the capture thread of a recording into it.
    Result release();
    Result getLength(unsigned* length, TimeUnit unit) const;
    Result getFormat(SoundFormat* format, int* channels) const;
    Result getDefaults(float* frequency) const;
    Result getMode(Mode* mode) const;

private:
    friend class System;
    friend struct detail::SystemObject;
    std::shared_ptr<detail::SoundObject> object_;
};

// A channel stays valid after it has ended (isPlaying reports false) until its
// slot is reused by a later playSound or its system is closed.
class Channel {
public:
    Channel() = default;
    explicit operator bool() const { return slot_ != nullptr; }

    Result getPosition(unsigned* position, TimeUnit unit) const;
    Result setPosition(unsigned position, TimeUnit unit);  // mixer lock
    // Playback rate in Hz: the sound's default frequency plays at its pitch.
    Result setFrequency(float frequency);
    Result getFrequency(float* frequency) const;
    Result setPaused(bool paused);
    Result getPaused(bool* paused) const;
    Result isPlaying(bool* playing) const;
    Result stop();

private:
    friend class System;
    std::shared_ptr<detail::ChannelSlot> slot_;
    uint64_t generation_ = 0;
};

// The master channel group: every channel is mixed into it, then its DSP chain
// runs. Index 0 of the chain is the head, the last unit before the output; a
// unit added at index 0 therefore runs after all units already there.
class ChannelGroup {
public:
    ChannelGroup() = default;
    explicit operator bool() const { return object_ != nullptr; }

    // index 0 .. getNumDSPs(); 0 = head (runs last). Mixer lock (the new
    // chain is built before it is taken).
    Result addDSP(int index, DSP dsp);
    Result removeDSP(DSP dsp);  // mixer lock
    Result getNumDSPs(int* count) const;
    Result getDSP(int index, DSP* dsp) const;

private:
    friend class System;
    friend class DSP;
    std::shared_ptr<detail::GroupObject> object_;
};

class System {
public:
    System() = default;
    explicit operator bool() const { return object_ != nullptr; }

    // Closes if needed and invalidates every handle created from this system.
    // Waits as close() does.
    Result release();

    // Before init. Mixer rate 8000..192000 Hz; speaker mode Mono, Default, or
    // Raw with one speaker: the mixer is always mono.
    Result setSoftwareFormat(int sampleRate, SpeakerMode speakerMode, int numRawSpeakers);
    Result getSoftwareFormat(int* sampleRate, SpeakerMode* speakerMode, int* numRawSpeakers) const;
    Result setOutput(OutputType output);
    Result getOutput(OutputType* output) const;

    // Playback drivers: index 0 is the default device (a stream on it follows
    // the default when it changes), then the other devices in server order.
    // The list is read afresh by getNumDrivers; getDriverInfo uses that list.
    // Names are UTF-8, cut at a character boundary to fit nameLength bytes
    // including the terminating zero. Server, for the audio server's output:
    // getNumDrivers always, getDriverInfo when no list has been read.
    Result getNumDrivers(int* count);
    Result getDriverInfo(int id, char* name, int nameLength, DriverGuid* guid, int* systemRate,
                         SpeakerMode* speakerMode, int* speakerModeChannels);
    Result setDriver(int id);  // before init
    Result getDriver(int* id) const;
    // Capture drivers (no monitors), the same order rules and the same
    // waiting. systemRate and speakerModeChannels are the device's native
    // rate and channel count.
    Result getRecordNumDrivers(int* count, int* connected);
    Result getRecordDriverInfo(int id, char* name, int nameLength, DriverGuid* guid,
                               int* systemRate, SpeakerMode* speakerMode, int* speakerModeChannels,
                               DriverState* state);

    // maxChannels 1..kMaxChannels. extraDriverData: the output path (const
    // char*, UTF-8) for the WAV writer; ignored otherwise. Server, for the
    // audio server's output (the driver list, then the playback stream).
    Result init(int maxChannels, InitFlags flags, void* extraDriverData);
    // Stops the mixer, recordings and channels; completes the WAV file, which
    // is written beside its path and replaces it only now, when every block
    // was written (else FileWrite, and the old file stays).
    // Sounds, units and the master group stay valid; init may be called again.
    // Joins the mixer thread (its block in hand and that block's write, up to
    // a block's length) and every capture thread; mixer lock.
    Result close();
    // Reports deferred failures; with a non-real-time output, renders one
    // block on the calling thread (taking the mixer lock itself). The audio
    // server's output reopens a failed playback stream here, at most once a
    // second: server.
    Result update();

    // From a file (mode kModeDefault or kLoopNormal; WAV and the other formats
    // libsndfile reads), or a silent user sound (kOpenUser with info).
    Result createSound(const char* nameOrData, Mode mode, const CreateSoundInfo* info,
                       Sound* sound);
    // group: null handle = master group. Mixer lock.
    Result playSound(Sound sound, ChannelGroup group, bool paused, Channel* channel);
    Result getMasterChannelGroup(ChannelGroup* group);

    // Capture from a record driver into a PCM16 sound of the same or another
    // format (the server converts). With loop the writing wraps round the
    // sound; without, recording stops at its end. Positions in samples.
    // recordStart stops a recording from the same driver first (joins) and
    // opens the capture stream (server); recordStop joins its capture thread.
    Result recordStart(int id, Sound sound, bool loop);
    Result recordStop(int id);
    Result isRecording(int id, bool* recording) const;
    Result getRecordPosition(int id, unsigned* position) const;

    Result createDSP(const DspDescription* description, DSP* dsp);
    Result createDSPByType(DspType type, DSP* dsp);

    // Instance 0 only. The reverb runs after the master chain and adds its wet
    // signal to the dry one; a wet level of -80 dB switches it off. Mixer
    // lock when it switches the reverb on (the room starts empty).
    Result setReverbProperties(int instance, const ReverbProperties* properties);
    Result getReverbProperties(int instance, ReverbProperties* properties) const;

    // Blocks rendered since init (for tests and diagnostics).
    Result getMixedBlocks(uint64_t* blocks) const;
    // Times since init the audio server's playback found no mixed audio
    // queued (the mixer fell behind the device); 0 for the other outputs.
    Result getUnderrunCount(uint64_t* count) const;

private:
    friend Result createSystem(System* system);
    std::shared_ptr<detail::SystemObject> object_;
};

Result createSystem(System* system);

// A silent, looping 16-bit user sound of one second at `rate` Hz and
// `channels` channels: the ring a looping recording runs into.
Result createRecordRing(System& system, int rate, int channels, Sound* ring);

}  // namespace parlune::audiolib
