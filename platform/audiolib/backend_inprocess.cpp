// The in-process backend: test devices on a simulated clock. One hub holds
// the devices, the clock and every running mixer and capture of in-process
// systems, and runs their events in time order, either when advance() is
// called (manual clock) or on its own thread (real-time clock).
#include "platform/audiolib/inprocess.h"

#include <samplerate.h>
#include <sndfile.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <sstream>
#include <thread>

#include "platform/audiolib/internal.h"
#include "platform/base/pcm16.h"

namespace parlune::audiolib {

namespace {
using Clock = std::chrono::steady_clock;
constexpr size_t kPlayedCapacitySeconds = 120;

class Event {
public:
    virtual ~Event() = default;
    virtual int64_t nextNs() const = 0;  // INT64_MAX: nothing more to do
    virtual void run() = 0;              // called with the hub locked
};

struct PlayedBuffer {
    std::vector<float> samples;  // reserved up front; blocks beyond it are dropped
};

struct Hub {
    std::mutex mutex;
    std::condition_variable wake;
    std::vector<inprocess::PlaybackDevice> playback;
    std::vector<inprocess::CaptureDevice> capture;
    bool configured = false;
    std::vector<std::string> unplugged;
    std::map<std::string, PlayedBuffer> played;
    std::vector<Event*> events;
    inprocess::ClockMode mode = inprocess::ClockMode::Manual;
    double speed = 1.0;
    int64_t nowNs = 0, originNs = 0;
    Clock::time_point wallAnchor;
    int64_t simAnchor = 0;
    inprocess::Backend backend = inprocess::Backend::Pulse;
    std::thread thread;
    bool threadRunning = false;

    ~Hub() {
        std::unique_lock<std::mutex> lock(mutex);
        mode = inprocess::ClockMode::Manual;
        wake.notify_all();
        lock.unlock();
        if (thread.joinable()) thread.join();
    }

    void ensureConfigured() {  // caller holds the lock
        if (configured) return;
        playback = {{"Speaker", 48000, 2}, {"Headphones", 44100, 2}};
        capture.clear();
        inprocess::CaptureDevice mic;
        mic.name = "Microphone";
        mic.rate = 48000;
        mic.channels = 1;
        mic.toneHz = 220.0;
        inprocess::CaptureDevice line;
        line.name = "Line In";
        line.rate = 44100;
        line.channels = 2;
        capture = {mic, line};
        configured = true;
    }

    Event* due(int64_t limitNs) {  // the earliest event at or before limitNs
        Event* best = nullptr;
        for (Event* e : events)
            if (e->nextNs() <= limitNs && (!best || e->nextNs() < best->nextNs())) best = e;
        return best;
    }

    void runRealTime() {
        std::unique_lock<std::mutex> lock(mutex);
        while (mode == inprocess::ClockMode::RealTime) {
            Event* next = due(INT64_MAX - 1);
            if (!next) {
                wake.wait_for(lock, std::chrono::milliseconds(20));
                continue;
            }
            int64_t at = next->nextNs();
            auto wall = wallAnchor +
                        std::chrono::nanoseconds(static_cast<int64_t>((at - simAnchor) / speed));
            if (Clock::now() < wall) {
                wake.wait_until(lock, wall);
                continue;  // the set of events may have changed meanwhile
            }
            nowNs = std::max(nowNs, at);
            next->run();
        }
        threadRunning = false;
    }

    void setMode(inprocess::ClockMode newMode, double newSpeed) {
        std::unique_lock<std::mutex> lock(mutex);
        speed = newSpeed > 0 ? newSpeed : 1.0;
        wallAnchor = Clock::now();
        simAnchor = nowNs;
        mode = newMode;
        wake.notify_all();
        if (mode == inprocess::ClockMode::Manual) {
            lock.unlock();
            if (thread.joinable() && thread.get_id() != std::this_thread::get_id()) thread.join();
            return;
        }
        if (!threadRunning) {
            lock.unlock();
            if (thread.joinable()) thread.join();
            lock.lock();
            threadRunning = true;
            thread = std::thread([this] { runRealTime(); });
        }
    }

