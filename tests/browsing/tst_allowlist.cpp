#include "browsing/AllowList.h"
#include "browsing/SiteNames.h"

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QTest>

namespace {

// The reference the matcher must agree with: the plain loop over every entry.
QString referenceUpper(const QString &text)
{
    QString upper = text;
    for (QChar &c : upper) {
        if (c >= u'a' && c <= u'z')
            c = QChar(c.unicode() - 32);
    }
    return upper;
}

bool referenceAllows(const QString &listText, const QString &address)
{
    const QString upperAddress = referenceUpper(address);
    bool allowed = false;
    for (const QString &entry : listText.split(u',')) {
        if (!entry.isEmpty() && upperAddress.contains(referenceUpper(entry)))
            allowed = true;
    }
    return allowed;
}

const QStringList Defaults = {
    QStringLiteral("http:///"), QStringLiteral("tadpole.test"), QStringLiteral("javascript"),
    QStringLiteral("toonworld.example"), QStringLiteral("dnserror.htm"), QStringLiteral("paypal"),
    QStringLiteral("about:blank"), QStringLiteral("tinytv.example"), QStringLiteral("doubleclick"),
};

// Entries and addresses built from the same pieces, so that random addresses
// often do and often do not contain random entries, with every kind of overlap.
class SiteGenerator
{
public:
    explicit SiteGenerator(quint32 seed) : m_random(seed) {}

    QString entry(const QStringList &others)
    {
        switch (m_random.bounded(12)) {
        case 0:
            return QString();
        case 1:
        case 2:
            if (!others.isEmpty()) { // a piece of another entry: one contains the other
                const QString other = pick(others);
                if (!other.isEmpty()) {
                    const qsizetype from = m_random.bounded(int(other.size()));
                    return other.mid(from, 1 + m_random.bounded(int(other.size() - from)));
                }
            }
            return mixCase(pick(m_hosts));
        case 3:
            return mixCase(pick(m_paths));
        case 4: // overlapping: the end of one piece glued to the start of another
            return pick(m_hosts).right(4) + pick(m_hosts).left(3);
        case 5:
            return pick(m_oddities);
        case 6:
            if (m_random.bounded(20) == 0)
                return QString(600, u'q') + pick(m_hosts); // too long for the table
            return mixCase(pick(m_hosts).left(2 + m_random.bounded(6)));
        default:
            return mixCase(pick(m_hosts));
        }
    }

    QStringList list(int count)
    {
        QStringList entries;
        for (int i = 0; i < count; ++i)
            entries.append(entry(entries));
        return entries;
    }

    QString address(const QStringList &entries)
    {
        if (m_random.bounded(40) == 0)
            return QString();
        QString address = pick(m_schemes);
        if (m_random.bounded(3) == 0)
            address += QStringLiteral("www.");
        address += pick(m_hosts);
        if (m_random.bounded(4) == 0)
            address += QStringLiteral(":8080");
        address += pick(m_paths);
        if (m_random.bounded(3) == 0)
            address += QStringLiteral("?q=") + pick(m_hosts) + pick(m_oddities);
        if (!entries.isEmpty() && m_random.bounded(3) == 0) // plant an entry somewhere
            address.insert(m_random.bounded(int(address.size()) + 1), pick(entries));
        if (m_random.bounded(30) == 0)
            address.prepend(QString(600, u'q'));
        return mixCase(address);
    }

    QString pick(const QStringList &from) { return from.at(m_random.bounded(int(from.size()))); }

private:
    QString mixCase(QString text)
    {
        const int mode = m_random.bounded(4);
        if (mode == 0)
            return text.toLower();
        if (mode == 1)
            return referenceUpper(text);
        if (mode == 2) {
            for (QChar &c : text) {
                if (m_random.bounded(2))
                    c = c.isUpper() ? c.toLower() : c.toUpper();
            }
        }
        return text;
    }

    // Pieces of real-looking addresses; oddities are letters that Unicode
    // upper-cases but the filter does not (é, ß, long s, dotless i), a surrogate
    // pair and punctuation.
    const QStringList m_hosts = QStringLiteral(
            "tadpole.test funmaths.org storytime.co.uk games4kids.com abc.net cdn.ads-net.com "
            "doubleclick.net kids.example.org spelling-bee.edu localhost 127.0.0.1 portal.tadpole.test "
            "a.b.c coloring-pages.info maths.funmaths.org x.co zoo-animals.example").split(u' ');
    const QStringList m_paths = QStringLiteral(
            "/ /games /index.htm /tad/tad_menu1.asp?t=1 /a/b/c.html#top dnserror.htm "
            "/search?q=doubleclick /img/logo.png /http:///").split(u' ');
    const QStringList m_schemes = QStringLiteral(
            "http:// https:// HTTP:// about: ftp:// data:text/html, view-source:http:// "
            "javascript: file:/// blob:https://").split(u' ');
    const QStringList m_oddities = QStringLiteral(
            "caf\u00e9 CAF\u00c9 stra\u00dfe \u017f S \u0131 I \U0001F438 %20 about:blank http:///").split(u' ');
    QRandomGenerator m_random;
};

} // namespace

