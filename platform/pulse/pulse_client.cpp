#include "platform/pulse/pulse_client.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <thread>

namespace parlune::pulse {
namespace {

using Clock = std::chrono::steady_clock;

// Every wait wakes at least this often, so deadlines and a dead server are
// noticed even when no callback ever fires.
constexpr pa_usec_t kHeartbeatUs = 20000;

Clock::time_point deadlineIn(int ms) { return Clock::now() + std::chrono::milliseconds(ms); }

// One threaded main loop and its context. Callers hold the loop's lock around
// everything they do with the context and wait with waitFor().
class Connection {
public:
    ~Connection() { close(); }

    bool open(const std::string& clientName, int timeoutMs) {
        loop_ = pa_threaded_mainloop_new();
        if (!loop_) return false;
        pa_mainloop_api* api = pa_threaded_mainloop_get_api(loop_);
        context_ = pa_context_new(api, clientName.c_str());
        if (!context_) return false;
        pa_context_set_state_callback(context_, &Connection::onContextState, this);
        if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
            return false;
        if (pa_threaded_mainloop_start(loop_) < 0) return false;
        started_ = true;
        Lock lock(*this);
        timeval tv;
        pa_gettimeofday(&tv);
        pa_timeval_add(&tv, kHeartbeatUs);
        heartbeat_ = api->time_new(api, &tv, &Connection::onHeartbeat, this);
        waitFor([&] { return pa_context_get_state(context_) == PA_CONTEXT_READY; },
                deadlineIn(timeoutMs));
        return pa_context_get_state(context_) == PA_CONTEXT_READY;
    }

    void close() {
        if (!loop_) return;
        if (started_) {
            pa_threaded_mainloop_lock(loop_);
            if (heartbeat_) pa_threaded_mainloop_get_api(loop_)->time_free(heartbeat_);
            heartbeat_ = nullptr;
            if (context_) pa_context_disconnect(context_);
            pa_threaded_mainloop_unlock(loop_);
            pa_threaded_mainloop_stop(loop_);
        } else if (context_) {
            pa_context_disconnect(context_);
        }
        if (context_) pa_context_unref(context_);
        pa_threaded_mainloop_free(loop_);
        context_ = nullptr;
        loop_ = nullptr;
    }

    // Caller holds the lock.
    bool ready() const { return context_ && pa_context_get_state(context_) == PA_CONTEXT_READY; }

    // Caller holds the lock. Waits until pred() holds, the context dies or the
    // deadline passes; returns pred().
    template <class Pred>
    bool waitFor(Pred pred, Clock::time_point deadline) {
        while (!pred()) {
            if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(context_))) return pred();
            if (Clock::now() >= deadline) return false;
            pa_threaded_mainloop_wait(loop_);
        }
        return true;
    }

    // Caller holds the lock. Waits for an operation; cancels it on timeout so
    // its callback can no longer touch the caller's (stack) data.
    bool waitOperation(pa_operation* op, Clock::time_point deadline) {
        if (!op) return false;
        waitFor([&] { return pa_operation_get_state(op) != PA_OPERATION_RUNNING; }, deadline);
        const bool done = pa_operation_get_state(op) == PA_OPERATION_DONE;
        if (pa_operation_get_state(op) == PA_OPERATION_RUNNING) pa_operation_cancel(op);
        pa_operation_unref(op);
        return done;
    }

    void signal() { pa_threaded_mainloop_signal(loop_, 0); }

    pa_threaded_mainloop* loop() const { return loop_; }
    pa_context* context() const { return context_; }

    // Runs on the loop thread when the context fails or ends; set and cleared
    // with the lock held.
    std::function<void()> lostHook;

    struct Lock {
        explicit Lock(Connection& c) : loop(c.loop_) { pa_threaded_mainloop_lock(loop); }
        ~Lock() { pa_threaded_mainloop_unlock(loop); }
        pa_threaded_mainloop* loop;
    };

private:
    static void onContextState(pa_context* context, void* self) {
        auto* connection = static_cast<Connection*>(self);
        const pa_context_state_t state = pa_context_get_state(context);
        if ((state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED) && connection->lostHook)
            connection->lostHook();
        connection->signal();
    }

