// The mixer thread never touches the heap once running: a live-style chain
// (capture into a looping ring, a resampled channel whose frequency changes,
// the morph unit in both modes, the four built-in effects, the reverb) is
// driven through a few hundred blocks while its controls change between them,
// and every heap call made on the mixer thread is counted.
//
// The counter replaces malloc and its relatives in this executable only, so
// calls from the libraries (operator new, libsamplerate) are seen as well.
// Under AddressSanitizer, whose allocator must stay the only one, it listens
// to that allocator's malloc and free hooks instead, which see the same calls.
#include <execinfo.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <thread>

#include "app/core/properties.h"
#include "engine/morph_dsp/morph_dsp.h"
#include "platform/audiolib/inprocess.h"
#include "voice/morph_unit.h"

#if defined(__SANITIZE_ADDRESS__)
#define PARLUNE_SANITIZER_ALLOCATOR 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PARLUNE_SANITIZER_ALLOCATOR 1
#endif
#endif

#ifdef PARLUNE_SANITIZER_ALLOCATOR
// The sanitizer runtime's hook call (declared here: GCC ships no header for it).
extern "C" int __sanitizer_install_malloc_and_free_hooks(
    void (*mallocHook)(const volatile void*, size_t), void (*freeHook)(const volatile void*));
#else
extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* __libc_memalign(size_t, size_t);
void __libc_free(void*);
}
#endif

namespace {
std::atomic<long> heapCalls{0};
std::atomic<bool> showWhere{false};
thread_local bool counting = false;  // set on the thread under watch only
thread_local bool noting = false;    // backtrace() may allocate on first use

// Counts a call on a watched thread; the first few show where they came from.
void noteHeapCall() {
    if (!counting || noting) return;
    noting = true;
    if (heapCalls.fetch_add(1) < 3 && showWhere.load()) {
        void* frames[32];
        int depth = backtrace(frames, 32);
        backtrace_symbols_fd(frames, depth, 2);
    }
    noting = false;
}
}  // namespace

#ifdef PARLUNE_SANITIZER_ALLOCATOR
namespace {
// Installed before main, so the watch is on from the test's first block.
void onMalloc(const volatile void*, size_t) { noteHeapCall(); }
void onFree(const volatile void* pointer) {
    if (pointer) noteHeapCall();
}
[[maybe_unused]] const int hooksInstalled =
    __sanitizer_install_malloc_and_free_hooks(onMalloc, onFree);
}  // namespace
#else
extern "C" {
void* malloc(size_t size) {
    noteHeapCall();
    return __libc_malloc(size);
}
void* calloc(size_t count, size_t size) {
    noteHeapCall();
    return __libc_calloc(count, size);
}
void* realloc(void* pointer, size_t size) {
    noteHeapCall();
    return __libc_realloc(pointer, size);
}
void* memalign(size_t alignment, size_t size) {
    noteHeapCall();
    return __libc_memalign(alignment, size);
}
void* aligned_alloc(size_t alignment, size_t size) { return memalign(alignment, size); }
int posix_memalign(void** out, size_t alignment, size_t size) {
    void* pointer = memalign(alignment, size);
    if (!pointer) return ENOMEM;
    *out = pointer;
    return 0;
}
void free(void* pointer) {
    if (pointer) noteHeapCall();
    __libc_free(pointer);
}
}
#endif

namespace al = parlune::audiolib;
namespace ip = parlune::audiolib::inprocess;
namespace app = parlune::app;
namespace engine = parlune::engine;
namespace voice = parlune::voice;
using al::Result;

namespace {

TEST(RealtimeAlloc, CounterSeesHeapCallsOnTheWatchedThreadOnly) {
    void* (*volatile allocate)(size_t) = &malloc;
    static int* volatile sink;
    heapCalls = 0;
    std::thread([&] {
        sink = new int[16];
        delete[] sink;
    }).join();
    EXPECT_EQ(heapCalls.load(), 0);

    counting = true;
    free(allocate(100));
    sink = new int[16];
    delete[] sink;
    counting = false;
    EXPECT_EQ(heapCalls.load(), 4);  // malloc, free, operator new[], operator delete[]
}

// The tail of the chain, which runs first: on the real-time clock it starts
// and ends the watch on the hub's thread, from the block after a change.
enum Watch { kLeave, kWatch, kStop };
std::atomic<int> watchMixer{kLeave};
Result watchRead(al::DspState*, float* in, float* out, unsigned length, int, int*) {
    const int watch = watchMixer.load(std::memory_order_relaxed);
    if (watch != kLeave) counting = watch == kWatch;
    for (unsigned i = 0; i < length; ++i) out[i] = in[i];
    return Result::Ok;
}

class RealtimeAllocTest : public ::testing::TestWithParam<ip::ClockMode> {
protected:
    void SetUp() override {
        ip::setDefaultBackend(ip::Backend::InProcess);
        ip::setClock(ip::ClockMode::Manual);
        ip::configureDefaults();
        ip::clearPlayed();
    }
    void TearDown() override {
        if (GetParam() == ip::ClockMode::RealTime) {
            watchMixer = kStop;
            mixOneBlock();
        }
        ip::setClock(ip::ClockMode::Manual);
        watchMixer = kLeave;
        system.release();
    }

    uint64_t mixedBlocks() {
        uint64_t blocks = 0;
        system.getMixedBlocks(&blocks);
        return blocks;
    }

