#include "platform/vdev/virtual_device.h"

#include <algorithm>
#include <chrono>
#include <optional>
#include <thread>
#include <vector>

#include "platform/pulse/pulse_client.h"

namespace parlune::vdev {
namespace {

using pulse::DeviceInfo;
using pulse::ModuleInfo;

// Ours means loaded with our arguments (compared as key=value pairs, so the
// server may normalise spacing or quoting): a module of another tool that
// happens to use the same device name is never ours.
bool isOwnSinkModule(const ModuleInfo& m) {
    return m.name == "module-null-sink" &&
           parseModuleArguments(m.argument) == parseModuleArguments(sinkModuleArgument());
}

bool isOwnSourceModule(const ModuleInfo& m) {
    return m.name == "module-remap-source" &&
           parseModuleArguments(m.argument) == parseModuleArguments(sourceModuleArgument());
}

const DeviceInfo* findByName(const std::vector<DeviceInfo>& list, const std::string& name) {
    for (const auto& d : list)
        if (d.name == name) return &d;
    return nullptr;
}

using Clock = std::chrono::steady_clock;

// How long a load may take to show its device, and a dying device to go.
// pipewire-pulse acknowledges a load up to about 80 ms before it lists the
// device, and drops a module from its list before the module's devices.
constexpr auto kSettle = std::chrono::milliseconds(2000);
constexpr auto kPoll = std::chrono::milliseconds(5);

// Polls until done() holds or kSettle passes; returns done().
template <class Done>
bool settle(Done done) {
    const auto deadline = Clock::now() + kSettle;
    while (!done()) {
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(kPoll);
    }
    return true;
}

// A device of ours whose module is no longer listed is on its way out.
bool dying(const DeviceInfo* device, const std::vector<ModuleInfo>& modules) {
    if (!device || device->ownerModule == UINT32_MAX) return false;
    return std::none_of(modules.begin(), modules.end(),
                        [&](const ModuleInfo& m) { return m.index == device->ownerModule; });
}

bool dyingSidesGone(pulse::PulseClient& client) {
    const auto modules = client.modules();
    return !dying(findByName(client.sinks(), kSinkName), modules) &&
           !dying(findByName(client.sources(), kSourceName), modules);
}

std::vector<ModuleInfo> ownModules(pulse::PulseClient& client, bool (*own)(const ModuleInfo&)) {
    std::vector<ModuleInfo> out;
    for (const auto& m : client.modules())
        if (own(m)) out.push_back(m);
    return out;
}

}  // namespace

std::string sinkModuleArgument() {
    return std::string("sink_name=") + kSinkName + " sink_properties='device.description=\"" +
           kSinkDescription + "\"'";
}

std::string sourceModuleArgument() {
    return std::string("source_name=") + kSourceName + " master=" + kSinkName +
           ".monitor source_properties='device.description=\"" + kSourceDescription + "\"'";
}

std::map<std::string, std::string> parseModuleArguments(const std::string& argument) {
    std::map<std::string, std::string> out;
    size_t i = 0;
    const size_t n = argument.size();
    while (i < n) {
        while (i < n && argument[i] == ' ') ++i;
        const size_t keyStart = i;
        while (i < n && argument[i] != '=' && argument[i] != ' ') ++i;
        std::string key = argument.substr(keyStart, i - keyStart);
        std::string value;
        if (i < n && argument[i] == '=') {
            ++i;
            if (i < n && (argument[i] == '\'' || argument[i] == '"')) {
                const char quote = argument[i++];
                const size_t end = argument.find(quote, i);
                value = argument.substr(i, end == std::string::npos ? std::string::npos : end - i);
                i = end == std::string::npos ? n : end + 1;
            } else {
                const size_t valueStart = i;
                while (i < n && argument[i] != ' ') ++i;
                value = argument.substr(valueStart, i - valueStart);
            }
        }
        if (!key.empty()) out[key] = value;
    }
    return out;
}

Outcome ensureVirtualDevice(pulse::PulseClient& client) {
    Outcome outcome;
    if (!client.connected()) {
        outcome.message = "the audio server is not reachable";
        return outcome;
    }
    // A side that is going away (a removal just before, by us or another
    // process) must not pass for a live one: wait until it is gone.
    if (!settle([&] { return dyingSidesGone(client); })) {
        outcome.message = "the virtual device PARLUNE-01 is still being removed";
        return outcome;
    }
    const auto sinks = client.sinks();
    const DeviceInfo* sink = findByName(sinks, kSinkName);

    // Playback side: keep the module that made the sink, drop our others
    // (duplicates get renamed sinks; leftovers of a crash may have none).
    for (const auto& m : ownModules(client, isOwnSinkModule)) {
        if (sink && m.index == sink->ownerModule) continue;
        if (client.unloadModule(m.index)) outcome.changed = true;
    }
    const bool sinkLoaded = !sink;
    if (sinkLoaded) {
        if (client.loadModule("module-null-sink", sinkModuleArgument()) < 0) {
            outcome.message = std::string("could not load the virtual sink ") + kSinkName;
            return outcome;
        }
        outcome.changed = true;
    }

    // Capture side: a remapped source made before the sink was (re)loaded
    // hangs on a monitor that is gone, so it is replaced too.
    const auto sources = client.sources();
    const DeviceInfo* source = findByName(sources, kSourceName);
    bool sourcePresent = source != nullptr;
    for (const auto& m : ownModules(client, isOwnSourceModule)) {
        const bool keep = source && m.index == source->ownerModule && !sinkLoaded;
        if (keep) continue;
        if (client.unloadModule(m.index)) outcome.changed = true;
        if (source && m.index == source->ownerModule) sourcePresent = false;
    }
    if (!sourcePresent) {
        if (client.loadModule("module-remap-source", sourceModuleArgument()) < 0) {
            outcome.message = std::string("could not load the virtual microphone ") + kSourceName;
            return outcome;
        }
        outcome.changed = true;
    }
    // The server may acknowledge a load before it lists the device.
    if (outcome.changed && !settle([&] {
            const auto status = virtualDeviceStatus(client);
            return status.sinkPresent && status.sourcePresent;
        })) {
        outcome.message = "the virtual device PARLUNE-01 was loaded but did not appear";
        return outcome;
    }
    outcome.ok = true;
    outcome.message = outcome.changed ? "virtual device PARLUNE-01 is set up"
                                      : "virtual device PARLUNE-01 is already there";
    return outcome;
}

Outcome removeVirtualDevice(pulse::PulseClient& client) {
    Outcome outcome;
    if (!client.connected()) {
        outcome.message = "the audio server is not reachable";
        return outcome;
    }
    bool allUnloaded = true;
    // The capture side first: it hangs on the sink's monitor.
    for (auto own : {isOwnSourceModule, isOwnSinkModule}) {
        for (const auto& m : ownModules(client, own)) {
            if (client.unloadModule(m.index))
                outcome.changed = true;
            else
                allUnloaded = false;
        }
    }
    outcome.ok = allUnloaded;
    if (!allUnloaded)
        outcome.message = "could not unload every module of the virtual device";
    else if (outcome.changed)
        outcome.message = "virtual device PARLUNE-01 is removed";
    else
        outcome.message = "virtual device PARLUNE-01 was not loaded by Parlune; nothing removed";
    return outcome;
}

bool restartVirtualSinkClock(pulse::PulseClient& client, int waitMs) {
    using Clock = std::chrono::steady_clock;
    constexpr uint64_t kAheadUs = 100000;
    constexpr int kAttempts = 5;
    const auto sinkNow = [&]() -> std::optional<DeviceInfo> {
        const auto sinks = client.sinks();
        const DeviceInfo* sink = findByName(sinks, kSinkName);
        if (!sink) return std::nullopt;
        return *sink;
    };
    auto sink = sinkNow();
    if (!sink) return false;
    if (client.serverName().find("PipeWire") != std::string::npos) return true;
    const auto giveUp = Clock::now() + std::chrono::milliseconds(waitMs);
    for (;;) {
        const auto inputs = client.sinkInputs();
        if (std::any_of(inputs.begin(), inputs.end(),
                        [&](const pulse::StreamInfo& i) { return i.deviceIndex == sink->index; }) ||
            Clock::now() >= giveUp)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    for (int attempt = 0; attempt < kAttempts && sink && sink->latencyUs > kAheadUs; ++attempt) {
        // Let run again even when the suspend was refused: the sink must
        // never stay suspended because of this.
        const bool suspended = client.suspendSink(kSinkName, true);
        if (!client.suspendSink(kSinkName, false) || !suspended) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        sink = sinkNow();
    }
    return sink && sink->latencyUs <= kAheadUs;
}

Status virtualDeviceStatus(pulse::PulseClient& client) {
    Status status;
    status.sinkPresent = findByName(client.sinks(), kSinkName) != nullptr;
    status.sourcePresent = findByName(client.sources(), kSourceName) != nullptr;
    for (const auto& m : client.modules())
        if (isOwnSinkModule(m) || isOwnSourceModule(m)) ++status.ownModules;
    return status;
}

}  // namespace parlune::vdev
