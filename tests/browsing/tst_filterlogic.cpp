#include "filter/AllowList.h"
#include "filter/BlockedJournal.h"
#include "filter/FilterAddress.h"
#include "filter/FilterRules.h"
#include "filter/SiteNames.h"
#include "filter/UnblockedFile.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

using namespace FilterRules;

namespace {

// The reference the allow test must agree with: the plain loop, upper-casing a-z
// only; an entry ending in ":" and digits, a port, counts only where no digit follows.
QString upperAZ(QString text)
{
    for (QChar &c : text)
        c = (c >= u'a' && c <= u'z') ? QChar(c.unicode() - 32) : c;
    return text;
}

bool referenceAllows(const QString &listText, const QString &address)
{
    const QString upper = upperAZ(address);
    for (const QString &entry : listText.split(u',')) {
        const QString wanted = upperAZ(entry);
        QStringView head = wanted;
        while (!head.isEmpty() && head.back() >= u'0' && head.back() <= u'9')
            head.chop(1);
        const bool port = head.size() < wanted.size() && head.endsWith(u':');
        for (qsizetype at = wanted.isEmpty() ? -1 : upper.indexOf(wanted); at >= 0; at = upper.indexOf(wanted, at + 1))
            if (!port || at + wanted.size() == upper.size() || upper[at + wanted.size()] < u'0' || upper[at + wanted.size()] > u'9')
                return true;
    }
    return false;
}

const QStringList Defaults = QStringLiteral("http:///,tadpole.test,javascript,toonworld.example,dnserror.htm,"
                                            "paypal,about:blank,tinytv.example,doubleclick").split(u',');
const DynamicHostRule Rule{QStringLiteral("DYNHOST.NET"), QStringLiteral("TADPOLE.TEST")};

// Pieces of real-looking addresses. Oddities are letters Unicode upper-cases
// but the filter does not, a surrogate pair and punctuation.
const QStringList Hosts = QStringLiteral("tadpole.test funmaths.org storytime.co.uk games4kids.com abc.net "
        "cdn.ads-net.com doubleclick.net kids.example.org spelling-bee.edu localhost:80 127.0.0.1 "
        "portal.tadpole.test a.b.c coloring-pages.info maths.funmaths.org x.co zoo-animals.example").split(u' ');
const QStringList Paths = QStringLiteral("/ /games /index.htm /tad/tad_menu1.asp?t=1 /a/b/c.html#top "
        "dnserror.htm /search?q=doubleclick /img/logo.png /http:///").split(u' ');
const QStringList Schemes = QStringLiteral("http:// https:// HTTP:// about: ftp:// data:text/html, "
        "view-source:http:// javascript: file:/// blob:https://").split(u' ');
const QStringList Oddities = QStringLiteral("caf\u00e9 CAF\u00c9 stra\u00dfe \u017f S \u0131 I \U0001F438 %20 "
        "about:blank http:///").split(u' ');

// Entries and addresses built from the same pieces, so that random addresses
// often do and often do not contain random entries, with every kind of overlap.
struct SiteGenerator {
    QRandomGenerator random;
    int below(int n) { return random.bounded(n); }
    QString pick(const QStringList &from) { return from.at(below(int(from.size()))); }

    QString mixCase(QString text)
    {
        switch (below(4)) {
        case 0: return text.toLower();
        case 1: return upperAZ(text);
        case 2: for (QChar &c : text) if (below(2)) c = c.isUpper() ? c.toLower() : c.toUpper();
        }
        return text;
    }

    QString entry(const QStringList &others)
    {
        const QString other = pick(others.isEmpty() ? Hosts : others);
        switch (below(12)) {
        case 0: return QString();
        case 1: case 2: // a piece of another entry: one contains the other
            return other.mid(below(int(other.size()) + 1), 1 + below(int(other.size()) + 1));
        case 3: return mixCase(pick(Paths));
        case 4: return pick(Hosts).right(4) + pick(Hosts).left(3); // overlapping pieces
        case 5: return pick(Oddities);
        case 6: // a short prefix, or now and then an entry too long for the table
            return below(20) ? mixCase(pick(Hosts).left(2 + below(6))) : QString(600, u'q') + pick(Hosts);
        default: return mixCase(pick(Hosts));
        }
    }

    QString list(int count)
    {
        QStringList entries;
        while (entries.size() < count)
            entries.append(entry(entries));
        return entries.join(u',');
    }

