// The wave layer on the private audio server: device lists, a tone played
// through one device and captured through another, and the queue rules of
// reset, unprepare and close.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <future>
#include <thread>
#include <vector>

#include "platform/pulse/pulse_client.h"
#include "platform/wave/wave.h"
#include "platform/wave/worker_thread.h"
#include "tests/support/test_support.h"

namespace w = parlune::wave;

namespace {

std::vector<std::string> playbackNames() {
    std::vector<std::string> names;
    const unsigned count = w::outGetNumDevs();
    for (unsigned i = 0; i < count; ++i) {
        w::OutCaps caps;
        EXPECT_EQ(w::outGetDevCaps(i, &caps), w::kOk);
        names.emplace_back(caps.name);
    }
    return names;
}

std::vector<std::string> captureNames() {
    std::vector<std::string> names;
    const unsigned count = w::inGetNumDevs();
    for (unsigned i = 0; i < count; ++i) {
        w::InCaps caps;
        EXPECT_EQ(w::inGetDevCaps(i, &caps), w::kOk);
        names.emplace_back(caps.name);
    }
    return names;
}

int indexOf(const std::vector<std::string>& names, const std::string& name) {
    auto found = std::find(names.begin(), names.end(), name);
    return found == names.end() ? -1 : static_cast<int>(found - names.begin());
}

w::Format pcm(uint32_t rate, uint16_t channels) {
    w::Format f;
    f.channels = channels;
    f.samplesPerSec = rate;
    f.blockAlign = static_cast<uint16_t>(2 * channels);
    f.avgBytesPerSec = rate * f.blockAlign;
    return f;
}

}  // namespace

TEST(WaveDevices, PlaybackDevicesAreSinksAndCaptureDevicesNonMonitorSources) {
    PARLUNE_NEED_PULSE();
    const auto outs = playbackNames();
    const auto ins = captureNames();
    const int speaker = indexOf(outs, "Speaker"), headphones = indexOf(outs, "Headphones"),
              micFeed = indexOf(outs, "MicFeed");
    ASSERT_GE(speaker, 0);
    ASSERT_GE(headphones, 0);
    ASSERT_GE(micFeed, 0);
    EXPECT_LT(speaker, headphones);  // server order
    EXPECT_LT(headphones, micFeed);
    EXPECT_GE(indexOf(ins, "Microphone"), 0);
    for (const auto& name : ins) EXPECT_NE(name.rfind("Monitor of", 0), 0u) << name;

    w::OutCaps outCaps;
    ASSERT_EQ(w::outGetDevCaps(speaker, &outCaps), w::kOk);
    EXPECT_EQ(outCaps.channels, 2);
    ASSERT_EQ(w::outGetDevCaps(micFeed, &outCaps), w::kOk);
    EXPECT_EQ(outCaps.channels, 1);
    EXPECT_EQ(w::outGetDevCaps(static_cast<unsigned>(outs.size()), &outCaps), w::kBadDeviceId);
    w::InCaps inCaps;
    EXPECT_EQ(w::inGetDevCaps(static_cast<unsigned>(ins.size()), &inCaps), w::kBadDeviceId);
    EXPECT_EQ(w::inGetDevCaps(0, nullptr), w::kInvalidParam);
    w::OutHandle out = nullptr;
    w::Format format = pcm(48000, 2);
    EXPECT_EQ(w::outOpen(&out, static_cast<unsigned>(outs.size()), &format, 0, 0, w::kCallbackNull),
              w::kBadDeviceId);
}

TEST(WaveDevices, LongDescriptionsAreCutToThirtyOneBytes) {
    PARLUNE_NEED_PULSE();
    const std::string description = "Wave test output with a very long description";
    parlune::pulse::PulseClient client("wave test");
    ASSERT_TRUE(client.connected());
    const int64_t module = client.loadModule(
        "module-null-sink",
        "sink_name=wave_test_long sink_properties='device.description=\"" + description + "\"'");
    ASSERT_GE(module, 0);
    const auto outs = playbackNames();
    client.unloadModule(static_cast<uint32_t>(module));
    EXPECT_GE(indexOf(outs, description.substr(0, 31)), 0);
}

