// parlune-vdev up|down|status: provides the virtual device PARLUNE-01.
// Exit codes: 0 done (status: device present), 1 failed (status: device
// missing), 2 wrong usage, 3 audio server not reachable.
#include <cstdio>
#include <cstring>

#include "platform/pulse/pulse_client.h"
#include "platform/vdev/virtual_device.h"

namespace {

int usage() {
    std::fprintf(stderr, "usage: parlune-vdev up|down|status\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) return usage();
    const std::string command = argv[1];
    if (command != "up" && command != "down" && command != "status") return usage();

    parlune::pulse::PulseClient client("parlune-vdev");
    if (!client.connected()) {
        std::fprintf(stderr, "parlune-vdev: the audio server is not reachable\n");
        return 3;
    }
    using namespace parlune::vdev;
    if (command == "status") {
        const Status s = virtualDeviceStatus(client);
        std::printf("PARLUNE-01: playback side %s, capture side %s, %d module(s) of Parlune\n",
                    s.sinkPresent ? "present" : "missing", s.sourcePresent ? "present" : "missing",
                    s.ownModules);
        return s.sinkPresent && s.sourcePresent ? 0 : 1;
    }
    const Outcome outcome =
        command == "up" ? ensureVirtualDevice(client) : removeVirtualDevice(client);
    std::FILE* out = outcome.ok ? stdout : stderr;
    std::fprintf(out, "parlune-vdev: %s\n", outcome.message.c_str());
    return outcome.ok ? 0 : 1;
}
