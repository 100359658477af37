#include "E2eSupport.h"
#include "support/RealInput.h"
#include "support/TestDoubles.h"

#include "browserview/WebEngineBrowserView.h"
#include "browsing/MainWindow.h"
#include "browsing/QtDialogs.h"
#include "browsing/PopupWindow.h"
#include "parents/ParentsContext.h"
#include "shell/HttpTransport.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QLabel>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QScopeGuard>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>

// Runs a helper that asserts and leaves the test function at its first failure.
#define STEP(call) do { call; if (QTest::currentTestFailed()) return; } while (false)

namespace {

// Scripted boxes, or the real ones where a case answers with the keyboard.
class SwitchableDialogs : public ScriptedDialogs {
public:
    void message(const QString &text, const QString &title) override
    {
        real ? m_boxes.message(text, title) : ScriptedDialogs::message(text, title);
    }
    Answer askYesNo(const QString &text, const QString &title, Answer defaultAnswer) override
    {
        return real ? m_boxes.askYesNo(text, title, defaultAnswer) : ScriptedDialogs::askYesNo(text, title, defaultAnswer);
    }
    bool real = false;

private:
    QtDialogs m_boxes;
};

QByteArray reply(const QByteArray &body, const QByteArray &status = "200 OK",
                 const QByteArray &headers = "Content-Type: text/html; charset=utf-8\r\n")
{
    return "HTTP/1.1 " + status + "\r\n" + headers + "Content-Length: " + QByteArray::number(body.size())
        + "\r\nCache-Control: no-store\r\nConnection: close\r\n\r\n" + body;
}

} // namespace

// The test's own web server, answering from the test's event loop on several loopback
// addresses and one port. It logs every request by the host it reached (127.0.0.N: N) and
// answers from `replies` ("20/page.htm": a whole HTTP reply); without one, hosts 21 and 24
// answer a small page, the others 404.
class LoopbackSites : public QObject {
public:
    bool listen(const QList<int> &hosts)
    {
        for (int attempt = 0; attempt < 20 && port == 0; ++attempt) {
            qDeleteAll(findChildren<QTcpServer *>(Qt::FindDirectChildrenOnly));
            for (int host : hosts) {
                auto *server = new QTcpServer(this);
                if (!server->listen(QHostAddress(QStringLiteral("127.0.0.%1").arg(host)), port)) {
                    port = 0; // that port is taken on one of the addresses: all again on another
                    break;
                }
                port = server->serverPort();
                connect(server, &QTcpServer::newConnection, this, [this, server, host] {
                    while (QTcpSocket *socket = server->nextPendingConnection())
                        connect(socket, &QTcpSocket::readyRead, this, [this, socket, host] { answer(socket, host); });
                });
            }
        }
        return port != 0;
    }
    QHash<int, QStringList> log; // "GET /target" by host
    QHash<QString, QStringList> byName; // targets by the Host header's name and port
    QHash<QString, QByteArray> replies;
    quint16 port = 0;

private:
    void answer(QTcpSocket *socket, int host)
    {
        const QByteArray head = socket->peek(1 << 16);
        if (!head.contains("\r\n\r\n") || socket->property("answered").toBool())
            return;
        socket->setProperty("answered", true);
        const QList<QByteArray> line = head.left(head.indexOf("\r\n")).split(' ');
        const QString target = QString::fromLatin1(line.value(1));
        log[host] << QString::fromLatin1(line.value(0)) + QLatin1Char(' ') + target;
        const qsizetype named = head.indexOf("\r\nHost: ");
        if (named >= 0) // names under .localhost all reach 127.0.0.1
            byName[QString::fromLatin1(head.mid(named + 8, head.indexOf("\r\n", named + 2) - named - 8))] << target;
        QByteArray out = replies.value(QString::number(host) + target.section(QLatin1Char('?'), 0, 0));
        if (out.isEmpty())
            out = host == 21 || host == 24 ? reply("<title>Reached</title>reached") : reply("no such page", "404 Not Found");
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        socket->write(out);
        socket->disconnectFromHost();
    }
};

