// The allow test's cost per navigation with a short and a very long allow list,
// beside the plain loop over every entry. Prints figures; asserts nothing.

#include "browserview/ChildRequestGuard.h"
#include "filter/AllowList.h"
#include "filter/FilterAddress.h"

#include <QRandomGenerator>
#include <QStringList>

#include <chrono>
#include <cstdio>
#include <functional>

namespace {

using Clock = std::chrono::steady_clock;

const QStringList Defaults = {
    QStringLiteral("http:///"), QStringLiteral("tadpole.test"), QStringLiteral("javascript"),
    QStringLiteral("toonworld.example"), QStringLiteral("dnserror.htm"), QStringLiteral("paypal"),
    QStringLiteral("about:blank"), QStringLiteral("tinytv.example"), QStringLiteral("doubleclick"),
};

// Host names as pages and unblocking add them: upper case, no "www.".
QString hostName(QRandomGenerator &random)
{
    static const char *const words[] = {
        "fun", "kids", "maths", "story", "time", "zoo", "animal", "color", "paint", "games",
        "learn", "abc", "word", "music", "space", "ocean", "dino", "puzzle", "read", "tiny",
        "happy", "bear", "frog", "star", "planet", "club", "world", "play", "draw", "sing",
        "cdn", "img", "static", "media", "news", "school", "library", "science", "museum", "farm",
    };
    static const char *const tlds[] = {".COM", ".ORG", ".NET", ".CO.UK", ".EDU", ".INFO", ".DE", ".FR", ".IO", ".TV"};
    QString host;
    if (random.bounded(4) == 0)
        host += QString::fromLatin1(words[random.bounded(40)]) + u'.';
    const int parts = 2 + random.bounded(2);
    for (int i = 0; i < parts; ++i) {
        if (i && random.bounded(3) == 0)
            host += u'-';
        host += QString::fromLatin1(words[random.bounded(40)]);
    }
    if (random.bounded(3) == 0)
        host += QString::number(random.bounded(1000));
    host += QString::fromLatin1(tlds[random.bounded(10)]);
    return host.toUpper();
}

bool plainLoop(const QString &listText, QStringView address)
{
    const QString upperAddress = filterUpper(address);
    bool allowed = false;
    for (const QString &entry : listText.split(u',')) {
        if (!entry.isEmpty() && upperAddress.contains(filterUpper(entry)))
            allowed = true;
    }
    return allowed;
}

// An address of exactly the given length on a host not in the list.
QString blockedAddress(QRandomGenerator &random, int length, const QString &listText)
{
    while (true) {
        QString address = QStringLiteral("https://www.unlisted-site.example/pages/");
        while (address.size() < length)
            address += QStringLiteral("section%1/item?id=%2&ref=").arg(random.bounded(100)).arg(random.bounded(100000));
        address.truncate(length);
        if (!plainLoop(listText, address))
            return address;
    }
}

QString allowedAddress(const QString &host, int length)
{
    QString address = QStringLiteral("https://www.") + host.toLower() + QStringLiteral("/pages/");
    while (address.size() < length)
        address += QStringLiteral("section/item?id=12345&ref=");
    address.truncate(length);
    return address;
}

// Nanoseconds per call, over enough calls to fill about a fifth of a second.
double nanosecondsPerCall(const std::function<bool()> &call)
{
    volatile bool sink = false;
    long calls = 1;
    while (true) {
        const auto start = Clock::now();
        for (long i = 0; i < calls; ++i)
            sink = call();
        const double elapsed = std::chrono::duration<double, std::nano>(Clock::now() - start).count();
        if (elapsed > 2e8)
            return elapsed / double(calls);
        calls *= 4;
    }
    (void)sink;
}

} // namespace

