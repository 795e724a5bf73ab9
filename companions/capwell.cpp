#include "companions/capwell.h"

#include <sndfile.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/base/pcm16.h"
#include "platform/base/spsc_ring.h"
#include "platform/pulse/pulse_client.h"
#include "platform/vdev/virtual_device.h"

namespace {

using namespace parlune;

// Seconds of audio the ring holds for a writer that has fallen behind.
constexpr size_t kRingSeconds = 4;

class Recording {
public:
    static std::unique_ptr<Recording> start(const std::string& path) {
        uint32_t rate = 44100;
        uint8_t channels = 2;
        {
            pulse::PulseClient client("Capwell");
            if (!client.connected()) return nullptr;
            for (const auto& s : client.sources())
                if (s.name == vdev::kSourceName) rate = s.rate, channels = s.channels;
        }
        auto stream = pulse::Stream::open(pulse::StreamDirection::Record, vdev::kSourceName, rate,
                                          channels, {20, 0}, "Capwell recording", "Capwell");
        if (!stream) return nullptr;
        SF_INFO info{};
        info.samplerate = static_cast<int>(rate);
        info.channels = channels;
        info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
        SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
        if (!file) return nullptr;
        return std::unique_ptr<Recording>(new Recording(std::move(stream), file, rate, channels));
    }

    ~Recording() {
        running_ = false;
        capture_.join();
        writer_.join();
        sf_close(file_);
    }

private:
    Recording(std::unique_ptr<pulse::Stream> stream, SNDFILE* file, uint32_t rate, uint8_t channels)
        : stream_(std::move(stream)),
          file_(file),
          channels_(channels),
          blockFrames_(rate / 100),
          ring_(static_cast<size_t>(rate) * channels * kRingSeconds) {
        captureBlock_.resize(blockFrames_ * channels_);
        writeBlock_.resize(blockFrames_ * channels_ * 8);
        pcmBlock_.resize(writeBlock_.size());
        capture_ = std::thread([this] { captureLoop(); });
        writer_ = std::thread([this] { writeLoop(); });
    }

    // Moves audio from the stream into the ring; never touches the file, so a
    // slow disk cannot hold up the reads. What does not fit is dropped, whole
    // frames, since the ring and every block hold whole frames.
    void captureLoop() {
        while (running_) {
            if (!stream_->read(captureBlock_.data(), blockFrames_)) break;
            ring_.push(captureBlock_.data(), captureBlock_.size());
        }
        captureDone_ = true;
    }

    void writeLoop() {
        for (;;) {
            const bool lastPass = captureDone_;
            size_t n;
            while ((n = ring_.pop(writeBlock_.data(), writeBlock_.size())) > 0) {
                for (size_t i = 0; i < n; ++i) pcmBlock_[i] = base::toPcm16(writeBlock_[i]);
                sf_writef_short(file_, pcmBlock_.data(), static_cast<sf_count_t>(n / channels_));
            }
            if (lastPass) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }

    std::unique_ptr<pulse::Stream> stream_;
    SNDFILE* file_;
    uint8_t channels_;
    size_t blockFrames_;
    base::SpscRing<float> ring_;  // capture thread in, writer thread out
    std::vector<float> captureBlock_, writeBlock_;
    std::vector<int16_t> pcmBlock_;
    std::atomic<bool> running_{true};
    std::atomic<bool> captureDone_{false};
    std::thread capture_, writer_;
};

std::mutex controlMutex;  // held by the three calls only, never by the recording threads
std::string recordedFilename;
std::unique_ptr<Recording> current;

}  // namespace

extern "C" {

void set_recorded_filename(const char* filename) {
    std::lock_guard<std::mutex> lock(controlMutex);
    recordedFilename = filename ? filename : "";
}

void start_record(void) {
    std::lock_guard<std::mutex> lock(controlMutex);
    current.reset();
    if (!recordedFilename.empty()) current = Recording::start(recordedFilename);
}

void stop_record(void) {
    std::lock_guard<std::mutex> lock(controlMutex);
    current.reset();
}

}  // extern "C"
