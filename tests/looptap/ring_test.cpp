// The ring of twelve blocks between capture and playback, driven through the
// pipe's two callbacks as the worker threads drive them.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "looptap/pipe.h"

using parlune::looptap::CBuffer;
using parlune::looptap::CPipe;

namespace {

constexpr int kFrames = 16;
constexpr int kBytes = kFrames * 4;  // 16-bit stereo

// A pipe whose ring is ready and which runs, with no device behind it.
struct RunningPipe {
    RunningPipe() {
        pipe.m_out.SetBufferFrames(kFrames);
        pipe.ResetRing();
        pipe.m_running = true;
    }
    // Captures one block whose every byte is `mark`.
    int capture(unsigned char mark) {
        std::vector<char> bytes(kBytes, static_cast<char>(mark));
        CBuffer block(bytes.data(), kBytes);
        return CPipe::InputCallback(&block, &pipe);
    }
    // Plays one block into `bytes` (left as it was when nothing comes).
    int play(std::vector<char>& bytes) {
        CBuffer block(bytes.data(), kBytes);
        return CPipe::OutputCallback(&block, &pipe);
    }
    CPipe pipe;
};

bool uniform(const std::vector<char>& bytes, unsigned char mark) {
    for (char b : bytes)
        if (static_cast<unsigned char>(b) != mark) return false;
    return true;
}

}  // namespace

TEST(LooptapRing, AFullRingDropsNewBlocksAndKeepsTheOldOnes) {
    RunningPipe p;
    for (int i = 0; i < 12; ++i) ASSERT_EQ(p.capture(static_cast<unsigned char>(i + 1)), 1) << i;
    EXPECT_EQ(p.pipe.m_ring->size(), 12u);  // full
    EXPECT_EQ(p.capture(99), 0);            // dropped
    EXPECT_EQ(p.capture(98), 0);
    EXPECT_EQ(p.pipe.m_written, 12);

    std::vector<char> out(kBytes);
    for (int i = 0; i < 12; ++i) {
        ASSERT_EQ(p.play(out), 1);
        EXPECT_TRUE(uniform(out, static_cast<unsigned char>(i + 1))) << i;
    }
    // Room again: capture goes on where it was.
    EXPECT_EQ(p.capture(13), 1);
    ASSERT_EQ(p.play(out), 1);
    EXPECT_TRUE(uniform(out, 13));
}

TEST(LooptapRing, AnEmptyRingLeavesThePlaybackBlockAsItWasSoItIsPlayedAgain) {
    RunningPipe p;
    for (int i = 0; i < 6; ++i) ASSERT_EQ(p.capture(static_cast<unsigned char>(10 + i)), 1);
    std::vector<char> out(kBytes);
    for (int i = 0; i < 6; ++i) ASSERT_EQ(p.play(out), 1);
    EXPECT_TRUE(uniform(out, 15));
    EXPECT_EQ(p.play(out), 0);
    EXPECT_TRUE(uniform(out, 15));
    EXPECT_EQ(p.pipe.m_ring->size(), 0u);
}

TEST(LooptapRing, BlocksPassInOrderAcrossManyWrapsOfBothIndices) {
    RunningPipe p;
    std::vector<char> out(kBytes);
    unsigned char next = 0, expected = 0;
    for (int i = 0; i < 6; ++i) ASSERT_EQ(p.capture(next++), 1);
    for (int round = 0; round < 40; ++round) {
        // Uneven bursts on both sides, so the indices wrap at different times.
        for (int i = 0; i < 1 + round % 4; ++i) ASSERT_EQ(p.capture(next++), 1);
        for (int i = 0; i < 1 + (round + 2) % 4; ++i) {
            if (p.play(out) == 1) {
                EXPECT_TRUE(uniform(out, expected++));
            }
        }
        ASSERT_LE(p.pipe.m_ring->size(), 12u);
    }
    while (p.play(out) == 1) EXPECT_TRUE(uniform(out, expected++));
    EXPECT_EQ(expected, next);
    EXPECT_GT(p.pipe.m_written, 24);
}

TEST(LooptapRing, NothingIsStoredOrPlayedWhileThePipeIsNotRunning) {
    RunningPipe p;
    p.pipe.m_running = false;
    EXPECT_EQ(p.capture(7), 1);  // not wanted, not an error
    EXPECT_EQ(p.pipe.m_written, 0);
    std::vector<char> out(kBytes, 0x55);
    EXPECT_EQ(p.play(out), 0);
    EXPECT_TRUE(uniform(out, 0x55));
}

