#include "browsing/UnblockedFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

namespace {

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

void writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
}

} // namespace

class TestUnblockedFile : public QObject
{
    Q_OBJECT

private slots:
    void readsFirstLine_data();
    void readsFirstLine();
    void readsNothingWithoutAFile();
    void readsATenMegabyteLine();
    void writesOneLine_data();
    void writesOneLine();
    void replacesTheWholeFile();
    void reportsAFileItCannotWrite_data();
    void reportsAFileItCannotWrite();

private:
    QTemporaryDir m_dir;
};

void TestUnblockedFile::readsFirstLine_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("line");
    QTest::newRow("CR LF line end") << QByteArray("A,B\r\nC,D\r\n") << "A,B";
    QTest::newRow("LF line end") << QByteArray("A,B\nC") << "A,B";
    QTest::newRow("lone CR line end") << QByteArray("A,B\rC") << "A,B";
    QTest::newRow("no final line end") << QByteArray("A,B") << "A,B";
    QTest::newRow("empty file") << QByteArray() << "";
    QTest::newRow("empty first line") << QByteArray("\r\nA,B\r\n") << "";
    QTest::newRow("8-bit characters come back byte for byte")
            << QByteArray("caf\xe9,\x80\xff\r\n") << QString::fromLatin1("caf\xe9,\x80\xff");
    QTest::newRow("binary bytes") << QByteArray("a\0b\x01\x7f", 5) << QString::fromLatin1("a\0b\x01\x7f", 5);
}

void TestUnblockedFile::readsFirstLine()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, line);
    const QString path = m_dir.filePath(QStringLiteral("read.tad"));
    writeBytes(path, bytes);
    QCOMPARE(UnblockedFile::readFirstLine(path), line);
}

void TestUnblockedFile::readsNothingWithoutAFile()
{
    QCOMPARE(UnblockedFile::readFirstLine(m_dir.filePath(QStringLiteral("missing.tad"))), QString());
    QCOMPARE(UnblockedFile::readFirstLine(m_dir.path()), QString());
    QCOMPARE(UnblockedFile::readFirstLine(QString()), QString());
}

void TestUnblockedFile::readsATenMegabyteLine()
{
    const QString path = m_dir.filePath(QStringLiteral("long.tad"));
    const QByteArray longLine(10 * 1024 * 1024, 'a');
    writeBytes(path, longLine + "\r\nsecond");
    const QString line = UnblockedFile::readFirstLine(path);
    QCOMPARE(line.size(), longLine.size());
    QVERIFY(!line.contains(u'\r') && !line.endsWith(u'd'));
}

void TestUnblockedFile::writesOneLine_data()
{
    QTest::addColumn<QString>("list");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("defaults saved again after a restart are written once")
            << "http:///,about:blank,,SITE-A,http:///,about:blank,,SITE-B,SITE-A"
            << QByteArray("http:///,about:blank,SITE-A,SITE-B\r\n");
    QTest::newRow("case counts as a different entry") << "abc,ABC,abc" << QByteArray("abc,ABC\r\n");
    QTest::newRow("8-bit characters written as single bytes") << QString::fromLatin1("caf\xe9") << QByteArray("caf\xe9\r\n");
    QTest::newRow("an entry beyond 8 bits is left out, not written as ?")
            << QStringLiteral("A,\u0100\u0101,B") << QByteArray("A,B\r\n");
    QTest::newRow("an entry with a line end is left out") << "A,B\nC,D" << QByteArray("A,D\r\n");
    QTest::newRow("nothing but empty entries") << ",," << QByteArray("\r\n");
}

void TestUnblockedFile::writesOneLine()
{
    QFETCH(QString, list);
    QFETCH(QByteArray, bytes);
    const QString path = m_dir.filePath(QStringLiteral("write.tad"));
    QString error;
    QVERIFY(UnblockedFile::write(path, list, &error));
    QVERIFY(error.isEmpty());
    QCOMPARE(readAll(path), bytes);
    QCOMPARE(UnblockedFile::readFirstLine(path), QString::fromLatin1(bytes.chopped(2)));
}

void TestUnblockedFile::replacesTheWholeFile()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("unblocked.tad"));
    writeBytes(path, QByteArray("OLD-A,OLD-B,OLD-C\r\nsecond line\r\nthird line\r\n"));
    QVERIFY(UnblockedFile::write(path, QStringLiteral("NEW"), nullptr));
    QCOMPARE(readAll(path), QByteArray("NEW\r\n"));
    // Written through a temporary file renamed over the old one: nothing else is left behind.
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("unblocked.tad")});
}

void TestUnblockedFile::reportsAFileItCannotWrite_data()
{
    QTest::addColumn<bool>("readOnlyFolder");
    QTest::newRow("read-only folder") << true;
    QTest::newRow("folder that is a file") << false;
}

void TestUnblockedFile::reportsAFileItCannotWrite()
{
    QFETCH(bool, readOnlyFolder);
    QTemporaryDir dir;
    QString path;
    if (readOnlyFolder) {
        if (geteuid() == 0)
            QSKIP("the superuser writes into read-only folders");
        path = dir.filePath(QStringLiteral("unblocked.tad"));
        writeBytes(path, QByteArray("KEEP\r\n"));
        QVERIFY(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ExeOwner));
    } else {
        writeBytes(dir.filePath(QStringLiteral("plain")), QByteArray("KEEP\r\n"));
        path = dir.filePath(QStringLiteral("plain/unblocked.tad"));
    }
    QString error;
    const bool written = UnblockedFile::write(path, QStringLiteral("A,B"), &error);
    QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QVERIFY(!written);
    QVERIFY2(error.contains(path), qPrintable(error));
    QCOMPARE(readAll(readOnlyFolder ? path : dir.filePath(QStringLiteral("plain"))), QByteArray("KEEP\r\n"));
}

QTEST_GUILESS_MAIN(TestUnblockedFile)
#include "tst_unblockedfile.moc"
