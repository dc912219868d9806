// The Controller's start of Driver.
#include "controller/platform/driver_launcher.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QFileInfo>
#include <QProcess>
#include <cerrno>

namespace kv::controller {

bool StartDetached(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    process.setWorkingDirectory(QFileInfo(program).absolutePath());
    // A background process with no console: it must not hold the Controller's output open.
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    return process.startDetached();
}

bool LockIsFree(const QString& path) {
    const QByteArray name = path.toLocal8Bit();
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return errno == ENOENT;
    }
    const bool free = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    // Closing lets go of the lock at once, so the new driver can take it.
    ::close(fd);
    return free;
}

bool WaitForLockFree(const QString& path, int timeoutMs, const Clock& clock) {
    const int64_t start = clock.NowMs();
    for (;;) {
        if (LockIsFree(path)) {
            return true;
        }
        if (clock.NowMs() - start >= timeoutMs) {
            return false;
        }
        clock.SleepMs(kLockPollMs);
    }
}

DriverLauncher::DriverLauncher(QString program, QStringList arguments, QString driverLockPath,
                               ProgramStarter starter, const Clock& clock)
    : program_(std::move(program)),
      arguments_(std::move(arguments)),
      lockPath_(std::move(driverLockPath)),
      starter_(std::move(starter)),
      clock_(clock) {}

DriverLauncher::~DriverLauncher() {
    std::lock_guard<std::mutex> lock(workersMutex_);
    for (std::thread& worker : workers_) {
        worker.join();
    }
}

void DriverLauncher::Start() {
    RunWorker([this] { StartNow(); });
}

void DriverLauncher::StartWhenOldEnded() {
    RunWorker([this] { RestartNow(); });
}

bool DriverLauncher::StartNow() const {
    const bool started = starter_(program_, arguments_);
    lastStartFailed_ = !started;
    return started;
}

bool DriverLauncher::RestartNow() const {
    // Past the wait the driver is started all the same: it tries its lock once more itself.
    WaitForLockFree(lockPath_, kDriverEndWaitMs, clock_);
    return StartNow();
}

void DriverLauncher::RunWorker(std::function<void()> work) {
    std::lock_guard<std::mutex> lock(workersMutex_);
    workers_.emplace_back(std::move(work));
}

}  // namespace kv::controller
