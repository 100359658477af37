#include "ParentsTestSupport.h"

#include "parents/SiteList.h"
#include "parents/SiteEditorWindow.h"
#include "parents/SiteSelectionWindow.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFrame>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRandomGenerator>

using namespace input;

namespace {

// The rows as the portal sends them: a ticked public site, an unticked private one, a ticked private one whose
// name holds "&", and two unticked private ones whose addresses have no scheme or are a file.
const QByteArray Family = "1\tPlain Pond\thttp://pond.example/\t3 to 12\tA plain pond\t1\t0\t-1\tP_gif.gif\r\n"
                          "2\tFrog Games\thttp://frogs.example/\t5 to 9\tJumping games\t2\t1\t0\tF_gif.gif\r\n"
                          "3\tFish & Chips\thttps://fish.example/\t4 to 8\tFish facts\t2\t1\t-1\tdefault_logo.gif\r\n"
                          "4\tZoo\twww.zoo.example\t3 to 12\tAnimals\t2\t1\t0\tZ_gif.gif\r\n"
                          "5\tFiles\tfile:///etc/passwd\t3 to 12\tNot a site\t2\t1\t0\tF_gif.gif\r\n";
const QString NotSaved = "Tadpole: %1 did not reach the Tadpole portal, so nothing was changed there.\r\n\r\nConnection refused";
const SelectedSite FrogGames{"Frog Games", "5 to 9", "Jumping games", "F_gif.gif", "http://frogs.example/"};

// A portal that knows the family and takes every change.
struct World : ParentsWorld {
    World()
    {
        state.portalBase = QStringLiteral("http://portal.test/tad/");
        state.userId = QStringLiteral("42");
        for (const char *page : {"tad_saveitem.asp", "tad_saveface.asp", "tad_postsite.asp", "tad_suggestsite.asp"})
            transport.replies.insert(QLatin1String(page), FetchResult::success("OK"));
        transport.replies.insert(QStringLiteral("tad_available.asp"), FetchResult::success(Family));
    }
    // What the portal and the parent do: "refuse:PAGE" (the portal fails it from then on), "answer:TEXT" (typed
    // into the next box asked), "yes" or "no" (the next question's answer).
    bool script(const QString &step)
    {
        const QString what = step.section(QLatin1Char(':'), 1);
        if (step.startsWith("refuse:"))
            transport.replies.remove(what);
        else if (step.startsWith("answer:"))
            dialogs.inputs << what;
        else if (step == "yes" || step == "no")
            dialogs.answers << (step == "yes" ? Dialogs::Answer::Yes : Dialogs::Answer::No);
        else
            return false;
        return true;
    }
    // What the outside saw: the pages asked of the portal (without portalBase), the questions, the messages.
    QStringList outside(bool questions = true) const
    {
        QStringList seen = QStringList(transport.requests).replaceInStrings(state.portalBase, QString());
        for (qsizetype i = 0; questions && i < dialogs.questions.size(); ++i)
            seen << dialogs.questions.at(i).text;
        return seen + messages();
    }
};

} // namespace

class tst_SiteSel : public QObject {
    Q_OBJECT

private slots:
    // The available-sites reply.

    void parse_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QStringList>("rows"); // then how many rows were left out, when any were

        const QByteArray a = "1\tA\tu\t3 to 12\tc\t1\t0\t-1\tl\r\n";
        QTest::newRow("rows ended by CR LF; only -1 ticks; fields past the ninth are ignored")
            << a + "2\tB\tu\ta\tc\t1\t0\t1\tl\r\n3\tC\tu\ta\tc\t1\t0\tTrue\tl\r\n4\t\xc3\x89\tu\ta\tc\t1\t0\t\tl\textra\r\n"
            << QStringList{"1 A ticked", "2 B", "3 C", QStringLiteral("4 \u00c9")};
        QTest::newRow("last row without CR LF is still a row")
            << a + "2\tB\tu\ta\tc\t2\t1\t-1\tl" << QStringList{"1 A ticked", "2 B ticked"};
        QTest::newRow("short rows and ids that are no positive number are skipped and counted")
            << "1\tshort\r\n" + a + "2\tB\tu\ta\tc\t1\t0\t-1\r\n\r\nx\tX\tu\ta\tc\t1\t0\t0\tl\r\n0\tZ\tu\ta\tc\t1\t0\t0\tl\r\n"
            << QStringList{"1 A ticked", "5 unreadable"};
        QTest::newRow("a repeated id keeps its first row")
            << a + "1\tOther\tu\ta\tc\t1\t0\t0\tl\r\n" << QStringList{"1 A ticked", "1 repeated"};

