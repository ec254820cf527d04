#include "app/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDeadlineTimer>
#include <QLocalSocket>
#include <QThread>
#include <cerrno>

namespace keltra {

namespace {

constexpr char kShowRequest[] = "show\n";
constexpr char kShownAnswer[] = "shown\n";

}  // namespace

CSingleInstance::CSingleInstance(QString folder) : folder_(std::move(folder)) {}

CSingleInstance::~CSingleInstance() {
    server_.close();
    if (lockFd_ >= 0) ::close(lockFd_);
}

QString CSingleInstance::DefaultFolder() {
    const QString folder = qEnvironmentVariable("KELTRA_INSTANCE_FOLDER");
    return folder.isEmpty() ? QStringLiteral("/tmp") : folder;
}

QString CSingleInstance::LockPath() const {
    return folder_ + '/' + QString::fromLatin1(kInstanceName) + QStringLiteral(".lock");
}

QString CSingleInstance::SocketPath() const {
    return folder_ + '/' + QString::fromLatin1(kInstanceName) + QStringLiteral(".socket");
}

bool CSingleInstance::TryBecomeFirst() {
    const QByteArray path = LockPath().toLocal8Bit();
    // Opened without O_CREAT first: in a sticky shared folder the kernel may refuse O_CREAT on
    // another user's file even though it exists and may be opened.
    int fd = ::open(path.constData(), O_RDWR | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT) {
        fd = ::open(path.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            ::fchmod(fd, 0666);  // every user's instance must be able to lock it
        } else if (errno == EEXIST) {
            fd = ::open(path.constData(), O_RDWR | O_CLOEXEC);
        }
    }
    // Without a lock file nobody can be told apart; a read-only one still shows a holder.
    if (fd < 0) fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return true;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    lockFd_ = fd;
    return true;
}

bool CSingleInstance::Listen(std::function<void()> showWindow) {
    showWindow_ = std::move(showWindow);
    // We hold the lock, so a socket left there belongs to an instance that is gone.
    QLocalServer::removeServer(SocketPath());
    server_.setSocketOptions(QLocalServer::WorldAccessOption);
    if (!server_.listen(SocketPath())) return false;
    QObject::connect(&server_, &QLocalServer::newConnection, &server_, [this] {
        while (QLocalSocket* client = server_.nextPendingConnection()) {
            QObject::connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
            QObject::connect(client, &QLocalSocket::readyRead, client, [this, client] {
                if (!client->canReadLine()) return;
                if (client->readLine() == kShowRequest && showWindow_) showWindow_();
                client->write(kShownAnswer);
                client->flush();
                client->disconnectFromServer();
            });
        }
    });
    return true;
}

bool CSingleInstance::AskFirstToShow(int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    // The first instance may hold the lock a moment before it listens.
    while (!deadline.hasExpired()) {
        QLocalSocket socket;
        socket.connectToServer(SocketPath());
        if (!socket.waitForConnected(static_cast<int>(qMax<qint64>(1, deadline.remainingTime())))) {
            QThread::msleep(50);
            continue;
        }
        socket.write(kShowRequest);
        if (!socket.waitForBytesWritten(
                static_cast<int>(qMax<qint64>(1, deadline.remainingTime())))) {
            return false;
        }
        while (!socket.canReadLine() && socket.waitForReadyRead(static_cast<int>(
                                            qMax<qint64>(1, deadline.remainingTime())))) {
        }
        return socket.canReadLine() && socket.readLine() == kShownAnswer;
    }
    return false;
}

}  // namespace keltra
