// The single-producer/single-consumer ring: order, full and empty, wrapping
// round, slots worked on in place, and two threads at once.
#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <random>
#include <thread>
#include <vector>

#include "platform/base/spsc_ring.h"

namespace parlune::base {
namespace {

TEST(SpscRing, AFullRingRefusesWhatDoesNotFitAndAnEmptyOneGivesNothing) {
    SpscRing<int> ring(4);
    int out[8] = {};
    EXPECT_EQ(ring.pop(out, 8), 0u);
    EXPECT_EQ(ring.front(), nullptr);
    EXPECT_EQ(ring.size(), 0u);

    const int first[] = {1, 2, 3};
    EXPECT_EQ(ring.push(first, 3), 3u);
    const int more[] = {4, 5, 6};
    EXPECT_EQ(ring.push(more, 3), 1u);  // only 4 fits
    EXPECT_EQ(ring.size(), 4u);
    EXPECT_FALSE(ring.push(7));
    EXPECT_EQ(ring.reserve(), nullptr);

    EXPECT_EQ(ring.pop(out, 8), 4u);
    EXPECT_EQ(std::vector<int>(out, out + 4), (std::vector<int>{1, 2, 3, 4}));
    EXPECT_EQ(ring.size(), 0u);
    int one = 0;
    EXPECT_FALSE(ring.pop(one));

    // Room again after a clear, too.
    EXPECT_TRUE(ring.push(8));
    ring.clear();
    EXPECT_EQ(ring.size(), 0u);
    EXPECT_EQ(ring.push(first, 3), 3u);
    EXPECT_EQ(ring.pop(out, 1), 1u);
    EXPECT_EQ(out[0], 1);
}

// Runs of every length against a plain queue, so both ends wrap round the
// slots at every offset, in pieces that straddle the end.
TEST(SpscRing, RunsKeepTheirOrderWhereverTheyWrapRound) {
    for (size_t capacity : {1u, 2u, 5u, 16u}) {
        SpscRing<uint32_t> ring(capacity);
        std::deque<uint32_t> model;
        std::mt19937 random(7);
        uint32_t next = 0;
        for (int step = 0; step < 2000; ++step) {
            std::vector<uint32_t> run(random() % (capacity + 3));
            for (auto& v : run) v = next++;
            const size_t pushed = ring.push(run.data(), run.size());
            ASSERT_EQ(pushed, std::min(run.size(), capacity - model.size()))
                << capacity << " step " << step;
            model.insert(model.end(), run.begin(),
                         run.begin() + static_cast<std::ptrdiff_t>(pushed));
            next -=
                static_cast<uint32_t>(run.size() - pushed);  // the refused ones are offered again

            std::vector<uint32_t> out(random() % (capacity + 3));
            const size_t popped = ring.pop(out.data(), out.size());
            ASSERT_EQ(popped, std::min(out.size(), model.size())) << capacity << " step " << step;
            for (size_t i = 0; i < popped; ++i) {
                ASSERT_EQ(out[i], model.front()) << capacity << " step " << step;
                model.pop_front();
            }
            ASSERT_EQ(ring.size(), model.size());
        }
    }
}

TEST(SpscRing, SlotsFilledInPlaceKeepTheStorageTheyWereBuiltWith) {
    struct Block {
        std::vector<char> bytes;
        int used = 0;
    };
    SpscRing<Block> ring(3, Block{std::vector<char>(64), 0});
    std::vector<const char*> storage;
    for (int round = 0; round < 5; ++round) {
        for (int i = 0; i < 3; ++i) {
            Block* slot = ring.reserve();
            ASSERT_NE(slot, nullptr);
            ASSERT_EQ(slot->bytes.size(), 64u);
            slot->bytes[0] = static_cast<char>(10 * round + i);
            slot->used = i + 1;
            if (round == 0) storage.push_back(slot->bytes.data());
            ring.commit();
        }
        EXPECT_EQ(ring.reserve(), nullptr);
        for (int i = 0; i < 3; ++i) {
            Block* slot = ring.front();
            ASSERT_NE(slot, nullptr);
            EXPECT_EQ(slot->bytes[0], static_cast<char>(10 * round + i));
            EXPECT_EQ(slot->used, i + 1);
            EXPECT_EQ(slot->bytes.data(), storage[static_cast<size_t>(3 * round + i) % 3]);
            ring.popFront();
        }
        EXPECT_EQ(ring.front(), nullptr);
    }
}

// A producer and a consumer on their own threads, a bounded count of items in
// uneven runs: the consumer sees every item once, in order.
TEST(SpscRing, TwoThreadsPassEveryItemOnceInOrder) {
    constexpr uint64_t kItems = 2'000'000;
    SpscRing<uint64_t> ring(61);
    std::thread producer([&] {
        std::vector<uint64_t> run(40);
        uint64_t next = 0;
        size_t length = 1;
        while (next < kItems) {
            length = length % 40 + 1;
            const size_t n = static_cast<size_t>(std::min<uint64_t>(length, kItems - next));
            for (size_t i = 0; i < n; ++i) run[i] = next + i;
            const size_t pushed = ring.push(run.data(), n);
            next += pushed;
            if (pushed < n) std::this_thread::yield();
        }
    });
    // Drains all of them even after a fault, so the producer always ends.
    std::vector<uint64_t> out(37);
    uint64_t received = 0, wrong = 0;
    size_t length = 1;
    while (received < kItems) {
        length = length % 37 + 1;
        const size_t n = ring.pop(out.data(), length);
        for (size_t i = 0; i < n; ++i) wrong += out[i] != received++;
        if (n == 0) std::this_thread::yield();
    }
    producer.join();
    EXPECT_EQ(wrong, 0u);
    EXPECT_EQ(ring.size(), 0u);  // nothing left over: none was passed twice
}

TEST(SpscRing, TwoThreadsWorkingSlotsInPlacePassEveryBlockOnceAndWhole) {
    constexpr uint32_t kBlocks = 200'000;
    constexpr size_t kWords = 16;
    SpscRing<std::vector<uint32_t>> ring(12, std::vector<uint32_t>(kWords));
    std::thread producer([&] {
        for (uint32_t block = 0; block < kBlocks;) {
            std::vector<uint32_t>* slot = ring.reserve();
            if (!slot) {
                std::this_thread::yield();
                continue;
            }
            for (uint32_t& word : *slot) word = block;
            ring.commit();
            ++block;
        }
    });
    uint32_t received = 0, wrong = 0;
    while (received < kBlocks) {
        std::vector<uint32_t>* slot = ring.front();
        if (!slot) {
            std::this_thread::yield();
            continue;
        }
        bool whole = slot->size() == kWords;
        for (uint32_t word : *slot) whole = whole && word == received;
        wrong += !whole;
        ring.popFront();
        ++received;
    }
    producer.join();
    EXPECT_EQ(wrong, 0u) << "blocks torn or out of order";
    EXPECT_EQ(ring.size(), 0u);
}

}  // namespace
}  // namespace parlune::base
