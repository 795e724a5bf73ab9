// parlune-engine-run: runs the live chain on its own, for soak runs and
// latency measurements against an audio server. Prints status lines and a
// summary; with --measure-latency it feeds voiced bursts into a sink whose
// monitor is the microphone, records the microphone and the default sink's
// monitor, and prints the microphone-to-output latency of each burst.
#include "app/properties.h"
#include "engine/engine.h"
#include "platform/pulse/pulse_client.h"

#include <QCoreApplication>
#include <QtConcurrent>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
namespace engine = parlune::engine;
namespace pulse = parlune::pulse;

struct Options {
    double seconds = 10;
    std::string mode = "cartoon";  // cartoon, human, off
    double pitch = 1.0;
    double formant = 1.5;
    int mic = 0;
    bool echo = false, chorus = false, distortion = false, tremolo = false, reverb = false;
    int statusMs = 1000;
    int measureCount = 0;
    std::string feedSink = "micsink";
    std::string micSource;  // empty: the default source
    double settleSeconds = 5;
};

void printUsage() {
    std::printf(
        "Usage: parlune-engine-run [options]\n"
        "  --seconds N          how long the live chain runs (default 10)\n"
        "  --mode M             cartoon, human or off (morph bypassed); default cartoon\n"
        "  --pitch P --formant F  voice controls (default 1 and 1.5)\n"
        "  --mic N              record driver index (default 0)\n"
        "  --echo --chorus --distortion --tremolo --reverb   switch effects on\n"
        "  --status-ms MS       status line period, 0 for none (default 1000)\n"
        "  --settle S           seconds before the latency band is judged (default 5)\n"
        "  --measure-latency K  play K voiced bursts into the feed sink and report\n"
        "                       the microphone-to-output latency of each\n"
        "  --feed SINK          sink whose monitor feeds the microphone (default micsink)\n"
        "  --mic-source NAME    capture source to compare against (default: the default source)\n");
}

bool parse(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto next = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        const char* v = nullptr;
        if (a == "--seconds" && (v = next())) o.seconds = std::atof(v);
        else if (a == "--mode" && (v = next())) o.mode = v;
        else if (a == "--pitch" && (v = next())) o.pitch = std::atof(v);
        else if (a == "--formant" && (v = next())) o.formant = std::atof(v);
        else if (a == "--mic" && (v = next())) o.mic = std::atoi(v);
        else if (a == "--status-ms" && (v = next())) o.statusMs = std::atoi(v);
        else if (a == "--settle" && (v = next())) o.settleSeconds = std::atof(v);
        else if (a == "--measure-latency" && (v = next())) o.measureCount = std::atoi(v);
        else if (a == "--feed" && (v = next())) o.feedSink = v;
        else if (a == "--mic-source" && (v = next())) o.micSource = v;
        else if (a == "--echo") o.echo = true;
        else if (a == "--chorus") o.chorus = true;
        else if (a == "--distortion") o.distortion = true;
        else if (a == "--tremolo") o.tremolo = true;
        else if (a == "--reverb") o.reverb = true;
        else return false;
    }
    return o.mode == "cartoon" || o.mode == "human" || o.mode == "off";
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

// A record stream read on its own thread, with enough timing to place every
// frame on the steady clock: capture time of frame n = start + n / rate.
class Recorder {
public:
    Recorder(std::unique_ptr<pulse::Stream> stream) : stream_(std::move(stream)) {}
    void start() {
        thread_ = std::thread([this] {
            std::vector<float> chunk(480);
            std::vector<double> starts;
            while (!stop_) {
                if (!stream_->read(chunk.data(), chunk.size())) break;
                samples_.insert(samples_.end(), chunk.begin(), chunk.end());
                const double now = std::chrono::duration<double>(Clock::now().time_since_epoch()).count();
                const int64_t latency = stream_->latencyUs();
                if (latency >= 0)
                    starts.push_back(now - latency / 1e6 - double(samples_.size()) / stream_->rate());
            }
            if (!starts.empty()) {
                std::nth_element(starts.begin(), starts.begin() + starts.size() / 2, starts.end());
                start_ = starts[starts.size() / 2];
            }
        });
    }
    void stop() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }
    const std::vector<float>& samples() const { return samples_; }
    double startTime() const { return start_; }  // steady-clock seconds of frame 0

