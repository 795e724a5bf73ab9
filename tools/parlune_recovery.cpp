// parlune-recovery: what a restart of the audio server costs, as a user
// hears it. Runs against the private server of scripts/private-pulse.sh,
// whose restart command ends the server process and starts it again with the
// same devices; "back" below is the moment that command returns.
//
// Paths (each a number of rounds; every round one restart):
//   live     a tone into the microphone's feed sink -> microphone -> live
//            chain (run in this process, morph off) -> default sink: from
//            back to the tone on the default sink's monitor again
//   looptap  a tone into PARLUNE-01 -> Looptap (run in this process) -> the
//            speaker; at back the tool does what the program does (loads
//            PARLUNE-01, its clock restarted once the tone is on it): from
//            back to the tone on the speaker's monitor again
//   program  the program itself (build/bin/parlune, offscreen): a tone into
//            the microphone -> live chain -> PARLUNE-01; from back to
//            PARLUNE-01 the default again, and to the tone on PARLUNE-01's
//            microphone (what a chat program records) again
//   ensure   the virtual device's ensure step right after each restart:
//            failures and time
//
// The private server's null sinks stand in for sound cards. PulseAudio's
// render two seconds ahead while idle and keep that timer when a stream
// arrives, which a sound card does not do; so on PulseAudio the tool restarts
// the stand-ins' clocks (the microphone's feed sink and the speaker) once the
// path's stream is on them. PARLUNE-01's clock is the product's own business.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "looptap/looptap.h"
#include "platform/pulse/pulse_client.h"
#include "platform/vdev/virtual_device.h"
#include "tools/live_chain_run.h"
#include "tools/server_streams.h"

