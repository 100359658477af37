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
// that finds the lock held asks the running one to come to the front; one
// that does not answer may be ending, so its lock is waited for a while.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    enum class Start {
        Claimed,     // this copy runs; also where no lock can be made at all
        HandedOver,  // another copy runs and came to the front: this one ends
        NotAnswered, // another copy holds the folder and does not answer
    };

    explicit SingleInstance(const QString &appFolder, QObject *parent = nullptr);
    ~SingleInstance() override;

    Start start() const { return m_start; }

signals:
    // A later copy was started for this folder.
    void comeForwardRequested();

private:
    bool lock();
    void listen(const QString &name);
    void answer(class QLocalSocket *socket);
    static bool askToComeForward(const QString &name);

    int m_lockFd = -1;
    Start m_start = Start::Claimed;
    QLocalServer m_server;
};