namespace {

// Keeps a tone going out and the captured sound coming in, re-queueing each
// header as its message arrives, as Looptap's two sides do.
class Pump : public w::WorkerThread {
public:
    static constexpr int kHeaders = 4;
    static constexpr uint32_t kFrames = 480;

    Pump() {
        onMessage(w::kMsgOutDone,
                  [this](uintptr_t, uintptr_t h) { onOutDone(reinterpret_cast<w::Header*>(h)); });
        onMessage(w::kMsgInData,
                  [this](uintptr_t, uintptr_t h) { onInData(reinterpret_cast<w::Header*>(h)); });
        onMessage(w::kMsgOutOpen, [this](uintptr_t, uintptr_t) { ++opens; });
        onMessage(w::kMsgInOpen, [this](uintptr_t, uintptr_t) { ++opens; });
        onMessage(w::kMsgOutClose, [this](uintptr_t, uintptr_t) { ++closes; });
        onMessage(w::kMsgInClose, [this](uintptr_t, uintptr_t) { ++closes; });
        tone = parlune::test::sine(48000, 220.0, 48000, 0.5);
        captured.reserve(48000 * 12);
        createThread();
    }
    ~Pump() override { endThread(); }

    void fill(w::Header* h) {
        auto* samples = reinterpret_cast<int16_t*>(h->data);
        for (uint32_t i = 0; i < kFrames; ++i, ++toneAt)
            samples[i] = static_cast<int16_t>(32767 * tone[toneAt % tone.size()]);
    }
    void onOutDone(w::Header* h) {
        ++outDone;
        if (stopping) return;
        fill(h);
        w::outWrite(out, h);
    }
    void onInData(w::Header* h) {
        if (stopping) return;
        inOrder.push_back(static_cast<int>(h - inHeaders));
        ++inCount;
        auto* samples = reinterpret_cast<int16_t*>(h->data);
        for (uint32_t i = 0; i < h->bytesRecorded / 2 && captured.size() < captured.capacity(); ++i)
            captured.push_back(samples[i] / 32768.0f);
        w::inAddBuffer(in, h);
    }

    w::OutHandle out = nullptr;
    w::InHandle in = nullptr;
    w::Header outHeaders[kHeaders], inHeaders[kHeaders];
    int16_t outData[kHeaders][kFrames] = {}, inData[kHeaders][kFrames] = {};
    std::atomic<bool> stopping{false};
    std::atomic<int> outDone{0}, inCount{0}, opens{0}, closes{0};
    std::vector<float> tone, captured;
    std::vector<int> inOrder;
    size_t toneAt = 0;
};

}  // namespace

TEST(WaveStreams, AToneWrittenToOneDeviceIsCapturedFromAnother) {
    PARLUNE_NEED_PULSE();
    const int feed = indexOf(playbackNames(), "MicFeed");
    const int mic = indexOf(captureNames(), "Microphone");
    ASSERT_GE(feed, 0);
    ASSERT_GE(mic, 0);
    Pump pump;
    const w::Format format = pcm(48000, 1);
    ASSERT_EQ(w::outOpen(&pump.out, feed, &format, pump.threadId(), 0, w::kCallbackThread), w::kOk);
    ASSERT_EQ(w::inOpen(&pump.in, mic, &format, pump.threadId(), 0, w::kCallbackThread), w::kOk);
    for (int i = 0; i < Pump::kHeaders; ++i) {
        w::Header& h = pump.inHeaders[i];
        h.data = reinterpret_cast<char*>(pump.inData[i]);
        h.bufferLength = sizeof pump.inData[i];
        ASSERT_EQ(w::inPrepareHeader(pump.in, &h), w::kOk);
        ASSERT_EQ(w::inAddBuffer(pump.in, &h), w::kOk);
    }
    ASSERT_EQ(w::inStart(pump.in), w::kOk);
    // All filled before the first is queued: from then on the pump thread
    // fills them as they come back.
    for (int i = 0; i < Pump::kHeaders; ++i) {
        w::Header& h = pump.outHeaders[i];
        h.data = reinterpret_cast<char*>(pump.outData[i]);
        h.bufferLength = sizeof pump.outData[i];
        pump.fill(&h);
        ASSERT_EQ(w::outPrepareHeader(pump.out, &h), w::kOk);
    }
    for (int i = 0; i < Pump::kHeaders; ++i)
        ASSERT_EQ(w::outWrite(pump.out, &pump.outHeaders[i]), w::kOk);
    // An idle null sink may take a second or two to run at a short latency.
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (pump.inCount < 150 && std::chrono::steady_clock::now() < giveUp)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));

    pump.stopping = true;
    pump.waitIdle();
    EXPECT_EQ(w::outReset(pump.out), w::kOk);
    EXPECT_EQ(w::inReset(pump.in), w::kOk);
    pump.waitIdle();
    for (int i = 0; i < Pump::kHeaders; ++i) {
        EXPECT_EQ(w::outUnprepareHeader(pump.out, &pump.outHeaders[i]), w::kOk);
        EXPECT_EQ(w::inUnprepareHeader(pump.in, &pump.inHeaders[i]), w::kOk);
    }
    EXPECT_EQ(w::outClose(pump.out), w::kOk);
    EXPECT_EQ(w::inClose(pump.in), w::kOk);
    pump.waitIdle();

    EXPECT_EQ(pump.opens, 2);
    EXPECT_EQ(pump.closes, 2);
    EXPECT_GT(pump.outDone, 100);
    ASSERT_GT(pump.inOrder.size(), 100u);
    for (size_t i = 0; i < pump.inOrder.size(); ++i)
        ASSERT_EQ(pump.inOrder[i], static_cast<int>(i % Pump::kHeaders)) << "block " << i;
    const std::vector<float> tail(pump.captured.end() - 24000, pump.captured.end());
    EXPECT_GT(parlune::test::rms(tail), 0.2);
    EXPECT_NEAR(parlune::test::medianF0(tail, 48000, 100, 400), 220.0, 5.0);
}

