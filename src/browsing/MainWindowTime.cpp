// The main window's side of the time limit: the watchdog's tick, the lock-out
// and the pictures that tell the child about the time.
#include "browsing/MainWindow.h"

#include "browserview/BrowserView.h"
#include "browsing/ClickableLabel.h"
#include "browsing/PictureButton.h"
#include "browsing/TimePictures.h"
#include "shell/Services.h"

#include <QApplication>
#include <QColorDialog>
#include <QToolButton>

namespace {

const QString ProgramTitle = QStringLiteral("Tadpole");
const QString TimeRanOut = QStringLiteral("Time Ran Out");

// While the time is up, a page's colour chooser is refused, the one open and
// any the page, still running behind the picture, opens later: it would stand
// over the picture and, as a box inside the disabled page, hold every button.
class ColourChooserRefusal : public QObject {
public:
    static inline const QString Name = QStringLiteral("colourChooserRefusal");

    explicit ColourChooserRefusal(QObject *owner) : QObject(owner)
    {
        setObjectName(Name);
        for (QWidget *window : QApplication::topLevelWidgets()) {
            if (auto *chooser = qobject_cast<QColorDialog *>(window); chooser && chooser->isVisible())
                chooser->reject();
        }
        qApp->installEventFilter(this);
    }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (auto *chooser = event->type() == QEvent::Show ? qobject_cast<QColorDialog *>(watched) : nullptr)
            QMetaObject::invokeMethod(chooser, &QDialog::reject, Qt::QueuedConnection);
        return false;
    }
};

} // namespace

void MainWindow::buildTimePictures()
{
    m_timePictures = new TimePictures(
        centralWidget(), m_donateButton, int(1.3 * WindowMetrics::ButtonSize), 2 * WindowMetrics::LineHeight,
        TimePictures::Actions{
            .askGrownUp = [this] {
                return m_state.settings.Password.isEmpty() || (m_services.parents && m_services.parents->showGate(parentsContext()));
            },
            .moreMinutes = [this](int minutes) { grantMinutes(minutes); },
            .endForToday = [this] { endForToday(); },
            .clock = m_services.clock,
        });
}

void MainWindow::tick()
{
    const Watchdog::TimeCheck time = m_watchdog->checkTime(m_state.settings);
    if (m_timedOut)
        m_messageLine->setText(TimeRanOut);
    else if (time.countdown)
        m_messageLine->setText(*time.countdown);
    m_timePictures->showStage(time.stage);
    // While a parent is in the parents' area the time-out waits: it would
    // stand in front of the parent's windows and end what is being typed.
    if (time.ranOut && !m_timedOut && !m_parentsAreaOpen) {
        timeRanOut();
        if (m_stopGranted)
            return;
    }
    pumpEvents();
    const bool popupOpen = m_watchdog->sweep();
    for (QToolButton *button : {m_backButton, m_forwardButton, m_reloadButton})
        button->setEnabled(!popupOpen && !m_timedOut);
    m_parentsButton->setEnabled(!popupOpen);
    m_stopButton->setEnabled(true);
}

void MainWindow::timeRanOut()
{
    setTimedOut(true);
    if (lockedByParent())
        return; // the grown-up's button on the picture decides
    // STOP is free to press: the session ends as the STOP button ends it.
    m_tickTimer.stop();
    m_services.dialogs->message(TimeRanOut, ProgramTitle);
    onStopClicked();
}

void MainWindow::setTimedOut(bool timedOut)
{
    m_timedOut = timedOut;
    m_view->widget()->setEnabled(!timedOut);
    setFacesEnabled(!timedOut);
    for (QWidget *control : std::initializer_list<QWidget *>{m_backButton, m_forwardButton, m_reloadButton, m_helpButton,
                                                             m_mailButton, m_donateButton, m_radioButton})
        control->setEnabled(!timedOut);
    // The line that says so stays readable, in the window's own colours; its
    // link leads nowhere while the child is locked out.
    m_messageLine->setAttribute(Qt::WA_TransparentForMouseEvents, timedOut);
    m_messageLine->setText(timedOut ? TimeRanOut : QString());
    // The page behind the picture still runs: it plays on unheard.
    m_view->setAudioMuted(timedOut);
    if (timedOut) {
        if (m_radioView && m_radioView->currentUrl() == QUrl(radioPage()))
            toggleRadio(); // switches it off
        closePopups();
        if (!findChild<QObject *>(ColourChooserRefusal::Name, Qt::FindDirectChildrenOnly))
            new ColourChooserRefusal(this);
    } else {
        delete findChild<QObject *>(ColourChooserRefusal::Name, Qt::FindDirectChildrenOnly);
    }
    m_timePictures->showTimeUp(timedOut);
}

void MainWindow::grantMinutes(int minutes)
{
    m_watchdog->grantMinutes(m_state.settings, minutes);
    setTimedOut(false);
    tick();
}

void MainWindow::endForToday()
{
    // What STOP does once the gate was passed: the helper, then the close.
    startTerminate();
    closeMainWindow();
}

void MainWindow::gatePassed()
{
    if (m_watchdog)
        m_tickTimer.start();
}

void MainWindow::settingsSaved()
{
    if (!m_watchdog)
        return;
    m_watchdog->limitSet(m_state.settings);
    const Watchdog::TimeCheck time = m_watchdog->checkTime(m_state.settings);
    // A limit that is not spent frees the child at once; a spent one locks
    // the window when the parents' area closes, at the next tick.
    if (m_timedOut && !time.ranOut)
        setTimedOut(false);
    m_timePictures->showStage(time.stage);
}
