// The stop requests of a running Driver: signals, and the end of the process --stop-with names.
#include "driver/app/stop_requests.h"

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

namespace kv {

namespace {

// The stop event that SIGTERM and SIGINT raise, as "Stop driver" does: the loop then saves
// nothing extra, closes the board and exits 0.
SetValue* stopEvent = nullptr;

void RequestStop() {
    if (stopEvent != nullptr) {
        const auto sequence = static_cast<uint32_t>(stopEvent->header.sequence.Load());
        stopEvent->header.sequence = static_cast<int32_t>(sequence + 1u);
        stopEvent->header.eventValid = 1;
    }
}

}  // namespace

// The signals are blocked in every thread and taken by one thread that waits for them. A
// handler would run on whichever thread the kernel picks, and under a sanitizer's deferred
// delivery a signal that lands on a thread blocked in a read waits until that read returns:
// a SIGTERM sent just after start-up could then go unserved.
void StopOnSignals(SetValue& event) {
    stopEvent = &event;
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGTERM);
    sigaddset(&stops, SIGINT);
    // Threads started from here on inherit the mask; none runs before this.
    pthread_sigmask(SIG_BLOCK, &stops, nullptr);
    std::thread([stops] {
        for (;;) {
            int signal = 0;
            if (sigwait(&stops, &signal) == 0) {
                RequestStop();
            }
        }
    }).detach();
}

std::unique_ptr<ProcessWatch> ProcessWatch::Open(int pid, std::string& error) {
    const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    if (pidfd < 0) {
        error = "--stop-with: no running process '" + std::to_string(pid) + "' (" +
                std::strerror(errno) + ")";
        return nullptr;
    }
    const int wake = eventfd(0, EFD_CLOEXEC);
    if (wake < 0) {
        error = std::string("--stop-with: ") + std::strerror(errno);
        close(pidfd);
        return nullptr;
    }
    return std::unique_ptr<ProcessWatch>(new ProcessWatch(pidfd, wake));
}

ProcessWatch::~ProcessWatch() {
    if (thread_.joinable()) {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = write(wake_, &one, sizeof one);
        thread_.join();
    }
    close(wake_);
    close(pidfd_);
}

void ProcessWatch::Start() {
    thread_ = std::thread([this] {
        pollfd watched[2] = {{pidfd_, POLLIN, 0}, {wake_, POLLIN, 0}};
        for (;;) {
            if (poll(watched, 2, -1) < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return;
            }
            if (watched[1].revents != 0) {
                return;  // the driver is ending anyway
            }
            if (watched[0].revents != 0) {
                RequestStop();
                return;
            }
        }
    });
}

bool WatchStopWith(int pid, std::unique_ptr<ProcessWatch>& watch) {
    if (pid == 0) {
        return true;
    }
    std::string error;
    watch = ProcessWatch::Open(pid, error);
    if (!watch) {
        std::fprintf(stderr, "Driver: %s\n", error.c_str());
        return false;
    }
    return true;
}

}  // namespace kv
