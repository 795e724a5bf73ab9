// Real devices through the audio server: a mixer thread paced by a blocking
// playback stream, and one capture thread per recording.
#include <algorithm>
#include <chrono>
#include <thread>

#include "platform/audiolib/internal.h"
#include "platform/pulse/device_directory.h"
#include "platform/pulse/pulse_client.h"
#include "platform/pulse/stream_reopener.h"

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

// Thread contract: start/update/stop on the control thread; the mixer thread
// renders and writes. A stream the server lost is opened again by the
// reopener's thread and taken over by the mixer thread (see
// stream_reopener.h); meanwhile the mixer keeps time on its own.
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
        stream_ = openStream(mixer_->rate(), device_);
        if (!stream_) return Result::OutputInit;
        reopener_ = std::make_unique<pulse::StreamReopener>(
            pulse::StreamDirection::Playback, device_,
            [rate = mixer_->rate(), device = device_] { return openStream(rate, device); });
        running_.store(true);
        thread_ = std::thread([this] { run(); });
        return Result::Ok;
    }

    // The loss is logged through the deferred report; the return here.
    Result update() override {
        const bool lost = reopener_ && reopener_->isLost();
        if (lost != toldLost_) {
            toldLost_ = lost;
            if (!lost) logFailure(Result::Ok, "the playback device is back; playing again");
        }
        return Result::Ok;
    }

    void stop() override {
        if (!running_.exchange(false)) return;
        if (thread_.joinable()) thread_.join();
        reopener_.reset();
        stream_.reset();
    }

private:
    static std::unique_ptr<pulse::Stream> openStream(int rate, const std::string& device) {
        return pulse::Stream::open(pulse::StreamDirection::Playback, device,
                                   static_cast<uint32_t>(rate), 1,
                                   pulse::StreamLatency{kPlaybackBufferMs, 0}, "Parlune mixer");
    }

    void run() {
        const auto blockTime = std::chrono::nanoseconds(static_cast<int64_t>(kMixerBlockFrames) *
                                                        1000000000LL / mixer_->rate());
        auto deadline = Clock::now();
        bool failed = false;
        while (running_.load(std::memory_order_relaxed)) {
            if (failed) {
                const uint64_t given = stream_->underflows();
                if (reopener_->takeOver(stream_)) {
                    earlierStreamUnderruns_ += given;
                    failed = false;
                }
            }
            mixer_->renderBlock(block_.data());
            if (!failed) {
                const bool written = stream_->writeThenWait(block_.data(), kMixerBlockFrames);
                underruns_.store(earlierStreamUnderruns_ + stream_->underflows(),
                                 std::memory_order_relaxed);
                if (written) continue;
                failed = true;
                reopener_->lost();
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
    std::unique_ptr<pulse::StreamReopener> reopener_;
    std::atomic<bool> running_{false};
    uint64_t earlierStreamUnderruns_ = 0;  // the mixer thread's: streams given up
    std::atomic<uint64_t> underruns_{0};
    bool toldLost_ = false;  // the control thread's
    std::thread thread_;
};

// Thread contract: created, updated and stopped on the control thread; the
// capture thread reads the stream and writes the target. A stream the server
// lost is opened again by the reopener's thread and taken over by the capture
// thread, as the output's is; the loss silences a looping sound whole, and
// until the take-over the capture thread writes silence at the device's pace,
// so a looping sound never replays what it held.
class PulseRecorder final : public Recorder {
public:
    PulseRecorder(std::unique_ptr<pulse::Stream> stream, std::string device,
                  std::unique_ptr<RecordTarget> target)
        : stream_(std::move(stream)),
          target_(std::move(target)),
          reopener_(pulse::StreamDirection::Record, device, [device, sound = &target_->sound()] {
              return openRecordStream(device, *sound);
          }) {
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
    }

    // One log line when the device goes and one when it is back.
    void update() override {
        const bool lost = reopener_.isLost();
        if (lost == toldLost_) return;
        toldLost_ = lost;
        logFailure(lost ? Result::RecordFailed : Result::Ok,
                   lost ? "the capture device went away; recording silence until it is back"
                        : "the capture device is back; recording again");
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
        reopener_.lost();
        target_->silenceLoop();
        return true;
    }

    // Writes silence in capture-sized pieces at the device's pace until a new
    // stream is taken over (true) or the recording ends.
    bool silenceUntilReplaced(size_t capacity) {
        const size_t count =
            std::min(capacity, std::max<size_t>(1, stream_->rate() * kCaptureFragmentMs / 1000));
        std::fill(buffer_.begin(), buffer_.end(), 0.0f);
        const auto piece =
            std::chrono::nanoseconds(static_cast<int64_t>(count) * 1000000000LL / stream_->rate());
        auto deadline = Clock::now();
        while (!stopping_.load(std::memory_order_relaxed)) {
            if (reopener_.takeOver(stream_)) return true;
            if (!target_->write(buffer_.data(), count)) return false;
            deadline += piece;
            std::this_thread::sleep_until(deadline);
        }
        return false;
    }

    std::unique_ptr<pulse::Stream> stream_;  // the capture thread's
    std::unique_ptr<RecordTarget> target_;
    pulse::StreamReopener reopener_;
    std::vector<float> buffer_;
    std::atomic<bool> recording_{false};
    std::atomic<bool> stopping_{false};
    bool toldLost_ = false;  // the control thread's
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
