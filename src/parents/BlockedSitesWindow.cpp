#include "parents/BlockedSitesWindow.h"

#include "filter/FilterAddress.h"
#include "shell/PlainText.h"
#include "shell/ProgramState.h"
#include "shell/Services.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

BlockedSitesWindow::BlockedSitesWindow(const ParentsContext &context, QWidget *parent)
    : QDialog(parent), m_context(context), m_journal(context.state->appFolder + QStringLiteral("blocked.log")),
      m_list(new QTreeWidget(this)), m_allowButton(new QPushButton(QStringLiteral("&Allow"), this)),
      m_forgetButton(new QPushButton(QStringLiteral("&Forget"), this))
{
    setObjectName(QStringLiteral("BlockedSitesWindow"));
    setWindowTitle(QStringLiteral("Blocked sites"));
    resize(640, 400);
    m_list->setObjectName(QStringLiteral("blockedList"));
    m_list->setColumnCount(ColumnCount);
    m_list->setHeaderLabels({QStringLiteral("Site"), QStringLiteral("Attempts"), QStringLiteral("Children"), QStringLiteral("Last time")});
    m_list->setRootIsDecorated(false);
    m_list->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_list->header()->setSectionResizeMode(Site, QHeaderView::Stretch);
    m_list->header()->setStretchLastSection(false);
    m_allowButton->setObjectName(QStringLiteral("allowButton"));
    m_forgetButton->setObjectName(QStringLiteral("forgetButton"));
    auto *close = new QPushButton(QStringLiteral("&Close"), this);
    close->setObjectName(QStringLiteral("closeButton"));
    for (QPushButton *button : {m_allowButton, m_forgetButton, close})
        button->setAutoDefault(false);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_allowButton);
    buttons->addWidget(m_forgetButton);
    buttons->addStretch(1);
    buttons->addWidget(close);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("What the children tried to open, newest first. "
                                                "\"Allow\" adds a site to the allowed sites; \"Forget\" takes it off this list."), this));
    layout->addWidget(m_list, 1);
    layout->addLayout(buttons);

    // The row the parent chose, not the current one the list's focus picks by itself.
    connect(m_list, &QTreeWidget::itemSelectionChanged, this, &BlockedSitesWindow::showButtons);
    connect(m_allowButton, &QPushButton::clicked, this, &BlockedSitesWindow::allowSelected);
    connect(m_forgetButton, &QPushButton::clicked, this, &BlockedSitesWindow::forgetSelected);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    load();
}

void BlockedSitesWindow::load()
{
    m_hosts = BlockedJournal::byHost(m_journal.read());
    m_list->clear();
    for (const BlockedJournal::Host &host : std::as_const(m_hosts)) {
        auto *row = new QTreeWidgetItem(m_list);
        row->setText(Site, host.host);
        row->setToolTip(Site, plainToolTip(host.lastAddress));
        row->setText(Attempts, QString::number(host.count));
        row->setText(Children, host.children.join(QLatin1String(", ")));
        row->setText(LastTime, host.lastTime.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm")));
    }
    showButtons();
}

const BlockedJournal::Host *BlockedSitesWindow::selected() const
{
    const QList<QTreeWidgetItem *> chosen = m_list->selectedItems();
    const int row = chosen.isEmpty() ? -1 : m_list->indexOfTopLevelItem(chosen.first());
    return row >= 0 && row < m_hosts.size() ? &m_hosts.at(row) : nullptr;
}

void BlockedSitesWindow::showButtons()
{
    const BlockedJournal::Host *host = selected();
    // Asked as the filter asks: the user name and the fragment say nothing of where an address leads.
    m_allowButton->setEnabled(host && !FilterAddress::allows(m_context.state->allowList, QUrl(host->lastAddress),
                                                             m_context.state->allowScope));
    m_forgetButton->setEnabled(host);
}

void BlockedSitesWindow::allowSelected()
{
    if (const BlockedJournal::Host *host = selected(); host && m_context.allowBlocked)
        m_context.allowBlocked(host->lastAddress);
    showButtons();
}

void BlockedSitesWindow::forgetSelected()
{
    const BlockedJournal::Host *host = selected();
    QString error;
    if (host && !m_journal.forget(host->host, &error))
        m_context.dialogs->message(QStringLiteral("The blocked sites could not be saved: ") + error, Dialogs::ApplicationTitle);
    load();
}
