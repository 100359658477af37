#include "parents/frmPref.h"
#include "parents/frmSecurity.h"
#include "shell/SettingsFile.h"
#include "support/TestDoubles.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

// The main window as the parents' windows reach it, counting what they ask.
class RecordingMainWindow : public MainWindowLink {
public:
    void gatePassed() override { ++gatesPassed; }
    void setFaceToolTip(int, const QString &) override {}
    void clearMessageLine() override { ++messageLinesCleared; }
    QString childPageTitle() const override { return {}; }
    int gatesPassed = 0;
    int messageLinesCleared = 0;
};

// The outside of the gate and the preferences: a program folder of their
// own, values in force that a refusal must leave alone, scripted boxes.
struct ParentsWorld {
    ParentsWorld()
    {
        globals.AppFolder = folder.path() + QLatin1Char('/');
        globals.settings = inForce;
        context.globals = &globals;
        context.dialogs = &dialogs;
        context.clock = &clock;
        context.main = &main;
    }
    QByteArray fileBytes() const
    {
        QFile file(SettingsFile::fileName(globals.AppFolder));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    void writeFile(const QByteArray &bytes) const
    {
        QFile file(SettingsFile::fileName(globals.AppFolder));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    QTemporaryDir folder;
    ParentalSettings inForce{QStringLiteral("old"), QStringLiteral("1"), QStringLiteral("2 Hours"),
                             QDateTime(QDate(2026, 12, 6), QTime(9, 0))};
    modGlobals globals;
    ScriptedDialogs dialogs;
    FixedClock clock;
    RecordingMainWindow main;
    ParentsContext context;
};

static const QByteArray DefaultFile("pw=.\r\nstop=0\r\nstart=0\r\ntimer=0\r\n");
static const QString WrongPassword =
    QStringLiteral("Wrong Password! If you need a hint type 'c_l_u_e' in the password box!");

static bool showActive(QWidget *window)
{
    window->show();
    window->activateWindow();
    return QTest::qWaitForWindowActive(window);
}

// A click where the control is drawn, delivered to whatever really lies there.
static void clickAt(QWidget *control)
{
    QWidget *window = control->window();
    const QPoint at = control->mapTo(window, control->rect().center());
    QWidget *top = window->childAt(at);
    QVERIFY2(top, qPrintable(control->objectName()));
    QTest::mouseClick(top, Qt::LeftButton, {}, top->mapFrom(window, at));
}

// Keys go where the keyboard's would: to the widget with the focus.
// QTest::keyClicks carries Latin-1 only; other characters arrive as the
// text of a key event, as an input method delivers them.
static void type(const QString &text)
{
    QWidget *focused = QApplication::focusWidget();
    QVERIFY(focused);
    for (const QChar c : text) {
        if (c.unicode() < 0x100)
            QTest::keyClicks(focused, QString(c));
        else
            QTest::sendKeyEvent(QTest::Click, focused, Qt::Key_unknown, QString(c), Qt::NoModifier);
    }
}

static void press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QVERIFY(QApplication::focusWidget());
    QTest::keyClick(QApplication::focusWidget(), key, modifiers);
}

static void compareSettings(const ParentalSettings &actual, const ParentalSettings &expected)
{
    QCOMPARE(actual.Password, expected.Password);
    QCOMPARE(actual.StopDisabled, expected.StopDisabled);
    QCOMPARE(actual.TimeLimit, expected.TimeLimit);
    QCOMPARE(actual.LimitEnd, expected.LimitEnd);
}

// Replaces a text field's whole text as a parent would: click, select all, type.
static void retype(QWidget *field, const QString &text)
{
    clickAt(field);
    press(Qt::Key_A, Qt::ControlModifier);
    if (text.isEmpty())
        press(Qt::Key_Backspace);
    else
        type(text);
}

class tst_GatePrefs : public QObject {
    Q_OBJECT
private slots:
    void gateAnswersWhatIsTyped_data();
    void gateAnswersWhatIsTyped();
    void gateClosedWithItsCloseBoxRefuses();

