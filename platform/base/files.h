// The one way files are read and replaced, for every folder (POSIX, no Qt):
//
// - openRegularFile / readRegularFile open a file only when it is a regular
//   file of at most maxBytes: a folder, a FIFO (which would block forever), a
//   device (/dev/zero never ends) or an oversized file is refused with a
//   reason, never read.
// - ReplacedFile writes a file beside its target and renames it over the
//   target only when every write, the flush to disk and the close succeeded;
//   otherwise the target stays as it was and the partial file is removed.
//   writeFileReplacing does this for bytes held in memory.
//
// Thread contract: free functions and a caller-owned object; any control
// thread. They do I/O, so never on an audio thread.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

namespace parlune::base {

// A file descriptor for reading `path`, or -1 with the reason in *error and
// errno set.
// Opened without blocking, so a FIFO is refused instead of waited on; the
// descriptor returned blocks as usual.
inline int openRegularFile(const std::string& path, uint64_t maxBytes, std::string* error) {
    // errno tells the caller the kind: the open's own, EISDIR, EINVAL or EFBIG.
    auto refuse = [&](int fd, int code, const std::string& why) {
        if (fd >= 0) ::close(fd);
        if (error) *error = why;
        errno = code;
        return -1;
    };
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return refuse(-1, errno, std::strerror(errno));
    struct stat st {};
    if (::fstat(fd, &st) != 0) return refuse(fd, errno, std::strerror(errno));
    if (S_ISDIR(st.st_mode)) return refuse(fd, EISDIR, "is a folder, not a file");
    if (!S_ISREG(st.st_mode)) return refuse(fd, EINVAL, "is not a regular file");
    if (static_cast<uint64_t>(st.st_size) > maxBytes)
        return refuse(fd, EFBIG, "is larger than " + std::to_string(maxBytes) + " bytes");
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    return fd;
}

// The whole file into *bytes (at most maxBytes, also when it grows while
// read); false with the reason in *error.
inline bool readRegularFile(const std::string& path, uint64_t maxBytes, std::string* bytes,
                            std::string* error) {
    const int fd = openRegularFile(path, maxBytes, error);
    if (fd < 0) return false;
    std::string read;
    char chunk[4096];
    for (;;) {
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            if (error) *error = std::strerror(errno);
            ::close(fd);
            return false;
        }
        if (got == 0) break;
        if (read.size() + static_cast<size_t>(got) > maxBytes) {
            if (error) *error = "is larger than " + std::to_string(maxBytes) + " bytes";
            ::close(fd);
            return false;
        }
        read.append(chunk, static_cast<size_t>(got));
    }
    ::close(fd);
    *bytes = std::move(read);
    return true;
}

// A file being written beside `target` ("target.xxxxxx" in the same folder, so
// the rename stays on one file system). Whoever writes it (directly through
// fd(), or by opening path() with another library) calls commit() when done;
// a ReplacedFile destroyed without a successful commit removes its file.
class ReplacedFile {
public:
    explicit ReplacedFile(std::string target) : target_(std::move(target)) {
        // A fresh name, created exclusively with the mode a new file gets (the
        // umask applied by the system, never changed here: other threads
        // create files too).
        static std::atomic<unsigned> counter{0};
        const auto seed = static_cast<unsigned long long>(
            std::chrono::steady_clock::now().time_since_epoch().count());
        for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
            char suffix[32];
            std::snprintf(suffix, sizeof suffix, ".%06llx",
                          (seed ^ (static_cast<unsigned long long>(::getpid()) << 20) ^
                           (counter.fetch_add(1) * 0x9E3779B97F4A7C15ull)) &
                              0xFFFFFFull);
            const std::string candidate = target_ + suffix;
            fd_ = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd_ >= 0) {
                path_ = candidate;
            } else if (errno != EEXIST) {
                error_ = std::strerror(errno);
                return;
            }
        }
        if (fd_ < 0) error_ = "no free name beside the file";
    }
    ~ReplacedFile() { discard(); }
    ReplacedFile(const ReplacedFile&) = delete;
    ReplacedFile& operator=(const ReplacedFile&) = delete;

    bool valid() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    const std::string& path() const { return path_; }
    // Why the last step failed ("" when none did).
    const std::string& error() const { return error_; }

    // Appends bytes; false (and remembered) when they cannot all be written.
    bool write(const void* data, size_t size) {
        if (fd_ < 0) return false;
        const char* from = static_cast<const char*>(data);
        while (size > 0) {
            const ssize_t done = ::write(fd_, from, size);
            if (done < 0 && errno == EINTR) continue;
            if (done <= 0) {
                fail(done < 0 ? std::strerror(errno) : "nothing written");
                return false;
            }
            from += done;
            size -= static_cast<size_t>(done);
        }
        return true;
    }
    // Marks the file failed (a writer of its own saw an error); commit() will refuse.
    void fail(const std::string& why) {
        if (error_.empty()) error_ = why;
        failed_ = true;
    }

    // Flushes the file to disk, closes it and renames it over the target.
    // False when any step (or an earlier write) failed: the target is untouched.
    bool commit() {
        if (fd_ < 0) {
            if (error_.empty()) error_ = "no file";
            return false;
        }
        if (failed_) {
            discard();
            return false;
        }
        bool ok = ::fsync(fd_) == 0;
        if (!ok) error_ = std::strerror(errno);
        if (::close(fd_) != 0 && ok) {
            ok = false;
            error_ = std::strerror(errno);
        }
        fd_ = -1;
        if (ok && std::rename(path_.c_str(), target_.c_str()) != 0) {
            ok = false;
            error_ = std::strerror(errno);
        }
        if (!ok) {
            std::remove(path_.c_str());
        }
        path_.clear();
        return ok;
    }

    // Closes and removes the file; the target stays as it was.
    void discard() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
        if (!path_.empty()) std::remove(path_.c_str());
        path_.clear();
    }

private:
    std::string target_;
    std::string path_;
    std::string error_;
    int fd_ = -1;
    bool failed_ = false;
};

// Replaces `target` with `bytes` through a ReplacedFile; false with the reason
// in *error when the old file stays.
inline bool writeFileReplacing(const std::string& target, const std::string& bytes,
                               std::string* error = nullptr) {
    ReplacedFile file(target);
    const bool ok = file.valid() && file.write(bytes.data(), bytes.size()) && file.commit();
    if (!ok && error) *error = file.error();
    return ok;
}

}  // namespace parlune::base
