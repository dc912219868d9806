// The ways a running Driver is asked to stop besides "Stop driver": SIGTERM and SIGINT, and the
// end of the process --stop-with names. Each raises the same stop event, so the loop ends as
// it does for "Stop driver".
#pragma once

#include <memory>
#include <string>
#include <thread>

#include "protocol/records.h"

namespace kv {

// SIGTERM and SIGINT raise event. Call it before any other thread starts: the signals are
// blocked in every thread and taken by one of their own.
void StopOnSignals(SetValue& event);

// Raises the stop event when another process ends (--stop-with), so that a driver started by
// a script never outlives it, however the script ends. The process is held through a pidfd:
// once opened, a reuse of its id by a new process cannot confuse the watch.
class ProcessWatch {
public:
    // Null, with the reason in error, when pid names no running process.
    static std::unique_ptr<ProcessWatch> Open(int pid, std::string& error);

    ~ProcessWatch();
    ProcessWatch(const ProcessWatch&) = delete;
    ProcessWatch& operator=(const ProcessWatch&) = delete;

    // Starts the thread that waits for the end; it raises the stop event and finishes.
    void Start();

private:
    ProcessWatch(int pidfd, int wake) : pidfd_(pidfd), wake_(wake) {}

    int pidfd_;
    int wake_;
    std::thread thread_;
};

// Watches the process --stop-with names, when it names one (pid not 0); false (after saying
// why) when that process cannot be watched.
bool WatchStopWith(int pid, std::unique_ptr<ProcessWatch>& watch);

}  // namespace kv
