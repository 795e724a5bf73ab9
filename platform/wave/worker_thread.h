// Worker threads with a message queue and a handler map: the callback threads
// of the wave interface. A thread is known by its id, to which anyone may post
// (postThreadMessage); the loop calls the handler registered for each message
// in the order they were posted and ignores messages without one. Posting
// never allocates and holds its locks only for a queue insertion, so device
// I/O threads may post.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>

namespace parlune::wave {

using ThreadId = uint32_t;

// False when no worker thread has that id (never started or ended) or its
// queue is full.
bool postThreadMessage(ThreadId thread, uint32_t message, uintptr_t wParam, uintptr_t lParam);

enum class ThreadPriority { Normal, TimeCritical };

// The message box of the wave side: one line on standard error.
void messageBox(const std::string& text);

// Thread contract: handlers run on the worker thread; posting, waitIdle and setPriority from any
// thread.
class WorkerThread {
public:
    using Handler = std::function<void(uintptr_t wParam, uintptr_t lParam)>;

    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;
    virtual ~WorkerThread();

    // Starts the thread; returns once initInstance has run there (so the id is
    // known) with its result. Call at the end of the most derived constructor.
    bool createThread();
    ThreadId threadId() const { return threadId_; }
    bool postMessage(uint32_t message, uintptr_t wParam = 0, uintptr_t lParam = 0);
    // Returns once every message posted before this call has been handled
    // (at once when called on the thread itself or when it has ended).
    void waitIdle();
    // Asks for the priority; refusal (no right to raise it) is harmless.
    bool setPriority(ThreadPriority priority);

protected:
    WorkerThread() = default;
    // Register before createThread.
    void onMessage(uint32_t message, Handler handler);
    virtual bool initInstance() { return true; }
    // From a handler: the loop ends after the current message.
    void postQuitMessage();
    // Ends the loop (after the messages already queued) and joins the thread.
    // Derived destructors call it first, so no handler runs on a half-destroyed
    // object; idempotent.
    void endThread();

private:
    struct Message {
        uint32_t id;
        uintptr_t wParam;
        uintptr_t lParam;
    };
    static constexpr size_t kQueueCapacity = 256;
    static constexpr uint32_t kMsgSync = 0xFFFF0001;

    friend bool postThreadMessage(ThreadId, uint32_t, uintptr_t, uintptr_t);
    bool enqueue(const Message& message);
    void run(std::promise<bool>* started);

    std::unordered_map<uint32_t, Handler> handlers_;
    std::thread thread_;
    ThreadId threadId_ = 0;
    int kernelThreadId_ = 0;

    std::mutex mutex_;
    std::condition_variable posted_;
    std::condition_variable handled_;
    Message queue_[kQueueCapacity] = {};
    size_t head_ = 0, count_ = 0;
    uint64_t syncPosted_ = 0, syncHandled_ = 0;
    bool quit_ = false;
    bool endRequested_ = false;
    bool ended_ = false;
};

}  // namespace parlune::wave
