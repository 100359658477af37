#include "E2eSupport.h"
#include "support/RealInput.h"
#include "support/TestDoubles.h"

#include "browserview/WebEngineBrowserView.h"
#include "browsing/MainWindow.h"
#include "browsing/PopupWindow.h"
#include "shell/HttpTransport.h"
#include "system/WindowCloser.h"

#include <QApplication>
#include <QDir>
#include <QPointer>
#include <QScopeGuard>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QWebEngineDownloadRequest>
#include <QWebEngineProfile>
#include <functional>
#include <memory>
#include <optional>

// Runs a helper that asserts and leaves the test function at its first failure.
#define STEP(call) do { call; if (QTest::currentTestFailed()) return; } while (false)

// One browser window walks through the cases in order, later ones standing on sites learned earlier.
// Stranger Pond (127.0.0.9) is ticked for no child; until it is unblocked it must never see a request.
class tst_E2eBrowsing : public QObject {
    Q_OBJECT

    // Records which pop-up windows were ever shown.
    struct ShowWatcher : QObject {
        bool eventFilter(QObject *watched, QEvent *event) override
        {
            if (event->type() == QEvent::Show && qobject_cast<PopupWindow *>(watched))
                shown.insert(watched);
            return false;
        }
        QSet<QObject *> shown;
    };

    e2e::PortalProcess m_portal;
    std::unique_ptr<e2e::ProgramFolder> m_folder;
    FixedClock m_clock;
    ScriptedDialogs m_dialogs;
    RecordingLauncher m_launcher;
    std::unique_ptr<HttpTransport> m_transport;
    WebEngineBrowserViewFactory m_views;
    std::unique_ptr<MainWindow> m_browser;
    ShowWatcher m_watcher;
    QList<QPointer<BrowserView>> m_popupViews; // every pop-up view handed to a page

    static WebEngineBrowserView *viewOf(BrowserView *v) { return qobject_cast<WebEngineBrowserView *>(v); }
    WebEngineBrowserView *view() const { return viewOf(m_browser->view()); }
    QString url() const { return view()->currentUrl().toString(); }
    QString siteHost(int host) const { return QStringLiteral("127.0.0.%1:%2").arg(host).arg(m_portal.port()); }
    QString site(int host, const QString &path = QStringLiteral("/")) const { return "http://" + siteHost(host) + path; }
    QString menuUrl() const
    {
        return QStringLiteral("http://%1/tad/tad_menu.asp?t=1&userid=%2").arg(m_portal.host(), m_browser->state().userId);
    }
    QString stranger() const { return site(9); }
    QStringList strangerRequests() const { return m_portal.requests(siteHost(9)); }

    void startBrowser()
    {
        m_browser = std::make_unique<MainWindow>(BrowserServices{
            .clock = &m_clock, .dialogs = &m_dialogs, .launcher = &m_launcher, .transport = m_transport.get(),
            .views = &m_views, .closeWindowsByTitle = [](const QStringList &titles) { CloseWindowsByTitle(titles); },
            .executableFolder = m_folder->path().chopped(1),
            .defaultAppFolder = QDir::tempPath() + QStringLiteral("/not-the-program-folder/"),
            .commandLine = QStringLiteral("1")});
        // After the window's own handler, so the request already holds the pop-up view.
        connect(m_browser->view(), &BrowserView::newWindowRequested, this,
                [this](NewWindowRequest &request) { m_popupViews << request.newWindow; });
        QTRY_VERIFY_WITH_TIMEOUT(m_browser->startupFinished(), 60000);
        QTRY_COMPARE_WITH_TIMEOUT(view()->page()->title(), QStringLiteral("Anna's menu"), 15000);
    }

    QVariant evaluate(const QString &script) { return e2e::evaluate(view()->page(), script); }

    bool click(const QString &selector)
    {
        const QString script = QStringLiteral("(() => { const e = document.querySelector('%1'); e?.click(); return !!e; })()");
        return evaluate(script.arg(selector)).toBool();
    }