TEST(LooptapRing, PlaybackWaitsForTheFirstBlocksOnlySoLongThenPlaysSilence) {
    RunningPipe p;
    std::vector<char> out(kBytes, 0x55);
    EXPECT_EQ(p.play(out), 0);  // capture never delivered
    EXPECT_TRUE(uniform(out, 0));
    // The wait is over for good: a block that comes now is played at once.
    ASSERT_EQ(p.capture(3), 1);
    EXPECT_EQ(p.play(out), 1);
    EXPECT_TRUE(uniform(out, 3));
}

TEST(LooptapRing, StoppingReleasesAPlaybackThreadWaitingForTheFirstBlocks) {
    RunningPipe p;
    std::vector<char> out(kBytes, 0x55);
    int result = -1;
    std::thread playback([&] { result = p.play(out); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    p.pipe.m_running = false;
    playback.join();
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(uniform(out, 0x55));  // left alone, not silenced
}

TEST(LooptapRing, NoBlockIsLostOrTornWhileBothSidesKeepPace) {
    RunningPipe p;
    constexpr int kBlocks = 300;
    std::thread capture([&] {
        for (int i = 0; i < kBlocks; ++i) {
            EXPECT_EQ(p.capture(static_cast<unsigned char>(i)), 1) << "dropped " << i;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    std::vector<unsigned char> played;
    std::vector<char> out(kBytes);
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (played.size() < kBlocks && std::chrono::steady_clock::now() < giveUp) {
        if (p.play(out) != 1) continue;
        const auto mark = static_cast<unsigned char>(out[0]);
        EXPECT_TRUE(uniform(out, mark)) << "torn block after " << played.size();
        played.push_back(mark);
    }
    capture.join();
    ASSERT_EQ(played.size(), static_cast<size_t>(kBlocks));
    for (int i = 0; i < kBlocks; ++i) ASSERT_EQ(played[i], static_cast<unsigned char>(i)) << i;
}

// Capture and playback keep pace for a second of playback, one block each in
// turn, from a ring holding `startFill`; once in that second playback takes
// `dip` blocks ahead. No device is open, so the ring is all the pipe holds. Only what the ring held
// above six all through the second is dropped, from its oldest end, and the rest plays on in order.
TEST(LooptapRing, WhatStaysAboveSixBlocksForASecondIsDroppedAtOnce) {
    struct Case {
        const char* what;
        int startFill;
        int dip;
        int dropped;
    };
    const Case cases[] = {
        // Playback finds the ring one fuller than startFill each time.
        {"a fill at the target", 5, 0, 0},
        {"a ring full from the start", 11, 0, 6},
        {"a surplus that went once", 11, 6, 0},
        {"a surplus that shrank once", 11, 4, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RunningPipe p;
        const int window = 44100 / kFrames;  // blocks in a second
        unsigned char next = 0;
        for (int i = 0; i < c.startFill; ++i) ASSERT_EQ(p.capture(next++), 1);
        std::vector<char> out(kBytes);
        std::vector<unsigned char> played;
        for (int i = 0; i < window; ++i) {
            if (i == window / 2)
                for (int k = 0; k < c.dip; ++k) {
                    ASSERT_EQ(p.play(out), 1);
                    played.push_back(static_cast<unsigned char>(out[0]));
                }
            ASSERT_EQ(p.capture(next++), 1);
            ASSERT_EQ(p.play(out), 1);
            played.push_back(static_cast<unsigned char>(out[0]));
        }
        EXPECT_EQ(p.pipe.m_dropped, c.dropped);
        EXPECT_EQ(p.pipe.m_replayed, 0);
        // The last block played came after the dropped ones.
        while (p.play(out) == 1) played.push_back(static_cast<unsigned char>(out[0]));
        ASSERT_EQ(played.size(), static_cast<size_t>(window + c.startFill - c.dropped));
        for (size_t i = 0; i + 1 < played.size(); ++i) {
            const int step = static_cast<unsigned char>(played[i + 1] - played[i]);
            if (step != 1) {
                EXPECT_EQ(step, 1 + c.dropped) << "at " << i;
            }
        }
        EXPECT_EQ(played.back(), static_cast<unsigned char>(next - 1));
    }
}

TEST(LooptapPipe, APipeNeverStartedIsDestroyedWithoutTouchingADevice) {
    for (int i = 0; i < 3; ++i) {
        CPipe pipe;
        pipe.ResetRing();
        EXPECT_FALSE(pipe.m_in.IsRunning());
        EXPECT_FALSE(pipe.m_out.IsRunning());
    }
}
