// flock-based single-instance guard.
#include "driver/app/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "common/file_locations.h"

namespace kv {

namespace {

constexpr int kRetryMs = 50;

int OpenLockFile(const std::string& path) {
    // Readable by all: in the shared /tmp (no runtime folder) another user's driver must still
    // be able to open the file and find it locked, rather than fail to open it.
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        // A lock file left by someone else in a shared folder can still be locked for reading.
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    }
    return fd;
}

}  // namespace

std::string LockFolder(std::string* error) {
    return RuntimeFolder(error);
}

SingleInstance::~SingleInstance() {
    ::close(fd_);
}

std::unique_ptr<SingleInstance> SingleInstance::Acquire(const std::string& path, int waitMs,
                                                        const Clock& clock, std::string* error) {
    const auto fail = [&](const char* what) {
        if (error != nullptr) {
            *error = std::string(what) + " the single-instance lock " + path + ": " +
                     std::strerror(errno);
        }
    };
    const int64_t start = clock.NowMs();
    const int fd = OpenLockFile(path);
    if (fd < 0) {
        fail("cannot open");
        return nullptr;
    }
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            return std::unique_ptr<SingleInstance>(new SingleInstance(fd));
        }
        if (errno != EWOULDBLOCK && errno != EINTR) {
            fail("cannot take");
            break;
        }
        if (clock.NowMs() - start >= waitMs) {
            break;
        }
        clock.SleepMs(kRetryMs);
    }
    ::close(fd);
    return nullptr;
}

}  // namespace kv
