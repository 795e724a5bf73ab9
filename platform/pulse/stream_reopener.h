// Keeps a stream's user going through the loss of the stream. The thread that
// uses the stream (a real-time one) says when it failed (lost()) and goes on
// without it, at the device's pace; the reopener's own thread then opens a new
// stream every kReopenIntervalMs, once the device it names is listed again (an
// empty name is the default device, which any answering server has), and
// offers it; the user's thread takes it between two pieces of its work
// (takeOver()). The stream given up is freed on the reopener's thread, so the
// user's thread never allocates, frees or waits on the server for any of this.
// Opening stays off the user's thread: it blocks for seconds when the server
// does not answer.
//
// Thread contract: lost() and takeOver() from the one thread that uses the
// stream; they never allocate or wait, and take the reopener's lock only to
// wake its thread (which holds it only to look at its flags, never while it
// lists devices or opens a stream). isLost() from any thread. The open and
// notice functions run on the reopener's thread. Construct and destroy on any
// other thread, the stream's user no longer calling; the destructor waits for
// an open in hand: at once when the server is gone, up to the open's timeouts
// (3 s for each step) when it hangs.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/pulse/pulse_client.h"

namespace parlune::pulse {

class DeviceDirectory;

// How often a lost device is looked for: it is back in use within a fraction
// of a second once the server lists it again.
constexpr int kReopenIntervalMs = 250;

class StreamReopener {
public:
    using Open = std::function<std::unique_ptr<Stream>()>;
    // true once when the stream was lost, false once a new one was taken over.
    using Notice = std::function<void(bool lost)>;

    // `device` and `direction` say which device must be listed before `open`
    // is tried.
    StreamReopener(StreamDirection direction, std::string device, Open open, Notice notice = {});
    ~StreamReopener();
    StreamReopener(const StreamReopener&) = delete;
    StreamReopener& operator=(const StreamReopener&) = delete;

    // The stream in use failed; a new one is looked for. Once per loss: a
    // second call before the take-over changes nothing.
    void lost();
    // Puts the stream offered in place of `stream` and returns true; false
    // (and `stream` untouched) while there is none.
    bool takeOver(std::unique_ptr<Stream>& stream);
    // Lost and not yet taken over.
    bool isLost() const { return state_.load(std::memory_order_acquire) != kHealthy; }

private:
    enum State { kHealthy, kLost, kOffered };
    void run();
    void wakeThread();
    bool listed(DeviceDirectory& directory) const;

    const StreamDirection direction_;
    const std::string device_;
    const Open open_;
    const Notice notice_;

    std::atomic<int> state_{kHealthy};
    std::atomic<Stream*> offered_{nullptr};
    std::atomic<Stream*> retired_{nullptr};

    std::mutex mutex_;
    std::condition_variable wake_;
    bool quit_ = false;
    std::thread thread_;  // last: it starts once the rest is there
};

}  // namespace parlune::pulse
