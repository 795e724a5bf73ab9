#include "platform/audiolib/audiolib.h"

#include <samplerate.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "platform/audiolib/inprocess.h"
#include "platform/audiolib/internal.h"
#include "platform/base/files.h"
#include "platform/base/pcm16.h"

namespace parlune::audiolib {

using detail::DspObject;
using detail::GroupObject;
using detail::SoundObject;
using detail::SystemObject;

const char* resultString(Result result) {
    switch (result) {
        case Result::Ok:
            return "no error";
        case Result::InvalidHandle:
            return "invalid or released handle";
        case Result::InvalidParam:
            return "invalid parameter";
        case Result::NotInitialized:
            return "system not initialised";
        case Result::Initialized:
            return "system already initialised";
        case Result::Unsupported:
            return "unsupported format or mode";
        case Result::FileNotFound:
            return "file not found";
        case Result::FileBad:
            return "file unreadable or not audio";
        case Result::FileWrite:
            return "output file cannot be written";
        case Result::OutputInit:
            return "output device cannot be opened";
        case Result::RecordFailed:
            return "capture device cannot be opened";
        case Result::ChannelAlloc:
            return "no free channel";
        case Result::DspInUse:
            return "unit already in a chain";
        case Result::DspNotFound:
            return "unit not in this chain";
        case Result::SoundInUse:
            return "sound in use";
        case Result::Memory:
            return "not enough memory";
    }
    return "unknown result";
}

namespace {

// A file sound is decoded into memory whole; beyond this it is refused.
constexpr uint64_t kMaxSoundFileBytes = uint64_t(2) << 30;
// A stream sound is read as it plays: the WAV format's own limit.
constexpr uint64_t kMaxStreamFileBytes = uint64_t(4) << 30;
// A stream sound's decode buffer, in frames.
constexpr size_t kStreamBufferFrames = 1024;
std::mutex logMutex;
LogCallback logCallback = nullptr;
void* logContext = nullptr;

bool live(const std::shared_ptr<SystemObject>& s) { return s && s->alive.load(); }
bool live(const std::shared_ptr<SoundObject>& s) { return s && s->alive.load(); }
bool live(const std::shared_ptr<DspObject>& s) { return s && s->alive.load(); }
bool live(const std::shared_ptr<GroupObject>& s) { return s && s->alive.load(); }

// Copies `text` into a buffer of `size` bytes, cut at a UTF-8 character
// boundary so a long name never ends in half a character.
void copyName(const std::string& text, char* buffer, int size) {
    if (!buffer || size <= 0) return;
    size_t length = std::min(text.size(), static_cast<size_t>(size - 1));
    if (length < text.size())
        while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80) --length;
    std::memcpy(buffer, text.data(), length);
    buffer[length] = '\0';
}

Result fail(Result result, const std::string& message) {
    detail::logFailure(result, message);
    return result;
}

// Frames of a sound in the given unit.
Result framesToUnit(uint64_t frames, const SoundObject& sound, TimeUnit unit, unsigned* out) {
    switch (unit) {
        case TimeUnit::Pcm:
            *out = static_cast<unsigned>(frames);
            return Result::Ok;
        case TimeUnit::Ms:
            *out = static_cast<unsigned>(frames * 1000 / sound.rate);
            return Result::Ok;
        case TimeUnit::PcmBytes:
            *out = static_cast<unsigned>(frames * sound.channels * sound.bytesPerSample);
            return Result::Ok;
    }
    return Result::InvalidParam;
}

Result unitToFrames(unsigned value, const SoundObject& sound, TimeUnit unit, uint64_t* frames) {
    switch (unit) {
        case TimeUnit::Pcm:
            *frames = value;
            return Result::Ok;
        case TimeUnit::Ms:
            *frames = static_cast<uint64_t>(value) * sound.rate / 1000;
            return Result::Ok;
        case TimeUnit::PcmBytes:
            *frames = value / (sound.channels * sound.bytesPerSample);
            return Result::Ok;
    }
    return Result::InvalidParam;
}

int bytesOfSubtype(int format) {
    switch (format & SF_FORMAT_SUBMASK) {
        case SF_FORMAT_PCM_S8:
        case SF_FORMAT_PCM_U8:
            return 1;
        case SF_FORMAT_PCM_24:
            return 3;
        case SF_FORMAT_PCM_32:
        case SF_FORMAT_FLOAT:
            return 4;
        case SF_FORMAT_DOUBLE:
            return 8;
        default:
            return 2;
    }
}

SoundFormat formatOfSubtype(int format) {
    switch (format & SF_FORMAT_SUBMASK) {
        case SF_FORMAT_PCM_S8:
        case SF_FORMAT_PCM_U8:
            return SoundFormat::Pcm8;
        case SF_FORMAT_PCM_24:
            return SoundFormat::Pcm24;
        case SF_FORMAT_PCM_32:
            return SoundFormat::Pcm32;
        case SF_FORMAT_FLOAT:
        case SF_FORMAT_DOUBLE:
            return SoundFormat::PcmFloat;
        default:
            return SoundFormat::Pcm16;
    }
}

// Stops every channel playing `sound` (all of them when null). Caller holds
// no mixer lock.
void stopChannels(detail::Mixer& mixer, const SoundObject* sound) {
    std::vector<std::shared_ptr<SoundObject>> dropped;
    dropped.reserve(mixer.slots.size());  // the mixer waits on the lock: no allocation under it
    {
        std::lock_guard<std::mutex> guard(mixer.lock);
        for (auto& slot : mixer.slots) {
            if (!slot->sound || (sound && slot->sound.get() != sound)) continue;
            slot->playing.store(false);
            dropped.push_back(std::move(slot->sound));
        }
    }
}  // sounds are freed here, outside the lock
}  // namespace

