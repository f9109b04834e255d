// The Linux face's single instance. The lock is an flock on a file in the runtime folder,
// so a killed instance's lock goes with its process; the socket file such an instance
// leaves behind is removed by whoever takes the lock next, before it listens.
#include "ui/linux/single_instance_linux.h"

#include <QApplication>
#include <QLocalServer>
#include <QLocalSocket>
#include <QWidget>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "ui/linux/control_window.h"
#include "ui/linux/stimulation_window.h"

namespace {

constexpr const char* kRequest = "forward\n";
constexpr const char* kAnswer = "ok\n";
constexpr int kAnswerWaitMs = 5000;

int gLock = -1;
QLocalServer* gServer = nullptr;
std::string gLockPath;
std::string gSocketPath;

// The display this process reached, as a file-name part: the X display without its
// screen number (":0.0" and ":0" are one display), the Wayland socket, or else the
// platform's own name.
std::string displayKey()
{
    const QString platform = QGuiApplication::platformName();
    std::string key;
    if (platform == QLatin1String("xcb")) {
        const char* d = std::getenv("DISPLAY");
        key = std::string("x") + (d != nullptr ? d : ":0");
        const size_t colon = key.rfind(':');
        const size_t dot = key.rfind('.');
        if (colon != std::string::npos && dot != std::string::npos && dot > colon)
            key.erase(dot);
    } else if (platform.startsWith(QLatin1String("wayland"))) {
        const char* w = std::getenv("WAYLAND_DISPLAY");
        key = std::string("wl-") + (w != nullptr && *w != '\0' ? w : "wayland-0");
    } else {
        key = platform.toStdString();
    }
    for (char& c : key)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
              c == '-' || c == '.'))
            c = '_';
    return key;
}

// $XDG_RUNTIME_DIR, or else a folder of the user's own under /tmp that nobody else can
// have made or entered.
bool runtimeFolder(std::string* folder, std::string* why)
{
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && runtime[0] == '/') {
        *folder = runtime;
        return true;
    }
    *folder = "/tmp/zarvelin-" + std::to_string(getuid());
    if (mkdir(folder->c_str(), 0700) != 0 && errno != EEXIST) {
        *why = "cannot make " + *folder + ": " + std::strerror(errno);
        return false;
    }
    struct stat st {};
    if (lstat(folder->c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != getuid() ||
        (st.st_mode & 077) != 0) {
        *why = *folder + " is not a folder of this user's alone (mode 700); remove it or set "
               "XDG_RUNTIME_DIR";
        return false;
    }
    return true;
}

// The front of this instance: the stimulation window while it covers the screen (it
// holds the focus, and a key ends the session), else the control window, restored if
// minimised. The control window is never raised over a running session.
void bringForward()
{
    QWidget* stimulation = stimulationWindow();
    QWidget* front = stimulation != nullptr && stimulation->isVisible() ? stimulation : controlWindow();
    if (front == nullptr)
        return;
    if (front->isMinimized())
        front->setWindowState(front->windowState() & ~Qt::WindowMinimized);
    front->show();
    front->raise();
    front->activateWindow();
}

void answer(QLocalSocket* caller)
{
    if (!caller->canReadLine())
        return;
    if (caller->readLine() == kRequest) {
        bringForward();
        caller->write(kAnswer);
        caller->flush();
    }
    caller->disconnectFromServer();
}

void listen()
{
    gServer = new QLocalServer(qApp);
    gServer->setSocketOptions(QLocalServer::UserAccessOption);
    // A socket file left by a killed instance would refuse the listen.
    QLocalServer::removeServer(QString::fromStdString(gSocketPath));
    if (!gServer->listen(QString::fromStdString(gSocketPath))) {
        std::fprintf(stderr, "zarvelin: a second start cannot reach this one (%s: %s)\n",
                     gSocketPath.c_str(), gServer->errorString().toLocal8Bit().constData());
        return;
    }
    QObject::connect(gServer, &QLocalServer::newConnection, [] {
        while (QLocalSocket* caller = gServer->nextPendingConnection()) {
            QObject::connect(caller, &QLocalSocket::disconnected, caller, &QObject::deleteLater);
            QObject::connect(caller, &QLocalSocket::readyRead, caller, [caller] { answer(caller); });
            answer(caller);
        }
    });
}

bool becomeFirst()
{
    if (flock(gLock, LOCK_EX | LOCK_NB) != 0)
        return false;
    listen();
    return true;
}

bool handOver()
{
    QLocalSocket first;
    first.connectToServer(QString::fromStdString(gSocketPath));
    if (!first.waitForConnected(kAnswerWaitMs))
        return false; // starting (not listening yet), or ending
    first.write(kRequest);
    if (!first.waitForBytesWritten(kAnswerWaitMs))
        return false;
    while (!first.canReadLine())
        if (!first.waitForReadyRead(kAnswerWaitMs))
            return false;
    return first.readLine() == kAnswer;
}

} // namespace

InstanceClaim claimSingleInstance(std::string* why)
{
    std::string folder;
    if (!runtimeFolder(&folder, why))
        return InstanceClaim::NoAnswer;
    const std::string base = folder + "/zarvelin-" + std::to_string(getuid()) + "-" + displayKey();
    gLockPath = base + ".lock";
    gSocketPath = base + ".socket";
    gLock = open(gLockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (gLock < 0) {
        *why = "cannot open " + gLockPath + ": " + std::strerror(errno);
        return InstanceClaim::NoAnswer;
    }
    const InstanceClaim claim = claimInstance(becomeFirst, handOver);
    if (claim == InstanceClaim::NoAnswer)
        *why = "another Zarvelin holds this display (" + gLockPath + ") but does not answer";
    return claim;
}

void releaseSingleInstance()
{
    if (gServer != nullptr)
        gServer->close(); // removes the socket file
    if (gLock >= 0)
        close(gLock);     // and with it the lock
    gLock = -1;
}