class TestAllowList : public QObject
{
    Q_OBJECT

private slots:
    void agreesWithReferenceOnRandomLists();
    void agreesWithReferenceOnOneLargeList();
    void agreesWithReferenceWhileGrowing();
    void findsAnEntryAnywhereInALongAddress_data();
    void findsAnEntryAnywhereInALongAddress();
    void allowTest_data();
    void allowTest();
    void startupText_data();
    void startupText();
    void learnsHostOnce();
    void learnedCheckSearchesTheText();
    void appendedCommasSeparateEntries();
    void garbageListStaysBounded();
};

void TestAllowList::agreesWithReferenceOnRandomLists()
{
    SiteGenerator generator(7);
    for (int round = 0; round < 3000; ++round) {
        const QStringList entries = generator.list((round * 7) % 41);
        const QString line = entries.join(u',');
        const AllowMatcher matcher(entries);
        const AllowList list(Defaults, line);
        for (int i = 0; i < 10; ++i) {
            const QString address = generator.address(entries);
            const bool expected = referenceAllows(line, address);
            if (matcher.matchesAny(address) != expected || list.allows(address) != referenceAllows(list.text(), address))
                QFAIL(qPrintable(QStringLiteral("list \"%1\", address \"%2\": reference says %3")
                                         .arg(line, address, expected ? "allowed" : "blocked")));
        }
    }
}

void TestAllowList::agreesWithReferenceOnOneLargeList()
{
    SiteGenerator generator(11);
    const QStringList entries = generator.list(2000);
    const QString line = entries.join(u',');
    const AllowMatcher matcher(entries);
    int allowed = 0;
    for (int i = 0; i < 400; ++i) {
        const QString address = generator.address(entries);
        const bool expected = referenceAllows(line, address);
        allowed += expected;
        QCOMPARE(matcher.matchesAny(address), expected);
    }
    // A list this size allows most addresses; some must still be blocked for
    // the comparison to mean anything.
    QVERIFY(allowed > 0 && allowed < 400);
}

void TestAllowList::agreesWithReferenceWhileGrowing()
{
    SiteGenerator generator(23);
    AllowList list(Defaults, generator.list(30).join(u','));
    for (int step = 0; step < 600; ++step) {
        // Appended text may hold commas, as a site name made from an odd address can.
        QString added = generator.entry(list.text().split(u','));
        if (step % 7 == 0)
            added += u',' + generator.entry({});
        if (step % 2)
            list.append(added);
        else
            list.learn(added);
        for (int i = 0; i < 3; ++i) {
            const QString address = generator.address(list.text().split(u','));
            QCOMPARE(list.allows(address), referenceAllows(list.text(), address));
        }
    }
}

void TestAllowList::findsAnEntryAnywhereInALongAddress_data()
{
    QTest::addColumn<int>("length");
    QTest::newRow("just long enough to be scanned in parts") << 600;
    QTest::newRow("length not a multiple of the parts") << 1003;
    QTest::newRow("2,000 characters") << 2000;
}

void TestAllowList::findsAnEntryAnywhereInALongAddress()
{
    // Long addresses are scanned in several stretches at once; an entry must be
    // found wherever it lies, across a stretch's end or at the very end.
    QFETCH(int, length);
    const QStringList entries = {QStringLiteral("x.co"), QStringLiteral("coloring-pages.example.info")};
    const AllowMatcher matcher(entries);
    const QString filler = QStringLiteral("section/item?id=1234&").repeated(length / 21 + 1).left(length);
    QVERIFY(!matcher.matchesAny(filler));
    for (const QString &entry : entries) {
        for (int at = 0; at + entry.size() <= length; ++at) {
            QString address = filler;
            address.replace(at, entry.size(), entry.toUpper());
            if (!matcher.matchesAny(address))
                QFAIL(qPrintable(QStringLiteral("\"%1\" at %2 not found").arg(entry).arg(at)));
        }
    }
}

void TestAllowList::allowTest_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("address");
    QTest::addColumn<bool>("allowed");

    QTest::newRow("doubleclick in the query string of an unknown host")
            << "" << "http://unknown.example/page?ref=doubleclick" << true;
    QTest::newRow("a missing file's empty entry allows nothing") << "" << "http://x/" << false;
    QTest::newRow("empty entries between commas allow nothing") << ",,," << "https://evil.example/" << false;
    QTest::newRow("lower-case entry allows an upper-case address") << "" << "ABOUT:BLANK" << true;
    QTest::newRow("lower-case entry allows a mixed-case address") << "" << "About:Blank" << true;
    QTest::newRow("a saved entry allows its site") << "FUNMATHS.ORG" << "https://www.funmaths.org/games" << true;
    QTest::newRow("an entry counts anywhere in the address, not only the host")
            << "FUNMATHS.ORG" << "https://evil.example/funmaths.org" << true;
    QTest::newRow("the scheme is part of the address") << "" << "JavaScript:void(0)" << true;
    QTest::newRow("accented letters are compared exactly") << "caf\u00e9.example" << "http://CAF\u00c9.EXAMPLE/" << false;
    QTest::newRow("accented letters match themselves") << "caf\u00e9.example" << "http://Caf\u00e9.Example/" << true;
    QTest::newRow("long s is not an S") << "\u017f" << "http://s.example/" << false;
    QTest::newRow("a very long entry") << QString(700, u'k') << "http://x/" + QString(701, u'K') << true;
}

