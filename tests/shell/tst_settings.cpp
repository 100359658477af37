#include "shell/SettingsFile.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class tst_Settings : public QObject {
    Q_OBJECT
private slots:
    void defaultFileIsWrittenByteForByteAndKeptOnceItExists();
    void readingFollowsTheKeyRules_data();
    void readingFollowsTheKeyRules();
    void timeLimitCaptions();
    void garbageNeverStopsTheReader();
    void aLineBreakIsNeverWritten();
};

static const QDateTime TenOClock(QDate(2026, 12, 6), QTime(10, 0, 0));

static QString folderOf(const QTemporaryDir &dir)
{
    return dir.path() + QLatin1Char('/');
}

static void writeRaw(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

void tst_Settings::defaultFileIsWrittenByteForByteAndKeptOnceItExists()
{
    QTemporaryDir dir;
    QVERIFY(SettingsFile::EnsureSettingsFile(folderOf(dir)));
    QFile file(SettingsFile::fileName(folderOf(dir)));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("pw=.\r\nstop=0\r\nstart=0\r\ntimer=0\r\n"));
    file.close();

    ParentalSettings read;
    SettingsFile::ReadSettings(folderOf(dir), TenOClock, read);
    QCOMPARE(read.Password, QString());
    QCOMPARE(read.StopDisabled, QStringLiteral("0"));
    QCOMPARE(read.TimeLimit, QStringLiteral("0"));
    QCOMPARE(read.LimitEnd, TenOClock.addDays(365));

    // A parent's file is never replaced by the defaults.
    QVERIFY(SettingsFile::write(folderOf(dir), QStringLiteral("secret"), true, QStringLiteral("1 Hour")));
    QVERIFY(SettingsFile::EnsureSettingsFile(folderOf(dir)));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("pw=secret\r\nstop=1\r\nstart=0\r\ntimer=1 Hour\r\n"));
}

void tst_Settings::readingFollowsTheKeyRules_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("stop");
    QTest::addColumn<QString>("timer");

    QTest::newRow("key in upper case reads the same") << QByteArray("PW=abc\r\nSTOP=1\r\nTIMER=1 Hour\r\n") << "abc" << "1" << "1 Hour";
    QTest::newRow("a single full stop means no password") << QByteArray("pw=.\r\n") << "" << "" << "";
    QTest::newRow("keys in another order with other keys between")
        << QByteArray("timer=30 minutes\r\ncolour=blue\r\nstop=0\r\npw=x\r\n") << "x" << "0" << "30 minutes";
    QTest::newRow("a repeated key: the later line wins") << QByteArray("stop=1\r\nstop=1\r\nstop=0\r\n") << "" << "0" << "";
    QTest::newRow("a second = ends the value") << QByteArray("pw=ab=cd\r\n") << "ab" << "" << "";
    QTest::newRow("lines without = change nothing") << QByteArray("pw\r\nhello\r\npw=z\r\n") << "z" << "" << "";
    QTest::newRow("values are not trimmed") << QByteArray("pw= pad \r\n") << " pad " << "" << "";
    QTest::newRow("a line in another code page spoils only itself")
        << QByteArray("note=caf\xe9\r\npw=Fr\xc3\xb8sch\xe8\x9b\x99\r\n") << "Frøsch蛙" << "" << "";
    QTest::newRow("a password line that is not UTF-8 reads byte for byte")
        << QByteArray("pw=caf\xe9\r\nstop=1\r\n") << "café" << "1" << "";
    QTest::newRow("LF and lone CR line ends") << QByteArray("pw=a\nstop=1\rtimer=2 Hours") << "a" << "1" << "2 Hours";
}

void tst_Settings::readingFollowsTheKeyRules()
{
    QFETCH(QByteArray, content);
    QTemporaryDir dir;
    writeRaw(SettingsFile::fileName(folderOf(dir)), content);
    ParentalSettings read;
    SettingsFile::ReadSettings(folderOf(dir), TenOClock, read);
    QTEST(read.Password, "password");
    QTEST(read.StopDisabled, "stop");
    QTEST(read.TimeLimit, "timer");
}

void tst_Settings::timeLimitCaptions()
{
    // The captions in the order the preferences list them grant 15 minutes more each.
    const QStringList captions = {"No Limit", "15 minutes", "30 minutes", "45 minutes", "1 Hour",
                                  "1 Hr. and 15 min.", "1 Hr. and 30 min.", "1 Hr. and 45 min.", "2 Hours"};
    for (int i = 1; i < captions.size(); ++i)
        QCOMPARE(SettingsFile::TimeLimitEnd(captions.at(i), TenOClock), TenOClock.addSecs(i * 15 * 60));
    // "No Limit", the default "0", an empty or hand-typed caption: a year.
    for (const char *none : {"No Limit", "0", "", "2 hours"})
        QCOMPARE(SettingsFile::TimeLimitEnd(QString::fromLatin1(none), TenOClock), TenOClock.addDays(365));
}

void tst_Settings::garbageNeverStopsTheReader()
{
    QTemporaryDir dir;
    QByteArray garbage(10 * 1024 * 1024, 'x');
    garbage[5] = '\0';
    garbage[77] = char(0xff);
    garbage += "\r\npw=kept";
    writeRaw(SettingsFile::fileName(folderOf(dir)), garbage);
    ParentalSettings read;
    SettingsFile::ReadSettings(folderOf(dir), TenOClock, read);
    QCOMPARE(read.Password, QStringLiteral("kept"));

    // A file that cannot be read leaves the values as they were.
    ParentalSettings untouched;
    untouched.Password = QStringLiteral("before");
    SettingsFile::ReadSettings(folderOf(dir) + QStringLiteral("missing/"), TenOClock, untouched);
    QCOMPARE(untouched.Password, QStringLiteral("before"));
}

void tst_Settings::aLineBreakIsNeverWritten()
{
    // Pasted into a one-line box, a line break would let a value write a line of its own.
    QTemporaryDir dir;
    QVERIFY(SettingsFile::EnsureSettingsFile(folderOf(dir)));
    const QString unlock = QStringLiteral("No Limit\r\npw=.");
    const QString split = QStringLiteral("fr\nog");
    QString error;
    QVERIFY(!SettingsFile::write(folderOf(dir), QStringLiteral("frog"), true, unlock, &error));
    QVERIFY(!error.isEmpty());
    QVERIFY(!SettingsFile::write(folderOf(dir), split, true, QStringLiteral("1 Hour"), &error));
    QFile file(SettingsFile::fileName(folderOf(dir)));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("pw=.\r\nstop=0\r\nstart=0\r\ntimer=0\r\n"));
}

QTEST_GUILESS_MAIN(tst_Settings)
#include "tst_settings.moc"