// Pages on an allowed host (127.0.0.20, the attack host) try every way out to a host the
// allow list never names (127.0.0.21, the blocked host). What counts is what that host
// received: nothing, whatever the browser believes it did.
class tst_E2eAttacks : public QObject {
    Q_OBJECT

    e2e::PortalProcess m_portal;
    LoopbackSites m_sites;
    std::unique_ptr<e2e::ProgramFolder> m_folder;
    QTemporaryDir m_bin; // a recording xdg-open, first on PATH
    FixedClock m_clock;
    SwitchableDialogs m_dialogs;
    ModalParentsWindows m_parents;
    RecordingLauncher m_launcher;
    std::unique_ptr<HttpTransport> m_transport;
    WebEngineBrowserViewFactory m_views;
    std::unique_ptr<MainWindow> m_browser;
    QNetworkAccessManager m_network;
    AllowList m_startList;     // as start-up left it; each case begins from it
    QStringList m_asked;       // every address the main view put to the filter
    QStringList m_dialogsSeen; // top-level dialogs that appeared (each rejected at once)
    QStringList m_handedOff;   // addresses given to outside programs
    QTimer m_dialogWatch;
    const QString m_theirId = QStringLiteral("7000000000000000007"); // another installation's id
    int m_theirItem = 0;
    int m_pages = 0;

    WebEngineBrowserView *view() const { return qobject_cast<WebEngineBrowserView *>(m_browser->view()); }
    QString url() const { return view()->currentUrl().toString(); }
    QString host(int n) const { return QStringLiteral("127.0.0.%1:%2").arg(n).arg(m_sites.port); }
    QStringList reached(int n) const { return m_sites.log.value(n); }
    QString record() const { return m_bin.path() + QStringLiteral("/xdg-open.record"); }
    QString goLink() const
    {
        return QStringLiteral("http://%1/tad/tad_go.asp?t=1&userid=%2&item=%3")
            .arg(m_portal.host(), m_theirId).arg(m_theirItem);
    }
    QString fill(QString html) const
    {
        return html.replace(QLatin1String("{a}"), host(20)).replace(QLatin1String("{b}"), host(21))
            .replace(QLatin1String("{a%}"), host(20).replace(QLatin1String(":"), QLatin1String("%3A")))
            .replace(QLatin1String("{go}"), goLink());
    }

    QVariant evaluate(const QString &script) { return e2e::evaluate(view()->page(), script); }

    // True once the main view shows an address starting with `address`, its document complete.
    bool shows(const QString &address)
    {
        return e2e::waitFor([&] { return url().startsWith(address) && evaluate("document.readyState") == QStringLiteral("complete"); },
                            15000);
    }

    // A click at a place in the window, delivered to whatever widget really lies there.
    void clickWindowAt(const QPoint &at)
    {
        QWidget *top = m_browser->childAt(at);
        QVERIFY(top);
        QTest::mouseClick(top, Qt::LeftButton, {}, top->mapFrom(m_browser.get(), at));
    }

    void clickElement(const QString &selector)
    {
        const QVariantList at = evaluate(QStringLiteral(
            "(() => { const e = document.querySelector('%1'); if (!e) return []; e.scrollIntoView({block: 'center'});"
            " const r = e.getBoundingClientRect(); return [r.x + r.width / 2, r.y + r.height / 2]; })()").arg(selector)).toList();
        QVERIFY2(at.size() == 2, qPrintable("no element " + selector));
        const QPoint inView = QPointF(at[0].toDouble(), at[1].toDouble()).toPoint();
        clickWindowAt(view()->webView()->mapTo(m_browser.get(), inView));
    }