    QString address(const QStringList &entries)
    {
        if (below(40) == 0)
            return QString();
        QString a = pick(Schemes) + (below(3) ? "" : "www.") + pick(Hosts) + (below(4) ? "" : ":8080")
                + pick(Paths) + (below(3) ? QString() : "?q=" + pick(Hosts) + pick(Oddities));
        if (!entries.isEmpty() && below(3) == 0) // plant an entry somewhere
            a.insert(below(int(a.size()) + 1), pick(entries));
        if (below(30) == 0)
            a.prepend(QString(600, u'q'));
        return mixCase(a);
    }
};

} // namespace

class TestFilterLogic : public QObject {
    Q_OBJECT
private slots:
    void agreesWithReference()
    {
        SiteGenerator gen{QRandomGenerator(7)};
        for (int round = 0; round < 3000; ++round) { // fresh small lists
            const QString line = gen.list(round % 41);
            const AllowMatcher matcher(line.split(u','));
            const AllowList list(Defaults, line);
            for (int i = 0; i < 10; ++i) {
                const QString a = gen.address(line.split(u','));
                QVERIFY2(matcher.matchesAny(a) == referenceAllows(line, a) && list.allows(a) == referenceAllows(list.text(), a),
                         qPrintable(QStringLiteral("list \"%1\", address \"%2\"").arg(line, a)));
            }
        }
        // Lists grown by appends (some holding commas) and learning, past the points where appended entries are folded
        // into the rest. Entries pile up and allow ever more; blocked answers must still be tested.
        int blocked = 0;
        for (const auto &[size, steps] : {std::pair(1000, 200), {0, 80}, {0, 80}, {0, 80}, {0, 80}, {0, 80}}) {
            AllowList list(size ? Defaults : QStringList(), gen.list(size));
            for (int step = 0; step < steps; ++step) {
                const QString added = gen.entry(list.text().split(u',')) + (step % 7 ? "" : "," + gen.entry({}));
                step % 2 ? void(list.unblock(added)) : void(list.learn(added));
                for (int i = 0; i < 3; ++i) {
                    const QString a = gen.address(list.text().split(u','));
                    const bool expected = referenceAllows(list.text(), a);
                    blocked += !expected;
                    QCOMPARE(list.allows(a), expected);
                }
            }
        }
        QVERIFY(blocked > 50);
    }

    void findsAnEntryAnywhereInALongAddress()
    {
        // Long addresses are scanned in stretches side by side; an entry must be found wherever it lies, across a
        // stretch's end or at the very end, and one ending in a port nowhere before a digit.
        const QStringList entries = {QStringLiteral("x.co"), QStringLiteral("coloring-pages.example.info"), QStringLiteral("portal.coloring-pages.example:8081")};
        const AllowMatcher matcher(entries);
        for (const int length : {40, 600, 1003, 2000}) {
            const QString filler = QStringLiteral("section/item?id=abcd&").repeated(length / 21 + 1).left(length);
            QVERIFY(!matcher.matchesAny(filler));
            for (const QString &entry : entries)
                for (int at = 0; at + entry.size() <= length; ++at)
                    QVERIFY2(matcher.matchesAny(QString(filler).replace(at, entry.size(), entry.toUpper()))
                                     && matcher.matchesAny(QString(filler).replace(at, entry.size(), entry + "0")) != entry.endsWith("8081"),
                             qPrintable(QStringLiteral("%1 at %2 of %3").arg(entry).arg(at).arg(length)));
        }
    }

