#include "tools/server_streams.h"

#include <algorithm>
#include <cmath>

#include "platform/pulse/pulse_client.h"

namespace parlune::tools {

ToneFeed::ToneFeed(const std::string& sink, double hz, uint32_t rate, float amplitude) {
    pulse::StreamLatency latency;
    latency.targetMs = 40;
    stream_ = pulse::Stream::open(pulse::StreamDirection::Playback, sink, rate, 1, latency,
                                  "test tone", kTestApplicationName);
    if (!stream_) return;
    thread_ = std::thread([this, hz, rate, amplitude] {
        std::vector<float> chunk(rate / 50);
        uint64_t n = 0;
        while (!stop_) {
            for (float& v : chunk)
                v = amplitude * static_cast<float>(std::sin(2 * M_PI * hz * double(n++) / rate));
            if (!stream_->write(chunk.data(), chunk.size())) break;
        }
    });
}

ToneFeed::~ToneFeed() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
}

SourceRecording::SourceRecording(const std::string& source, uint32_t rate) : rate_(rate) {
    pulse::StreamLatency latency;
    latency.targetMs = 10;
    stream_ = pulse::Stream::open(pulse::StreamDirection::Record, source, rate, 1, latency,
                                  "test recording", kTestApplicationName);
    if (!stream_) return;
    samples_.reserve(static_cast<size_t>(rate) * 30);
    thread_ = std::thread([this] {
        std::vector<float> chunk(rate_ / 100);
        while (!stop_ && stream_->read(chunk.data(), chunk.size())) {
            std::lock_guard<std::mutex> lock(mutex_);
            samples_.insert(samples_.end(), chunk.begin(), chunk.end());
            pieces_.push_back({Clock::now(), samples_.size()});
        }
    });
}

SourceRecording::~SourceRecording() { stop(); }

bool playInto(const std::string& sink, const std::vector<float>& samples, uint32_t rate) {
    pulse::StreamLatency latency;
    latency.targetMs = 40;
    auto feed = pulse::Stream::open(pulse::StreamDirection::Playback, sink, rate, 1, latency,
                                    "sound into " + sink, kTestApplicationName);
    return feed && feed->write(samples.data(), samples.size()) && feed->drain();
}

std::vector<float> SourceRecording::stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    std::lock_guard<std::mutex> lock(mutex_);
    return samples_;
}

std::vector<float> SourceRecording::between(Clock::time_point from, Clock::time_point to) {
    std::lock_guard<std::mutex> lock(mutex_);
    size_t begin = samples_.size(), end = 0;
    for (size_t i = 0; i < pieces_.size(); ++i) {
        if (pieces_[i].at < from || pieces_[i].at > to) continue;
        begin = std::min(begin, i == 0 ? 0 : pieces_[i - 1].end);
        end = std::max(end, pieces_[i].end);
    }
    if (begin >= end) return {};
    return std::vector<float>(samples_.begin() + long(begin), samples_.begin() + long(end));
}

std::optional<Clock::time_point> SourceRecording::firstLoud(Clock::time_point from, double level) {
    std::lock_guard<std::mutex> lock(mutex_);
    const size_t window = rate_ / 20;
    size_t start = 0;
    for (size_t i = 0; i < pieces_.size(); ++i) {
        if (pieces_[i].at < from) {
            start = pieces_[i].end;
            continue;
        }
        // The window that ends with this piece, if it lies after `from`.
        if (pieces_[i].end < start + window) continue;
        if (rms(samples_, pieces_[i].end - window, pieces_[i].end) > level) return pieces_[i].at;
    }
    return std::nullopt;
}

double rms(const std::vector<float>& samples, size_t from, size_t to) {
    to = std::min(to, samples.size());
    if (from >= to) return 0.0;
    double sum = 0;
    for (size_t n = from; n < to; ++n) sum += double(samples[n]) * samples[n];
    return std::sqrt(sum / double(to - from));
}

std::vector<double> windowRms(const std::vector<float>& samples, size_t window) {
    std::vector<double> out;
    for (size_t i = 0; i + window <= samples.size(); i += window)
        out.push_back(rms(samples, i, i + window));
    return out;
}

}  // namespace parlune::tools