    // A portal change page; the finished reply, or null.
    std::unique_ptr<QNetworkReply> portalGet(const QString &pageAndQuery)
    {
        const QUrl address("http://" + m_portal.host() + "/tad/" + pageAndQuery);
        std::unique_ptr<QNetworkReply> r(m_network.get(QNetworkRequest(address)));
        const bool ok = e2e::waitFor([&] { return r->isFinished(); }, 10000) && r->error() == QNetworkReply::NoError;
        return ok ? std::move(r) : nullptr;
    }

    // A private site of installation `userid`, ticked for its child 1; the site's id, or 0.
    int addTickedSite(const QString &userid, const QString &address)
    {
        const auto added = portalGet(QStringLiteral("tad_postsite.asp?url=%1&shortname=Evil&comments=&AgeFrom=&AgeTo="
                                                    "&LogoLoc=&id=0&userid=%2&Delete=0")
                                         .arg(QString::fromLatin1(QUrl::toPercentEncoding(address)), userid));
        const int id = added ? added->rawHeader("X-Site-Id").toInt() : 0;
        const QString tick = QStringLiteral("tad_saveitem.asp?item=%1&checked=True&t=1&userid=%2").arg(id).arg(userid);
        return id > 0 && portalGet(tick) ? id : 0;
    }

