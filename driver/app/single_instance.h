// One running Driver per user session: an exclusive lock on a file in the runtime folder,
// released by the kernel when the process ends however it ends.
#pragma once

#include <memory>
#include <string>

#include "common/clock.h"

namespace kv {

constexpr const char* kDriverLockName = "KELVARIN_DRIVER.lock";
constexpr int kSingleInstanceWaitMs = 1000;
// The exit status of a Driver that found another one running.
constexpr int kExitAnotherInstance = 254;
// The exit status of a Driver that could not use the lock file at all (no such folder, no
// access): a fault to mend, not another driver.
constexpr int kExitNoLock = 1;

// $XDG_RUNTIME_DIR, or the user's own /tmp/kelvarin-vyren-UID when it is unset or empty;
// empty, with the reason in error, when that folder is not safely ours.
std::string LockFolder(std::string* error = nullptr);

class SingleInstance {
public:
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // Holds the lock on path, retrying for up to waitMs; empty when another process keeps it
    // or the file cannot be opened or locked at all. In the second case, at once and with the
    // reason in error: that is no other driver, and must not be reported as one.
    static std::unique_ptr<SingleInstance> Acquire(const std::string& path, int waitMs,
                                                   const Clock& clock,
                                                   std::string* error = nullptr);

private:
    explicit SingleInstance(int fd) : fd_(fd) {}
    int fd_;
};

}  // namespace kv
