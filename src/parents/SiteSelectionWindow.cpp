#include "parents/SiteSelectionWindow.h"

#include "parents/BlockedSitesWindow.h"

#include "browserview/BrowserView.h"
#include "parents/SiteList.h"
#include "shell/Services.h"
#include "shell/PlainText.h"
#include "shell/ProgramState.h"

#include <QApplication>
#include <QFileInfo>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPushButton>
#include <QRegularExpression>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <functional>

// A face picture that reports which mouse button went down on it.
class FaceImage : public QLabel {
public:
    using QLabel::QLabel;
    std::function<void(Qt::MouseButton)> pressed;

protected:
    void mousePressEvent(QMouseEvent *event) override
    {
        if (pressed)
            pressed(event->button());
    }
};

namespace {

const QString Title = QStringLiteral("Tadpole");
constexpr int TwipsPerPixel = 15;

struct ColumnLayout {
    const char *key;
    const char *caption;
    int twips;
};
constexpr ColumnLayout Columns[SiteSelectionWindow::ColumnCount] = {
    {"SiteName", "Site Name", 6000}, {"Ages", "Ages", 1000}, {"Comments", "Comments", 1}, {"ID", "ID", 1},
    {"Logo", "Logo", 1},             {"URL", "URL", 1},      {"Type", "Type", 1},
};

bool isUnnamed(const QString &name)
{
    return name.left(5).toUpper() == QLatin1String("CHILD");
}

} // namespace

SiteSelectionWindow::SiteSelectionWindow(const ParentsContext &context, QWidget *parent)
    : QDialog(parent), m_context(context), m_state(*context.state),
      m_portal(*context.transport, context.state->portalBase, context.state->userId)
{
    setObjectName(QStringLiteral("SiteSelectionWindow"));
    setWindowTitle(QStringLiteral("Site Selection"));

    auto *menuBar = new QMenuBar(this);
    QMenu *optionsMenu = menuBar->addMenu(QStringLiteral("Options"));
    optionsMenu->setObjectName(QStringLiteral("optionsMenu"));
    m_preferencesAction = optionsMenu->addAction(QStringLiteral("Safety Preferences"));
    m_preferencesAction->setObjectName(QStringLiteral("preferencesAction"));

    auto *faces = new QHBoxLayout;
    for (int i = 0; i < 4; ++i) {
        m_faceFrames[i] = new QFrame(this);
        m_faceFrames[i]->setObjectName(QStringLiteral("faceFrame%1").arg(i));
        m_faceFrames[i]->setFrameStyle(QFrame::Box | QFrame::Plain);
        auto *inFrame = new QVBoxLayout(m_faceFrames[i]);
        inFrame->setContentsMargins(6, 6, 6, 6);
        m_faceImages[i] = new FaceImage(m_faceFrames[i]);
        m_faceImages[i]->setObjectName(QStringLiteral("faceImage%1").arg(i));
        m_faceImages[i]->setPixmap(QIcon(QStringLiteral(":/images/face%1.svg").arg(i + 1)).pixmap(64, 64));
        m_faceImages[i]->setAlignment(Qt::AlignCenter);
        m_faceImages[i]->pressed = [this, i](Qt::MouseButton button) { onFacePressed(i, button); };
        inFrame->addWidget(m_faceImages[i]);
        faces->addWidget(m_faceFrames[i]);
    }
    faces->addStretch();

    auto *hint = new QLabel(QStringLiteral("Click on a Smiley Face to add or remove sites on each child's page."), this);

    auto *available = new QGroupBox(QStringLiteral("Available Sites"), this);
    m_siteList = new QTreeWidget(available);
    m_siteList->setObjectName(QStringLiteral("siteList"));
    auto *inGroup = new QVBoxLayout(available);
    inGroup->addWidget(m_siteList);

    m_logoView = m_context.views->create(this);
    m_logoView->widget()->setObjectName(QStringLiteral("logoView"));
    m_logoView->widget()->setFixedSize(160, 110);
    m_description = new QLabel(this);
    m_description->setTextFormat(Qt::PlainText); // the portal's comments, as typed
    m_description->setObjectName(QStringLiteral("description"));
    m_description->setTextFormat(Qt::PlainText); // descriptions come from the portal
    m_description->setWordWrap(true);
    m_description->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    m_description->setFixedWidth(160);

    auto button = [this](const char *name, const QString &caption) {
        auto *b = new QPushButton(caption, this);
        b->setObjectName(QLatin1String(name));
        b->setAutoDefault(false); // Enter in the list must not open or close anything
        return b;
    };
    m_previewButton = button("previewButton", QStringLiteral("&Preview this Site"));
    m_saveButton = button("saveButton", QStringLiteral("&Save Selections"));
    m_addSiteButton = button("addSiteButton", QStringLiteral("&Add a New Site..."));
    m_editButton = button("editButton", QStringLiteral("&Edit/Remove"));
    QPushButton *blockedButton = button("blockedSitesButton", QStringLiteral("&Blocked Sites..."));

    auto *side = new QVBoxLayout;
    side->addWidget(m_logoView->widget());
    side->addWidget(m_description, 1);
    side->addWidget(m_previewButton);
    side->addWidget(m_editButton);
    side->addWidget(m_addSiteButton);
    side->addWidget(blockedButton);
    side->addSpacing(12);
    side->addWidget(m_saveButton);
    auto *middle = new QHBoxLayout;
    middle->addWidget(available, 1);
    middle->addLayout(side);
    auto *layout = new QVBoxLayout(this);
    layout->setMenuBar(menuBar);
    layout->addLayout(faces);
    layout->addWidget(hint);
    layout->addLayout(middle, 1);

    connect(m_siteList, &QTreeWidget::currentItemChanged, this,
            &SiteSelectionWindow::showSiteDetails);
    connect(m_siteList, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem *item, int column) {
        // itemChanged also fires for other data; only a tick that differs from
        // what the portal holds is the parent's own.
        if (m_loading || column != SiteName)
            return;
        const bool ticked = item->checkState(SiteName) == Qt::Checked;
        if (item->data(SiteName, SentStateRole).toBool() == ticked)
            return;
        item->setData(SiteName, SentStateRole, ticked);
        onSiteTicked(item);
    });
    connect(m_previewButton, &QPushButton::clicked, this, &SiteSelectionWindow::previewSite);
    connect(m_saveButton, &QPushButton::clicked, this, &SiteSelectionWindow::saveSelections);
    connect(m_addSiteButton, &QPushButton::clicked, this, &SiteSelectionWindow::addSite);
    connect(m_editButton, &QPushButton::clicked, this, &SiteSelectionWindow::editSite);
    connect(blockedButton, &QPushButton::clicked, this, [this] { BlockedSitesWindow(m_context, this).exec(); });
    connect(m_preferencesAction, &QAction::triggered, this, &SiteSelectionWindow::openPreferences);

    // Names still "Child N" may be what start-up was left with when the
    // portal did not give them: a click on such a face asks for a real name,
    // and must not offer the default over one the portal holds.
    if (std::any_of(m_state.faceNames.cbegin(), m_state.faceNames.cend(), isUnnamed))
        readFaceNames();
    showCurrentChild();
}

