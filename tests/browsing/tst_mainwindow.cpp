#include "browserview/ChildRequestGuard.h"
#include "support/FakeBrowserView.h"
#include "browsing/MainWindow.h"
#include "browsing/PopupWindow.h"
#include "support/RealInput.h"
#include "support/TestDoubles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

// The main window's and pop-up's handling of navigations, completed pages,
// new windows, face selections and unblocking, on scripted views.
class tst_MainWindow : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void allowTestCancelsAndReports();
    void portalRedirectHopsPassOthersAreTested();
    void completedPagesAreLearnedOnceAndSpecialSitesAllowPopups();
    void faceSelectionRequestsTheMenuAndReportsALaunchFailure();
    void popupShowsOnAllowedAndClosesOnBlocked();
    void popupsCloseWithTheMainWindow();
    void unblockAsksThenAllowsLoadsAndSaves();
    void requestGuardRefusesWorkersAndBlockedFrames();
    void unblockRefusesWhatIsNoSiteName();
    void publicPortalEntryFollowsTheHostInUse();
    void unblockThatCannotBeSavedStillAllows();

private:
    void start();
    FakeBrowserView *view() const { return m_world->views.created.at(0); }
    ProgramState &g() { return m_window->state(); }

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<ScriptedWorld> m_world;
    std::unique_ptr<MainWindow> m_window;
};

static const QString Blocked80 =
    QStringLiteral("http://stranger.example/a-very-long-path/that-keeps-going/and-going?x=0123456789");

void tst_MainWindow::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QDir().mkpath(m_dir->path() + QStringLiteral("/tadpole"));
    QFile(m_dir->path() + QStringLiteral("/tadpole/terminate")).open(QIODevice::WriteOnly);
    m_world = std::make_unique<ScriptedWorld>();
}

void tst_MainWindow::cleanup()
{
    m_window.reset();
}

void tst_MainWindow::start()
{
    m_window = std::make_unique<MainWindow>(
        m_world->services(m_dir->path() + QStringLiteral("/tadpole"), m_dir->path() + QLatin1Char('/')));
    QTRY_VERIFY(m_window->startupFinished());
}

void tst_MainWindow::allowTestCancelsAndReports()
{
    start();
    QVERIFY(g().filterOn);
    // The empty last entry left by a missing unblocked file allows nothing.
    QVERIFY(g().allowList.text().endsWith(QLatin1Char(',')));
    QCOMPARE(Blocked80.size(), 80);
    QVERIFY(!view()->simulateNavigation(Blocked80));
    QCOMPARE(m_window->statusLineText(), QStringLiteral("Blocked: ") + Blocked80.left(50));
    QCOMPARE(g().blockedUrl, Blocked80);
    QCOMPARE(m_window->versionLineText(), QString());

    // A frame is tested like the page; an address with an entry anywhere passes.
    QVERIFY(!view()->simulateNavigation(QStringLiteral("http://ads.example/frame"), false));
    QCOMPARE(g().blockedUrl, QStringLiteral("http://ads.example/frame"));
    const QString tracked = QStringLiteral("http://any.example/?ref=DoubleClick");
    QVERIFY(view()->simulateNavigation(tracked));
    QCOMPARE(g().currentUrl, tracked);
    QCOMPARE(m_window->statusLineText(), QString());
    QVERIFY(view()->simulateNavigation(QStringLiteral("About:Blank")));
    QVERIFY(!view()->simulateNavigation(QStringLiteral("file:///etc/passwd")));
    QVERIFY(!view()->simulateNavigation(QStringLiteral("data:text/html,hello")));
    // Other schemes are refused whatever they contain; what is shown is what was tested.
    QVERIFY(!view()->simulateNavigation(QStringLiteral("mailto:?body=paypal")));
    QVERIFY(!view()->simulateNavigation(QStringLiteral("http://cartoonparade.com@stranger.example/a b")));
    QCOMPARE(g().blockedUrl, QStringLiteral("http://cartoonparade.com@stranger.example/a%20b"));

    // Before the filter is on, nothing is tested and the status line stays.
    g().filterOn = false;
    m_window->setStatusLine(QStringLiteral("Ready"));
    NavigationRequest request;
    request.url = QUrl(QStringLiteral("http://stranger.example/"));
    emit view()->navigationRequested(request);
    QVERIFY(!request.cancel);
    QCOMPARE(m_window->statusLineText(), QStringLiteral("Ready"));
}

