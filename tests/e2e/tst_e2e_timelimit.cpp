#include "E2eSupport.h"
#include "support/TestDoubles.h"

#include "browserview/WebEngineBrowserView.h"
#include "browsing/MainWindow.h"
#include "parents/ParentsContext.h"
#include "shell/HttpTransport.h"

#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QTest>
#include <QTimer>

// A spent time limit with the STOP button locked, in the real window with the
// real web view, portal and password gate; only the clock and the message
// boxes are scripted, so the limit runs out in seconds.
class tst_E2eTimeLimit : public QObject {
    Q_OBJECT

    e2e::PortalProcess m_portal;
    FixedClock m_clock;
    ScriptedDialogs m_dialogs;
    RecordingLauncher m_launcher;
    ModalParentsWindows m_parents;
    WebEngineBrowserViewFactory m_views;
    QString m_gateTyping; // what the parent types into the next gate; "" closes it with its close box

    // Answers the gate once it is shown modally: types the text and Enter, or closes it.
    void answerNextGate(const QString &typed)
    {
        m_gateTyping = typed;
        auto *poll = new QTimer(this);
        connect(poll, &QTimer::timeout, this, [this, poll] {
            auto *gate = qobject_cast<QDialog *>(QApplication::activeModalWidget());
            if (!gate || gate->windowTitle() != QLatin1String("Security"))
                return;
            poll->deleteLater();
            if (m_gateTyping.isEmpty()) {
                gate->close();
                return;
            }
            auto *box = gate->findChild<QLineEdit *>(QStringLiteral("passwordBox"));
            QTest::keyClicks(box, m_gateTyping);
            QTest::keyClick(box, Qt::Key_Return);
            if (gate->isVisible()) // a wrong password: the parent gives up
                gate->close();
        });
        poll->start(50);
    }

    void click(QWidget *window, const QString &control)
    {
        auto *widget = window->findChild<QWidget *>(control);
        QVERIFY(widget);
        const QPoint at = widget->mapTo(window, widget->rect().center());
        QWidget *top = window->childAt(at);
        QVERIFY(top == widget);
        QTest::mouseClick(top, Qt::LeftButton, {}, top->mapFrom(window, at));
    }

private slots:
    void childStaysLockedOutUntilTheRightPassword()
    {
        QVERIFY(m_portal.start());
        e2e::ProgramFolder folder(m_portal.host());
        QFile ini(folder.path(QStringLiteral("control.ini")));
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write("pw=owl\r\nstop=1\r\nstart=0\r\ntimer=15 minutes\r\n");
        ini.close();
        HttpTransport transport(10000);
        auto window = std::make_unique<MainWindow>(BrowserServices{
            .clock = &m_clock, .dialogs = &m_dialogs, .launcher = &m_launcher, .transport = &transport,
            .views = &m_views, .parents = &m_parents, .opener = nullptr,
            .executableFolder = folder.path().chopped(1), .defaultAppFolder = QDir::tempPath() + "/not-the-program-folder/",
            .commandLine = QStringLiteral("1")});
        QTRY_VERIFY_WITH_TIMEOUT(window->startupFinished(), 60000);
        QWidget *view = window->view()->widget();

        // Fifteen minutes later the watchdog says so, and a wrong password at the STOP gate keeps the window.
        answerNextGate(QStringLiteral("badger"));
        m_clock.pass(15 * 60 * 1000);
        QTRY_VERIFY_WITH_TIMEOUT(window->lockedOut(), 5000);
        QCOMPARE(m_dialogs.messages.value(0).text, QStringLiteral("Time Ran Out"));
        QVERIFY(window->isVisible());
        QVERIFY(!view->isEnabled());
        QCOMPARE(window->messageLineText(), QStringLiteral("Time Ran Out"));
        QTest::qWait(1500); // no tick while locked: nothing is asked again
        QCOMPARE(m_dialogs.messages.size(), 2); // and the gate's answer to the wrong password
        QVERIFY(m_dialogs.messages.at(1).text.startsWith(QLatin1String("Wrong Password!")));

        // Closing the parents' gate unanswered changes nothing either.
        answerNextGate(QString());
        click(window.get(), QStringLiteral("parentsButton"));
        QVERIFY(!view->isEnabled());

        // The right password at the parents' button gives the window back and
        // the timer runs again (the site selection is closed at once).
        answerNextGate(QStringLiteral("OWL"));
        auto *closer = new QTimer(this);
        connect(closer, &QTimer::timeout, this, [closer] {
            auto *sites = qobject_cast<QDialog *>(QApplication::activeModalWidget());
            if (sites && sites->windowTitle() == QLatin1String("Site Selection")) {
                closer->deleteLater();
                sites->close();
            }
        });
        closer->start(50);
        click(window.get(), QStringLiteral("parentsButton"));
        QVERIFY(view->isEnabled());
        QVERIFY(window->timerRunning());
    }
};

QTEST_MAIN(tst_E2eTimeLimit)
#include "tst_e2e_timelimit.moc"
