// A lock-free ring between exactly one producer thread and one consumer
// thread: items come out in the order they went in, none lost, none twice.
// All slots are made when the ring is built; pushing and popping copy into
// and out of them and never allocate, lock or wait. A full ring refuses what
// does not fit (the caller decides what to drop); an empty one gives nothing.
//
// Two ways in and out: copies of runs of items (push/pop), or work in place
// on one slot at a time (reserve/commit, front/popFront), for slots that own
// storage of their own, such as a block of bytes sized when the ring is built.
//
// Thread contract: the constructor, clear() and the destructor while neither
// side runs; the producer's calls (push, reserve, commit) from one thread at a
// time, the consumer's (pop, front, popFront) from one other thread at a
// time; size() and capacity() from anywhere. Every push and pop is real-time
// safe as long as copying T is (for trivially copyable T it is).
#pragma once

#include <algorithm>
#include <atomic>
#include <cassert>
#include <cstddef>
#include <vector>

namespace parlune::base {

template <typename T>
class SpscRing {
public:
    // Makes `capacity` (at least 1) slots, each a copy of `prototype`.
    explicit SpscRing(size_t capacity, const T& prototype = T())
        : capacity_(capacity), slots_(capacity, prototype) {
        assert(capacity >= 1);
    }
    SpscRing(const SpscRing&) = delete;
    SpscRing& operator=(const SpscRing&) = delete;

    size_t capacity() const { return capacity_; }

    // Any thread: items in the ring at some moment during the call.
    size_t size() const {
        // Tail first: the head read after it is at least as far on.
        const size_t tail = tail_.load(std::memory_order_acquire);
        const size_t head = head_.load(std::memory_order_acquire);
        return std::min(head - tail, capacity_);
    }

    // Neither side running: empties the ring (slots keep their storage).
    void clear() {
        head_.store(0, std::memory_order_relaxed);
        tail_.store(0, std::memory_order_relaxed);
    }

    // Producer, real-time safe: copies as many of the `count` items as fit,
    // oldest first, and returns how many; the rest are the caller's to drop.
    size_t push(const T* items, size_t count) {
        const size_t head = head_.load(std::memory_order_relaxed);
        const size_t tail =
            tail_.load(std::memory_order_acquire);  // the consumer is done with those slots
        const size_t n = std::min(count, capacity_ - (head - tail));
        for (size_t k = 0, i = head % capacity_; k < n; ++k, i = i + 1 == capacity_ ? 0 : i + 1)
            slots_[i] = items[k];
        head_.store(head + n, std::memory_order_release);  // publishes the copied items
        return n;
    }
    bool push(const T& item) { return push(&item, 1) == 1; }

    // Producer, real-time safe: the slot the next commit() hands over, to be
    // filled in place, or null when the ring is full.
    T* reserve() {
        const size_t head = head_.load(std::memory_order_relaxed);
        if (head - tail_.load(std::memory_order_acquire) == capacity_) return nullptr;
        return &slots_[head % capacity_];
    }
    // Producer, real-time safe: hands over the slot reserve() gave (only
    // after a reserve() that gave one).
    void commit() {
        head_.store(head_.load(std::memory_order_relaxed) + 1, std::memory_order_release);
    }

    // Consumer, real-time safe: copies up to `count` items, oldest first,
    // into `out` and returns how many.
    size_t pop(T* out, size_t count) {
        const size_t tail = tail_.load(std::memory_order_relaxed);
        const size_t head =
            head_.load(std::memory_order_acquire);  // the producer's items are complete
        const size_t n = std::min(count, head - tail);
        for (size_t k = 0, i = tail % capacity_; k < n; ++k, i = i + 1 == capacity_ ? 0 : i + 1)
            out[k] = slots_[i];
        tail_.store(tail + n, std::memory_order_release);  // frees the slots for the producer
        return n;
    }
    bool pop(T& item) { return pop(&item, 1) == 1; }

    // Consumer, real-time safe: the oldest item, read in place, or null when
    // the ring is empty. It stays the consumer's until popFront().
    T* front() {
        const size_t tail = tail_.load(std::memory_order_relaxed);
        if (head_.load(std::memory_order_acquire) == tail) return nullptr;
        return &slots_[tail % capacity_];
    }
    // Consumer, real-time safe: frees the slot front() gave (only after a
    // front() that gave one).
    void popFront() {
        tail_.store(tail_.load(std::memory_order_relaxed) + 1, std::memory_order_release);
    }

private:
    const size_t capacity_;
    std::vector<T> slots_;  // never resized after construction
    // Running counts of items pushed and popped; 64-bit, so they never wrap
    // in practice. Apart, so the two threads do not share a cache line.
    alignas(64) std::atomic<size_t> head_{0};  // written by the producer only
    alignas(64) std::atomic<size_t> tail_{0};  // written by the consumer only
};

}  // namespace parlune::base