void setLogCallback(LogCallback callback, void* context) {
    std::lock_guard<std::mutex> guard(logMutex);
    logCallback = callback;
    logContext = context;
}

namespace detail {
void logFailure(Result result, const std::string& message) {
    LogCallback callback;
    void* context;
    {
        std::lock_guard<std::mutex> guard(logMutex);
        callback = logCallback;
        context = logContext;
    }
    // Called outside the lock, so the callback may itself change the callback.
    if (callback) callback(result, message.c_str(), context);
}

OutputType SystemObject::effectiveOutput() const {
    if (outputType != OutputType::AutoDetect) return outputType;
    return inprocess::defaultBackend() == inprocess::Backend::InProcess ? OutputType::InProcess
                                                                        : OutputType::Pulse;
}

DeviceBackend* SystemObject::deviceBackend() {
    OutputType type = effectiveOutput();
    if (type != OutputType::Pulse && type != OutputType::InProcess) return nullptr;
    if (!backend) backend = type == OutputType::Pulse ? makePulseBackend() : makeInProcessBackend();
    return backend.get();
}
}  // namespace detail

// ---------------------------------------------------------------- System

Result createSystem(System* system) {
    if (!system) return Result::InvalidParam;
    auto object = std::make_shared<SystemObject>();
    object->master = std::make_shared<GroupObject>();
    object->master->system = object.get();
    system->object_ = std::move(object);
    return Result::Ok;
}

Result createRecordRing(System& system, int rate, int channels, Sound* ring) {
    CreateSoundInfo info;
    info.cbsize = sizeof(info);
    info.length = static_cast<unsigned>(rate * channels * 2);
    info.numChannels = channels;
    info.defaultFrequency = rate;
    info.format = SoundFormat::Pcm16;
    return system.createSound(nullptr, kLoopNormal | kOpenUser, &info, ring);
}

Result System::release() {
    if (!live(object_)) return Result::InvalidHandle;
    close();
    SystemObject& s = *object_;
    s.alive.store(false);
    s.master->alive.store(false);
    s.master->chain.clear();
    for (auto& sound : s.sounds) sound->alive.store(false);
    for (auto& dsp : s.dsps) {
        dsp->alive.store(false);
        dsp->group = nullptr;
        dsp->state.instance = DSP();  // breaks the unit's reference to itself
    }
    s.sounds.clear();
    s.dsps.clear();
    s.backend.reset();
    object_.reset();
    return Result::Ok;
}

Result System::setSoftwareFormat(int sampleRate, SpeakerMode speakerMode, int numRawSpeakers) {
    if (!live(object_)) return Result::InvalidHandle;
    if (object_->initialized) return Result::Initialized;
    if (sampleRate < 8000 || sampleRate > 192000) return Result::InvalidParam;
    bool mono = speakerMode == SpeakerMode::Mono || speakerMode == SpeakerMode::Default ||
                (speakerMode == SpeakerMode::Raw && numRawSpeakers == 1);
    if (!mono) return Result::Unsupported;
    object_->rate = sampleRate;
    return Result::Ok;
}

Result System::getSoftwareFormat(int* sampleRate, SpeakerMode* speakerMode,
                                 int* numRawSpeakers) const {
    if (!live(object_)) return Result::InvalidHandle;
    if (sampleRate) *sampleRate = object_->rate;
    if (speakerMode) *speakerMode = SpeakerMode::Mono;
    if (numRawSpeakers) *numRawSpeakers = 1;
    return Result::Ok;
}

Result System::setOutput(OutputType output) {
    if (!live(object_)) return Result::InvalidHandle;
    if (object_->initialized) return Result::Initialized;
    switch (output) {
        case OutputType::AutoDetect:
        case OutputType::NoSoundNrt:
        case OutputType::WavWriterNrt:
        case OutputType::Pulse:
        case OutputType::InProcess:
            break;
        default:
            return Result::InvalidParam;
    }
    if (output != object_->outputType) {
        object_->backend.reset();
        object_->playbackListRead = object_->recordListRead = false;
    }
    object_->outputType = output;
    return Result::Ok;
}

