#include "platform/pulse/device_directory.h"

#include <algorithm>
#include <chrono>

namespace parlune::pulse {
namespace {

using DeviceList = std::optional<std::vector<DeviceInfo>>;

// An empty answer from a client that has just lost its server is no answer.
DeviceList answer(PulseClient& client, std::vector<DeviceInfo> devices) {
    if (devices.empty() && !client.connected()) return std::nullopt;
    return devices;
}

}  // namespace

DeviceDirectory::DeviceDirectory(std::string clientName, int timeoutMs)
    : clientName_(std::move(clientName)), timeoutMs_(timeoutMs) {
    std::lock_guard<std::mutex> lock(clientMutex_);
    connect();
}

DeviceDirectory::~DeviceDirectory() { client_.reset(); }

std::shared_ptr<DeviceDirectory> DeviceDirectory::shared() {
    // Never destroyed, so a holder let go of at exit still finds them.
    static auto* const mutex = new std::mutex;
    static auto* const current = new std::weak_ptr<DeviceDirectory>;
    std::lock_guard<std::mutex> lock(*mutex);
    std::shared_ptr<DeviceDirectory> directory = current->lock();
    if (!directory) {
        directory = std::make_shared<DeviceDirectory>();
        *current = directory;
    }
    return directory;
}

bool DeviceDirectory::connect() {
    if (client_ && client_->connected()) return false;
    client_.reset();
    auto client = std::make_unique<PulseClient>(clientName_, timeoutMs_);
    // A connection without a confirmed subscription could let a change pass unseen.
    if (!client->connected() || !client->watchDevices([this] { changed(); })) return false;
    client_ = std::move(client);
    return true;
}

template <class F>
auto DeviceDirectory::withClient(F f) {
    std::unique_lock<std::mutex> lock(clientMutex_);
    const bool fresh = connect();
    auto result = f(client_.get());
    lock.unlock();
    // The devices may have changed while there was no connection to hear of it.
    if (fresh) changed();
    return result;
}

bool DeviceDirectory::connected() {
    return withClient([](PulseClient* c) { return c != nullptr; });
}

DeviceList DeviceDirectory::playbackDevices() {
    return withClient([](PulseClient* c) -> DeviceList {
        if (!c) return std::nullopt;
        return answer(*c, c->sinks());
    });
}

DeviceList DeviceDirectory::captureDevices() {
    return withClient([](PulseClient* c) -> DeviceList {
        if (!c) return std::nullopt;
        std::vector<DeviceInfo> sources = c->sources();
        sources.erase(std::remove_if(sources.begin(), sources.end(),
                                     [](const DeviceInfo& d) { return d.isMonitor; }),
                      sources.end());
        return answer(*c, std::move(sources));
    });
}

bool DeviceDirectory::lists(StreamDirection direction, const std::string& name) {
    return withClient([&](PulseClient* c) {
        if (!c) return false;
        const auto devices = direction == StreamDirection::Playback ? c->sinks() : c->sources();
        return std::any_of(devices.begin(), devices.end(),
                           [&](const DeviceInfo& d) { return d.name == name; });
    });
}

std::string DeviceDirectory::defaultPlaybackName() {
    return withClient([](PulseClient* c) { return c ? c->defaultSinkName() : std::string(); });
}

std::string DeviceDirectory::defaultCaptureName() {
    return withClient([](PulseClient* c) { return c ? c->defaultSourceName() : std::string(); });
}

bool DeviceDirectory::setCaptureMute(const std::string& name, bool mute) {
    return withClient([&](PulseClient* c) { return c && c->setSourceMute(name, mute); });
}

bool DeviceDirectory::waitForChange(uint64_t seen, int timeoutMs) {
    std::unique_lock<std::mutex> lock(waitMutex_);
    return waitChange_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                [&] { return generation() > seen; });
}

int DeviceDirectory::addListener(Listener listener) {
    std::lock_guard<std::mutex> lock(listenerMutex_);
    const int id = nextListener_++;
    listeners_.emplace(id, std::move(listener));
    return id;
}

void DeviceDirectory::removeListener(int id) {
    std::lock_guard<std::mutex> lock(listenerMutex_);
    listeners_.erase(id);
}

// Listeners first: once the generation has moved, they have heard of it.
void DeviceDirectory::changed() {
    {
        std::lock_guard<std::mutex> lock(listenerMutex_);
        for (auto& entry : listeners_) entry.second();
    }
    {
        std::lock_guard<std::mutex> lock(waitMutex_);
        generation_.fetch_add(1, std::memory_order_acq_rel);
    }
    waitChange_.notify_all();
}

}  // namespace parlune::pulse