    void preferencesCheckThenSave_data();
    void preferencesCheckThenSave();
    void preferencesKeepANonAsciiPasswordAsTyped();
    void preferencesThatCannotBeWrittenChangeNothing();
};

void tst_GatePrefs::gateAnswersWhatIsTyped_data()
{
    // Steps: "type:TEXT", "click:CONTROL", "key:Enter|Tab|Backtab|Alt+P".
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<bool>("accepted");

    const QStringList none;
    QTest::newRow("the password in another case opens the gate")
        << "Frog" << QStringList{"type:fROG", "click:Command1"} << none << true;
    QTest::newRow("a trailing blank after the right password is wrong")
        << "Frog" << QStringList{"type:Frog ", "click:Command1"} << QStringList{WrongPassword} << false;
    QTest::newRow("an empty entry is right when no password is stored")
        << "" << QStringList{"click:Command1"} << none << true;
    QTest::newRow("Enter with the right password opens the gate once")
        << "Frog" << QStringList{"type:frog", "key:Enter"} << none << true;
    QTest::newRow("Enter with a wrong password checks it once")
        << "Frog" << QStringList{"type:toad", "key:Enter"} << QStringList{WrongPassword} << false;
    QTest::newRow("three wrong tries: three messages, the gate still open")
        << "Frog"
        << QStringList{"type:a", "click:Command1", "click:pw1", "type:b", "key:Enter", "click:pw1", "type:c",
                       "click:Command1"}
        << QStringList{WrongPassword, WrongPassword, WrongPassword} << false;
    QTest::newRow("the button checks the text as typed after tabbing away")
        << "Frog" << QStringList{"type:frog", "key:Tab", "click:Command1"} << none << true;
    // Focus that arrives by key selects the text too, so these rows submit the emptied box.
    QTest::newRow("tabbing back into the box empties it")
        << "Frog" << QStringList{"type:frog", "key:Tab", "key:Backtab", "key:Enter"} << QStringList{WrongPassword}
        << false;
    QTest::newRow("the label's access key empties the box")
        << "Frog" << QStringList{"type:frog", "key:Tab", "key:Alt+P", "key:Enter"} << QStringList{WrongPassword}
        << false;
    QTest::newRow("clicking back into the box empties it")
        << "Frog" << QStringList{"type:fr", "key:Tab", "click:pw1", "type:og", "key:Enter"}
        << QStringList{WrongPassword} << false;

    const QString hint = QStringLiteral("Here's Your Hint: \r\n");
    QTest::newRow("hint for no password is empty")
        << "" << QStringList{"type:c_l_u_e", "key:Enter"} << QStringList{hint} << false;
    QTest::newRow("hint for one character shows it")
        << "a" << QStringList{"type:C_L_U_E", "click:Command1"} << QStringList{hint + "A"} << false;
    QTest::newRow("hint for two characters shows both")
        << "ab" << QStringList{"type:c_L_u_E", "click:Command1"} << QStringList{hint + "AB"} << false;
    QTest::newRow("hint for three characters masks the middle one")
        << "abc" << QStringList{"type:c_l_u_e", "click:Command1"} << QStringList{hint + "A*C"} << false;
    QTest::newRow("hint for ten characters keeps the first and last")
        << "tadpole12x" << QStringList{"type:c_l_u_e", "click:Command1"} << QStringList{hint + "T********X"} << false;
    QTest::newRow("the hint keyword as the password still shows the hint")
        << "c_l_u_e" << QStringList{"type:c_l_u_e", "click:Command1"} << QStringList{hint + "C*****E"} << false;
    QTest::newRow("after a hint the box is empty for the next try")
        << "abc" << QStringList{"type:c_l_u_e", "click:Command1", "click:pw1", "type:ABC", "key:Enter"}
        << QStringList{hint + "A*C"} << true;
}

void tst_GatePrefs::gateAnswersWhatIsTyped()
{
    QFETCH(QString, stored);
    QFETCH(QStringList, steps);
    ParentsWorld world;
    world.globals.settings.Password = stored;
    world.globals.PasswordAccepted = true; // an earlier opening's success

    frmSecurity gate(world.context);
    QVERIFY(showActive(&gate));
    QVERIFY(!world.globals.PasswordAccepted);
    QCOMPARE(QApplication::focusWidget(), gate.findChild<QLineEdit *>("pw1"));

    for (const QString &step : std::as_const(steps)) {
        const QString what = step.section(QLatin1Char(':'), 1);
        if (step.startsWith("type:"))
            type(what);
        else if (step.startsWith("click:"))
            clickAt(gate.findChild<QWidget *>(what));
        else if (what == "Enter")
            press(Qt::Key_Return);
        else if (what == "Tab")
            press(Qt::Key_Tab);
        else if (what == "Backtab")
            press(Qt::Key_Tab, Qt::ShiftModifier);
        else if (what == "Alt+P")
            press(Qt::Key_P, Qt::AltModifier);
        if (QTest::currentTestFailed())
            return;
    }

    QStringList texts;
    for (const ScriptedDialogs::Shown &shown : std::as_const(world.dialogs.messages)) {
        texts << shown.text;
        QCOMPARE(shown.title, Dialogs::ApplicationTitle);
    }
    QTEST(texts, "messages");
    QTEST(world.globals.PasswordAccepted, "accepted");
    QCOMPARE(world.main.gatesPassed, world.globals.PasswordAccepted ? 1 : 0);
    QCOMPARE(gate.isVisible(), !world.globals.PasswordAccepted);
}

void tst_GatePrefs::gateClosedWithItsCloseBoxRefuses()
{
    ParentsWorld world;
    world.globals.settings.Password = QStringLiteral("frog");
    {
        frmSecurity first(world.context);
        QVERIFY(showActive(&first));
        type(QStringLiteral("frog"));
        press(Qt::Key_Return);
        QVERIFY(world.globals.PasswordAccepted);
        QCOMPARE(world.main.gatesPassed, 1);
    }

    // The child opens the gate later and closes it unanswered.
    frmSecurity second(world.context);
    QTimer::singleShot(0, &second, [&second] { second.close(); });
    QCOMPARE(second.exec(), int(QDialog::Rejected));
    QVERIFY(!world.globals.PasswordAccepted);
    QCOMPARE(world.main.gatesPassed, 1);
}

void tst_GatePrefs::preferencesCheckThenSave_data()
{
    // A null text leaves the field as loaded; a refusal leaves file and values alone.
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("tickStop");
    QTest::addColumn<QString>("timer");
    QTest::addColumn<QString>("refusal");
    QTest::addColumn<QString>("timerAfter");
    QTest::addColumn<QByteArray>("saved");

    const QString asLoaded;
    const QString needStopPassword = "You need to enter a password to disable the STOP button.";
    const QString needTimerPassword = "You need to enter a password to set a timer.";
    const QString needStop = "You need to disable the STOP button to set a timer.";
    const QString noEquals = "You cannot use the '=' sign in our password";
    const QString noDot = "You cannot use '.' as your password";

    QTest::newRow("default file saved at once: its 0 needs a password")
        << DefaultFile << asLoaded << false << asLoaded << needTimerPassword << "0" << QByteArray();
    QTest::newRow("default file with No Limit chosen is saved")
        << DefaultFile << asLoaded << false << "No Limit" << "" << "No Limit"
        << QByteArray("pw=.\r\nstop=0\r\nstart=0\r\ntimer=No Limit\r\n");
    QTest::newRow("an empty combo with nothing else is saved as No Limit")
        << DefaultFile << asLoaded << false << "" << "" << "No Limit"
        << QByteArray("pw=.\r\nstop=0\r\nstart=0\r\ntimer=No Limit\r\n");
    QTest::newRow("an empty combo becomes No Limit even when a check then fails")
        << DefaultFile << asLoaded << true << "" << needStopPassword << "No Limit" << QByteArray();
    QTest::newRow("'=' refused even when every other choice is valid")
        << DefaultFile << "fr=g" << true << "30 minutes" << noEquals << "30 minutes" << QByteArray();
    QTest::newRow("'=' told before a missing STOP lock")
        << DefaultFile << "=" << false << "30 minutes" << noEquals << "30 minutes" << QByteArray();
    QTest::newRow("a lone '.' refused as a password")
        << DefaultFile << "." << true << "No Limit" << noDot << "No Limit" << QByteArray();
    QTest::newRow("'.' told before a missing STOP lock")
        << DefaultFile << "." << false << "30 minutes" << noDot << "30 minutes" << QByteArray();
    QTest::newRow("a STOP lock without a password")
        << DefaultFile << asLoaded << true << "No Limit" << needStopPassword << "No Limit" << QByteArray();
    QTest::newRow("the STOP message comes before the timer's")
        << DefaultFile << asLoaded << true << "30 minutes" << needStopPassword << "30 minutes" << QByteArray();
    QTest::newRow("a timer without a password")
        << DefaultFile << asLoaded << false << "30 minutes" << needTimerPassword << "30 minutes" << QByteArray();
    QTest::newRow("a timer with STOP still enabled")
        << DefaultFile << "frog" << false << "30 minutes" << needStop << "30 minutes" << QByteArray();
    QTest::newRow("password, STOP locked and 30 minutes are saved")
        << DefaultFile << "frog" << true << "30 minutes" << "" << "30 minutes"
        << QByteArray("pw=frog\r\nstop=1\r\nstart=0\r\ntimer=30 minutes\r\n");
    QTest::newRow("a hand-typed time limit is saved as typed")
        << DefaultFile << "frog" << true << "20 minutes" << "" << "20 minutes"
        << QByteArray("pw=frog\r\nstop=1\r\nstart=0\r\ntimer=20 minutes\r\n");
    QTest::newRow("a caption typed in lower case is kept as typed")
        << DefaultFile << "frog" << true << "2 hours" << "" << "2 hours"
        << QByteArray("pw=frog\r\nstop=1\r\nstart=0\r\ntimer=2 hours\r\n");
    QTest::newRow("a STOP lock needs no time limit")
        << DefaultFile << "Frog Pond" << true << "No Limit" << "" << "No Limit"
        << QByteArray("pw=Frog Pond\r\nstop=1\r\nstart=0\r\ntimer=No Limit\r\n");
    QTest::newRow("dots within a password are an ordinary password")
        << DefaultFile << ".." << false << "No Limit" << "" << "No Limit"
        << QByteArray("pw=..\r\nstop=0\r\nstart=0\r\ntimer=No Limit\r\n");

    const QByteArray locked("PW=Secret\r\nStop=1\r\nstart=0\r\nTIMER=1 Hour\r\n");
    QTest::newRow("a locked file is shown and saved back as it was")
        << locked << asLoaded << false << asLoaded << "" << "1 Hour"
        << QByteArray("pw=Secret\r\nstop=1\r\nstart=0\r\ntimer=1 Hour\r\n");
    QTest::newRow("emptying a loaded password refuses its STOP lock")
        << locked << "" << false << asLoaded << needStopPassword << "1 Hour" << QByteArray();
}

void tst_GatePrefs::preferencesCheckThenSave()
{
    QFETCH(QByteArray, before);
    QFETCH(QString, password);
    QFETCH(bool, tickStop);
    QFETCH(QString, timer);
    QFETCH(QString, refusal);
    QFETCH(QByteArray, saved);
    ParentsWorld world;
    world.writeFile(before);

    frmPref window(world.context);
    QVERIFY(showActive(&window));
    if (!password.isNull())
        retype(window.findChild<QLineEdit *>("txtPass"), password);
    if (tickStop)
        clickAt(window.findChild<QCheckBox *>("chkStop"));
    if (!timer.isNull())
        retype(window.findChild<QComboBox *>("cmbTimeLimit"), timer);
    clickAt(window.findChild<QWidget *>("Command1"));
    if (QTest::currentTestFailed())
        return;

    QTEST(window.findChild<QComboBox *>("cmbTimeLimit")->currentText(), "timerAfter");
    if (!refusal.isEmpty()) {
        QCOMPARE(world.dialogs.messages.size(), 1);
        QCOMPARE(world.dialogs.messages.first().text, refusal);
        QCOMPARE(world.dialogs.messages.first().title, Dialogs::ApplicationTitle);
        QVERIFY(window.isVisible());
        QCOMPARE(world.fileBytes(), before);
        compareSettings(world.globals.settings, world.inForce);
        QCOMPARE(world.main.messageLinesCleared, 0);
        return;
    }

    QCOMPARE(world.dialogs.messages.size(), 0);
    QVERIFY(!window.isVisible());
    QCOMPARE(world.fileBytes(), saved);
    // In force at once: what runs is what the next start reads, the limit counted from the save.
    ParentalSettings next;
    SettingsFile::ReadSettings(world.globals.AppFolder, world.clock.now(), next);
    compareSettings(world.globals.settings, next);
    QCOMPARE(world.main.messageLinesCleared, 1);
}

void tst_GatePrefs::preferencesKeepANonAsciiPasswordAsTyped()
{
    const QString typed = QStringLiteral("Fr\u00f8sch \u86d9");
    ParentsWorld world;
    world.writeFile(DefaultFile);
    {
        frmPref window(world.context);
        QVERIFY(showActive(&window));
        retype(window.findChild<QLineEdit *>("txtPass"), typed);
        retype(window.findChild<QComboBox *>("cmbTimeLimit"), QStringLiteral("No Limit"));
        clickAt(window.findChild<QWidget *>("Command1"));
        QVERIFY(!window.isVisible());
    }
    QVERIFY(world.fileBytes().startsWith("pw=" + typed.toUtf8() + "\r\n"));

    // A line added by an editor in another code page must not spoil the password line.
    QFile file(SettingsFile::fileName(world.globals.AppFolder));
    QVERIFY(file.open(QIODevice::Append));
    file.write("note=caf\xe9\r\n");
    file.close();

    ParentalSettings next;
    SettingsFile::ReadSettings(world.globals.AppFolder, world.clock.now(), next);
    QCOMPARE(next.Password, typed);
    frmPref reopened(world.context);
    QCOMPARE(reopened.findChild<QLineEdit *>("txtPass")->text(), typed);

    // And the gate lets the parent in with the same keys after a restart.
    world.globals.settings = next;
    frmSecurity gate(world.context);
    QVERIFY(showActive(&gate));
    type(typed.toUpper());
    press(Qt::Key_Return);
    QVERIFY(world.globals.PasswordAccepted);
}

void tst_GatePrefs::preferencesThatCannotBeWrittenChangeNothing()
{
    ParentsWorld world;
    // A folder in the file's place cannot be replaced, whoever runs the test.
    QVERIFY(QDir(world.folder.path()).mkdir(QStringLiteral("control.ini")));

    frmPref window(world.context);
    QVERIFY(showActive(&window));
    retype(window.findChild<QLineEdit *>("txtPass"), QStringLiteral("frog"));
    retype(window.findChild<QComboBox *>("cmbTimeLimit"), QStringLiteral("No Limit"));
    clickAt(window.findChild<QWidget *>("Command1"));

    QCOMPARE(world.dialogs.messages.size(), 1);
    QVERIFY(world.dialogs.messages.first().text.startsWith("Your changes could not be saved, so nothing has changed."));
    QCOMPARE(world.dialogs.messages.first().title, QStringLiteral("Tadpole"));
    QVERIFY(window.isVisible());
    QVERIFY(QFileInfo(SettingsFile::fileName(world.globals.AppFolder)).isDir());
    compareSettings(world.globals.settings, world.inForce);
    QCOMPARE(world.main.messageLinesCleared, 0);
}

QTEST_MAIN(tst_GatePrefs)
#include "tst_gate_prefs.moc"