void tst_MainWindow::portalRedirectHopsPassOthersAreTested()
{
    start();
    const QString menu = g().portalBase + QStringLiteral("tad_menu.asp?t=1&userid=") + g().userId;
    const QString ownGo = g().portalBase + QStringLiteral("tad_go.asp?t=1&userid=") + g().userId + QStringLiteral("&item=4");
    const QString otherGo = g().portalBase + QStringLiteral("tad_go.asp?t=1&userid=777&item=4");
    const struct { const char *name; QString from, origin, to; bool mainFrame, allowed; } rows[] = {
        {"a tile's hop from the menu", ownGo, menu, "http://127.0.0.5:8642/", true, true},
        {"the site's own next hop, learned with the first", "http://127.0.0.5:8642/", menu, "https://www.127.0.0.5:8642/x", true, true},
        {"onward to another host", "http://127.0.0.5:8642/", menu, "http://stranger.example/", true, false},
        {"a hop in a frame", ownGo, menu, "http://stranger.example/", false, false},
        {"another installation's go link", otherGo, menu, "http://stranger.example/", true, false},
        {"our go link put on another page", ownGo, "http://127.0.0.5:8642/", "http://stranger.example/", true, false},
        {"another port on the portal's address", "http://127.0.0.1:9999/tad/x", menu, "http://stranger.example/", true, false},
    };
    for (const auto &row : rows) {
        NavigationRequest request;
        request.url = QUrl(row.to);
        request.mainFrame = row.mainFrame;
        request.redirect = true;
        request.redirectedFrom = QUrl(row.from);
        request.origin = QUrl(row.origin);
        emit view()->navigationRequested(request);
        QVERIFY2(request.cancel != row.allowed, row.name);
    }
    QVERIFY(g().allowList.text().endsWith(QStringLiteral(",127.0.0.5:8642")));
    QVERIFY(!g().allowList.textContains(QStringLiteral("STRANGER")));
}

void tst_MainWindow::completedPagesAreLearnedOnceAndSpecialSitesAllowPopups()
{
    start();
    const QString before = g().allowList.text();
    emit view()->documentLoaded(QUrl(QStringLiteral("http://www.pond-games.example/play/index.htm")), true);
    QCOMPARE(m_window->siteLineText(), QStringLiteral("POND-GAMES.EXAMPLE"));
    QCOMPARE(g().allowList.text(), before + QStringLiteral(",POND-GAMES.EXAMPLE"));
    emit view()->documentLoaded(QUrl(QStringLiteral("http://pond-games.example/other")), true);
    QCOMPARE(g().allowList.text(), before + QStringLiteral(",POND-GAMES.EXAMPLE"));
    QVERIFY(view()->simulateNavigation(QStringLiteral("https://cdn.pond-games.example/x.js"), false));

    // A special site lets pages open pop-ups until the next face selection,
    // and leaves the status line alone.
    QVERIFY(!view()->simulateNavigation(Blocked80));
    emit view()->documentLoaded(QUrl(QStringLiteral("http://www.tinytotstv.org/shows")), true);
    QVERIFY(g().popupsAllowed);
    QVERIFY(m_window->statusLineText().startsWith(QLatin1String("Blocked: ")));
    clickControl(m_window.get(), QStringLiteral("faceButton1"));
    QVERIFY(!g().popupsAllowed);
}

void tst_MainWindow::faceSelectionRequestsTheMenuAndReportsALaunchFailure()
{
    start();
    const QString folder = g().appFolder;
    m_world->launcher.started.clear();
    m_world->closedTitles.clear();
    clickControl(m_window.get(), QStringLiteral("faceButton2"));
    QCOMPARE(view()->navigated.last(), g().portalBase + QStringLiteral("tad_menu.asp?t=3&userid=") + g().userId);
    QCOMPARE(g().currentFace, qint16(2));
    QCOMPARE(m_window->highlightLeft() + 2, m_window->faceLeft(2));
    QCOMPARE(m_world->launcher.started, QStringList({folder + QStringLiteral("terminate")}));
    QCOMPARE(m_world->closedTitles, QStringList({QStringLiteral("Tadpole Pop-Up")}));
    QVERIFY(m_world->dialogs.messages.isEmpty());

    m_world->launcher.fail = true;
    clickControl(m_window.get(), QStringLiteral("faceButton3"));
    QCOMPARE(m_world->dialogs.messages.size(), 1);
    QCOMPARE(m_world->dialogs.messages.at(0).title, QStringLiteral("Error"));
    QVERIFY(m_world->dialogs.messages.at(0).text.contains(QLatin1String("terminate")));
    QCOMPARE(view()->navigated.last(), g().portalBase + QStringLiteral("tad_menu.asp?t=4&userid=") + g().userId);
    QCOMPARE(m_window->highlightLeft() + 2, m_window->faceLeft(3));
}

