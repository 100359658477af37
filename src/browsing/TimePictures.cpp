#include "browsing/TimePictures.h"

#include "browsing/PictureButton.h"
#include "shell/Services.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

using TimeAllowance::Stage;

// One of our drawings over the page, scaled to fit, on its own sky colour so
// that no part of the page shows around it.
class PictureCover : public QWidget {
public:
    PictureCover(const QString &picture, const QColor &sky, QWidget *parent)
        : QWidget(parent), m_picture(picture), m_sky(sky)
    {
        setAttribute(Qt::WA_OpaquePaintEvent);
    }
    std::function<void()> onClick;

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), m_sky);
        QSize size(800, 500);
        size.scale(rect().size() - QSize(20, 90), Qt::KeepAspectRatio);
        const QRect target(QPoint((width() - size.width()) / 2, 10), size);
        painter.drawPixmap(target, m_picture.pixmap(size, devicePixelRatioF()));
    }
    void mousePressEvent(QMouseEvent *event) override
    {
        event->accept(); // nothing beneath a cover is clicked through it
        if (onClick)
            onClick();
    }

private:
    QIcon m_picture;
    QColor m_sky;
};

QString pondFor(Stage stage)
{
    switch (stage) {
    case Stage::TenMinutes: return QStringLiteral(":/images/pond_10.svg");
    case Stage::FiveMinutes: return QStringLiteral(":/images/pond_5.svg");
    case Stage::OneMinute: return QStringLiteral(":/images/pond_1.svg");
    default: return QStringLiteral(":/images/pond_0.svg");
    }
}

QPushButton *bigButton(const QString &name, const QString &text, QWidget *parent)
{
    auto *button = new QPushButton(text, parent);
    button->setObjectName(name);
    button->setMinimumSize(180, 48);
    button->setStyleSheet(QStringLiteral("QPushButton { font-size: 16px; font-weight: bold; background: #ffd23f; "
                                         "color: #1d2b53; border-radius: 10px; padding: 8px 16px; }"));
    return button;
}

} // namespace

TimePictures::TimePictures(QWidget *area, QWidget *countdownAnchor, int keepTop, int keepBottom, Actions actions)
    : QObject(area), m_area(area), m_anchor(countdownAnchor), m_keepTop(keepTop), m_keepBottom(keepBottom),
      m_actions(std::move(actions))
{
    m_countdown = new QLabel(area);
    m_countdown->setObjectName(QStringLiteral("timeCountdown"));
    m_countdown->setToolTip(QStringLiteral("Time left"));
    m_countdown->resize(WindowMetrics::ButtonSize, WindowMetrics::ButtonSize);
    m_countdown->hide();

    m_finishTimer.setSingleShot(true);
    m_finishTimer.setInterval(FinishShownMs);
    area->installEventFilter(this);
    place();
}

// The covers are made when first shown: most runs never reach the end of a
// limit, and their buttons' style sheets would cost every start-up.
QWidget *TimePictures::finishPicture()
{
    if (m_finishPicture)
        return m_finishPicture;
    auto *finish = new PictureCover(QStringLiteral(":/images/time_to_finish.svg"), QColor(0xff, 0xb3, 0x47), m_area);
    finish->setObjectName(QStringLiteral("timeToFinishPicture"));
    finish->onClick = [finish] { finish->hide(); };
    connect(&m_finishTimer, &QTimer::timeout, finish, &QWidget::hide);
    m_finishPicture = finish;
    place();
    return finish;
}

