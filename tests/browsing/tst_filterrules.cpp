#include "browsing/FilterRules.h"
#include "browsing/SiteNames.h"

#include <QElapsedTimer>
#include <QTest>

using namespace FilterRules;

namespace {
const DynamicHostRule Rule{QStringLiteral("DYNHOST.NET"), QStringLiteral("TADPOLE.TEST")};
}

class TestFilterRules : public QObject
{
    Q_OBJECT

private slots:
    void extractDomain_data();
    void extractDomain();
    void popupDomainIgnoresDynamicHost_data();
    void popupDomainIgnoresDynamicHost();
    void longAddressesStayFast_data();
    void longAddressesStayFast();
    void statusTexts();
    void blockedStatus_data();
    void blockedStatus();
    void progress_data();
    void progress();
    void specialSites_data();
    void specialSites();
};

void TestFilterRules::extractDomain_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("site");
    QTest::newRow("web scheme, www. and a path") << "http://www.funmaths.org/games/x.htm" << "FUNMATHS.ORG";
    QTest::newRow("secure scheme") << "https://Example.COM/a?b=c" << "EXAMPLE.COM";
    QTest::newRow("www. removed in the middle too") << "http://games.www.example.com/" << "GAMES.EXAMPLE.COM";
    QTest::newRow("the port stays") << "http://localhost:8080/tad/tad_start.asp" << "LOCALHOST:8080";
    QTest::newRow("about:blank") << "about:blank" << "ABOUT:BLANK";
    QTest::newRow("other scheme with // keeps only its name") << "ftp://files.example.com/a" << "FTP:";
    QTest::newRow("data address is cut at its first slash") << "data:text/html,<b>hi</b>" << "DATA:TEXT";
    QTest::newRow("script address has no slash") << "javascript:void(0)" << "JAVASCRIPT:VOID(0)";
    QTest::newRow("empty address") << "" << "";
    QTest::newRow("only accented letters keep their case")
            << "http://b\u00fccher.example/" << "B\u00fcCHER.EXAMPLE";
    QTest::newRow("dynamic host label gives the product domain") << "http://tadpole.dynhost.net/x" << "TADPOLE.TEST";
    QTest::newRow("dynamic host label with www. and a port") << "http://www.kids.dynhost.net:81/" << "TADPOLE.TEST";
    QTest::newRow("label only in the path does not count") << "http://a.example/dynhost.net" << "A.EXAMPLE";
}

void TestFilterRules::extractDomain()
{
    QFETCH(QString, address);
    QFETCH(QString, site);
    QCOMPARE(ExtractDomain(address, Rule), site);
}

void TestFilterRules::popupDomainIgnoresDynamicHost_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("site");
    QTest::newRow("host under the dynamic label keeps its name")
            << "http://tadpole.dynhost.net/x" << "TADPOLE.DYNHOST.NET";
    QTest::newRow("web scheme, www. and port") << "https://www.funmaths.org:443/a" << "FUNMATHS.ORG:443";
    QTest::newRow("about:blank") << "about:blank" << "ABOUT:BLANK";
}

void TestFilterRules::popupDomainIgnoresDynamicHost()
{
    QFETCH(QString, address);
    QFETCH(QString, site);
    QCOMPARE(ExtractPopupDomain(address), site);
    // An unset label is no rule at all, not a label every site contains.
    QCOMPARE(ExtractDomain(address, DynamicHostRule{QString(), QStringLiteral("TADPOLE.TEST")}), site);
}

void TestFilterRules::longAddressesStayFast_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<qsizetype>("siteLength");
    const qsizetype size = 2 * 1024 * 1024;
    QTest::newRow("2 MB of www.") << QString("www.").repeated(size / 4) << qsizetype(0);
    QTest::newRow("2 MB of web schemes") << QString("http://").repeated(size / 7) << qsizetype(0);
    QTest::newRow("2 MB host") << "http://" + QString(size, u'a') << size;
    QTest::newRow("2 MB path") << "http://a.example/" + QString(size, u'/') << qsizetype(9);
}