    void add(Event* e) {
        std::lock_guard<std::mutex> guard(mutex);
        events.push_back(e);
        wake.notify_all();
    }
    void remove(Event* e) {
        std::lock_guard<std::mutex> guard(mutex);
        events.erase(std::remove(events.begin(), events.end(), e), events.end());
    }
    int64_t now() {
        std::lock_guard<std::mutex> guard(mutex);
        return nowNs;
    }
};

bool configureText(Hub& hub, const std::string& text);

Hub& hub() {
    static Hub* instance = [] {
        auto* h = new Hub;
        const char* backend = std::getenv("PARLUNE_AUDIO_BACKEND");
        if (backend && std::string(backend) == "inprocess") {
            h->backend = inprocess::Backend::InProcess;
            const char* devices = std::getenv("PARLUNE_INPROCESS_DEVICES");
            if (devices) configureText(*h, devices);
            const char* speed = std::getenv("PARLUNE_INPROCESS_SPEED");
            h->setMode(inprocess::ClockMode::RealTime, speed ? std::atof(speed) : 1.0);
        }
        return h;
    }();
    return *instance;
}

// Joins the real-time thread before the process ends.
struct HubShutdown {
    ~HubShutdown() { hub().setMode(inprocess::ClockMode::Manual, 1.0); }
} hubShutdown;

bool configureText(Hub& hub, const std::string& text) {
    std::vector<inprocess::PlaybackDevice> playback;
    std::vector<inprocess::CaptureDevice> capture;
    std::stringstream entries(text);
    std::string entry;
    while (std::getline(entries, entry, ';')) {
        if (entry.empty()) continue;
        std::vector<std::string> fields;
        std::stringstream parts(entry);
        std::string field;
        while (std::getline(parts, field, ':')) fields.push_back(field);
        if (fields.size() < 4) return false;
        int rate = std::atoi(fields[2].c_str()), channels = std::atoi(fields[3].c_str());
        if (rate <= 0 || channels <= 0 || fields[1].empty()) return false;
        if (fields[0] == "play") {
            playback.push_back({fields[1], rate, channels});
        } else if (fields[0] == "rec") {
            inprocess::CaptureDevice d;
            d.name = fields[1];
            d.rate = rate;
            d.channels = channels;
            for (size_t i = 4; i < fields.size(); ++i) {
                auto eq = fields[i].find('=');
                if (eq == std::string::npos) return false;
                std::string key = fields[i].substr(0, eq), value = fields[i].substr(eq + 1);
                if (key == "tone")
                    d.toneHz = std::atof(value.c_str());
                else if (key == "amp")
                    d.amplitude = static_cast<float>(std::atof(value.c_str()));
                else if (key == "chunk")
                    d.chunkMs = static_cast<unsigned>(std::atoi(value.c_str()));
                else if (key == "wav")
                    d.wavPath = value;
                else
                    return false;
            }
            if (d.chunkMs == 0) return false;
            capture.push_back(d);
        } else {
            return false;
        }
    }
    std::lock_guard<std::mutex> guard(hub.mutex);
    hub.playback = playback;
    hub.capture = capture;
    hub.configured = true;
    hub.unplugged.clear();
    return true;
}

// A mixer paced by the hub's clock; what it renders is kept per device.
class InProcessOutput final : public detail::Output, public Event {
public:
    InProcessOutput(detail::Mixer* mixer, std::string device)
        : mixer_(mixer), device_(std::move(device)), block_(kMixerBlockFrames) {}
    ~InProcessOutput() override { stop(); }

