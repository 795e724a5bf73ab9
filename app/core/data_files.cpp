#include "app/core/data_files.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>

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
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out.write(deviceName.data(), static_cast<std::streamsize>(deviceName.size()));
    return static_cast<bool>(out);
}

}  // namespace parlune::data
