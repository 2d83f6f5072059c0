#include "app/Just1_32.h"

#include <QByteArray>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QWidget>

#include <unistd.h>

namespace kova::app {
namespace {

constexpr char kActivateMessage[] = "activate\n";

} // namespace

TPreviousInstance::TPreviousInstance(const QString& programFileName, const QString& lockFolder)
    // Per user: two users on one machine each run their own program.
    : serverName_(programFileName + QLatin1Char('-') + QString::number(getuid())) {
    QString folder = lockFolder;
    if (folder.isEmpty()) folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty()) folder = QDir::tempPath();
    lock_ = std::make_unique<QLockFile>(QDir(folder).filePath(serverName_ + QStringLiteral(".lock")));
    // A lock left by a program that died is taken over (QLockFile checks its process).
    lock_->setStaleLockTime(0);
    if (lock_->tryLock(0)) return;
    // When the lock cannot be made at all (no writable folder) the program runs as the only one.
    anotherRuns_ = lock_->error() == QLockFile::LockFailedError;
    lock_.reset();
}

TPreviousInstance::~TPreviousInstance() {
    if (server_) server_->close();
}

bool TPreviousInstance::ActivateFirst(int timeoutMs) const {
    QLocalSocket socket;
    socket.connectToServer(serverName_);
    if (!socket.waitForConnected(timeoutMs)) return false;
    socket.write(kActivateMessage);
    const bool written = socket.waitForBytesWritten(timeoutMs);
    socket.disconnectFromServer();
    return written;
}

void TPreviousInstance::ListenForLaterStarts(std::function<void()> activate) {
    if (!lock_) return;
    activate_ = std::move(activate);
    server_ = std::make_unique<QLocalServer>();
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    // We hold the lock, so a socket of this name is a leftover of a program that died.
    QLocalServer::removeServer(serverName_);
    if (!server_->listen(serverName_)) {
        server_.reset();
        return;
    }
    QObject::connect(server_.get(), &QLocalServer::newConnection, server_.get(), [this] {
        while (QLocalSocket* socket = server_->nextPendingConnection()) {
            QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            QObject::connect(socket, &QLocalSocket::readyRead, socket, [this, socket] {
                if (socket->readAll().contains("activate") && activate_) activate_();
            });
        }
    });
}

void BringToFront(QWidget& window) {
    if (window.isMinimized()) {
        window.setWindowState((window.windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
        window.showNormal();
    }
    window.raise();
    window.activateWindow();
}

} // namespace kova::app
