#include "browserview/ChildRequestGuard.h"
#include "browsing/MainWindow.h"
#include "browsing/PopupWindow.h"
#include "filter/NavigationFilter.h"
#include "support/RealInput.h"
#include "support/TestDoubles.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

// The navigation decisions and the unblock flow on their own, then the few things only the window shows: the status
// line's click, the request guard's report, pop-ups, faces.
class tst_MainWindow : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup() { m_window.reset(); }
    void filterDecidesReportsAndLearns();
    void statusLineClickUnblocksBehindTheGate();
    void requestGuardRefusalReachesTheStatusLine();
    void popupShowsOnAllowedAndClosesOnBlocked();
    void faceSelectionRequestsTheMenuAndReportsALaunchFailure();

private:
    void start();
    FakeBrowserView *view() const { return m_world->views.created.at(0); }
    ProgramState &g() { return m_window->state(); }

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<ScriptedWorld> m_world;
    std::unique_ptr<MainWindow> m_window;
};

namespace {
const QString Blocked80 = QStringLiteral("http://stranger.example/a-very-long-path/that-keeps-going/and-going?x=0123456789");
const QString Portal = QStringLiteral("http://127.0.0.1:8642/tad/"), Help = QStringLiteral("qrc:/help/help.html");
const QString Menu = Portal + "tad_menu.asp?t=1&userid=42", OwnGo = Portal + "tad_go.asp?t=1&userid=42&item=4";
} // namespace

void tst_MainWindow::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(QDir().mkpath(m_dir->path() + "/tadpole") && writeFile(m_dir->path() + "/tadpole/terminate", {}));
    m_world = std::make_unique<ScriptedWorld>();
}

void tst_MainWindow::start()
{
    m_window = std::make_unique<MainWindow>(
        m_world->services(m_dir->path() + QStringLiteral("/tadpole"), m_dir->path() + QLatin1Char('/')));
    QTRY_VERIFY(m_window->startupFinished());
}