int main()
{
    QRandomGenerator random(2024);
    QStringList hosts;
    for (int i = 0; i < 10000; ++i)
        hosts.append(hostName(random));

    std::printf("allow test, ns per test (blocked = whole address scanned)\n");
    std::printf("%-8s %-8s %-8s %12s %12s %12s\n", "entries", "address", "outcome", "AllowList", "matcher", "plain loop");
    double listTime[2][2] = {};
    const int entryCounts[] = {10, 10000};
    for (int e = 0; e < 2; ++e) {
        const int count = entryCounts[e];
        const QString line = QStringList(hosts.mid(0, count - int(Defaults.size()))).join(u',');
        const auto buildStart = Clock::now();
        const AllowList list(Defaults, line);
        const double buildMs = std::chrono::duration<double, std::milli>(Clock::now() - buildStart).count();
        const AllowMatcher matcher(list.text().split(u','));
        const QString text = list.text();
        const int lengths[] = {100, 2000};
        for (int l = 0; l < 2; ++l) {
            for (int outcome = 0; outcome < 2; ++outcome) {
                const QString address = outcome == 0
                        ? blockedAddress(random, lengths[l], text)
                        : allowedAddress(hosts.at(count - int(Defaults.size()) - 1), lengths[l]);
                if (list.allows(address) != (outcome == 1) || plainLoop(text, address) != (outcome == 1)) {
                    std::printf("benchmark address is not what it should be\n");
                    return 1;
                }
                const double viaList = nanosecondsPerCall([&] { return list.allows(address); });
                const double viaMatcher = nanosecondsPerCall([&] { return matcher.matchesAny(address); });
                const double viaLoop = nanosecondsPerCall([&] { return plainLoop(text, address); });
                if (outcome == 0)
                    listTime[e][l] = viaList;
                std::printf("%-8d %-8d %-8s %12.0f %12.0f %12.0f\n", count, lengths[l],
                            outcome == 0 ? "blocked" : "allowed", viaList, viaMatcher, viaLoop);
            }
        }
        std::printf("  %d entries: built in %.1f ms, matcher holds %.1f MB\n", count, buildMs,
                    double(matcher.memoryBytes()) / (1024.0 * 1024.0));
    }
    for (int l = 0; l < 2; ++l)
        std::printf("blocked, %d-character address: 10,000 entries take %.2fx the time of 10\n",
                    l == 0 ? 100 : 2000, listTime[1][l] / listTime[0][l]);

    // What a window and the request guard pay per navigation and per request:
    // the address arrives as a QUrl and is read as encoded text first.
    {
        const AllowList list(Defaults, QStringList(hosts.mid(0, 10000 - int(Defaults.size()))).join(u','));
        ChildRequestGuard guard;
        guard.setFrameFilter([&list](const QUrl &url) {
            return FilterAddress::allows(list, url, FilterAddress::MatchScope::Address);
        });
        std::printf("\n10,000 entries, from a QUrl, ns per call\n%-8s %-8s %12s %12s %12s %12s\n", "address", "outcome",
                    "allow test", "host scope", "guard frame", "guard image");
        for (const int length : {100, 2000}) {
            for (int outcome = 0; outcome < 2; ++outcome) {
                const QUrl url(outcome == 0 ? blockedAddress(random, length, list.text())
                                            : allowedAddress(hosts.at(5000), length));
                const double test = nanosecondsPerCall(
                    [&] { return FilterAddress::allows(list, url, FilterAddress::MatchScope::Address); });
                const double hostOnly = nanosecondsPerCall(
                    [&] { return FilterAddress::allows(list, url, FilterAddress::MatchScope::Host); });
                const double frame = nanosecondsPerCall(
                    [&] { return guard.refuses(QWebEngineUrlRequestInfo::ResourceTypeSubFrame, url); });
                const double image = nanosecondsPerCall(
                    [&] { return guard.refuses(QWebEngineUrlRequestInfo::ResourceTypeImage, url); });
                std::printf("%-8d %-8s %12.0f %12.0f %12.0f %12.0f\n", length, outcome == 0 ? "blocked" : "allowed",
                            test, hostOnly, frame, image);
            }
        }
    }

    // Host mode on its own: the host and the hosts it is under are looked up,
    // whatever the number of entries; a blob: address's origin is read in one
    // pass, and one nested past a real blob:'s one level is blocked at once.
    {
        const AllowList list(Defaults, QStringList(hosts.mid(0, 10000 - int(Defaults.size()))).join(u','));
        const QString host = hosts.at(5000).toLower();
        const struct { const char *name; QUrl url; bool allowed; } rows[] = {
            {"listed host", QUrl("https://" + host + "/games"), true},
            {"host under it", QUrl("https://www.cdn." + host + "/games"), true},
            {"listed host with a port", QUrl("https://" + host + ":8443/games"), true},
            {"name without a dot", QUrl("https://www.paypal.de/"), true},
            {"unlisted host", QUrl("https://www.unlisted-site.example/games"), false},
            {"listed host as a prefix", QUrl("https://" + host + ".evil.example/"), false},
            {"200 labels", QUrl("https://" + QStringLiteral("a.").repeated(200) + "example/"), false},
            {"blob: of a listed host", QUrl("blob:https://" + host + "/0f1e"), true},
            {"blob: 100,000 times", QUrl(QStringLiteral("blob:").repeated(100000) + "https://" + host + "/"), false},
        };
        std::printf("\nhost mode, 10,000 entries, from a QUrl, ns per call\n");
        for (const auto &row : rows) {
            if (FilterAddress::allows(list, row.url, FilterAddress::MatchScope::Host) != row.allowed) {
                std::printf("host mode: %s is not what it should be\n", row.name);
                return 1;
            }
            std::printf("%-28s %-8s %12.0f\n", row.name, row.allowed ? "allowed" : "blocked", nanosecondsPerCall([&] {
                return FilterAddress::allows(list, row.url, FilterAddress::MatchScope::Host);
            }));
        }
    }

    // Learning hundreds of sites one at a time, each followed by a test.
    AllowList growing(Defaults, QStringList(hosts.mid(0, 9000)).join(u','));
    const QString address = blockedAddress(random, 100, growing.text());
    const auto growStart = Clock::now();
    for (int i = 9000; i < 10000; ++i) {
        growing.learn(hosts.at(i));
        (void)growing.allows(address);
    }
    std::printf("learning 1,000 sites into 9,000, each followed by a test: %.1f ms in all\n",
                std::chrono::duration<double, std::milli>(Clock::now() - growStart).count());
    return 0;
}