    Result start() override {
        Hub& h = hub();
        {
            std::lock_guard<std::mutex> guard(h.mutex);
            startNs_ = h.nowNs;
            std::vector<std::string> names;
            if (device_.empty()) {
                for (auto& d : h.playback) names.push_back(d.name);
            } else {
                names.push_back(device_);
            }
            for (auto& name : names) {
                auto& buffer = h.played[name].samples;
                buffer.reserve(kPlayedCapacitySeconds * mixer_->rate());
            }
        }
        h.add(this);
        started_ = true;
        return Result::Ok;
    }
    Result update() override { return Result::Ok; }
    void stop() override {
        if (started_) hub().remove(this);
        started_ = false;
    }

    int64_t nextNs() const override {
        return startNs_ + static_cast<int64_t>((blocks_ + 1) * kMixerBlockFrames * 1000000000ULL /
                                               mixer_->rate());
    }
    void run() override {
        Hub& h = hub();
        mixer_->renderBlock(block_.data());
        ++blocks_;
        // Driver 0 plays on whatever device is the default now.
        const std::string& name =
            device_.empty() ? (h.playback.empty() ? device_ : h.playback[0].name) : device_;
        auto it = h.played.find(name);
        if (it == h.played.end()) return;
        auto& samples = it->second.samples;
        if (samples.size() + kMixerBlockFrames <= samples.capacity())
            samples.insert(samples.end(), block_.begin(), block_.end());
    }

private:
    detail::Mixer* mixer_;
    std::string device_;  // empty: the default device
    std::vector<float> block_;
    int64_t startNs_ = 0;
    uint64_t blocks_ = 0;
    bool started_ = false;
};

// A capture device delivering its signal into a sound, one chunk per event.
class InProcessRecorder final : public detail::Recorder, public Event {
public:
    InProcessRecorder(const inprocess::CaptureDevice& device,
                      std::unique_ptr<detail::RecordTarget> target, std::vector<float> material)
        : device_(device), target_(std::move(target)), material_(std::move(material)) {
        const detail::SoundObject& sound = target_->sound();
        channels_ = sound.channels;
        rate_ = sound.rate;
        chunk_.resize(static_cast<size_t>(rate_) * device_.chunkMs / 1000 * channels_ + channels_);
        Hub& h = hub();
        {
            std::lock_guard<std::mutex> guard(h.mutex);
            startNs_ = h.nowNs;
        }
        recording_.store(true);
        h.add(this);
    }
    ~InProcessRecorder() override { stop(); }

    bool recording() const override { return recording_.load(); }
    unsigned position() const override { return target_->position(); }
    void stop() override {
        if (stopped_) return;
        stopped_ = true;
        hub().remove(this);
        recording_.store(false);
    }

    int64_t nextNs() const override {
        if (!recording_.load()) return INT64_MAX;
        return startNs_ + static_cast<int64_t>(chunks_ + 1) * device_.chunkMs * 1000000LL;
    }
    void run() override {
        Hub& h = hub();
        if (std::find(h.unplugged.begin(), h.unplugged.end(), device_.name) != h.unplugged.end()) {
            recording_.store(false);
            return;
        }
        ++chunks_;
        uint64_t due = chunks_ * device_.chunkMs * static_cast<uint64_t>(rate_) / 1000;
        size_t count = static_cast<size_t>(due - delivered_);
        for (size_t i = 0; i < count; ++i) {
            uint64_t frame = delivered_ + i;
            for (int c = 0; c < channels_; ++c) chunk_[i * channels_ + c] = sample(frame, c);
        }
        delivered_ = due;
        if (!target_->write(chunk_.data(), count)) recording_.store(false);
    }

private:
    float sample(uint64_t frame, int channel) const {
        if (!material_.empty()) {
            uint64_t frames = material_.size() / channels_;
            return material_[(frame % frames) * channels_ + channel];
        }
        if (device_.generator) {
            uint64_t deviceFrame = frame * static_cast<uint64_t>(device_.rate) / rate_;
            return device_.generator(deviceFrame, channel % device_.channels);
        }
        double t = static_cast<double>(frame) / rate_;
        return device_.amplitude * static_cast<float>(std::sin(2.0 * M_PI * device_.toneHz * t));
    }