    // Entries the allow list gained since start-up that are neither a host name with a "."
    // nor host:port, nor one it held already.
    QStringList badEntriesLearned() const
    {
        static const QRegularExpression hostEntry(QStringLiteral("^([a-z0-9-]+\\.)+[a-z0-9-]+(:\\d+)?$|^[a-z0-9.-]+:\\d+$"),
                                                  QRegularExpression::CaseInsensitiveOption);
        const QString before = m_startList.text(), now = m_browser->state().allowList.text();
        const QStringList known = before.split(QLatin1Char(','));
        QStringList added = now.startsWith(before) ? now.mid(before.size()).split(QLatin1Char(',')) : QStringList{now};
        added.removeIf([&](const QString &entry) { // a known entry again (any case) lets nothing new through
            return entry.isEmpty() || hostEntry.match(entry).hasMatch() || known.contains(entry, Qt::CaseInsensitive);
        });
        return added;
    }

public:
    Q_INVOKABLE void handOff(const QUrl &url) { m_handedOff << url.toString(); } // the desktop's URL handler

private slots:
    void initTestCase()
    {
        QVERIFY(m_sites.listen({1, 20, 21, 23, 24}));
        QVERIFY(m_portal.start());
        m_folder = std::make_unique<e2e::ProgramFolder>(m_portal.host());
        QFile unblocked(m_folder->path(QStringLiteral("unblocked.tad")));
        QVERIFY(unblocked.open(QIODevice::WriteOnly) && unblocked.write(host(20).toLatin1() + "\r\n") > 0);
        unblocked.close();

        // An address handed to the desktop reaches a recorder, never a real program: the URL handlers
        // on every platform (the offscreen one starts no xdg-open), the recording xdg-open otherwise.
        QFile opener(m_bin.path() + QStringLiteral("/xdg-open"));
        QVERIFY(opener.open(QIODevice::WriteOnly));
        opener.write("#!/bin/sh\necho \"$@\" >> '" + record().toUtf8() + "'\n");
        opener.close();
        opener.setPermissions(opener.permissions() | QFile::ExeOwner);
        qputenv("PATH", m_bin.path().toUtf8() + ':' + qgetenv("PATH"));
        qunsetenv("BROWSER");
        for (const char *scheme : {"mailto", "ftp", "irc", "tadpole-x"})
            QDesktopServices::setUrlHandler(QLatin1String(scheme), this, "handOff");
        connect(&m_dialogWatch, &QTimer::timeout, this, [this] {
            for (QWidget *w : QApplication::topLevelWidgets()) {
                if (auto *d = qobject_cast<QDialog *>(w); d && d->isVisible()) {
                    m_dialogsSeen << QString::fromLatin1(d->metaObject()->className()) + QLatin1Char(' ') + d->windowTitle();
                    d->reject();
                }
            }
        });
        m_dialogWatch.start(100); // runs inside a dialog's own event loop too

        m_theirItem = addTickedSite(m_theirId, "http://" + host(21) + "/");
        QVERIFY(m_theirItem > 0);
        m_sites.replies.insert(QStringLiteral("20/sw.js"), reply(fill(QStringLiteral(
            "self.onfetch = e => { if (e.request.url.includes('inside')) e.respondWith(fetch('http://{b}/sw')); };")).toUtf8(),
            "200 OK", "Content-Type: text/javascript\r\n"));
        m_sites.replies.insert(QStringLiteral("20/inside.htm"), reply("<title>Inside</title>inside"));
        m_sites.replies.insert(QStringLiteral("20/auth"), reply("refused", "401 Unauthorized",
                                                                  "Content-Type: text/html\r\n"
                                                                  "WWW-Authenticate: Basic realm=\"x\"\r\n"));
        m_sites.replies.insert(QStringLiteral("23/"), reply("", "302 Found", "Location: /home.htm\r\n"));
        m_sites.replies.insert(QStringLiteral("23/home.htm"), reply("<title>Home</title>home"));

        m_transport = std::make_unique<HttpTransport>(10000);
        m_browser = std::make_unique<MainWindow>(BrowserServices{
            .clock = &m_clock, .dialogs = &m_dialogs, .launcher = &m_launcher, .transport = m_transport.get(),
            .views = &m_views, .parents = &m_parents, .closeWindowsByTitle = [](const QStringList &) {},
            .executableFolder = m_folder->path().chopped(1),
            .defaultAppFolder = QDir::tempPath() + QStringLiteral("/not-the-program-folder/"),
            .commandLine = QStringLiteral("1")});
        connect(m_browser->view(), &BrowserView::navigationRequested, this,
                [this](NavigationRequest &r) { m_asked << r.url.toString(); });
        QTRY_VERIFY_WITH_TIMEOUT(m_browser->startupFinished(), 60000);
        QTRY_COMPARE_WITH_TIMEOUT(view()->page()->title(), QStringLiteral("Anna's menu"), 15000);
        QVERIFY(m_browser->state().userId != m_theirId);
        QVERIFY(m_browser->state().allowList.allows("http://" + host(20) + "/"));
        m_startList = m_browser->state().allowList;
    }
    void cleanupTestCase()
    {
        for (const char *scheme : {"mailto", "ftp", "irc", "tadpole-x"})
            QDesktopServices::unsetUrlHandler(QLatin1String(scheme));
        m_browser.reset();
    }
    void init()
    {
        for (PopupWindow *popup : m_browser->popups())
            popup->close();
        // The last case's page goes, with its timers and late requests; its learned entries never help the next.
        view()->navigate(QStringLiteral("about:blank"));
        QVERIFY(shows(QStringLiteral("about:blank")));
        m_browser->state().allowList = m_startList;
        m_browser->state().blockedUrl.clear();
        m_sites.log.clear();
        m_sites.byName.clear();
        m_asked.clear();
        m_dialogsSeen.clear();
        m_handedOff.clear();
        QFile::remove(record());
    }