    // Runs `start`; true once the main view completes a load whose address holds `urlPart`.
    bool waitForLoad(const std::function<void()> &start, const QString &urlPart)
    {
        bool loaded = false;
        const QMetaObject::Connection c = connect(m_browser->view(), &BrowserView::loadFinished, this,
                                                  [&](bool ok) { loaded = loaded || (ok && url().contains(urlPart)); });
        start();
        const bool ok = e2e::waitFor([&] { return loaded; }, 15000);
        disconnect(c);
        if (!ok)
            qWarning("no load of %s; showing %s", qPrintable(urlPart), qPrintable(url()));
        return ok;
    }

    // Forgets the last blocked address; child 1's tile of `item`, then `expectedUrl` completing, if given.
    void openTile(int item, const QString &expectedUrl)
    {
        m_browser->state().blockedUrl.clear();
        QVERIFY(waitForLoad([this] { clickControl(m_browser.get(), QStringLiteral("faceButton0")); }, QStringLiteral("tad_menu.asp?t=1")));
        const QString tile = QStringLiteral("a.tile[href$=\"item=%1\"]").arg(item);
        if (expectedUrl.isEmpty())
            QVERIFY(click(tile));
        else
            QVERIFY(waitForLoad([&] { QVERIFY(click(tile)); }, expectedUrl));
    }