private:
    std::unique_ptr<pulse::Stream> stream_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::vector<float> samples_;
    double start_ = 0;
};

// Voiced burst: harmonics of 140 Hz with a falling spectrum, 300 ms, 5 ms edges.
std::vector<float> voicedBurst(int rate) {
    const int length = rate * 3 / 10;
    const int edge = rate / 200;
    std::vector<float> burst(length);
    for (int n = 0; n < length; ++n) {
        double v = 0;
        for (int h = 1; h <= 20; ++h) v += std::sin(2 * M_PI * 140.0 * h * n / rate) / h;
        const double ramp = std::min({1.0, double(n) / edge, double(length - 1 - n) / edge});
        burst[n] = static_cast<float>(0.25 * v * ramp);
    }
    return burst;
}

// RMS envelope with a 1 ms hop and a 4 ms window.
std::vector<double> envelope(const std::vector<float>& x, int rate) {
    const int hop = rate / 1000;
    const int window = hop * 4;
    std::vector<double> env;
    for (size_t at = 0; at + window <= x.size(); at += hop) {
        double sum = 0;
        for (int n = 0; n < window; ++n) sum += double(x[at + n]) * x[at + n];
        env.push_back(std::sqrt(sum / window));
    }
    return env;
}

// Lag in ms (0..maxLag) at which `out` best matches `in` around [from, to).
int bestLag(const std::vector<double>& in, const std::vector<double>& out, long from, long to,
            int maxLag) {
    double best = -1;
    int bestAt = -1;
    for (int lag = 0; lag <= maxLag; ++lag) {
        double dot = 0, a = 0, b = 0;
        for (long n = from; n < to; ++n) {
            const long m = n + lag;
            if (n < 0 || m < 0 || n >= long(in.size()) || m >= long(out.size())) continue;
            dot += in[n] * out[m];
            a += in[n] * in[n];
            b += out[m] * out[m];
        }
        const double score = (a > 0 && b > 0) ? dot / std::sqrt(a * b) : 0;
        if (score > best) {
            best = score;
            bestAt = lag;
        }
    }
    return best > 0.5 ? bestAt : -1;
}

