#include "ParentsTestSupport.h"

#include "parents/BlockedSitesWindow.h"
#include "parents/SiteEditorWindow.h"
#include "parents/SiteList.h"
#include "parents/SitePreviewWindow.h"
#include "parents/SiteSelectionWindow.h"

#include <QAbstractButton>
#include <QElapsedTimer>
#include <QFrame>
#include <QLabel>
#include <QRandomGenerator>
#include <QTextDocument>
#include <QTimer>

// The rows as the portal sends them: a ticked public site, an unticked private one, a ticked private one whose name
// holds "&", and two unticked private ones whose addresses have no scheme (and a space) or are a file.
static const QByteArray Family = "1\tPlain Pond\thttp://pond.example/\t3 to 12\tA plain pond\t1\t0\t-1\tP_gif.gif\r\n"
                                 "2\tFrog Games\thttp://frogs.example/\t5 to 9\tJumping games\t2\t1\t0\tF_gif.gif\r\n"
                                 "3\tFish & Chips\thttps://fish.example/\t4 to 8\tFish facts\t2\t1\t-1\tdefault_logo.gif\r\n"
                                 "4\tZoo\twww.zoo.example:8080/big cats\t3 to 12\tAnimals\t2\t1\t0\tZ_gif.gif\r\n"
                                 "5\tFiles\tfile:///etc/passwd\t3 to 12\tNot a site\t2\t1\t0\tF_gif.gif\r\n";
static const QString NotSaved = "Tadpole: %1 was not made at the Tadpole portal: nothing was changed there.\r\n\r\nConnection refused";

class tst_SiteSel : public QObject {
    Q_OBJECT
private slots:
    // Five megabytes of rows, then five of random bytes: every row read, every line of noise counted, in time.
    void parseTenMegabytes()
    {
        QByteArray reply, noise(5 << 20, Qt::Uninitialized);
        int rows = 0;
        while (reply.size() < 5 << 20)
            reply += QByteArray::number(++rows) + "\tSite\thttp://s.example/\t3 to 12\tAbout it\t1\t0\t-1\tS_gif.gif\r\n";
        QRandomGenerator(12).fillRange(reinterpret_cast<quint32 *>(noise.data()), noise.size() / 4);
        QElapsedTimer timer;
        timer.start();
        const SiteListReply parsed = parseAvailableSites(reply + noise);
        QVERIFY2(timer.elapsed() < 20000, "a hang guard, not a benchmark");
        QCOMPARE(parsed.rows.size(), rows);
        QCOMPARE(parsed.rows.last().id + (parsed.rows.last().ticked ? " ticked" : ""), QString::number(rows) + " ticked");
        QCOMPARE(parsed.unreadable, noise.count("\r\n") + 1);
    }

