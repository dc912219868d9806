// One running Driver per user session: an exclusive lock on a file in the runtime folder,
// released by the kernel when the process ends however it ends.
#pragma once

#include <memory>
#include <string>

#include "messaging/clock.h"

namespace kv {

constexpr const char* kDriverLockName = "KELVARIN_DRIVER.lock";
constexpr int kSingleInstanceWaitMs = 1000;
// The exit status of a Driver that found another one running.
constexpr int kExitAnotherInstance = 254;

// $XDG_RUNTIME_DIR, or /tmp when it is unset or empty.
std::string LockFolder();

class SingleInstance {
public:
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // Holds the lock on path, retrying for up to waitMs; empty when another process keeps it
    // or the file cannot be opened at all.
    static std::unique_ptr<SingleInstance> Acquire(const std::string& path, int waitMs,
                                                   const Clock& clock);

private:
    explicit SingleInstance(int fd) : fd_(fd) {}
    int fd_;
};

}  // namespace kv
