#include "app/data_files.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

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
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out.write(deviceName.data(), static_cast<std::streamsize>(deviceName.size()));
    return static_cast<bool>(out);
}

bool isParluneinPlayDeviceINI(const std::string& path, std::string* errorText) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (errorText) *errorText = std::strerror(errno);
        return false;
    }
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    size_t start = 0;
    while (start < bytes.size()) {
        size_t end = bytes.find('\n', start);
        if (end == std::string::npos) end = bytes.size();
        // An 8-bit line split leaves the high byte of the UTF-16 line feed at
        // the start of the next line; skipping it keeps every line aligned
        // (without this only the first line could be read).
        size_t from = start;
        if (start > 0 && from < end && bytes[from] == '\0') ++from;
        std::string text;
        for (size_t i = from; i < end; i += 2) text += bytes[i];
        if (text.find("Parlune") != std::string::npos) return true;
        start = end + 1;
    }
    return false;
}

bool isParluneinPlayDeviceINI() { return isParluneinPlayDeviceINI(playDevIniPath()); }

}  // namespace parlune::data