namespace {

namespace pulse = parlune::pulse;
namespace tools = parlune::tools;
namespace vdev = parlune::vdev;
namespace fs = std::filesystem;
using tools::Clock;
using namespace std::chrono_literals;

constexpr double kToneHz = 440.0;
constexpr double kHeardLevel = 0.02;  // RMS of a 50 ms window
constexpr auto kHeardWithin = 10s;

double msSince(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

// Runs a program to its end; its exit code, -1 when it could not be run.
int run(const std::vector<std::string>& argv) {
    const pid_t pid = fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    if (waitpid(pid, &status, 0) < 0) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool restartServer() {
    const char* ctl = std::getenv("PRIVATE_PULSE_CTL");
    return ctl && run({"bash", ctl, "restart"}) == 0;
}

bool onPipeWire() {
    pulse::PulseClient client("parlune-recovery");
    return client.serverName().find("PipeWire") != std::string::npos;
}

// Whether a stream of that media name plays into `sink`.
bool playsInto(pulse::PulseClient& client, const std::string& sink, const std::string& media) {
    uint32_t index = UINT32_MAX;
    for (const auto& s : client.sinks())
        if (s.name == sink) index = s.index;
    for (const auto& s : client.sinkInputs())
        if (s.deviceIndex == index && s.mediaName == media) return true;
    return false;
}

// The stand-in sinks' clocks, on PulseAudio only, once `media` plays into
// `sink` (within 3 s).
void restartStandInClock(const std::string& sink, const std::string& media) {
    pulse::PulseClient client("parlune-recovery");
    if (client.serverName().find("PipeWire") != std::string::npos) return;
    const auto giveUp = Clock::now() + 3s;
    while (!playsInto(client, sink, media) && Clock::now() < giveUp)
        std::this_thread::sleep_for(10ms);
    client.suspendSink(sink, true);
    client.suspendSink(sink, false);
}

std::optional<Clock::time_point> waitHeard(tools::SourceRecording& heard, Clock::time_point from,
                                           std::chrono::seconds limit) {
    std::optional<Clock::time_point> at;
    const auto giveUp = Clock::now() + limit;
    while (!at && Clock::now() < giveUp) {
        std::this_thread::sleep_for(20ms);
        at = heard.firstLoud(from, kHeardLevel);
    }
    return at;
}

struct Figures {
    std::vector<double> values;
    int failures = 0;
    void print(const char* what) const {
        std::vector<double> v = values;
        std::sort(v.begin(), v.end());
        if (v.empty()) {
            std::printf("%s: rounds %d, failures %d, nothing measured\n", what, failures, failures);
            return;
        }
        std::printf("%s: rounds %zu, failures %d, median %.0f ms, min %.0f ms, max %.0f ms\n", what,
                    v.size() + static_cast<size_t>(failures), failures, v[v.size() / 2], v.front(),
                    v.back());
    }
};

// One round: the path passes the tone, the server restarts, `afterBack` does
// what the path's owner does then, the tone plays again (with `whileFeeding`
// beside it) and is looked for on `monitor` from the moment it can be
// recorded (`monitorReady`, at once when empty).
struct Round {
    std::string feedSink;     // where the tone goes in
    std::string monitor;      // where it is heard
    std::string outputMedia;  // the path's stream into the heard sink, for the stand-in clock
    std::function<void()> afterBack;
    std::function<void()> whileFeeding;
    std::function<void()> monitorReady;
};

bool isStandIn(const std::string& sink) { return sink != vdev::kSinkName; }

std::optional<double> measureRound(const Round& r) {
    {
        tools::ToneFeed tone(r.feedSink, kToneHz);
        tools::SourceRecording heard(r.monitor);
        if (!tone.ok() || !heard.ok()) return std::nullopt;
        if (!waitHeard(heard, Clock::now(), kHeardWithin)) {
            std::fprintf(stderr, "parlune-recovery: the path passes nothing before the restart\n");
            return std::nullopt;
        }
        if (!restartServer()) {
            std::fprintf(stderr, "parlune-recovery: the restart command failed\n");
            return std::nullopt;
        }
    }
    const auto back = Clock::now();
    if (r.afterBack) r.afterBack();
    tools::ToneFeed tone(r.feedSink, kToneHz);
    if (!tone.ok()) return std::nullopt;
    std::thread beside([&] {
        if (isStandIn(r.feedSink)) restartStandInClock(r.feedSink, "test tone");
        if (r.whileFeeding) r.whileFeeding();
    });
    if (r.monitorReady) r.monitorReady();
    tools::SourceRecording heard(r.monitor);
    const std::string heardSink = r.monitor.substr(0, r.monitor.rfind('.'));
    if (heard.ok() && r.monitor.rfind(".monitor") != std::string::npos && isStandIn(heardSink))
        restartStandInClock(heardSink, r.outputMedia);
    const auto at = heard.ok() ? waitHeard(heard, back, kHeardWithin) : std::nullopt;
    beside.join();
    if (!at) return std::nullopt;
    return msSince(back, *at);
}

void report(int round, const std::optional<double>& ms, Figures& figures) {
    if (ms) {
        std::printf("round %d: heard again %.0f ms after the server was back\n", round, *ms);
        figures.values.push_back(*ms);
    } else {
        std::printf("round %d: not heard again\n", round);
        ++figures.failures;
    }
}

int measureLive(int rounds) {
    tools::LiveChainOptions chain;
    chain.mode = "off";
    tools::startLiveChain(chain);
    Figures figures;
    const std::string defaultSink = [] {
        pulse::PulseClient client("parlune-recovery");
        return client.defaultSinkName();
    }();
    for (int i = 0; i < rounds; ++i)
        report(i + 1,
               measureRound({"micsink", defaultSink + ".monitor", "Parlune mixer", {}, {}, {}}),
               figures);
    tools::stopLiveChain(5000);
    figures.print("recovery live");
    return figures.values.empty() ? 1 : 0;
}

// A data folder of the run's own, with Looptap's speaker in config.ini.
class DataFolder {
public:
    DataFolder() {
        char pattern[] = "/tmp/parlune-recovery-XXXXXX";
        if (mkdtemp(pattern)) path_ = pattern;
        fs::create_directories(path_ + "/Parlune");
        std::ofstream(path_ + "/Parlune/config.ini", std::ios::binary) << "Speaker";
        setenv("XDG_DATA_HOME", path_.c_str(), 1);
    }
    ~DataFolder() { fs::remove_all(path_); }

private:
    std::string path_;
};

bool ensureVirtualDevice() {
    pulse::PulseClient client("parlune-recovery");
    return client.connected() && vdev::ensureVirtualDevice(client).ok;
}

int measureLooptap(int rounds) {
    DataFolder data;
    if (!ensureVirtualDevice()) return 1;
    StartPlaying();
    Figures figures;
    Round round{vdev::kSinkName,
                "speaker.monitor",
                "Wave playback",
                [] { ensureVirtualDevice(); },
                // The program restarts the clock once the live chain plays
                // into PARLUNE-01; here the tone stands in for the live chain.
                [] {
                    pulse::PulseClient client("parlune-recovery");
                    vdev::restartVirtualSinkClock(client, 3000);
                },
                {}};
    for (int i = 0; i < rounds; ++i) report(i + 1, measureRound(round), figures);
    StopPlaying();
    pulse::PulseClient client("parlune-recovery");
    vdev::removeVirtualDevice(client);
    figures.print("recovery looptap");
    return figures.values.empty() ? 1 : 0;
}

std::optional<Clock::time_point> waitDefault(const std::string& sink, std::chrono::seconds limit) {
    const auto giveUp = Clock::now() + limit;
    while (Clock::now() < giveUp) {
        {
            pulse::PulseClient client("parlune-recovery");
            if (client.defaultSinkName() == sink) return Clock::now();
        }
        std::this_thread::sleep_for(20ms);
    }
    return std::nullopt;
}

std::string programPath(const char* self) {
    return (fs::absolute(fs::path(self)).parent_path() / "parlune").string();
}

// The program as a user runs it, heard where a chat program records: on
// PARLUNE-01's microphone, which can be recorded once the program has loaded
// it again.
int measureProgram(int rounds, const std::string& program) {
    DataFolder data;
    const pid_t pid = fork();
    if (pid < 0) return 1;
    if (pid == 0) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        unsetenv("PARLUNE_AUDIO_BACKEND");
        execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    Figures routed, heard;
    if (!waitDefault(vdev::kSinkName, 20s)) {
        std::fprintf(stderr, "parlune-recovery: the program did not route at start\n");
    } else {
        for (int i = 0; i < rounds; ++i) {
            Clock::time_point back;
            std::optional<Clock::time_point> routedAt;
            // The live chain's output plays into the stand-in speaker (the
            // default) until the routing moves it.
            const Round round{"micsink",
                              vdev::kSourceName,
                              "",
                              [&] { back = Clock::now(); },
                              [] { restartStandInClock("speaker", "Parlune mixer"); },
                              [&] { routedAt = waitDefault(vdev::kSinkName, 10s); }};
            const auto ms = measureRound(round);
            if (routedAt) {
                routed.values.push_back(msSince(back, *routedAt));
                std::printf(
                    "round %d: PARLUNE-01 the default again %.0f ms after the server was "
                    "back\n",
                    i + 1, routed.values.back());
            } else {
                ++routed.failures;
            }
            report(i + 1, ms, heard);
        }
    }
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
    routed.print("recovery program, PARLUNE-01 the default again");
    heard.print("recovery program, the voice on PARLUNE-01's microphone again");
    return heard.values.empty() ? 1 : 0;
}

int measureEnsure(int rounds) {
    Figures figures;
    for (int i = 0; i < rounds; ++i) {
        if (!restartServer()) {
            ++figures.failures;
            std::fprintf(stderr, "parlune-recovery: the restart command failed\n");
            continue;
        }
        const auto start = Clock::now();
        pulse::PulseClient client("parlune-recovery");
        const auto outcome = vdev::ensureVirtualDevice(client);
        const auto status = vdev::virtualDeviceStatus(client);
        if (outcome.ok && status.sinkPresent && status.sourcePresent) {
            figures.values.push_back(msSince(start, Clock::now()));
        } else {
            ++figures.failures;
            std::printf("round %d: %s\n", i + 1, outcome.message.c_str());
        }
    }
    figures.print("ensure after a restart");
    return figures.failures == 0 ? 0 : 1;
}

void printUsage(std::FILE* to) {
    std::fprintf(to,
                 "Usage: parlune-recovery --path live|looptap|program|ensure [--rounds N]\n"
                 "Restarts the private audio server N times (default 5; 50 for ensure) and\n"
                 "prints how long each path took to pass sound again (see the source's head).\n"
                 "Needs PRIVATE_PULSE_CTL and PRIVATE_PULSE_DIR (scripts/private-pulse.sh).\n"
                 "Exit codes: 0 measured, 1 nothing measured or failures, 2 wrong usage.\n");
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    std::string path;
    int rounds = -1;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help") {
            printUsage(stdout);
            return 0;
        }
        if (i + 1 >= argc) {
            printUsage(stderr);
            return 2;
        }
        if (a == "--path")
            path = argv[++i];
        else if (a == "--rounds")
            rounds = std::atoi(argv[++i]);
        else {
            printUsage(stderr);
            return 2;
        }
    }
    if (rounds < 0) rounds = path == "ensure" ? 50 : 5;
    if (rounds < 1 || !std::getenv("PRIVATE_PULSE_CTL") || !std::getenv("PRIVATE_PULSE_DIR")) {
        printUsage(stderr);
        return 2;
    }
    if (!pulse::serverReachable(2000)) {
        std::fprintf(stderr, "parlune-recovery: no audio server\n");
        return 1;
    }
    std::printf("server: %s\n", onPipeWire() ? "PipeWire (pipewire-pulse)" : "PulseAudio");
    if (path == "live") return measureLive(rounds);
    if (path == "looptap") return measureLooptap(rounds);
    if (path == "program") return measureProgram(rounds, programPath(argv[0]));
    if (path == "ensure") return measureEnsure(rounds);
    printUsage(stderr);
    return 2;
}
