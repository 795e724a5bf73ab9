#include "companions/capwell.h"

#include <sndfile.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/base/files.h"
#include "platform/base/pcm16.h"
#include "platform/base/spsc_ring.h"
#include "platform/pulse/pulse_client.h"
#include "platform/pulse/stream_reopener.h"
#include "platform/vdev/virtual_device.h"

namespace {

using namespace parlune;
using Clock = std::chrono::steady_clock;

// Seconds of audio the ring holds for a writer that has fallen behind.
constexpr size_t kRingSeconds = 4;

std::unique_ptr<pulse::Stream> openStream(uint32_t rate, uint8_t channels) {
    return pulse::Stream::open(pulse::StreamDirection::Record, vdev::kSourceName, rate, channels,
                               {20, 0}, "Capwell recording", "Capwell");
}

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
        auto stream = openStream(rate, channels);
        if (!stream) return nullptr;
        SF_INFO info{};
        info.samplerate = static_cast<int>(rate);
        info.channels = channels;
        info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
        // Written beside the file and renamed over it when the recording ends
        // complete: a full disk leaves an older recording as it was.
        auto target = std::make_unique<base::ReplacedFile>(path);
        SNDFILE* file =
            target->valid() ? sf_open_fd(target->fd(), SFM_WRITE, &info, SF_FALSE) : nullptr;
        if (!file) return nullptr;
        return std::unique_ptr<Recording>(
            new Recording(std::move(stream), std::move(target), file, rate, channels));
    }

    ~Recording() {
        running_ = false;
        capture_.join();
        reopener_.reset();  // waits for an open in hand
        writer_.join();
        if (writeFailed_) target_->fail("a block could not be written");
        if (sf_close(file_) != 0) target_->fail("the header could not be written");
        if (!target_->commit())
            std::fprintf(stderr, "capwell: the recording could not be written (%s); %s\n",
                         target_->error().c_str(), "an older file of that name stays");
    }

private:
    Recording(std::unique_ptr<pulse::Stream> stream, std::unique_ptr<base::ReplacedFile> target,
              SNDFILE* file, uint32_t rate, uint8_t channels)
        : stream_(std::move(stream)),
          target_(std::move(target)),
          file_(file),
          channels_(channels),
          blockFrames_(rate / 100),
          blockTime_(
              std::chrono::nanoseconds(static_cast<int64_t>(blockFrames_) * 1000000000LL / rate)),
          ring_(static_cast<size_t>(rate) * channels * kRingSeconds) {
        reopener_ = std::make_unique<pulse::StreamReopener>(
            pulse::StreamDirection::Record, vdev::kSourceName,
            [rate, channels] { return openStream(rate, channels); },
            [](bool lost) {
                std::fprintf(stderr, "capwell: %s %s\n", vdev::kSourceDescription,
                             lost ? "went away; recording silence until it is back"
                                  : "is back; recording again");
            });
        captureBlock_.resize(blockFrames_ * channels_);
        writeBlock_.resize(blockFrames_ * channels_ * 8);
        pcmBlock_.resize(writeBlock_.size());
        capture_ = std::thread([this] { captureLoop(); });
        writer_ = std::thread([this] { writeLoop(); });
    }

    // Moves audio from the stream into the ring; never touches the file, so a
    // slow disk cannot hold up the reads. What does not fit is dropped, whole
    // frames, since the ring and every block hold whole frames. While the
    // device is gone the ring gets silence at the device's pace, until the
    // reopener's stream is taken over.
    void captureLoop() {
        bool failed = false;
        auto deadline = Clock::now();
        while (running_) {
            if (failed && reopener_->takeOver(stream_)) failed = false;
            if (!failed) {
                if (stream_->read(captureBlock_.data(), blockFrames_)) {
                    ring_.push(captureBlock_.data(), captureBlock_.size());
                    continue;
                }
                failed = true;
                reopener_->lost();
                deadline = Clock::now();
            }
            std::fill(captureBlock_.begin(), captureBlock_.end(), 0.0f);
            ring_.push(captureBlock_.data(), captureBlock_.size());
            deadline += blockTime_;
            std::this_thread::sleep_until(deadline);
        }
        captureDone_ = true;
    }

    void writeLoop() {
        for (;;) {
            const bool lastPass = captureDone_;
            size_t n;
            while ((n = ring_.pop(writeBlock_.data(), writeBlock_.size())) > 0) {
                base::silenceNonFinite(writeBlock_.data(), n);
                for (size_t i = 0; i < n; ++i) pcmBlock_[i] = base::toPcm16(writeBlock_[i]);
                const auto frames = static_cast<sf_count_t>(n / channels_);
                if (!writeFailed_ && sf_writef_short(file_, pcmBlock_.data(), frames) != frames)
                    writeFailed_ = true;  // the file is lost; the ring keeps being emptied
            }
            if (lastPass) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }

    std::unique_ptr<pulse::Stream> stream_;
    std::unique_ptr<base::ReplacedFile> target_;
    SNDFILE* file_;
    uint8_t channels_;
    size_t blockFrames_;
    Clock::duration blockTime_;
    base::SpscRing<float> ring_;  // capture thread in, writer thread out
    std::unique_ptr<pulse::StreamReopener> reopener_;
    std::vector<float> captureBlock_, writeBlock_;
    std::vector<int16_t> pcmBlock_;
    std::atomic<bool> running_{true};
    std::atomic<bool> captureDone_{false};
    bool writeFailed_ = false;  // writer thread; read after it is joined
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