    static void onHeartbeat(pa_mainloop_api* api, pa_time_event* event, const timeval*,
                            void* self) {
        timeval tv;
        pa_gettimeofday(&tv);
        pa_timeval_add(&tv, kHeartbeatUs);
        api->time_restart(event, &tv);
        static_cast<Connection*>(self)->signal();
    }

    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    pa_time_event* heartbeat_ = nullptr;
    bool started_ = false;
};

std::string orEmpty(const char* s) { return s ? s : ""; }

// Some servers (pipewire-pulse) acknowledge a change a few milliseconds
// before they apply it; this waits until the change reads back, so a caller
// and every other client see it once the call returns. A change that never
// reads back (another client overrode it at once) still counts as made.
constexpr int kSettleMs = 1000;
template <class Check>
bool settled(Check check) {
    const auto deadline = deadlineIn(kSettleMs);
    while (!check() && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return true;
}

// Userdata of the list and result callbacks.
template <class T>
struct Collect {
    Collect(Connection* c, std::vector<T>* o) : connection(c), out(o) {}
    Connection* connection;
    std::vector<T>* out;
    bool ok = false;
};

struct Result {
    explicit Result(Connection* c) : connection(c) {}
    Connection* connection;
    int success = 0;
    uint32_t index = PA_INVALID_INDEX;
    std::string text1, text2, text3;
};

// For the context's and the streams' success callbacks alike.
template <class Handle>
void onSuccess(Handle*, int success, void* userdata) {
    auto* r = static_cast<Result*>(userdata);
    r->success = success;
    r->connection->signal();
}

// What one entry of each server list becomes.
template <class Info>
DeviceInfo deviceEntry(const Info* i) {
    DeviceInfo d;
    d.index = i->index;
    d.name = orEmpty(i->name);
    d.description = orEmpty(i->description);
    d.rate = i->sample_spec.rate;
    d.channels = i->sample_spec.channels;
    d.muted = i->mute != 0;
    d.ownerModule = i->owner_module;
    d.latencyUs = i->latency;
    return d;
}
DeviceInfo entry(const pa_sink_info* i) { return deviceEntry(i); }
DeviceInfo entry(const pa_source_info* i) {
    DeviceInfo d = deviceEntry(i);
    d.isMonitor = i->monitor_of_sink != PA_INVALID_INDEX;
    return d;
}
ModuleInfo entry(const pa_module_info* i) {
    return ModuleInfo{i->index, orEmpty(i->name), orEmpty(i->argument)};
}
template <class Info>
StreamInfo streamEntry(const Info* i, uint32_t device) {
    return StreamInfo{i->index, orEmpty(pa_proplist_gets(i->proplist, PA_PROP_APPLICATION_NAME)),
                      orEmpty(i->name), device, i->owner_module};
}
StreamInfo entry(const pa_sink_input_info* i) { return streamEntry(i, i->sink); }
StreamInfo entry(const pa_source_output_info* i) { return streamEntry(i, i->source); }

// The callback of every list request: one call per entry, then one with eol
// set (negative when the request failed).
template <class Info>
void onListEntry(pa_context*, const Info* i, int eol, void* userdata) {
    auto* c = static_cast<Collect<decltype(entry(i))>*>(userdata);
    if (eol) {
        c->ok = eol > 0;
        c->connection->signal();
        return;
    }
    c->out->push_back(entry(i));
}

void onServerInfo(pa_context*, const pa_server_info* i, void* userdata) {
    auto* r = static_cast<Result*>(userdata);
    if (i) {
        r->success = 1;
        r->text1 = orEmpty(i->default_sink_name);
        r->text2 = orEmpty(i->default_source_name);
        r->text3 = orEmpty(i->server_name);
    }
    r->connection->signal();
}

void onIndex(pa_context*, uint32_t index, void* userdata) {
    auto* r = static_cast<Result*>(userdata);
    r->index = index;
    r->success = index != PA_INVALID_INDEX;
    r->connection->signal();
}

}  // namespace