void SiteSelectionWindow::readFaceNames()
{
    const std::optional<QString> names = m_portal.faceNames();
    if (!names)
        return;
    m_state.faceNames = PortalClient::faceNamesFrom(names);
    for (int i = 0; i < 4 && m_context.main; ++i)
        m_context.main->setFaceToolTip(i, m_state.faceNames.at(i) + QStringLiteral("'s Menu"));
}

void SiteSelectionWindow::showCurrentChild()
{
    setUpSiteList();
    for (int i = 0; i < 4; ++i) {
        m_faceImages[i]->setToolTip(plainToolTip(m_state.faceNames.value(i) + QStringLiteral(" (right-click to change name)")));
        setHighlighted(i, false);
    }
    const int child = qBound(0, int(m_state.currentFace), 3);
    setHighlighted(child, true);
    loadSiteList(child); // ends with the first row shown as if clicked
}

void SiteSelectionWindow::setUpSiteList()
{
    m_siteList->setColumnCount(ColumnCount);
    QTreeWidgetItem *header = m_siteList->headerItem();
    for (int c = 0; c < ColumnCount; ++c) {
        header->setText(c, QString::fromLatin1(Columns[c].caption));
        header->setData(c, KeyRole, QString::fromLatin1(Columns[c].key));
        m_siteList->setColumnWidth(c, Columns[c].twips / TwipsPerPixel);
        // One twip is less than a pixel: the column carries data, nothing shows.
        m_siteList->setColumnHidden(c, Columns[c].twips < TwipsPerPixel);
    }
    m_siteList->setRootIsDecorated(false);
    m_siteList->setItemsExpandable(false);
    m_siteList->setSelectionMode(QAbstractItemView::SingleSelection);
    m_siteList->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_siteList->setAllColumnsShowFocus(true);
    m_siteList->setFont(QFont(QStringLiteral("Arial")));
    m_siteList->setMinimumWidth(Columns[SiteName].twips / TwipsPerPixel + Columns[Ages].twips / TwipsPerPixel + 24);
    // The selection stays visible when the list loses the focus.
    QPalette palette = m_siteList->palette();
    for (QPalette::ColorRole role : {QPalette::Highlight, QPalette::HighlightedText})
        palette.setColor(QPalette::Inactive, role, palette.color(QPalette::Active, role));
    m_siteList->setPalette(palette);
}

