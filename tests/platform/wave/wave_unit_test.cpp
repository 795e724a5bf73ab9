// The wave layer without an audio server: result texts, argument checks and
// the worker threads' message loop.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/wave/wave.h"
#include "platform/wave/worker_thread.h"

namespace w = parlune::wave;

TEST(WaveErrorText, EveryCodeHasItsOwnTextAndUnknownCodesNone) {
    const w::Result codes[] = {
        w::kOk,           w::kError,          w::kBadDeviceId, w::kNotEnabled,
        w::kAllocated,    w::kInvalidHandle,  w::kNoDriver,    w::kNoMemory,
        w::kNotSupported, w::kBadErrorNumber, w::kInvalidFlag, w::kInvalidParam,
        w::kBadFormat,    w::kStillPlaying,   w::kUnprepared};
    std::set<std::string> texts;
    for (w::Result code : codes) {
        char in[w::kMaxErrorText], out[w::kMaxErrorText];
        ASSERT_EQ(w::inGetErrorText(code, in, sizeof in), w::kOk) << code;
        ASSERT_EQ(w::outGetErrorText(code, out, sizeof out), w::kOk) << code;
        EXPECT_STREQ(in, out);
        EXPECT_GT(std::string(in).size(), 0u);
        EXPECT_LE(std::string(in).size(), 100u);
        texts.insert(in);
    }
    EXPECT_EQ(texts.size(), std::size(codes));

    char text[w::kMaxErrorText] = "x";
    EXPECT_EQ(w::inGetErrorText(77, text, sizeof text), w::kBadErrorNumber);
    EXPECT_STREQ(text, "");
    char small[8];
    ASSERT_EQ(w::outGetErrorText(w::kStillPlaying, small, sizeof small), w::kOk);
    EXPECT_EQ(std::string(small).size(), 7u);  // cut, still terminated
}

TEST(WaveCapsName, KeepsThirtyOneBytesEvenInsideACharacter) {
    EXPECT_EQ(w::capsName("Speaker"), "Speaker");
    EXPECT_EQ(w::capsName(std::string(40, 'a')), std::string(31, 'a'));
    // "—" is three bytes in UTF-8; byte 31 falls inside it.
    const std::string name = "Enceinte numérique du salon — stéréo";
    EXPECT_EQ(w::capsName(name), name.substr(0, 31));
    EXPECT_EQ(w::capsName(name).size(), 31u);
}

TEST(WaveOpen, RejectsBadArgumentsBeforeLookingForTheDevice) {
    w::Format good;
    w::Format badAlign = good;
    badAlign.blockAlign = 2;
    w::Format eightBit = good;
    eightBit.bitsPerSample = 8;
    eightBit.blockAlign = 2;
    eightBit.avgBytesPerSec = 88200;
    w::Format floatTag = good;
    floatTag.formatTag = 3;
    w::Format badRate = good;
    badRate.avgBytesPerSec = 1;

    struct Case {
        const char* what;
        bool nullHandle;
        const w::Format* format;
        uintptr_t callback;
        uint32_t flags;
        w::Result expected;
    } cases[] = {
        {"no handle", true, &good, 1, w::kCallbackThread, w::kInvalidParam},
        {"no format", false, nullptr, 1, w::kCallbackThread, w::kInvalidParam},
        {"unknown flag", false, &good, 1, 0x40000, w::kInvalidFlag},
        {"thread callback without a thread", false, &good, 0, w::kCallbackThread, w::kInvalidParam},
        {"block alignment off", false, &badAlign, 1, w::kCallbackThread, w::kBadFormat},
        {"bytes per second off", false, &badRate, 1, w::kCallbackThread, w::kBadFormat},
        {"8-bit samples", false, &eightBit, 1, w::kCallbackThread, w::kBadFormat},
        {"not PCM", false, &floatTag, 1, w::kCallbackThread, w::kBadFormat},
    };
    for (const Case& c : cases) {
        w::InHandle in = nullptr;
        w::OutHandle out = nullptr;
        EXPECT_EQ(w::inOpen(c.nullHandle ? nullptr : &in, 0, c.format, c.callback, 0, c.flags),
                  c.expected)
            << c.what;
        EXPECT_EQ(w::outOpen(c.nullHandle ? nullptr : &out, 0, c.format, c.callback, 0, c.flags),
                  c.expected)
            << c.what;
        EXPECT_EQ(in, nullptr);
        EXPECT_EQ(out, nullptr);
    }
}