TEST(WaveStreams, QueuedHeadersBlockUnprepareAndCloseUntilAResetReturnsThemInOrder) {
    PARLUNE_NEED_PULSE();
    const int mic = indexOf(captureNames(), "Microphone");
    ASSERT_GE(mic, 0);
    Pump pump;  // only counts here: nothing is started
    pump.stopping = true;
    const w::Format format = pcm(48000, 1);
    ASSERT_EQ(w::inOpen(&pump.in, mic, &format, 0, 0, w::kCallbackNull), w::kOk);

    w::Header unprepared;
    unprepared.data = reinterpret_cast<char*>(pump.inData[3]);
    unprepared.bufferLength = sizeof pump.inData[3];
    EXPECT_EQ(w::inAddBuffer(pump.in, &unprepared), w::kUnprepared);
    for (int i = 0; i < 3; ++i) {
        w::Header& h = pump.inHeaders[i];
        h.data = reinterpret_cast<char*>(pump.inData[i]);
        h.bufferLength = sizeof pump.inData[i];
        ASSERT_EQ(w::inPrepareHeader(pump.in, &h), w::kOk);
        ASSERT_EQ(w::inAddBuffer(pump.in, &h), w::kOk);
        EXPECT_EQ(h.flags & w::kHeaderInQueue, w::kHeaderInQueue);
    }
    EXPECT_EQ(w::inAddBuffer(pump.in, &pump.inHeaders[1]), w::kStillPlaying);
    EXPECT_EQ(w::inUnprepareHeader(pump.in, &pump.inHeaders[0]), w::kStillPlaying);
    EXPECT_EQ(w::inClose(pump.in), w::kStillPlaying);

    ASSERT_EQ(w::inReset(pump.in), w::kOk);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(pump.inHeaders[i].flags & (w::kHeaderDone | w::kHeaderInQueue), w::kHeaderDone);
        EXPECT_EQ(pump.inHeaders[i].bytesRecorded, 0u);  // never started
        EXPECT_EQ(w::inUnprepareHeader(pump.in, &pump.inHeaders[i]), w::kOk);
    }
    EXPECT_EQ(w::inClose(pump.in), w::kOk);
    EXPECT_EQ(w::inStart(pump.in), w::kInvalidHandle);  // closed

    // Playback: two seconds queued, handed back by a reset long before played.
    const int speaker = indexOf(playbackNames(), "Speaker");
    ASSERT_GE(speaker, 0);
    const w::Format stereo = pcm(48000, 2);
    std::vector<std::vector<char>> blocks(20, std::vector<char>(19200));
    std::vector<w::Header> headers(20);
    w::OutHandle out = nullptr;
    ASSERT_EQ(w::outOpen(&out, speaker, &stereo, 0, 0, w::kCallbackNull), w::kOk);
    for (size_t i = 0; i < headers.size(); ++i) {
        headers[i].data = blocks[i].data();
        headers[i].bufferLength = static_cast<uint32_t>(blocks[i].size());
        ASSERT_EQ(w::outPrepareHeader(out, &headers[i]), w::kOk);
        ASSERT_EQ(w::outWrite(out, &headers[i]), w::kOk);
    }
    EXPECT_EQ(w::outClose(out), w::kStillPlaying);
    ASSERT_EQ(w::outReset(out), w::kOk);
    for (auto& h : headers) {
        EXPECT_TRUE(h.flags & w::kHeaderDone);
        EXPECT_EQ(w::outUnprepareHeader(out, &h), w::kOk);
    }
    EXPECT_EQ(w::outClose(out), w::kOk);
}