void tst_MainWindow::popupShowsOnAllowedAndClosesOnBlocked()
{
    start();
    NewWindowRequest request = view()->simulateNewWindow();
    QVERIFY(request.newWindow);
    QCOMPARE(m_window->popups().size(), 1);
    PopupWindow *popup = m_window->popups().first();
    QCOMPARE(popup->windowTitle(), QStringLiteral("Tadpole Pop-Up"));
    QVERIFY(!popup->isVisible());
    auto *popupView = qobject_cast<FakeBrowserView *>(request.newWindow);

    // An allowed address that holds "http:///" loads but does not show the window.
    QVERIFY(popupView->simulateNavigation(QStringLiteral("http:///local/page")));
    QVERIFY(!popup->isVisible());

    const QString allowed = QStringLiteral("http://www.cartoonparade.com/games/a-rather-long-page-name-for-the-popup.htm");
    QVERIFY(popupView->simulateNavigation(allowed));
    QVERIFY(popup->isVisible());
    QCOMPARE(m_window->statusLineText(), allowed.left(50));
    QCOMPARE(popup->siteLineText(), QStringLiteral("CARTOONPARADE.COM"));
    QVERIFY(g().currentUrl != allowed);

    // A page in the pop-up learns its own host for the main window too.
    emit popupView->documentLoaded(QUrl(QStringLiteral("http://www.tadpolekids.dyndns.org/x")), true);
    QCOMPARE(popup->siteLineText(), QStringLiteral("TADPOLEKIDS.DYNDNS.ORG"));
    QVERIFY(g().allowList.textContains(QStringLiteral("TADPOLEKIDS.DYNDNS.ORG")));

    // One blocked frame closes the whole pop-up.
    QPointer<PopupWindow> watched(popup);
    QVERIFY(!popupView->simulateNavigation(Blocked80, false));
    QCOMPARE(m_window->statusLineText(), QStringLiteral("Blocked: ") + Blocked80.left(50));
    QCOMPARE(g().blockedUrl, Blocked80);
    QTRY_VERIFY(watched.isNull());
    QVERIFY(m_window->popups().isEmpty());

    // While a special site allows pop-ups a shown window still filters, but
    // stays; one never shown closes on its first block like any other.
    g().popupsAllowed = true;
    QPointer<BrowserView> hidden = view()->simulateNewWindow().newWindow;
    QVERIFY(!qobject_cast<FakeBrowserView *>(hidden.data())->simulateNavigation(Blocked80));
    QTRY_VERIFY(hidden.isNull());
    auto *kept = qobject_cast<FakeBrowserView *>(view()->simulateNewWindow().newWindow);
    QVERIFY(kept->simulateNavigation(allowed));
    QVERIFY(!kept->simulateNavigation(Blocked80));
    QTest::qWait(50);
    QCOMPARE(m_window->popups().size(), 1);

    // A page in a pop-up opens a further pop-up.
    QVERIFY(kept->simulateNewWindow().newWindow);
    QCOMPARE(m_window->popups().size(), 2);
}

void tst_MainWindow::popupsCloseWithTheMainWindow()
{
    start();
    m_window->show();
    QVERIFY(view()->simulateNewWindow().newWindow);
    QVERIFY(view()->simulateNewWindow().newWindow);
    QList<QPointer<PopupWindow>> popups;
    for (PopupWindow *p : m_window->popups())
        popups << p;
    QCOMPARE(popups.size(), 2);
    m_window->close();
    for (const QPointer<PopupWindow> &p : popups)
        QTRY_VERIFY(p.isNull());
}

