#include "app/core/device_screens.h"

namespace parlune::screens {

bool IsCaptureCandidate(const std::string& name) {
    if (name.find("Parlune") == std::string::npos) return false;
    std::string upper = name;
    // ASCII only: UTF-8 bytes of other characters stay as they are.
    for (char& c : upper)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return upper.find("MIDI") == std::string::npos;
}

}  // namespace parlune::screens