TEST(WaveHandles, CallsOnAHandleThatIsNotOpenAreRefused) {
    w::Header header;
    char data[64];
    header.data = data;
    header.bufferLength = sizeof data;
    auto bogusIn = reinterpret_cast<w::InHandle>(&header);
    auto bogusOut = reinterpret_cast<w::OutHandle>(&header);
    for (w::InHandle in : {static_cast<w::InHandle>(nullptr), bogusIn}) {
        EXPECT_EQ(w::inPrepareHeader(in, &header), w::kInvalidHandle);
        EXPECT_EQ(w::inAddBuffer(in, &header), w::kInvalidHandle);
        EXPECT_EQ(w::inStart(in), w::kInvalidHandle);
        EXPECT_EQ(w::inStop(in), w::kInvalidHandle);
        EXPECT_EQ(w::inReset(in), w::kInvalidHandle);
        EXPECT_EQ(w::inUnprepareHeader(in, &header), w::kInvalidHandle);
        EXPECT_EQ(w::inClose(in), w::kInvalidHandle);
    }
    for (w::OutHandle out : {static_cast<w::OutHandle>(nullptr), bogusOut}) {
        EXPECT_EQ(w::outPrepareHeader(out, &header), w::kInvalidHandle);
        EXPECT_EQ(w::outWrite(out, &header), w::kInvalidHandle);
        EXPECT_EQ(w::outReset(out), w::kInvalidHandle);
        EXPECT_EQ(w::outUnprepareHeader(out, &header), w::kInvalidHandle);
        EXPECT_EQ(w::outClose(out), w::kInvalidHandle);
    }
    EXPECT_EQ(header.flags, 0u);
}

namespace {

constexpr uint32_t kMsgRecord = w::kMsgUser + 1;
constexpr uint32_t kMsgQuit = w::kMsgUser + 2;
constexpr uint32_t kMsgSlow = w::kMsgUser + 3;

class Recorder : public w::WorkerThread {
public:
    explicit Recorder(std::atomic<int>* handled = nullptr) {
        onMessage(kMsgRecord, [this, handled](uintptr_t value, uintptr_t) {
            seen.push_back(value);
            if (handled) ++*handled;
        });
        onMessage(kMsgQuit, [this](uintptr_t, uintptr_t) { postQuitMessage(); });
        onMessage(kMsgSlow, [this](uintptr_t, uintptr_t) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            slowDone = true;
        });
        started = createThread();
    }
    ~Recorder() override { endThread(); }
    bool initInstance() override {
        idSeenAtStart = threadId();
        return true;
    }
    std::vector<uintptr_t> seen;  // worker thread only, read after waitIdle
    std::atomic<bool> slowDone{false};
    bool started = false;
    w::ThreadId idSeenAtStart = 0;
};

}  // namespace

TEST(WorkerThread, HandlesPostedMessagesInOrderAndIgnoresUnknownOnes) {
    Recorder recorder;
    ASSERT_TRUE(recorder.started);
    EXPECT_NE(recorder.threadId(), 0u);
    EXPECT_EQ(recorder.idSeenAtStart, recorder.threadId());  // known before createThread returns

    for (uintptr_t i = 0; i < 200; ++i) {
        ASSERT_TRUE(w::postThreadMessage(recorder.threadId(), kMsgRecord, i, 0));
        if (i % 50 == 0) {
            ASSERT_TRUE(w::postThreadMessage(recorder.threadId(), 0x7777, i, 0));
        }
    }
    recorder.waitIdle();
    ASSERT_EQ(recorder.seen.size(), 200u);
    for (uintptr_t i = 0; i < 200; ++i) EXPECT_EQ(recorder.seen[i], i);

    Recorder other;
    EXPECT_NE(other.threadId(), recorder.threadId());
    EXPECT_FALSE(w::postThreadMessage(0, kMsgRecord, 0, 0));
    EXPECT_FALSE(w::postThreadMessage(other.threadId() + 1000, kMsgRecord, 0, 0));
}

TEST(WorkerThread, WaitIdleWaitsForTheHandlerInProgress) {
    Recorder recorder;
    ASSERT_TRUE(recorder.postMessage(kMsgSlow));
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    recorder.waitIdle();
    EXPECT_TRUE(recorder.slowDone);
}

TEST(WorkerThread, AQuitMessageEndsTheLoopAndTheIdGoesAway) {
    Recorder recorder;
    const w::ThreadId id = recorder.threadId();
    ASSERT_TRUE(w::postThreadMessage(id, kMsgRecord, 1, 0));
    ASSERT_TRUE(w::postThreadMessage(id, kMsgQuit, 0, 0));
    recorder.waitIdle();  // returns once the loop has ended
    EXPECT_EQ(recorder.seen, std::vector<uintptr_t>{1});
    EXPECT_FALSE(w::postThreadMessage(id, kMsgRecord, 2, 0));
    recorder.waitIdle();  // harmless on an ended thread
}

TEST(WorkerThread, EndingFinishesTheMessagesAlreadyQueued) {
    std::atomic<int> handled{0};
    auto recorder = std::make_unique<Recorder>(&handled);
    recorder->postMessage(kMsgSlow);
    for (uintptr_t i = 0; i < 10; ++i) recorder->postMessage(kMsgRecord, i);
    recorder.reset();  // joins once the queue is empty
    EXPECT_EQ(handled, 10);
}
