#include "E2eSupport.h"
#include "LoopbackSites.h"
#include "support/RealInput.h"
#include "support/TestDoubles.h"

#include "browserview/ParentBrowserView.h"
#include "browserview/WebEngineBrowserView.h"
#include "browsing/MainWindow.h"
#include "browsing/PopupWindow.h"
#include "parents/SitePreviewWindow.h"
#include "parents/SiteSelectionWindow.h"
#include "shell/HttpTransport.h"
#include "system/WindowCloser.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QPointer>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTreeWidget>
#include <QTimer>
#include <QWebEngineProfile>

// Runs a helper that asserts and leaves the test function at its first failure.
#define STEP(call) do { call; if (QTest::currentTestFailed()) return; } while (false)

// The child's browser in-process (the window, the web engine, the filter) against the real portal and pages of the test's
// own. Pages on an allowed host (127.0.0.20, the attack host) try every way out to a host the allow list never names
// (127.0.0.21, the blocked host). What counts is what that host received: nothing, whatever the browser believes it did.
class tst_E2eAttacks : public QObject {
    Q_OBJECT

    PortalProcess m_portal;
    LoopbackSites m_sites;
    std::unique_ptr<ProgramFolder> m_folder;
    FixedClock m_clock;
    ScriptedDialogs m_dialogs;
    ModalParentsWindows m_parents;
    RecordingLauncher m_launcher;
    std::unique_ptr<HttpTransport> m_transport;
    WebEngineBrowserViewFactory m_views;
    std::unique_ptr<MainWindow> m_browser;
    AllowList m_startList; // as start-up left it; each case begins from it
    // The top-level dialogs that appeared (each rejected at once), the addresses given to outside programs, the pop-ups shown.
    QStringList m_dialogsSeen, m_handedOff, m_popupsShown;
    bool m_rejectDialogs = true;
    QTemporaryDir m_downloads; // the profile's download folder, to stay empty
    const QString m_theirId = QStringLiteral("7000000000000000007"); // another installation's id
    int m_theirItem = 0;
    int m_pages = 0;