QWidget *TimePictures::timeUpPicture()
{
    if (m_timeUpPicture)
        return m_timeUpPicture;
    m_timeUpPicture = new PictureCover(QStringLiteral(":/images/time_is_up.svg"), QColor(0x1d, 0x2b, 0x53), m_area);
    m_timeUpPicture->setObjectName(QStringLiteral("timeUpPicture"));
    m_grownUpButton = bigButton(QStringLiteral("grownUpButton"), QStringLiteral("For grown-ups"), m_timeUpPicture);
    m_grownUpButton->setIcon(QIcon(QStringLiteral(":/images/parents.svg")));
    m_grownUpButton->setIconSize(QSize(32, 32));
    m_choices = new QWidget(m_timeUpPicture);
    auto *more15 = bigButton(QStringLiteral("moreMinutes15"), QStringLiteral("15 more minutes"), m_choices);
    auto *more30 = bigButton(QStringLiteral("moreMinutes30"), QStringLiteral("30 more minutes"), m_choices);
    auto *end = bigButton(QStringLiteral("endForToday"), QStringLiteral("End for today"), m_choices);
    auto *choiceRow = new QHBoxLayout(m_choices);
    for (QPushButton *choice : {more15, more30, end})
        choiceRow->addWidget(choice);
    m_choices->hide();
    auto *column = new QVBoxLayout(m_timeUpPicture);
    column->addStretch(1);
    column->addWidget(m_grownUpButton, 0, Qt::AlignHCenter);
    column->addWidget(m_choices, 0, Qt::AlignHCenter);
    column->addSpacing(12);

    connect(m_grownUpButton, &QPushButton::clicked, this, &TimePictures::onGrownUpClicked);
    connect(more15, &QPushButton::clicked, this, [this] { m_actions.moreMinutes(15); });
    connect(more30, &QPushButton::clicked, this, [this] { m_actions.moreMinutes(30); });
    connect(end, &QPushButton::clicked, this, [this] { m_actions.endForToday(); });
    place();
    return m_timeUpPicture;
}

bool TimePictures::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_area && event->type() == QEvent::Resize)
        place();
    return false;
}

void TimePictures::place()
{
    const QRect cover(0, m_keepTop, m_area->width(), std::max(0, m_area->height() - m_keepTop - m_keepBottom));
    for (QWidget *picture : {m_finishPicture, m_timeUpPicture}) {
        if (picture)
            picture->setGeometry(cover);
    }
    if (m_anchor)
        m_countdown->move(m_anchor->x() - m_countdown->width() - 12, m_anchor->y());
}

void TimePictures::showStage(Stage stage)
{
    const Stage before = std::exchange(m_stage, stage);
    if (m_choices && !m_choices->isHidden()
        && (m_actions.clock->monotonicMs() - m_choicesShownAt > ChoicesShownMs
            || qAbs(m_choicesShownWall.msecsTo(m_actions.clock->now())) > ChoicesShownMs)) {
        m_choices->hide();
        m_grownUpButton->show();
    }
    if (stage == Stage::None) {
        m_countdown->hide();
        if (m_finishPicture)
            m_finishPicture->hide();
        return;
    }
    if (stage != before) {
        const int size = WindowMetrics::ButtonSize;
        m_countdown->setPixmap(QIcon(pondFor(stage)).pixmap(QSize(size, size), m_countdown->devicePixelRatioF()));
    }
    place();
    m_countdown->show();
    m_countdown->raise();
    // Once, as the last minute begins; the page stays behind it and comes back by itself.
    if (stage == Stage::OneMinute && before != Stage::OneMinute && before != Stage::Out) {
        finishPicture()->show();
        m_finishPicture->raise();
        m_finishTimer.start();
    }
    if (stage != Stage::OneMinute && m_finishPicture)
        m_finishPicture->hide();
}

void TimePictures::showTimeUp(bool shown)
{
    if (!shown && !m_timeUpPicture)
        return;
    timeUpPicture()->setVisible(shown);
    m_grownUpButton->show();
    m_choices->hide();
    if (!shown)
        return;
    if (m_finishPicture)
        m_finishPicture->hide();
    place();
    m_timeUpPicture->raise();
}

void TimePictures::onGrownUpClicked()
{
    if (!m_actions.askGrownUp())
        return;
    m_grownUpButton->hide();
    m_choices->show();
    m_choicesShownAt = m_actions.clock->monotonicMs();
    m_choicesShownWall = m_actions.clock->now();
}
