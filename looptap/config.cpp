#include "looptap/config.h"

#include "app/core/data_files.h"
#include "app/core/device_screens.h"

#include <algorithm>
#include <filesystem>

#include "platform/base/files.h"
#include "platform/wave/wave.h"

namespace parlune::looptap {
namespace {

// config.ini holds one name; a larger file is not a config.ini.
constexpr uint64_t kMaxConfigBytes = 64 * 1024;

// ASCII only: UTF-8 bytes of other characters stay as they are.
std::string asciiLower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

bool contains(const std::string& text, const char* part) {
    return text.find(part) != std::string::npos;
}

}  // namespace

std::string ReadPlaybackDeviceName() {
    const std::string folder = data::dataFolder();
    if (folder.empty()) return {};
    std::error_code error;
    if (!std::filesystem::is_directory(folder, error)) {
        std::filesystem::create_directories(folder, error);
        if (!std::filesystem::is_directory(folder, error)) return {};
    }
    // A regular file only: a FIFO here would block StartPlaying forever.
    std::string bytes;
    if (!base::readRegularFile(data::configIniPath(), kMaxConfigBytes, &bytes, nullptr)) return {};
    std::string line = bytes.substr(0, std::min(bytes.find('\n'), kMaxLineChars));
    // The name ends at a terminator, as the program's text would.
    line = line.substr(0, line.find('\0'));
    // A line end written as CR LF, or a lone CR, is no part of the name.
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return wave::capsName(line);
}

int ChoosePlaybackDevice(const DeviceNames& names, const std::string& wanted, bool* firstStart) {
    int firstSuitable = -1;
    for (size_t i = 0; i < names.size(); ++i) {
        if (!names[i]) continue;
        const std::string lower = asciiLower(*names[i]);
        if (contains(lower, "virtual") || contains(lower, "fake") || contains(lower, "parlune"))
            continue;
        if (firstSuitable < 0) firstSuitable = static_cast<int>(i);
        if (firstStart) *firstStart = false;
        if (contains(*names[i], wanted.c_str())) return static_cast<int>(i);
    }
    return firstSuitable;
}

int ChooseCaptureDevice(const DeviceNames& names) {
    for (size_t i = 0; i < names.size(); ++i)
        if (names[i] && screens::IsCaptureCandidate(*names[i])) return static_cast<int>(i);
    return -1;
}

}  // namespace parlune::looptap