Result System::getOutput(OutputType* output) const {
    if (!live(object_)) return Result::InvalidHandle;
    if (!output) return Result::InvalidParam;
    *output = object_->effectiveOutput();
    return Result::Ok;
}

Result System::getNumDrivers(int* count) {
    if (!live(object_)) return Result::InvalidHandle;
    if (!count) return Result::InvalidParam;
    *count = 0;
    SystemObject& s = *object_;
    s.playbackList.clear();
    s.playbackListRead = true;
    if (detail::DeviceBackend* backend = s.deviceBackend()) {
        Result r = backend->playbackDrivers(&s.playbackList);
        if (r != Result::Ok) return r;
    }
    *count = static_cast<int>(s.playbackList.size());
    return Result::Ok;
}

Result System::getDriverInfo(int id, char* name, int nameLength, DriverGuid* guid, int* systemRate,
                             SpeakerMode* speakerMode, int* speakerModeChannels) {
    if (!live(object_)) return Result::InvalidHandle;
    SystemObject& s = *object_;
    if (!s.playbackListRead) {
        int count = 0;
        getNumDrivers(&count);
    }
    if (id < 0 || id >= static_cast<int>(s.playbackList.size())) return Result::InvalidParam;
    const detail::DriverEntry& d = s.playbackList[id];
    copyName(d.name, name, nameLength);
    if (guid) std::memset(guid, 0, sizeof(*guid));
    if (systemRate) *systemRate = d.rate;
    if (speakerMode)
        *speakerMode = d.channels == 1   ? SpeakerMode::Mono
                       : d.channels == 2 ? SpeakerMode::Stereo
                                         : SpeakerMode::Raw;
    if (speakerModeChannels) *speakerModeChannels = d.channels;
    return Result::Ok;
}

Result System::setDriver(int id) {
    if (!live(object_)) return Result::InvalidHandle;
    if (object_->initialized) return Result::Initialized;
    if (id < 0) return Result::InvalidParam;
    if (object_->playbackListRead && id >= static_cast<int>(object_->playbackList.size()) &&
        id != 0)
        return Result::InvalidParam;
    object_->driver = id;
    return Result::Ok;
}

Result System::getDriver(int* id) const {
    if (!live(object_)) return Result::InvalidHandle;
    if (!id) return Result::InvalidParam;
    *id = object_->driver;
    return Result::Ok;
}

Result System::getRecordNumDrivers(int* count, int* connected) {
    if (!live(object_)) return Result::InvalidHandle;
    if (!count && !connected) return Result::InvalidParam;
    if (count) *count = 0;
    if (connected) *connected = 0;
    SystemObject& s = *object_;
    s.recordList.clear();
    s.recordListRead = true;
    if (detail::DeviceBackend* backend = s.deviceBackend()) {
        Result r = backend->recordDrivers(&s.recordList);
        if (r != Result::Ok) return r;
    }
    if (count) *count = static_cast<int>(s.recordList.size());
    if (connected) *connected = static_cast<int>(s.recordList.size());
    return Result::Ok;
}

Result System::getRecordDriverInfo(int id, char* name, int nameLength, DriverGuid* guid,
                                   int* systemRate, SpeakerMode* speakerMode,
                                   int* speakerModeChannels, DriverState* state) {
    if (!live(object_)) return Result::InvalidHandle;
    SystemObject& s = *object_;
    if (!s.recordListRead) {
        int count = 0;
        getRecordNumDrivers(&count, nullptr);
    }
    if (id < 0 || id >= static_cast<int>(s.recordList.size())) return Result::InvalidParam;
    const detail::DriverEntry& d = s.recordList[id];
    copyName(d.name, name, nameLength);
    if (guid) std::memset(guid, 0, sizeof(*guid));
    if (systemRate) *systemRate = d.rate;
    if (speakerMode)
        *speakerMode = d.channels == 1   ? SpeakerMode::Mono
                       : d.channels == 2 ? SpeakerMode::Stereo
                                         : SpeakerMode::Raw;
    if (speakerModeChannels) *speakerModeChannels = d.channels;
    if (state) *state = kDriverConnected | (d.isDefault ? kDriverDefault : 0);
    return Result::Ok;
}