    void allowTestAndLearning()
    {
        // What the random lists rarely hit (they do hold empty entries and letters beyond a-z): an entry too long for the
        // table, and one ending in a port, not before a digit.
        const QString longEntry(700, u'k'), address = "http://x/" + QString(701, u'K');
        QVERIFY(AllowMatcher(Defaults + QStringList{longEntry}).matchesAny(address));
        QVERIFY(!AllowMatcher(Defaults + QStringList{longEntry + ":80"}).matchesAny(address + ":8080"));

        // Learning, entry by entry: whole entries compared, case counting (a default in
        // upper case is learned again, and so is a site whose name is a piece of another's).
        AllowList list(Defaults, QString());
        QCOMPARE(list.text(), Defaults.join(u',') + ","); // a missing file leaves an empty last entry
        const std::pair<QString, bool> learned[] = {{"MATHS-FUN.EXAMPLE", true}, {"MATHS-FUN.EXAMPLE", false}, {"TADPOLE.TEST", true},
            {"XA.LOCALHOST:48111", true}, {"A.LOCALHOST:48111", true}, {"B.LOCALHOST:48111", true}, {"XB.LOCALHOST:48111", true},
            {"FUN.EXAMPLE,TAD", false}, {"TADPOLE", false}, {"", false}};
        QString expected = list.text();
        QVERIFY(!list.allows(u"https://maths-fun.example/other"));
        for (const auto &[site, added] : learned) {
            QVERIFY2(list.learn(site) == added, qPrintable(site));
            expected += added ? "," + site : "";
            QVERIFY2(list.text() == expected && (!added || FilterAddress::allows(list, QUrl("http://" + site), FilterAddress::MatchScope::Host)),
                     qPrintable(site));
        }
    }

    void onlySiteNamesJoinTheList()
    {
        // Learned, unblocked or read back from the file: a caption holding "," or
        // a short piece of text would be found in nearly every address.
        const struct { QString entry; bool accepted; } rows[] = {
            {"KIDS.EXAMPLE", true}, {"kids.example", true}, {"A-B_C.EXAMPLE.ORG", true}, {"LOCALHOST:8080", true},
            {"127.0.0.5:8642", true}, {"[::1]:8642", true}, {"ABOUT:BLANK", true}, {"http:///", true}, {"PAYPAL", true},
            {"Q", false}, {"ZQ", false}, {"TP", false}, {"CO", false}, {".COM", false}, {"COM.", false}, {"A..B", false},
            {"DATA:,PAYPAL,Q", false}, {"ABOUT:BLANK#X,Y", false}, {"USER@HOST.EXAMPLE", false}, {"", false},
            {"HOST.EXAMPLE:99999", false}, {"HOST.EXAMPLE:", false}, {"CHROME-ERROR:", false}, {"MAILTO:?BODY=PAYPAL", false},
            {"KIDS.EXAMPLE/PATH", false}, {"B\u00dcCHER.EXAMPLE", false},
        };
        for (const auto &row : rows) {
            QVERIFY2(isAcceptableEntry(row.entry, Defaults) == row.accepted, qPrintable(row.entry));
            QCOMPARE(AllowList(Defaults, QString()).learn(row.entry), row.accepted && row.entry != "http:///"); // a default
            QCOMPARE(AllowList(Defaults, QString()).unblock(row.entry), row.accepted);
        }
        QStringList dropped;
        const AllowList fromFile(Defaults, "KIDS.EXAMPLE,Q,,DATA:,about:blank,LOCALHOST:81", &dropped);
        QCOMPARE(fromFile.text(), Defaults.join(u',') + ",KIDS.EXAMPLE,about:blank,LOCALHOST:81");
        QCOMPARE(dropped, QStringList({"Q", "DATA:"}));
        QVERIFY(!fromFile.allows(u"http://blocked.example/q"));
    }

