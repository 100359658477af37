#include "ParentsTestSupport.h"

#include "parents/PreferencesWindow.h"
#include "parents/PasswordGate.h"
#include "shell/SettingsFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTimer>
#include <tuple>

using namespace input;

namespace {

// The values in force, which a refusal must leave alone.
const ParentalSettings InForce{"old", "1", "2 Hours", QDateTime(QDate(2026, 12, 6), QTime(9, 0))};
const QByteArray DefaultFile("pw=.\r\nstop=0\r\nstart=0\r\ntimer=0\r\n");

QStringList summary(const ParentalSettings &s) { return {s.Password, s.StopDisabled, s.TimeLimit, s.LimitEnd.toString(Qt::ISODate)}; }

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void addToFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (file.open(QIODevice::Append))
        file.write(bytes);
}

} // namespace

class tst_GatePrefs : public QObject {
    Q_OBJECT
private slots:
    void gate_data()
    {
        // Steps as input::play takes them, and "close" (the close box).
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QStringList>("messages");
        QTest::addColumn<bool>("accepted");

        const QString wrong = Dialogs::ApplicationTitle + ": Wrong Password! If you need a hint type 'c_l_u_e' in the password box!";
        const QString hint = Dialogs::ApplicationTitle + ": Here's Your Hint: \r\n";
        const QStringList none;
        QTest::newRow("Enter with the password in another case, even beyond ASCII, opens the gate once")
            << "Fr\u00f8sch \u86d9" << QStringList{"type:fR\u00d8SCH \u86d9", "key:Return"} << none << true;
        QTest::newRow("the button checks the text as typed after tabbing away")
            << "Frog" << QStringList{"type:frog", "key:Tab", "click:continueButton"} << none << true;
        QTest::newRow("the right password typed but the gate closed: a refusal")
            << "Frog" << QStringList{"type:frog", "close"} << none << false;
        QTest::newRow("each wrong try is told once and the gate stays; a trailing blank is wrong")
            << "Frog" << QStringList{"type:Frog ", "click:continueButton", "click:passwordBox", "type:toad", "key:Return"}
            << QStringList{wrong, wrong} << false;
        // Focus that arrives by key selects the text too, so the first two tries submit the emptied box.
        QTest::newRow("every way back into the box empties it")
            << "Frog"
            << QStringList{"type:frog", "key:Tab", "key:Shift+Tab", "key:Return", "type:frog", "key:Tab", "key:Alt+P",
                           "key:Return", "type:fr", "key:Tab", "click:passwordBox", "type:og", "key:Return"}
            << QStringList{wrong, wrong, wrong} << false;
        QTest::newRow("no password: the hint is empty, and the emptied box then opens the gate")
            << "" << QStringList{"type:c_l_u_e", "key:Return", "key:Return"} << QStringList{hint} << true;
        // The keyword in any case; the hint keeps the first and last characters and masks the rest.
        for (const auto &[stored, typed, shown] : {std::tuple{"a", "C_L_U_E", "A"}, {"ab", "c_L_u_E", "AB"},
                                                   {"abc", "c_l_u_e", "A*C"}, {"c_l_u_e", "c_l_u_e", "C*****E"}})
            QTest::addRow("hint for %s", stored) << stored << QStringList{QStringLiteral("type:") + typed, "click:continueButton"}
                                                 << QStringList{hint + shown} << false;
    }

    void gate()
    {
        QFETCH(QStringList, steps);
        ParentsWorld world;
        world.state.settings.Password = DATA(QString, stored);
        bool focused = false, leftOpen = false;
        // The steps run while the gate waits for its answer; a gate still open after them is closed.
        QTimer::singleShot(0, [&] {
            QWidget *gate = QApplication::activeModalWidget();
            if (QTest::qWaitForWindowActive(gate)) {
                focused = QApplication::focusWidget() == gate->findChild<QWidget *>("passwordBox");
                play(gate, steps, [gate](const QString &step) { QCOMPARE(step, QStringLiteral("close")); gate->close(); });
            }
            leftOpen = gate->isVisible();
            gate->close();
        });
        const bool accepted = PasswordGate::ask(world.context());
        if (QTest::currentTestFailed())
            return;
        QVERIFY(focused);
        QTEST(world.messages(), "messages");
        QTEST(accepted, "accepted");
        QCOMPARE(world.main.gatesPassed, accepted ? 1 : 0);
        QCOMPARE(leftOpen, !accepted && steps.last() != "close");
    }

