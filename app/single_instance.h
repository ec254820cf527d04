// One running program per machine. The first instance holds a lock on a file in a folder every
// user shares and listens on a local socket beside it; a later start asks it, through that
// socket, to bring its window forward and then ends.
#pragma once

#include <QLocalServer>
#include <QString>
#include <functional>

namespace keltra {

// The name the lock file and the socket are named after.
inline constexpr const char* kInstanceName = "Keltra_Photo_Recovery_2015_For_Windows";

class CSingleInstance {
  public:
    // `folder` holds the lock file and the socket: $KELTRA_INSTANCE_FOLDER when set, else /tmp.
    explicit CSingleInstance(QString folder = DefaultFolder());
    ~CSingleInstance();
    CSingleInstance(const CSingleInstance&) = delete;
    CSingleInstance& operator=(const CSingleInstance&) = delete;

    static QString DefaultFolder();

    // Takes the machine-wide lock. False when another instance holds it. The lock is held
    // until this object (normally: the process) ends.
    bool TryBecomeFirst();

    // First instance: `showWindow` runs each time a later start asks for the window.
    bool Listen(std::function<void()> showWindow);

    // Later start: asks the first instance to show its window and waits for its answer.
    // False when it cannot be reached within `timeoutMs`.
    bool AskFirstToShow(int timeoutMs = 3000);

  private:
    QString LockPath() const;
    QString SocketPath() const;

    QString folder_;
    int lockFd_ = -1;
    QLocalServer server_;
    std::function<void()> showWindow_;
};

}  // namespace keltra
