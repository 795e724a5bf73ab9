// Microphone mute: so that chat programs hear only the changed voice, every
// capture endpoint is muted except the chosen microphone and the virtual
// device (whose name carries "Parlune"). Mute changes outlive the program.
//
// Thread contract: GUI thread; blocks for the endpoint calls.
#pragma once

#include <string>

namespace parlune::endpoints {
class CaptureEndpoints;
}

namespace parlune::routing {

// chosenName is the microphone's friendly name, empty at start-up; when no
// endpoint carries it, the default capture endpoint is unmuted. When several
// carry it, exactly one stays unmuted: the default one if it is among them,
// else the first. A failed endpoint call ends the pass at once.
void muteOtherMicrophones(const std::string& chosenName, endpoints::CaptureEndpoints& endpoints);
void muteOtherMicrophones(const std::string& chosenName);

}  // namespace parlune::routing
