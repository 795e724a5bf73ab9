#include "app/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "app/core/data_files.h"

namespace parlune::app {

SingleInstance::SingleInstance(const std::string& lockPath) {
    if (lockPath.empty()) return;
    fd_ = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ < 0) return;
    int result;
    do result = ::flock(fd_, LOCK_EX | LOCK_NB);
    while (result != 0 && errno == EINTR);
    if (result != 0 && errno == EWOULDBLOCK) acquired_ = false;
}

SingleInstance::~SingleInstance() {
    if (fd_ >= 0) ::close(fd_);  // closing releases the lock
}

std::string SingleInstance::defaultLockPath() {
    const std::string folder = data::perUserTempFolder();
    return folder.empty() ? std::string() : folder + "/parlune.lock";
}

}  // namespace parlune::app