void tst_MainWindow::unblockAsksThenAllowsLoadsAndSaves()
{
    start();
    // Only a status line that starts with exactly "Blocked:" offers to unblock.
    m_window->setStatusLine(QStringLiteral("blocked: http://x"));
    clickControl(m_window.get(), QStringLiteral("statusLine"));
    QVERIFY(m_world->dialogs.questions.isEmpty());

    // A site learned on the way is saved along with the unblocked one.
    emit view()->documentLoaded(QUrl(QStringLiteral("http://learned.example/")), true);
    const QString listBefore = g().allowList.text();
    QVERIFY(!view()->simulateNavigation(QStringLiteral("http://www.stranger.example/page")));
    m_world->dialogs.answers = {Dialogs::Answer::No};
    clickControl(m_window.get(), QStringLiteral("statusLine"));
    QCOMPARE(m_world->dialogs.questions.at(0).text, QStringLiteral("Unblock: http://www.stranger.example/page"));
    QCOMPARE(m_world->dialogs.questions.at(0).title, QStringLiteral("Allow Access"));
    QCOMPARE(g().allowList.text(), listBefore);
    QVERIFY(!QFile::exists(g().appFolder + QStringLiteral("unblocked.tad")));

    // Yes unblocks the address the question showed, even when a page blocked
    // another one while it was open.
    m_world->dialogs.answers = {Dialogs::Answer::Yes};
    m_world->dialogs.onQuestion = [this] { view()->simulateNavigation(QStringLiteral("http://www.later.example/ad")); };
    const int navigationsBefore = view()->navigated.size();
    clickControl(m_window.get(), QStringLiteral("statusLine"));
    QVERIFY2(g().allowList.text().endsWith(QStringLiteral(",LEARNED.EXAMPLE,STRANGER.EXAMPLE")), qPrintable(g().allowList.text()));
    QCOMPARE(view()->navigated.mid(navigationsBefore), QStringList({QStringLiteral("http://www.stranger.example/page")}));
    QCOMPARE(g().currentUrl, QStringLiteral("http://www.stranger.example/page"));
    QVERIFY(!g().allowList.textContains(QStringLiteral("LATER")));

    QFile saved(g().appFolder + QStringLiteral("unblocked.tad"));
    QVERIFY(saved.open(QIODevice::ReadOnly));
    const QByteArray line = saved.readAll();
    QVERIFY(line.endsWith(",LEARNED.EXAMPLE,STRANGER.EXAMPLE\r\n"));
    QCOMPARE(line.count("doubleclick"), 1);
    saved.close();

    // A restart reads the saved line back: the unblocked site stays allowed,
    // and saving again does not repeat the default entries.
    m_window.reset();
    m_world->views.created.clear();
    start();
    QVERIFY(g().allowList.allows(QStringLiteral("http://stranger.example/other")));
    QVERIFY(!view()->simulateNavigation(QStringLiteral("http://third.example/")));
    m_world->dialogs.answers = {Dialogs::Answer::Yes};
    m_world->dialogs.onQuestion = nullptr;
    clickControl(m_window.get(), QStringLiteral("statusLine"));
    QVERIFY(saved.open(QIODevice::ReadOnly));
    const QByteArray again = saved.readAll();
    QCOMPARE(again.count("doubleclick"), 1);
    QVERIFY(again.endsWith(",THIRD.EXAMPLE\r\n"));
    saved.close();

    // With a password set, the parent's password comes first, and Return at
    // the question means No.
    QCOMPARE(m_world->dialogs.defaults.last(), Dialogs::Answer::Yes);
    g().settings.Password = QStringLiteral("owl");
    QVERIFY(!view()->simulateNavigation(QStringLiteral("http://fourth.example/")));
    m_world->parents.gateAnswers = {false, true};
    m_world->dialogs.answers = {Dialogs::Answer::Yes};
    const int asked = m_world->dialogs.questions.size();
    clickControl(m_window.get(), QStringLiteral("statusLine"));
    QCOMPARE(m_world->dialogs.questions.size(), asked);
    QVERIFY(!g().allowList.textContains(QStringLiteral("FOURTH")));
    clickControl(m_window.get(), QStringLiteral("statusLine"));
    QCOMPARE(m_world->parents.shown, QStringList({QStringLiteral("gate"), QStringLiteral("gate")}));
    QCOMPARE(m_world->dialogs.defaults.last(), Dialogs::Answer::No);
    QVERIFY(g().allowList.textContains(QStringLiteral("FOURTH.EXAMPLE")));
}

