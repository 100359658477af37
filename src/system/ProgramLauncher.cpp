#include "system/ProgramLauncher.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>

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

    QProcess process;
    process.setProgram(info.absoluteFilePath());
    process.setWorkingDirectory(info.absolutePath());
    // The child should not read our terminal; it writes nothing we read back.
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    if (!process.startDetached()) {
        const QString reason = process.errorString();
        return fail(error, QCoreApplication::translate("DetachedLauncher",
                                                      "The program %1 could not be started: %2")
                               .arg(shown, reason));
    }
    if (error)
        error->clear();
    return true;
}
