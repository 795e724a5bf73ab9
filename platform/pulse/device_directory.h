// The audio server's devices as the rest of the program sees them: playback
// devices (the sinks) and capture devices (the sources that are not the
// monitor of a sink), each in the order the server gives, the two defaults,
// and a notice whenever any of them changes. The one place that lists and
// filters the server's devices; it keeps one server connection, opened again
// on the next call after the server was lost.
//
// Changes: the server's sink, source and server events (a device comes, goes
// or changes, a default moves) and the loss of the connection each raise the
// generation and call the listeners. The subscription is confirmed before the
// connection is used, so a change made after reading generation() always
// raises it; a device whose load was acknowledged but which is not listed
// yet is waited for with waitForChange() and a fresh look at the list.
//
// Thread contract: any call from any thread; list and server calls are
// serialised on the one connection and block for at most its timeout.
// Listeners run on the connection's event thread (the pulse client's thread),
// except that the change a new connection after a loss brings is told on the
// thread whose call connected. Either way they must return quickly, must not
// call the directory, and must not add or remove listeners; generation() and
// waitForChange() serve every other thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/pulse/pulse_client.h"

namespace parlune::pulse {

class DeviceDirectory {
public:
    // Connects at once; a failed connection is tried again on the next call.
    explicit DeviceDirectory(std::string clientName = "Parlune devices", int timeoutMs = 2000);
    ~DeviceDirectory();
    DeviceDirectory(const DeviceDirectory&) = delete;
    DeviceDirectory& operator=(const DeviceDirectory&) = delete;

    // The process's directory: the one its other holders have, else a new
    // one. It closes its connection when the last holder lets go, so a user
    // that keeps none leaves no connection or thread behind. Not to be let go
    // of in a listener.
    static std::shared_ptr<DeviceDirectory> shared();

    // Whether the server answers now.
    bool connected();

    // In server order; nullopt when the server cannot be had.
    std::optional<std::vector<DeviceInfo>> playbackDevices();
    std::optional<std::vector<DeviceInfo>> captureDevices();  // monitors left out
    // Whether the server lists a sink (playback) or a source, monitors
    // included (record), of that server name; false when it cannot be had.
    bool lists(StreamDirection direction, const std::string& name);
    // Server names of the defaults; empty when unknown.
    std::string defaultPlaybackName();
    std::string defaultCaptureName();
    bool setCaptureMute(const std::string& name, bool mute);

    // Raised by every change, after the listeners were told; cheap to poll.
    uint64_t generation() const { return generation_.load(std::memory_order_acquire); }
    // Waits until the generation has passed `seen`; false on timeout.
    bool waitForChange(uint64_t seen, int timeoutMs);

    using Listener = std::function<void()>;
    // Returns an id for removeListener. Once removeListener returns, the
    // listener is not running and will not run again.
    int addListener(Listener listener);
    void removeListener(int id);

private:
    // Runs f with the live client (nullptr when the server cannot be had),
    // connecting again when the last connection was lost.
    template <class F>
    auto withClient(F f);
    // Caller holds clientMutex_. True when a new connection was made.
    bool connect();
    void changed();

    const std::string clientName_;
    const int timeoutMs_;

    std::atomic<uint64_t> generation_{0};
    std::mutex waitMutex_;
    std::condition_variable waitChange_;

    std::mutex listenerMutex_;  // held while listeners run
    std::map<int, Listener> listeners_;
    int nextListener_ = 0;

    std::mutex clientMutex_;
    std::unique_ptr<PulseClient> client_;  // last, so it goes first
};

}  // namespace parlune::pulse
