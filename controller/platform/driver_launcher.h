// Starting Driver from the Controller's folder, detached and without a window, from a worker
// thread; on a restart only once the old driver has let go of its single-instance lock.
#pragma once

#include <QString>
#include <QStringList>
#include <atomic>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "common/clock.h"

namespace kv::controller {

// How long a restart waits for the old driver to end before it starts the new one anyway.
inline constexpr int kDriverEndWaitMs = 5000;
// How often the lock is looked at while waiting.
inline constexpr int kLockPollMs = 50;

// Starts program with arguments, detached; true when it was started.
using ProgramStarter = std::function<bool(const QString& program, const QStringList& arguments)>;
bool StartDetached(const QString& program, const QStringList& arguments);

// True when nobody holds the flock on path (a missing file is free).
bool LockIsFree(const QString& path);
// Looks at the lock every kLockPollMs on clock until it is free or timeoutMs have passed;
// true when it was seen free.
bool WaitForLockFree(const QString& path, int timeoutMs, const Clock& clock);

class DriverLauncher {
public:
    DriverLauncher(QString program, QStringList arguments, QString driverLockPath,
                   ProgramStarter starter = StartDetached, const Clock& clock = DefaultClock());
    ~DriverLauncher();  // waits for the worker threads
    DriverLauncher(const DriverLauncher&) = delete;
    DriverLauncher& operator=(const DriverLauncher&) = delete;

    // Starts the driver from a worker thread; nobody waits for it, the result is ignored
    // (a driver already running refuses to run twice).
    void Start();
    // After a stop request: a worker thread waits for the old driver to end, then starts the
    // new one, so the new one does not find the old one's lock and give up.
    void StartWhenOldEnded();

    // The workers' bodies, on the calling thread.
    bool StartNow() const;
    bool RestartNow() const;

    const QString& Program() const { return program_; }
    const QStringList& Arguments() const { return arguments_; }
    // Whether the last start the workers made failed (the program could not be run at all),
    // for telling the user why no driver answers.
    bool LastStartFailed() const { return lastStartFailed_; }

private:
    void RunWorker(std::function<void()> work);

    QString program_;
    QStringList arguments_;
    QString lockPath_;
    ProgramStarter starter_;
    const Clock& clock_;
    mutable std::atomic<bool> lastStartFailed_{false};
    std::mutex workersMutex_;
    std::vector<std::thread> workers_;
};

}  // namespace kv::controller