void TestFilterRules::longAddressesStayFast()
{
    QFETCH(QString, address);
    QFETCH(qsizetype, siteLength);
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(ExtractDomain(address, Rule).size(), siteLength);
    QCOMPARE(ExtractPopupDomain(address).size(), siteLength);
    QVERIFY2(timer.elapsed() < 1000, qPrintable(QString::number(timer.elapsed()) + " ms"));
}

void TestFilterRules::statusTexts()
{
    const QString address = "http://blocked.example/" + QString(57, u'p');
    QCOMPARE(address.size(), 80);
    QCOMPARE(blockedStatusText(address), "Blocked: " + address.left(50));
    QCOMPARE(popupAllowedStatusText(address), address.left(50));
    QCOMPARE(blockedStatusText(QStringLiteral("about:x")), QStringLiteral("Blocked: about:x"));
    QCOMPARE(popupAllowedStatusText(QStringLiteral("about:x")), QStringLiteral("about:x"));
}

void TestFilterRules::blockedStatus_data()
{
    QTest::addColumn<QString>("caption");
    QTest::addColumn<bool>("blocked");
    QTest::newRow("the filter's own text") << blockedStatusText(QStringLiteral("http://x/")) << true;
    QTest::newRow("lower case does not count") << "blocked: http://x/" << false;
    QTest::newRow("start-up text") << "Ready" << false;
    QTest::newRow("empty line") << "" << false;
    QTest::newRow("seven characters") << "Blocked" << false;
}

void TestFilterRules::blockedStatus()
{
    QFETCH(QString, caption);
    QFETCH(bool, blocked);
    QCOMPARE(isBlockedStatus(caption), blocked);
}

void TestFilterRules::progress_data()
{
    QTest::addColumn<int>("progress");
    QTest::addColumn<int>("progressMax");
    QTest::addColumn<bool>("visible");
    QTest::addColumn<float>("maximum");
    QTest::addColumn<float>("value");
    // The bar was last shown at 30 of 400.
    QTest::newRow("(0, 0) hides and keeps the maximum") << 0 << 0 << false << 400.0f << 0.0f;
    QTest::newRow("negative maximum hides") << 5 << -1 << false << 400.0f << 0.0f;
    QTest::newRow("(50, 100) shows at 50") << 50 << 100 << true << 100.0f << 50.0f;
    QTest::newRow("(150, 100) hides") << 150 << 100 << false << 100.0f << 0.0f;
    QTest::newRow("(0, 100) hides") << 0 << 100 << false << 100.0f << 0.0f;
    QTest::newRow("(100, 100) shows full") << 100 << 100 << true << 100.0f << 100.0f;
}

void TestFilterRules::progress()
{
    QFETCH(int, progress);
    QFETCH(int, progressMax);
    QFETCH(bool, visible);
    QFETCH(float, maximum);
    QFETCH(float, value);
    const ProgressState state = progressFor(progress, progressMax, ProgressState{true, 400.0f, 30.0f});
    QCOMPARE(state.visible, visible);
    QCOMPARE(state.maximum, maximum);
    QCOMPARE(state.value, value);
}

void TestFilterRules::specialSites_data()
{
    QTest::addColumn<QString>("caption");
    QTest::addColumn<bool>("special");
    QTest::newRow("exact domain") << "TINYTV.EXAMPLE" << true;
    QTest::newRow("lower case is not the same") << "tinytv.example" << false;
    QTest::newRow("a sub-domain is not the same") << "GAMES.TINYTV.EXAMPLE" << false;
    QTest::newRow("empty caption never matches an unset domain") << "" << false;
}

void TestFilterRules::specialSites()
{
    QFETCH(QString, caption);
    QFETCH(bool, special);
    const QStringList domains = {QStringLiteral("TOYMAKER.EXAMPLE"), QString(), QStringLiteral("TINYTV.EXAMPLE")};
    QCOMPARE(isSpecialSite(caption, domains), special);
}

QTEST_GUILESS_MAIN(TestFilterRules)
#include "tst_filterrules.moc"
