#include "browsing/BlockPage.h"

#include "filter/BlockedJournal.h"

#include <QEvent>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

BlockPage::BlockPage(QWidget *view, std::function<void(const QString &address)> askToUnblock)
    : QWidget(view->parentWidget()), m_view(view), m_picture(new QLabel(this)), m_host(new QLabel(this)),
      m_askButton(new QPushButton(QStringLiteral("Grown-ups: allow this site..."), this))
{
    setObjectName(QStringLiteral("blockPage"));
    setAttribute(Qt::WA_StyledBackground);
    setStyleSheet(QStringLiteral("#blockPage { background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #e3f4ff, stop:1 #c8ecd0); }"
                                 "#blockedHost { color: #1d3557; }"
                                 "#blockPageAskButton { font-size: 16px; padding: 8px 18px; }"));
    m_picture->setObjectName(QStringLiteral("blockPicture"));
    m_picture->setAlignment(Qt::AlignCenter);
    m_picture->setToolTip(QStringLiteral("Not this way: ask a grown-up"));
    m_host->setObjectName(QStringLiteral("blockedHost"));
    m_host->setTextFormat(Qt::PlainText); // a host name is shown, never read as markup
    m_host->setAlignment(Qt::AlignCenter);
    m_host->setWordWrap(true);
    QFont large = m_host->font();
    large.setPixelSize(40);
    large.setBold(true);
    m_host->setFont(large);
    m_askButton->setObjectName(QStringLiteral("blockPageAskButton"));
    m_askButton->setCursor(Qt::PointingHandCursor);
    // Only a press of the mouse or of the grown-up's keys: never the default of a key the child leans on.
    m_askButton->setAutoDefault(false);

    auto *layout = new QVBoxLayout(this);
    layout->addStretch(1);
    layout->addWidget(m_picture);
    layout->addSpacing(12);
    layout->addWidget(m_host);
    layout->addSpacing(12);
    layout->addWidget(m_askButton, 0, Qt::AlignHCenter);
    layout->addStretch(1);

    connect(m_askButton, &QPushButton::clicked, this, [this, ask = std::move(askToUnblock)] {
        if (!m_address.isEmpty())
            ask(m_address);
    });
    m_view->installEventFilter(this);
    hide();
}

void BlockPage::showFor(const QString &address)
{
    m_address = address;
    m_host->setText(BlockedJournal::hostOf(address));
    setGeometry(m_view->geometry());
    setEnabled(m_view->isEnabled());
    showPicture();
    show();
    raise();
}

void BlockPage::showPicture()
{
    const int side = std::clamp(std::min(width(), height()) / 2, 96, 360);
    m_picture->setPixmap(QIcon(QStringLiteral(":/images/blocked.svg")).pixmap(QSize(side * 4 / 3, side)));
}

void BlockPage::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    showPicture();
}

bool BlockPage::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_view) {
        switch (event->type()) {
        case QEvent::Move:
        case QEvent::Resize:
            setGeometry(m_view->geometry());
            break;
        case QEvent::EnabledChange: // the time-out's lock covers it as it covers the view
            setEnabled(m_view->isEnabled());
            break;
        default:
            break;
        }
    }
    return QWidget::eventFilter(watched, event);
}
