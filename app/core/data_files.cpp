#include "app/core/data_files.h"

#include <cstdlib>
#include <filesystem>

#include "platform/base/files.h"

namespace parlune::data {
namespace {

std::string environment(const char* name) {
    const char* v = std::getenv(name);
    return v && *v ? v : "";
}

std::string homeBased(const char* relative) {
    const std::string home = environment("HOME");
    return home.empty() ? "" : home + relative;
}

}  // namespace

std::string dataFolder() {
    std::string base = environment("XDG_DATA_HOME");
    if (base.empty()) base = homeBased("/.local/share");
    return base.empty() ? "" : base + "/Parlune";
}

std::string perUserTempFolder() {
    const std::string runtime = environment("XDG_RUNTIME_DIR");
    return runtime.empty() ? homeBased("/.cache") : runtime;
}

std::string configIniPath() { return dataFolder() + "/config.ini"; }
std::string playDevIniPath() { return perUserTempFolder() + "/PlayDev.ini"; }
std::string switcherPath() { return dataFolder() + "/swaplane"; }
std::string favoritesPath() { return dataFolder() + "/favorites.dat"; }

bool prepareDataFolder(const std::string& programFolder) {
    namespace fs = std::filesystem;
    const std::string folder = dataFolder();
    if (folder.empty()) return false;
    std::error_code ec;
    fs::create_directories(fs::path(folder) / "media", ec);
    if (ec) return false;
    fs::copy_file(fs::path(programFolder) / "swaplane", switcherPath(),
                  fs::copy_options::overwrite_existing, ec);
    return !ec;
}

bool writeConfigIni(const std::string& path, const std::string& deviceName) {
    return base::writeFileReplacing(path, deviceName);
}

std::string printable(const std::string& text) {
    std::string shown;
    shown.reserve(text.size());
    const auto byte = [&](size_t i) {
        return i < text.size() ? static_cast<unsigned char>(text[i]) : 0u;
    };
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned c = byte(i);
        if (c < 0x20 || c == 0x7F) {
            shown += '?';
        } else if (c == 0xC2 && byte(i + 1) >= 0x80 && byte(i + 1) <= 0x9F) {
            shown += '?';  // U+0080..U+009F
            ++i;
        } else if (c == 0xEF && byte(i + 1) == 0xBB && byte(i + 2) == 0xBF) {
            shown += '?';  // U+FEFF
            i += 2;
        } else {
            shown += static_cast<char>(c);
        }
    }
    return shown;
}

}  // namespace parlune::data
