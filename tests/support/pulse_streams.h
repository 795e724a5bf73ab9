// Sound into and out of the private audio server for tests: speech played
// into a sink in real time, and a source recorded while a test acts. The
// streams carry the application name "Parlune tests", so they are never
// taken for the program's own.
//
// Thread contract: a SourceRecorder is used by one thread (it records on a
// thread of its own); playInto blocks its caller.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace parlune::pulse {
class Stream;
}

namespace parlune::test {

constexpr char kTestApplicationName[] = "Parlune tests";

// Records `source` at 16 kHz mono from construction until stop().
class SourceRecorder {
public:
    explicit SourceRecorder(const std::string& source);
    ~SourceRecorder();
    SourceRecorder(const SourceRecorder&) = delete;
    SourceRecorder& operator=(const SourceRecorder&) = delete;

    bool ok() const { return stream_ != nullptr; }
    // Ends the recording and hands over what was recorded.
    std::vector<float> stop();

private:
    std::unique_ptr<pulse::Stream> stream_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::vector<float> samples_;
};

// Plays 16 kHz mono samples into `sink` (the server converts them to the
// sink's rate) and returns once they have been played; false when the
// stream failed.
bool playInto(const std::string& sink, const std::vector<float>& samples);

}  // namespace parlune::test