    inprocess::CaptureDevice device_;
    std::unique_ptr<detail::RecordTarget> target_;
    std::vector<float> material_;  // the WAV source in the sound's layout, or empty
    std::vector<float> chunk_;
    int channels_ = 1, rate_ = 16000;
    int64_t startNs_ = 0;
    uint64_t chunks_ = 0, delivered_ = 0;
    std::atomic<bool> recording_{false};
    bool stopped_ = false;
};

// A WAV file in the sound's rate and channel layout (channels repeat round).
bool loadMaterial(const std::string& path, int rate, int channels, std::vector<float>* out) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (!file) return false;
    std::vector<float> data(static_cast<size_t>(info.frames) * info.channels);
    sf_count_t frames = sf_readf_float(file, data.data(), info.frames);
    sf_close(file);
    if (frames <= 0) return false;
    base::silenceNonFinite(data.data(), static_cast<size_t>(frames) * info.channels);
    std::vector<float> mapped(static_cast<size_t>(frames) * channels);
    for (sf_count_t f = 0; f < frames; ++f)
        for (int c = 0; c < channels; ++c)
            mapped[f * channels + c] = data[f * info.channels + c % info.channels];
    if (info.samplerate == rate) {
        *out = std::move(mapped);
        return true;
    }
    double ratio = static_cast<double>(rate) / info.samplerate;
    std::vector<float> resampled(static_cast<size_t>(frames * ratio + 16) * channels);
    SRC_DATA src{};
    src.data_in = mapped.data();
    src.input_frames = frames;
    src.data_out = resampled.data();
    src.output_frames = static_cast<long>(resampled.size() / channels);
    src.src_ratio = ratio;
    if (src_simple(&src, SRC_SINC_MEDIUM_QUALITY, channels) != 0) return false;
    resampled.resize(static_cast<size_t>(src.output_frames_gen) * channels);
    *out = std::move(resampled);
    return !out->empty();
}

class InProcessBackend final : public detail::DeviceBackend {
public:
    Result playbackDrivers(std::vector<detail::DriverEntry>* out) override {
        Hub& h = hub();
        std::lock_guard<std::mutex> guard(h.mutex);
        h.ensureConfigured();
        out->clear();
        for (size_t i = 0; i < h.playback.size(); ++i)
            out->push_back({h.playback[i].name, h.playback[i].name, h.playback[i].rate,
                            h.playback[i].channels, i == 0});
        return Result::Ok;
    }
    Result recordDrivers(std::vector<detail::DriverEntry>* out) override {
        Hub& h = hub();
        std::lock_guard<std::mutex> guard(h.mutex);
        h.ensureConfigured();
        out->clear();
        for (size_t i = 0; i < h.capture.size(); ++i)
            out->push_back({h.capture[i].name, h.capture[i].name, h.capture[i].rate,
                            h.capture[i].channels, i == 0});
        return Result::Ok;
    }
    std::unique_ptr<detail::Output> openOutput(detail::Mixer* mixer,
                                               const detail::DriverEntry& driver,
                                               detail::DeferredFailure*, Result* result) override {
        *result = Result::Ok;
        return std::make_unique<InProcessOutput>(mixer, driver.device);
    }
    std::unique_ptr<detail::Recorder> openRecorder(const detail::DriverEntry& driver,
                                                   std::unique_ptr<detail::RecordTarget> target,
                                                   detail::DeferredFailure*,
                                                   Result* result) override {
        Hub& h = hub();
        inprocess::CaptureDevice device;
        {
            std::lock_guard<std::mutex> guard(h.mutex);
            h.ensureConfigured();
            const std::string& name =
                driver.device.empty() && !h.capture.empty() ? h.capture[0].name : driver.device;
            auto it =
                std::find_if(h.capture.begin(), h.capture.end(),
                             [&](const inprocess::CaptureDevice& d) { return d.name == name; });
            bool unplugged =
                std::find(h.unplugged.begin(), h.unplugged.end(), name) != h.unplugged.end();
            if (it == h.capture.end() || unplugged) {
                *result = Result::RecordFailed;
                return nullptr;
            }
            device = *it;
        }
        std::vector<float> material;
        const detail::SoundObject& sound = target->sound();
        if (!device.wavPath.empty() &&
            !loadMaterial(device.wavPath, sound.rate, sound.channels, &material)) {
            *result = Result::FileBad;
            return nullptr;
        }
        *result = Result::Ok;
        return std::make_unique<InProcessRecorder>(device, std::move(target), std::move(material));
    }
};
}  // namespace