    WebEngineBrowserView *view() const { return qobject_cast<WebEngineBrowserView *>(m_browser->view()); }
    QString url() const { return view()->currentUrl().toString(); }
    QString host(int n) const { return QStringLiteral("127.0.0.%1:%2").arg(n).arg(m_sites.port); }
    // What the blocked host, or a blocked name, received.
    QString blockedReceived() const
    {
        QStringList got;
        for (auto it = m_sites.log.cbegin(); it != m_sites.log.cend(); ++it)
            if (it.key().startsWith(QLatin1String("127.0.0.21:")) || it.key().contains(QLatin1String("evil")))
                got << it.key() + QLatin1Char(' ') + it.value().join(QLatin1String(", "));
        return got.join(QLatin1String("; "));
    }
    // {a} the attack host ({a%} with its ":" escaped), {b} the blocked host, {port} the sites' port.
    QString fill(QString html) const
    {
        return html.replace(QLatin1String("{a}"), host(20)).replace(QLatin1String("{b}"), host(21))
            .replace(QLatin1String("{a%}"), host(20).replace(QLatin1String(":"), QLatin1String("%3A")))
            .replace(QLatin1String("{port}"), QString::number(m_sites.port));
    }
    // The value of a script run in the main view's page, or an invalid value when it gives none within ten seconds.
    QVariant evaluate(const QString &script)
    {
        auto result = std::make_shared<std::optional<QVariant>>(); // outlives a late answer
        view()->page()->runJavaScript(script, [result](const QVariant &value) { *result = value; });
        e2e::waitFor([&] { return result->has_value(); }, 10000);
        return result->value_or(QVariant());
    }
    // True once the main view shows an address starting with `address`, its document complete.
    bool shows(const QString &address)
    {
        return e2e::waitFor([&] { return url().startsWith(address) && evaluate(QStringLiteral("document.readyState")) == QStringLiteral("complete"); },
                            15000);
    }
    // A click of the mouse where the page shows an element.
    void clickElement(const QString &selector)
    {
        const QVariantList at = evaluate(QStringLiteral(
            "(() => { const e = document.querySelector('%1'); if (!e) return []; e.scrollIntoView({block: 'center'});"
            " const r = e.getBoundingClientRect(); return [r.x + r.width / 2, r.y + r.height / 2]; })()").arg(selector)).toList();
        QVERIFY2(at.size() == 2, qPrintable("no element " + selector));
        clickAt(view()->webView(), Qt::LeftButton, QPointF(at[0].toDouble(), at[1].toDouble()).toPoint());
    }
    // A page of the attack host made of `html`, asked for and, where a click is given, shown and
    // clicked; its address. A page that moves on at once never completes a load of its own.
    QString openPage(const QString &html, const QString &click = QString())
    {
        const QString address = QStringLiteral("http://%1/page%2.htm").arg(host(20)).arg(++m_pages);
        m_sites.replies.insert("20" + QUrl(address).path(), reply(fill(html).toUtf8()));
        view()->navigate(address);
        if (!click.isEmpty())
            shows(address) ? clickElement(click) : void(QTest::qFail(qPrintable(address + " never showed"), __FILE__, __LINE__));
        return address;
    }
    // A private site of installation `userid`, named by its address and ticked for its child 1; the site's id, or 0.
    int addTickedSite(const QString &userid, const QString &address)
    {
        PortalClient portal(*m_transport, "http://" + m_portal.host() + "/tad/", userid);
        portal.postSite({address, address, {}, {}, {}, {}, QStringLiteral("0")}, false); // a new site (id 0), nothing else told
        const QString rows = QString::fromUtf8(portal.availableSites(0).body.value_or(QByteArray()));
        const QString id = rows.split(QLatin1Char('\n')).filter('\t' + address + '\t').value(0).section(QLatin1Char('\t'), 0, 0);
        return id.toInt() > 0 && portal.saveTick(id, true, 0).ok() ? id.toInt() : 0;
    }
    // Runs `then` on the modal window of type T once it is shown and active, from within its own loop (or of whatever
    // runs before it); a failure there closes the window.
    template <typename T>
    void onceShown(std::function<void(T *)> then)
    {
        auto *poll = new QTimer(this);
        connect(poll, &QTimer::timeout, this, [poll, then] {
            auto *window = qobject_cast<T *>(QApplication::activeModalWidget());
            if (!window || !window->isVisible())
                return;
            delete poll;
            QTest::qWaitForWindowActive(window) ? then(window)
                                                : void(QTest::qFail("the window never became active", __FILE__, __LINE__));
            if (QTest::currentTestFailed())
                window->reject();
        });
        poll->start(50);
    }
    // Each pop-up window and dialog as it shows; a dialog is rejected at once, within its own loop.
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show && qobject_cast<PopupWindow *>(watched))
            m_popupsShown << qobject_cast<PopupWindow *>(watched)->windowTitle();
        if (auto *d = qobject_cast<QDialog *>(watched); d && event->type() == QEvent::Show && m_rejectDialogs) {
            m_dialogsSeen << QString::fromLatin1(d->metaObject()->className()) + QLatin1Char(' ') + d->windowTitle();
            QTimer::singleShot(0, d, &QDialog::reject);
        }
        return false;
    }

public:
    Q_INVOKABLE void handOff(const QUrl &url) { m_handedOff << url.toString(); } // the desktop's URL handler