    void attackReachesNoBlockedHost_data()
    {
        // the attack page; {a} the attack host ({a%} with its ":" escaped), {b} the blocked host, {go} a go link
        QTest::addColumn<QString>("html");
        QTest::addColumn<QString>("click"); // what the child clicks with the mouse, if anything
        QTest::addColumn<QString>("check"); // a script on the page that must answer true afterwards, if any
        // Each page titles itself "done" once it has made its last move, and must still be showing at the end.
        const auto thenGo = [](const QString &to) {
            return "<script>onload = () => { document.title = 'done'; location = '" + to + "'; };</script>";
        };
        const auto link = [](const QString &href) {
            return "<a id=go href=\"" + href + "\" onclick=\"document.title = 'done'\">go</a>";
        };
        QTest::newRow("learned entry: data frame whose address holds commas")
            << "<iframe src=\"data:,paypal,q\"></iframe>" + thenGo("http://{b}/q") << "" << "";
        QTest::newRow("learned entry: blank pop-up with commas in its fragment")
            << "<script>onload = () => { window.open('about:blank#x,y');"
               " setTimeout(() => { document.title = 'done'; location = 'http://{b}/y'; }, 500); };</script>" << "" << "";
        QTest::newRow("learned entry: frame that never loads teaches its host")
            << "<iframe src=\"http://127.0.0.22:1/?paypal\"></iframe>" + thenGo("http://{b}/127.0.0.22:1") << "" << "";
        QTest::newRow("allowed host as the user-info of a blocked address") << link("http://{a}@{b}/") << "#go" << "";
        QTest::newRow("allowed host in the fragment of a blocked address") << link("http://{b}/#{a}") << "#go" << "";
        QTest::newRow("escaped colon spells the allowed host and port") << link("http://{b}/{a%}") << "#go" << "";
        QTest::newRow("another installation's portal go link, clicked") << link("{go}") << "#go" << "";
        QTest::newRow("another installation's portal go link, set by script") << thenGo("{go}") << "" << "";
        QTest::newRow("mailto link goes to no outside program") << link("mailto:?body=paypal") << "#go" << "";
        QTest::newRow("ftp link goes to no outside program") << link("ftp://{b}/?paypal") << "#go" << "";
        QTest::newRow("irc link goes to no outside program") << link("irc://{b}/#paypal") << "#go" << "";
        QTest::newRow("link of an unknown scheme goes to no outside program") << link("tadpole-x:paypal") << "#go" << "";
        QTest::newRow("file chooser opens no dialog and picks no file")
            << "<input type=file id=go onclick=\"document.title = 'done'\">" << "#go"
            << "document.getElementById('go').files.length === 0";
        QTest::newRow("authentication asked by a frame opens no dialog")
            << "<iframe src=\"/auth\" onload=\"document.title = 'done'\"></iframe>" << "" << "";
        QTest::newRow("plain link to the blocked host") << link("http://{b}/") << "#go" << "";
        QTest::newRow("meta refresh to the blocked host")
            << "<title>done</title><meta http-equiv=refresh content=\"0; url=http://{b}/\">" << "" << "";
        QTest::newRow("inline frame of the blocked host") << "<title>done</title><iframe src=\"http://{b}/\"></iframe>" << "" << "";
        QTest::newRow("window.open of the blocked host")
            << "<button id=go onclick=\"window.open('http://{b}/'); document.title = 'done'\">go</button>" << "#go" << "";
        // Last: once registered, the worker sees every later page of the attack host (it lets them through).
        QTest::newRow("service worker fetches from the blocked host")
            << "<script>navigator.serviceWorker.register('/sw.js').then(() => navigator.serviceWorker.ready).then(() =>"
               " new Promise(loaded => { const f = document.createElement('iframe'); f.onload = loaded;"
               " f.src = '/inside.htm'; document.body.append(f); })).finally(() => { document.title = 'done'; });</script>"
            << "" << "";
    }