void tst_MainWindow::filterDecidesReportsAndLearns()
{
    enum Kind { Page, Frame, Hop, Guard, Loaded, FrameLoaded, Popup, PopupLoaded, OwnPage, History };
    // One child's session, step by step. `result`: y/n for a decision, the site for a completed page; `status` after
    // the step: B the block's report (its first 50 characters), P a pop-up's address (as much), "" cleared, = untouched.
    const QString P = Blocked80.left(7) + "pond-games.example/" + QString(40, u'p'), S = "http://stranger.example/";
    const struct { const char *name; Kind kind; QString url, result, status, from = {}, origin = Menu; bool mainFrame = true; } steps[] = {
        {"a stranger", Page, Blocked80, "n", "B"},
        {"a frame is tested like the page", Frame, "http://ads.example/frame", "n", "B"},
        {"file:", Page, "file:///etc/passwd", "n", "B"},
        {"a tile's hop from this menu", Hop, "http://127.0.0.5:8642/", "y", "", OwnGo},
        {"the site's next hop, learned with the first", Hop, "https://www.127.0.0.5:8642/x", "y", "", "http://127.0.0.5:8642/"},
        {"onward to another host", Hop, S, "n", "B", "http://127.0.0.5:8642/"},
        {"our go link put on another page", Hop, S, "n", "B", OwnGo, "http://127.0.0.5:8642/"},
        {"from another installation's menu", Hop, S, "n", "B", OwnGo, Portal + "tad_menu.asp?t=1&userid=43"},
        {"another installation's go link", Hop, S, "n", "B", Portal + "tad_go.asp?t=1&userid=43&item=7"},
        {"a second userid", Hop, S, "n", "B", Portal + "tad_go.asp?userid=42&t=1&userid=43&item=7"},
        {"another portal page", Hop, S, "n", "B", Portal + "tad_start.asp?userid=42"},
        {"another port", Hop, S, "n", "B", "http://127.0.0.1:9999/tad/tad_go.asp?t=1&userid=42&item=4"},
        {"user-info", Hop, S, "n", "B", "http://x@127.0.0.1:8642/tad/tad_go.asp?t=1&userid=42&item=4"},
        {"not a redirect", Page, S, "n", "B", OwnGo},
        {"a hop in a frame", Frame, S, "n", "B", OwnGo},
        {"a page completing after a block keeps the report", Loaded, "http://any.example/", "ANY.EXAMPLE", "="},
        {"a frame completing clears it", FrameLoaded, "http://any.example/f", "ANY.EXAMPLE", ""},
        {"a completed page is learned; the block's report stays", Loaded, "http://www.pond-games.example/", "POND-GAMES.EXAMPLE", "="},
        {"... and its parts pass", Frame, "https://cdn.pond-games.example/x.js", "y", ""},
        {"a main-frame pass", Page, "http://pond-games.example/", "y", ""},
        {"... after which a completed page clears the line", Loaded, "http://kids.dyndns.org/", "TADPOLEKIDS.NET", ""},
        {"the request guard reports a stranger", Guard, S + "?q=x", "n", "B"},
        {"... lets the exempt page through", Guard, Portal + "radio.htm", "y", "="},
        {"... and a learned site", Guard, "http://pond-games.example/", "y", "="},
        {"a special site leaves the report and allows pop-ups", Loaded, "http://www.tinytotstv.org/shows", "TINYTOTSTV.ORG", "="},
        {"a pop-up's allowed address", Popup, P, "y", "P"},
        {"a pop-up's block", Popup, Blocked80, "n", "B"},
        {"a pop-up learns its own host", PopupLoaded, "http://www.pop.dyndns.org/x", "POP.DYNDNS.ORG", "="},
        // Our help page passes only when the window asks for it, once, in the main frame and exactly.
        {"our help page, asked for by a page", Page, Help, "n", "B"},
        {"... in a frame after the window asked", OwnPage, Help, "n", "B", {}, {}, false},
        {"... asked for by the window", OwnPage, Help, "y", ""},
        {"... and its guard's test, once", Guard, Help, "y", "="},
        {"... it teaches no site", Loaded, Help, "", "="},
        {"... the guard's test again", Guard, Help, "n", "B"},
        {"... back to it in the history", History, Help, "y", ""},
        {"... but not in a frame", History, Help, "n", "B", {}, {}, false},
    };
    ProgramState state;
    state.filterOn = true;
    state.allowList = AllowList(QStringLiteral("http:///,about:blank,doubleclick,127.0.0.1:8642").split(u','), QString());
    const QString defaults = state.allowList.text();
    QString status, blocked, current, journaled;
    NavigationFilter filter(state, {.dynamicHost = {QStringLiteral("DYNDNS.ORG"), QStringLiteral("TADPOLEKIDS.NET")},
                                    .specialSites = {QStringLiteral("TINYTOTSTV.ORG")}, .exemptPage = Portal + "radio.htm",
                                    .ownPage = Help},
                            [&status](const QString &text) { status = text; });
    filter.setPortal(Portal, QStringLiteral("42"));
    // The journal hears of main-frame and pop-up blocks, before the status line shows them.
    filter.setBlockedRecorder([&](const QString &address) { journaled = address + (status == "=" ? "" : " after the status line"); });
    for (const auto &step : steps) {
        status = "=";
        journaled.clear();
        if (step.kind == OwnPage)
            filter.letOwnPageThrough();
        const NavigationRequest request{.url = QUrl(step.url), .mainFrame = step.kind != Frame && step.mainFrame,
                                        .redirect = step.kind != Page && !step.from.isEmpty(), .redirectedFrom = QUrl(step.from),
                                        .origin = QUrl(step.origin), .historyMove = step.kind == History};
        QString result;
        switch (step.kind) {
        case Page: case Frame: case Hop: case OwnPage: case History: result = filter.allowNavigation(request) ? "y" : "n"; break;
        case Guard: result = filter.allowFrameRequest(request.url) ? "y" : "n"; break;
        case Loaded: case FrameLoaded: result = filter.pageLoaded(request.url, step.kind == Loaded); break;
        case Popup: result = filter.allowPopupNavigation(request.url) ? "y" : "n"; break;
        case PopupLoaded: result = filter.popupPageLoaded(request.url); break;
        }
        const QString whole = request.url.toString(QUrl::FullyEncoded);
        blocked = result == "n" ? whole : blocked;
        current = result == "y" && (step.kind <= Hop || step.kind >= OwnPage) ? whole : current;
        const QString shown = step.status == "B" ? "Blocked: " + whole.left(50) : step.status == "P" ? whole.left(50) : step.status;
        const bool journal = result == "n" && (step.kind == Page || step.kind == Hop || step.kind == Popup);
        QVERIFY2(result == step.result && status == shown && state.blockedUrl == blocked && state.currentUrl == current
                     && journaled == (journal ? whole : QString()),
                 qPrintable(QStringLiteral("%1: %2 / %3").arg(step.name, result, status)));
    }
    QVERIFY(state.popupsAllowed && !PortalHops().exempts(true, true, QUrl(OwnGo), QUrl(Menu))); // before the portal is known
    QCOMPARE(state.allowList.text(), defaults + ",127.0.0.5:8642,ANY.EXAMPLE,POND-GAMES.EXAMPLE,TADPOLEKIDS.NET,TINYTOTSTV.ORG,POP.DYNDNS.ORG");
    // Whole hosts matched: a page teaches its own host, only a first "www." dropped. A host under a learned site
    // with "www" inside its name teaches no sibling of that site.
    state.allowScope = FilterAddress::MatchScope::Host;
    QCOMPARE(filter.pageLoaded(QUrl("http://evilwww.pond-games.example/"), true) + " " + filter.popupPageLoaded(QUrl("http://www.xwww.pop.dyndns.org/")),
             "EVILWWW.POND-GAMES.EXAMPLE XWWW.POP.DYNDNS.ORG");

    // Before the filter is on nothing is tested and the status line stays.
    state.filterOn = false;
    status = "=";
    NavigationRequest request;
    request.url = QUrl(S);
    QVERIFY(filter.allowNavigation(request) && filter.allowFrameRequest(request.url) && status == "=");
}

