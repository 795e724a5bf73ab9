// parlune-latency: measures a path's latency on an audio server as a person
// hears it, by the burst method. Each voiced burst is played into the path's
// input and, at once, a marker burst straight into the path's output; on the
// output's monitor each burst's latency is the time from the marker's onset
// to the voice's (tools/latency_onsets.h).
//
// Paths:
//   live     the microphone's feed sink -> microphone -> live chain (run in
//            this process) -> default sink
//   looptap  the virtual device's sink parlune_01 -> Looptap -> the speaker
//            Looptap plays on
#include "engine/engine.h"
#include "looptap/looptap.h"
#include "platform/pulse/pulse_client.h"
#include "platform/vdev/virtual_device.h"
#include "tools/latency_onsets.h"
#include "tools/live_chain_run.h"
#include "tools/server_streams.h"
#include "tools/timed_recorder.h"

#include <QCoreApplication>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace engine = parlune::engine;
namespace pulse = parlune::pulse;
namespace tools = parlune::tools;
namespace fs = std::filesystem;

constexpr uint32_t kRate = tools::TimedRecorder::kRate;
constexpr char kWavePlaybackStream[] = "Wave playback";  // Looptap's playback side

struct Options {
    std::string path = "live";
    int bursts = 6;
    double settleSeconds = -1;  // < 0: the path's default
    std::string feedSink = "micsink";
    std::string speaker;          // empty: Looptap's own configuration
    std::string heard;            // running: the source where the path's output is heard
    std::string outputSink;       // running: the sink `heard` hears (the markers go there)
    std::string start = "as-is";  // looptap: what runs on the server before it starts
    int starts = 1;               // looptap: starts in a row, each measured
    tools::LiveChainOptions chain;
};

void printUsage(std::FILE* to) {
    std::fprintf(
        to,
        "Usage: parlune-latency [options]\n"
        "Plays voiced bursts into a path's input and at once a marker (the burst moved\n"
        "up to 14 kHz) straight into its output, records the output's monitor, and\n"
        "prints each burst's latency (the voice's onset after the marker's) and the\n"
        "median.\n"
        "  --path P             live: microphone -> live chain -> default output (default)\n"
        "                       looptap: PARLUNE-01 -> Looptap -> speaker\n"
        "                       running: a path that already runs, from --feed to\n"
        "                       --heard (nothing is started)\n"
        "  --bursts N           bursts to play (default 6), one every 2 s\n"
        "  --settle S           seconds the path runs before the first burst\n"
        "                       (default 5 live, 3 looptap)\n"
        "  --feed SINK          live: the sink whose monitor the microphone records\n"
        "                       (default micsink); running: the path's input\n"
        "  --heard SOURCE       running: the source that hears the path's output\n"
        "  --output SINK        running: the sink that source hears, where the markers\n"
        "                       are played (default: SINK for SINK.monitor, and\n"
        "                       PARLUNE-01's sink for its microphone)\n"
        "  --speaker NAME       looptap: the speaker name Looptap is given, in a data\n"
        "                       folder of its own (default: the user's config.ini)\n"
        "  --start ORDER        looptap: what the server has before Looptap starts:\n"
        "                       as-is (default), fresh-device (PARLUNE-01 loaded\n"
        "                       anew just before), capture-first (PARLUNE-01 already\n"
        "                       playing, 2 s), playback-first (the speaker already\n"
        "                       playing, 2 s)\n"
        "  --starts N           looptap: start, measure and stop it N times in a row\n"
        "Live chain options (live path):\n"
        "%s"
        "  --help               this text\n"
        "Exit codes: 0 measured, 1 nothing measured or no audio server, 2 wrong usage.\n",
        tools::kLiveChainOptionsHelp);
}