Result System::init(int maxChannels, InitFlags, void* extraDriverData) {
    if (!live(object_)) return Result::InvalidHandle;
    SystemObject& s = *object_;
    if (s.initialized) return Result::Initialized;
    if (maxChannels < 1 || maxChannels > kMaxChannels) return Result::InvalidParam;

    auto mixer = std::make_unique<detail::Mixer>(&s, s.rate, maxChannels);
    mixer->reverb.setProperties(s.reverbProperties);
    mixer->reverbActive.store(s.reverbProperties.wetLevel > -80.0f);
    Result result = Result::Ok;
    std::unique_ptr<detail::Output> output;
    switch (s.effectiveOutput()) {
        case OutputType::WavWriterNrt:
            if (!extraDriverData)
                return fail(Result::InvalidParam, "the WAV writer needs an output path");
            output = detail::makeNonRealTimeOutput(
                mixer.get(), static_cast<const char*>(extraDriverData), &result);
            break;
        case OutputType::NoSoundNrt:
            output = detail::makeNonRealTimeOutput(mixer.get(), nullptr, &result);
            break;
        default: {
            detail::DeviceBackend* backend = s.deviceBackend();
            int count = 0;
            Result listed = getNumDrivers(&count);
            if (listed != Result::Ok || count == 0)
                return fail(Result::OutputInit, "no playback device to open");
            if (s.driver >= count)
                return fail(Result::InvalidParam, "playback driver index out of range");
            detail::DriverEntry driver = s.playbackList[s.driver];
            if (s.driver == 0) driver.device.clear();  // follow the default device
            output = backend->openOutput(mixer.get(), driver, &s.failures, &result);
            break;
        }
    }
    if (!output)
        return fail(result == Result::Ok ? Result::OutputInit : result,
                    "the output cannot be opened");
    s.mixer = std::move(mixer);
    s.maxChannels = maxChannels;
    s.initialized = true;
    result = output->start();
    if (result != Result::Ok) {
        s.mixer.reset();
        s.initialized = false;
        return fail(result, "the output cannot be started");
    }
    s.output = std::move(output);
    return Result::Ok;
}

Result System::close() {
    if (!live(object_)) return Result::InvalidHandle;
    SystemObject& s = *object_;
    if (!s.initialized) return Result::NotInitialized;
    const Result finished = s.output ? s.output->finish() : Result::Ok;
    s.output.reset();
    for (auto& entry : s.recorders) entry.second.recorder->stop();
    s.recorders.clear();
    stopChannels(*s.mixer, nullptr);
    for (auto& slot : s.mixer->slots) slot->generation.fetch_add(1);
    s.failures.report();
    s.mixer.reset();
    s.initialized = false;
    return finished;
}

Result System::update() {
    if (!live(object_)) return Result::InvalidHandle;
    SystemObject& s = *object_;
    if (!s.initialized) return Result::NotInitialized;
    Result result = s.output->update();
    for (auto& entry : s.recorders) entry.second.recorder->update();
    s.failures.report();
    return result;
}

Result System::createSound(const char* nameOrData, Mode mode, const CreateSoundInfo* info,
                           Sound* sound) {
    if (!live(object_)) return Result::InvalidHandle;
    if (!sound) return Result::InvalidParam;
    *sound = Sound();
    SystemObject& s = *object_;
    if (!s.initialized) return Result::NotInitialized;
    auto object = std::make_shared<SoundObject>();
    object->system = &s;
    object->mode = mode;

    if (mode & kOpenUser) {
        if (!info || info->cbsize <= 0 || info->numChannels < 1 || info->numChannels > 32 ||
            info->defaultFrequency <= 0)
            return Result::InvalidParam;
        if (info->format != SoundFormat::Pcm16) return Result::Unsupported;
        object->channels = info->numChannels;
        object->rate = info->defaultFrequency;
        object->format = SoundFormat::Pcm16;
        object->bytesPerSample = 2;
        object->frames = info->length / (2u * info->numChannels);
        if (object->frames == 0) return Result::InvalidParam;
        size_t samples = object->frames * object->channels;
        object->ringData.reset(new (std::nothrow) std::atomic<int16_t>[samples]);
        if (!object->ringData)
            return fail(Result::Memory, "a user sound of that length does not fit");
        for (size_t i = 0; i < samples; ++i)
            object->ringData[i].store(0, std::memory_order_relaxed);
    } else {
        if (!nameOrData) return Result::InvalidParam;
        SF_INFO sfInfo{};
        // Only a regular file: a FIFO would block here, a device never end.
        std::string why;
        const int fd = base::openRegularFile(
            nameOrData, (mode & kCreateStream) ? kMaxStreamFileBytes : kMaxSoundFileBytes, &why);
        if (fd < 0)
            return fail(errno == ENOENT ? Result::FileNotFound : Result::FileBad,
                        std::string("cannot open ") + nameOrData + ": " + why);
        SNDFILE* file = sf_open_fd(fd, SFM_READ, &sfInfo, SF_TRUE);
        if (!file) {
            ::close(fd);
            return fail(Result::FileBad, std::string("not a readable audio file: ") + nameOrData);
        }
        object->channels = sfInfo.channels;
        object->rate = sfInfo.samplerate;
        object->format = formatOfSubtype(sfInfo.format);
        object->bytesPerSample = bytesOfSubtype(sfInfo.format);
        if (mode & kCreateStream) {
            if (sfInfo.channels < 1 || sfInfo.channels > 32 || sfInfo.samplerate <= 0) {
                sf_close(file);
                return fail(Result::FileBad, std::string("no audio in ") + nameOrData);
            }
            object->stream = file;
            object->streamBuffer.assign(kStreamBufferFrames * sfInfo.channels, 0.0f);
            object->frames = sfInfo.frames > 0 ? static_cast<uint64_t>(sfInfo.frames) : 0;
            s.sounds.push_back(object);
            sound->object_ = std::move(object);
            return Result::Ok;
        }
        try {
            object->fileData.resize(static_cast<size_t>(sfInfo.frames) * sfInfo.channels);
        } catch (const std::bad_alloc&) {
            sf_close(file);
            return fail(Result::Memory, std::string("too long to load: ") + nameOrData);
        }
        sf_count_t got = sf_readf_float(file, object->fileData.data(), sfInfo.frames);
        sf_close(file);
        object->frames = got > 0 ? static_cast<uint64_t>(got) : 0;
        object->fileData.resize(object->frames * object->channels);
        base::silenceNonFinite(object->fileData.data(), object->fileData.size());
    }
    s.sounds.push_back(object);
    sound->object_ = std::move(object);
    return Result::Ok;
}