void tst_MainWindow::statusLineClickUnblocksBehindTheGate()
{
    start();
    QVERIFY(g().filterOn && g().allowList.text().endsWith(QLatin1Char(','))); // a missing unblocked file's empty entry
    // Only a status line that starts with exactly "Blocked:" offers to unblock.
    m_window->setStatusLine(QStringLiteral("blocked: http://x"));
    clickControl(m_window.get(), QStringLiteral("statusLine"));
    QVERIFY(m_world->dialogs.questions.isEmpty());
    // A made-up scheme ending in http would allow a host the parent was not shown: no question, only the refusal.
    QVERIFY(!view()->simulateNavigation(QStringLiteral("kids.http://stranger.example/")));
    clickControl(m_window.get(), QStringLiteral("statusLine"));
    QVERIFY(m_world->dialogs.questions.isEmpty() && m_world->dialogs.messages.value(0).text == "This address cannot be unblocked.");

    // Yes unblocks the address the question showed, even when a page blocked
    // another one while it was open; a site learned on the way is saved too.
    emit view()->documentLoaded(QUrl(QStringLiteral("http://learned.example/")), true);
    QCOMPARE(m_window->siteLineText(), QStringLiteral("LEARNED.EXAMPLE"));
    QVERIFY(!view()->simulateNavigation(QStringLiteral("http://www.stranger.example/page")));
    m_world->dialogs.answers = {Dialogs::Answer::Yes};
    m_world->dialogs.onQuestion = [this] { view()->simulateNavigation(QStringLiteral("http://www.later.example/ad")); };
    clickControl(m_window.get(), QStringLiteral("statusLine"));
    QCOMPARE(m_world->dialogs.questions.at(0).text, QStringLiteral("Unblock: http://www.stranger.example/page"));
    QCOMPARE(m_world->dialogs.defaults.at(0), Dialogs::Answer::Yes); // no password: Return means Yes
    QCOMPARE(view()->navigated.last(), QStringLiteral("http://www.stranger.example/page"));
    QVERIFY(g().allowList.text().endsWith(",LEARNED.EXAMPLE,STRANGER.EXAMPLE") && !g().allowList.textContains("LATER"));

    // A restart reads the saved line back, and saving again repeats no default entry; an entry
    // the parent typed that allows nothing is left out of the list but kept in the file.
    m_window.reset();
    const QString edited = m_dir->path() + QStringLiteral("/tadpole/unblocked.tad");
    QVERIFY(writeFile(edited, readFile(edited).replace("\r\n", ",grandma's pictures\r\n")));
    m_world->views.created.clear();
    m_world->dialogs.onQuestion = nullptr;
    start();
    QVERIFY(g().allowList.allows(QStringLiteral("http://stranger.example/other")) && !g().allowList.textContains("grandma"));
    // With a password set, the parent's password comes first, and Return at the question means No.
    g().settings.Password = QStringLiteral("owl");
    QVERIFY(!view()->simulateNavigation(QStringLiteral("http://third.example/")));
    m_world->parents.gateAnswers = {true};
    m_world->dialogs.answers = {Dialogs::Answer::Yes};
    clickControl(m_window.get(), QStringLiteral("statusLine"));
    QCOMPARE(m_world->parents.shown, QStringList({QStringLiteral("gate")}));
    QCOMPARE(m_world->dialogs.defaults.last(), Dialogs::Answer::No);
    const QByteArray line = readFile(g().appFolder + QStringLiteral("unblocked.tad"));
    QVERIFY2(line.endsWith(",LEARNED.EXAMPLE,STRANGER.EXAMPLE,THIRD.EXAMPLE,grandma's pictures\r\n") && line.count("doubleclick") == 1, line.constData());
    // A save that fails still allows the site until the program closes, and says so.
    QVERIFY(QFile::remove(g().appFolder + "unblocked.tad") && QDir().mkpath(g().appFolder + "unblocked.tad"));
    QVERIFY(!view()->simulateNavigation(QStringLiteral("http://fourth.example/")));
    m_world->parents.gateAnswers = {true};
    m_world->dialogs.answers = {Dialogs::Answer::Yes};
    clickControl(m_window.get(), QStringLiteral("statusLine"));
    QVERIFY(view()->navigated.last() == "http://fourth.example/" && g().allowList.textContains("FOURTH.EXAMPLE"));
    QVERIFY2(m_world->dialogs.messages.last().text.startsWith("The site is allowed until Tadpole closes, but it could not be saved: "),
             qPrintable(m_world->dialogs.messages.last().text));
}

