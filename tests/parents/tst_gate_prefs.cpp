#include "ParentsTestSupport.h"

#include "browsing/QtDialogs.h"
#include "parents/PasswordGate.h"
#include "parents/PreferencesWindow.h"
#include "shell/SettingsFile.h"

#include <QDir>
#include <QLineEdit>
#include <QRegularExpression>
#include <QTimer>

// The values in force, which a refused save must leave alone.
static const ParentalSettings InForce{"old", "1", "2 Hours", QDateTime(QDate(2026, 12, 6), QTime(9, 0)), {}};

static QStringList summary(const ParentalSettings &s)
{
    return {s.Password, s.StopDisabled, s.TimeLimit, s.LimitEnd.toString(Qt::ISODate), s.time.wholeDay ? "whole day" : "",
            SettingsFile::formatHours(s.time.hours)};
}

class tst_GatePrefs : public QObject {
    Q_OBJECT
private slots:
    void gate_data() // steps as ParentsWorld::play takes them, typed into the box, which has the focus when the gate opens
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QStringList>("outside"); // then "accepted", "refused" or "open" as the gate ends
        const QString wrong = Dialogs::ApplicationTitle + ": Wrong Password! If you need a hint type 'c_l_u_e' in the password box!";
        const QString hint = Dialogs::ApplicationTitle + ": Here's Your Hint: \r\n";
        QTest::newRow("the right password typed, the gate closed: a refusal")
            << "Frog" << QStringList{"type:frog", "close"} << QStringList{"refused"};
        // Focus that arrives by key selects the text too, so the second and third tries submit the emptied box.
        QTest::newRow("each wrong try is told and the gate stays; a trailing blank is wrong; every way back into the box empties it")
            << "Frog"
            << QStringList{"type:Frog ", "click:continueButton", "click:passwordBox", "type:frog", "key:Tab", "key:Shift+Tab", "key:Return",
                           "type:frog", "key:Tab", "key:Alt+P", "key:Return", "type:fr", "key:Tab", "click:passwordBox", "type:og", "key:Return"}
            << QStringList{wrong, wrong, wrong, wrong, "open"};
        QTest::newRow("Return or Enter on the focused Continue presses it, once; the password in another case, even beyond ASCII, opens")
            << "Fr\u00f8sch \u86d9"
            << QStringList{"type:fog", "key:Tab", "key:Return", "click:passwordBox", "type:fR\u00d8SCH \u86d9", "key:Tab", "key:Enter"}
            << QStringList{wrong, "gate passed", "accepted"};
        QTest::newRow("no password: the hint is empty, and the emptied box then opens the gate")
            << "" << QStringList{"type:c_l_u_e", "key:Return", "key:Return"} << QStringList{hint, "gate passed", "accepted"};
        // The keyword in any case, even as the password; the hint keeps the first and last characters and masks the rest.
        QTest::newRow("hint beyond the basic plane") << "\U0001F438rog\U0001F438" << QStringList{"type:C_l_U_e", "click:continueButton"}
                                                      << QStringList{hint + "\U0001F438***\U0001F438", "open"};
        QTest::newRow("hint for the password c_l_u_e")
            << "c_l_u_e" << QStringList{"type:c_l_u_e", "key:Return"} << QStringList{hint + "C*****E", "open"};
    }

    void gate()
    {
        ParentsWorld world;
        world.state.settings.Password = DATA(QString, stored);
        PasswordGate gate(world.context());
        world.play(&gate, DATA(QStringList, steps));
        QTEST(world.outside() << (gate.isVisible() ? "open" : gate.result() == QDialog::Accepted ? "accepted" : "refused"), "outside");
    }

    void preferences_data()
    {
        // Steps as ParentsWorld::play takes them, then the Save button; a field no step types over shows the file. A
        // refused save leaves the file, the values in force and the window as they were.
        QTest::addColumn<QByteArray>("before"); // null: a folder stands in the file's place
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QStringList>("outside"); // each message's first line
        QTest::addColumn<QByteArray>("after");
        const QString told = Dialogs::ApplicationTitle + ": ";
        const QStringList saved{"message line cleared", "settings applied"};
        const QByteArray plain("pw=.\r\nstop=0\r\nstart=0\r\ntimer=0\r\n"), locked("PW=Secret\r\nStop=1\r\nstart=0\r\nTIMER=1 Hour\r\n");
        QTest::newRow("the default file's timer 0 shows as No Limit and is saved as what it means")
            << plain << QStringList() << saved << QByteArray("pw=.\r\nstop=0\r\nstart=0\r\ntimer=No Limit\r\n");
        QTest::newRow("each refusal in its turn: a timer without a password; the password's text before a missing STOP lock; a STOP "
                      "lock's missing password before a timer's")
            << plain
            << QStringList{"timeLimitBox=30 minutes", "click:saveButton", "passwordBox=fr=g", "click:saveButton", "passwordBox=.",
                           "click:saveButton", "passwordBox=frog", "click:saveButton", "passwordBox=", "click:disableStopBox"}
            << QStringList{told + "You need to enter a password to set a timer.", told + "You cannot use the '=' sign in your password",
                           told + "You cannot use '.' as your password", told + "You need to disable the STOP button to set a timer.",
                           told + "You need to enter a password to disable the STOP button."}
            << plain;
        QTest::newRow("an empty time limit becomes No Limit before the checks")
            << plain << QStringList{"timeLimitBox="} << saved << QByteArray("pw=.\r\nstop=0\r\nstart=0\r\ntimer=No Limit\r\n");
        QTest::newRow("a password with dots and beyond ASCII is saved as typed; a limit that is none of the list's, which would "
                      "mean no limit, is refused")
            << plain << QStringList{"passwordBox=..Fr\u00f8sch \u86d9", "click:disableStopBox", "timeLimitBox=2 hours", "click:saveButton",
                                    "timeLimitBox=2 Hours"}
            << QStringList{told + "Choose a time limit from the list."} + saved
            << QByteArray("pw=..Fr\xc3\xb8sch \xe8\x9b\x99\r\nstop=1\r\nstart=0\r\ntimer=2 Hours\r\n");
        // Our own keys follow the four lines, each only when it is not the default, so older readers pass over them.
        QTest::newRow("a locked file is shown and saved back as it was, the whole-day count and allowed hours under keys of our own")
            << locked << QStringList{"click:wholeDayBox", "click:hoursBox", "click:hoursFrom", "key:Home", "key:Up"} << saved
            << QByteArray("pw=Secret\r\nstop=1\r\nstart=0\r\ntimer=1 Hour\r\ndaily=1\r\nhours=08:00-19:30\r\n");
        QTest::newRow("a file with our keys shows them; unticked they go")
            << QByteArray("pw=Secret\r\nstop=1\r\nstart=0\r\ntimer=1 Hour\r\ndaily=1\r\nhours=21:00-06:30\r\n")
            << QStringList{"click:wholeDayBox", "click:hoursBox"} << saved << QByteArray("pw=Secret\r\nstop=1\r\nstart=0\r\ntimer=1 Hour\r\n");
        QTest::newRow("allowed hours need a password and a STOP lock, as a timer does")
            << plain << QStringList{"timeLimitBox=No Limit", "click:hoursBox", "click:saveButton", "passwordBox=frog"}
            << QStringList{told + "You need to enter a password to set a timer.", told + "You need to disable the STOP button to set a timer."}
            << plain;
        QTest::newRow("the hint's keyword, which the gate never takes as the password, and allowed hours that end as they start")
            << plain << QStringList{"passwordBox=C_l_u_e", "click:disableStopBox", "click:saveButton", "passwordBox=frog", "click:hoursBox",
                                    "click:hoursFrom", "key:Home", "key:PgUp", "key:Up", "key:Up", "type::30"}
            << QStringList{told + "You cannot use 'c_l_u_e' as your password", told + "The allowed hours must end at another time than they start."}
            << plain;
        QTest::newRow("a control.ini that cannot be written changes nothing")
            << QByteArray() << QStringList{"passwordBox=frog", "timeLimitBox=No Limit"}
            << QStringList{"Tadpole: Your changes could not be saved, so nothing has changed."} << QByteArray();
    }

    void preferences()
    {
        QFETCH(QByteArray, before);
        ParentsWorld world;
        world.state.settings = InForce;
        const QString path = SettingsFile::fileName(world.state.appFolder);
        // No one can replace a folder with a file.
        QVERIFY(before.isNull() ? QDir().mkdir(path) : writeFile(path, before));
        PreferencesWindow window(world.context());
        world.play(&window, DATA(QStringList, steps) + QStringList{"click:saveButton"});
        QTEST(world.outside().replaceInStrings(QRegularExpression("\r\n.*", QRegularExpression::DotMatchesEverythingOption), QString()),
              "outside");
        QTEST(readFile(path), "after");
        const bool saved = world.main.told.contains("message line cleared");
        QCOMPARE(window.isVisible(), !saved);
        // In force at once: what the next start reads, the limit counted from the save, even after an editor added a
        // line in another code page.
        QVERIFY(before.isNull() || writeFile(path, readFile(path) + "note=caf\xe9\r\n"));
        ParentalSettings next;
        SettingsFile::ReadSettings(world.state.appFolder, world.clock.now(), next);
        QCOMPARE(summary(world.state.settings), summary(saved ? next : InForce));
    }

    // The real boxes, each as wide as its title in a bold face with room for an icon and three buttons beside it, so that
    // the window manager shows the title whole (not "T…" or "Enter … Name"); Return answers them, Yes as the default.
    void boxTitlesShowWhole()
    {
        QtDialogs boxes;
        QStringList answers;
        const QList<std::pair<QString, std::function<void()>>> asked{
            {"Tadpole", [&] { boxes.message("Time Ran Out", "Tadpole"); }},
            {"Are You Sure?",
             [&] { answers << (boxes.askYesNo("Remove it?", "Are You Sure?", Dialogs::Answer::Yes) == Dialogs::Answer::Yes ? "yes" : "no"); }},
            {"Enter Child's Name", [&] { answers << boxes.input("Enter a real name for CHILD 3", "Enter Child's Name", QString()); }}};
        QFont bold = QApplication::font();
        bold.setBold(true);
        for (const auto &[title, ask] : asked) {
            int shown = 0;
            QTimer::singleShot(0, [&] {
                QWidget *box = QApplication::activeModalWidget();
                QVERIFY(box && QTest::qWaitForWindowExposed(box));
                shown = box->width();
                QTest::qWait(300); // a message box sizes itself anew at layout requests
                shown = qMin(shown, box->width());
                if (qobject_cast<QLineEdit *>(QApplication::focusWidget()))
                    pressKeys({}, "Ann");
                pressKeys(QKeySequence(Qt::Key_Return));
            });
            ask();
            const int needed = QFontMetrics(bold).horizontalAdvance(title) + 4 * 24;
            QVERIFY2(shown >= needed, qPrintable(QStringLiteral("%1: %2 wide, the title needs %3").arg(title).arg(shown).arg(needed)));
        }
        QCOMPARE(answers, QStringList({"yes", "Ann"}));
    }
};

QTEST_MAIN(tst_GatePrefs)
#include "tst_gate_prefs.moc"
