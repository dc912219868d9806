// flock-based single-instance guard of the Controller with its activation socket.
#include "controller/platform/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QLocalServer>
#include <QLocalSocket>

#include "common/file_locations.h"

namespace kv::controller {

namespace {

constexpr int kActivationWaitMs = 1000;
constexpr char kActivateMessage[] = "activate\n";

}  // namespace

QString LockFolder(QString* error) {
    std::string why;
    const std::string folder = RuntimeFolder(&why);
    if (error != nullptr) {
        *error = QString::fromStdString(why);
    }
    return QString::fromStdString(folder);
}

QString ActivationSocketFor(const QString& lockPath) {
    // A path of its own beside the lock, so test runs with their own runtime folder never meet.
    return lockPath + QStringLiteral(".socket");
}

SingleInstance::SingleInstance(QString lockPath, QObject* parent)
    : QObject(parent), lockPath_(std::move(lockPath)) {}

SingleInstance::~SingleInstance() {
    if (server_ != nullptr) {
        server_->close();
    }
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

bool SingleInstance::Acquire() {
    const QByteArray path = lockPath_.toLocal8Bit();
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        return false;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    fd_ = fd;
    // Holding the lock, any socket file left there belongs to a Controller that has ended.
    const QString socketPath = ActivationSocketFor(lockPath_);
    QLocalServer::removeServer(socketPath);
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    connect(server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* client = server_->nextPendingConnection()) {
            connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
            connect(client, &QLocalSocket::readyRead, this, [this, client] {
                if (client->readAll().startsWith("activate")) {
                    emit ActivationRequested();
                }
            });
        }
    });
    // Without the socket this Controller still runs; a second one then just ends.
    server_->listen(socketPath);
    return true;
}

bool SingleInstance::AskRunningToActivate() const {
    QLocalSocket socket;
    socket.connectToServer(ActivationSocketFor(lockPath_));
    if (!socket.waitForConnected(kActivationWaitMs)) {
        return false;
    }
    socket.write(kActivateMessage);
    const bool written = socket.waitForBytesWritten(kActivationWaitMs);
    socket.disconnectFromServer();
    return written;
}

}  // namespace kv::controller