void TestAllowList::allowTest()
{
    QFETCH(QString, line);
    QFETCH(QString, address);
    QFETCH(bool, allowed);
    const AllowList list(Defaults, line);
    QCOMPARE(list.allows(address), allowed);
}

void TestAllowList::startupText_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("text");
    QTest::newRow("missing file leaves a trailing comma") << "" << Defaults.join(u',') + ",";
    QTest::newRow("file line follows the defaults") << "site-a,site-b" << Defaults.join(u',') + ",site-a,site-b";
}

void TestAllowList::startupText()
{
    QFETCH(QString, line);
    QFETCH(QString, text);
    QCOMPARE(AllowList(Defaults, line).text(), text);
}

void TestAllowList::learnsHostOnce()
{
    AllowList list(Defaults, QString());
    const QString before = list.text();
    const QString host = ExtractDomain(QStringLiteral("http://www.Maths-Fun.example/games/1.htm"), {});
    QVERIFY(!list.allows(QStringLiteral("https://maths-fun.example/other")));

    QVERIFY(list.learn(host));
    QCOMPARE(list.text(), before + ",MATHS-FUN.EXAMPLE");
    QVERIFY(!list.learn(host));
    QCOMPARE(list.text(), before + ",MATHS-FUN.EXAMPLE");
    QVERIFY(list.allows(QStringLiteral("https://maths-fun.example/other")));

    // A default written in lower case is still learned once, in upper case.
    QVERIFY(list.learn(ExtractDomain(QStringLiteral("http://tadpole.test/tad/tad_start.asp"), {})));
    QVERIFY(list.text().endsWith(",MATHS-FUN.EXAMPLE,TADPOLE.TEST"));
    QVERIFY(!list.learn(QStringLiteral("TADPOLE.TEST")));

    QVERIFY(!list.learn(QString()));
    QVERIFY(list.text().endsWith(",TADPOLE.TEST"));
}

void TestAllowList::learnedCheckSearchesTheText()
{
    // The check looks for the caption anywhere in the text, so a caption that
    // is part of a longer entry (or spans a comma) is taken as already known.
    AllowList list({QStringLiteral("KIDS.EXAMPLE.ORG")}, QStringLiteral("ABC"));
    QVERIFY(list.textContains(QStringLiteral("EXAMPLE")));
    QVERIFY(list.textContains(QStringLiteral("ORG,ABC")));
    QVERIFY(!list.textContains(QStringLiteral("kids.example.org")));
    QVERIFY(!list.learn(QStringLiteral("EXAMPLE")));
    QVERIFY(!list.allows(QStringLiteral("http://example/")));
}

void TestAllowList::appendedCommasSeparateEntries()
{
    // A site name made from an odd address may hold commas; the saved line is
    // read back as separate entries, so the running list must treat it so too.
    AllowList list(Defaults, QString());
    list.append(QStringLiteral("GAMES.EXAMPLE,FUN.EXAMPLE"));
    QVERIFY(list.allows(QStringLiteral("http://fun.example/")));
    QVERIFY(list.allows(QStringLiteral("http://games.example/")));
    list.append(QStringLiteral(","));
    list.append(QString());
    QVERIFY(!list.allows(QStringLiteral("http://other.example/")));
}

void TestAllowList::garbageListStaysBounded()
{
    // A damaged unblocked file: 2 MB of arbitrary 8-bit characters.
    QRandomGenerator random(5);
    QString line(2 * 1024 * 1024, Qt::Uninitialized);
    for (QChar &c : line)
        c = QChar(char16_t(random.bounded(256)));
    QElapsedTimer timer;
    timer.start();
    const AllowList list(Defaults, line);
    const AllowMatcher matcher(line.split(u','));
    QVERIFY(matcher.memoryBytes() < 100 * 1024 * 1024);
    SiteGenerator generator(3);
    const QStringList entries = line.split(u',');
    for (int i = 0; i < 20; ++i) {
        QString address = generator.address({});
        if (i % 2)
            address += generator.pick(entries);
        QCOMPARE(list.allows(address), referenceAllows(list.text(), address));
    }
    QVERIFY2(timer.elapsed() < 5000, qPrintable(QString::number(timer.elapsed()) + " ms"));
}

QTEST_GUILESS_MAIN(TestAllowList)
#include "tst_allowlist.moc"
