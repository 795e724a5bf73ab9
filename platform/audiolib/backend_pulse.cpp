// Real devices through the audio server: a mixer thread paced by a blocking
// playback stream, and one capture thread per recording.
#include <algorithm>
#include <chrono>
#include <thread>

#include "platform/audiolib/internal.h"
#include "platform/pulse/device_directory.h"
#include "platform/pulse/pulse_client.h"

namespace parlune::audiolib::detail {

namespace {
using Clock = std::chrono::steady_clock;

// Small device buffers keep the live chain's 50 ms target reachable. Each
// mixer block goes to the server whole, and the next is mixed once the server
// asks for more, with about three quarters of kPlaybackBufferMs still queued:
// that lead is what a block's mixing may take before the device runs dry.
// The capture side delivers every 5 ms.
constexpr uint32_t kPlaybackBufferMs = 15;
constexpr uint32_t kCaptureFragmentMs = 5;
// A device that went away is looked for again this often, so it is back in
// use within a fraction of a second once the server lists it again.
constexpr int kReopenIntervalMs = 250;

// Thread contract: start/update/stop on the control thread; the mixer thread
// renders and writes. Streams cross between them only through atomics.
class PulseOutput final : public Output {
public:
    PulseOutput(Mixer* mixer, std::string device, DeferredFailure* failures)
        : mixer_(mixer),
          device_(std::move(device)),
          failures_(failures),
          block_(kMixerBlockFrames) {}
    ~PulseOutput() override { stop(); }

    uint64_t underruns() const override { return underruns_.load(std::memory_order_relaxed); }

    Result start() override {
        stream_ = openStream();
        if (!stream_) return Result::OutputInit;
        running_.store(true);
        thread_ = std::thread([this] { run(); });
        return Result::Ok;
    }

    // Frees a stream the mixer gave up, and offers a new one after a failure.
    // The failure is logged through the deferred report, the return here.
    Result update() override {
        delete retired_.exchange(nullptr);
        const bool failed = failed_.load();
        if (failed != toldFailed_) {
            toldFailed_ = failed;
            if (!failed) logFailure(Result::Ok, "the playback device is back; playing again");
        }
        if (!failed || replacement_.load()) return Result::Ok;
        if (Clock::now() - lastReopen_ < std::chrono::milliseconds(kReopenIntervalMs))
            return Result::Ok;
        lastReopen_ = Clock::now();
        if (auto stream = openStream()) replacement_.store(stream.release());
        return Result::Ok;
    }

    void stop() override {
        if (!running_.exchange(false)) return;
        if (thread_.joinable()) thread_.join();
        stream_.reset();
        delete retired_.exchange(nullptr);
        delete replacement_.exchange(nullptr);
    }

private:
    std::unique_ptr<pulse::Stream> openStream() {
        return pulse::Stream::open(pulse::StreamDirection::Playback, device_,
                                   static_cast<uint32_t>(mixer_->rate()), 1,
                                   pulse::StreamLatency{kPlaybackBufferMs, 0}, "Parlune mixer");
    }

    void run() {
        const auto blockTime = std::chrono::nanoseconds(static_cast<int64_t>(kMixerBlockFrames) *
                                                        1000000000LL / mixer_->rate());
        auto deadline = Clock::now();
        while (running_.load(std::memory_order_relaxed)) {
            if (pulse::Stream* fresh = replacement_.exchange(nullptr)) {
                earlierStreamUnderruns_ += stream_->underflows();
                if (!retired_.load()) retired_.store(stream_.release());
                stream_.reset(fresh);
                failed_.store(false);
            }
            mixer_->renderBlock(block_.data());
            if (!failed_.load(std::memory_order_relaxed)) {
                const bool written = stream_->writeThenWait(block_.data(), kMixerBlockFrames);
                underruns_.store(earlierStreamUnderruns_ + stream_->underflows(),
                                 std::memory_order_relaxed);
                if (written) continue;
                failed_.store(true);
                failures_->post(Result::OutputInit,
                                "the playback device failed; mixing goes on without it");
                deadline = Clock::now();
            }
            // Without a device the mixer keeps time on its own.
            deadline += blockTime;
            std::this_thread::sleep_until(deadline);
        }
    }

