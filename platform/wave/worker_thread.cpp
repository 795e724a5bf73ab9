#include "platform/wave/worker_thread.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>

namespace parlune::wave {
namespace {

std::mutex registryMutex;
std::unordered_map<ThreadId, WorkerThread*>& registry() {
    static std::unordered_map<ThreadId, WorkerThread*> threads;
    return threads;
}
std::atomic<ThreadId> nextThreadId{1};

}  // namespace

void messageBox(const std::string& text) { std::fprintf(stderr, "%s\n", text.c_str()); }

bool postThreadMessage(ThreadId thread, uint32_t message, uintptr_t wParam, uintptr_t lParam) {
    std::lock_guard<std::mutex> lock(registryMutex);
    auto found = registry().find(thread);
    if (found == registry().end()) return false;
    return found->second->enqueue({message, wParam, lParam});
}

WorkerThread::~WorkerThread() { endThread(); }

void WorkerThread::onMessage(uint32_t message, Handler handler) {
    handlers_[message] = std::move(handler);
}

bool WorkerThread::createThread() {
    if (thread_.joinable()) return false;
    std::promise<bool> started;
    std::future<bool> result = started.get_future();
    thread_ = std::thread([this, &started] { run(&started); });
    return result.get();
}

bool WorkerThread::enqueue(const Message& message) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (ended_ || count_ == kQueueCapacity) return false;
        queue_[(head_ + count_) % kQueueCapacity] = message;
        ++count_;
    }
    posted_.notify_one();
    return true;
}

bool WorkerThread::postMessage(uint32_t message, uintptr_t wParam, uintptr_t lParam) {
    return enqueue({message, wParam, lParam});
}

void WorkerThread::postQuitMessage() { quit_ = true; }

void WorkerThread::waitIdle() {
    if (!thread_.joinable() || std::this_thread::get_id() == thread_.get_id()) return;
    std::unique_lock<std::mutex> lock(mutex_);
    if (ended_ || count_ == kQueueCapacity) return;
    const uint64_t ticket = ++syncPosted_;
    queue_[(head_ + count_) % kQueueCapacity] = {kMsgSync, static_cast<uintptr_t>(ticket), 0};
    ++count_;
    posted_.notify_one();
    handled_.wait(lock, [&] { return ended_ || syncHandled_ >= ticket; });
}

void WorkerThread::endThread() {
    if (!thread_.joinable()) return;
    if (std::this_thread::get_id() == thread_.get_id()) return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        endRequested_ = true;
    }
    posted_.notify_one();
    thread_.join();
}

bool WorkerThread::setPriority(ThreadPriority priority) {
    if (kernelThreadId_ == 0) return false;
    const int niceness = priority == ThreadPriority::TimeCritical ? -20 : 0;
    return setpriority(PRIO_PROCESS, static_cast<id_t>(kernelThreadId_), niceness) == 0;
}

void WorkerThread::run(std::promise<bool>* started) {
    threadId_ = nextThreadId++;
    kernelThreadId_ = static_cast<int>(syscall(SYS_gettid));
    {
        std::lock_guard<std::mutex> lock(registryMutex);
        registry()[threadId_] = this;
    }
    const bool ok = initInstance();
    started->set_value(ok);
    while (ok && !quit_) {
        Message message;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            posted_.wait(lock, [&] { return count_ > 0 || endRequested_; });
            if (count_ == 0) break;
            message = queue_[head_];
            head_ = (head_ + 1) % kQueueCapacity;
            --count_;
            if (message.id == kMsgSync) {
                syncHandled_ = message.wParam;
                handled_.notify_all();
                continue;
            }
        }
        auto handler = handlers_.find(message.id);
        if (handler != handlers_.end()) handler->second(message.wParam, message.lParam);
    }
    {
        std::lock_guard<std::mutex> lock(registryMutex);
        registry().erase(threadId_);
    }
    std::lock_guard<std::mutex> lock(mutex_);
    ended_ = true;
    handled_.notify_all();
}

}  // namespace parlune::wave