void tst_MainWindow::requestGuardRefusesWorkersAndBlockedFrames()
{
    start();
    ChildRequestGuard guard;
    guard.setFrameFilter(m_world->views.frameFilter);
    using Info = QWebEngineUrlRequestInfo;
    const struct { Info::ResourceType type; QString url; bool refused; } rows[] = {
        {Info::ResourceTypeServiceWorker, "http://cartoonparade.com/sw.js", true},
        {Info::ResourceTypeSubFrame, "http://stranger.example/?q=x", true},
        {Info::ResourceTypeMainFrame, "http://stranger.example/", true},
        {Info::ResourceTypeMainFrame, "http://cartoonparade.com@stranger.example/", true},
        {Info::ResourceTypeSubFrame, "http://cartoonparade.com/frame", false},
        {Info::ResourceTypeImage, "http://stranger.example/ad.png", false}, // parts of an allowed page pass
        {Info::ResourceTypeScript, "http://stranger.example/x.js", false},
    };
    for (const auto &row : rows)
        QVERIFY2(guard.refuses(row.type, QUrl(row.url)) == row.refused, qPrintable(row.url));
    // Reported like any block, so that it can be unblocked.
    QCOMPARE(m_window->statusLineText(), QStringLiteral("Blocked: http://cartoonparade.com@stranger.example/"));
    g().filterOn = false;
    QVERIFY(!guard.refuses(Info::ResourceTypeMainFrame, QUrl("http://stranger.example/")));
    m_window.reset();
    QVERIFY(!m_world->views.frameFilter); // a closed window leaves no filter behind
}

void tst_MainWindow::unblockRefusesWhatIsNoSiteName()
{
    start();
    // A caption of a data: page is not a site: it would allow every address holding a Q.
    QVERIFY(!view()->simulateNavigation(QStringLiteral("data:,q,q")));
    m_world->dialogs.answers = {Dialogs::Answer::Yes};
    const QString before = g().allowList.text();
    clickControl(m_window.get(), QStringLiteral("statusLine"));
    QCOMPARE(m_world->dialogs.messages.size(), 1);
    QCOMPARE(m_world->dialogs.messages.at(0).text + '|' + m_world->dialogs.messages.at(0).title,
             QStringLiteral("This address cannot be unblocked.|Tadpole"));
    QCOMPARE(g().allowList.text(), before);
    QVERIFY(!QFile::exists(g().appFolder + QStringLiteral("unblocked.tad")));
}

void tst_MainWindow::publicPortalEntryFollowsTheHostInUse()
{
    QFile conf(m_dir->path() + QStringLiteral("/tadpole/tadpole.conf"));
    QVERIFY(conf.open(QIODevice::WriteOnly));
    conf.write("[portal]\npublic = www.other-portal.example:81\n");
    conf.close();
    m_world->commandLine = QString();
    start();
    QCOMPARE(g().allowList.text().section(QLatin1Char(','), 1, 1), QStringLiteral("other-portal.example:81"));
    QVERIFY(view()->simulateNavigation(g().portalBase + QStringLiteral("tad_menu.asp?t=2&userid=") + g().userId));
}

void tst_MainWindow::unblockThatCannotBeSavedStillAllows()
{
    start();
    // A folder in the file's place makes the save fail on any account, root's too.
    QVERIFY(QDir().mkpath(g().appFolder + QStringLiteral("unblocked.tad")));
    QVERIFY(!view()->simulateNavigation(QStringLiteral("http://stranger.example/")));
    m_world->dialogs.answers = {Dialogs::Answer::Yes};
    clickControl(m_window.get(), QStringLiteral("statusLine"));
    QCOMPARE(m_world->dialogs.messages.size(), 1);
    QCOMPARE(m_world->dialogs.messages.at(0).title, QStringLiteral("Tadpole"));
    QVERIFY(g().allowList.allows(QStringLiteral("http://stranger.example/again")));
    QCOMPARE(view()->navigated.last(), QStringLiteral("http://stranger.example/"));
}

QTEST_MAIN(tst_MainWindow)
#include "tst_mainwindow.moc"