    void expectStrangerBlocked()
    {
        QTRY_COMPARE_WITH_TIMEOUT(m_browser->state().blockedUrl, stranger(), 15000);
        QCOMPARE(m_browser->statusLineText(), QStringLiteral("Blocked: ") + stranger().left(50));
        QVERIFY2(strangerRequests().isEmpty(), qPrintable(strangerRequests().join(QLatin1Char(' '))));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_portal.start());
        m_folder = std::make_unique<e2e::ProgramFolder>(m_portal.host());
        m_transport = std::make_unique<HttpTransport>(10000);
        qApp->installEventFilter(&m_watcher);
        startBrowser();
    }
    void cleanupTestCase()
    {
        qApp->removeEventFilter(&m_watcher);
        m_browser.reset();
        QVERIFY2(m_dialogs.messages.isEmpty(), qPrintable(m_dialogs.messages.value(0).text)); // no case shows one
    }
    void init() { m_watcher.shown.clear(); m_popupViews.clear(); }

    void menuShowsChildOnesNamesAndTiles()
    {
        QStringList tips;
        for (int face = 0; face < 4; ++face)
            tips << m_browser->faceToolTip(face);
        QCOMPARE(tips.join(QLatin1Char('|')), QStringLiteral("Anna's Menu|Ben's Menu|Cara's Menu|Dan's Menu"));
        QCOMPARE(url(), menuUrl());
        QCOMPARE(m_browser->siteLineText(), m_portal.host());
        QVERIFY(m_browser->statusLineText().isEmpty());
        // The heading, then child 1's ticked sites in id order: not Stranger Pond, not another installation's.
        const QString script = QStringLiteral("[document.querySelector('h1').textContent].concat(Array.from("
                                              "document.querySelectorAll('a.tile span'), e => e.textContent)).join('|')");
        QCOMPARE(evaluate(script).toString(),
                 QStringLiteral("Anna's menu|Plain Pond|Frame Pond|Pop-up Pond|Link Pond|Download Pond|Broken Pond|"
                                "Data Pond|Window Pond|Jump Pond|Refresh Pond"));
    }

    void tileOpensItsSiteThroughThePortalAndLearnsItsHost()
    {
        QVERIFY(!m_browser->state().allowList.textContains(siteHost(2)));
        STEP(openTile(1, site(2)));
        QCOMPARE(view()->page()->title(), QStringLiteral("Plain Pond"));
        QCOMPARE(m_browser->state().currentUrl, site(2));
        QCOMPARE(m_browser->siteLineText(), siteHost(2));
        QVERIFY(m_browser->state().allowList.text().endsWith(QLatin1Char(',') + siteHost(2)));
        QVERIFY(m_browser->statusLineText().isEmpty());

        // Through the portal's redirect page, then the site itself.
        const QStringList all = m_portal.requests(QString());
        const qsizetype go = all.lastIndexOf(QRegularExpression(QStringLiteral("^%1 /tad/tad_go\\.asp\\?sig=[0-9a-f]{32}&t=1&userid=\\d+&item=1$")
                                                                    .arg(QRegularExpression::escape(m_portal.host()))));
        QVERIFY2(go >= 0, qPrintable(all.join(QLatin1Char('\n'))));
        QVERIFY(all.indexOf(siteHost(2) + QStringLiteral(" /"), go) > go);

        // A link inside the learned site passes; the host is learned once.
        QVERIFY(waitForLoad([&] { QVERIFY(click(QStringLiteral("#second"))); }, site(2, QStringLiteral("/second.htm"))));
        QCOMPARE(m_browser->state().allowList.text().count(siteHost(2)), 1);
    }

    void blockedNavigationLeavesThePageShowingAndSendsNoRequest_data()
    {
        QTest::addColumn<int>("item");
        QTest::addColumn<int>("page");      // host of the allowed page that stays showing; 0: the menu
        QTest::addColumn<QString>("selector"); // what the child clicks on it, if anything
        QTest::addColumn<QString>("title");
        QTest::addColumn<int>("popupViews"); // pop-up views handed to the page, never shown
        QTest::newRow("link to a site ticked for no child") << 4 << 5 << "#stranger-link" << "Link Pond" << 0;
        QTest::newRow("allowed site answering with a redirect") << 9 << 0 << "" << "Anna's menu" << 0;
        QTest::newRow("meta refresh") << 10 << 8 << "" << "Refresh Pond" << 0;
        // Blocked while its page loads: the status line still offers it once the page has finished.
        QTest::newRow("inline frame") << 8 << 6 << "" << "Window Pond" << 0;
        QTest::newRow("window.open") << 3 << 4 << "#open-blocked" << "Pop-up Pond" << 1;
    }

    void blockedNavigationLeavesThePageShowingAndSendsNoRequest()
    {
        QFETCH(int, item);
        QFETCH(int, page);
        QFETCH(QString, selector);
        QFETCH(QString, title);
        QFETCH(int, popupViews);
        STEP(openTile(item, page == 0 ? QString() : site(page)));
        if (!selector.isEmpty())
            QVERIFY(click(selector));
        STEP(expectStrangerBlocked());
        QVERIFY(m_browser->versionLineText().isEmpty());
        QVERIFY(!m_browser->state().allowList.textContains(siteHost(9)));
        QCOMPARE(url(), page == 0 ? menuUrl() : site(page));
        QCOMPARE(view()->page()->title(), title);
        QCOMPARE(m_browser->siteLineText(), page == 0 ? m_portal.host() : siteHost(page));
        if (page != 0)
            QCOMPARE(m_browser->state().currentUrl, site(page));
        QCOMPARE(m_popupViews.size(), popupViews);
        QTRY_VERIFY_WITH_TIMEOUT(std::all_of(m_popupViews.cbegin(), m_popupViews.cend(), [](auto &v) { return v.isNull(); }),
                                 10000); // each closed itself
        QVERIFY(m_browser->popups().isEmpty());
        QVERIFY(m_watcher.shown.isEmpty());
    }

    void dataAddressesNeverShow()
    {
        QStringList asked, shown, refused; // data: addresses put to the filter, taken on by the view, refused by the engine
        const auto isData = [](const QUrl &u) { return u.scheme() == QLatin1String("data"); };
        const QList<QMetaObject::Connection> watching = {
            connect(m_browser->view(), &BrowserView::navigationRequested, this,
                    [&](NavigationRequest &r) { if (isData(r.url)) asked << r.url.toString(); }),
            connect(view()->page(), &QWebEnginePage::urlChanged, this,
                    [&](const QUrl &u) { if (isData(u)) shown << u.toString(); }),
            connect(m_browser->view(), &BrowserView::ScriptError, this,
                    [&](const QString &m) { if (m.contains(QLatin1String("data URL"))) refused << m; }),
        };
        auto unwatch = qScopeGuard([&] { for (const QMetaObject::Connection &c : watching) disconnect(c); });
        const auto blockedData = [this] { return m_browser->state().blockedUrl.startsWith(QLatin1String("data:text/html,")); };

        // A page's link: the engine refuses it itself (on the console), or asks and our filter blocks it.
        STEP(openTile(7, site(5, QStringLiteral("/data-link.htm"))));
        QVERIFY(click(QStringLiteral("#data-link")));
        QTRY_VERIFY_WITH_TIMEOUT(!refused.isEmpty() || !m_browser->state().blockedUrl.isEmpty(), 10000);
        qInfo("data: link on a page: %s", refused.isEmpty() ? "blocked by our filter" : "refused by QtWebEngine itself");
        QVERIFY(asked.isEmpty() || blockedData());
        QCOMPARE(url(), site(5, QStringLiteral("/data-link.htm")));
        QCOMPARE(evaluate(QStringLiteral("document.querySelector('h1').textContent")).toString(),
                 QStringLiteral("Data Pond"));

        // Given to the view directly, which the engine allows: the filter alone stands in the way.
        m_browser->state().blockedUrl.clear();
        view()->navigate(QStringLiteral("data:text/html,<h1>typed</h1>"));
        QTRY_VERIFY_WITH_TIMEOUT(blockedData(), 10000);
        QCOMPARE(m_browser->statusLineText(), QStringLiteral("Blocked: ") + m_browser->state().blockedUrl.left(50));
        QVERIFY(waitForLoad([&] { view()->navigate(site(2)); }, site(2)));
        QVERIFY2(shown.isEmpty(), qPrintable(shown.join(QLatin1Char(' '))));
    }

    void downloadIsCancelledAndSavesNothing()
    {
        // The profile saves to a folder of the test's own, so "nothing saved" means it stays empty.
        QTemporaryDir downloads;
        QWebEngineProfile *profile = view()->page()->profile();
        const QString previousPath = profile->downloadPath();
        profile->setDownloadPath(downloads.path());
        auto restore = qScopeGuard([&] { profile->setDownloadPath(previousPath); });

        QStringList requested; // address and state; after the profile's own handler, which refuses every download
        const QMetaObject::Connection c =
            connect(profile, &QWebEngineProfile::downloadRequested, this, [&](QWebEngineDownloadRequest *d) {
                requested << d->url().toString() + QLatin1Char(' ') + QString::number(d->state());
            });
        auto unwatch = qScopeGuard([&] { disconnect(c); });
        STEP(openTile(5, site(5, QStringLiteral("/download.htm"))));
        QVERIFY(click(QStringLiteral("#download-link")));
        QTRY_COMPARE_WITH_TIMEOUT(requested.size(), 1, 15000);
        QCOMPARE(requested.at(0), site(5, QStringLiteral("/files/pond-facts.txt "))
                                      + QString::number(QWebEngineDownloadRequest::DownloadCancelled));
        QVERIFY(waitForLoad([&] { view()->navigate(site(2)); }, site(2)));
        QVERIFY(QDir(downloads.path()).isEmpty());
        QVERIFY(!QFile::exists(m_folder->path(QStringLiteral("pond-facts.txt"))));
    }

    void popupOnAnAllowedAddressShowsOverTheMainWindowUntilClosed_data()
    {
        QTest::addColumn<QString>("selector");
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("byBlockedFrame"); // else by a face selection
        const QString second = site(2, QStringLiteral("/second.htm"));
        QTest::newRow("window.open, face selection") << "#open-allowed" << site(2) << false;
        QTest::newRow("target _blank, face selection") << "#blank-link" << second << false;
        QTest::newRow("target _blank, page with a blocked frame") << "#blank-link" << second << true;
    }

    void popupOnAnAllowedAddressShowsOverTheMainWindowUntilClosed()
    {
        QFETCH(QString, selector);
        QFETCH(QString, address);
        QFETCH(bool, byBlockedFrame);
        STEP(openTile(3, site(4)));
        QVERIFY(click(selector));
        QTRY_COMPARE_WITH_TIMEOUT(m_browser->popups().size(), 1, 15000);
        QPointer<PopupWindow> popup = m_browser->popups().at(0);
        QTRY_VERIFY_WITH_TIMEOUT(popup && popup->isVisible(), 15000);
        QTRY_COMPARE_WITH_TIMEOUT(viewOf(popup->view())->currentUrl().toString(), address, 15000);
        QTRY_COMPARE_WITH_TIMEOUT(popup->siteLineText(), siteHost(2), 15000); // its page has completed
        QCOMPARE(popup->geometry(), m_browser->geometry());
        QCOMPARE(m_browser->statusLineText(), address.left(50));
        QCOMPARE(url(), site(4));

        if (byBlockedFrame) {
            // Window Pond's host was learned earlier; its frame's was not.
            QVERIFY(m_browser->state().allowList.allows(site(6)));
            viewOf(popup->view())->page()->runJavaScript(QStringLiteral("location.href = '%1'").arg(site(6)));
            STEP(expectStrangerBlocked());
            QTRY_VERIFY_WITH_TIMEOUT(popup.isNull(), 10000);
            QCOMPARE(url(), site(4));
        } else {
            clickControl(m_browser.get(), QStringLiteral("faceButton0"));
        }
        QTRY_VERIFY_WITH_TIMEOUT(m_browser->popups().isEmpty(), 10000);
    }

    void unblockLoadsTheAddressAndSurvivesARestart()
    {
        STEP(openTile(4, site(5)));
        QVERIFY(click(QStringLiteral("#stranger-link")));
        STEP(expectStrangerBlocked()); // also: no case before has reached Stranger Pond

        m_dialogs.questions.clear();
        m_dialogs.answers = {Dialogs::Answer::Yes};
        QVERIFY(waitForLoad([this] { clickControl(m_browser.get(), QStringLiteral("statusLine")); }, stranger()));
        QCOMPARE(m_dialogs.questions.size(), 1);
        QCOMPARE(m_dialogs.questions.at(0).title + '|' + m_dialogs.questions.at(0).text, "Allow Access|Unblock: " + stranger());
        QCOMPARE(view()->page()->title(), QStringLiteral("Stranger Pond"));
        QVERIFY(m_browser->statusLineText().isEmpty());
        QCOMPARE(strangerRequests().value(0), QStringLiteral("/")); // the page itself first; its icon may follow

        // Saved with the sites learned on the way.
        const QByteArray file = m_folder->read(QStringLiteral("unblocked.tad"));
        QVERIFY(file.endsWith("\r\n"));
        const QStringList entries = QString::fromLatin1(file.trimmed()).split(QLatin1Char(','));
        for (int host : {2, 5, 6, 9})
            QVERIFY2(entries.contains(siteHost(host)), qPrintable(siteHost(host)));

        // A new start on the same folder allows the site from the outset.
        m_browser.reset();
        STEP(startBrowser());
        QVERIFY(m_browser->state().allowList.text().endsWith(QString::fromLatin1(file.trimmed())));
        STEP(openTile(4, site(5)));
        QVERIFY(waitForLoad([&] { QVERIFY(click(QStringLiteral("#stranger-link"))); }, stranger()));
        QVERIFY(m_browser->statusLineText().isEmpty());
        QCOMPARE(strangerRequests().count(QStringLiteral("/")), 2);
    }
};

QTEST_MAIN(tst_E2eBrowsing)
#include "tst_e2e_browsing.moc"