    void attackReachesNoBlockedHost()
    {
        QFETCH(QString, html);
        QFETCH(QString, click);
        QFETCH(QString, check);
        const QString path = QStringLiteral("/attack%1.htm").arg(++m_pages);
        m_sites.replies.insert("20" + path, reply(fill(html).toUtf8()));
        const QString address = "http://" + host(20) + path;
        view()->navigate(address); // a page that moves on at once never completes a load of its own
        if (!click.isEmpty()) {
            QVERIFY(shows(address));
            STEP(clickElement(click));
        }
        const auto blockedHostReached = [this] { return !reached(21).isEmpty(); };
        const auto title = [this] { return view()->page()->title(); };
        // A hand-made go link may show the portal's answer (it redirects nowhere); no other page may take over.
        const bool toGoLink = html.contains(QLatin1String("{go}"));
        const auto onGoLink = [&] { return toGoLink && url().startsWith(goLink()); };
        const bool moved = e2e::waitFor([&] { return title() == QLatin1String("done") || blockedHostReached() || onGoLink(); },
                                        15000);
        e2e::waitFor(blockedHostReached, 1500); // what the last move sets off arrives within this

        QStringList faults;
        if (blockedHostReached())
            faults << "the blocked host received: " + reached(21).join(QLatin1String(", "));
        if (!moved)
            faults << QStringLiteral("the page never made its move (showing %1, titled \"%2\")").arg(url(), title());
        if (!m_dialogsSeen.isEmpty())
            faults << "dialogs appeared: " + m_dialogsSeen.join(QLatin1String(", "));
        QFile opener(record());
        if (!m_handedOff.isEmpty() || opener.exists())
            faults << "handed to an outside program: " + m_handedOff.join(QLatin1String(", "))
                    + (opener.open(QIODevice::ReadOnly) ? " xdg-open " + QString::fromUtf8(opener.readAll()) : QString());
        if (const QStringList bad = badEntriesLearned(); !bad.isEmpty())
            faults << "learned entries that are no host: " + bad.join(QLatin1String(" | "));
        if (url() != address && !onGoLink())
            faults << "the attack page gave way to " + url();
        if (!check.isEmpty() && !evaluate(check).toBool())
            faults << "the page says no to: " + check;
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QLatin1String("; "))));
    }

    void unblockAnswersTheAddressTheQuestionShowed()
    {
        const QString shown = "http://" + host(24) + "/a", late = "http://" + host(21) + "/b";
        m_sites.replies.insert(QStringLiteral("20/unblock.htm"), reply(QStringLiteral(
            "<a id=go href=\"%1\" onclick=\"setTimeout(() => { location = '%2'; }, 1500)\">go</a>").arg(shown, late).toUtf8()));
        view()->navigate("http://" + host(20) + "/unblock.htm");
        QVERIFY(shows("http://" + host(20) + "/unblock.htm"));
        STEP(clickElement(QStringLiteral("#go")));
        QTRY_VERIFY_WITH_TIMEOUT(m_browser->statusLineText().contains(shown), 10000);

        // While the parent reads the question, the page blocks another address.
        bool lateMoveSeen = false;
        m_dialogs.questions.clear();
        m_dialogs.answers = {Dialogs::Answer::Yes};
        m_dialogs.onQuestion = [&] { lateMoveSeen = e2e::waitFor([&] { return m_asked.contains(late); }, 5000); };
        auto unscript = qScopeGuard([this] { m_dialogs.onQuestion = nullptr; m_dialogs.answers.clear(); });
        QLabel *statbar = m_browser->findChild<QLabel *>(QStringLiteral("statusLine"));
        QVERIFY(statbar);
        const QPoint at = statbar->mapTo(m_browser.get(), statbar->rect().center());
        STEP(clickWindowAt(at));
        QWidget *top = m_browser->childAt(at);
        QVERIFY2(m_dialogs.questions.size() == 1,
                 qPrintable(QStringLiteral("the click on the status line asked nothing; a %1 \"%2\" lies on it")
                                .arg(top->metaObject()->className(), top->objectName())));
        QCOMPARE(m_dialogs.questions.at(0).text, "Unblock: " + shown);
        QVERIFY2(lateMoveSeen, "the page's late move never came while the question was open");

        e2e::waitFor([&] { return reached(24).contains(QStringLiteral("GET /a")) || !reached(21).isEmpty(); }, 10000);
        e2e::waitFor([&] { return !reached(21).isEmpty(); }, 1500);
        QStringList faults;
        if (!reached(24).contains(QStringLiteral("GET /a")))
            faults << "the address the question showed was not loaded: " + reached(24).join(QLatin1String(", "));
        if (!reached(21).isEmpty())
            faults << "the blocked host received: " + reached(21).join(QLatin1String(", "));
        if (const QByteArray saved = m_folder->read(QStringLiteral("unblocked.tad")); saved.contains("127.0.0.21"))
            faults << "unblocked.tad names the blocked host: " + QString::fromLatin1(saved.trimmed());
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QLatin1String("; "))));
    }

    // A child alone at the keyboard: with a password set, the status line's
    // click and Return pressed three times must not unblock the page's choice.
    void unblockWithAPasswordNeedsTheParent()
    {
        const QString blocked = "http://" + host(21) + "/chosen";
        m_sites.replies.insert(QStringLiteral("20/choose.htm"), reply(QStringLiteral("<a id=go href=\"%1\">go</a>").arg(blocked).toUtf8()));
        view()->navigate("http://" + host(20) + "/choose.htm");
        QVERIFY(shows("http://" + host(20) + "/choose.htm"));
        STEP(clickElement(QStringLiteral("#go")));
        QTRY_VERIFY_WITH_TIMEOUT(m_browser->statusLineText().contains(blocked), 10000);

        m_browser->state().settings.Password = QStringLiteral("owl");
        m_dialogs.real = true;
        m_dialogWatch.stop();
        auto restore = qScopeGuard([this] {
            m_browser->state().settings.Password.clear();
            m_dialogs.real = false;
            m_dialogWatch.start();
        });
        // Return goes to whatever has the keyboard's focus, three times; then
        // whatever is still open is closed. Each step is its own timer, as a
        // press may open a box whose loop runs until the next one.
        QStringList shown;
        int presses = 0;
        std::function<void()> step = [&] {
            QWidget *modal = QApplication::activeModalWidget();
            if (!modal && presses == 0) {
                QTimer::singleShot(300, this, step);
                return;
            }
            if (!modal)
                return;
            shown << modal->windowTitle();
            QTimer::singleShot(300, this, step);
            if (presses++ < 3) {
                QWidget *focus = QApplication::focusWidget();
                QTest::keyClick(focus ? focus : modal, Qt::Key_Return);
            } else {
                qobject_cast<QDialog *>(modal)->reject();
            }
        };
        QTimer::singleShot(300, this, step);
        QLabel *statbar = m_browser->findChild<QLabel *>(QStringLiteral("statusLine"));
        QVERIFY(statbar);
        STEP(clickWindowAt(statbar->mapTo(m_browser.get(), statbar->rect().center())));
        QTRY_VERIFY_WITH_TIMEOUT(!QApplication::activeModalWidget(), 10000);

        QTest::qWait(1500);
        QStringList faults;
        if (shown.value(0) != QLatin1String("Security"))
            faults << "the first box was not the password gate: " + shown.join(QLatin1String(", "));
        if (!reached(21).isEmpty())
            faults << "the blocked host received: " + reached(21).join(QLatin1String(", "));
        if (m_folder->read(QStringLiteral("unblocked.tad")).contains("127.0.0.21"))
            faults << "unblocked.tad names the blocked host";
        if (m_browser->state().allowList.allows(blocked))
            faults << "the blocked host joined the allow list";
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QLatin1String("; "))));
    }

    // Learning compares whole entries: a site whose name lies inside one
    // learned before is learned too, and its tile opens, in either order.
    void menuSitesWhoseNamesHoldOneAnotherBothOpen()
    {
        const QString xa = QStringLiteral("xa.localhost:%1").arg(m_sites.port), a = QStringLiteral("a.localhost:%1").arg(m_sites.port);
        m_sites.replies.insert(QStringLiteral("1/"), reply("<title>Site</title>site"));
        const int xaItem = addTickedSite(m_browser->state().userId, "http://" + xa + "/");
        const int aItem = addTickedSite(m_browser->state().userId, "http://" + a + "/");
        QVERIFY(xaItem > 0 && aItem > 0);
        for (const auto &[first, second] : {std::pair{xaItem, aItem}, std::pair{aItem, xaItem}}) {
            m_browser->state().allowList = m_startList;
            for (const int item : {first, second}) {
                const QString site = item == xaItem ? xa : a;
                clickControl(m_browser.get(), QStringLiteral("faceButton0"));
                QVERIFY(shows("http://" + m_portal.host() + "/tad/tad_menu.asp?t=1"));
                STEP(clickElement(QStringLiteral("a.tile[href$=\"item=%1\"]").arg(item)));
                QVERIFY2(e2e::waitFor([&] { return url() == "http://" + site + "/" && view()->page()->title() == QLatin1String("Site"); }, 15000),
                         qPrintable(QStringLiteral("%1 first: showing %2; status line \"%3\"")
                                        .arg(first == xaItem ? xa : a, url(), m_browser->statusLineText())));
            }
        }
    }

    // The parents' stricter choice: an entry is a whole host or a whole-label
    // suffix, never text inside a longer name.
    void hostModeMatchesWholeLabels()
    {
        AllowList &list = m_browser->state().allowList;
        QVERIFY(list.unblock(QStringLiteral("kids.localhost")));
        m_browser->state().allowScope = FilterAddress::MatchScope::Host;
        auto restore = qScopeGuard([this] { m_browser->state().allowScope = FilterAddress::MatchScope::Address; });
        m_sites.replies.insert(QStringLiteral("1/"), reply("<title>Site</title>site"));
        const QString port = QString::number(m_sites.port);
        m_sites.replies.insert(QStringLiteral("20/names.htm"), reply(QStringLiteral(
            "<a id=evil href=\"http://evilkids.localhost:%1/\">evil</a> <a id=www href=\"http://www.kids.localhost:%1/\">www</a>")
            .arg(port).toUtf8()));
        view()->navigate("http://" + host(20) + "/names.htm");
        QVERIFY(shows("http://" + host(20) + "/names.htm"));
        STEP(clickElement(QStringLiteral("#evil")));
        QTRY_VERIFY_WITH_TIMEOUT(m_browser->statusLineText().contains(QLatin1String("evilkids")), 10000);
        STEP(clickElement(QStringLiteral("#www")));
        QVERIFY2(e2e::waitFor([&] { return url() == "http://www.kids.localhost:" + port + "/" && view()->page()->title() == QLatin1String("Site"); }, 15000),
                 qPrintable(url() + " / " + m_browser->statusLineText()));
        QVERIFY2(m_sites.byName.value("evilkids.localhost:" + port).isEmpty(), "the blocked name was asked for");
    }

    void menuSiteThatRedirectsAgainLoads()
    {
        const int item = addTickedSite(m_browser->state().userId, "http://" + host(23) + "/");
        QVERIFY(item > 0);
        clickControl(m_browser.get(), QStringLiteral("faceButton0"));
        QVERIFY(shows("http://" + m_portal.host() + "/tad/tad_menu.asp?t=1"));
        STEP(clickElement(QStringLiteral("a.tile[href$=\"item=%1\"]").arg(item)));
        const QString home = "http://" + host(23) + "/home.htm";
        QVERIFY2(e2e::waitFor([&] { return url() == home && view()->page()->title() == QLatin1String("Home"); }, 15000),
                 qPrintable(QStringLiteral("showing %1; status line \"%2\"; the site received: %3")
                                .arg(url(), m_browser->statusLineText(), reached(23).join(QLatin1String(", ")))));
    }
};

QTEST_MAIN(tst_E2eAttacks)
#include "tst_e2e_attacks.moc"
