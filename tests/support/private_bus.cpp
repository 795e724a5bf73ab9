#include "tests/support/private_bus.h"

#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <thread>

namespace parlune::test {

std::string escapeBusAddressValue(const std::string& value) {
    std::string escaped;
    for (const char c : value) {
        const bool plain = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') ||
                           (c >= 'A' && c <= 'Z') || c == '-' || c == '_' || c == '/' || c == '.' ||
                           c == '\\' || c == '*';
        if (plain) {
            escaped += c;
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02x", static_cast<unsigned char>(c));
            escaped += hex;
        }
    }
    return escaped;
}

PrivateBus::PrivateBus() {
    const std::string socket = dir_.file("bus");
    address_ = "unix:path=" + escapeBusAddressValue(socket);
    // Only what a session bus needs to let the test's programs talk: no
    // service folders (nothing of the machine is started on demand).
    const std::string config = dir_.file("bus.conf");
    writeFileBytes(config,
                   "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration "
                   "1.0//EN\" \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                   "<busconfig>\n"
                   "  <type>session</type>\n"
                   "  <listen>" +
                       address_ +
                       "</listen>\n"
                       "  <auth>EXTERNAL</auth>\n"
                       "  <policy context=\"default\">\n"
                       "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
                       "    <allow eavesdrop=\"true\"/>\n"
                       "    <allow own=\"*\"/>\n"
                       "  </policy>\n"
                       "</busconfig>\n");
    daemon_ = std::make_unique<BackgroundProgram>(std::vector<std::string>{
        "dbus-daemon", "--nofork", "--nopidfile", "--config-file=" + config});
    if (!daemon_->started()) return;
    for (int attempt = 0; attempt < 500 && daemon_->running(); ++attempt) {
        struct stat info {};
        if (::stat(socket.c_str(), &info) == 0 && S_ISSOCK(info.st_mode)) {
            ok_ = true;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

PrivateBus::~PrivateBus() = default;

std::string PrivateBus::log() { return ok_ ? std::string() : daemon_->kill().output; }

}  // namespace parlune::test
