#include "platform/endpoints/endpoints.h"

#include "platform/pulse/device_directory.h"

namespace parlune::endpoints {
namespace {

Endpoint endpoint(const pulse::DeviceInfo& source) {
    return Endpoint{source.name, source.description, source.muted};
}

}  // namespace

PulseEndpoints::PulseEndpoints() : directory_(pulse::DeviceDirectory::shared()) {}
PulseEndpoints::~PulseEndpoints() = default;

bool PulseEndpoints::available() const { return directory_->connected(); }

std::optional<std::string> PulseEndpoints::defaultPlaybackName() {
    const std::string name = directory_->defaultPlaybackName();
    if (name.empty()) return std::nullopt;
    for (const auto& sink :
         directory_->playbackDevices().value_or(std::vector<pulse::DeviceInfo>{}))
        if (sink.name == name) return sink.description;
    return std::nullopt;
}

std::optional<std::vector<Endpoint>> PulseEndpoints::active() {
    const auto sources = directory_->captureDevices();
    if (!sources) return std::nullopt;
    std::vector<Endpoint> out;
    for (const auto& source : *sources) out.push_back(endpoint(source));
    return out;
}

std::optional<Endpoint> PulseEndpoints::defaultEndpoint() {
    const std::string name = directory_->defaultCaptureName();
    if (name.empty()) return std::nullopt;
    for (const auto& source :
         directory_->captureDevices().value_or(std::vector<pulse::DeviceInfo>{}))
        if (source.name == name) return endpoint(source);
    return std::nullopt;
}

bool PulseEndpoints::setMute(const std::string& id, bool mute) {
    return directory_->setCaptureMute(id, mute);
}

}  // namespace parlune::endpoints