    // Lets at least one more block be mixed; on the manual clock the calling
    // thread is the mixer thread meanwhile, so it is watched for that time.
    void mixOneBlock() {
        if (GetParam() == ip::ClockMode::Manual) {
            counting = true;
            ip::advance(al::kMixerBlockFrames * 1000.0 / kMixRate);
            counting = false;
            return;
        }
        const uint64_t target = mixedBlocks() + 1;
        for (int i = 0; i < 5000 && mixedBlocks() < target; ++i)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
    }

    static constexpr int kMixRate = 16000;
    // What the morph unit reads outlives the test body: on the real-time clock
    // the mixer keeps running until TearDown releases the system.
    app::PropertyStore store;
    std::unique_ptr<voice::MorphState> morphState = voice::makeMorphState();
    engine::MorphDspContext context{morphState.get(), &store};
    al::System system;
};

TEST_P(RealtimeAllocTest, MixerThreadMakesNoHeapCallsInSteadyState) {
    store.set(app::prop::isCartoonMorph, false);
    store.set(app::prop::pitch, 1.3);
    store.set(app::prop::formant, 1.1);
    store.set(app::prop::warp, 1);

    ASSERT_EQ(al::createSystem(&system), Result::Ok);
    ASSERT_EQ(system.setSoftwareFormat(kMixRate, al::SpeakerMode::Mono, 1), Result::Ok);
    ASSERT_EQ(system.init(32, al::kInitNormal, nullptr), Result::Ok);
    al::Sound ring;
    ASSERT_EQ(al::createRecordRing(system, 48000, 1, &ring), Result::Ok);
    ASSERT_EQ(system.recordStart(0, ring, true), Result::Ok);

    al::ChannelGroup master;
    system.getMasterChannelGroup(&master);
    al::DspDescription watch;
    watch.numInputBuffers = watch.numOutputBuffers = 1;
    watch.read = watchRead;
    al::DSP watcher, morph, units[4];
    ASSERT_EQ(system.createDSP(&watch, &watcher), Result::Ok);
    ASSERT_EQ(engine::createMorphDsp(system, &morph, &context), Result::Ok);
    const al::DspType types[4] = {al::DspType::Echo, al::DspType::Chorus, al::DspType::Distortion,
                                  al::DspType::Tremolo};
    // One parameter of each unit and values it accepts, set as a pass goes.
    const int parameter[4] = {0, 1, 0, 0};
    const float low[4] = {80.0f, 0.5f, 0.3f, 2.0f}, step[4] = {1.0f, 0.01f, 0.002f, 0.05f};
    for (int i = 0; i < 4; ++i) ASSERT_EQ(system.createDSPByType(types[i], &units[i]), Result::Ok);
    ASSERT_EQ(master.addDSP(0, morph), Result::Ok);
    for (auto& unit : units) ASSERT_EQ(master.addDSP(0, unit), Result::Ok);
    // The chain's tail runs first, so the watcher sees the whole block after it.
    ASSERT_EQ(master.addDSP(5, watcher), Result::Ok);
    ASSERT_EQ(system.setReverbProperties(0, &al::fx::kReverbConcertHall), Result::Ok);

    ip::advance(200);  // the ring fills before it plays
    al::Channel channel;
    ASSERT_EQ(system.playSound(ring, al::ChannelGroup(), false, &channel), Result::Ok);
    ip::advance(1000);

    if (GetParam() == ip::ClockMode::RealTime) {
        ip::setClock(ip::ClockMode::RealTime, 8.0);
        watchMixer = kWatch;
        mixOneBlock();
        mixOneBlock();  // the watcher has run at least once since
    }
    heapCalls = 0;
    showWhere = true;
    const uint64_t blocksBefore = mixedBlocks();
    constexpr int kPasses = 300;
    for (int pass = 0; pass < kPasses; ++pass) {
        // 16 kHz passes through directly, the others go through the resampler.
        const float frequency = pass % 5 == 0 ? 16000.0f : 44000.0f + 29.0f * pass;
        ASSERT_EQ(channel.setFrequency(frequency), Result::Ok);
        store.set(app::prop::isCartoonMorph, (pass / 10) % 2 == 1);
        store.set(app::prop::pitch, 0.7 + 0.003 * pass);
        const int u = pass % 4;
        ASSERT_EQ(units[u].setBypass((pass / 4) % 3 == 0), Result::Ok);
        ASSERT_EQ(units[u].setParameterFloat(parameter[u], low[u] + step[u] * pass), Result::Ok);
        ASSERT_EQ(system.setReverbProperties(
                      0, pass % 6 < 3 ? &al::fx::kReverbConcertHall : &al::fx::kReverbOff),
                  Result::Ok);
        mixOneBlock();
        ASSERT_EQ(system.update(), Result::Ok);
    }
    const long calls = heapCalls.load();
    showWhere = false;
    const uint64_t blocks = mixedBlocks() - blocksBefore;

    EXPECT_GE(blocks, static_cast<uint64_t>(kPasses));
    EXPECT_EQ(calls, 0) << "heap calls on the mixer thread over " << blocks << " blocks";
    bool playing = false;
    channel.isPlaying(&playing);
    EXPECT_TRUE(playing);
}

INSTANTIATE_TEST_SUITE_P(Clocks, RealtimeAllocTest,
                         ::testing::Values(ip::ClockMode::Manual, ip::ClockMode::RealTime),
                         [](const ::testing::TestParamInfo<ip::ClockMode>& info) {
                             return info.param == ip::ClockMode::Manual ? "ManualClock"
                                                                        : "RealTimeClock";
                         });

}  // namespace
