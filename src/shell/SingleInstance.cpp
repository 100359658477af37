#include "shell/SingleInstance.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLocalSocket>
#include <QThread>
#include <QTimer>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const QByteArray ComeForward = "show\n";
const QByteArray CameForward = "ok\n";
// How long a copy that does not answer is given to end and let go of the folder.
constexpr int EndingWaitMs = 5000;

// Where a running copy listens: the same for every copy of one account's folder.
// The lock, not the name, tells whether a copy runs.
QString serverName(const QString &appFolder)
{
    const QByteArray folder = QFile::encodeName(QDir(appFolder).canonicalPath());
    return QStringLiteral("tadpole-%1-%2").arg(getuid())
        .arg(QString::fromLatin1(QCryptographicHash::hash(folder, QCryptographicHash::Sha256).toHex().left(24)));
}

// The lock file, or whatever stands in its place that can be opened: a lock
// holds on a file opened only for reading, and on a folder, as well. Never
// handed on to the programs the browser starts (they would hold the lock after
// it ends), and never waited on (a device or a pipe in its place).
int openLockFile(const QString &appFolder)
{
    const QByteArray path = QFile::encodeName(appFolder + QStringLiteral("tadpole.lock"));
    int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0600);
    if (fd < 0)
        fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        std::fprintf(stderr, "tadpole: %s: %s; a second copy of Tadpole would not be noticed\n", path.constData(),
                     std::strerror(errno));
    return fd;
}

// Any account may reach a name in the abstract namespace, or take it first:
// only this account's copies are heard, at either end.
bool peerIsThisAccount(const QLocalSocket &socket)
{
    ucred peer{};
    socklen_t size = sizeof peer;
    return ::getsockopt(int(socket.socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 && peer.uid == getuid();
}

} // namespace

SingleInstance::SingleInstance(const QString &appFolder, QObject *parent) : QObject(parent)
{
    m_lockFd = openLockFile(appFolder);
    if (m_lockFd < 0)
        return;
    const QString name = serverName(appFolder);
    if (lock()) {
        listen(name);
        return;
    }
    if (errno != EWOULDBLOCK)
        return; // a file system without locks: no guard
    if (askToComeForward(name)) {
        m_start = Start::HandedOver;
        return;
    }
    for (const QDeadlineTimer ending(EndingWaitMs); !ending.hasExpired(); QThread::msleep(100)) {
        if (lock()) {
            listen(name);
            return;
        }
    }
    m_start = Start::NotAnswered;
}

SingleInstance::~SingleInstance()
{
    if (m_lockFd >= 0)
        ::close(m_lockFd);
}

bool SingleInstance::lock()
{
    return ::flock(m_lockFd, LOCK_EX | LOCK_NB) == 0;
}

void SingleInstance::listen(const QString &name)
{
    // A name in the abstract namespace leaves no file behind when a copy dies.
    m_server.setSocketOptions(QLocalServer::AbstractNamespaceOption);
    if (!m_server.listen(name))
        return; // the window will not come forward when asked; nothing else depends on it
    connect(&m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *socket = m_server.nextPendingConnection())
            answer(socket);
    });
}

void SingleInstance::answer(QLocalSocket *socket)
{
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    if (!peerIsThisAccount(*socket)) {
        socket->abort();
        return;
    }
    QTimer::singleShot(2000, socket, &QLocalSocket::abort); // none is waited on for long
    connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
        if (socket->bytesAvailable() < ComeForward.size())
            return;
        if (socket->read(ComeForward.size()) == ComeForward) {
            emit comeForwardRequested();
            socket->write(CameForward);
        }
        socket->disconnectFromServer();
    });
}

bool SingleInstance::askToComeForward(const QString &name)
{
    QLocalSocket socket;
    socket.setSocketOptions(QLocalSocket::AbstractNamespaceOption);
    socket.connectToServer(name);
    if (!socket.waitForConnected(1000) || !peerIsThisAccount(socket) || socket.write(ComeForward) != ComeForward.size())
        return false;
    QByteArray answer;
    for (const QDeadlineTimer wait(1000); answer.size() < CameForward.size() && !wait.hasExpired();) {
        if (socket.waitForReadyRead(int(wait.remainingTime())))
            answer += socket.readAll();
        else if (socket.state() != QLocalSocket::ConnectedState)
            break;
    }
    return answer.startsWith(CameForward);
}