    Mixer* mixer_;
    std::string device_;
    DeferredFailure* failures_;
    std::vector<float> block_;
    std::unique_ptr<pulse::Stream> stream_;  // the mixer thread's, once started
    std::atomic<pulse::Stream*> replacement_{nullptr};
    std::atomic<pulse::Stream*> retired_{nullptr};
    std::atomic<bool> failed_{false};
    std::atomic<bool> running_{false};
    uint64_t earlierStreamUnderruns_ = 0;  // the mixer thread's: streams given up
    std::atomic<uint64_t> underruns_{0};
    Clock::time_point lastReopen_{};
    bool toldFailed_ = false;  // the control thread's
    std::thread thread_;
};

// Thread contract: created, updated and stopped on the control thread; the
// capture thread reads the stream and writes the target. A stream the server
// lost is replaced from update(), as the output's is, and handed over through
// atomics; until then the capture thread writes silence at the device's pace,
// so a looping sound never replays what it held.
class PulseRecorder final : public Recorder {
public:
    PulseRecorder(std::unique_ptr<pulse::Stream> stream, std::string device,
                  std::unique_ptr<RecordTarget> target)
        : stream_(std::move(stream)), device_(std::move(device)), target_(std::move(target)) {
        buffer_.resize(static_cast<size_t>(stream_->rate()) / 10 * stream_->channels());  // 100 ms
        recording_.store(true);
        thread_ = std::thread([this] { run(); });
    }
    ~PulseRecorder() override { stop(); }

    bool recording() const override { return recording_.load(); }
    unsigned position() const override { return target_->position(); }
    void stop() override {
        stopping_.store(true);
        if (thread_.joinable()) thread_.join();
        recording_.store(false);
        delete retired_.exchange(nullptr);
        delete replacement_.exchange(nullptr);
    }

    // One log line when the device goes and one when it is back.
    void update() override {
        delete retired_.exchange(nullptr);
        const bool lost = lost_.load();
        if (lost != toldLost_) {
            toldLost_ = lost;
            logFailure(lost ? Result::RecordFailed : Result::Ok,
                       lost ? "the capture device went away; recording silence until it is back"
                            : "the capture device is back; recording again");
        }
        if (!lost || replacement_.load() || !recording_.load()) return;
        if (Clock::now() - lastReopen_ < std::chrono::milliseconds(kReopenIntervalMs)) return;
        lastReopen_ = Clock::now();
        if (auto stream = openRecordStream(device_, target_->sound()))
            replacement_.store(stream.release());
    }

    static std::unique_ptr<pulse::Stream> openRecordStream(const std::string& device,
                                                           const SoundObject& sound) {
        // The server converts the device's format to the sound's.
        return pulse::Stream::open(pulse::StreamDirection::Record, device,
                                   static_cast<uint32_t>(sound.rate),
                                   static_cast<uint8_t>(sound.channels),
                                   pulse::StreamLatency{kCaptureFragmentMs, 0}, "Parlune capture");
    }

private:
    void run() {
        const size_t capacity = buffer_.size() / stream_->channels();
        while (capture(capacity) && silenceUntilReplaced(capacity)) {
        }
        recording_.store(false);
    }