void SiteSelectionWindow::loadSiteList(int child)
{
    m_child = child;
    m_loading = true;
    m_siteList->setUpdatesEnabled(false);
    m_siteList->clear();
    QApplication::setOverrideCursor(Qt::WaitCursor);

    const FetchResult reply = m_portal.availableSites(child);
    SiteListReply sites;
    if (reply.ok())
        sites = parseAvailableSites(*reply.body);

    QList<QTreeWidgetItem *> items;
    items.reserve(sites.rows.size());
    QFont bold = m_siteList->font();
    bold.setBold(true);
    for (const SiteRow &site : std::as_const(sites.rows)) {
        // Filled before it joins the list, so setting the tick raises no change.
        auto *item = new QTreeWidgetItem;
        item->setText(SiteName, site.shortName);
        item->setData(SiteName, KeyRole, QStringLiteral("K") + site.id);
        item->setText(Comments, site.comments);
        item->setText(ID, site.id);
        item->setText(Ages, site.ages);
        item->setText(URL, site.url);
        item->setText(Logo, site.logo);
        item->setText(Type, site.type);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        item->setCheckState(SiteName, site.ticked ? Qt::Checked : Qt::Unchecked);
        item->setData(SiteName, SentStateRole, site.ticked);
        if (site.ticked) {
            for (int c = 0; c < ColumnCount; ++c) {
                item->setFont(c, bold);
                item->setForeground(c, QColor(0, 0, 255));
            }
        }
        items.append(item);
    }
    m_siteList->addTopLevelItems(items);

    QApplication::restoreOverrideCursor();
    m_siteList->setUpdatesEnabled(true);
    m_loading = false;
    // Every load shows its first row (the details follow the current row), so
    // the details, Preview and Edit/Remove always speak of the same row.
    m_siteList->setCurrentItem(m_siteList->topLevelItem(0));

    if (!reply.ok())
        m_context.dialogs->message(reply.error, Dialogs::ApplicationTitle);
    else if (const QString leftOut = leftOutRowsMessage(sites); !leftOut.isEmpty())
        m_context.dialogs->message(leftOut, Title);
}

void SiteSelectionWindow::onFacePressed(int face, Qt::MouseButton button)
{
    if (button == Qt::LeftButton)
        selectFace(face);
    else
        renameChild(face);
}

void SiteSelectionWindow::selectFace(int face)
{
    if (!isHighlighted(face)) {
        for (int i = 0; i < 4; ++i)
            setHighlighted(i, false);
        setHighlighted(face, true);
        loadSiteList(face);
        if (isUnnamed(m_state.faceNames.value(face)))
            renameChild(face);
    } else {
        m_state.currentFace = qint16(face);
        accept();
    }
}

void SiteSelectionWindow::renameChild(int child)
{
    const QString name = m_context.dialogs->input(QStringLiteral("Enter a real name for CHILD %1").arg(child + 1),
                                                  QStringLiteral("Enter Child's Name"), m_state.faceNames.value(child));
    if (name.isEmpty() || name == QString(QChar(27)))
        return;
    const FetchResult reply = m_portal.saveFaceName(child, name);
    if (!reply.ok()) {
        // The faces keep the name the portal holds.
        reportNotSaved(QStringLiteral("The name \"%1\"").arg(name), reply);
        return;
    }
    m_faceImages[child]->setToolTip(plainToolTip(name + QStringLiteral(" (right-click to change)")));
    if (m_context.main)
        m_context.main->setFaceToolTip(child, name + QStringLiteral("'s Menu"));
    while (m_state.faceNames.size() <= child)
        m_state.faceNames << QStringLiteral("Child %1").arg(m_state.faceNames.size() + 1);
    m_state.faceNames[child] = name;
}

