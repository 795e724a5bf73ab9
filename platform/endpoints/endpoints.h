// Playback and capture endpoints as the user sees them: friendly names, the
// defaults, and the mute switch of a capture endpoint. A capture endpoint is a
// capture device of the device directory (a source that is not the monitor of
// a sink).
//
// Thread contract: one object per thread; calls block for at most the device
// directory's timeout.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace parlune::pulse {
class DeviceDirectory;
}

namespace parlune::endpoints {

struct Endpoint {
    std::string id;            // stable identity (the server's source name)
    std::string friendlyName;  // what the user sees
    bool muted = false;
};

// The capture side as the microphone mute pass needs it; tests substitute a
// fake list.
class CaptureEndpoints {
public:
    virtual ~CaptureEndpoints() = default;
    // Active capture endpoints in server order; nullopt when the list cannot be had.
    virtual std::optional<std::vector<Endpoint>> active() = 0;
    virtual std::optional<Endpoint> defaultEndpoint() = 0;
    virtual bool setMute(const std::string& id, bool mute) = 0;
};

// On the process's shared device directory, so endpoint objects made while
// another holder keeps it open share its connection.
class PulseEndpoints : public CaptureEndpoints {
public:
    PulseEndpoints();
    ~PulseEndpoints() override;

    bool available() const;  // the audio server answered
    // Friendly name of the default playback endpoint; nullopt on failure.
    std::optional<std::string> defaultPlaybackName();

    std::optional<std::vector<Endpoint>> active() override;
    std::optional<Endpoint> defaultEndpoint() override;
    bool setMute(const std::string& id, bool mute) override;

private:
    std::shared_ptr<pulse::DeviceDirectory> directory_;
};

}  // namespace parlune::endpoints