Result System::playSound(Sound sound, ChannelGroup group, bool paused, Channel* channel) {
    if (!live(object_)) return Result::InvalidHandle;
    if (channel) *channel = Channel();
    SystemObject& s = *object_;
    if (!s.initialized) return Result::NotInitialized;
    if (!live(sound.object_)) return Result::InvalidHandle;
    if (sound.object_->system != &s) return Result::InvalidParam;
    if (group && (!live(group.object_) || group.object_->system != &s))
        return Result::InvalidHandle;

    detail::Mixer& mixer = *s.mixer;
    // Round robin, so a finished channel's handle stays valid a while.
    std::shared_ptr<detail::ChannelSlot> slot;
    for (size_t i = 0; i < mixer.slots.size() && !slot; ++i) {
        auto& candidate = mixer.slots[(mixer.nextSlot + i) % mixer.slots.size()];
        if (!candidate->playing.load()) {
            slot = candidate;
            mixer.nextSlot = (mixer.nextSlot + i + 1) % mixer.slots.size();
        }
    }
    if (!slot) return fail(Result::ChannelAlloc, "all channels are busy");
    if (!slot->resampler) {
        int error = 0;
        slot->resampler =
            src_callback_new(detail::feedChannel, SRC_SINC_FASTEST, 1, &error, slot.get());
        if (!slot->resampler) return fail(Result::Unsupported, src_strerror(error));
    }
    std::shared_ptr<SoundObject> previous;
    {
        std::lock_guard<std::mutex> guard(mixer.lock);
        previous = std::move(slot->sound);
        slot->sound = sound.object_;
        slot->frequency.store(static_cast<float>(sound.object_->rate));
        slot->position.store(0);
        slot->resampling = false;
        slot->paused.store(paused);
        slot->generation.fetch_add(1);
        slot->playing.store(true);
    }
    if (channel) {
        channel->slot_ = slot;
        channel->generation_ = slot->generation.load();
    }
    return Result::Ok;
}

Result System::getMasterChannelGroup(ChannelGroup* group) {
    if (!live(object_)) return Result::InvalidHandle;
    if (!group) return Result::InvalidParam;
    group->object_ = object_->master;
    return Result::Ok;
}

Result System::recordStart(int id, Sound sound, bool loop) {
    if (!live(object_)) return Result::InvalidHandle;
    SystemObject& s = *object_;
    if (!s.initialized) return Result::NotInitialized;
    if (!live(sound.object_)) return Result::InvalidHandle;
    if (sound.object_->system != &s) return Result::InvalidParam;
    if (!sound.object_->ringData) return Result::Unsupported;
    detail::DeviceBackend* backend = s.deviceBackend();
    if (!backend) return Result::Unsupported;
    if (!s.recordListRead) {
        int count = 0;
        getRecordNumDrivers(&count, nullptr);
    }
    if (id < 0 || id >= static_cast<int>(s.recordList.size())) return Result::InvalidParam;
    recordStop(id);
    detail::DriverEntry driver = s.recordList[id];
    if (id == 0) driver.device.clear();
    Result result = Result::Ok;
    auto target = std::make_unique<detail::RecordTarget>(sound.object_, loop);
    auto recorder = backend->openRecorder(driver, std::move(target), &s.failures, &result);
    if (!recorder)
        return fail(result == Result::Ok ? Result::RecordFailed : result,
                    "cannot record from " + driver.name);
    s.recorders[id] = SystemObject::Recording{std::move(recorder), sound.object_.get()};
    return Result::Ok;
}

