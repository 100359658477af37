#include "parents/SitePreviewWindow.h"

#include "browserview/BrowserView.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

SitePreviewWindow::SitePreviewWindow(BrowserViewFactory &views, const QUrl &address, QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("SitePreviewWindow"));
    // A caption of its own, never the page's: the watchdog closes our windows
    // by title ("File Download", the pop-ups'), and a page must not name this one.
    setWindowTitle(QStringLiteral("Site Preview"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setModal(true);

    auto button = [this](const char *name, const QString &caption) {
        auto *b = new QPushButton(caption, this);
        b->setObjectName(QLatin1String(name));
        b->setAutoDefault(false); // Enter belongs to the page
        return b;
    };
    m_backButton = button("backButton", QStringLiteral("< &Back"));
    m_forwardButton = button("forwardButton", QStringLiteral("&Forward >"));
    m_closeButton = button("closeButton", QStringLiteral("&Close"));
    m_address = new QLabel(this);
    m_address->setObjectName(QStringLiteral("address"));
    m_address->setTextFormat(Qt::PlainText); // the address comes from the portal, then from the pages
    m_view = views.createForParent(this);
    m_view->widget()->setObjectName(QStringLiteral("previewView"));

    auto *bar = new QHBoxLayout;
    bar->addWidget(m_backButton);
    bar->addWidget(m_forwardButton);
    bar->addWidget(m_address, 1);
    bar->addWidget(m_closeButton);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(bar);
    layout->addWidget(m_view->widget(), 1);

    connect(m_backButton, &QPushButton::clicked, m_view, &BrowserView::back);
    connect(m_forwardButton, &QPushButton::clicked, m_view, &BrowserView::forward);
    connect(m_closeButton, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_view, &BrowserView::loadFinished, this, [this] { m_address->setText(m_view->currentUrl().toDisplayString()); });
    // Whatever ends the parents' window that opened it ends the preview too.
    if (auto *owner = qobject_cast<QDialog *>(parent))
        connect(owner, &QDialog::finished, this, &QDialog::reject);

    const QScreen *screen = parent ? parent->screen() : this->screen();
    if (screen)
        resize(screen->availableGeometry().size() * 4 / 5);
    m_address->setText(address.toDisplayString());
    m_view->navigate(address.toString(QUrl::FullyEncoded));
}