void tst_MainWindow::requestGuardRefusalReachesTheStatusLine()
{
    start();
    ChildRequestGuard guard;
    guard.setFrameFilter(m_world->views.frameFilter);
    using Info = QWebEngineUrlRequestInfo;
    const struct { Info::ResourceType type; QString url; bool refused; } rows[] = {
        {Info::ResourceTypeServiceWorker, "http://cartoonparade.com/sw.js", true},
        {Info::ResourceTypeSubFrame, "http://stranger.example/?q=x", true},
        {Info::ResourceTypeSubFrame, "http://cartoonparade.com/frame", false},
        {Info::ResourceTypeScript, "http://stranger.example/x.js", false}, // parts of an allowed page pass
        {Info::ResourceTypeMainFrame, "http://cartoonparade.com@stranger.example/", true},
    };
    for (const auto &row : rows)
        QVERIFY2(guard.refuses(row.type, QUrl(row.url)) == row.refused, qPrintable(row.url));
    QCOMPARE(m_window->statusLineText() + m_window->versionLineText(), "Blocked: http://cartoonparade.com@stranger.example/");
    m_window.reset();
    QVERIFY(!m_world->views.frameFilter); // a closed window leaves no filter behind
}

void tst_MainWindow::popupShowsOnAllowedAndClosesOnBlocked()
{
    start();
    m_window->show();
    auto *popupView = qobject_cast<FakeBrowserView *>(view()->simulateNewWindow().newWindow);
    QPointer<PopupWindow> popup = m_window->popups().value(0);
    QVERIFY(m_window->popups().size() == 1 && popup->windowTitle() == "Tadpole Pop-Up");
    // An allowed address that holds "http:///" loads but does not show the window; another allowed one shows it, and
    // one blocked frame closes the whole pop-up. The lines they leave: the filter's session rows, tst_e2e_attacks.
    QVERIFY(popupView->simulateNavigation(QStringLiteral("http:///local/page")) && !popup->isVisible());
    const QString allowed = QStringLiteral("http://www.cartoonparade.com/games/a-rather-long-page-name-for-the-popup.htm");
    QVERIFY(popupView->simulateNavigation(allowed) && popup->isVisible());
    QVERIFY(!popupView->simulateNavigation(Blocked80, false));
    QTRY_VERIFY(popup.isNull());
    // The main window's journal has it, with the current child's name.
    const BlockedJournal::Attempt attempt = BlockedJournal(g().appFolder + "blocked.log").read().value(0);
    QVERIFY(!attempt.child.isEmpty() && attempt.child == g().faceNames.value(g().currentFace) && attempt.address == Blocked80);

    // While a special site allows pop-ups a shown window still filters, but
    // stays; one never shown closes on its first block like any other.
    g().popupsAllowed = true;
    QPointer<BrowserView> hidden = view()->simulateNewWindow().newWindow;
    QVERIFY(!qobject_cast<FakeBrowserView *>(hidden.data())->simulateNavigation(Blocked80));
    QTRY_VERIFY(hidden.isNull());
    auto *kept = qobject_cast<FakeBrowserView *>(view()->simulateNewWindow().newWindow);
    QVERIFY(kept->simulateNavigation(allowed) && !kept->simulateNavigation(Blocked80));
    QTest::qWait(50);
    QCOMPARE(m_window->popups().size(), 1);
    // A page in a pop-up opens a further pop-up; all close with the main window.
    QVERIFY(kept->simulateNewWindow().newWindow);
    QCOMPARE(m_window->popups().size(), 2);
    m_window->close();
    QTRY_VERIFY(m_window->popups().isEmpty()); // it lists the pop-ups not yet deleted
}

