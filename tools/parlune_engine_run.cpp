// parlune-engine-run: runs the live chain on its own, for soak runs against
// an audio server. Prints status lines and a summary: the smoothed latency
// against its band, the rate corrections, underruns and memory. Latency from
// the microphone to the output is measured by parlune-latency.
#include "engine/engine.h"
#include "tools/live_chain_run.h"

#include <QCoreApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;
namespace engine = parlune::engine;
namespace tools = parlune::tools;

struct Options {
    double seconds = 10;
    tools::LiveChainOptions chain;
    int statusMs = 1000;
    double settleSeconds = 5;
};

void printUsage() {
    std::printf(
        "Usage: parlune-engine-run [options]\n"
        "  --seconds N          how long the live chain runs (default 10)\n"
        "%s"
        "  --status-ms MS       status line period, 0 for none (default 1000)\n"
        "  --settle S           seconds before the latency band is judged (default 5)\n",
        tools::kLiveChainOptionsHelp);
}

bool parse(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const tools::OptionTaken taken = tools::takeLiveChainOption(argc, argv, i, o.chain);
        if (taken == tools::OptionTaken::Bad) return false;
        if (taken == tools::OptionTaken::Yes) continue;
        const std::string a = argv[i];
        auto next = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        const char* v = nullptr;
        if (a == "--seconds" && (v = next()))
            o.seconds = std::atof(v);
        else if (a == "--status-ms" && (v = next()))
            o.statusMs = std::atoi(v);
        else if (a == "--settle" && (v = next()))
            o.settleSeconds = std::atof(v);
        else
            return false;
    }
    return true;
}

long rssKb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
    return -1;
}

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    Options o;
    if (!parse(argc, argv, o)) {
        printUsage();
        return 2;
    }

    const long rssStart = rssKb();
    const Clock::time_point start = Clock::now();
    tools::startLiveChain(o.chain);

    double minLatency = 1e9, maxLatency = -1e9;
    long judged = 0, outside = 0;
    long nextStatus = 0;
    while (secondsSince(start) < o.seconds) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        const engine::LiveChainStatus s = engine::liveChainStatus();
        const double t = secondsSince(start);
        const double perMs = s.nativeRate > 0 ? s.nativeRate / 1000.0 : 1.0;
        const double latencyMs = s.actualLatency / perMs;
        if (s.phase == engine::LiveChainStatus::Phase::Playing && t >= o.settleSeconds) {
            minLatency = std::min(minLatency, latencyMs);
            maxLatency = std::max(maxLatency, latencyMs);
            const double low = (double(s.adjustedLatency) - s.driftThreshold) / perMs;
            const double high = (double(s.adjustedLatency) + s.driftThreshold) / perMs;
            ++judged;
            if (latencyMs < low || latencyMs > high) ++outside;
        }
        if (o.statusMs > 0 && t * 1000 >= nextStatus) {
            nextStatus += o.statusMs;
            std::printf(
                "t=%.1fs runs=%llu passes=%llu latency=%.1fms target=%.1fms "
                "band=+-%.1fms rate=%d recorded=%.2fs slow=%llu fast=%llu underruns=%llu "
                "device_underruns=%llu rss=%ldkB\n",
                t, (unsigned long long)s.runs, (unsigned long long)s.passes, latencyMs,
                s.adjustedLatency / perMs, s.driftThreshold / perMs, s.rate,
                s.samplesRecorded / perMs / 1000.0, (unsigned long long)s.slowPasses,
                (unsigned long long)s.fastPasses, (unsigned long long)s.underruns,
                (unsigned long long)s.deviceUnderruns, rssKb());
            std::fflush(stdout);
        }
    }

    const bool ended = tools::stopLiveChain(5000);
    const engine::LiveChainStatus s = engine::liveChainStatus();
    std::printf(
        "summary: seconds=%.0f passes=%llu latency_min=%.1fms latency_max=%.1fms "
        "outside_band=%ld/%ld slow_passes=%llu fast_passes=%llu underruns=%llu "
        "device_underruns=%llu rss_start=%ldkB rss_end=%ldkB stopped=%s\n",
        secondsSince(start), (unsigned long long)s.passes, judged ? minLatency : 0.0,
        judged ? maxLatency : 0.0, outside, judged, (unsigned long long)s.slowPasses,
        (unsigned long long)s.fastPasses, (unsigned long long)s.underruns,
        (unsigned long long)s.deviceUnderruns, rssStart, rssKb(), ended ? "yes" : "no");
    if (!ended) return 1;
    return judged == 0 ? 1 : 0;
}