// ---------------------------------------------------------------- PulseClient

struct PulseClient::Impl {
    Connection connection;
    int timeoutMs = kDefaultTimeoutMs;
    bool opened = false;
    std::function<void()> watcher;  // the loop thread's; set with the lock held

    // Nothing may call back into a client that is going away.
    ~Impl() {
        if (!opened) return;
        Connection::Lock lock(connection);
        pa_context_set_subscribe_callback(connection.context(), nullptr, nullptr);
        connection.lostHook = nullptr;
        watcher = nullptr;
    }

    static void onSubscribe(pa_context*, pa_subscription_event_type_t, uint32_t, void* self) {
        auto* impl = static_cast<Impl*>(self);
        if (impl->watcher) impl->watcher();
    }

    template <class T, class Start>
    std::vector<T> list(Start start) {
        std::vector<T> out;
        if (!opened) return out;
        Connection::Lock lock(connection);
        if (!connection.ready()) return out;
        Collect<T> collect{&connection, &out};
        if (!connection.waitOperation(start(&collect), deadlineIn(timeoutMs)) || !collect.ok)
            out.clear();
        return out;
    }

    template <class Start>
    Result call(Start start) {
        Result r(&connection);
        if (!opened) return r;
        Connection::Lock lock(connection);
        if (!connection.ready()) return r;
        if (!connection.waitOperation(start(&r), deadlineIn(timeoutMs))) r.success = 0;
        return r;
    }
};

PulseClient::PulseClient(const std::string& clientName, int timeoutMs) : impl_(new Impl) {
    impl_->timeoutMs = timeoutMs;
    impl_->opened = impl_->connection.open(clientName, timeoutMs);
}

PulseClient::~PulseClient() = default;

bool PulseClient::connected() const {
    if (!impl_->opened) return false;
    Connection::Lock lock(impl_->connection);
    return impl_->connection.ready();
}

std::vector<DeviceInfo> PulseClient::sinks() {
    pa_context* c = impl_->connection.context();
    return impl_->list<DeviceInfo>(
        [&](auto* u) { return pa_context_get_sink_info_list(c, onListEntry, u); });
}

std::vector<DeviceInfo> PulseClient::sources() {
    pa_context* c = impl_->connection.context();
    return impl_->list<DeviceInfo>(
        [&](auto* u) { return pa_context_get_source_info_list(c, onListEntry, u); });
}

std::string PulseClient::defaultSinkName() {
    pa_context* c = impl_->connection.context();
    return impl_->call([&](Result* r) { return pa_context_get_server_info(c, onServerInfo, r); })
        .text1;
}

std::string PulseClient::defaultSourceName() {
    pa_context* c = impl_->connection.context();
    return impl_->call([&](Result* r) { return pa_context_get_server_info(c, onServerInfo, r); })
        .text2;
}

bool PulseClient::setDefaultSink(const std::string& name) {
    pa_context* c = impl_->connection.context();
    const bool accepted = impl_
                              ->call([&](Result* r) {
                                  return pa_context_set_default_sink(c, name.c_str(), onSuccess, r);
                              })
                              .success != 0;
    return accepted && settled([&] { return defaultSinkName() == name; });
}

bool PulseClient::setDefaultSource(const std::string& name) {
    pa_context* c = impl_->connection.context();
    const bool accepted =
        impl_
            ->call([&](Result* r) {
                return pa_context_set_default_source(c, name.c_str(), onSuccess, r);
            })
            .success != 0;
    return accepted && settled([&] { return defaultSourceName() == name; });
}

bool PulseClient::setSourceMute(const std::string& name, bool mute) {
    pa_context* c = impl_->connection.context();
    const bool accepted = impl_
                              ->call([&](Result* r) {
                                  return pa_context_set_source_mute_by_name(
                                      c, name.c_str(), mute ? 1 : 0, onSuccess, r);
                              })
                              .success != 0;
    return accepted && settled([&] {
               for (const auto& d : sources())
                   if (d.name == name) return d.muted == mute;
               return true;
           });
}

