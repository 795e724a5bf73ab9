// Sound on an audio server for tests and measuring tools: a tone played into
// a sink and a source recorded with the time each piece arrived, each on a
// thread of its own, so a caller can play, restart the server and listen at
// once.
//
// Thread contract: each object is used by one thread (the caller's); its
// stream runs on its own thread until the object is stopped or destroyed.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace parlune::pulse {
class Stream;
}

namespace parlune::tools {

using Clock = std::chrono::steady_clock;

// The application name of every stream made here, so a test never takes one
// of them for the program's own ("Parlune").
constexpr char kTestApplicationName[] = "Parlune tests";

// A mono sine into `sink` until destroyed or the server goes.
class ToneFeed {
public:
    ToneFeed(const std::string& sink, double hz, uint32_t rate = 48000, float amplitude = 0.3f);
    ~ToneFeed();
    ToneFeed(const ToneFeed&) = delete;
    ToneFeed& operator=(const ToneFeed&) = delete;
    bool ok() const { return stream_ != nullptr; }

private:
    std::unique_ptr<pulse::Stream> stream_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// `source` recorded mono in 10 ms pieces, each stamped with the steady clock
// when it was read.
class SourceRecording {
public:
    explicit SourceRecording(const std::string& source, uint32_t rate = 48000);
    ~SourceRecording();
    SourceRecording(const SourceRecording&) = delete;
    SourceRecording& operator=(const SourceRecording&) = delete;
    bool ok() const { return stream_ != nullptr; }
    uint32_t rate() const { return rate_; }

    // Ends the recording (also when the server went); the samples so far.
    std::vector<float> stop();
    // The samples read between two times (after stop, or while running).
    std::vector<float> between(Clock::time_point from, Clock::time_point to);
    // When the first 50 ms window read after `from` had an RMS above `level`.
    std::optional<Clock::time_point> firstLoud(Clock::time_point from, double level);

private:
    struct Piece {
        Clock::time_point at;
        size_t end;  // samples up to here were read by then
    };
    const uint32_t rate_;
    std::unique_ptr<pulse::Stream> stream_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<float> samples_;
    std::vector<Piece> pieces_;
    std::thread thread_;
};

// Plays mono samples at `rate` into `sink` (the server converts them to the
// sink's rate) and returns once they have been played; false when the stream
// failed. Blocks its caller.
bool playInto(const std::string& sink, const std::vector<float>& samples, uint32_t rate = 16000);

// RMS of samples [from, to).
double rms(const std::vector<float>& samples, size_t from = 0, size_t to = SIZE_MAX);
// RMS of each window of `window` samples.
std::vector<double> windowRms(const std::vector<float>& samples, size_t window);

}  // namespace parlune::tools