private slots:
    void initTestCase()
    {
        QVERIFY(m_sites.listen({1, 20, 21, 23}));
        QVERIFY(m_portal.startFresh());
        m_folder = std::make_unique<ProgramFolder>(m_portal.host());
        QVERIFY(m_folder->write(QStringLiteral("unblocked.tad"), host(20).toLatin1() + ",kids.localhost\r\n"));

        // An address handed to the desktop reaches a recorder, never a real program.
        for (const char *scheme : {"mailto", "ftp", "irc", "tadpole-x"})
            QDesktopServices::setUrlHandler(QLatin1String(scheme), this, "handOff");
        qApp->installEventFilter(this);

        m_transport = std::make_unique<HttpTransport>(10000);
        QVERIFY((m_theirItem = addTickedSite(m_theirId, "http://" + host(21) + "/")) > 0);
        const std::pair<const char *, QByteArray> replies[] = {
            {"20/sw.js", reply(fill("self.onfetch = e => { if (e.request.url.includes('inside')) e.respondWith(fetch('http://{b}/sw')); };")
                                   .toUtf8(), "200 OK", "Content-Type: text/javascript\r\n")},
            {"20/inside.htm", reply("<title>Inside</title>inside")},
            {"20/auth", reply("refused", "401 Unauthorized", "Content-Type: text/html\r\nWWW-Authenticate: Basic realm=\"x\"\r\n")},
            {"20/second.htm", reply("<title>Second</title>second")},
            {"20/framed.htm", reply(fill("<iframe src=\"http://{b}/\"></iframe>").toUtf8())},
            {"20/hop", reply("", "302 Found", fill("Location: http://{b}/\r\n").toLatin1())},
            {"20/facts.txt", reply("pond facts", "200 OK", "Content-Type: text/plain\r\nContent-Disposition: attachment; filename=facts.txt\r\n")},
            {"23/", reply("", "302 Found", "Location: /home.htm\r\n")}, {"23/home.htm", reply("<title>Home</title>home")},
            {"21/preview.htm", reply("<title>Preview</title><style>a { position: fixed; top: 0; width: 50%; height: 100% }</style>"
                                     "<a href=\"tadpole-x:preview\" onclick=\"document.title = 'Out'\" style=\"left: 0\">out</a>"
                                     "<a href=\"/\" target=_blank style=\"right: 0\">new window</a>")},
        };
        for (const auto &[at, bytes] : replies)
            m_sites.replies.insert(QLatin1String(at), bytes);

        m_browser = std::make_unique<MainWindow>(BrowserServices{
            .clock = &m_clock, .dialogs = &m_dialogs, .launcher = &m_launcher, .transport = m_transport.get(),
            .views = &m_views, .parents = &m_parents, .closeWindowsByTitle = CloseWindowsByTitle,
            .executableFolder = m_folder->path().chopped(1),
            .defaultAppFolder = QDir::tempPath() + QStringLiteral("/not-the-program-folder/"), .commandLine = QStringLiteral("1"),
            .systemConfigFile = {}});
        QTRY_VERIFY_WITH_TIMEOUT(m_browser->startupFinished(), 60000);
        view()->page()->profile()->setDownloadPath(m_downloads.path());
        QTRY_COMPARE_WITH_TIMEOUT(view()->page()->title(), QStringLiteral("Anna's menu"), 15000);
        QVERIFY(m_browser->state().allowList.allows("http://" + host(20) + "/"));
        m_startList = m_browser->state().allowList;
    }
    void cleanupTestCase()
    {
        for (const char *scheme : {"mailto", "ftp", "irc", "tadpole-x"})
            QDesktopServices::unsetUrlHandler(QLatin1String(scheme));
        qApp->removeEventFilter(this);
        m_browser.reset();
    }
    void init()
    {
        for (PopupWindow *popup : m_browser->popups())
            popup->close();
        // The last case's page goes, with its timers and late requests; its learned entries never help the next.
        view()->navigate(QStringLiteral("about:blank"));
        QVERIFY(shows(QStringLiteral("about:blank")));
        // Back and forward come back at the watchdog's first tick without a pop-up.
        QTRY_VERIFY(m_browser->findChild<QWidget *>(QStringLiteral("backButton"))->isEnabled());
        m_browser->state().allowList = m_startList;
        m_browser->state().allowScope = FilterAddress::MatchScope::Address;
        m_browser->state().blockedUrl.clear();
        for (QStringList *list : {&m_dialogsSeen, &m_handedOff, &m_popupsShown})
            list->clear();
        m_sites.log.clear();
    }

    // A target=_blank pop-up shows over the window until a page of its own with a blocked frame, or its own page's script,
    // closes it.
    void popupOnAnAllowedAddressShowsOverTheMainWindowUntilClosed()
    {
        // A page's script alone opens no window, only the child's click or key: it would open them without end.
        QString page = openPage(QStringLiteral("<script>let n = 0; setInterval(() => { open('/second.htm'); document.title = ++n; }, 100)</script>"));
        QVERIFY(e2e::waitFor([&] { return view()->page()->title().toInt() >= 10; }, 15000)); // ten tries made
        QVERIFY(m_browser->popups().isEmpty());
        page = openPage(QStringLiteral("<a id=blank href=\"/second.htm\" target=_blank>blank</a>"));
        QVERIFY(shows(page));
        const QString address = "http://" + host(20) + "/second.htm";
        for (const char *closing : {"location.href = '/framed.htm'", "window.close()"}) {
            STEP(clickElement(QStringLiteral("#blank")));
            QPointer<PopupWindow> popup;
            QTRY_VERIFY_WITH_TIMEOUT(m_browser->popups().size() == 1 && (popup = m_browser->popups().at(0))->isVisible(), 15000);
            auto *popupView = qobject_cast<WebEngineBrowserView *>(popup->view());
            QTRY_COMPARE_WITH_TIMEOUT(popupView->currentUrl().toString(), address, 15000);
            QTRY_COMPARE_WITH_TIMEOUT(popup->siteLineText(), host(20), 15000); // its page has completed
            QCOMPARE(popup->geometry(), m_browser->geometry());
            QCOMPARE(m_browser->statusLineText(), address.left(50));
            popupView->page()->runJavaScript(QLatin1String(closing));
            QTRY_VERIFY_WITH_TIMEOUT(popup.isNull(), 10000);
            QVERIFY(m_browser->popups().isEmpty() && url() == page);
            if (closing[0] == 'l')
                QCOMPARE(m_browser->statusLineText(), "Blocked: " + fill(QStringLiteral("http://{b}/")).left(50));
        }
        QVERIFY2(blockedReceived().isEmpty(), qPrintable(blockedReceived()));
    }

    void attackReachesNoBlockedHost_data()
    {
        QTest::addColumn<QString>("html");     // the attack page, see fill()
        QTest::addColumn<QString>("click");    // what the child clicks with the mouse, if anything
        QTest::addColumn<QString>("check");    // a script on the page that must answer true afterwards, if any
        QTest::addColumn<QString>("reported"); // the address the status line must offer to unblock, if any
        QTest::addColumn<bool>("hostMode");    // the parents' stricter choice: entries match whole hosts
        const auto row = [](const char *name, const QString &html, const char *click = "", const char *check = "",
                            const char *reported = "", bool hostMode = false) {
            QTest::newRow(name) << html << QString::fromLatin1(click) << QString::fromLatin1(check) << QString::fromLatin1(reported) << hostMode;
        };
        // Each page titles itself "done" once it has made its last move, and must still be showing at the end.
        const auto thenGo = [](const QString &to) { return "<script>onload = () => { document.title = 'done'; location = '" + to + "'; };</script>"; };
        const auto link = [](const QString &href) { return "<a id=go href=\"" + href + "\" onclick=\"document.title = 'done'\">go</a>"; };
        // The status line names what was blocked, so a row passes only once the filter has made its decision.
        row("learned entry: data frame whose address holds commas", "<iframe src=\"data:,paypal,q\"></iframe>" + thenGo("http://{b}/q"),
            "", "", "http://{b}/q");
        row("learned entry: blank pop-up with commas in its fragment",
            "<button id=go onclick=\"window.open('about:blank#x,y'); setTimeout(() => { document.title = 'done'; location = 'http://{b}/y'; }, 500)\">go</button>",
            "#go", "", "http://{b}/y");
        row("learned entry: frame that never loads teaches its host",
            "<iframe src=\"http://127.0.0.22:1/?paypal\"></iframe>" + thenGo("http://{b}/127.0.0.22:1"), "", "", "http://{b}/127.0.0.22:1");
        row("allowed host as the user-info of a blocked address", link("http://{a}@{b}/"), "#go", "", "http://{a}@{b}/");
        row("allowed host in the fragment of a blocked address", link("http://{b}/#{a}"), "#go", "", "http://{b}/#{a}");
        row("escaped colon spells the allowed host and port", link("http://{b}/{a%}"), "#go", "", "http://{b}/{a%}");
        row("allowed name inside a longer blocked one, whole hosts matched", link("http://evilkids.localhost:{port}/"), "#go", "",
            "http://evilkids.localhost:{port}/", true);
        for (const char *href : {"mailto:?body=paypal", "ftp://{b}/?paypal", "irc://{b}/#paypal", "tadpole-x:paypal"})
            row(qPrintable(QLatin1String(href) + " link goes to no outside program"), link(href), "#go", "", href);
        row("link to our help page", link("qrc:/help/help.html"), "#go", "", "qrc:/help/help.html");
        row("download saves nothing", link("/facts.txt"), "#go");
        row("data: link never shows", link("data:text/html,<title>data</title>"), "#go");
        row("file chooser opens no dialog and picks no file", "<input type=file id=go onclick=\"document.title = 'done'\">", "#go",
            "document.getElementById('go').files.length === 0");
        row("authentication asked by a frame opens no dialog", "<iframe src=\"/auth\" onload=\"document.title = 'done'\"></iframe>");
        row("allowed page answering with a redirect to the blocked host", link("/hop"), "#go", "", "http://{b}/");
        row("meta refresh to the blocked host", "<title>done</title><meta http-equiv=refresh content=\"0; url=http://{b}/\">", "", "", "http://{b}/");
        // Blocked while its page loads: the status line still offers it once the page has finished.
        row("inline frame of the blocked host", "<title>done</title><iframe src=\"http://{b}/\"></iframe>", "", "", "http://{b}/");
        row("inline frame of our help page", "<title>done</title><iframe src=\"qrc:/help/help.html\"></iframe>", "", "",
            "qrc:/help/help.html");
        row("window.open of the blocked host", "<button id=go onclick=\"window.open('http://{b}/'); document.title = 'done'\">go</button>",
            "#go", "", "http://{b}/");
        // Music plays unasked, as the radio's player needs; a page's boxes would stand over the window.
        row("a page's own boxes", "<audio autoplay loop src=\"data:audio/wav;base64,UklGRnQAAABXQVZFZm10IBAAAAABAAEAQB8AAEAfAAABAAgAZGF0YVAAAAC"
            "AgICAgICAgICAgICAgICAgICAgICAgICAgICAgICAgICAgICAgICAgICAgICAgICAgICAgICAgICAgICAgICAgICAgICAgICAgICAgICAgA==\"></audio>"
            "<script>alert('{b}'); confirm('{b}'); prompt('{b}'); document.title = 'done'</script>", "", "!document.querySelector('audio').paused");
        // Last: once registered, the worker sees every later page of the attack host (it lets them through).
        row("service worker fetches from the blocked host",
            "<script>navigator.serviceWorker.register('/sw.js').then(() => navigator.serviceWorker.ready).then(() =>"
            " new Promise(loaded => { const f = document.createElement('iframe'); f.onload = loaded;"
            " f.src = '/inside.htm'; document.body.append(f); })).finally(() => { document.title = 'done'; });</script>");
    }

    void attackReachesNoBlockedHost()
    {
        QFETCH(QString, html);
        QFETCH(QString, click);
        QFETCH(QString, check);
        QFETCH(QString, reported);
        QFETCH(bool, hostMode);
        if (hostMode)
            m_browser->state().allowScope = FilterAddress::MatchScope::Host;
        QString address;
        STEP(address = openPage(html, click));
        const auto title = [this] { return view()->page()->title(); };
        // Shown at last: the status line no longer tells of the case before.
        QVERIFY2(e2e::waitFor([&] { return url() == address; }, 15000), qPrintable(url()));
        const QString blocked = "Blocked: " + fill(reported).left(50);
        e2e::waitFor([&] { // the page has made its move, titled "done"
            return (title() == QLatin1String("done") && (reported.isEmpty() || m_browser->statusLineText() == blocked))
                || !blockedReceived().isEmpty();
        }, 15000);
        e2e::waitFor([&] { return !blockedReceived().isEmpty(); }, 1500); // what the last move sets off arrives within this

        const bool saved = !QDir(m_downloads.path()).isEmpty() || QFile::exists(m_folder->path(QStringLiteral("facts.txt")));
        const bool allowed = m_browser->state().allowList.allows("http://" + host(21) + "/");
        const QString outcome = QStringLiteral("received \"%1\", titled \"%2\", showing %3, dialogs \"%4\", handed off \"%5\","
                                               " pop-ups \"%6\", status line \"%7\", blocked host allowed %8, download saved %9")
            .arg(blockedReceived(), title(), url(), m_dialogsSeen.join(','), m_handedOff.join(','), m_popupsShown.join(','),
                 reported.isEmpty() ? blocked : m_browser->statusLineText(), QString::number(allowed), QString::number(saved));
        QCOMPARE(outcome, QStringLiteral("received \"\", titled \"done\", showing %1, dialogs \"\", handed off \"\", pop-ups \"\","
                                         " status line \"%2\", blocked host allowed 0, download saved 0").arg(address, blocked));
        QVERIFY2(check.isEmpty() || evaluate(check).toBool(), qPrintable("the page says no to: " + check));
    }

    // Help shows our own page with its pictures, unblocked (no site can open it or frame it: attackReachesNoBlockedHost).
    // A menu tile goes through the real go page and request guard to a site that redirects again (the go page follows the
    // family's own sites only from their menu: the engine must send the menu as Referer). Another installation's menu,
    // reached by a link, shows; its tile's go link, which the portal turns into a redirect to that family's own site, leads
    // nowhere blocked.
    void ourHelpAndMenuTilesOpenOnlyOurOwnPages()
    {
        clickControl(m_browser.get(), QStringLiteral("helpButton"));
        QVERIFY2(shows(QStringLiteral("qrc:/help/help.html")), qPrintable(url() + " / " + m_browser->statusLineText()));
        QVERIFY(evaluate(QStringLiteral("[...document.images].every(i => i.complete && i.naturalWidth > 0) && document.images.length > 10")).toBool());
        clickControl(m_browser.get(), QStringLiteral("faceButton0"));
        QVERIFY(shows("http://" + m_portal.host() + "/tad/tad_menu.asp?t=1"));
        clickControl(m_browser.get(), QStringLiteral("backButton")); // and back to it
        QVERIFY2(shows(QStringLiteral("qrc:/help/help.html")), qPrintable(url() + " / " + m_browser->statusLineText()));
        const QString site = "http://" + host(23) + "/";
        const int item = addTickedSite(m_browser->state().userId, site);
        QVERIFY(item > 0);
        clickControl(m_browser.get(), QStringLiteral("faceButton0"));
        QVERIFY(shows("http://" + m_portal.host() + "/tad/tad_menu.asp?t=1"));
        STEP(clickElement(QStringLiteral("a.tile[href$=\"item=%1\"]").arg(item)));
        QVERIFY2(e2e::waitFor([&] { return url() == site + "home.htm" && view()->page()->title() == QLatin1String("Home"); }, 15000),
                 qPrintable(QStringLiteral("showing %1; status line \"%2\"").arg(url(), m_browser->statusLineText())));
        const QString menu = QStringLiteral("http://%1/tad/tad_menu.asp?t=1&userid=%2").arg(m_portal.host(), m_theirId);
        STEP(openPage("<a id=go href=\"" + menu + "\">go</a>", QStringLiteral("#go")));
        QVERIFY(shows(menu));
        STEP(clickElement(QStringLiteral("a.tile[href*=\"item=%1\"]").arg(m_theirItem)));
        QVERIFY2(e2e::waitFor([&] { return m_browser->statusLineText() == fill("Blocked: http://{b}/"); }, 15000),
                 qPrintable(m_browser->statusLineText()));
        QVERIFY2(blockedReceived().isEmpty(), qPrintable(blockedReceived()));
        QCOMPARE(url(), menu);
    }

    // The block page is a widget of ours over the view, with no address: the attack page behind it, still running,
    // cannot press its button, reach it or reach the blocked host. Only a real click asks, about what the filter blocked.
    void blockPageCannotBePressedByASite_data()
    {
        QTest::addColumn<QString>("attack"); // run by the attack page once the click on its link was blocked
        QTest::addColumn<QString>("said");   // what a real click on the button then asks or says
        QTest::newRow("synthetic clicks where the button lies")
            << "const x = innerWidth / 2, y = innerHeight * 0.75; setInterval(() => { document.elementFromPoint(x, y)?.click();"
               " for (const type of ['pointerdown', 'mousedown', 'pointerup', 'mouseup', 'click'])"
               " document.dispatchEvent(new MouseEvent(type, {clientX: x, clientY: y, bubbles: true})); }, 50);"
            << "Unblock: http://{b}/";
        QTest::newRow("the focus taken, then Enter and space")
            << "window.focus(); document.body.tabIndex = 0; document.body.focus(); setInterval(() => { for (const key of ['Enter', ' '])"
               " for (const type of ['keydown', 'keypress', 'keyup']) document.dispatchEvent(new KeyboardEvent(type, {key, bubbles: true})); }, 50);"
            << "Unblock: http://{b}/";
        QTest::newRow("the blocked address asked for again and again") << "setInterval(() => { location = 'http://{b}/again'; }, 50);"
                                                                << "Unblock: http://{b}/again";
        QTest::newRow("the program's own pictures framed and navigated to")
            << "const f = document.createElement('iframe'); f.src = 'qrc:/images/blocked.svg'; document.body.append(f);"
               " setTimeout(() => { location = 'qrc:/images/blocked.svg'; }, 300);"
            << "This address cannot be unblocked.";
    }
    void blockPageCannotBePressedByASite()
    {
        QFETCH(QString, attack);
        QFETCH(QString, said);
        const qsizetype asked = m_dialogs.questions.size(), told = m_dialogs.messages.size();
        QString address;
        STEP(address = openPage("<a id=go href=\"http://{b}/\">go</a><script>function attack() { " + attack + " }</script>", "#go"));
        QTRY_VERIFY_WITH_TIMEOUT(m_browser->blockPageShown(), 10000);
        QCOMPARE(evaluate(fill("attack(); window.ticks = 0; setInterval(() => ++ticks, 50); true")), QVariant(true));
        QVERIFY(e2e::waitFor([&] { return evaluate(QStringLiteral("ticks")).toInt() >= 30; }, 15000)); // its timers ran a while
        const auto outcome = [&] {
            return QStringLiteral("received \"%1\", asked or told %2, dialogs \"%3\", allowed %4, block page %5, showing %6")
                .arg(blockedReceived()).arg(m_dialogs.questions.size() + m_dialogs.messages.size() - asked - told)
                .arg(m_dialogsSeen.join(", ")).arg(int(m_browser->state().allowList.allows("http://" + host(21) + "/"))).arg(int(m_browser->blockPageShown())).arg(url());
        };
        QCOMPARE(outcome(), "received \"\", asked or told 0, dialogs \"\", allowed 0, block page 1, showing " + address);

        STEP(clickControl(m_browser.get(), QStringLiteral("blockPageAskButton"))); // answered No
        QTRY_COMPARE(outcome(), "received \"\", asked or told 1, dialogs \"\", allowed 0, block page 1, showing " + address);
        QCOMPARE((m_dialogs.questions.size() > asked ? m_dialogs.questions : m_dialogs.messages).last().text, fill(said));
    }

    // The parent's preview, through the parents' button and the real site selection, of a site on the blocked host: it
    // shows, over the site selection; a link to a new window loads in it (no window, no pop-up), an address for an
    // outside program goes nowhere, and the child's filter learns, blocks and reports nothing.
    void previewShowsTheParentABlockedSiteAndTeachesTheChildNothing()
    {
        m_rejectDialogs = false; // the two windows are dialogs this case drives itself
        const auto rejectAgain = qScopeGuard([this] { m_rejectDialogs = true; });
        const QString address = "http://" + host(21) + "/preview.htm";
        QVERIFY(addTickedSite(m_browser->state().userId, address) > 0);
        const QString statusLine = m_browser->statusLineText(), allowList = m_browser->state().allowList.text();
        QStringList seen; // by the parent, in turn
        onceShown<SiteSelectionWindow>([&](SiteSelectionWindow *sites) {
            auto *list = sites->findChild<QTreeWidget *>(QStringLiteral("siteList"));
            const QList<QTreeWidgetItem *> rows = list->findItems(address, Qt::MatchExactly, SiteSelectionWindow::URL);
            QVERIFY(rows.size() == 1);
            list->scrollToItem(rows.first()); // the sites earlier cases added come before it
            STEP(clickAt(list->viewport(), Qt::LeftButton, list->visualItemRect(rows.first()).center()));
            onceShown<SitePreviewWindow>([&](SitePreviewWindow *preview) {
                QVERIFY(preview->parentWidget() == sites);
                auto *view = qobject_cast<ParentBrowserView *>(preview->view());
                const auto showing = [&] { return view->title() + " at " + view->currentUrl().toString(); };
                e2e::waitFor([&] { return view->title() == QLatin1String("Preview"); }, 15000);
                seen << showing();
                const QSize size = view->webView()->size();
                const struct { int quarter; const char *title; int ms; } clicks[] = {{1, "Out", 500}, {3, "Reached", 1000}};
                for (const auto &click : clicks) // the page may not take its first click before it has been drawn
                    QVERIFY(e2e::waitFor([&] {
                        clickAt(view->webView(), Qt::LeftButton, QPoint(size.width() * click.quarter / 4, size.height() / 2));
                        return e2e::waitFor([&] { return view->title() == QLatin1String(click.title); }, click.ms);
                    }, 15000));
                seen << showing() << (PopupWindow::anyOpen() ? "a pop-up to the watchdog" : "no pop-up to the watchdog");
                clickControl(preview, QStringLiteral("closeButton"));
            });
            clickControl(sites, QStringLiteral("previewButton"));
            clickControl(sites, QStringLiteral("saveButton"));
        });
        clickControl(m_browser.get(), QStringLiteral("parentsButton"));
        QCOMPARE(seen, QStringList({"Preview at " + address, "Reached at http://" + host(21) + "/", "no pop-up to the watchdog"}));
        QCOMPARE(m_sites.log.value(host(21)).filter(QRegularExpression("^GET /(?!favicon)")), QStringList({"GET /preview.htm", "GET /"}));
        QCOMPARE(QStringList({m_browser->state().allowList.text(), m_browser->state().blockedUrl, m_browser->statusLineText()})
                     + m_handedOff + m_popupsShown, QStringList({allowList, QString(), statusLine})); // nothing handed off
    }
};

QTEST_MAIN(tst_E2eAttacks)
#include "tst_e2e_attacks.moc"