// 1 to go on, 0 for --help, -1 on a wrong option.
int parse(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const tools::OptionTaken taken = tools::takeLiveChainOption(argc, argv, i, o.chain);
        if (taken == tools::OptionTaken::Bad) return -1;
        if (taken == tools::OptionTaken::Yes) continue;
        const std::string a = argv[i];
        if (a == "--help") return 0;
        if (i + 1 >= argc) return -1;
        const char* v = argv[++i];
        if (a == "--path")
            o.path = v;
        else if (a == "--bursts")
            o.bursts = std::atoi(v);
        else if (a == "--settle")
            o.settleSeconds = std::atof(v);
        else if (a == "--feed")
            o.feedSink = v;
        else if (a == "--speaker")
            o.speaker = v;
        else if (a == "--heard")
            o.heard = v;
        else if (a == "--output")
            o.outputSink = v;
        else if (a == "--start")
            o.start = v;
        else if (a == "--starts")
            o.starts = std::atoi(v);
        else
            return -1;
    }
    if (o.path != "live" && o.path != "looptap" && o.path != "running") return -1;
    if ((o.path == "running") != !o.heard.empty()) return -1;
    if (o.bursts < 1 || o.starts < 1) return -1;
    if (o.path == "running" && o.outputSink.empty()) {
        const std::string monitor = ".monitor";
        if (o.heard == parlune::vdev::kSourceName)
            o.outputSink = parlune::vdev::kSinkName;
        else if (o.heard.size() > monitor.size() &&
                 o.heard.compare(o.heard.size() - monitor.size(), monitor.size(), monitor) == 0)
            o.outputSink = o.heard.substr(0, o.heard.size() - monitor.size());
        else
            return -1;
    }
    if (o.start != "as-is" && o.start != "fresh-device" && o.start != "capture-first" &&
        o.start != "playback-first")
        return -1;
    if (o.settleSeconds < 0) o.settleSeconds = o.path == "live" ? 5 : 3;
    return 1;
}

// Per burst 0.8 s of silence, the burst, 0.9 s of silence.
std::vector<float> burstTrain(const std::vector<float>& burst, int bursts) {
    std::vector<float> train;
    for (int k = 0; k < bursts; ++k) {
        train.insert(train.end(), kRate * 8 / 10, 0.0f);
        train.insert(train.end(), burst.begin(), burst.end());
        train.insert(train.end(), kRate * 9 / 10, 0.0f);
    }
    return train;
}

// A path: where its bursts go in, the sink its output plays on (the marker
// goes straight there), and the source that hears that sink.
struct PathEnds {
    std::string input, outputSink, heard;
};

enum class Played { Measured, FeedRanDry, Failed };

// Plays the voiced bursts into the path's input and the markers into its
// output at once, records what is heard; prints a line per burst and returns
// the figures.
Played measureOnce(const PathEnds& ends, int bursts, std::vector<tools::BurstFigure>* figures) {
    tools::TimedRecorder output(ends.heard, "parlune-latency: " + ends.heard);
    // Deep buffers: a feed that ran dry would move its later bursts against
    // the other's. Each starts with its first frames.
    const pulse::StreamLatency latency{100, 0};
    auto voiceFeed = pulse::Stream::open(pulse::StreamDirection::Playback, ends.input, kRate, 1,
                                         latency, "parlune-latency: bursts");
    auto markerFeed = pulse::Stream::open(pulse::StreamDirection::Playback, ends.outputSink, kRate,
                                          1, latency, "parlune-latency: markers");
    if (!output.ok() || !voiceFeed || !markerFeed) {
        std::fprintf(stderr,
                     "parlune-latency: cannot open the streams (input %s, output %s, heard %s)\n",
                     ends.input.c_str(), ends.outputSink.c_str(), ends.heard.c_str());
        return Played::Failed;
    }
    const std::vector<float> voices = burstTrain(tools::voicedBurst(kRate), bursts);
    const std::vector<float> markers = burstTrain(tools::markerBurst(kRate), bursts);
    // Both writes start together; each stream starts playing with its first
    // frames, so a voice and its marker leave at the same moment.
    // Each feed's underflows are read once all of it is queued, before the
    // drain, which ends in one.
    std::atomic<bool> go{false};
    bool markersPlayed = false;
    uint64_t markerDry = 0;
    std::thread markerThread([&] {
        while (!go) std::this_thread::yield();
        markersPlayed = markerFeed->write(markers.data(), markers.size());
        markerDry = markerFeed->underflows();
        markersPlayed = markersPlayed && markerFeed->drain();
    });
    go = true;
    bool voicesPlayed = voiceFeed->write(voices.data(), voices.size());
    const uint64_t voiceDry = voiceFeed->underflows();
    voicesPlayed = voicesPlayed && voiceFeed->drain();
    markerThread.join();
    // The last burst's way through the path, at most the search window.
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    tools::TimedRecording heard;
    const bool recorded = output.stop(&heard);
    if (!voicesPlayed || !markersPlayed || !recorded) {
        std::fprintf(stderr, "parlune-latency: the %s failed\n",
                     recorded ? "playback" : "recording");
        return Played::Failed;
    }
    if (voiceDry + markerDry > 0) {
        std::fprintf(stderr,
                     "parlune-latency: a feed ran dry (bursts %llu, markers %llu times), so its "
                     "later bursts are out of step\n",
                     static_cast<unsigned long long>(voiceDry),
                     static_cast<unsigned long long>(markerDry));
        return Played::FeedRanDry;
    }
    const tools::MarkerSplit bands = tools::splitMarker(heard);
    *figures = tools::measureBursts(bands.marker, bands.voice);
    for (size_t k = 0; k < figures->size(); ++k) {
        const tools::BurstFigure& f = (*figures)[k];
        if (f.found)
            std::printf("burst %zu at %.2f s: %.1f ms\n", k + 1, f.sentSeconds - heard.startSeconds,
                        f.latencyMs);
        else
            std::printf("burst %zu at %.2f s: not found\n", k + 1,
                        f.sentSeconds - heard.startSeconds);
    }
    return Played::Measured;
}