        QByteArray big;
        QStringList bigRows;
        for (int id = 1; big.size() < 10 * 1024 * 1024; ++id) {
            big += QByteArray::number(id) + "\tSite\thttp://s.example/\t3 to 12\tAbout it\t1\t0\t-1\tS_gif.gif\r\n";
            bigRows << QString::number(id) + " Site ticked";
        }
        QTest::newRow("ten megabytes of rows") << big << bigRows;
        QByteArray noise(10 * 1024 * 1024, Qt::Uninitialized);
        QRandomGenerator(12).fillRange(reinterpret_cast<quint32 *>(noise.data()), noise.size() / 4);
        QTest::newRow("ten megabytes of random bytes: every line unreadable")
            << noise << QStringList{QString::number(noise.count("\r\n") + 1) + " unreadable"};
    }

    void parse()
    {
        QElapsedTimer timer;
        timer.start();
        const SiteListReply parsed = parseAvailableSites(DATA(QByteArray, reply));
        QVERIFY2(timer.elapsed() < 20000, "a hang guard, not a benchmark");
        QStringList rows;
        for (const SiteRow &r : parsed.rows)
            rows << r.id + ' ' + r.shortName + (r.ticked ? " ticked" : "");
        if (parsed.unreadable)
            rows << QString::number(parsed.unreadable) + " unreadable";
        if (parsed.repeated)
            rows << QString::number(parsed.repeated) + " repeated";
        QTEST(rows, "rows");
    }

    // The site selection window.

    void load_data()
    {
        QTest::addColumn<QByteArray>("reply"); // null: the request fails with "HTTP 503"
        QTest::addColumn<QStringList>("rows"); // key|the seven columns|tick|font|colour
        QTest::addColumn<QStringList>("told");
        const QString pond = "K1|Plain Pond|3 to 12|A plain pond|1|P_gif.gif|http://pond.example/|1|ticked|bold|#0000ff";
        QTest::newRow("the family, ticked sites bold and blue")
            << Family
            << QStringList{pond, "K2|Frog Games|5 to 9|Jumping games|2|F_gif.gif|http://frogs.example/|2|-|plain|#000000",
                           "K3|Fish & Chips|4 to 8|Fish facts|3|default_logo.gif|https://fish.example/|2|ticked|bold|#0000ff",
                           "K4|Zoo|3 to 12|Animals|4|Z_gif.gif|www.zoo.example|2|-|plain|#000000",
                           "K5|Files|3 to 12|Not a site|5|F_gif.gif|file:///etc/passwd|2|-|plain|#000000"}
            << QStringList();
        QTest::newRow("a failed request shows its description")
            << QByteArray() << QStringList() << QStringList{Dialogs::ApplicationTitle + ": HTTP 503"};
        QTest::newRow("unreadable and repeated rows are counted in one message")
            << Family.left(Family.indexOf('\n') + 1) + "9\tshort\r\n1\tagain\tu\ta\tc\t1\t0\t0\tl\r\nx\r\n" << QStringList{pond}
            << QStringList{"Tadpole: 2 rows of the site list could not be read and 1 row repeated a site already in the list; "
                           "they were left out and the other sites are shown."};
        QTest::newRow("a binary reply loads nothing, and says so")
            << QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16) << QStringList()
            << QStringList{"Tadpole: 2 rows of the site list could not be read; they were left out and the other sites are shown."};
    }

    void load()
    {
        QFETCH(QByteArray, reply);
        QFETCH(QStringList, rows);
        World world;
        world.state.currentFace = 2;
        world.transport.replies.insert("tad_available.asp",
                                       reply.isNull() ? FetchResult::failure("HTTP 503") : FetchResult::success(reply));
        const auto window = world.show<SiteSelectionWindow>();
        QTreeWidget *list = child<QTreeWidget>(window.get(), "siteList");
        // Only the list is asked for: the ticks it sets send nothing.
        QCOMPARE(world.outside(), QStringList{"tad_available.asp?t=3&userid=42"} + DATA(QStringList, told));
        for (int i = 0; i < 4; ++i) // the current child's face alone highlighted
            QCOMPARE(child<QFrame>(window.get(), "faceFrame" + QString::number(i))->lineWidth(), i == 2 ? 1 : 4);

        QStringList columns, shown;
        for (int c = 0; c < SiteSelectionWindow::ColumnCount; ++c)
            columns << list->headerItem()->data(c, SiteSelectionWindow::KeyRole).toString() + (list->isColumnHidden(c) ? "" : " shown");
        QCOMPARE(columns, QStringList({"SiteName shown", "Ages shown", "Comments", "ID", "Logo", "URL", "Type"}));
        for (int i = 0; i < list->topLevelItemCount(); ++i) {
            const QTreeWidgetItem *item = list->topLevelItem(i);
            QStringList row{item->data(0, SiteSelectionWindow::KeyRole).toString()};
            for (int c = 0; c < SiteSelectionWindow::ColumnCount; ++c)
                row << item->text(c);
            row << (item->checkState(0) == Qt::Checked ? "ticked" : "-") << (item->font(0).bold() ? "bold" : "plain")
                << item->foreground(0).color().name();
            shown << row.join(QLatin1Char('|'));
        }
        QCOMPARE(shown, rows);
        // The first row as if clicked: its description, its logo (two slashes), a public site not editable.
        QCOMPARE(list->currentItem(), list->topLevelItem(0));
        QCOMPARE(child<QLabel>(window.get(), "description")->text(), rows.isEmpty() ? QString() : QStringLiteral("A plain pond"));
        QCOMPARE(world.views.created.first()->navigated,
                 rows.isEmpty() ? QStringList() : QStringList{"http://portal.test/tad//logos/P_gif.gif"});
        QVERIFY(rows.isEmpty() || !child(window.get(), "editButton")->isEnabled());
        // The window stays usable: another child's list loads when the portal answers.
        world.transport.replies.insert("tad_available.asp", FetchResult::success(Family));
        clickAt(child(window.get(), "faceImage1"));
        QCOMPARE(list->topLevelItemCount(), 5);
    }

    // Steps as input::play and World::script take them, "tick:ROW", "row:ROW" (a click on the row), "menu" (Safety
    // Preferences) and "maintainer" (the program folder says so from the start). The faces faceImage0 to faceImage3
    // are Anna, cHILDs, Cara and Chloe.
    void selection_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QStringList>("outside");
        QTest::addColumn<QString>("after"); // once closed: was it open, the current child, the details, the ticks, what changed
        const QStringList none, cara{"Enter a real name for CHILD 3"}, reload{"tad_available.asp?t=1&userid=42"};
        const QString was = "open, child 0, details A plain pond, ticked 1 3";
        const QString pond = ", on Plain Pond/3 to 12/A plain pond/P_gif.gif/http://pond.example/";
        QTest::newRow("the parent unticks a ticked site")
            << QStringList{"tick:2"} << QStringList{"tad_saveitem.asp?item=3&checked=False&t=1&userid=42"}
            << "open, child 0, details Fish facts, ticked 1";
        QTest::newRow("a failed tick is told and the list reloaded from the portal")
            << QStringList{"refuse:tad_saveitem.asp", "tick:1"}
            << QStringList{"tad_saveitem.asp?item=2&checked=True&t=1&userid=42"} + reload
                   + QStringList{NotSaved.arg("The tick of \"Frog Games\"")}
            << was;
        QTest::newRow("left click on another face switches the list; Chloe is a name")
            << QStringList{"click:faceImage3"} << QStringList{"tad_available.asp?t=4&userid=42"}
            << "open, child 3, details A plain pond, ticked 1 3";
        QTest::newRow("left click on the highlighted face closes, keeping that child")
            << QStringList{"click:faceImage0"} << none << "closed, child 0, details A plain pond, ticked 1 3";
        QTest::newRow("an unnamed child is asked for a name when selected, and by Alt+S before saving")
            << QStringList{"click:faceImage1", "answer:Ann", "key:Alt+S"}
            << QStringList{"tad_available.asp?t=2&userid=42", "tad_saveface.asp?userid=42&tface=2&newname=Ann",
                           "Enter a real name for CHILD 2", "Enter a real name for CHILD 2"}
            << "closed, child 1, details A plain pond, ticked 1 3, face 1 is Ann, menu 1 Ann's menu";
        QTest::newRow("right click renames without selecting; a name with a space and & arrives whole")
            << QStringList{"answer:Ann & Bob", "right:faceImage2"}
            << QStringList{"tad_saveface.asp?userid=42&tface=3&newname=Ann%20%26%20Bob"} + cara
            << was + ", face 2 is Ann & Bob, menu 2 Ann & Bob's menu";
        QTest::newRow("a middle click renames too; no name sends nothing") << QStringList{"middle:faceImage2"} << cara << was;
        QTest::newRow("Escape sends nothing") << QStringList{"answer:\x1b", "right:faceImage2"} << cara << was;
        QTest::newRow("a failed rename keeps the portal's name and reloads")
            << QStringList{"refuse:tad_saveface.asp", "answer:Zed", "right:faceImage2"}
            << QStringList{"tad_saveface.asp?userid=42&tface=3&newname=Zed"} + reload + cara
                   + QStringList{NotSaved.arg("The name \"Zed\"")}
            << was;
        QTest::newRow("Preview opens a web address")
            << QStringList{"row:2", "click:previewButton"} << none
            << "open, child 0, details Fish facts, ticked 1 3, opened https://fish.example/";
        QTest::newRow("Preview takes an address without a scheme as a web address")
            << QStringList{"row:3", "click:previewButton"} << none
            << "open, child 0, details Animals, ticked 1 3, opened http://www.zoo.example";
        QTest::newRow("Preview refuses a file")
            << QStringList{"row:4", "click:previewButton"}
            << QStringList{"Tadpole: Only web addresses (http or https) can be previewed.\r\n\r\nfile:///etc/passwd"}
            << "open, child 0, details Not a site, ticked 1 3";
        QTest::newRow("add outside maintainer mode: type 2, then reload")
            << QStringList{"click:addSiteButton"} << reload << was + ", shown editor 0 type '2'" + pond;
        QTest::newRow("add in maintainer mode: the type as typed")
            << QStringList{"maintainer", "answer:7", "click:addSiteButton"} << reload + QStringList{"1-Public, 2-Private"}
            << was + ", shown editor 0 type '7'" + pond;
        QTest::newRow("edit a private site")
            << QStringList{"row:2", "click:editButton"} << reload
            << was + ", shown editor 3 type '', on Fish & Chips/4 to 8/Fish facts/default_logo.gif/https://fish.example/";
        QTest::newRow("an edit after an addition sends no type, so the portal keeps the site's own")
            << QStringList{"maintainer", "answer:1", "click:addSiteButton", "click:editButton"} << reload + reload + QStringList{"1-Public, 2-Private"}
            << was + ", shown editor 0 type '1', shown editor 1 type ''" + pond + pond;
        QTest::newRow("edit a public site in maintainer mode")
            << QStringList{"maintainer", "click:editButton"} << reload << was + ", shown editor 1 type ''" + pond;
        QTest::newRow("Safety Preferences opens the preferences")
            << QStringList{"menu"} << none << was + ", shown preferences";
    }

    void selection()
    {
        const QStringList names{"Anna", "cHILDs", "Cara", "Chloe"};
        QFETCH(QStringList, steps);
        World world;
        world.state.faceNames = names;
        if (steps.removeAll("maintainer"))
            QVERIFY(QFile(world.state.appFolder + "version.htm").open(QIODevice::WriteOnly));
        const auto window = world.show<SiteSelectionWindow>();
        QTreeWidget *list = child<QTreeWidget>(window.get(), "siteList");
        world.transport.requests.clear();
        play(window.get(), steps, [&](const QString &step) {
            QTreeWidgetItem *item = list->topLevelItem(step.section(QLatin1Char(':'), 1).toInt());
            if (step == "menu") { // Options, then its first item
                QMenuBar *bar = window->findChild<QMenuBar *>();
                QMenu *menu = child<QMenu>(window.get(), "optionsMenu");
                QTest::mouseClick(bar, Qt::LeftButton, {}, bar->actionGeometry(menu->menuAction()).center());
                QTRY_VERIFY(menu->isVisible());
                QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(menu->actions().first()).center());
            } else if (!world.script(step)) {
                step.startsWith("tick:") ? clickCheckBox(list, item) : clickRow(list, item);
            }
        });
        QTRY_COMPARE(world.outside(), DATA(QStringList, outside)); // a failed tick is told once the click is done
        QStringList ticked;
        for (int i = 0; i < list->topLevelItemCount(); ++i)
            if (list->topLevelItem(i)->checkState(0) == Qt::Checked)
                ticked << list->topLevelItem(i)->text(SiteSelectionWindow::ID);
        const bool open = window->isVisible();
        window->close(); // whatever closes the window, its child becomes the current one

        QString after = QStringLiteral("%1, child %2, details %3, ticked %4")
                            .arg(open ? "open" : "closed")
                            .arg(world.state.currentFace)
                            .arg(child<QLabel>(window.get(), "description")->text(), ticked.join(QLatin1Char(' ')));
        for (int i = 0; i < 4; ++i) { // the current child's face alone highlighted, each face's tool tip naming it
            QCOMPARE(child<QFrame>(window.get(), "faceFrame" + QString::number(i))->lineWidth(), i == world.state.currentFace ? 1 : 4);
            const QString name = world.state.faceNames.at(i);
            QVERIFY(child(window.get(), QStringLiteral("faceImage%1").arg(i))->toolTip().startsWith(name + " ("));
            if (name != names.at(i))
                after += QStringLiteral(", face %1 is %2").arg(i).arg(name);
        }
        for (const QString &tip : std::as_const(world.main.toolTips))
            after += ", menu " + tip;
        for (const QString &shown : std::as_const(world.windows.shown))
            after += ", shown " + shown;
        for (const SelectedSite &s : std::as_const(world.windows.editorRows))
            after += ", on " + QStringList{s.shortName, s.ages, s.comments, s.logo, s.url}.join(QLatin1Char('/'));
        for (const QString &url : std::as_const(world.opener.opened))
            after += ", opened " + url;
        QTEST(after, "after");
    }

    // The site editor, opened on Frog Games with the child's page "Animal Games" in view.
    // Steps as input::play and World::script take them.
    void editor_data()
    {
        QTest::addColumn<int>("editId");
        QTest::addColumn<QString>("ages"); // of the row opened
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QStringList>("outside");
        QTest::addColumn<QString>("form"); // url|short name|comments|from|to, empty once the window closed
        const QString ages = "5 to 9", frogs = "http://frogs.example/|Frog Games|Jumping games";
        const QString added = "New Site Added: Your new site will now appear at the bottom of your selection list.";
        const QString posted = "tad_postsite.asp?url=http%3A%2F%2Fzoo.example%2F&shortname=Zoo&comments=Zoo&AgeFrom=3&AgeTo=12"
                               "&LogoLoc=Z_gif.gif&id=0&userid=42&Delete=0&Type=2";
        const QString removal = "tad_postsite.asp?url=http%3A%2F%2Ffrogs.example%2F&shortname=Frog%20Games%21&comments=Jumping%20games"
                                "&AgeFrom=5&AgeTo=9&LogoLoc=F_gif.gif&id=2&userid=42&Delete=1";
        const QStringList none, zoo{"address=http://zoo.example/", "shortName=Zoo", "click:saveButton"};
        const QStringList remove{"shortName=Frog Games!", "click:deleteButton"}, refuse{"refuse:tad_postsite.asp"};

        QTest::newRow("an edit splits 5to9") << 2 << "5to9" << none << none << frogs + "|5|9";
        QTest::newRow("Ages without to leaves AgeTo empty") << 2 << "5 plus" << none << none << frogs + "|5 plus|";
        QTest::newRow("Auto-Add fills a new site from the child's page, sending nothing")
            << 0 << ages << QStringList{"click:autoAddButton"} << none
            << "http://animals.example/games|Animal Games|Animal Games|3|12";
        QTest::newRow("save: a new site starts empty, and the address is asked first")
            << 0 << ages << QStringList{"click:saveButton"} << QStringList{"Tadpole: Enter a Web Address!"} << "||||";
        QTest::newRow("save: then the short name, nothing completed yet")
            << 0 << ages << QStringList{"address=x", "click:saveButton"} << QStringList{"Tadpole: Enter a Short Name!"} << "x||||";
        QTest::newRow("save: Zoo alone is completed; a declined suggestion sends nothing")
            << 0 << ages << QStringList{"no", "answer:mum@home.example"} + zoo << QStringList{posted, added} << "";
        QTest::newRow("save: values arrive whole; an edit sends its id, the letter logo and the type as it was")
            << 7 << ages
            << QStringList{"address=http://t.example/?a=1&b=2#top", "shortName=Tom & Jerry's Zoo", "description=Cats = mice", "ageFrom=4",
                           "ageTo=9", "click:saveButton"}
            << QStringList{"tad_postsite.asp?url=http%3A%2F%2Ft.example%2F%3Fa%3D1%26b%3D2%23top&shortname=Tom%20%26%20Jerry%27s%20Zoo"
                           "&comments=Cats%20%3D%20mice&AgeFrom=4&AgeTo=9&LogoLoc=T_gif.gif&id=7&userid=42&Delete=0&Type=",
                           added}
            << "";
        QTest::newRow("save: a suggestion with an address")
            << 0 << ages << QStringList{"yes", "answer:mum@home.example"} + zoo
            << QStringList{posted, "tad_suggestsite.asp?userid=42&url=http%3A%2F%2Fzoo.example%2F&email=mum%40home.example", added}
            << "";
        QTest::newRow("save: a suggestion with no address sends none")
            << 0 << ages << QStringList{"yes"} + zoo << QStringList{posted, added} << "";
        QTest::newRow("save: a failed save is told, not confirmed, and the form stays")
            << 0 << ages << refuse + zoo << QStringList{posted, NotSaved.arg("The site \"Zoo\"")}
            << "http://zoo.example/|Zoo|Zoo|3|12";
        QTest::newRow("delete confirmed: the form as it stands, its logo, no type")
            << 2 << ages << QStringList{"yes"} + remove << QStringList{removal} << "";
        QTest::newRow("delete refused: nothing sent, the window stays")
            << 2 << ages << QStringList{"no"} + remove << none << "http://frogs.example/|Frog Games!|Jumping games|5|9";
        QTest::newRow("delete failed: the parent is told")
            << 2 << ages << refuse + QStringList{"yes"} + remove
            << QStringList{removal, NotSaved.arg("Removing \"Frog Games!\"")} << "";
    }

    void editor()
    {
        QFETCH(QString, form);
        World world;
        const int id = DATA(int, editId);
        world.state.currentUrl = "http://animals.example/games";
        world.main.title = "Animal Games";
        SelectedSite site = FrogGames;
        site.ages = DATA(QString, ages);
        const auto window = world.show<SiteEditorWindow>(id, QString(id ? "" : "2"), site); // an edit sends no type
        QCOMPARE(child(window.get(), "deleteButton")->isEnabled(), id != 0);
        QCOMPARE(child<QPushButton>(window.get(), "autoAddButton")->text(), QStringLiteral("Click to Auto-Add: Animal Games"));
        play(window.get(), DATA(QStringList, steps), [&world](const QString &step) { QVERIFY(world.script(step)); });
        if (QTest::currentTestFailed())
            return;
        QTEST(world.outside(false), "outside");
        QCOMPARE(window->isVisible(), !form.isEmpty());
        const char *fields[] = {"address", "shortName", "description", "ageFrom", "ageTo"};
        QStringList shown;
        for (int i = 0; i < 5 && !form.isEmpty(); ++i)
            shown << child(window.get(), fields[i])->property(i < 3 ? "text" : "currentText").toString();
        QCOMPARE(shown.join(QLatin1Char('|')), form);
    }
};

QTEST_MAIN(tst_SiteSel)
#include "tst_sitesel.moc"