    // Copies the stream into the target until the stream fails (true) or the
    // recording is over or stopped (false). Reads what the server has
    // delivered, polling every 2 ms: blocking reads wake late on a loaded
    // machine, and a stop request is seen at once. The stream reports nothing
    // readable before its first read, so one fragment is read blocking first.
    bool capture(size_t capacity) {
        size_t count = std::max<size_t>(1, stream_->rate() * kCaptureFragmentMs / 1000);
        bool ok = stream_->read(buffer_.data(), count);
        while (ok && !stopping_.load(std::memory_order_relaxed)) {
            // False: a one-shot recording is full.
            if (!target_->write(buffer_.data(), count)) return false;
            count = 0;
            while (count == 0 && !stopping_.load(std::memory_order_relaxed)) {
                long ready = stream_->readable();
                if (ready < 0) {
                    ok = false;
                    break;
                }
                count = std::min(static_cast<size_t>(ready), capacity);
                if (count == 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
            if (ok && count > 0) ok = stream_->read(buffer_.data(), count);
        }
        if (stopping_.load()) return false;
        lost_.store(true);
        return true;
    }

    // Writes silence in capture-sized pieces at the device's pace until the
    // control thread hands a new stream over (true) or the recording ends.
    bool silenceUntilReplaced(size_t capacity) {
        const size_t count =
            std::min(capacity, std::max<size_t>(1, stream_->rate() * kCaptureFragmentMs / 1000));
        std::fill(buffer_.begin(), buffer_.end(), 0.0f);
        const auto piece =
            std::chrono::nanoseconds(static_cast<int64_t>(count) * 1000000000LL / stream_->rate());
        auto deadline = Clock::now();
        while (!stopping_.load(std::memory_order_relaxed)) {
            if (pulse::Stream* fresh = replacement_.exchange(nullptr)) {
                // The control thread frees the old stream; one is retired at a time.
                while (retired_.load() && !stopping_.load())
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                retired_.store(stream_.release());
                stream_.reset(fresh);
                lost_.store(false);
                return true;
            }
            if (!target_->write(buffer_.data(), count)) return false;
            deadline += piece;
            std::this_thread::sleep_until(deadline);
        }
        return false;
    }

    std::unique_ptr<pulse::Stream> stream_;  // the capture thread's
    const std::string device_;
    std::unique_ptr<RecordTarget> target_;
    std::vector<float> buffer_;
    std::atomic<bool> recording_{false};
    std::atomic<bool> stopping_{false};
    std::atomic<bool> lost_{false};
    std::atomic<pulse::Stream*> replacement_{nullptr};
    std::atomic<pulse::Stream*> retired_{nullptr};
    bool toldLost_ = false;  // the control thread's
    Clock::time_point lastReopen_{};
    std::thread thread_;
};

// Lists come from the process's shared device directory, held as long as the
// system is, so the systems of a process and the endpoints share one
// connection.
class PulseBackend final : public DeviceBackend {
public:
    Result playbackDrivers(std::vector<DriverEntry>* out) override {
        const auto sinks = directory_->playbackDevices();
        if (!sinks) return Result::OutputInit;
        collect(*sinks, directory_->defaultPlaybackName(), out);
        return Result::Ok;
    }

    Result recordDrivers(std::vector<DriverEntry>* out) override {
        const auto sources = directory_->captureDevices();
        if (!sources) return Result::OutputInit;
        collect(*sources, directory_->defaultCaptureName(), out);
        return Result::Ok;
    }

    std::unique_ptr<Output> openOutput(Mixer* mixer, const DriverEntry& driver,
                                       DeferredFailure* failures, Result* result) override {
        *result = Result::Ok;
        return std::make_unique<PulseOutput>(mixer, driver.device, failures);
    }

    std::unique_ptr<Recorder> openRecorder(const DriverEntry& driver,
                                           std::unique_ptr<RecordTarget> target, DeferredFailure*,
                                           Result* result) override {
        auto stream = PulseRecorder::openRecordStream(driver.device, target->sound());
        if (!stream) {
            *result = Result::RecordFailed;
            return nullptr;
        }
        *result = Result::Ok;
        return std::make_unique<PulseRecorder>(std::move(stream), driver.device, std::move(target));
    }

private:
    std::shared_ptr<pulse::DeviceDirectory> directory_ = pulse::DeviceDirectory::shared();

    // The default device first, then the others in server order.
    static void collect(const std::vector<pulse::DeviceInfo>& devices,
                        const std::string& defaultName, std::vector<DriverEntry>* out) {
        out->clear();
        auto entry = [](const pulse::DeviceInfo& d, bool isDefault) {
            DriverEntry e;
            e.name = d.description.empty() ? d.name : d.description;
            e.device = d.name;
            e.rate = static_cast<int>(d.rate);
            e.channels = d.channels;
            e.isDefault = isDefault;
            return e;
        };
        for (auto& d : devices)
            if (d.name == defaultName) out->push_back(entry(d, true));
        for (auto& d : devices)
            if (d.name != defaultName) out->push_back(entry(d, false));
    }
};
}  // namespace

std::unique_ptr<DeviceBackend> makePulseBackend() { return std::make_unique<PulseBackend>(); }

}  // namespace parlune::audiolib::detail