// measureOnce, tried again (twice at most) when a feed ran dry.
bool measure(const PathEnds& ends, int bursts, std::vector<tools::BurstFigure>* figures) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        const Played played = measureOnce(ends, bursts, figures);
        if (played != Played::FeedRanDry) return played == Played::Measured;
    }
    std::fprintf(stderr, "parlune-latency: a feed ran dry three times; nothing measured\n");
    return false;
}

// The summary line the latency script reads; 0 when a burst was found.
int summarise(const std::string& what, const std::vector<tools::BurstFigure>& figures) {
    std::vector<double> found;
    for (const auto& f : figures)
        if (f.found) found.push_back(f.latencyMs);
    if (found.empty()) {
        std::printf("latency: %s, no burst found in the output\n", what.c_str());
        return 1;
    }
    std::printf("latency: %s, bursts %zu/%zu, median %.1f ms, min %.1f ms, max %.1f ms\n",
                what.c_str(), found.size(), figures.size(), tools::medianLatencyMs(figures),
                *std::min_element(found.begin(), found.end()),
                *std::max_element(found.begin(), found.end()));
    return 0;
}

void sleepSeconds(double seconds) {
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

int measureLiveChain(const Options& o, const std::string& outputSink) {
    tools::startLiveChain(o.chain);
    sleepSeconds(o.settleSeconds);  // the smoothed latency settles first
    std::vector<tools::BurstFigure> figures;
    const bool measured =
        measure({o.feedSink, outputSink, outputSink + ".monitor"}, o.bursts, &figures);
    const engine::LiveChainStatus s = engine::liveChainStatus();
    const bool stopped = tools::stopLiveChain(5000);
    if (!measured) return 1;
    const int result = summarise("path live, mode " + o.chain.mode, figures);
    if (s.nativeRate > 0)
        std::printf("of it the live chain's ring (smoothed): %.1f ms, target %.1f ms\n",
                    s.actualLatency * 1000.0 / s.nativeRate,
                    s.adjustedLatency * 1000.0 / s.nativeRate);
    if (!stopped) std::fprintf(stderr, "parlune-latency: the live chain did not stop\n");
    return stopped ? result : 1;
}

// The sink Looptap's playback side is connected to; empty when none shows
// within two seconds.
std::string looptapSpeaker(pulse::PulseClient& client) {
    for (int attempt = 0; attempt < 40; ++attempt) {
        const auto streams = client.sinkInputs();
        // The newest stream of that name is the one just started.
        for (auto it = streams.rbegin(); it != streams.rend(); ++it) {
            if (it->mediaName != kWavePlaybackStream) continue;
            for (const auto& sink : client.sinks())
                if (sink.index == it->deviceIndex) return sink.name;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return {};
}

// The sink a speaker name stands for: the configured description, or the
// default sink when none is given.
std::string speakerSink(const Options& o, pulse::PulseClient& client) {
    if (!o.speaker.empty())
        for (const auto& sink : client.sinks())
            if (sink.description == o.speaker) return sink.name;
    return client.defaultSinkName();
}

// One start of Looptap in the given order, measured, and its stop.
int measureOneLooptapStart(const Options& o, pulse::PulseClient& client) {
    if (o.start == "fresh-device") {
        parlune::vdev::removeVirtualDevice(client);
        const parlune::vdev::Outcome device = parlune::vdev::ensureVirtualDevice(client);
        if (!device.ok) {
            std::fprintf(stderr, "parlune-latency: %s\n", device.message.c_str());
            return 1;
        }
    }
    // Silence already playing into one side keeps that device's clock running
    // when Looptap opens its streams.
    std::unique_ptr<tools::ToneFeed> before;
    if (o.start == "capture-first" || o.start == "playback-first") {
        const std::string sink =
            o.start == "capture-first" ? parlune::vdev::kSinkName : speakerSink(o, client);
        before = std::make_unique<tools::ToneFeed>(sink, 100.0, 48000, 0.0f);
        if (!before->ok()) {
            std::fprintf(stderr, "parlune-latency: cannot play into %s\n", sink.c_str());
            return 1;
        }
        sleepSeconds(2);
    }
    StartPlaying();
    const std::string speaker = looptapSpeaker(client);
    int result = 1;
    if (speaker.empty()) {
        std::fprintf(stderr, "parlune-latency: Looptap plays on no speaker\n");
    } else {
        std::printf("Looptap plays on %s (start: %s)\n", speaker.c_str(), o.start.c_str());
        // A virtual device loaded a moment ago passes nothing for about two seconds.
        sleepSeconds(o.settleSeconds);
        std::vector<tools::BurstFigure> figures;
        if (measure({parlune::vdev::kSinkName, speaker, speaker + ".monitor"}, o.bursts, &figures))
            result = summarise("path looptap, speaker " + speaker + ", start " + o.start, figures);
    }
    std::fflush(stdout);
    StopPlaying();
    return result;
}

int measureLooptap(const Options& o, pulse::PulseClient& client) {
    const parlune::vdev::Outcome device = parlune::vdev::ensureVirtualDevice(client);
    if (!device.ok) {
        std::fprintf(stderr, "parlune-latency: %s\n", device.message.c_str());
        return 1;
    }
    // A speaker given here goes into a data folder of this run's own, so the
    // user's config.ini is never touched.
    fs::path dataHome;
    if (!o.speaker.empty()) {
        char pattern[] = "/tmp/parlune-latency-XXXXXX";
        if (!mkdtemp(pattern)) {
            std::fprintf(stderr, "parlune-latency: cannot make a data folder\n");
            return 1;
        }
        dataHome = pattern;
        fs::create_directories(dataHome / "Parlune");
        std::ofstream(dataHome / "Parlune" / "config.ini", std::ios::binary) << o.speaker;
        setenv("XDG_DATA_HOME", dataHome.c_str(), 1);
    }
    int result = 0;
    for (int k = 0; k < o.starts; ++k) result = std::max(result, measureOneLooptapStart(o, client));
    if (!dataHome.empty()) fs::remove_all(dataHome);
    if (device.changed) parlune::vdev::removeVirtualDevice(client);
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    Options o;
    const int parsed = parse(argc, argv, o);
    if (parsed <= 0) {
        printUsage(parsed == 0 ? stdout : stderr);
        return parsed == 0 ? 0 : 2;
    }
    pulse::PulseClient client("parlune-latency");
    if (!client.connected()) {
        std::fprintf(stderr, "parlune-latency: no audio server\n");
        return 1;
    }
    if (o.path == "looptap") return measureLooptap(o, client);
    if (o.path == "running") {
        std::vector<tools::BurstFigure> figures;
        if (!measure({o.feedSink, o.outputSink, o.heard}, o.bursts, &figures)) return 1;
        return summarise("path " + o.feedSink + " -> " + o.heard, figures);
    }
    return measureLiveChain(o, client.defaultSinkName());
}
