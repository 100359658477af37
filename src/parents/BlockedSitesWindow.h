#pragma once

#include "filter/BlockedJournal.h"
#include "parents/ParentsContext.h"

#include <QDialog>

class QPushButton;
class QTreeWidget;

// What the children tried to open and the filter blocked, read from
// blocked.log: one row a host, newest first, with the attempts, the children
// and the last time. "Allow" lets the host in as an unblock does; "Forget"
// takes its lines out of the journal.
class BlockedSitesWindow : public QDialog {
    Q_OBJECT
public:
    enum Column { Site, Attempts, Children, LastTime, ColumnCount };

    explicit BlockedSitesWindow(const ParentsContext &context, QWidget *parent = nullptr);

private:
    void load();
    void showButtons();
    void allowSelected();
    void forgetSelected();
    const BlockedJournal::Host *selected() const;

    ParentsContext m_context;
    BlockedJournal m_journal;
    QList<BlockedJournal::Host> m_hosts;
    QTreeWidget *m_list;
    QPushButton *m_allowButton;
    QPushButton *m_forgetButton;
};