int measureLatency(const Options& o) {
    const uint32_t rate = 48000;
    pulse::StreamLatency recordLatency;
    recordLatency.targetMs = 10;
    pulse::StreamLatency playLatency;
    playLatency.targetMs = 20;
    std::string monitor;
    {
        pulse::PulseClient client("parlune-engine-run");
        if (!client.connected()) {
            std::fprintf(stderr, "no audio server\n");
            return 1;
        }
        monitor = client.defaultSinkName() + ".monitor";
    }
    auto micStream = pulse::Stream::open(pulse::StreamDirection::Record, o.micSource, rate, 1,
                                         recordLatency, "latency probe: microphone");
    auto outStream = pulse::Stream::open(pulse::StreamDirection::Record, monitor, rate, 1,
                                         recordLatency, "latency probe: output");
    auto feed = pulse::Stream::open(pulse::StreamDirection::Playback, o.feedSink, rate, 1,
                                    playLatency, "latency probe: feed");
    if (!micStream || !outStream || !feed) {
        std::fprintf(stderr, "cannot open the probe streams (feed %s, monitor %s)\n",
                     o.feedSink.c_str(), monitor.c_str());
        return 1;
    }
    Recorder mic(std::move(micStream)), out(std::move(outStream));
    mic.start();
    out.start();

    const std::vector<float> burst = voicedBurst(rate);
    const std::vector<float> gapBefore(rate * 8 / 10, 0.0f), gapAfter(rate * 9 / 10, 0.0f);
    for (int k = 0; k < o.measureCount; ++k) {
        feed->write(gapBefore.data(), gapBefore.size());
        feed->write(burst.data(), burst.size());
        feed->write(gapAfter.data(), gapAfter.size());
    }
    feed->drain();
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    mic.stop();
    out.stop();

    // Both envelopes on one time axis: index = ms since the microphone's frame 0.
    const std::vector<double> micEnv = envelope(mic.samples(), rate);
    std::vector<double> outEnv = envelope(out.samples(), rate);
    const long shiftMs = std::lround((out.startTime() - mic.startTime()) * 1000.0);
    std::vector<double> outAligned;
    for (long i = 0; i < long(micEnv.size()) + 1000; ++i) {
        const long j = i - shiftMs;
        outAligned.push_back(j >= 0 && j < long(outEnv.size()) ? outEnv[j] : 0.0);
    }

    // Burst onsets in the microphone: rises above a quarter of the peak after quiet.
    const double peak = *std::max_element(micEnv.begin(), micEnv.end());
    std::vector<long> onsets;
    for (long i = 1; i < long(micEnv.size()); ++i)
        if (micEnv[i] > peak / 4 && micEnv[i - 1] <= peak / 4 &&
            (onsets.empty() || i - onsets.back() > 1000))
            onsets.push_back(i);

    std::vector<int> lags;
    for (long onset : onsets) {
        const int lag = bestLag(micEnv, outAligned, onset - 100, onset + 500, 600);
        std::printf("burst at %.2f s: latency %s\n", onset / 1000.0,
                    lag < 0 ? "not found" : (std::to_string(lag) + " ms").c_str());
        if (lag >= 0) lags.push_back(lag);
    }
    if (lags.empty()) {
        std::printf("latency: no burst found in the output\n");
        return 1;
    }
    std::vector<int> sorted = lags;
    std::sort(sorted.begin(), sorted.end());
    std::printf("latency: mode %s, bursts %zu, median %d ms, min %d ms, max %d ms\n",
                o.mode.c_str(), sorted.size(), sorted[sorted.size() / 2], sorted.front(),
                sorted.back());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    Options o;
    if (!parse(argc, argv, o)) {
        printUsage();
        return 2;
    }
    auto& store = parlune::app::properties();
    parlune::app::writeInitialProperties(store);
    store.setValue("isCartoonMorph", o.mode != "human");
    store.setValue("isDspBipassed", o.mode == "off");
    store.setValue("pitch", o.pitch);
    store.setValue("formant", o.formant);
    store.setValue("micDevice", o.mic);
    store.setValue("isDspEchoBipassed", !o.echo);
    store.setValue("isDspChorusBipassed", !o.chorus);
    store.setValue("isDspDistortionBipassed", !o.distortion);
    store.setValue("isDspTremoloBipassed", !o.tremolo);
    store.setValue("isReverb", o.reverb);
    store.setValue("isRunning", true);

    const long rssStart = rssKb();
    const Clock::time_point start = Clock::now();
    QtConcurrent::run(engine::RunFmodFunction);

    int result = 0;
    double minLatency = 1e9, maxLatency = -1e9;
    long judged = 0, outside = 0;
    if (o.measureCount > 0) {
        // Let the smoothed latency settle before the first burst.
        std::this_thread::sleep_for(std::chrono::duration<double>(o.settleSeconds));
        result = measureLatency(o);
    } else {
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
                std::printf("t=%.1fs runs=%llu passes=%llu latency=%.1fms target=%.1fms "
                            "band=+-%.1fms rate=%d recorded=%.2fs slow=%llu fast=%llu underruns=%llu device_underruns=%llu rss=%ldkB\n",
                            t, (unsigned long long)s.runs, (unsigned long long)s.passes, latencyMs,
                            s.adjustedLatency / perMs, s.driftThreshold / perMs, s.rate,
                            s.samplesRecorded / perMs / 1000.0,
                            (unsigned long long)s.slowPasses, (unsigned long long)s.fastPasses,
                            (unsigned long long)s.underruns, (unsigned long long)s.deviceUnderruns, rssKb());
                std::fflush(stdout);
            }
        }
    }

    store.setValue("isRunning", false);
    const bool ended = engine::waitForLiveChainIdle(5000);
    const engine::LiveChainStatus s = engine::liveChainStatus();
    if (o.measureCount == 0) {
        std::printf("summary: seconds=%.0f passes=%llu latency_min=%.1fms latency_max=%.1fms "
                    "outside_band=%ld/%ld slow_passes=%llu fast_passes=%llu underruns=%llu "
                    "device_underruns=%llu rss_start=%ldkB rss_end=%ldkB stopped=%s\n",
                    secondsSince(start), (unsigned long long)s.passes,
                    judged ? minLatency : 0.0, judged ? maxLatency : 0.0, outside, judged,
                    (unsigned long long)s.slowPasses, (unsigned long long)s.fastPasses,
                    (unsigned long long)s.underruns, (unsigned long long)s.deviceUnderruns, rssStart,
                    rssKb(), ended ? "yes" : "no");
        if (judged == 0) result = 1;
    }
    return ended ? result : 1;
}