void tst_MainWindow::faceSelectionRequestsTheMenuAndReportsALaunchFailure()
{
    start();
    // A face starts the terminate helper, opens its menu and closes every pop-up; a failed start is told.
    for (const int face : {2, 3}) {
        g().popupsAllowed = true; // a special site's leave lasts until the next face selection
        QVERIFY(view()->simulateNewWindow().newWindow && view()->simulateNewWindow().newWindow);
        m_world->launcher.fail = face == 3;
        clickControl(m_window.get(), QStringLiteral("faceButton%1").arg(face));
        QVERIFY(!g().popupsAllowed && m_window->highlightLeft() + 2 == m_window->faceLeft(face));
        QCOMPARE(view()->navigated.last(), g().portalBase + QStringLiteral("tad_menu.asp?t=%1&userid=").arg(face + 1) + g().userId);
        QTRY_VERIFY(m_window->popups().isEmpty());
        QCOMPARE(m_world->launcher.started.last(), g().appFolder + QStringLiteral("terminate"));
        QCOMPARE(m_world->dialogs.messages.size(), face == 3 ? 1 : 0);
    }
    QVERIFY(m_world->dialogs.messages.at(0).title == "Error" && m_world->dialogs.messages.at(0).text.contains("terminate"));
}

QTEST_MAIN(tst_MainWindow)
#include "tst_mainwindow.moc"
