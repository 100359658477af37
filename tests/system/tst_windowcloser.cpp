#include "system/WindowCloser.h"

#include <QApplication>
#include <QCloseEvent>
#include <QPointer>
#include <QTest>
#include <QWidget>

#include <memory>

namespace {

// A window that counts the close requests it receives and may refuse them,
// as a window with unsaved work would.
class RecordingWindow : public QWidget {
public:
    explicit RecordingWindow(const QString &title, bool refuse = false)
        : m_refuse(refuse)
    {
        setWindowTitle(title);
    }
    int closeRequests = 0;

protected:
    void closeEvent(QCloseEvent *event) override
    {
        ++closeRequests;
        if (m_refuse)
            event->ignore();
        else
            event->accept();
    }

private:
    bool m_refuse;
};

void runQueuedEvents()
{
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
}

} // namespace

class tst_WindowCloser : public QObject {
    Q_OBJECT

private slots:
    void comparesWholeTitleIgnoringCase_data();
    void comparesWholeTitleIgnoringCase();
    void closesTwoSameTitledWindowsOneCallEach();
    void closedWindowShownAgainIsFoundAgain();
    void twoCallsBeforeTheQueueRunsAskTwoWindows();
    void refusingWindowIsAskedAgainLater();
    void windowDeletedBeforeTheQueueRunsIsHarmless();
    void shownWindowIsHiddenByItsClose();
};

void tst_WindowCloser::comparesWholeTitleIgnoringCase_data()
{
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("asked");
    QTest::addColumn<bool>("closed");

    QTest::newRow("pop-up caption in other capitalisation")
        << "Tadpole Pop-Up" << "Tadpole Pop-up" << true;
    QTest::newRow("all lower case") << "Security Warning" << "security warning" << true;
    QTest::newRow("longer title is another window")
        << "File Download (2)" << "File Download" << false;
    QTest::newRow("prefix of the title is not the title") << "File Download" << "File" << false;
    QTest::newRow("trailing space makes another title")
        << "File Download" << "File Download " << false;
}

void tst_WindowCloser::comparesWholeTitleIgnoringCase()
{
    QFETCH(QString, caption);
    QFETCH(QString, asked);
    QFETCH(bool, closed);
    RecordingWindow window(caption);
    QCOMPARE(closeOwnWindowByTitle(asked), closed);
    runQueuedEvents();
    QCOMPARE(window.closeRequests, closed ? 1 : 0);
}

void tst_WindowCloser::closesTwoSameTitledWindowsOneCallEach()
{
    RecordingWindow first(QStringLiteral("File Download"));
    RecordingWindow second(QStringLiteral("File Download"));

    CloseWindowByTitle(QStringLiteral("File Download"));
    // Posted, never sent: nothing has happened before the queue runs.
    QCOMPARE(first.closeRequests + second.closeRequests, 0);
    runQueuedEvents();
    QCOMPARE(first.closeRequests + second.closeRequests, 1);

    // Our windows stay alive (no delete-on-close) and hidden, as a closed
    // download prompt would: a second call must still find the other one.
    CloseWindowByTitle(QStringLiteral("File Download"));
    runQueuedEvents();
    QCOMPARE(first.closeRequests, 1);
    QCOMPARE(second.closeRequests, 1);

    // Both are closed: nothing of ours is left to ask.
    QVERIFY(!closeOwnWindowByTitle(QStringLiteral("File Download")));
}

void tst_WindowCloser::closedWindowShownAgainIsFoundAgain()
{
    RecordingWindow window(QStringLiteral("Tadpole Pop-Up"));
    QVERIFY(closeOwnWindowByTitle(QStringLiteral("Tadpole Pop-Up")));
    runQueuedEvents();
    QVERIFY(!closeOwnWindowByTitle(QStringLiteral("Tadpole Pop-Up")));
    window.show();
    QVERIFY(closeOwnWindowByTitle(QStringLiteral("Tadpole Pop-Up")));
    runQueuedEvents();
    QCOMPARE(window.closeRequests, 2);
    QVERIFY(!window.isVisible());
}

void tst_WindowCloser::twoCallsBeforeTheQueueRunsAskTwoWindows()
{
    RecordingWindow first(QStringLiteral("File Download"));
    RecordingWindow second(QStringLiteral("file download"));

    QVERIFY(closeOwnWindowByTitle(QStringLiteral("File Download")));
    QVERIFY(closeOwnWindowByTitle(QStringLiteral("File Download")));
    // Both are asked already; a third call finds none of ours.
    QVERIFY(!closeOwnWindowByTitle(QStringLiteral("File Download")));
    runQueuedEvents();
    QCOMPARE(first.closeRequests, 1);
    QCOMPARE(second.closeRequests, 1);
}

void tst_WindowCloser::refusingWindowIsAskedAgainLater()
{
    RecordingWindow stubborn(QStringLiteral("Security Warning"), true);
    QVERIFY(closeOwnWindowByTitle(QStringLiteral("Security Warning")));
    runQueuedEvents();
    QCOMPARE(stubborn.closeRequests, 1);
    QVERIFY(closeOwnWindowByTitle(QStringLiteral("Security Warning")));
    runQueuedEvents();
    QCOMPARE(stubborn.closeRequests, 2);
}

void tst_WindowCloser::windowDeletedBeforeTheQueueRunsIsHarmless()
{
    auto *window = new RecordingWindow(QStringLiteral("Tadpole Pop-Up"));
    QPointer<QWidget> guard(window);
    QVERIFY(closeOwnWindowByTitle(QStringLiteral("Tadpole Pop-up")));
    delete window;
    runQueuedEvents();
    QVERIFY(guard.isNull());
    QVERIFY(!closeOwnWindowByTitle(QStringLiteral("Tadpole Pop-up")));
}

void tst_WindowCloser::shownWindowIsHiddenByItsClose()
{
    RecordingWindow window(QStringLiteral("Tadpole Pop-Up"));
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    CloseWindowByTitle(QStringLiteral("TADPOLE POP-UP"));
    QVERIFY(window.isVisible());
    QTRY_VERIFY(!window.isVisible());
    QCOMPARE(window.closeRequests, 1);
}

QTEST_MAIN(tst_WindowCloser)
#include "tst_windowcloser.moc"