namespace detail {
std::unique_ptr<DeviceBackend> makeInProcessBackend() {
    return std::make_unique<InProcessBackend>();
}
}  // namespace detail

namespace inprocess {

void setDefaultBackend(Backend backend) {
    Hub& h = hub();
    std::lock_guard<std::mutex> guard(h.mutex);
    h.backend = backend;
}

Backend defaultBackend() {
    Hub& h = hub();
    std::lock_guard<std::mutex> guard(h.mutex);
    return h.backend;
}

void configure(const std::vector<PlaybackDevice>& playback,
               const std::vector<CaptureDevice>& capture) {
    Hub& h = hub();
    std::lock_guard<std::mutex> guard(h.mutex);
    h.playback = playback;
    h.capture = capture;
    h.configured = true;
    h.unplugged.clear();
}

bool configureFromText(const std::string& text) { return configureText(hub(), text); }

void configureDefaults() {
    Hub& h = hub();
    std::lock_guard<std::mutex> guard(h.mutex);
    h.configured = false;
    h.unplugged.clear();
    h.ensureConfigured();
}

void setClock(ClockMode mode, double speed) { hub().setMode(mode, speed); }

void advance(double milliseconds) {
    Hub& h = hub();
    std::lock_guard<std::mutex> guard(h.mutex);
    if (h.mode != ClockMode::Manual || !(milliseconds > 0)) return;
    const int64_t target = h.nowNs + static_cast<int64_t>(std::llround(milliseconds * 1e6));
    while (Event* e = h.due(target)) {
        h.nowNs = std::max(h.nowNs, e->nextNs());
        e->run();
    }
    h.nowNs = target;
}

double now() {
    Hub& h = hub();
    std::lock_guard<std::mutex> guard(h.mutex);
    int64_t ns = h.nowNs;
    if (h.mode == ClockMode::RealTime)
        ns = h.simAnchor +
             static_cast<int64_t>(
                 std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - h.wallAnchor)
                     .count() *
                 h.speed);
    return static_cast<double>(ns - h.originNs) / 1e6;
}

void resetClock() {
    Hub& h = hub();
    std::lock_guard<std::mutex> guard(h.mutex);
    h.originNs = h.nowNs;
}

std::vector<float> played(const std::string& deviceName) {
    Hub& h = hub();
    std::lock_guard<std::mutex> guard(h.mutex);
    auto it = h.played.find(deviceName);
    return it == h.played.end() ? std::vector<float>() : it->second.samples;
}

void clearPlayed() {
    Hub& h = hub();
    std::lock_guard<std::mutex> guard(h.mutex);
    for (auto& entry : h.played) entry.second.samples.clear();  // keeps the capacity
}

void unplugCapture(const std::string& deviceName) {
    Hub& h = hub();
    std::lock_guard<std::mutex> guard(h.mutex);
    h.unplugged.push_back(deviceName);
}

}  // namespace inprocess
}  // namespace parlune::audiolib
