#include "tests/support/pulse_streams.h"

#include "platform/pulse/pulse_client.h"

namespace parlune::test {
namespace {
constexpr uint32_t kRate = 16000;
}  // namespace

SourceRecorder::SourceRecorder(const std::string& source) {
    pulse::StreamLatency latency;
    latency.targetMs = 20;
    stream_ = pulse::Stream::open(pulse::StreamDirection::Record, source, kRate, 1, latency,
                                  "recorder of " + source, kTestApplicationName);
    if (stream_)
        thread_ = std::thread([this] {
            std::vector<float> chunk(320);
            while (!stop_ && stream_->read(chunk.data(), chunk.size()))
                samples_.insert(samples_.end(), chunk.begin(), chunk.end());
        });
}

SourceRecorder::~SourceRecorder() { stop(); }

std::vector<float> SourceRecorder::stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    return samples_;
}

bool playInto(const std::string& sink, const std::vector<float>& samples) {
    pulse::StreamLatency latency;
    latency.targetMs = 40;
    auto feed = pulse::Stream::open(pulse::StreamDirection::Playback, sink, kRate, 1, latency,
                                    "speech into " + sink, kTestApplicationName);
    return feed && feed->write(samples.data(), samples.size()) && feed->drain();
}

}  // namespace parlune::test
