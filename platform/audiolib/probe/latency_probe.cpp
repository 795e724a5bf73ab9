// parlune-latency-probe: how long a sound takes from the microphone to the
// default output through the mixer alone (no units), as the live voice
// travels: captured into a looping sound, played once 50 ms are in it.
//
// A tone burst is written into the sink that feeds the microphone; its onset
// is timed on that sink's monitor and on the default sink's monitor, and the
// difference is the latency. Needs an audio server with the test layout
// (sink "micsink" whose monitor is the default source).
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/audiolib/audiolib.h"
#include "platform/pulse/pulse_client.h"

namespace al = parlune::audiolib;
namespace pulse = parlune::pulse;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kRate = 48000;
constexpr int kClickEveryMs = 700;

// Times of burst onsets on one monitor, from the arrival of each read.
class OnsetWatch {
public:
    OnsetWatch(const std::string& device, std::atomic<bool>& stop) : stop_(stop) {
        stream_ = pulse::Stream::open(pulse::StreamDirection::Record, device, kRate, 1,
                                      pulse::StreamLatency{5, 0}, "latency probe watch");
        if (stream_) thread_ = std::thread([this] { run(); });
    }
    ~OnsetWatch() {
        if (thread_.joinable()) thread_.join();
    }
    bool ok() const { return stream_ != nullptr; }
    std::vector<Clock::time_point> onsets() {
        std::lock_guard<std::mutex> guard(mutex_);
        return onsets_;
    }

private:
    void run() {
        std::vector<float> chunk(kRate / 200);
        Clock::time_point lastOnset{};
        while (!stop_ && stream_->read(chunk.data(), chunk.size())) {
            const Clock::time_point arrived = Clock::now();
            for (size_t i = 0; i < chunk.size(); ++i) {
                if (std::fabs(chunk[i]) < 0.2f) continue;
                auto at = arrived - std::chrono::microseconds((chunk.size() - i) * 1000000 / kRate);
                if (at - lastOnset > std::chrono::milliseconds(300)) {
                    std::lock_guard<std::mutex> guard(mutex_);
                    onsets_.push_back(at);
                }
                lastOnset = at;
            }
        }
    }

    std::atomic<bool>& stop_;
    std::unique_ptr<pulse::Stream> stream_;
    std::mutex mutex_;
    std::vector<Clock::time_point> onsets_;
    std::thread thread_;
};

double median(std::vector<double> v) {
    if (v.empty()) return NAN;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    const int clicks = argc > 1 ? std::max(1, std::atoi(argv[1])) : 9;
    pulse::PulseClient client("parlune-latency-probe");
    if (!client.connected()) {
        std::fprintf(stderr, "parlune-latency-probe: no audio server\n");
        return 1;
    }
    const std::string outputMonitor = client.defaultSinkName() + ".monitor";

    // The microphone's feed: silence with a short burst every 700 ms.
    std::atomic<bool> stop{false};
    auto feed = pulse::Stream::open(pulse::StreamDirection::Playback, "micsink", kRate, 1,
                                    pulse::StreamLatency{20, 0}, "latency probe feed");
    if (!feed) {
        std::fprintf(stderr, "parlune-latency-probe: no sink \"micsink\" to feed the microphone\n");
        return 1;
    }
    std::atomic<int> clicksSent{0};
    std::atomic<bool> clicking{false};
    std::thread feeder([&] {
        std::vector<float> block(kRate / 100, 0.0f);  // 10 ms
        int blocks = 0;
        while (!stop) {
            std::fill(block.begin(), block.end(), 0.0f);
            if (clicking && ++blocks % (kClickEveryMs / 10) == 0 && clicksSent < clicks) {
                for (int i = 0; i < kRate / 500; ++i)  // 2 ms of 1 kHz
                    block[i] = 0.8f * static_cast<float>(std::sin(2 * M_PI * 1000.0 * i / kRate));
                ++clicksSent;
            }
            if (!feed->write(block.data(), block.size())) break;
        }
    });

    // The mixer alone: capture into a one-second ring, play it from 50 ms on.
    al::System system;
    al::createSystem(&system);
    system.setOutput(al::OutputType::Pulse);
    system.setSoftwareFormat(16000, al::SpeakerMode::Mono, 1);
    system.init(100, al::kInitNormal, nullptr);
    int rate = 0, channels = 0;
    system.getRecordDriverInfo(0, nullptr, 0, nullptr, &rate, nullptr, &channels, nullptr);
    al::Sound ring;
    al::Channel channel;
    if (al::createRecordRing(system, rate, channels, &ring) != al::Result::Ok ||
        system.recordStart(0, ring, true) != al::Result::Ok) {
        std::fprintf(stderr, "parlune-latency-probe: cannot record from the default source\n");
        stop = true;
        feeder.join();
        return 1;
    }
    OnsetWatch reference("micsink.monitor", stop), output(outputMonitor, stop);
    unsigned last = 0, recorded = 0;
    std::vector<double> ringDistanceMs;
    const auto started = Clock::now();
    while (clicksSent < clicks || Clock::now() - started < std::chrono::seconds(3)) {
        if (Clock::now() - started > std::chrono::seconds(3 + clicks)) clicking = true;
        if (Clock::now() - started > std::chrono::seconds(10 + 2 * clicks)) break;
        system.update();
        unsigned position = 0;
        system.getRecordPosition(0, &position);
        recorded += position >= last ? position - last : position + rate - last;
        last = position;
        if (!channel && recorded >= static_cast<unsigned>(rate / 20))
            system.playSound(ring, al::ChannelGroup(), false, &channel);
        if (channel) {
            unsigned played = 0;
            channel.getPosition(&played, al::TimeUnit::Pcm);
            unsigned distance = position >= played ? position - played : position + rate - played;
            ringDistanceMs.push_back(distance * 1000.0 / rate);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(800));
    stop = true;
    feeder.join();

    std::vector<double> latencies;
    auto sent = reference.onsets(), heard = output.onsets();
    for (auto at : sent) {
        auto it = std::find_if(heard.begin(), heard.end(), [&](Clock::time_point h) {
            return h > at && h - at < std::chrono::milliseconds(600);
        });
        if (it != heard.end())
            latencies.push_back(std::chrono::duration<double, std::milli>(*it - at).count());
    }
    std::printf("record driver: %d Hz, %d channel(s); output: %s\n", rate, channels, outputMonitor.c_str());
    std::printf("bursts sent %zu, heard %zu\n", sent.size(), latencies.size());
    for (double ms : latencies) std::printf("  %.1f ms\n", ms);
    std::printf("median latency microphone -> output through the mixer: %.1f ms\n", median(latencies));
    std::printf("median record-to-play distance in the ring: %.1f ms\n", median(ringDistanceMs));
    // What the ring distance (the live chain's to steer) does not account for:
    // capture fragments, the mixer block, the playback buffer.
    std::printf("beyond the ring (capture, mixer block, playback buffer): %.1f ms\n",
                median(latencies) - median(ringDistanceMs));
    system.release();
    return latencies.empty() ? 2 : 0;
}
