#include "tools/timed_recorder.h"

#include <algorithm>
#include <chrono>

namespace parlune::tools {

double steadySeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

TimedRecorder::TimedRecorder(const std::string& source, const std::string& streamName)
    : source_(source) {
    pulse::StreamLatency latency;
    latency.targetMs = 10;
    stream_ =
        pulse::Stream::open(pulse::StreamDirection::Record, source, kRate, 1, latency, streamName);
    if (stream_) thread_ = std::thread([this] { run(); });
}

TimedRecorder::~TimedRecorder() { stop(); }

bool TimedRecorder::stop(TimedRecording* recording) {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (starts_.empty()) return false;
    if (recording) {
        std::nth_element(starts_.begin(), starts_.begin() + starts_.size() / 2, starts_.end());
        recording->samples = samples_;
        recording->rate = kRate;
        recording->startSeconds = starts_[starts_.size() / 2];
    }
    return true;
}

void TimedRecorder::run() {
    std::vector<float> chunk(kRate / 100);
    while (!stop_ && stream_->read(chunk.data(), chunk.size())) {
        samples_.insert(samples_.end(), chunk.begin(), chunk.end());
        const double now = steadySeconds();
        const int64_t latencyUs = stream_->latencyUs();
        if (latencyUs >= 0)
            starts_.push_back(now - latencyUs / 1e6 - double(samples_.size()) / kRate);
    }
}

}  // namespace parlune::tools