bool PulseClient::suspendSink(const std::string& name, bool suspend) {
    pa_context* c = impl_->connection.context();
    return impl_
               ->call([&](Result* r) {
                   return pa_context_suspend_sink_by_name(c, name.c_str(), suspend ? 1 : 0,
                                                          onSuccess, r);
               })
               .success != 0;
}

std::string PulseClient::serverName() {
    pa_context* c = impl_->connection.context();
    return impl_->call([&](Result* r) { return pa_context_get_server_info(c, onServerInfo, r); })
        .text3;
}

std::vector<ModuleInfo> PulseClient::modules() {
    pa_context* c = impl_->connection.context();
    return impl_->list<ModuleInfo>(
        [&](auto* u) { return pa_context_get_module_info_list(c, onListEntry, u); });
}

int64_t PulseClient::loadModule(const std::string& name, const std::string& argument) {
    pa_context* c = impl_->connection.context();
    Result r = impl_->call([&](Result* res) {
        return pa_context_load_module(c, name.c_str(), argument.c_str(), onIndex, res);
    });
    return r.success ? static_cast<int64_t>(r.index) : -1;
}

bool PulseClient::unloadModule(uint32_t index) {
    pa_context* c = impl_->connection.context();
    const bool accepted =
        impl_->call([&](Result* r) { return pa_context_unload_module(c, index, onSuccess, r); })
            .success != 0;
    if (!accepted) return false;
    // The server acknowledges before it has removed the module; wait until it
    // and its devices are gone, so a reload right after cannot clash with
    // their names. pipewire-pulse drops the module from its list while the
    // devices it made are still listed.
    auto made = [&](const std::vector<DeviceInfo>& list) {
        return std::any_of(list.begin(), list.end(),
                           [&](const DeviceInfo& d) { return d.ownerModule == index; });
    };
    const auto deadline = deadlineIn(impl_->timeoutMs);
    while (Clock::now() < deadline) {
        const auto list = modules();
        if (std::none_of(list.begin(), list.end(),
                         [&](const ModuleInfo& m) { return m.index == index; }) &&
            !made(sinks()) && !made(sources()))
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

std::vector<StreamInfo> PulseClient::sinkInputs() {
    pa_context* c = impl_->connection.context();
    return impl_->list<StreamInfo>(
        [&](auto* u) { return pa_context_get_sink_input_info_list(c, onListEntry, u); });
}

std::vector<StreamInfo> PulseClient::sourceOutputs() {
    pa_context* c = impl_->connection.context();
    return impl_->list<StreamInfo>(
        [&](auto* u) { return pa_context_get_source_output_info_list(c, onListEntry, u); });
}

bool PulseClient::watchDevices(std::function<void()> onEvent) {
    Impl& impl = *impl_;
    if (!impl.opened) return false;
    pa_context* c = impl.connection.context();
    const bool watching = static_cast<bool>(onEvent);
    {
        Connection::Lock lock(impl.connection);
        impl.watcher = std::move(onEvent);
        impl.connection.lostHook =
            watching ? std::function<void()>([&impl] { impl.watcher(); }) : nullptr;
        pa_context_set_subscribe_callback(c, watching ? &Impl::onSubscribe : nullptr, &impl);
    }
    const auto mask = static_cast<pa_subscription_mask_t>(
        watching
            ? PA_SUBSCRIPTION_MASK_SINK | PA_SUBSCRIPTION_MASK_SOURCE | PA_SUBSCRIPTION_MASK_SERVER
            : PA_SUBSCRIPTION_MASK_NULL);
    return impl.call([&](Result* r) { return pa_context_subscribe(c, mask, onSuccess, r); })
               .success != 0;
}

bool serverReachable(int timeoutMs) {
    Connection probe;
    return probe.open("Parlune probe", timeoutMs);
}

// --------------------------------------------------------------------- Stream

struct Stream::Impl {
    Connection connection;
    pa_stream* stream = nullptr;
    StreamDirection direction = StreamDirection::Playback;
    uint32_t rate = 0;
    uint8_t channels = 0;
    size_t frameBytes = 0;
    int stallTimeoutMs = kDefaultTimeoutMs;
    std::atomic<bool> failed{false};
    std::atomic<uint64_t> underflows{0};

    // The record fragment being consumed (peeked but not yet dropped).
    const uint8_t* fragment = nullptr;
    size_t fragmentSize = 0;
    size_t fragmentOffset = 0;
    bool fragmentPeeked = false;

    ~Impl() {
        if (stream) {
            {
                Connection::Lock lock(connection);
                pa_stream_set_state_callback(stream, nullptr, nullptr);
                pa_stream_set_write_callback(stream, nullptr, nullptr);
                pa_stream_set_underflow_callback(stream, nullptr, nullptr);
                pa_stream_set_read_callback(stream, nullptr, nullptr);
                if (pa_stream_get_state(stream) == PA_STREAM_READY) pa_stream_disconnect(stream);
                pa_stream_unref(stream);
            }
            stream = nullptr;
        }
        connection.close();
    }

    static void onState(pa_stream* s, void* self) {
        auto* impl = static_cast<Impl*>(self);
        const pa_stream_state_t state = pa_stream_get_state(s);
        if (state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED) impl->failed = true;
        impl->connection.signal();
    }
    static void onData(pa_stream*, size_t, void* self) {
        static_cast<Impl*>(self)->connection.signal();
    }
    static void onUnderflow(pa_stream*, void* self) {
        static_cast<Impl*>(self)->underflows.fetch_add(1, std::memory_order_relaxed);
    }

    // Caller holds the lock.
    bool alive() {
        if (failed) return false;
        if (!connection.ready() || pa_stream_get_state(stream) != PA_STREAM_READY) failed = true;
        return !failed;
    }
};

Stream::Stream() : impl_(new Impl) {}
Stream::~Stream() = default;

std::unique_ptr<Stream> Stream::open(StreamDirection direction, const std::string& device,
                                     uint32_t rate, uint8_t channels, const StreamLatency& latency,
                                     const std::string& streamName,
                                     const std::string& applicationName) {
    if (rate == 0 || channels == 0 || channels > PA_CHANNELS_MAX) return nullptr;
    std::unique_ptr<Stream> s(new Stream);
    Impl& impl = *s->impl_;
    impl.direction = direction;
    impl.rate = rate;
    impl.channels = channels;
    impl.frameBytes = sizeof(float) * channels;
    // Generous: a healthy stream moves data every few milliseconds.
    impl.stallTimeoutMs =
        std::max<int>(kDefaultTimeoutMs, 4 * (latency.targetMs + latency.prebufMs));
    if (!impl.connection.open(applicationName, kDefaultTimeoutMs)) return nullptr;

    pa_sample_spec spec;
    spec.format = PA_SAMPLE_FLOAT32NE;
    spec.rate = rate;
    spec.channels = channels;
    pa_channel_map map;
    pa_channel_map_init_extend(&map, channels, PA_CHANNEL_MAP_DEFAULT);

    Connection::Lock lock(impl.connection);
    impl.stream = pa_stream_new(impl.connection.context(), streamName.c_str(), &spec, &map);
    if (!impl.stream) return nullptr;
    pa_stream_set_state_callback(impl.stream, &Impl::onState, &impl);
    if (direction == StreamDirection::Playback) {
        pa_stream_set_write_callback(impl.stream, &Impl::onData, &impl);
        pa_stream_set_underflow_callback(impl.stream, &Impl::onUnderflow, &impl);
    } else
        pa_stream_set_read_callback(impl.stream, &Impl::onData, &impl);

    auto bytesFor = [&](uint32_t ms) {
        return static_cast<uint32_t>(pa_usec_to_bytes(static_cast<pa_usec_t>(ms) * 1000, &spec));
    };
    pa_buffer_attr attr;
    attr.maxlength = static_cast<uint32_t>(-1);
    attr.tlength = static_cast<uint32_t>(-1);
    attr.prebuf = static_cast<uint32_t>(-1);
    attr.minreq = static_cast<uint32_t>(-1);
    attr.fragsize = static_cast<uint32_t>(-1);
    const uint32_t target = bytesFor(std::max<uint32_t>(latency.targetMs, 1));
    // A device named explicitly must not be swapped for another behind the
    // caller's back: the stream fails when it goes away. The default follows.
    pa_stream_flags_t flags = static_cast<pa_stream_flags_t>(
        PA_STREAM_ADJUST_LATENCY | PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE);
    if (!device.empty()) flags = static_cast<pa_stream_flags_t>(flags | PA_STREAM_DONT_MOVE);
    const char* dev = device.empty() ? nullptr : device.c_str();
    int rc;
    if (direction == StreamDirection::Playback) {
        attr.tlength = target;
        // At least one frame: with prebuf 0 the server never reports the
        // buffer empty, so a drain would never finish.
        attr.prebuf = std::max<uint32_t>(
            static_cast<uint32_t>(impl.frameBytes),
            std::min(bytesFor(latency.prebufMs), target) / impl.frameBytes * impl.frameBytes);
        attr.minreq = std::max<uint32_t>(static_cast<uint32_t>(impl.frameBytes),
                                         target / 4 / impl.frameBytes * impl.frameBytes);
        rc = pa_stream_connect_playback(impl.stream, dev, &attr, flags, nullptr, nullptr);
    } else {
        attr.fragsize = target;
        rc = pa_stream_connect_record(impl.stream, dev, &attr, flags);
    }
    if (rc < 0) return nullptr;
    impl.connection.waitFor(
        [&] {
            const pa_stream_state_t st = pa_stream_get_state(impl.stream);
            return st != PA_STREAM_CREATING && st != PA_STREAM_UNCONNECTED;
        },
        deadlineIn(kDefaultTimeoutMs));
    if (pa_stream_get_state(impl.stream) != PA_STREAM_READY) return nullptr;
    return s;
}

bool Stream::write(const float* frames, size_t frameCount) {
    Impl& impl = *impl_;
    if (impl.direction != StreamDirection::Playback) return false;
    Connection::Lock lock(impl.connection);
    const uint8_t* data = reinterpret_cast<const uint8_t*>(frames);
    size_t remaining = frameCount * impl.frameBytes;
    auto stallDeadline = deadlineIn(impl.stallTimeoutMs);
    while (remaining > 0) {
        if (!impl.alive()) return false;
        const size_t writable = pa_stream_writable_size(impl.stream);
        if (writable == static_cast<size_t>(-1)) {
            impl.failed = true;
            return false;
        }
        const size_t chunk = std::min(remaining, writable / impl.frameBytes * impl.frameBytes);
        if (chunk == 0) {
            if (Clock::now() >= stallDeadline) {
                impl.failed = true;
                return false;
            }
            pa_threaded_mainloop_wait(impl.connection.loop());
            continue;
        }
        if (pa_stream_write(impl.stream, data, chunk, nullptr, 0, PA_SEEK_RELATIVE) < 0) {
            impl.failed = true;
            return false;
        }
        data += chunk;
        remaining -= chunk;
        stallDeadline = deadlineIn(impl.stallTimeoutMs);
    }
    return true;
}

bool Stream::writeThenWait(const float* frames, size_t frameCount) {
    Impl& impl = *impl_;
    if (impl.direction != StreamDirection::Playback) return false;
    Connection::Lock lock(impl.connection);
    if (!impl.alive()) return false;
    if (pa_stream_write(impl.stream, frames, frameCount * impl.frameBytes, nullptr, 0,
                        PA_SEEK_RELATIVE) < 0) {
        impl.failed = true;
        return false;
    }
    const auto stallDeadline = deadlineIn(impl.stallTimeoutMs);
    while (impl.alive()) {
        const size_t writable = pa_stream_writable_size(impl.stream);
        if (writable == static_cast<size_t>(-1) || Clock::now() >= stallDeadline) break;
        if (writable > 0) return true;
        pa_threaded_mainloop_wait(impl.connection.loop());
    }
    impl.failed = true;
    return false;
}

bool Stream::read(float* frames, size_t frameCount) {
    Impl& impl = *impl_;
    if (impl.direction != StreamDirection::Record) return false;
    Connection::Lock lock(impl.connection);
    uint8_t* out = reinterpret_cast<uint8_t*>(frames);
    size_t remaining = frameCount * impl.frameBytes;
    auto stallDeadline = deadlineIn(impl.stallTimeoutMs);
    while (remaining > 0) {
        if (!impl.alive()) return false;
        if (!impl.fragmentPeeked) {
            const void* p = nullptr;
            size_t n = 0;
            if (pa_stream_peek(impl.stream, &p, &n) < 0) {
                impl.failed = true;
                return false;
            }
            if (n == 0) {
                if (Clock::now() >= stallDeadline) {
                    impl.failed = true;
                    return false;
                }
                pa_threaded_mainloop_wait(impl.connection.loop());
                continue;
            }
            impl.fragment = static_cast<const uint8_t*>(p);  // nullptr: a hole, read as silence
            impl.fragmentSize = n;
            impl.fragmentOffset = 0;
            impl.fragmentPeeked = true;
        }
        const size_t chunk = std::min(remaining, impl.fragmentSize - impl.fragmentOffset);
        if (impl.fragment)
            std::memcpy(out, impl.fragment + impl.fragmentOffset, chunk);
        else
            std::memset(out, 0, chunk);
        out += chunk;
        remaining -= chunk;
        impl.fragmentOffset += chunk;
        if (impl.fragmentOffset == impl.fragmentSize) {
            pa_stream_drop(impl.stream);
            impl.fragmentPeeked = false;
            impl.fragment = nullptr;
        }
        stallDeadline = deadlineIn(impl.stallTimeoutMs);
    }
    return true;
}

long Stream::readable() {
    Impl& impl = *impl_;
    if (impl.direction != StreamDirection::Record) return -1;
    Connection::Lock lock(impl.connection);
    if (!impl.alive()) return -1;
    const size_t n = pa_stream_readable_size(impl.stream);
    if (n == static_cast<size_t>(-1)) return -1;
    const size_t consumed = impl.fragmentPeeked ? impl.fragmentOffset : 0;
    return static_cast<long>((n > consumed ? n - consumed : 0) / impl.frameBytes);
}

int64_t Stream::latencyUs() {
    Impl& impl = *impl_;
    Connection::Lock lock(impl.connection);
    if (!impl.alive()) return -1;
    pa_usec_t usec = 0;
    int negative = 0;
    if (pa_stream_get_latency(impl.stream, &usec, &negative) < 0) return -1;
    return negative ? -static_cast<int64_t>(usec) : static_cast<int64_t>(usec);
}

bool Stream::drain() {
    Impl& impl = *impl_;
    if (impl.direction != StreamDirection::Playback) return false;
    Connection::Lock lock(impl.connection);
    if (!impl.alive()) return false;
    pa_usec_t buffered = 0;
    int negative = 0;
    if (pa_stream_get_latency(impl.stream, &buffered, &negative) < 0 || negative) buffered = 0;
    Result r(&impl.connection);
    pa_operation* op = pa_stream_drain(impl.stream, onSuccess, &r);
    const bool done = impl.connection.waitOperation(
        op, deadlineIn(kDefaultTimeoutMs + static_cast<int>(buffered / 1000)));
    return done && r.success;
}

uint64_t Stream::underflows() const { return impl_->underflows.load(std::memory_order_relaxed); }
bool Stream::failed() const { return impl_->failed; }
uint32_t Stream::rate() const { return impl_->rate; }
uint8_t Stream::channels() const { return impl_->channels; }

}  // namespace parlune::pulse
