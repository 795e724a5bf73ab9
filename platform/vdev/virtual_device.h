// The virtual device PARLUNE-01, made of two modules of the audio server: a
// null sink (the playback side) and a source remapped from its monitor (the
// capture side that chat programs pick). Only modules loaded with the
// arguments below are ever unloaded here; every other module is left alone,
// even one of another tool that uses the same device name.
//
// Thread contract: plain blocking calls; use one PulseClient per thread.
#pragma once

#include <map>
#include <string>

namespace parlune::pulse {
class PulseClient;
}

namespace parlune::vdev {

constexpr char kSinkName[] = "parlune_01";
constexpr char kSinkDescription[] = "PARLUNE-01 (Parlune Virtual Audio)";
constexpr char kSourceName[] = "parlune_01_mic";
constexpr char kSourceDescription[] = "PARLUNE-01 Microphone (Parlune Virtual Audio)";

// The argument strings the two modules are loaded with.
std::string sinkModuleArgument();
std::string sourceModuleArgument();

// key=value pairs of a module argument string; values may be quoted with ' or ".
std::map<std::string, std::string> parseModuleArguments(const std::string& argument);

struct Outcome {
    bool ok = false;
    bool changed = false;  // a module was loaded or unloaded
    std::string message;   // one line for the user
};

// Loads what is missing, unloads duplicates and leftovers of a crashed run
// (for instance a remapped source whose sink is gone). Idempotent. Returns
// once both sides are listed (the server may acknowledge a load before it
// lists the device), after at most about 2 s of waiting; a side whose module
// is already gone from the server's list is taken as going away, waited for,
// and loaded again.
Outcome ensureVirtualDevice(pulse::PulseClient& client);
// Unloads the modules that make the virtual device. Idempotent.
Outcome removeVirtualDevice(pulse::PulseClient& client);

// On PulseAudio a null sink that nothing plays into renders two seconds
// ahead, and keeps that timer when streams arrive: PARLUNE-01's microphone
// then passes nothing for up to 2 s after it was loaded. Suspending the sink
// and letting it run again starts its clock anew at the latency its streams
// ask for now, so it is done once a stream that keeps it busy (the live
// chain's output) is on it: this waits up to waitMs for a playback stream on
// the sink first, then restarts the clock while the sink holds more than
// 100 ms (a stream that has just arrived may not have set its latency yet),
// a few times at most; a sink that holds little is left alone. PipeWire is
// not held up this way (and a sink it suspends passes nothing to streams that
// come later): there this does nothing. False when the sink is missing, the
// server refused or the sink still holds more than 100 ms.
bool restartVirtualSinkClock(pulse::PulseClient& client, int waitMs = 0);

struct Status {
    bool sinkPresent = false;
    bool sourcePresent = false;
    int ownModules = 0;  // modules whose arguments name the virtual device
};
Status virtualDeviceStatus(pulse::PulseClient& client);

}  // namespace parlune::vdev
