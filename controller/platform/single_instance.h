// One Controller per user session: an exclusive lock in the runtime folder, and a local
// socket beside it through which a second Controller asks the first to come to the front.
#pragma once

#include <QObject>
#include <QString>

class QLocalServer;

namespace kv::controller {

inline constexpr const char* kControllerLockName = "KELVARIN_CONTROLLER.lock";
inline constexpr const char* kDriverLockName = "KELVARIN_DRIVER.lock";

// $XDG_RUNTIME_DIR, or the user's own /tmp/kelvarin-vyren-UID when it is unset or empty;
// empty, with the reason in error, when that folder is not safely ours.
QString LockFolder(QString* error = nullptr);

// The local socket a running Controller listens on, derived from its lock file.
QString ActivationSocketFor(const QString& lockPath);

class SingleInstance final : public QObject {
    Q_OBJECT
public:
    explicit SingleInstance(QString lockPath, QObject* parent = nullptr);
    ~SingleInstance() override;

    // Takes the lock without waiting; true when this process is the only Controller. The
    // owner then listens for activation requests.
    bool Acquire();
    // Asks the Controller that holds the lock to come to the front; true once it was told.
    bool AskRunningToActivate() const;

signals:
    // Another Controller was started and asked this one to show itself.
    void ActivationRequested();

private:
    QString lockPath_;
    int fd_ = -1;
    QLocalServer* server_ = nullptr;
};

}  // namespace kv::controller
