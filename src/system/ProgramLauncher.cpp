#include "system/ProgramLauncher.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>

extern char **environ;

ProgramLauncher::~ProgramLauncher() = default;

namespace {

bool fail(QString *error, const QString &message)
{
    if (error)
        *error = message;
    return false;
}

} // namespace

bool DetachedLauncher::start(const QString &program, QString *error)
{
    const QFileInfo info(program);
    const QString shown = QDir::toNativeSeparators(program);
    if (program.isEmpty() || !info.exists())
        return fail(error, QCoreApplication::translate("DetachedLauncher",
                                                      "The program %1 was not found.").arg(shown));
    if (!info.isFile() || !info.isExecutable())
        return fail(error, QCoreApplication::translate("DetachedLauncher",
                                                      "The program %1 cannot be run.").arg(shown));

    // posix_spawn rather than fork: the browser maps a large web engine, and
    // copying its page tables made every face selection some 30 ms slower.
    const QByteArray path = QFile::encodeName(info.absoluteFilePath());
    const QByteArray folder = QFile::encodeName(info.absolutePath());
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // The child should not read our terminal; it writes nothing we read back.
    for (int fd : {0, 1, 2})
        posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY, 0);
    posix_spawn_file_actions_addchdir_np(&actions, folder.constData());
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    pid_t pid = 0;
    char *argv[] = {const_cast<char *>(path.constData()), nullptr};
    const int result = posix_spawn(&pid, path.constData(), &actions, &attributes, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (result != 0) {
        return fail(error, QCoreApplication::translate("DetachedLauncher", "The program %1 could not be started: %2")
                               .arg(shown, QString::fromLocal8Bit(std::strerror(result))));
    }
    // Reaped in the background so it leaves no zombie; nothing waits for it.
    std::thread([pid] {
        while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
    }).detach();
    if (error)
        error->clear();
    return true;
}
