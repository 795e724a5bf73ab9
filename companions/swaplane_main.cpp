// swaplane setplay|restoreplay: makes the virtual device PARLUNE-01 the
// default playback device, remembering the previous default in PlayDev.ini
// (see playdev_file.h), and puts that device back.
// Exit codes: 0 done, 1 not done (the message says why), 2 wrong usage,
// 3 audio server not reachable.
#include <unistd.h>

#include <cstdio>
#include <exception>
#include <sstream>
#include <string>

#include "app/core/data_files.h"
#include "app/core/playdev_file.h"
#include "platform/base/files.h"
#include "platform/pulse/pulse_client.h"
#include "platform/vdev/virtual_device.h"

namespace {

using parlune::data::printable;
using parlune::pulse::PulseClient;
namespace playdev = parlune::playdev;
namespace vdev = parlune::vdev;

int say(int code, const std::string& message) {
    std::fprintf(code == 0 ? stdout : stderr, "swaplane: %s\n", message.c_str());
    return code;
}

const parlune::pulse::DeviceInfo* findSink(const std::vector<parlune::pulse::DeviceInfo>& sinks,
                                           const std::string& name) {
    for (const auto& s : sinks)
        if (s.name == name) return &s;
    return nullptr;
}

// The program run that started the switcher: its process id and its start
// time (clock ticks after boot), so a process id used again later is another
// run.
std::string callerRun() {
    const pid_t parent = getppid();
    std::string stat;
    std::string run = std::to_string(parent);
    if (parlune::base::readRegularFile("/proc/" + run + "/stat", 4096, &stat, nullptr)) {
        // Fields after the command name, which is in parentheses and may hold
        // spaces; the start time is field 22, the 20th after it.
        std::istringstream fields(stat.substr(stat.rfind(')') + 1));
        std::string field;
        for (int i = 0; i < 20 && fields >> field; ++i) {
        }
        if (fields) run += ":" + field;
    }
    return run;
}

int setPlay(PulseClient& client, const std::string& iniPath) {
    const auto sinks = client.sinks();
    const auto* virtualSink = findSink(sinks, vdev::kSinkName);
    if (!virtualSink)
        return say(1, "the virtual device is missing (run parlune-vdev up); default left alone");
    const std::string current = client.defaultSinkName();
    if (current == vdev::kSinkName) {
        // Remembering the virtual device as "previous" would lose the real one.
        if (playdev::readFile(iniPath))
            return say(0, "PARLUNE-01 is already the default playback device");
        if (!playdev::writeFile(iniPath, {virtualSink->description, virtualSink->name, ""}))
            return say(1, "could not write " + printable(iniPath));
        return say(
            0, "PARLUNE-01 is already the default playback device; no other device to remember");
    }
    // Within one run the device to give back is the one remembered first, not
    // what the server made the default meanwhile: a server that restarted
    // comes back with a default of its own choosing.
    const std::string run = callerRun();
    const auto earlier = playdev::readFile(iniPath);
    if (earlier && earlier->run == run && earlier->sinkName != vdev::kSinkName &&
        findSink(sinks, earlier->sinkName)) {
        if (!client.setDefaultSink(vdev::kSinkName))
            return say(1, "the audio server refused to change the default playback device");
        return say(0, "PARLUNE-01 is the default playback device again (" + earlier->friendlyName +
                          " stays remembered)");
    }
    const auto* previous = findSink(sinks, current);
    const playdev::Remembered remembered{previous ? previous->description : current, current, run};
    // Without a record of the previous default there is no way back: do not switch.
    if (!playdev::writeFile(iniPath, remembered))
        return say(1, "could not write " + printable(iniPath) + "; default left alone");
    if (!client.setDefaultSink(vdev::kSinkName))
        return say(1, "the audio server refused to change the default playback device");
    return say(
        0, "PARLUNE-01 is now the default playback device (was " + remembered.friendlyName + ")");
}

int restorePlay(PulseClient& client, const std::string& iniPath) {
    std::string why;
    const auto bytes = playdev::readBytes(iniPath, &why);
    if (!bytes)
        return say(1, "no previous playback device remembered in " + printable(iniPath) + " (" +
                          why + ")");
    const auto remembered = playdev::decode(*bytes);
    if (!remembered)
        return say(1, "no previous playback device remembered in " + printable(iniPath));
    if (remembered->sinkName == vdev::kSinkName)
        return say(1, "the remembered device is PARLUNE-01 itself; default left alone");
    if (!findSink(client.sinks(), remembered->sinkName))
        return say(1, printable(remembered->friendlyName) + " (" + printable(remembered->sinkName) +
                          ") no longer exists; default left alone");
    if (!client.setDefaultSink(remembered->sinkName))
        return say(1, "the audio server refused to change the default playback device");
    return say(0, printable(remembered->friendlyName) + " is the default playback device again");
}

}  // namespace

static int run(int argc, char** argv) {
    const std::string command = argc == 2 ? argv[1] : "";
    if (command != "setplay" && command != "restoreplay") {
        std::fprintf(stderr, "usage: swaplane setplay|restoreplay\n");
        return 2;
    }
    const std::string iniPath = parlune::data::playDevIniPath();
    if (iniPath == "/PlayDev.ini")
        return say(1, "no per-user temporary folder (XDG_RUNTIME_DIR, HOME)");
    PulseClient client("swaplane");
    if (!client.connected()) return say(3, "the audio server is not reachable");
    return command == "setplay" ? setPlay(client, iniPath) : restorePlay(client, iniPath);
}

int main(int argc, char** argv) {
    // No exception ends the switcher with an abort; it says why instead.
    try {
        return run(argc, argv);
    } catch (const std::exception& e) {
        return say(1, std::string("stopped: ") + e.what());
    } catch (...) {
        return say(1, "stopped by an unexpected error");
    }
}
