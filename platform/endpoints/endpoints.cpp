#include "platform/endpoints/endpoints.h"

#include "platform/pulse/pulse_client.h"

namespace parlune::endpoints {

PulseEndpoints::PulseEndpoints() : client_(new pulse::PulseClient("Parlune endpoints")) {}
PulseEndpoints::~PulseEndpoints() = default;

bool PulseEndpoints::available() const { return client_->connected(); }

std::optional<std::string> PulseEndpoints::defaultPlaybackName() {
    if (!client_->connected()) return std::nullopt;
    const std::string name = client_->defaultSinkName();
    if (name.empty()) return std::nullopt;
    for (const auto& sink : client_->sinks())
        if (sink.name == name) return sink.description;
    return std::nullopt;
}

std::optional<std::vector<Endpoint>> PulseEndpoints::active() {
    if (!client_->connected()) return std::nullopt;
    std::vector<Endpoint> out;
    for (const auto& source : client_->sources())
        if (!source.isMonitor) out.push_back(Endpoint{source.name, source.description, source.muted});
    return out;
}

std::optional<Endpoint> PulseEndpoints::defaultEndpoint() {
    if (!client_->connected()) return std::nullopt;
    const std::string name = client_->defaultSourceName();
    for (const auto& source : client_->sources())
        if (source.name == name && !source.isMonitor)
            return Endpoint{source.name, source.description, source.muted};
    return std::nullopt;
}

bool PulseEndpoints::setMute(const std::string& id, bool mute) {
    return client_->setSourceMute(id, mute);
}

}  // namespace parlune::endpoints
