#include "shell/Identity.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

class tst_Identity : public QObject {
    Q_OBJECT
private slots:
    void newIdIsTheLocalTimeAndARandomPartAndIsReused();
    void randomPartHasNoLeadingZeros_data();
    void randomPartHasNoLeadingZeros();
    void handEditedIdIsUsedAsItStands();
    void unwritableFolderStillGivesAnId();
    void versionTexts();
};

void tst_Identity::newIdIsTheLocalTimeAndARandomPartAndIsReused()
{
    QTemporaryDir dir;
    const QString folder = dir.path() + QLatin1Char('/');
    const QDateTime now(QDate(2026, 3, 4), QTime(17, 5, 9));

    const Identity::LoadResult first = Identity::LoadUserId(folder, now);
    QVERIFY2(QRegularExpression(QStringLiteral("^20260304170509(0|[1-9][0-9]{0,5})$")).match(first.UserId).hasMatch(),
             qPrintable(first.UserId));
    QVERIFY(first.error.isEmpty());

    QFile file(Identity::fileName(folder));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), first.UserId.toLatin1() + "\r\n");

    const Identity::LoadResult again = Identity::LoadUserId(folder, now.addDays(3));
    QCOMPARE(again.UserId, first.UserId);

    // Ids made in the same second by two installations differ: the random
    // part comes from the system's source, not from the time of day.
    QSet<QString> ids;
    for (int i = 0; i < 20; ++i) {
        QTemporaryDir other;
        ids.insert(Identity::LoadUserId(other.path() + QLatin1Char('/'), now).UserId);
    }
    QVERIFY(ids.size() > 15);
}

void tst_Identity::randomPartHasNoLeadingZeros_data()
{
    QTest::addColumn<quint32>("random");
    QTest::addColumn<QString>("id");
    QTest::newRow("a draw below one millionth ends in a single 0") << 0u << "202601020304050";
    QTest::newRow("7 adds one digit") << 7u << "202601020304057";
    QTest::newRow("the largest adds six") << 999999u << "20260102030405999999";
}

void tst_Identity::randomPartHasNoLeadingZeros()
{
    QFETCH(quint32, random);
    QTEST(Identity::makeUserId(QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5)), random), "id");
}

void tst_Identity::handEditedIdIsUsedAsItStands()
{
    QTemporaryDir dir;
    const QString folder = dir.path() + QLatin1Char('/');
    QFile file(Identity::fileName(folder));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(" abc \r\nsecond line\r\n");
    file.close();
    QCOMPARE(Identity::LoadUserId(folder, QDateTime::currentDateTime()).UserId, QStringLiteral(" abc "));
}

void tst_Identity::versionTexts()
{
    QCOMPARE(Identity::shortVersion(), QStringLiteral("2.0"));
    QCOMPARE(Identity::longVersion(), QStringLiteral("2.04"));
}

void tst_Identity::unwritableFolderStillGivesAnId()
{
    // A folder that does not exist cannot hold the file: the id is still made
    // and used, and the failure is reported.
    const Identity::LoadResult result =
        Identity::LoadUserId(QStringLiteral("/nonexistent/tadpole/"), QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5)),
                             [] { return 42u; });
    QCOMPARE(result.UserId, QStringLiteral("2026010203040542"));
    QVERIFY(!result.error.isEmpty());
}

QTEST_GUILESS_MAIN(tst_Identity)
#include "tst_identity.moc"
