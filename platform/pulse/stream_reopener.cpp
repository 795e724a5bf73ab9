#include "platform/pulse/stream_reopener.h"

#include <chrono>

#include "platform/pulse/device_directory.h"

namespace parlune::pulse {

StreamReopener::StreamReopener(StreamDirection direction, std::string device, Open open,
                               Notice notice)
    : direction_(direction),
      device_(std::move(device)),
      open_(std::move(open)),
      notice_(std::move(notice)) {
    thread_ = std::thread([this] { run(); });
}

StreamReopener::~StreamReopener() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        quit_ = true;
    }
    wake_.notify_all();
    thread_.join();
    delete offered_.exchange(nullptr);
    delete retired_.exchange(nullptr);
}

// The flags change before the lock is taken and let go, so the thread either
// sees them when it looks or is already waiting when it is woken.
void StreamReopener::wakeThread() {
    { std::lock_guard<std::mutex> lock(mutex_); }
    wake_.notify_one();
}

void StreamReopener::lost() {
    int healthy = kHealthy;
    if (state_.compare_exchange_strong(healthy, kLost, std::memory_order_acq_rel)) wakeThread();
}

bool StreamReopener::takeOver(std::unique_ptr<Stream>& stream) {
    if (state_.load(std::memory_order_acquire) != kOffered) return false;
    // The thread frees a retired stream before it offers the next one, so
    // the slot is empty here.
    retired_.store(stream.release(), std::memory_order_release);
    stream.reset(offered_.exchange(nullptr, std::memory_order_acq_rel));
    state_.store(kHealthy, std::memory_order_release);
    wakeThread();
    return true;
}

bool StreamReopener::listed(DeviceDirectory& directory) const {
    if (device_.empty()) return directory.connected();
    return directory.lists(direction_, device_);
}

void StreamReopener::run() {
    // Held while a device is lost, so a healthy stream keeps no connection of
    // the reopener's.
    std::shared_ptr<DeviceDirectory> directory;
    bool toldLost = false;
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock,
                   [&] { return quit_ || state_.load() == kLost || retired_.load() != nullptr; });
        if (quit_) return;
        if (Stream* given = retired_.exchange(nullptr)) {
            lock.unlock();
            delete given;
            directory.reset();
            if (toldLost && notice_) notice_(false);
            toldLost = false;
            lock.lock();
            continue;
        }
        lock.unlock();
        if (!toldLost) {
            toldLost = true;
            if (notice_) notice_(true);
        }
        if (!directory) directory = DeviceDirectory::shared();
        std::unique_ptr<Stream> stream = listed(*directory) ? open_() : nullptr;
        lock.lock();
        if (stream) {
            offered_.store(stream.release(), std::memory_order_release);
            state_.store(kOffered, std::memory_order_release);
        } else {
            wake_.wait_for(lock, std::chrono::milliseconds(kReopenIntervalMs),
                           [&] { return quit_; });
        }
    }
}

}  // namespace parlune::pulse
