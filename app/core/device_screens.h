// How the parts of the program recognise the virtual device by its name: the
// capture screen Looptap applies to pick the virtual microphone, which the
// routing asks too before it starts the pass-through (Looptap ends the process
// when nothing passes).
//
// Thread contract: pure functions; any thread.
#pragma once

#include <string>

namespace parlune::screens {

// Whether a capture device of this name (as the device list reports it, cut
// to 31 bytes) passes the capture screen: it contains "Parlune"
// (case-sensitive) and not "MIDI" in any case.
bool IsCaptureCandidate(const std::string& name);

}  // namespace parlune::screens
