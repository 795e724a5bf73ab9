// Fixture of the engine tests on the in-process backend: a manual clock that
// the engine's pauses step, a trace of every pause (one per live pass), the
// property store reset to the start-up values, and captured debug lines.
#pragma once

#include "app/core/properties.h"
#include "engine/engine.h"
#include "engine/engine_internal.h"
#include "platform/audiolib/inprocess.h"

#include <gtest/gtest.h>
#include <QtConcurrent>

#include <chrono>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace parlune::engine::testing {

namespace ip = audiolib::inprocess;

inline ip::CaptureDevice captureDevice(const std::string& name, int rate, int channels) {
    ip::CaptureDevice device;
    device.name = name;
    device.rate = rate;
    device.channels = channels;
    return device;
}

struct Pause {
    std::thread::id thread;
    int ms = 0;
    double clockMs = 0;  // simulated time when the pause began
    LiveChainStatus status;
};

class EngineTest : public ::testing::Test {
protected:
    static EngineTest*& current() {
        static EngineTest* test = nullptr;
        return test;
    }

    void SetUp() override {
        current() = this;
        ip::setDefaultBackend(ip::Backend::InProcess);
        ip::setClock(ip::ClockMode::Manual);
        ip::configureDefaults();
        ip::resetClock();
        ip::clearPlayed();
        setSleepForTests(&EngineTest::steppedSleep);
        app::PropertyStore& store = app::properties();
        store.clear(app::prop::isDspBipassed);
        store.clear(app::prop::isReverb);
        store.clear(app::prop::micDevice);
        store.clear(app::prop::speakerPlayDevice);
        store.clear(app::prop::fname);
        store.clear(app::prop::applicationPathREC);
        store.clear(app::prop::applicationPathREC16khz);
        app::writeInitialProperties(store);
        logLines().clear();
        qInstallMessageHandler(&EngineTest::captureLog);
    }

    void TearDown() override {
        app::properties().set(app::prop::isRunning, false);
        EXPECT_TRUE(waitForLiveChainIdle(10000));
        setSleepForTests(nullptr);
        qInstallMessageHandler(nullptr);
        current() = nullptr;
    }

    app::PropertyStore& store() { return app::properties(); }

    // Called in every pause, on the run's thread, before the clock moves.
    std::function<void(const Pause&, size_t index)> onPause;

    std::vector<Pause> pauses() {
        std::lock_guard<std::mutex> lock(mutex_);
        return pauses_;
    }

    // Starts a run as the callers do and waits until it has taken over the
    // status (the previous run has released its audio).
    void startLive() {
        const uint64_t runs = liveChainStatus().runs;
        store().set(app::prop::isRunning, true);
        (void)QtConcurrent::run(RunFmodFunction);
        ASSERT_TRUE(waitFor([runs](const LiveChainStatus& s) { return s.runs > runs; }));
    }

    // Waits (in real time, as a guard against a hung run) until `predicate`
    // holds for the live chain's status.
    bool waitFor(const std::function<bool(const LiveChainStatus&)>& predicate,
                 int timeoutMs = 20000) {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (std::chrono::steady_clock::now() < deadline) {
            if (predicate(liveChainStatus())) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return false;
    }
    bool waitPasses(uint64_t passes) {
        return waitFor([&](const LiveChainStatus& s) { return s.passes >= passes; });
    }
    void stopLive() {
        store().set(app::prop::isRunning, false);
        ASSERT_TRUE(waitForLiveChainIdle(10000));
    }

    static std::vector<std::string>& logLines() {
        static std::vector<std::string> lines;
        return lines;
    }
    static std::mutex& logMutex() {
        static std::mutex m;
        return m;
    }
    int countLog(const std::string& fragment) {
        std::lock_guard<std::mutex> lock(logMutex());
        int n = 0;
        for (const std::string& line : logLines()) n += line.find(fragment) != std::string::npos;
        return n;
    }

private:
    static void steppedSleep(int ms) {
        EngineTest* test = current();
        if (test) {
            Pause pause{std::this_thread::get_id(), ms, ip::now(), liveChainStatus()};
            size_t index;
            {
                std::lock_guard<std::mutex> lock(test->mutex_);
                index = test->pauses_.size();
                test->pauses_.push_back(pause);
            }
            if (test->onPause) test->onPause(pause, index);
        }
        ip::advance(ms);
    }
    static void captureLog(QtMsgType, const QMessageLogContext&, const QString& message) {
        std::lock_guard<std::mutex> lock(logMutex());
        logLines().push_back(message.toStdString());
    }

    std::mutex mutex_;
    std::vector<Pause> pauses_;
};

}  // namespace parlune::engine::testing