Result System::recordStop(int id) {
    if (!live(object_)) return Result::InvalidHandle;
    auto it = object_->recorders.find(id);
    if (it == object_->recorders.end()) return Result::Ok;
    it->second.recorder->stop();
    object_->recorders.erase(it);
    return Result::Ok;
}

Result System::isRecording(int id, bool* recording) const {
    if (!live(object_)) return Result::InvalidHandle;
    if (!recording) return Result::InvalidParam;
    auto it = object_->recorders.find(id);
    *recording = it != object_->recorders.end() && it->second.recorder->recording();
    return Result::Ok;
}

Result System::getRecordPosition(int id, unsigned* position) const {
    if (!live(object_)) return Result::InvalidHandle;
    if (!position) return Result::InvalidParam;
    auto it = object_->recorders.find(id);
    *position = it == object_->recorders.end() ? 0 : it->second.recorder->position();
    return Result::Ok;
}

Result System::createDSP(const DspDescription* description, DSP* dsp) {
    if (!live(object_)) return Result::InvalidHandle;
    if (!description || !dsp) return Result::InvalidParam;
    *dsp = DSP();
    if (!object_->initialized) return Result::NotInitialized;
    auto object = std::make_shared<DspObject>();
    object->system = object_.get();
    object->description = *description;
    object->description.name[kDspNameLength - 1] = '\0';
    object->state.instance.object_ = object;
    object_->dsps.push_back(object);
    dsp->object_ = std::move(object);
    return Result::Ok;
}

Result System::createDSPByType(DspType type, DSP* dsp) {
    if (!live(object_)) return Result::InvalidHandle;
    if (!dsp) return Result::InvalidParam;
    *dsp = DSP();
    if (!object_->initialized) return Result::NotInitialized;
    auto unit = detail::makeBuiltinUnit(type, object_->rate);
    if (!unit) return Result::Unsupported;
    auto object = std::make_shared<DspObject>();
    object->system = object_.get();
    object->type = type;
    object->builtin = std::move(unit);
    const char* name = type == DspType::Echo         ? "Echo"
                       : type == DspType::Chorus     ? "Chorus"
                       : type == DspType::Distortion ? "Distortion"
                                                     : "Tremolo";
    std::strncpy(object->description.name, name, kDspNameLength - 1);
    object->description.version = 0x00010000;
    object->description.numInputBuffers = 1;
    object->description.numOutputBuffers = 1;
    object->state.instance.object_ = object;
    object_->dsps.push_back(object);
    dsp->object_ = std::move(object);
    return Result::Ok;
}

Result System::setReverbProperties(int instance, const ReverbProperties* properties) {
    if (!live(object_)) return Result::InvalidHandle;
    if (instance != 0 || !properties) return Result::InvalidParam;
    const float* values = &properties->decayTime;
    for (int i = 0; i < 12; ++i)
        if (!std::isfinite(values[i])) return Result::InvalidParam;
    SystemObject& s = *object_;
    s.reverbProperties = *properties;
    if (!s.mixer) return Result::Ok;
    s.mixer->reverb.setProperties(*properties);
    bool active = properties->wetLevel > -80.0f;
    if (active && !s.mixer->reverbActive.load()) {
        // Switching on starts from an empty room, not from an old tail.
        std::lock_guard<std::mutex> guard(s.mixer->lock);
        s.mixer->reverb.reset();
    }
    s.mixer->reverbActive.store(active);
    return Result::Ok;
}

Result System::getReverbProperties(int instance, ReverbProperties* properties) const {
    if (!live(object_)) return Result::InvalidHandle;
    if (instance != 0 || !properties) return Result::InvalidParam;
    *properties = object_->reverbProperties;
    return Result::Ok;
}

Result System::getMixedBlocks(uint64_t* blocks) const {
    if (!live(object_)) return Result::InvalidHandle;
    if (!blocks) return Result::InvalidParam;
    *blocks = object_->mixer ? object_->mixer->blocks.load() : 0;
    return Result::Ok;
}

Result System::getUnderrunCount(uint64_t* count) const {
    if (!live(object_)) return Result::InvalidHandle;
    if (!count) return Result::InvalidParam;
    *count = object_->output ? object_->output->underruns() : 0;
    return Result::Ok;
}

// ---------------------------------------------------------------- Sound

Result Sound::release() {
    if (!live(object_)) return Result::InvalidHandle;
    SoundObject* sound = object_.get();
    SystemObject& s = *sound->system;
    for (auto it = s.recorders.begin(); it != s.recorders.end();) {
        if (it->second.sound == sound) {
            it->second.recorder->stop();
            it = s.recorders.erase(it);
        } else {
            ++it;
        }
    }
    if (s.mixer) stopChannels(*s.mixer, sound);
    sound->alive.store(false);
    s.sounds.erase(std::remove(s.sounds.begin(), s.sounds.end(), object_), s.sounds.end());
    object_.reset();
    return Result::Ok;
}