void SiteSelectionWindow::showSiteDetails(QTreeWidgetItem *item)
{
    if (!item) {
        m_description->clear();
        m_editButton->setEnabled(false);
        return;
    }
    m_description->setText(item->text(Comments));
    m_logoView->navigate(m_portal.logoAddress(item->text(Logo)));
    m_editButton->setEnabled(maintainerMode() || item->text(Type).toInt() == 2);
}

void SiteSelectionWindow::onSiteTicked(QTreeWidgetItem *item)
{
    m_siteList->setCurrentItem(item);
    const bool ticked = item->checkState(SiteName) == Qt::Checked;
    const FetchResult reply = m_portal.saveTick(item->text(ID), ticked, m_child);
    if (!reply.ok()) {
        // Reloading here would delete the row under the list's own click handling.
        const QString change = QStringLiteral("The %1 of \"%2\"").arg(ticked ? QStringLiteral("tick") : QStringLiteral("untick"),
                                                                      item->text(SiteName));
        QMetaObject::invokeMethod(this, [this, change, reply] { reportNotSaved(change, reply); },
                                  Qt::QueuedConnection);
    }
}

void SiteSelectionWindow::previewSite()
{
    const QTreeWidgetItem *item = m_siteList->currentItem();
    if (!item)
        return;
    // The address comes from the portal: only a web address is shown, never a
    // file or a program. One typed without a scheme is a web address, as the
    // portal's own links take it, also where a port follows its host.
    const QString address = item->text(URL).trimmed();
    static const QRegularExpression scheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*:(?![0-9]+([/?#]|$))"));
    const QUrl url(scheme.match(address).hasMatch() ? address : QStringLiteral("http://") + address, QUrl::TolerantMode);
    const QString kind = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty() || (kind != QLatin1String("http") && kind != QLatin1String("https"))) {
        m_context.dialogs->message(QStringLiteral("Only web addresses (http or https) can be previewed.\r\n\r\n") + address, Title);
        return;
    }
    m_context.windows->showPreview(m_context, url, this);
}

void SiteSelectionWindow::saveSelections()
{
    if (isUnnamed(m_state.faceNames.value(m_child)))
        renameChild(m_child);
    accept();
}

void SiteSelectionWindow::addSite()
{
    const QString type = maintainerMode()
        ? m_context.dialogs->input(QStringLiteral("1-Public, 2-Private"), QStringLiteral("Add Site"), QStringLiteral("1"))
        : QStringLiteral("2");
    m_context.windows->showSiteEditor(m_context, 0, type, selectedSite());
    loadSiteList(m_child);
}

void SiteSelectionWindow::editSite()
{
    const QTreeWidgetItem *item = m_siteList->currentItem();
    if (!item)
        return;
    // No type: the portal keeps the site's own, whatever an earlier addition chose.
    m_context.windows->showSiteEditor(m_context, item->text(ID).toInt(), QString(), selectedSite());
    loadSiteList(m_child);
}

void SiteSelectionWindow::openPreferences()
{
    m_context.windows->showPreferences(m_context);
}

void SiteSelectionWindow::done(int result)
{
    m_state.currentFace = qint16(m_child);
    QDialog::done(result);
}

void SiteSelectionWindow::setHighlighted(int face, bool highlighted)
{
    QFrame *frame = m_faceFrames[face];
    frame->setLineWidth(highlighted ? 1 : 4);
    QPalette palette = frame->palette();
    palette.setColor(QPalette::WindowText, highlighted ? QColor(255, 255, 0) : QColor(224, 224, 224));
    frame->setPalette(palette);
}

bool SiteSelectionWindow::isHighlighted(int face) const
{
    return m_faceFrames[face]->lineWidth() != 4;
}

bool SiteSelectionWindow::maintainerMode() const
{
    return QFileInfo::exists(m_state.appFolder + QStringLiteral("version.htm"));
}

SelectedSite SiteSelectionWindow::selectedSite() const
{
    const QTreeWidgetItem *item = m_siteList->currentItem();
    if (!item)
        return {};
    return {item->text(SiteName), item->text(Ages), item->text(Comments), item->text(Logo), item->text(URL)};
}

void SiteSelectionWindow::reportNotSaved(const QString &change, const FetchResult &failed)
{
    m_context.dialogs->message(changeNotSavedMessage(change, failed), Title);
    loadSiteList(m_child);
}