namespace {

// A sink and a microphone remapped from its monitor, loaded and unloaded at
// will: a device that goes away and comes back.
class VanishingDevices {
public:
    VanishingDevices() : client_("wave vanish test") { load(); }
    ~VanishingDevices() { unload(); }
    bool load() {
        const int64_t sink = client_.loadModule("module-null-sink",
                                                "sink_name=wave_vanish rate=48000 channels=1 "
                                                "sink_properties=device.description=WaveVanish");
        const int64_t mic = client_.loadModule(
            "module-remap-source",
            "source_name=wave_vanish_mic master=wave_vanish.monitor channels=1 "
            "channel_map=mono source_properties=device.description=WaveVanishMic");
        modules_ = {sink, mic};
        if (sink < 0 || mic < 0) return false;
        // The server may acknowledge a load before it lists the device.
        for (int i = 0; i < 100; ++i) {
            if (indexOf(captureNames(), "WaveVanishMic") >= 0) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }
    void unload() {
        for (auto it = modules_.rbegin(); it != modules_.rend(); ++it)
            if (*it >= 0) client_.unloadModule(static_cast<uint32_t>(*it));
        modules_.clear();
    }

private:
    parlune::pulse::PulseClient client_;
    std::vector<int64_t> modules_;
};

// Plays a tone out and keeps the level of every captured header, in order,
// where the test's thread may read it while the pump runs.
class LevelPump : public w::WorkerThread {
public:
    static constexpr int kHeaders = 4;
    static constexpr uint32_t kFrames = 480;  // 10 ms
    static constexpr int kLevels = 4000;

    LevelPump() {
        onMessage(w::kMsgOutDone, [this](uintptr_t, uintptr_t h) {
            ++outDone;
            if (!stopping) requeueOut(reinterpret_cast<w::Header*>(h));
        });
        onMessage(w::kMsgInData, [this](uintptr_t, uintptr_t h) {
            if (stopping) return;
            auto* header = reinterpret_cast<w::Header*>(h);
            const auto* samples = reinterpret_cast<const int16_t*>(header->data);
            double sum = 0;
            int peak = 0;
            for (uint32_t i = 0; i < header->bytesRecorded / 2; ++i) {
                sum += double(samples[i]) * samples[i];
                peak = std::max(peak, std::abs(int(samples[i])));
            }
            const int at = inCount.load();
            if (at < kLevels) {
                levels[at] = float(
                    std::sqrt(sum / std::max<uint32_t>(1, header->bytesRecorded / 2)) / 32768.0);
                peaks[at] = peak;
            }
            inCount.store(at + 1);
            w::inAddBuffer(in, header);
        });
        createThread();
    }
    ~LevelPump() override { endThread(); }