    void preferences_data()
    {
        // Steps as input::play takes them, before the Save button; a field no step types over
        // shows the file. A refusal (the message's first line) leaves the file, the values in
        // force and the window as they were.
        QTest::addColumn<QByteArray>("before"); // null: a folder stands in the file's place
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QString>("refusal");
        QTest::addColumn<QByteArray>("saved");

        const QString told = Dialogs::ApplicationTitle + ": ";
        const QByteArray locked("PW=Secret\r\nStop=1\r\nstart=0\r\nTIMER=1 Hour\r\n"), none;
        QTest::newRow("the default file's timer 0 needs a password, told before the STOP button")
            << DefaultFile << QStringList() << told + "You need to enter a password to set a timer." << none;
        QTest::newRow("'=' is told before a missing STOP lock")
            << DefaultFile << QStringList{"passwordBox=fr=g", "timeLimitBox=30 minutes"}
            << told + "You cannot use the '=' sign in our password" << none;
        QTest::newRow("a lone '.' is refused, told before a missing STOP lock")
            << DefaultFile << QStringList{"passwordBox=.", "timeLimitBox=30 minutes"} << told + "You cannot use '.' as your password"
            << none;
        QTest::newRow("emptying a loaded password: the STOP message comes before the timer's")
            << locked << QStringList{"passwordBox="} << told + "You need to enter a password to disable the STOP button." << none;
        QTest::newRow("a timer with STOP still enabled")
            << DefaultFile << QStringList{"passwordBox=frog", "timeLimitBox=30 minutes"}
            << told + "You need to disable the STOP button to set a timer." << none;
        QTest::newRow("an empty combo becomes No Limit before the checks")
            << DefaultFile << QStringList{"timeLimitBox="} << "" << QByteArray("pw=.\r\nstop=0\r\nstart=0\r\ntimer=No Limit\r\n");
        QTest::newRow("password, STOP locked and a limit typed in lower case are saved as typed")
            << DefaultFile << QStringList{"passwordBox=frog", "click:disableStopBox", "timeLimitBox=2 hours"} << ""
            << QByteArray("pw=frog\r\nstop=1\r\nstart=0\r\ntimer=2 hours\r\n");
        QTest::newRow("a STOP lock needs no time limit; dots within a password are ordinary")
            << DefaultFile << QStringList{"passwordBox=..Frog Pond", "click:disableStopBox", "timeLimitBox=No Limit"} << ""
            << QByteArray("pw=..Frog Pond\r\nstop=1\r\nstart=0\r\ntimer=No Limit\r\n");
        QTest::newRow("a non-ASCII password is saved as typed")
            << DefaultFile << QStringList{"passwordBox=Fr\u00f8sch \u86d9", "timeLimitBox=No Limit"} << ""
            << QByteArray("pw=Fr\xc3\xb8sch \xe8\x9b\x99\r\nstop=0\r\nstart=0\r\ntimer=No Limit\r\n");
        QTest::newRow("a locked file is shown and saved back as it was")
            << locked << QStringList() << "" << QByteArray("pw=Secret\r\nstop=1\r\nstart=0\r\ntimer=1 Hour\r\n");
        QTest::newRow("a control.ini that cannot be written changes nothing")
            << QByteArray() << QStringList{"passwordBox=frog", "timeLimitBox=No Limit"}
            << "Tadpole: Your changes could not be saved, so nothing has changed." << none;
    }

    void preferences()
    {
        QFETCH(QByteArray, before);
        QFETCH(QString, refusal);
        ParentsWorld world;
        world.state.settings = InForce;
        const QString path = SettingsFile::fileName(world.state.appFolder);
        if (before.isNull())
            QVERIFY(QDir().mkdir(path)); // no one can replace a folder with a file
        else
            addToFile(path, before);
        const auto window = world.show<PreferencesWindow>();
        play(window.get(), DATA(QStringList, steps) + QStringList{"click:saveButton"});
        if (QTest::currentTestFailed())
            return;

        QCOMPARE(world.dialogs.messages.size(), refusal.isEmpty() ? 0 : 1);
        QCOMPARE(world.messages().value(0).section("\r\n", 0, 0), refusal);
        QCOMPARE(window->isVisible(), !refusal.isEmpty());
        QCOMPARE(fileBytes(path), refusal.isEmpty() ? DATA(QByteArray, saved) : before);
        QCOMPARE(QFileInfo(path).isDir(), before.isNull());
        // In force at once: what runs is what the next start reads, the limit counted
        // from the save, even after an editor added a line in another code page.
        addToFile(path, "note=caf\xe9\r\n");
        ParentalSettings next;
        SettingsFile::ReadSettings(world.state.appFolder, world.clock.now(), next);
        QCOMPARE(summary(world.state.settings), summary(refusal.isEmpty() ? next : InForce));
        QCOMPARE(world.main.messageLinesCleared, refusal.isEmpty() ? 1 : 0);
    }
};

QTEST_MAIN(tst_GatePrefs)
#include "tst_gate_prefs.moc"
