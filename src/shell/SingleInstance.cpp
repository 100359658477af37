#include "shell/SingleInstance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QLocalSocket>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

const QByteArray ComeForward = "show\n";

// Where a running copy listens: the same for every copy of one account's folder.
// The lock, not the name, tells whether a copy runs, so another account that
// takes the name first can keep a window from coming forward, never from starting.
QString serverName(const QString &appFolder)
{
    const QByteArray folder = QFile::encodeName(QDir(appFolder).canonicalPath());
    return QStringLiteral("tadpole-%1-%2").arg(getuid())
        .arg(QString::fromLatin1(QCryptographicHash::hash(folder, QCryptographicHash::Sha256).toHex().left(24)));
}

} // namespace

SingleInstance::SingleInstance(const QString &appFolder, QObject *parent) : QObject(parent)
{
    const QByteArray path = QFile::encodeName(appFolder + QStringLiteral("tadpole.lock"));
    // Not handed on to the programs the browser starts: they would hold the lock after it ends.
    m_lockFd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (m_lockFd < 0) {
        std::fprintf(stderr, "tadpole: %s: %s; a second copy of Tadpole would not be noticed\n", path.constData(), std::strerror(errno));
        return;
    }
    const QString name = serverName(appFolder);
    if (::flock(m_lockFd, LOCK_EX | LOCK_NB) == 0) {
        listen(name);
    } else if (errno == EWOULDBLOCK) {
        m_claimed = false;
        askToComeForward(name);
    }
}

SingleInstance::~SingleInstance()
{
    if (m_lockFd >= 0)
        ::close(m_lockFd);
}

void SingleInstance::listen(const QString &name)
{
    // A name in the abstract namespace leaves no file behind when a copy dies.
    m_server.setSocketOptions(QLocalServer::AbstractNamespaceOption);
    if (!m_server.listen(name))
        return; // the window will not come forward when asked; nothing else depends on it
    connect(&m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *socket = m_server.nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
                if (socket->bytesAvailable() < ComeForward.size())
                    return;
                if (socket->read(ComeForward.size()) == ComeForward)
                    emit comeForwardRequested();
                socket->abort();
                socket->deleteLater();
            });
        }
    });
}

void SingleInstance::askToComeForward(const QString &name)
{
    QLocalSocket socket;
    socket.setSocketOptions(QLocalSocket::AbstractNamespaceOption);
    socket.connectToServer(name, QLocalSocket::WriteOnly);
    if (socket.waitForConnected(1000)) {
        socket.write(ComeForward);
        socket.waitForBytesWritten(1000);
        socket.disconnectFromServer();
    }
}