    void requeueOut(w::Header* h) {
        auto* samples = reinterpret_cast<int16_t*>(h->data);
        for (uint32_t i = 0; i < kFrames; ++i, ++toneAt)
            samples[i] = static_cast<int16_t>(16000 * std::sin(2 * M_PI * 220.0 * toneAt / 48000));
        w::outWrite(out, h);
    }
    // Whether a header after `from` carried the tone.
    bool toneSince(int from) const {
        const int to = std::min(inCount.load(), kLevels);
        for (int i = from; i < to; ++i)
            if (levels[i] > 0.2f) return true;
        return false;
    }
    bool waitForTone(int from, std::chrono::seconds limit) const {
        const auto giveUp = std::chrono::steady_clock::now() + limit;
        while (!toneSince(from) && std::chrono::steady_clock::now() < giveUp)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return toneSince(from);
    }
    void start() {
        for (int i = 0; i < kHeaders; ++i) {
            w::Header& h = inHeaders[i];
            h.data = reinterpret_cast<char*>(inData[i]);
            h.bufferLength = sizeof inData[i];
            w::inPrepareHeader(in, &h);
            w::inAddBuffer(in, &h);
        }
        w::inStart(in);
        for (int i = 0; i < kHeaders; ++i) {
            w::Header& h = outHeaders[i];
            h.data = reinterpret_cast<char*>(outData[i]);
            h.bufferLength = sizeof outData[i];
            w::outPrepareHeader(out, &h);
            requeueOut(&h);
        }
    }
    void finish() {
        stopping = true;
        waitIdle();
        EXPECT_EQ(w::outReset(out), w::kOk);
        EXPECT_EQ(w::inReset(in), w::kOk);
        waitIdle();
        for (int i = 0; i < kHeaders; ++i) {
            EXPECT_EQ(w::outUnprepareHeader(out, &outHeaders[i]), w::kOk);
            EXPECT_EQ(w::inUnprepareHeader(in, &inHeaders[i]), w::kOk);
        }
        EXPECT_EQ(w::outClose(out), w::kOk);
        EXPECT_EQ(w::inClose(in), w::kOk);
    }

    w::OutHandle out = nullptr;
    w::InHandle in = nullptr;
    w::Header outHeaders[kHeaders], inHeaders[kHeaders];
    int16_t outData[kHeaders][kFrames] = {}, inData[kHeaders][kFrames] = {};
    std::atomic<bool> stopping{false};
    std::atomic<int> outDone{0}, inCount{0};
    float levels[kLevels] = {};
    int peaks[kLevels] = {};
    uint64_t toneAt = 0;  // the pump thread's
};

size_t occurrences(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

}  // namespace

// While the devices are gone both queues keep moving at the device's pace,
// the capture headers holding nothing but silence; once they are listed
// again the tone goes round again, and each device said so once each way.
TEST(WaveStreams, ADeviceThatGoesAwayIsServedOnTheClockUntilItIsBack) {
    PARLUNE_NEED_PULSE();
    VanishingDevices devices;
    const int feed = indexOf(playbackNames(), "WaveVanish");
    const int mic = indexOf(captureNames(), "WaveVanishMic");
    ASSERT_GE(feed, 0);
    ASSERT_GE(mic, 0);
    LevelPump pump;
    const w::Format format = pcm(48000, 1);
    ASSERT_EQ(w::outOpen(&pump.out, feed, &format, pump.threadId(), 0, w::kCallbackThread), w::kOk);
    ASSERT_EQ(w::inOpen(&pump.in, mic, &format, pump.threadId(), 0, w::kCallbackThread), w::kOk);
    testing::internal::CaptureStderr();
    pump.start();
    // An idle null sink may take a second or two to run at a short latency.
    const bool passedBefore = pump.waitForTone(0, std::chrono::seconds(10));

    devices.unload();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the headers in flight
    const int inAtLoss = pump.inCount, outAtLoss = pump.outDone;
    const auto lossAt = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    const int inGone = pump.inCount - inAtLoss, outGone = pump.outDone - outAtLoss;
    const double goneMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - lossAt)
            .count();
    int loudWhileGone = 0;
    for (int i = inAtLoss; i < inAtLoss + inGone && i < LevelPump::kLevels; ++i)
        loudWhileGone += pump.peaks[i] != 0;

    ASSERT_TRUE(devices.load());
    const int inAtReturn = pump.inCount;
    const bool passedAfter = pump.waitForTone(inAtReturn, std::chrono::seconds(10));
    pump.finish();
    const std::string log = testing::internal::GetCapturedStderr();

