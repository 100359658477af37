#pragma once

#include <QLocalServer>
#include <QObject>
#include <QString>

// One running copy of the browser per program folder. Two copies would each
// write the folder's files from what they hold (the unblocked sites, the
// settings, the day's time used), so one copy's changes would be lost to the
// other's, and two locked windows would fight each other for the screen.
//
// The first copy holds a lock on a file in the folder for as long as it runs
// (the system lets go of it when the process ends, however it ends). A copy
// that finds the lock held asks the running one to come to the front and is
// not claimed; it should end at once.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    explicit SingleInstance(const QString &appFolder, QObject *parent = nullptr);
    ~SingleInstance() override;

    // False when another copy runs for this folder. A folder whose lock cannot
    // be made (read-only, say) claims: the browser starts without the guard.
    bool claimed() const { return m_claimed; }

signals:
    // A later copy was started for this folder.
    void comeForwardRequested();

private:
    void listen(const QString &name);
    static void askToComeForward(const QString &name);

    int m_lockFd = -1;
    bool m_claimed = true;
    QLocalServer m_server;
};
