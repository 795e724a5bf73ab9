// A record stream read on its own thread, its frames placed on the steady
// clock: each read's last frame was captured the stream's latency ago, so the
// first frame was captured `latency + frames read / rate` before the read;
// the median over all reads is the recording's start. The latency tools use
// it to compare recordings of one server with each other and with the moments
// they acted.
//
// Thread contract: construct, stop and destroy on one thread; the reading
// thread is the object's own.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/pulse/pulse_client.h"
#include "tools/latency_onsets.h"

namespace parlune::tools {

// Seconds on the steady clock the recordings are placed on.
double steadySeconds();

class TimedRecorder {
public:
    static constexpr int kRate = 48000;

    // Starts recording `source` at once (mono, kRate).
    explicit TimedRecorder(const std::string& source, const std::string& streamName);
    ~TimedRecorder();
    TimedRecorder(const TimedRecorder&) = delete;
    TimedRecorder& operator=(const TimedRecorder&) = delete;

    bool ok() const { return stream_ != nullptr; }
    const std::string& source() const { return source_; }

    // Ends the recording; false when no read could be placed on the clock.
    bool stop(TimedRecording* recording = nullptr);

private:
    void run();

    std::string source_;
    std::unique_ptr<pulse::Stream> stream_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::vector<float> samples_;
    std::vector<double> starts_;
};

}  // namespace parlune::tools