Result Sound::getLength(unsigned* length, TimeUnit unit) const {
    if (!live(object_)) return Result::InvalidHandle;
    if (!length) return Result::InvalidParam;
    return framesToUnit(object_->frames, *object_, unit, length);
}

Result Sound::getFormat(SoundFormat* format, int* channels) const {
    if (!live(object_)) return Result::InvalidHandle;
    if (format) *format = object_->format;
    if (channels) *channels = object_->channels;
    return Result::Ok;
}

Result Sound::getDefaults(float* frequency) const {
    if (!live(object_)) return Result::InvalidHandle;
    if (!frequency) return Result::InvalidParam;
    *frequency = static_cast<float>(object_->rate);
    return Result::Ok;
}

Result Sound::getMode(Mode* mode) const {
    if (!live(object_)) return Result::InvalidHandle;
    if (!mode) return Result::InvalidParam;
    *mode = object_->mode;
    return Result::Ok;
}

// ---------------------------------------------------------------- Channel

namespace {
// The slot still belongs to this handle. close() moves every slot's
// generation on, so a matching one also means the system is running.
bool valid(const std::shared_ptr<detail::ChannelSlot>& slot, uint64_t generation) {
    return slot && slot->generation.load() == generation;
}
}  // namespace

Result Channel::getPosition(unsigned* position, TimeUnit unit) const {
    if (!valid(slot_, generation_)) return Result::InvalidHandle;
    if (!position) return Result::InvalidParam;
    // The mixer never replaces slot_->sound, so no lock is needed to read it.
    if (!slot_->sound) return Result::InvalidHandle;
    // The small margin keeps an accumulated 32255.99999 from reading as 32255.
    return framesToUnit(static_cast<uint64_t>(slot_->position.load() + 1e-6), *slot_->sound, unit,
                        position);
}

Result Channel::setPosition(unsigned position, TimeUnit unit) {
    if (!valid(slot_, generation_)) return Result::InvalidHandle;
    std::lock_guard<std::mutex> guard(slot_->system->mixer->lock);
    if (!slot_->sound) return Result::InvalidHandle;
    uint64_t frames = 0;
    Result r = unitToFrames(position, *slot_->sound, unit, &frames);
    if (r != Result::Ok) return r;
    if (frames > slot_->sound->frames) return Result::InvalidParam;
    slot_->position.store(static_cast<double>(frames));
    slot_->resampling = false;  // the resampler restarts from the new place
    return Result::Ok;
}

Result Channel::setFrequency(float frequency) {
    if (!valid(slot_, generation_)) return Result::InvalidHandle;
    if (!(frequency > 0.0f) || !std::isfinite(frequency)) return Result::InvalidParam;
    slot_->frequency.store(frequency);
    return Result::Ok;
}

Result Channel::getFrequency(float* frequency) const {
    if (!valid(slot_, generation_)) return Result::InvalidHandle;
    if (!frequency) return Result::InvalidParam;
    *frequency = slot_->frequency.load();
    return Result::Ok;
}

Result Channel::setPaused(bool paused) {
    if (!valid(slot_, generation_)) return Result::InvalidHandle;
    slot_->paused.store(paused);
    return Result::Ok;
}

Result Channel::getPaused(bool* paused) const {
    if (!valid(slot_, generation_)) return Result::InvalidHandle;
    if (!paused) return Result::InvalidParam;
    *paused = slot_->paused.load();
    return Result::Ok;
}

Result Channel::isPlaying(bool* playing) const {
    if (!valid(slot_, generation_)) return Result::InvalidHandle;
    if (!playing) return Result::InvalidParam;
    *playing = slot_->playing.load();
    return Result::Ok;
}

Result Channel::stop() {
    if (!valid(slot_, generation_)) return Result::InvalidHandle;
    slot_->playing.store(false);
    return Result::Ok;
}

// ---------------------------------------------------------------- ChannelGroup

Result ChannelGroup::addDSP(int index, DSP dsp) {
    if (!live(object_)) return Result::InvalidHandle;
    if (!live(dsp.object_)) return Result::InvalidHandle;
    GroupObject& group = *object_;
    DspObject& unit = *dsp.object_;
    if (unit.system != group.system) return Result::InvalidParam;
    if (unit.group) return Result::DspInUse;
    if (index < 0 || index > static_cast<int>(group.chain.size())) return Result::InvalidParam;
    // The new chain is built outside the lock the mixer takes every block;
    // only the swap happens under it, and the old one is freed after.
    std::vector<DspObject*> chain;
    chain.reserve(group.chain.size() + 1);
    chain.assign(group.chain.begin(), group.chain.end());
    chain.insert(chain.begin() + index, &unit);
    detail::Mixer* mixer = group.system->mixer.get();
    std::unique_lock<std::mutex> guard;
    if (mixer) guard = std::unique_lock<std::mutex>(mixer->lock);
    group.chain.swap(chain);
    unit.group = &group;
    return Result::Ok;
}