    void allowTestReadsTheEncodedAddressWithoutUserInfoOrFragment()
    {
        using FilterAddress::MatchScope;
        const AllowList list(Defaults, "ALLOWED.EXAMPLE,PORTAL.EXAMPLE:81,SECURE.EXAMPLE:443,0.0.1");
        const struct { QString address; MatchScope scope; QString tested; bool allowed; } rows[] = {
            {"http://allowed.example@blocked.example/", MatchScope::Address, "http://blocked.example/", false},
            {"http://blocked.example/#allowed.example", MatchScope::Address, "http://blocked.example/", false},
            // Escaped delimiters stay escaped; an escaped letter is that letter (QUrl, like RFC 3986, holds them equal).
            {"http://blocked.example/portal.example%3A81", MatchScope::Address, "http://blocked.example/portal.example%3A81", false},
            {"http://blocked.example/%70aypal", MatchScope::Address, "http://blocked.example/paypal", true},
            {"http://b\u00fccher.example/allowed.example", MatchScope::Address, "http://xn--bcher-kva.example/allowed.example", true},
            {"http://blocked.example/?q=allowed.example", MatchScope::Address, "http://blocked.example/?q=allowed.example", true},
            {"http://blocked.example/?q=allowed.example", MatchScope::Host, "http://blocked.example", false},
            // Host mode: the whole host or one under it, any case; a port entry on that port only.
            {"https://WWW.allowed.example.:81/x?y#z", MatchScope::Host, "https://www.allowed.example.:81", true},
            {"http://allowed.example.evil.com/", MatchScope::Host, "http://allowed.example.evil.com", false},
            {"http://evilallowed.example/", MatchScope::Host, "http://evilallowed.example", false},
            {"http://portal.example:810/", MatchScope::Host, "http://portal.example:810", false},
            {"http://portal.example:810/", MatchScope::Address, "http://portal.example:810/", false},
            {"https://secure.example/", MatchScope::Host, "https://secure.example", true}, // the scheme's port
            {"http://127.0.0.1/", MatchScope::Host, "http://127.0.0.1", false}, // an IP address only whole
            {"http://www.paypal.de/", MatchScope::Host, "http://www.paypal.de", true}, // a default without a dot
            {"http://paypal.evil.com/", MatchScope::Host, "http://paypal.evil.com", false},
            {"http://mypaypal.com/", MatchScope::Host, "http://mypaypal.com", false},
            {"http://paypal.localhost:631/", MatchScope::Host, "http://paypal.localhost:631", false}, // this machine's, and
            {"http://www.doubleclick.LOCAL./", MatchScope::Host, "http://www.doubleclick.local.", false}, // the local network's
            {"http://paypal.lan/", MatchScope::Host, "http://paypal.lan", false},
            {"about:blank", MatchScope::Host, "about:blank", true},
            {"about:paypal", MatchScope::Host, "about:paypal", false},
            {"javascript:void(0)", MatchScope::Host, "javascript:", true},
            {"data:,paypal", MatchScope::Host, "data:", false},
            {"data:,paypal", MatchScope::Address, "data:,paypal", true},
            {"blob:http://allowed.example/0f1e", MatchScope::Host, "blob:http://allowed.example", true},
            {"blob:blob:filesystem:http://allowed.example/", MatchScope::Host, "blob:blob:", false}, // a real one names its origin at once
            {"mailto:?body=paypal", MatchScope::Address, "mailto:?body=paypal", false}, // refused scheme
        };
        for (const auto &row : rows) {
            const QUrl url(row.address);
            QCOMPARE(FilterAddress::tested(url, row.scope), row.tested);
            QVERIFY2(FilterAddress::allows(list, url, row.scope) == row.allowed, qPrintable(row.address));
        }
        QCOMPARE(FilterAddress::whole(QUrl("http://u:p@b\u00fccher.example/%3A?a b#f")), "http://u:p@xn--bcher-kva.example/%3A?a%20b#f");
        QVERIFY(FilterAddress::matchScopeFrom(" Host ") == MatchScope::Host && FilterAddress::matchScopeFrom("x") == MatchScope::Address);
        // A question shows a long address's host, whatever stands before and after it.
        const QString shown = FilterAddress::forQuestion("http://" + QString(300, u'a') + "@blocked.example:81/" + QString(300, u'p') + "?q=1");
        QVERIFY2(shown.size() < 160 && shown.contains("@blocked.example:81/") && shown.endsWith("?q=1"), qPrintable(shown));
        QCOMPARE(FilterAddress::forQuestion("http://short.example/"), QStringLiteral("http://short.example/"));
    }

    void extractDomain()
    {
        const DynamicHostRule unset{QString(), QStringLiteral("TADPOLE.TEST")};
        // Plain sites ("www." dropped, upper case, the port kept): tst_mainwindow's session rows.
        const struct { QString address, site, popupSite; } rows[] = { // popupSite: also the site with no label set
            {"http://b\u00fccher.example/", "B\u00fcCHER.EXAMPLE", "B\u00fcCHER.EXAMPLE"}, // only a-z upper-cased
            {"http://tadpole.dynhost.net/x", "TADPOLE.TEST", "TADPOLE.DYNHOST.NET"}, // the dynamic host label
            {"http://www.kids.dynhost.net:81/", "TADPOLE.TEST", "KIDS.DYNHOST.NET:81"},
            {"http://a.example/dynhost.net", "A.EXAMPLE", "A.EXAMPLE"}, // label only in the path
            {"http://a.example?q=dynhost.net", "A.EXAMPLE?Q=DYNHOST.NET", "A.EXAMPLE?Q=DYNHOST.NET"}, // or in a query
            {"about:blank?dynhost.net", "ABOUT:BLANK?DYNHOST.NET", "ABOUT:BLANK?DYNHOST.NET"}, // or in an address with no host
        };
        for (const auto &row : rows) {
            QCOMPARE(ExtractDomain(row.address, Rule), row.site);
            QCOMPARE(ExtractPopupDomain(row.address), row.popupSite);
            QCOMPARE(ExtractDomain(row.address, unset), row.popupSite);
        }
    }

