#include "shell/Identity.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

class tst_Identity : public QObject {
    Q_OBJECT
private slots:
    void newIdIsTheLocalTimeAndARandomPartAndIsReused();
    void randomPartHasNoLeadingZeros();
    void handEditedIdIsUsedAsItStands();
    void unwritableFolderStillGivesAnId();
};

void tst_Identity::newIdIsTheLocalTimeAndARandomPartAndIsReused()
{
    QTemporaryDir dir;
    const QString folder = dir.path() + QLatin1Char('/');
    const QDateTime now(QDate(2026, 3, 4), QTime(17, 5, 9));

    const Identity::LoadResult first = Identity::LoadUserId(folder, now);
    QVERIFY2(QRegularExpression(QStringLiteral("^20260304170509(0|[1-9][0-9]{0,5})$")).match(first.userId).hasMatch(),
             qPrintable(first.userId));
    QVERIFY(first.error.isEmpty());

    QFile file(Identity::fileName(folder));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), first.userId.toLatin1() + "\r\n");

    const Identity::LoadResult again = Identity::LoadUserId(folder, now.addDays(3));
    QCOMPARE(again.userId, first.userId);

    // Ids made in the same second by two installations differ: the random
    // part comes from the system's source, not from the time of day.
    QSet<QString> ids;
    for (int i = 0; i < 20; ++i) {
        QTemporaryDir other;
        ids.insert(Identity::LoadUserId(other.path() + QLatin1Char('/'), now).userId);
    }
    QVERIFY(ids.size() > 15);
}

void tst_Identity::randomPartHasNoLeadingZeros()
{
    const QDateTime at(QDate(2026, 1, 2), QTime(3, 4, 5));
    QCOMPARE(Identity::makeUserId(at, 0), QStringLiteral("202601020304050")); // a draw below one millionth
    QCOMPARE(Identity::makeUserId(at, 7), QStringLiteral("202601020304057"));
    QCOMPARE(Identity::makeUserId(at, 999999), QStringLiteral("20260102030405999999"));
}

void tst_Identity::handEditedIdIsUsedAsItStands()
{
    QTemporaryDir dir;
    const QString folder = dir.path() + QLatin1Char('/');
    QFile file(Identity::fileName(folder));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(" abc \r\nsecond line\r\n");
    file.close();
    QCOMPARE(Identity::LoadUserId(folder, QDateTime::currentDateTime()).userId, QStringLiteral(" abc "));
}

void tst_Identity::unwritableFolderStillGivesAnId()
{
    // A folder that does not exist cannot hold the file: the id is still made
    // and used, and the failure is reported.
    const Identity::LoadResult result =
        Identity::LoadUserId(QStringLiteral("/nonexistent/tadpole/"), QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5)),
                             [] { return 42u; });
    QCOMPARE(result.userId, QStringLiteral("2026010203040542"));
    QVERIFY(!result.error.isEmpty());
}

QTEST_GUILESS_MAIN(tst_Identity)
#include "tst_identity.moc"
