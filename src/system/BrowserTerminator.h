#pragma once

#include "system/ProcessList.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <chrono>

#include <sys/types.h>

// What the `terminate` program does: ends the user's other web browsers.
// Core-only, so the small program compiles it in directly.
class BrowserTerminator {
public:
    // `user` is whose processes may be ended; `selfPid` and `parentPid` are
    // never touched, whatever they are called.
    BrowserTerminator(const QString &procRoot, const QStringList &browserNames,
                      uid_t user, qint64 selfPid, qint64 parentPid);

    // Processes of the user whose executable base name equals one of the
    // browser names (whole name, case ignored), ascending pid.
    QList<ProcessEntry> findTargets() const;

    // SIGTERM to every target, then SIGKILL to those still alive after
    // `grace`. Returns as soon as all have ended. Returns how many were
    // signalled.
    int endAll(std::chrono::milliseconds grace) const;

private:
    bool isTarget(const ProcessEntry &entry) const;
    bool isTarget(qint64 pid) const;
    bool realUidOf(qint64 pid, uid_t *uid) const;

    ProcessList m_processes;
    QStringList m_names;
    uid_t m_user;
    qint64 m_selfPid;
    qint64 m_parentPid;
};