    void hugeInputsStayFast()
    {
        QElapsedTimer timer;
        timer.start();
        const qsizetype size = 2 * 1024 * 1024;
        const std::pair<QString, qsizetype> addresses[] = {{QString("www.").repeated(size / 4), 0},
                {QString("http://").repeated(size / 7), 0}, {"http://" + QString(size, u'a'), size},
                {"http://a.example/" + QString(size, u'/'), 9}};
        for (const auto &[address, siteLength] : addresses) {
            QCOMPARE(ExtractDomain(address, Rule).size(), siteLength);
            QCOMPARE(ExtractPopupDomain(address).size(), siteLength);
        }
        QRandomGenerator random(5); // a damaged unblocked file: 2 MB of arbitrary 8-bit characters
        QString line(size, Qt::Uninitialized);
        for (QChar &c : line)
            c = QChar(char16_t(random.bounded(256)));
        const AllowList list(Defaults, line);
        QVERIFY(AllowMatcher(line.split(u',')).memoryBytes() < 100 * 1024 * 1024);
        // Host mode reads nested blob: prefixes in one pass, and blocks them.
        const QUrl nested(QString("blob:").repeated(100000) + "https://tadpole.test/");
        const qint64 start = timer.elapsed();
        QVERIFY(!FilterAddress::allows(list, nested, FilterAddress::MatchScope::Host));
        QVERIFY2(timer.elapsed() - start < 1000, qPrintable(QString::number(timer.elapsed() - start) + " ms"));
        SiteGenerator gen{QRandomGenerator(3)};
        for (int i = 0; i < 20; ++i) {
            const QString a = gen.address({}) + (i % 2 ? gen.pick(line.split(u',')) : QString());
            QCOMPARE(list.allows(a), referenceAllows(list.text(), a));
        }
        // A hang guard, not a benchmark: the figures live in bench_allowlist.
        QVERIFY2(timer.elapsed() < 60000, qPrintable(QString::number(timer.elapsed()) + " ms"));
    }

