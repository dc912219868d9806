// flock-based single-instance guard.
#include "driver/runtime/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace kv {

namespace {

constexpr int kRetryMs = 50;

int OpenLockFile(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        // A lock file left by someone else in a shared folder can still be locked for reading.
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    }
    return fd;
}

}  // namespace

std::string LockFolder() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && runtime[0] != '\0') {
        return runtime;
    }
    return "/tmp";
}

SingleInstance::~SingleInstance() {
    ::close(fd_);
}

std::unique_ptr<SingleInstance> SingleInstance::Acquire(const std::string& path, int waitMs,
                                                        const Clock& clock) {
    const int64_t start = clock.NowMs();
    int fd = -1;
    for (;;) {
        if (fd < 0) {
            fd = OpenLockFile(path);
        }
        if (fd >= 0) {
            if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
                return std::unique_ptr<SingleInstance>(new SingleInstance(fd));
            }
            if (errno != EWOULDBLOCK && errno != EINTR) {
                break;
            }
        }
        if (clock.NowMs() - start >= waitMs) {
            break;
        }
        clock.SleepMs(kRetryMs);
    }
    if (fd >= 0) {
        ::close(fd);
    }
    return nullptr;
}

}  // namespace kv