    ASSERT_TRUE(passedBefore);
    // 10 ms headers: one per 10 ms of the clock, give or take a loaded machine.
    EXPECT_NEAR(inGone, goneMs / 10, goneMs / 10 * 0.25);
    EXPECT_NEAR(outGone, goneMs / 10, goneMs / 10 * 0.25);
    EXPECT_EQ(loudWhileGone, 0) << "capture headers held sound while the device was gone";
    EXPECT_TRUE(passedAfter) << log;
    EXPECT_EQ(occurrences(log, "\"WaveVanish\" went away"), 1u) << log;
    EXPECT_EQ(occurrences(log, "\"WaveVanish\" is back"), 1u) << log;
    EXPECT_EQ(occurrences(log, "\"WaveVanishMic\" went away"), 1u) << log;
    EXPECT_EQ(occurrences(log, "\"WaveVanishMic\" is back"), 1u) << log;
}

// Stop, reset and close keep their rules while the stream is being looked
// for: headers come back in order, a queued header keeps the device open,
// and close ends the reopening.
TEST(WaveStreams, StopResetAndCloseWorkWhileTheDeviceIsGone) {
    PARLUNE_NEED_PULSE();
    VanishingDevices devices;
    const int feed = indexOf(playbackNames(), "WaveVanish");
    const int mic = indexOf(captureNames(), "WaveVanishMic");
    ASSERT_GE(feed, 0);
    ASSERT_GE(mic, 0);
    const w::Format format = pcm(48000, 1);
    w::InHandle in = nullptr;
    w::OutHandle out = nullptr;
    ASSERT_EQ(w::inOpen(&in, mic, &format, 0, 0, w::kCallbackNull), w::kOk);
    ASSERT_EQ(w::outOpen(&out, feed, &format, 0, 0, w::kCallbackNull), w::kOk);
    // A second of headers each way, so some are still queued when the
    // device goes and after.
    std::vector<std::vector<int16_t>> inData(20, std::vector<int16_t>(2400, 7)),
        outData(20, std::vector<int16_t>(2400, 1000));
    std::vector<w::Header> inHeaders(20), outHeaders(20);
    for (size_t i = 0; i < 20; ++i) {
        inHeaders[i].data = reinterpret_cast<char*>(inData[i].data());
        inHeaders[i].bufferLength = 4800;
        outHeaders[i].data = reinterpret_cast<char*>(outData[i].data());
        outHeaders[i].bufferLength = 4800;
        ASSERT_EQ(w::inPrepareHeader(in, &inHeaders[i]), w::kOk);
        ASSERT_EQ(w::inAddBuffer(in, &inHeaders[i]), w::kOk);
        ASSERT_EQ(w::outPrepareHeader(out, &outHeaders[i]), w::kOk);
        ASSERT_EQ(w::outWrite(out, &outHeaders[i]), w::kOk);
    }
    ASSERT_EQ(w::inStart(in), w::kOk);
    testing::internal::CaptureStderr();
    devices.unload();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));

    auto bounded = [](auto call) {
        auto done = std::async(std::launch::async, call);
        return done.wait_for(std::chrono::seconds(5)) == std::future_status::ready ? done.get()
                                                                                   : w::kError;
    };
    EXPECT_EQ(bounded([&] { return w::inStop(in); }), w::kOk);
    EXPECT_EQ(w::inClose(in), w::kStillPlaying);
    EXPECT_EQ(bounded([&] { return w::inReset(in); }), w::kOk);
    EXPECT_EQ(bounded([&] { return w::outReset(out); }), w::kOk);
    for (size_t i = 0; i < 20; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(inHeaders[i].flags & (w::kHeaderDone | w::kHeaderInQueue), w::kHeaderDone);
        EXPECT_EQ(outHeaders[i].flags & (w::kHeaderDone | w::kHeaderInQueue), w::kHeaderDone);
        // A header handed back filled was filled to its end, with sound or
        // silence, never left holding the 7s it was given.
        if (inHeaders[i].bytesRecorded > 0) {
            EXPECT_EQ(inHeaders[i].bytesRecorded, 4800u);
            EXPECT_NE(inData[i][2399], 7);
        }
        EXPECT_EQ(w::inUnprepareHeader(in, &inHeaders[i]), w::kOk);
        EXPECT_EQ(w::outUnprepareHeader(out, &outHeaders[i]), w::kOk);
    }
    EXPECT_EQ(bounded([&] { return w::inClose(in); }), w::kOk);
    EXPECT_EQ(bounded([&] { return w::outClose(out); }), w::kOk);
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_EQ(occurrences(log, "went away"), 2u) << log;
}