Result ChannelGroup::removeDSP(DSP dsp) {
    if (!live(object_)) return Result::InvalidHandle;
    if (!live(dsp.object_)) return Result::InvalidHandle;
    GroupObject& group = *object_;
    if (dsp.object_->group != &group) return Result::DspNotFound;
    detail::Mixer* mixer = group.system->mixer.get();
    std::unique_lock<std::mutex> guard;
    if (mixer) guard = std::unique_lock<std::mutex>(mixer->lock);
    group.chain.erase(std::remove(group.chain.begin(), group.chain.end(), dsp.object_.get()),
                      group.chain.end());
    dsp.object_->group = nullptr;
    return Result::Ok;
}

Result ChannelGroup::getNumDSPs(int* count) const {
    if (!live(object_)) return Result::InvalidHandle;
    if (!count) return Result::InvalidParam;
    *count = static_cast<int>(object_->chain.size());
    return Result::Ok;
}

Result ChannelGroup::getDSP(int index, DSP* dsp) const {
    if (!live(object_)) return Result::InvalidHandle;
    if (!dsp) return Result::InvalidParam;
    *dsp = DSP();
    if (index < 0 || index >= static_cast<int>(object_->chain.size())) return Result::InvalidParam;
    *dsp = object_->chain[index]->state.instance;
    return Result::Ok;
}

// ---------------------------------------------------------------- DSP

Result DSP::release() {
    if (!live(object_)) return Result::InvalidHandle;
    DspObject& unit = *object_;
    if (unit.group) {
        ChannelGroup group;
        group.object_ = unit.system->master;
        group.removeDSP(*this);
    }
    unit.alive.store(false);
    auto& list = unit.system->dsps;
    list.erase(std::remove(list.begin(), list.end(), object_), list.end());
    std::shared_ptr<DspObject> keep = std::move(object_);
    keep->state.instance = DSP();
    return Result::Ok;
}

Result DSP::setBypass(bool bypass) {
    if (!live(object_)) return Result::InvalidHandle;
    bool was = object_->bypass.exchange(bypass);
    if (was && !bypass && object_->builtin) object_->resetPending.store(true);
    return Result::Ok;
}

Result DSP::getBypass(bool* bypass) const {
    if (!live(object_)) return Result::InvalidHandle;
    if (!bypass) return Result::InvalidParam;
    *bypass = object_->bypass.load();
    return Result::Ok;
}

Result DSP::getInfo(char* name, unsigned* version, int* channels, int* configWidth,
                    int* configHeight) const {
    if (!live(object_)) return Result::InvalidHandle;
    if (name) std::memcpy(name, object_->description.name, kDspNameLength);
    if (version) *version = object_->description.version;
    if (channels) *channels = 1;
    if (configWidth) *configWidth = 0;
    if (configHeight) *configHeight = 0;
    return Result::Ok;
}

Result DSP::getUserData(void** userData) const {
    if (!live(object_)) return Result::InvalidHandle;
    if (!userData) return Result::InvalidParam;
    *userData = object_->description.userData;
    return Result::Ok;
}

Result DSP::setInstanceData(void* data) {
    if (!live(object_)) return Result::InvalidHandle;
    detail::Mixer* mixer = object_->system->mixer.get();
    std::unique_lock<std::mutex> guard;
    if (mixer) guard = std::unique_lock<std::mutex>(mixer->lock);
    object_->state.instanceData = data;
    return Result::Ok;
}

Result DSP::getInstanceData(void** data) const {
    if (!live(object_)) return Result::InvalidHandle;
    if (!data) return Result::InvalidParam;
    *data = object_->state.instanceData;
    return Result::Ok;
}

Result DSP::getType(DspType* type) const {
    if (!live(object_)) return Result::InvalidHandle;
    if (!type) return Result::InvalidParam;
    *type = object_->type;
    return Result::Ok;
}

Result DSP::setParameterFloat(int index, float value) {
    if (!live(object_)) return Result::InvalidHandle;
    if (!object_->builtin) return Result::Unsupported;
    return object_->builtin->setParameter(index, value) ? Result::Ok : Result::InvalidParam;
}

Result DSP::getParameterFloat(int index, float* value) const {
    if (!live(object_)) return Result::InvalidHandle;
    if (!object_->builtin) return Result::Unsupported;
    return object_->builtin->getParameter(index, value) ? Result::Ok : Result::InvalidParam;
}

}  // namespace parlune::audiolib