    void unblockedFileReadsTheFirstLineAndWritesWholeOrNothing()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("unblocked.tad"));
        const std::pair<QByteArray, QString> read[] = {
            {"A,B\r\nC,D\r\n", "A,B"}, {"A,B\nC", "A,B"}, {"A,B\rC", "A,B"}, {"A,B", "A,B"}, {"", ""}, {"\r\nA,B\r\n", ""},
            {QByteArray("\xe9,\x80\xff\0\x01", 6), QString::fromLatin1("\xe9,\x80\xff\0\x01", 6)},
            {QByteArray(10 << 20, 'a') + "\r\nsecond", QString(10 << 20, u'a')}, // a line end at a read-chunk boundary
        };
        for (const auto &[bytes, line] : read)
            QVERIFY2(writeFile(path, bytes) && UnblockedFile::readFirstLine(path) == line, bytes.left(20).toHex().constData());
        QVERIFY(UnblockedFile::readFirstLine(dir.filePath("missing.tad")).isEmpty() && UnblockedFile::readFirstLine(dir.path()).isEmpty());

        const std::pair<QString, QByteArray> written[] = {
            {"http:///,about:blank,,SITE-A,http:///,,SITE-B,SITE-A", "http:///,about:blank,SITE-A,SITE-B\r\n"},
            {"abc,ABC,abc", "abc,ABC\r\n"}, // case counts
            {QString::fromLatin1("caf\xe9"), "caf\xe9\r\n"}, // 8-bit as single bytes
            {QStringLiteral("A,\u0100\u0101,B"), "A,B\r\n"}, // beyond 8 bits left out, not written as ?
            {"A,B\nC,D", "A,D\r\n"}, {",,", "\r\n"}, // a line end inside an entry; nothing left
        };
        for (const auto &[list, bytes] : written) {
            QVERIFY(writeFile(path, "OLD-A,OLD-B\r\nsecond line\r\n") && UnblockedFile::write(path, list, nullptr));
            QCOMPARE(readFile(path), bytes);
            // Through a temporary file renamed over the old one: nothing else is left behind.
            QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("unblocked.tad")});
        }
        // A write that cannot succeed fails and leaves the old file: a read-only
        // folder (not for the superuser), a folder that is a file.
        for (const bool readOnlyFolder : {geteuid() != 0, false}) {
            QVERIFY(writeFile(path, "KEEP\r\n"));
            QVERIFY(!readOnlyFolder || QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ExeOwner));
            const QString target = readOnlyFolder ? path : path + "/unblocked.tad";
            QString error;
            const bool writtenAnyway = UnblockedFile::write(target, QStringLiteral("A,B"), &error);
            QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
            QVERIFY2(!writtenAnyway && error.contains(target) && readFile(path) == "KEEP\r\n", qPrintable(error));
        }
    }

    // The blocked-attempts journal: what was in the file, a host forgotten after the attempts were recorded ("child|address",
    // a minute apart, `repeat` times over); what reads back, grouped by host ("host count children last-address").
    void blockedJournalKeepsEveryAttemptItCanRead()
    {
        const QByteArray good = "2026-12-06T08:00:00+01:00\tBen\thttp://old.test/\r\n";
        const QString longAddress = "http://a.test/" + QString(30000, 'x');
        const struct { const char *name; QByteArray before; QString forget; int repeat, attempts; QStringList recorded, hosts; } rows[] = {
            {"tab, line breaks and backslashes come back as given, one line each", {}, {}, 1, 1, {"An\tn|http://a.test/x\ty\nz\r\\w\\t"},
             {"a.test 1 An\tn http://a.test/x\ty\nz\r\\w\\t"}},
            {"damaged lines are skipped, good ones around them kept",
             good + "no tabs at all\r\n2026-13-45T99:00:00\tBen\thttp://bad.test/\r\n2026-12-07T08:00:00\tBen\thttp://bad.test/\\q\r\n"
                    "2026-12-07T08:00:00\tBen\t\r\n2026-12-07T08:00:00\tBen\thttp://bad.test/\textra\r\n\xff\xfe\r\n" + good,
             {}, 1, 3, {"Ann|http://new.test/"}, {"new.test 1 Ann http://new.test/", "old.test 2 Ben http://old.test/"}},
            {"a line cut short by a crash is not glued to the next", good + "2026-12-06T08:01:00+01:00\tBen\thttp://cut.test/pa", {}, 1, 3,
             {"Ann|http://new.test/"}, {"new.test 1 Ann http://new.test/", "cut.test 1 Ben http://cut.test/pa", "old.test 1 Ben http://old.test/"}},
            {"grouped by host and port, newest first, each child once, the host's case ignored, a look-alike name encoded", {}, {}, 1, 9,
             {"Ann|http://a.test/1", "Ben|http://b.test/", "Ben|http://A.test/2", "Ann|http://a.test/3", "Cy|mailto:x",
              "Ann|http://a.test:8080/4", "Ben|http://xn--80ak6aa92e.com/", "Ann|http://[1::1]:80/", "Ben|http://[1::1:80]/"},
             {"[1::1:80] 1 Ben http://[1::1:80]/", "[1::1]:80 1 Ann http://[1::1]:80/", "xn--80ak6aa92e.com 1 Ben http://xn--80ak6aa92e.com/",
              "a.test:8080 1 Ann http://a.test:8080/4", "mailto:x 1 Cy mailto:x", "a.test 3 Ann,Ben http://a.test/3",
              "b.test 1 Ben http://b.test/"}},
            {"forgetting a host removes its lines alone", good, "a.test", 1, 3,
             {"Ann|http://a.test/1", "Ben|http://b.test/", "Ann|https://a.test:8443/2"},
             {"a.test:8443 1 Ann https://a.test:8443/2", "b.test 1 Ben http://b.test/", "old.test 1 Ben http://old.test/"}},
            {"a long address is kept cut short, without its user name, so that its host stays", {}, {}, 1, 1,
             {"Ann|http://u:p@" + longAddress.mid(7)}, {"a.test 1 Ann " + longAddress.left(BlockedJournal::MaxAddress) + QChar(0x2026)}},
            {"the last thousand attempts are kept", {}, {}, 1 + BlockedJournal::Bound / 2 + BlockedJournal::Slack, BlockedJournal::Bound,
             {"Ann|http://a.test/", "Ben|http://b.test/"}, {"b.test 500 Ben http://b.test/", "a.test 500 Ann http://a.test/"}},
        };
        const QDateTime start(QDate(2026, 12, 7), QTime(9, 0));
        for (const auto &row : rows) {
            QTemporaryDir dir;
            const QString path = dir.filePath(QStringLiteral("blocked.log"));
            QVERIFY(row.before.isEmpty() || writeFile(path, row.before));
            BlockedJournal journal(path);
            int minute = 0;
            for (int round = 0; round < row.repeat; ++round) {
                for (const QString &attempt : row.recorded)
                    QVERIFY(journal.record({start.addSecs(60 * minute++), attempt.section('|', 0, 0), attempt.section('|', 1)}));
            }
            QVERIFY(row.forget.isEmpty() || journal.forget(row.forget));
            QStringList hosts;
            const QList<BlockedJournal::Attempt> attempts = BlockedJournal(path).read();
            for (const BlockedJournal::Host &host : BlockedJournal::byHost(attempts))
                hosts << QStringLiteral("%1 %2 %3 %4").arg(host.host).arg(host.count).arg(host.children.join(','), host.lastAddress);
            QVERIFY2(hosts == row.hosts && attempts.size() == row.attempts,
                     qPrintable(QStringLiteral("%1: %2 attempts, %3").arg(row.name).arg(attempts.size()).arg(hosts.join(" / ").left(500))));
            const QList<QByteArray> lines = readFile(path).split('\n');
            QVERIFY2(lines.size() - 1 <= BlockedJournal::Bound + BlockedJournal::Slack, QByteArray::number(lines.size()));
            if (row.before.isEmpty() && row.repeat == 1)
                QVERIFY2(lines.size() == row.recorded.size() + 1 && lines[0].startsWith("2026-12-07T09:00:00"), row.name);
        }
    }

    // kill -9 anywhere in bursts that trim the file again and again: every attempt whose record had returned
    // is there, each line whole, none lost or twice, in the order made.
    void blockedJournalSurvivesKillsDuringBursts()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("blocked.log"));
        int next = 0; // the number the next burst's first attempt gets
        for (int burst = 0; burst < 20; ++burst) {
            int told[2];
            QVERIFY(pipe(told) == 0);
            const pid_t child = fork();
            if (child == 0) { // records until it is killed, telling each attempt once recorded
                BlockedJournal journal(path);
                for (int i = next;; ++i)
                    if (!journal.record({QDateTime::currentDateTime(), "Ann", "http://b.test/" + QString::number(i)}) || write(told[1], &i, sizeof i) != sizeof i)
                        _exit(1);
            }
            ::close(told[1]);
            const int stop = next + (burst ? 0 : BlockedJournal::Bound + BlockedJournal::Slack) + QRandomGenerator::global()->bounded(300);
            int last = -1;
            while (last < stop && ::read(told[0], &last, sizeof last) == sizeof last) {}
            ::kill(child, SIGKILL);
            QVERIFY(waitpid(child, nullptr, 0) == child && ::close(told[0]) == 0 && last >= stop);
            // Killed in the middle of a line that spans two pages of the file, the kernel may keep its first part: that
            // attempt was never reported, and the next run ends the cut line before its own. A cut line is passed over.
            const QByteArray text = readFile(path);
            QVERIFY2(text.count('\n') >= BlockedJournal::Bound, text.right(200).constData());
            int previous = -1, cut = 0;
            for (const QByteArray &line : text.left(text.lastIndexOf('\n')).split('\n')) {
                const std::optional<BlockedJournal::Attempt> attempt = BlockedJournal::parse(QString::fromUtf8(line.chopped(1)));
                cut += !attempt;
                QVERIFY2(cut <= burst && (!attempt || previous < 0 || attempt->address.section('/', -1).toInt() == previous + 1), line.constData());
                previous = attempt ? attempt->address.section('/', -1).toInt() : previous;
            }
            QVERIFY(previous >= last);
            next = previous + 1;
        }
    }
};

QTEST_GUILESS_MAIN(TestFilterLogic)
#include "tst_filterlogic.moc"