    // The site selection on the family, child 0 current; the faces faceImage0 to faceImage3 are Anna, cHILDs, Cara and
    // Chloe. Steps as ParentsWorld::play takes them; "file:version.htm" is maintainer mode.
    void selection_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QStringList>("outside");
        QTest::addColumn<QString>("after"); // once closed: was it open, the current child, the details, the ticks, new names
        const QString cara = "Enter a real name for CHILD 3", reload = "tad_available.asp?t=1&userid=42";
        const QString was = "open, child 0, A plain pond, ticked 1 3";
        const QString pond = " on Plain Pond/3 to 12/A plain pond/P_gif.gif/http://pond.example/";
        // Only -1 ticks; short rows, ids that are no positive number in plain digits and repeated ids are left out; the last row may
        // lack its CR LF, and fields past the ninth are ignored.
        const QString rows = "portal:tad_available.asp=1\tA\tu\t3 to 12\t\u00c9tang\t1\t0\t-1\tl\r\n2\tB\tu\ta\tc\t1\t0\t1\tl\r\n"
                             "9\tshort\r\n3\tC\tu\ta\tc\t1\t0\tTrue\tl\r\n5\tE\tu\ta\tc\t1\t0\t-1\r\n\r\nx\tX\tu\ta\tc\t1\t0\t0\tl\r\n"
                             "0\tZ\tu\ta\tc\t1\t0\t0\tl\r\n1\tagain\tu\ta\tc\t1\t0\t0\tl\r\n01\tagain\tu\ta\tc\t1\t0\t0\tl\r\n4\tD\tu\ta\tc\t2\t1\t-1\tl\textra";
        QTest::newRow("a tick and an untick reach the portal; a failed one or a failed rename is told, the list reloaded, the name kept")
            << QStringList{"tick:2", "tick:1", "refuse:tad_saveitem.asp", "refuse:tad_saveface.asp", "answer:Zed", "right:faceImage2", "tick:3"}
            << QStringList{"tad_saveitem.asp?item=3&checked=False&t=1&userid=42", "tad_saveitem.asp?item=2&checked=True&t=1&userid=42",
                           "tad_saveface.asp?userid=42&tface=3&newname=Zed", reload, "tad_saveitem.asp?item=4&checked=True&t=1&userid=42",
                           reload, cara, NotSaved.arg("The name \"Zed\""), NotSaved.arg("The tick of \"Zoo\"")}
            << was;
        QTest::newRow("a click on another face loads its list, telling a failed load or the rows left out; a second closes, keeping it")
            << QStringList{"refuse:tad_available.asp", "click:faceImage3", rows, "click:faceImage2", "click:faceImage2"}
            << QStringList{"tad_available.asp?t=4&userid=42", "tad_available.asp?t=3&userid=42",
                           Dialogs::ApplicationTitle + ": Connection refused", "Tadpole: 6 rows of the site list could not be read and 1 row "
                           "repeated a site already in the list; they were left out and the other sites are shown."}
            << "closed, child 2, \u00c9tang, ticked 1 4";
        QTest::newRow("an unnamed child is asked for a name when selected and by Alt+S before saving; a right or middle click renames "
                      "without selecting; no name or Escape sends nothing, a name with & arrives whole")
            << QStringList{"click:faceImage1", "middle:faceImage2", "answer:\x1b", "right:faceImage2", "answer:Ann & Bob", "right:faceImage2",
                           "answer:Ann", "key:Alt+S"}
            << QStringList{"tad_available.asp?t=2&userid=42", "tad_saveface.asp?userid=42&tface=3&newname=Ann%20%26%20Bob",
                           "tad_saveface.asp?userid=42&tface=2&newname=Ann", "Enter a real name for CHILD 2", cara, cara, cara,
                           "Enter a real name for CHILD 2", "menu 2 Ann & Bob's Menu", "menu 1 Ann's Menu"}
            << "closed, child 1, A plain pond, ticked 1 3, Anna Ann Ann & Bob Chloe";
        QTest::newRow("Preview opens web addresses only, one without a scheme as http")
            << QStringList{"row:2", "click:previewButton", "row:3", "click:previewButton", "row:4", "click:previewButton"}
            << QStringList{"Tadpole: Only web addresses (http or https) can be previewed.\r\n\r\nfile:///etc/passwd",
                           "preview https://fish.example/", "preview http://www.zoo.example:8080/big cats"}
            << "open, child 0, Not a site, ticked 1 3";
        QTest::newRow("an addition is private, a public site not editable, an edit opens on its row with no type; in maintainer mode the "
                      "type is asked and any site editable")
            << QStringList{"click:addSiteButton", "click:editButton", "row:2", "click:editButton", "file:version.htm", "answer:7",
                           "click:addSiteButton", "click:editButton"}
            << QStringList{reload, reload, reload, reload, "1-Public, 2-Private", "editor 0 type '2'" + pond,
                           "editor 3 type '' on Fish & Chips/4 to 8/Fish facts/default_logo.gif/https://fish.example/",
                           "editor 0 type '7'" + pond, "editor 1 type ''" + pond}
            << was;
    }

    // Start-up could not get the names, so the faces say "Child N": the portal's are read again, and a click on a face
    // offers no "Child 2" to be saved over Ben.
    void namesStartUpMissedAreReadAgain()
    {
        ParentsWorld world;
        world.state.faceNames = PortalClient::faceNamesFrom(std::nullopt);
        world.transport.replies.insert("tad_available.asp", FetchResult::success(Family)); // the names: Anna, Ben, Cara, Dan
        SiteSelectionWindow window(world.context());
        world.play(&window, {"click:faceImage1"});
        QCOMPARE(world.outside(), (QStringList{"tad_getface.asp?userid=42", "tad_available.asp?t=1&userid=42", "tad_available.asp?t=2&userid=42",
                                               "menu 0 Anna's Menu", "menu 1 Ben's Menu", "menu 2 Cara's Menu", "menu 3 Dan's Menu"}));
    }

    void selection()
    {
        const QStringList names{"Anna", "cHILDs", "Cara", "Chloe"};
        ParentsWorld world;
        world.state.faceNames = names;
        world.transport.replies.insert("tad_available.asp", FetchResult::success(Family));
        world.transport.replies.remove("tad_getface.asp"); // the names kept: cHILDs is unnamed
        SiteSelectionWindow window(world.context());
        QTreeWidget *list = child<QTreeWidget>(&window, "siteList");
        world.play(&window, {});
        QCOMPARE(world.outside(), (QStringList{"tad_getface.asp?userid=42", "tad_available.asp?t=1&userid=42"})); // the ticks loaded send nothing
        world.transport.requests.clear();
        world.play(&window, DATA(QStringList, steps));
        QTRY_COMPARE(world.outside(), DATA(QStringList, outside)); // a failed tick is told once the click is done

        QStringList after{window.isVisible() ? "open" : "closed"}, ticked;
        window.close(); // whatever closes the window, its child becomes the current one
        for (QTreeWidgetItem *item = list->topLevelItem(0); item; item = list->itemBelow(item))
            ticked << (item->checkState(0) == Qt::Checked ? item->text(SiteSelectionWindow::ID) : QString());
        after << QStringLiteral("child %1").arg(world.state.currentFace) << child<QLabel>(&window, "description")->text()
              << "ticked " + ticked.join(' ').simplified();
        if (world.state.faceNames != names)
            after << world.state.faceNames.join(' ');
        QTEST(after.join(", "), "after");
        for (int i = 0; i < 4; ++i) { // the current child's face alone highlighted, each face's tool tip naming it
            QCOMPARE(child<QFrame>(&window, QStringLiteral("faceFrame%1").arg(i))->lineWidth(), i == world.state.currentFace ? 1 : 4);
            QVERIFY(child(&window, QStringLiteral("faceImage%1").arg(i))->toolTip().startsWith(world.state.faceNames.at(i) + " ("));
        }
        const QString logos = "http://portal.test/tad//logos/"; // the logo follows the details, two slashes before "logos/"
        if (const QTreeWidgetItem *current = list->currentItem())
            QCOMPARE(world.views.created.first()->navigated.last(), logos + current->text(SiteSelectionWindow::Logo));
    }

    // The preview of a site over the parents' window that opened it, on the parent's own view: none of the child's, which
    // the filter sees, is made. Back and Forward move in the page's history, and the window closes with its owner.
    void preview()
    {
        ParentsWorld world;
        QDialog owner;
        owner.show();
        SitePreviewWindow window(world.views, QUrl("http://www.zoo.example/big cats"), &owner);
        world.play(&window, {"click:backButton", "click:forwardButton"});
        owner.reject();
        QCOMPARE(world.views.created.size(), 0);
        QCOMPARE(world.views.createdForParent.size(), 1);
        const FakeBrowserView *view = world.views.createdForParent.first();
        QCOMPARE(QStringLiteral("%1, %2, %3").arg(view->navigated.join(' '), view->moves.join(' '), window.isVisible() ? "open" : "closed"),
                 "http://www.zoo.example/big%20cats, back forward, closed");
    }

    // The site editor on Frog Games with the child's page "Animal Games" in view. Steps as ParentsWorld::play takes them.
    void editor_data()
    {
        QTest::addColumn<int>("siteId"); // 0: a new site, of type 2
        QTest::addColumn<QString>("ages"); // of the row opened
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QStringList>("outside"); // without the questions
        QTest::addColumn<QString>("form"); // address|short name|description|from|to, empty once the window closed
        const QString added = "New Site Added: Your new site will now appear at the bottom of your selection list.";
        const QString posted = "tad_postsite.asp?url=http%3A%2F%2Fzoo.example%2F&shortname=Zoo&comments=Zoo&AgeFrom=3&AgeTo=12"
                               "&LogoLoc=Z_gif.gif&id=0&userid=42&Delete=0&Type=2";
        const QStringList zoo{"address=http://zoo.example/", "shortName=Zoo", "click:saveButton"};
        const QStringList remove{"shortName=Frog Games!", "click:deleteButton"};
        QTest::newRow("an edit opens on its row, Ages without 'to' leaving the second age empty; a removal not confirmed sends nothing")
            << 2 << "5 plus" << QStringList{"no"} + remove << QStringList() << "http://frogs.example/|Frog Games!|Jumping games|5 plus|";
        QTest::newRow("Auto-Add fills a new site from the child's page, sending nothing")
            << 0 << "" << QStringList{"click:autoAddButton"} << QStringList()
            << "http://animals.example/games|Animal &Songs|Animal &Songs|3|12";
        QTest::newRow("a save asks for the address, then the short name, completing nothing")
            << 0 << "" << QStringList{"click:saveButton", "address=x", "click:saveButton"}
            << QStringList{"Tadpole: Enter a Web Address!", "Tadpole: Enter a Short Name!"} << "x||||";
        QTest::newRow("Zoo alone is completed; a declined suggestion sends nothing")
            << 0 << "" << QStringList{"no", "answer:mum@home.example"} + zoo << QStringList{posted, added} << "";
        QTest::newRow("values arrive whole, an age as typed; an edit sends its id, the letter logo and no type")
            << 7 << "5 to 9"
            << QStringList{"address=http://t.example/?a=1&b=2#top", "shortName=Tom & Jerry's Zoo", "description=Cats = mice", "ageFrom=1",
                           "ageTo=9", "click:saveButton"}
            << QStringList{"tad_postsite.asp?url=http%3A%2F%2Ft.example%2F%3Fa%3D1%26b%3D2%23top&shortname=Tom%20%26%20Jerry%27s%20Zoo"
                           "&comments=Cats%20%3D%20mice&AgeFrom=1&AgeTo=9&LogoLoc=T_gif.gif&id=7&userid=42&Delete=0&Type=",
                           added}
            << "";
        QTest::newRow("a suggestion with an address; its failure is told")
            << 0 << "" << QStringList{"refuse:tad_suggestsite.asp", "yes", "answer:mum@home.example"} + zoo
            << QStringList{posted, "tad_suggestsite.asp?userid=42&url=http%3A%2F%2Fzoo.example%2F&email=mum%40home.example",
                           NotSaved.arg("Your suggestion"), added}
            << "";
        QTest::newRow("a suggestion with no address sends none") << 0 << "" << QStringList{"yes"} + zoo << QStringList{posted, added} << "";
        QTest::newRow("a short name led by a slash, which no file name holds, gets the default logo")
            << 0 << "" << QStringList{"no", "address=http://r.example/", "shortName=/r/kids", "click:saveButton"}
            << QStringList{QString(posted).replace("zoo.", "r.").replace("=Zoo", "=%2Fr%2Fkids").replace("Z_gif", "default_logo"), added} << "";
        QTest::newRow("a save whose answer never came may have been made, and says so")
            << 0 << "" << QStringList{"lost:tad_postsite.asp"} + zoo
            << QStringList{posted, "Tadpole: The site \"Zoo\" may have reached the Tadpole portal, but no answer said whether it was made. Look at "
                                   "the list before you make the change again, or it may be made twice.\r\n\r\nThe request timed out"}
            << "http://zoo.example/|Zoo|Zoo|3|12";
        QTest::newRow("a failed save is told, not confirmed, and the form stays")
            << 0 << "" << QStringList{"refuse:tad_postsite.asp"} + zoo << QStringList{posted, NotSaved.arg("The site \"Zoo\"")}
            << "http://zoo.example/|Zoo|Zoo|3|12";
        QTest::newRow("a confirmed removal sends the form as it stands, its logo and no type; a failure is told")
            << 2 << "5 to 9" << QStringList{"refuse:tad_postsite.asp", "yes"} + remove
            << QStringList{"tad_postsite.asp?url=http%3A%2F%2Ffrogs.example%2F&shortname=Frog%20Games%21&comments=Jumping%20games"
                           "&AgeFrom=5&AgeTo=9&LogoLoc=F_gif.gif&id=2&userid=42&Delete=1",
                           NotSaved.arg("Removing \"Frog Games!\"")}
            << "";
    }

    void editor()
    {
        const int id = DATA(int, siteId);
        ParentsWorld world;
        world.state.currentUrl = "http://animals.example/games";
        world.main.title = "Animal &Songs";
        const SelectedSite row{"Frog Games", DATA(QString, ages), "Jumping games", "F_gif.gif", "http://frogs.example/"};
        SiteEditorWindow window(world.context(), id, id ? "" : "2", row);
        QCOMPARE(child(&window, "deleteButton")->isEnabled(), id != 0);
        QVERIFY(qobject_cast<QAbstractButton *>(child(&window, "autoAddButton"))->shortcut().isEmpty()); // the page's "&" takes no key
        world.play(&window, DATA(QStringList, steps));
        QTEST(world.outside(false), "outside");
        QStringList shown;
        for (const char *field : {"address", "shortName", "description", "ageFrom", "ageTo"})
            shown << child(&window, field)->property(QByteArray(field).startsWith("age") ? "currentText" : "text").toString();
        QCOMPARE(window.isVisible() ? shown.join('|') : QString(), DATA(QString, form));
    }

    // The blocked sites, reached from the site selection window's button, on a journal of three attempts on two hosts
    // (one address's fragment naming an allowed site) and a damaged line. Steps as ParentsWorld::play takes them.
    void blockedSites_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QString>("after"); // the rows, the first one's tip, whether Allow is on, the unblocked file, the journal's lines
        QTest::newRow("with no row chosen neither button acts; Allow lets the site of the host's newest address in and saves it, the "
                      "row staying with its Allow off")
            << QStringList{"click:allowButton", "click:forgetButton", "row:1", "click:allowButton"}
            << "video.test 1 Anna 2026-12-07 08:10; games.test 2 Anna, Cara 2026-12-07 08:05 | http://video.test/?q=<i>x</i>#kids.test | allow off | "
               "kids.test,GAMES.TEST\r\n | 3";
        QTest::newRow("Forget takes the host's lines out, and the damaged one, the others kept")
            << QStringList{"row:0", "click:forgetButton", "row:0"} << "games.test 2 Anna, Cara 2026-12-07 08:05 | http://games.test/b?x=1 | allow on |  | 2";
        QTest::newRow("an address blocked although its fragment names an allowed site may be let in")
            << QStringList{"row:0"}
            << "video.test 1 Anna 2026-12-07 08:10; games.test 2 Anna, Cara 2026-12-07 08:05 | http://video.test/?q=<i>x</i>#kids.test | allow on |  | 3";
    }
    void blockedSites()
    {
        ParentsWorld world;
        world.state.allowList = AllowList({"kids.test"}, QString());
        const QString journal = world.state.appFolder + "blocked.log";
        QVERIFY(writeFile(journal, "2026-12-07T08:00:00\tAnna\thttp://games.test/a\r\n2026-12-07T08:05:00\tCara\thttp://games.test/b?x=1\r\n"
                                   "2026-12-07T08:10:00\tAnna\thttp://video.test/?q=<i>x</i>#kids.test\r\n2026-12-07T08:1"));
        SiteSelectionWindow selection(world.context());
        world.play(&selection, {});
        QStringList after;
        QTimer::singleShot(0, [&] { // in the event loop of the window the button's click runs
            QWidget *window = QApplication::activeModalWidget();
            QVERIFY(qobject_cast<BlockedSitesWindow *>(window));
            world.play(window, DATA(QStringList, steps));
            auto *list = child<QTreeWidget>(window, "blockedList");
            for (QTreeWidgetItem *row = list->topLevelItem(0); row; row = list->itemBelow(row))
                after << QStringList{row->text(0), row->text(1), row->text(2), row->text(3)}.join(' ');
            const QString tip = list->topLevelItem(0)->toolTip(0); // read as a tip shows it: rich text when it looks like some
            QTextDocument shownTip;
            Qt::mightBeRichText(tip) ? shownTip.setHtml(tip) : shownTip.setPlainText(tip);
            after = QStringList{after.join("; "), shownTip.toPlainText(), child(window, "allowButton")->isEnabled() ? "allow on" : "allow off"};
            clickControl(window, "closeButton");
        });
        clickControl(&selection, "blockedSitesButton");
        after << readFile(world.state.appFolder + "unblocked.tad") << QString::number(readFile(journal).count('\n'));
        QTEST(after.join(" | "), "after");
    }
};

QTEST_MAIN(tst_SiteSel)
#include "tst_sitesel.moc"
