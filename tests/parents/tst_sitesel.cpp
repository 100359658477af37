#include "ParentsTestSupport.h"
#include "support/TestDoubles.h"

#include "parents/SiteList.h"
#include "parents/frmNewSite.h"
#include "parents/frmSiteSel.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <memory>

using Answer = Dialogs::Answer;
using input::clickAt;

// A data column's value where an expression needs it.
#define DATA(Type, name) (*static_cast<Type *>(QTest::qData(#name, ::qMetaTypeId<Type>())))

namespace {

const QString Base = QStringLiteral("http://portal.test/tad/");

// Three rows as the portal sends them: a ticked public site, an unticked
// private one and a ticked private one whose name holds "&".
const QByteArray Family = "1\tPlain Pond\thttp://pond.example/\t3 to 12\tA plain pond\t1\t0\t-1\tP_gif.gif\r\n"
                          "2\tFrog Games\thttp://frogs.example/\t5 to 9\tJumping games\t2\t1\t0\tF_gif.gif\r\n"
                          "3\tFish & Chips\thttps://fish.example/\t4 to 8\tFish facts\t2\t1\t-1\tdefault_logo.gif\r\n";

// One scripted outside world for one window.
struct World {
    World()
    {
        globals.AppFolder = folder.path() + QLatin1Char('/');
        globals.PortalBase = Base;
        globals.UserId = QStringLiteral("42");
        globals.FaceNames = QStringList{"Anna", "Ben", "Cara", "Dan"};
        for (const char *page : {"tad_saveitem.asp", "tad_saveface.asp", "tad_postsite.asp", "tad_suggestsite.asp"})
            transport.replies.insert(QLatin1String(page), FetchResult::success("OK"));
        transport.replies.insert(QStringLiteral("tad_available.asp"), FetchResult::success(Family));
    }
    ParentsContext context()
    {
        return {&globals, &dialogs, &transport, &views, &opener, &clock, &main, &windows};
    }
    // What reached the portal, without PortalBase.
    QStringList sent() const
    {
        QStringList pages;
        for (const QString &address : transport.requests)
            pages << address.mid(Base.size());
        return pages;
    }
    // Each message as "title: text".
    QStringList messageTexts() const
    {
        QStringList texts;
        for (const auto &m : dialogs.messages)
            texts << m.title + QStringLiteral(": ") + m.text;
        return texts;
    }
    template <typename W, typename... A>
    std::unique_ptr<W> show(A &&...args)
    {
        auto window = std::make_unique<W>(context(), std::forward<A>(args)...);
        window->show();
        if (!QTest::qWaitForWindowExposed(window.get()))
            qWarning("the window was not exposed");
        return window;
    }
    QTemporaryDir folder;
    modGlobals globals;
    ScriptedDialogs dialogs;
    ScriptedTransport transport;
    FakeBrowserViewFactory views;
    RecordingUrlOpener opener;
    FixedClock clock;
    RecordingMainLink main;
    ScriptedParentsWindows windows;
};

template <typename T = QWidget>
T *child(QWidget *window, const QString &name)
{
    T *found = window->findChild<T *>(name);
    if (!found)
        qWarning("no control %s", qPrintable(name));
    return found;
}

QTreeWidget *listOf(QWidget *window) { return child<QTreeWidget>(window, QStringLiteral("ListView1")); }
void clickRow(QWidget *window, int row) { input::clickRow(listOf(window), listOf(window)->topLevelItem(row)); }

// The form's five fields as they read: url, short name, comments, the two ages.
QStringList formOf(QWidget *editor)
{
    QStringList form;
    for (const char *name : {"url", "shortname", "comments"})
        form << child<QLineEdit>(editor, name)->text();
    for (const char *name : {"AgeFrom", "AgeTo"})
        form << child<QComboBox>(editor, name)->currentText();
    return form;
}

QStringList rowSummary(const QList<SiteRow> &rows)
{
    QStringList out;
    for (const SiteRow &r : rows)
        out << r.id + QLatin1Char(' ') + r.shortName + (r.ticked ? QStringLiteral(" ticked") : QString());
    return out;
}

} // namespace

class tst_SiteSel : public QObject {
    Q_OBJECT

private slots:
    // The available-sites reply.

    void parse_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<int>("unreadable");
        QTest::addColumn<int>("repeated");

        const QByteArray a = "1\tA\tu\t3 to 12\tc\t1\t0\t-1\tl\r\n";
        QTest::newRow("rows ended by CR LF; only -1 ticks")
            << a + "2\tB\tu\ta\tc\t1\t0\t1\tl\r\n3\tC\tu\ta\tc\t1\t0\tTrue\tl\r\n4\tD\tu\ta\tc\t1\t0\t\tl\r\n"
            << QStringList{"1 A ticked", "2 B", "3 C", "4 D"} << 0 << 0;
        QTest::newRow("last row without CR LF is still a row")
            << a + "2\tB\tu\ta\tc\t2\t1\t-1\tl" << QStringList{"1 A ticked", "2 B ticked"} << 0 << 0;
        QTest::newRow("rows of fewer than nine fields are skipped and counted")
            << "1\tshort\r\n" + a + "2\tB\tu\ta\tc\t1\t0\t-1\r\n\r\n" << QStringList{"1 A ticked"} << 3 << 0;
        QTest::newRow("a repeated id keeps its first row")
            << a + "1\tOther\tu\ta\tc\t1\t0\t0\tl\r\n" << QStringList{"1 A ticked"} << 0 << 1;
        QTest::newRow("fields past the ninth are ignored")
            << QByteArray("5\t\xc3\x89\tu\ta\tc\t2\t1\t-1\tlogo.gif\textra\tmore\r\n") << QStringList{QStringLiteral("5 É ticked")} << 0 << 0;
        QTest::newRow("an id that is no number is unreadable")
            << "x\tA\tu\ta\tc\t1\t0\t0\tl\r\n0\tZ\tu\ta\tc\t1\t0\t0\tl\r\n" + a << QStringList{"1 A ticked"} << 2 << 0;
        QTest::newRow("empty reply") << QByteArray() << QStringList() << 0 << 0;
        QTest::newRow("garbage bytes") << QByteArray("\x00\xff\t\x01\r\n\xfe\t\t\t\t\t\t\t\t\t\xc3\r\n", 19) << QStringList() << 2 << 0;
    }

    void parse()
    {
        QFETCH(QByteArray, reply);
        const SiteListReply parsed = parseAvailableSites(reply);
        QCOMPARE(rowSummary(parsed.rows), DATA(QStringList, rows));
        QCOMPARE(parsed.unreadable, DATA(int, unreadable));
        QCOMPARE(parsed.repeated, DATA(int, repeated));
    }

    void parseTenMegabytes_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("rows");
        QByteArray rows;
        int count = 0;
        while (rows.size() < 10 * 1024 * 1024)
            rows += QByteArray::number(++count) + "\tSite\thttp://s.example/\t3 to 12\tAbout it\t1\t0\t-1\tS_gif.gif\r\n";
        QTest::newRow("ten megabytes of rows") << rows << count;
        QByteArray noise(10 * 1024 * 1024, Qt::Uninitialized);
        QRandomGenerator random(12);
        random.fillRange(reinterpret_cast<quint32 *>(noise.data()), noise.size() / 4);
        QTest::newRow("ten megabytes of random bytes") << noise << 0;
    }

    void parseTenMegabytes()
    {
        QFETCH(QByteArray, reply);
        QElapsedTimer timer;
        timer.start();
        const SiteListReply parsed = parseAvailableSites(reply);
        QCOMPARE(parsed.rows.size(), DATA(int, rows));
        QVERIFY2(timer.elapsed() < 20000, "a hang guard, not a benchmark");
    }

    // The site selection window.

    void loadShowsTheList()
    {
        World world;
        world.globals.CurrentFace = 2;
        const auto window = world.show<frmSiteSel>();
        QTreeWidget *list = listOf(window.get());
        QCOMPARE(window->windowTitle(), QStringLiteral("Site Selection"));
        QCOMPARE(world.sent(), QStringList{"tad_available.asp?t=3&userid=42"}); // the ticks set by loading send nothing

        QStringList keys, shown;
        for (int c = 0; c < frmSiteSel::ColumnCount; ++c) {
            keys << list->headerItem()->data(c, frmSiteSel::KeyRole).toString();
            if (!list->isColumnHidden(c))
                shown << list->headerItem()->text(c);
        }
        QCOMPARE(keys, QStringList({"SiteName", "Ages", "Comments", "ID", "Logo", "URL", "Type"}));
        QCOMPARE(shown, QStringList({"Site Name", "Ages"}));

        QStringList rows;
        for (int i = 0; i < list->topLevelItemCount(); ++i) {
            const QTreeWidgetItem *item = list->topLevelItem(i);
            QStringList row{item->data(0, frmSiteSel::KeyRole).toString()};
            for (int c = 0; c < frmSiteSel::ColumnCount; ++c)
                row << item->text(c);
            row << (item->checkState(0) == Qt::Checked ? "ticked" : "-") << (item->font(0).bold() ? "bold" : "plain")
                << item->foreground(0).color().name();
            rows << row.join(QLatin1Char('|'));
        }
        QCOMPARE(rows, QStringList({
            "K1|Plain Pond|3 to 12|A plain pond|1|P_gif.gif|http://pond.example/|1|ticked|bold|#0000ff",
            "K2|Frog Games|5 to 9|Jumping games|2|F_gif.gif|http://frogs.example/|2|-|plain|#000000",
            "K3|Fish & Chips|4 to 8|Fish facts|3|default_logo.gif|https://fish.example/|2|ticked|bold|#0000ff"}));

        // The first row as if clicked: its description, its logo (two slashes), a public site not editable.
        QCOMPARE(list->currentItem(), list->topLevelItem(0));
        QCOMPARE(child<QLabel>(window.get(), "Label1")->text(), QStringLiteral("A plain pond"));
        QCOMPARE(world.views.created.first()->navigated.last(), QStringLiteral("http://portal.test/tad//logos/P_gif.gif"));
        QVERIFY(!child<QPushButton>(window.get(), "btnEdit")->isEnabled());
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(child<QFrame>(window.get(), QStringLiteral("Shape1_%1").arg(i))->lineWidth(), i == 2 ? 1 : 4);
            QCOMPARE(child<QLabel>(window.get(), QStringLiteral("Image1_%1").arg(i))->toolTip(),
                     world.globals.FaceNames.at(i) + " (right-click to change name)");
        }
        // Clicking a private row shows it, and Edit/Remove opens.
        clickRow(window.get(), 1);
        QCOMPARE(child<QLabel>(window.get(), "Label1")->text(), QStringLiteral("Jumping games"));
        QVERIFY(child<QPushButton>(window.get(), "btnEdit")->isEnabled());
        QCOMPARE(world.sent().size(), 1);
    }

    void loadProblems_data()
    {
        QTest::addColumn<FetchResult>("reply");
        QTest::addColumn<int>("rows");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("title");
        QTest::newRow("failed request shows its description")
            << FetchResult::failure("The portal answered HTTP 503") << 0 << "The portal answered HTTP 503" << Dialogs::ApplicationTitle;
        QTest::newRow("unreadable and repeated rows are counted in one message")
            << FetchResult::success(Family + "9\tshort\r\n1\tagain\tu\ta\tc\t1\t0\t0\tl\r\nx\r\n") << 3
            << "2 rows of the site list could not be read and 1 row repeated a site already in the list; they were left "
               "out and the other sites are shown." << "Tadpole";
        QTest::newRow("binary reply loads nothing, says so")
            << FetchResult::success(QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16)) << 0
            << "2 rows of the site list could not be read; they were left out and the other sites are shown." << "Tadpole";
    }

    void loadProblems()
    {
        QFETCH(FetchResult, reply);
        World world;
        world.transport.replies.insert("tad_available.asp", reply);
        const auto window = world.show<frmSiteSel>();
        QCOMPARE(listOf(window.get())->topLevelItemCount(), DATA(int, rows));
        QCOMPARE(world.dialogs.messages.size(), 1);
        QCOMPARE(world.dialogs.messages.first().text, DATA(QString, message));
        QCOMPARE(world.dialogs.messages.first().title, DATA(QString, title));
        // The window stays usable: another child's list loads when the portal answers.
        world.transport.replies.insert("tad_available.asp", FetchResult::success(Family));
        clickAt(child<QLabel>(window.get(), "Image1_1"));
        QCOMPARE(listOf(window.get())->topLevelItemCount(), 3);
        QVERIFY(window->isVisible());
    }

    void tick_data()
    {
        QTest::addColumn<int>("row");
        QTest::addColumn<bool>("portalTakesIt");
        QTest::addColumn<QStringList>("sent");
        QTest::addColumn<bool>("tickedAfter");
        QTest::newRow("the parent ticks an unticked site")
            << 1 << true << QStringList{"tad_saveitem.asp?item=2&checked=True&t=2&userid=42"} << true;
        QTest::newRow("the parent unticks a ticked site")
            << 2 << true << QStringList{"tad_saveitem.asp?item=3&checked=False&t=2&userid=42"} << false;
        QTest::newRow("a failed tick is reported and the list reloaded from the portal")
            << 1 << false << QStringList{"tad_saveitem.asp?item=2&checked=True&t=2&userid=42", "tad_available.asp?t=2&userid=42"}
            << false;
    }

    void tick()
    {
        QFETCH(int, row);
        QFETCH(bool, portalTakesIt);
        World world;
        world.globals.CurrentFace = 1;
        if (!portalTakesIt)
            world.transport.replies.remove("tad_saveitem.asp");
        const auto window = world.show<frmSiteSel>();
        QTreeWidget *list = listOf(window.get());
        world.transport.requests.clear();
        input::clickCheckBox(list, list->topLevelItem(row));
        QTRY_COMPARE(world.sent(), DATA(QStringList, sent));
        QCOMPARE(list->topLevelItem(row)->checkState(0) == Qt::Checked, DATA(bool, tickedAfter));
        QCOMPARE(world.messageTexts(),
                 portalTakesIt ? QStringList()
                               : QStringList{"Tadpole: The tick of \"Frog Games\" did not reach the Tadpole portal, so nothing was "
                                             "changed there.\r\n\r\nConnection refused"});
        QVERIFY(window->isVisible());
    }

    void faceClicks_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<int>("face");
        QTest::addColumn<Qt::MouseButton>("button");
        QTest::addColumn<QStringList>("sent");
        QTest::addColumn<int>("highlighted");
        QTest::addColumn<bool>("open");
        QTest::addColumn<QStringList>("asked");
        const QStringList family{"Anna", "Ben", "Cara", "Dan"};
        QTest::newRow("left click on another face switches the list")
            << family << 3 << Qt::LeftButton << QStringList{"tad_available.asp?t=4&userid=42"} << 3 << true << QStringList();
        QTest::newRow("left click on the highlighted face closes, keeping that child")
            << family << 0 << Qt::LeftButton << QStringList() << 0 << false << QStringList();
        QTest::newRow("right click renames without selecting")
            << family << 2 << Qt::RightButton << QStringList() << 0 << true << QStringList{"Enter a real name for CHILD 3"};
        QTest::newRow("middle click renames too")
            << family << 1 << Qt::MiddleButton << QStringList() << 0 << true << QStringList{"Enter a real name for CHILD 2"};
        QTest::newRow("selecting a child named Childs asks for a name")
            << QStringList{"Anna", "cHILDs", "Cara", "Dan"} << 1 << Qt::LeftButton << QStringList{"tad_available.asp?t=2&userid=42"}
            << 1 << true << QStringList{"Enter a real name for CHILD 2"};
        QTest::newRow("selecting a child named Chloe does not")
            << QStringList{"Anna", "Chloe", "Cara", "Dan"} << 1 << Qt::LeftButton << QStringList{"tad_available.asp?t=2&userid=42"}
            << 1 << true << QStringList();
    }

    void faceClicks()
    {
        World world;
        world.globals.FaceNames = DATA(QStringList, names);
        const auto window = world.show<frmSiteSel>();
        world.transport.requests.clear();
        clickAt(child<QLabel>(window.get(), QStringLiteral("Image1_%1").arg(DATA(int, face))), DATA(Qt::MouseButton, button));
        QCOMPARE(world.sent(), DATA(QStringList, sent));
        QFETCH(int, highlighted);
        for (int i = 0; i < 4; ++i)
            QCOMPARE(child<QFrame>(window.get(), QStringLiteral("Shape1_%1").arg(i))->lineWidth(), i == highlighted ? 1 : 4);
        QCOMPARE(window->isVisible(), DATA(bool, open));
        QStringList asked;
        for (const auto &q : world.dialogs.questions)
            asked << q.text;
        QCOMPARE(asked, DATA(QStringList, asked));
        // Whatever closes the window, its child becomes the current one.
        window->close();
        QCOMPARE(world.globals.CurrentFace, qint16(highlighted));
    }

    void saveSelectionsByAltSAsksAnUnnamedChildsName()
    {
        World world;
        world.globals.FaceNames[0] = "Child 1";
        world.dialogs.inputs << "Ann";
        const auto window = world.show<frmSiteSel>();
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        QTest::keyClick(window.get(), Qt::Key_S, Qt::AltModifier); // the button shows itself pressed, then clicks
        QTRY_VERIFY(!window->isVisible());
        QCOMPARE(world.sent().last(), QStringLiteral("tad_saveface.asp?userid=42&tface=1&newname=Ann"));
    }

    void rename_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<bool>("portalTakesIt");
        QTest::addColumn<QStringList>("sent");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("toolTip");
        QTest::addColumn<QStringList>("mainToolTips");
        QTest::newRow("a name with a space and & arrives whole")
            << "Ann & Bob" << true << QStringList{"tad_saveface.asp?userid=42&tface=3&newname=Ann%20%26%20Bob"} << "Ann & Bob"
            << "Ann & Bob (right-click to change)" << QStringList{"2 Ann & Bob's menu"};
        QTest::newRow("an empty answer sends nothing")
            << "" << true << QStringList() << "Cara" << "Cara (right-click to change name)" << QStringList();
        QTest::newRow("Escape sends nothing")
            << QString(QChar(27)) << true << QStringList() << "Cara" << "Cara (right-click to change name)" << QStringList();
        QTest::newRow("a failed rename keeps the portal's name and reloads")
            << "Zed" << false << QStringList{"tad_saveface.asp?userid=42&tface=3&newname=Zed", "tad_available.asp?t=1&userid=42"}
            << "Cara" << "Cara (right-click to change name)" << QStringList();
    }

    void rename()
    {
        QFETCH(bool, portalTakesIt);
        World world;
        if (!portalTakesIt)
            world.transport.replies.remove("tad_saveface.asp");
        world.dialogs.inputs << DATA(QString, answer);
        const auto window = world.show<frmSiteSel>();
        world.transport.requests.clear();
        QLabel *face = child<QLabel>(window.get(), "Image1_2");
        clickAt(face, Qt::RightButton);
        QCOMPARE(world.dialogs.questions.first().title, QStringLiteral("Enter Child's Name"));
        QCOMPARE(world.sent(), DATA(QStringList, sent));
        QCOMPARE(world.globals.FaceNames.at(2), DATA(QString, name));
        QCOMPARE(face->toolTip(), DATA(QString, toolTip));
        QCOMPARE(world.main.toolTips, DATA(QStringList, mainToolTips));
        QCOMPARE(world.dialogs.messages.size(), portalTakesIt ? 0 : 1);
    }

    void preview_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QStringList>("opened");
        QTest::newRow("a web address opens") << "https://fish.example/a?b=1" << QStringList{"https://fish.example/a?b=1"};
        QTest::newRow("an address without a scheme is a web address") << "www.zoo.example" << QStringList{"http://www.zoo.example"};
        QTest::newRow("a file is refused") << "file:///etc/passwd" << QStringList();
    }

    void preview()
    {
        QFETCH(QString, url);
        World world;
        world.transport.replies.insert("tad_available.asp",
                                       FetchResult::success("1\tS\t" + url.toUtf8() + "\t3 to 12\tc\t2\t1\t0\tS_gif.gif\r\n"));
        const auto window = world.show<frmSiteSel>();
        clickAt(child<QPushButton>(window.get(), "Command1"));
        QFETCH(QStringList, opened);
        QCOMPARE(world.opener.opened, opened);
        QCOMPARE(world.dialogs.messages.size(), opened.isEmpty() ? 1 : 0);
    }

    void addAndEdit_data()
    {
        QTest::addColumn<bool>("maintainer");
        QTest::addColumn<QString>("button");
        QTest::addColumn<int>("row");
        QTest::addColumn<QStringList>("typeAnswer");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("newSiteType");
        QTest::newRow("add outside maintainer mode: type 2") << false << "Command3" << 0 << QStringList() << "editor 0" << "2";
        QTest::newRow("add in maintainer mode: the type as typed") << true << "Command3" << 0 << QStringList{"7"} << "editor 0" << "7";
        QTest::newRow("edit a private site") << false << "btnEdit" << 2 << QStringList() << "editor 3" << "left";
        QTest::newRow("edit a public site in maintainer mode") << true << "btnEdit" << 0 << QStringList() << "editor 1" << "left";
        QTest::newRow("a public site outside maintainer mode cannot be edited") << false << "btnEdit" << 0 << QStringList() << ""
                                                                                << "left";
    }

    void addAndEdit()
    {
        QFETCH(QString, button);
        QFETCH(QString, shown);
        World world;
        if (DATA(bool, maintainer)) {
            QFile version(world.globals.AppFolder + "version.htm");
            QVERIFY(version.open(QIODevice::WriteOnly));
        }
        world.globals.NewSiteType = "left";
        world.dialogs.inputs = DATA(QStringList, typeAnswer);
        const auto window = world.show<frmSiteSel>();
        QTreeWidget *list = listOf(window.get());
        clickRow(window.get(), DATA(int, row));
        world.transport.requests.clear();
        clickAt(child<QPushButton>(window.get(), button));
        QCOMPARE(world.windows.shown, shown.isEmpty() ? QStringList() : QStringList{shown});
        QCOMPARE(world.globals.NewSiteType, DATA(QString, newSiteType));
        if (shown.isEmpty())
            return;
        if (button == "Command3" && !world.dialogs.questions.isEmpty())
            QCOMPARE(world.dialogs.questions.first().text + world.dialogs.questions.first().title, "1-Public, 2-PrivateAdd Site");
        const SelectedSite site = world.windows.editorRows.first();
        const QTreeWidgetItem *item = list->topLevelItem(DATA(int, row));
        QCOMPARE(QStringList({site.shortName, site.ages, site.comments, site.logo, site.url}),
                 QStringList({item->text(0), item->text(1), item->text(2), item->text(4), item->text(5)}));
        // Reloaded when the editor closed, showing the first row.
        QCOMPARE(world.sent(), QStringList{"tad_available.asp?t=1&userid=42"});
        QCOMPARE(list->currentItem(), list->topLevelItem(0));
    }

    void safetyPreferences()
    {
        World world;
        const auto window = world.show<frmSiteSel>();
        QMenuBar *bar = window->findChild<QMenuBar *>();
        QMenu *menu = child<QMenu>(window.get(), "File_Menu");
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->actionGeometry(menu->menuAction()).center());
        QTRY_VERIFY(menu->isVisible());
        QAction *item = menu->actions().first();
        QCOMPARE(item->text(), QStringLiteral("Safety Preferences"));
        QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(item).center());
        QCOMPARE(world.windows.shown, QStringList{"preferences"});
    }

    // The site editor.

    void save_data()
    {
        QTest::addColumn<int>("editId");
        QTest::addColumn<QString>("type");
        QTest::addColumn<QStringList>("typed"); // url, short name, comments, from, to
        QTest::addColumn<QList<Answer>>("answers");
        QTest::addColumn<QStringList>("email");
        QTest::addColumn<bool>("portalTakesIt");
        QTest::addColumn<QStringList>("sent");
        QTest::addColumn<QStringList>("messages");
        QTest::addColumn<bool>("open");
        const QString added = "New Site Added: Your new site will now appear at the bottom of your selection list.";
        const QString zoo = "tad_postsite.asp?url=http%3A%2F%2Fzoo.example%2F&shortname=Zoo&comments=Zoo&AgeFrom=3&AgeTo=12"
                            "&LogoLoc=Z_gif.gif&id=0&userid=42&Delete=0&Type=";
        QTest::newRow("Zoo with nothing else") << 0 << "2" << QStringList{"http://zoo.example/", "Zoo", "", "", ""}
                                               << QList<Answer>{Answer::No} << QStringList() << true << QStringList{zoo + "2"}
                                               << QStringList{added} << false;
        QTest::newRow("type after no add command") << 0 << "" << QStringList{"http://zoo.example/", "Zoo", "", "", ""}
                                                   << QList<Answer>{Answer::No} << QStringList() << true << QStringList{zoo}
                                                   << QStringList{added} << false;
        QTest::newRow("empty address first") << 0 << "2" << QStringList{"", "", "", "", ""} << QList<Answer>() << QStringList()
                                             << true << QStringList() << QStringList{"Tadpole: Enter a Web Address!"} << true;
        QTest::newRow("empty short name") << 0 << "2" << QStringList{"x", "", "", "", ""} << QList<Answer>() << QStringList()
                                          << true << QStringList() << QStringList{"Tadpole: Enter a Short Name!"} << true;
        QTest::newRow("values arrive whole; an edit sends its id and the letter logo")
            << 7 << "2" << QStringList{"http://t.example/?a=1&b=2#top", "Tom & Jerry's Zoo", "Cats = mice", "4", "9"}
            << QList<Answer>{Answer::No} << QStringList() << true
            << QStringList{"tad_postsite.asp?url=http%3A%2F%2Ft.example%2F%3Fa%3D1%26b%3D2%23top&shortname=Tom%20%26%20Jerry%27s%20Zoo"
                           "&comments=Cats%20%3D%20mice&AgeFrom=4&AgeTo=9&LogoLoc=T_gif.gif&id=7&userid=42&Delete=0&Type=2"}
            << QStringList{added} << false;
        QTest::newRow("suggestion answered yes with an address")
            << 0 << "2" << QStringList{"http://zoo.example/", "Zoo", "", "", ""} << QList<Answer>{Answer::Yes}
            << QStringList{"mum@home.example"} << true
            << QStringList{zoo + "2", "tad_suggestsite.asp?userid=42&url=http%3A%2F%2Fzoo.example%2F&email=mum%40home.example"}
            << QStringList{added} << false;
        QTest::newRow("suggestion answered yes, address left empty")
            << 0 << "2" << QStringList{"http://zoo.example/", "Zoo", "", "", ""} << QList<Answer>{Answer::Yes} << QStringList{""}
            << true << QStringList{zoo + "2"} << QStringList{added} << false;
        QTest::newRow("a failed save is reported, not confirmed, and the form stays")
            << 0 << "2" << QStringList{"http://zoo.example/", "Zoo", "", "", ""} << QList<Answer>() << QStringList() << false
            << QStringList{zoo + "2"}
            << QStringList{"Tadpole: The site \"Zoo\" did not reach the Tadpole portal, so nothing was changed there.\r\n\r\nConnection refused"}
            << true;
    }

    void save()
    {
        QFETCH(QStringList, typed);
        QFETCH(bool, portalTakesIt);
        QFETCH(bool, open);
        World world;
        if (!portalTakesIt)
            world.transport.replies.remove("tad_postsite.asp");
        world.globals.EditSiteID = DATA(int, editId);
        world.globals.NewSiteType = DATA(QString, type);
        world.dialogs.answers = DATA(QList<Answer>, answers);
        world.dialogs.inputs = DATA(QStringList, email);
        const auto window = world.show<frmNewSite>(SelectedSite{"Old", "3 to 12", "old", "old.gif", "http://old.example/"});
        const char *fields[] = {"url", "shortname", "comments", "AgeFrom", "AgeTo"};
        for (int i = 0; i < 5; ++i)
            input::retype(child(window.get(), fields[i]), typed.at(i));
        clickAt(child<QPushButton>(window.get(), "Command2"));
        QCOMPARE(world.sent(), DATA(QStringList, sent));
        QCOMPARE(world.messageTexts(), DATA(QStringList, messages));
        QCOMPARE(window->isVisible(), open);
        if (!open)
            QCOMPARE(world.dialogs.questions.first().title, QStringLiteral("Suggest Your Site"));
        if (typed.at(0).isEmpty() || typed.at(1).isEmpty())
            QCOMPARE(child<QLineEdit>(window.get(), "comments")->text(), QString()); // nothing completed before the checks pass
    }

    void editFillsTheForm_data()
    {
        QTest::addColumn<int>("editId");
        QTest::addColumn<QString>("ages");
        QTest::addColumn<QStringList>("form"); // url, short name, comments, from, to
        QTest::addColumn<bool>("deletable");
        const QStringList row{"http://frogs.example/", "Frog Games", "Jumping games"};
        QTest::newRow("edit splits 5 to 9") << 2 << "5 to 9" << row + QStringList{"5", "9"} << true;
        QTest::newRow("edit splits 5to9") << 2 << "5to9" << row + QStringList{"5", "9"} << true;
        QTest::newRow("Ages without to leaves AgeTo empty") << 2 << "5 plus" << row + QStringList{"5 plus", ""} << true;
        QTest::newRow("a new site starts empty") << 0 << "5 to 9" << QStringList{"", "", "", "", ""} << false;
    }

    void editFillsTheForm()
    {
        World world;
        world.globals.EditSiteID = DATA(int, editId);
        const auto window = world.show<frmNewSite>(SelectedSite{"Frog Games", DATA(QString, ages), "Jumping games", "F_gif.gif",
                                                                "http://frogs.example/"});
        QCOMPARE(window->windowTitle(), QStringLiteral("Add a New Site"));
        QCOMPARE(formOf(window.get()), DATA(QStringList, form));
        QCOMPARE(child<QPushButton>(window.get(), "btnDelete")->isEnabled(), DATA(bool, deletable));
    }

    void deleteSite_data()
    {
        QTest::addColumn<Answer>("answer");
        QTest::addColumn<bool>("portalTakesIt");
        QTest::addColumn<QStringList>("sent");
        QTest::addColumn<int>("messages");
        QTest::addColumn<bool>("open");
        const QString removal = "tad_postsite.asp?url=http%3A%2F%2Ffrogs.example%2F&shortname=Frog%20Games%21&comments=Jumping%20games"
                                "&AgeFrom=5&AgeTo=9&LogoLoc=F_gif.gif&id=2&userid=42&Delete=1";
        QTest::newRow("confirmed: the form as it stands, its logo, no type") << Answer::Yes << true << QStringList{removal} << 0 << false;
        QTest::newRow("refused: nothing sent, the window stays") << Answer::No << true << QStringList() << 0 << true;
        QTest::newRow("failed: the parent is told") << Answer::Yes << false << QStringList{removal} << 1 << false;
    }

    void deleteSite()
    {
        World world;
        world.globals.EditSiteID = 2;
        world.dialogs.answers << DATA(Answer, answer);
        if (!DATA(bool, portalTakesIt))
            world.transport.replies.remove("tad_postsite.asp");
        const auto window = world.show<frmNewSite>(SelectedSite{"Frog Games", "5 to 9", "Jumping games", "F_gif.gif", "http://frogs.example/"});
        clickAt(child<QLineEdit>(window.get(), "shortname"));
        QTest::keyClick(child<QLineEdit>(window.get(), "shortname"), Qt::Key_End);
        QTest::keyClicks(child<QLineEdit>(window.get(), "shortname"), "!");
        clickAt(child<QPushButton>(window.get(), "btnDelete"));
        QCOMPARE(world.dialogs.questions.first().text + world.dialogs.questions.first().title,
                 "Are you sure you want to remove this site from your available sites?Are You Sure?");
        QCOMPARE(world.sent(), DATA(QStringList, sent));
        QCOMPARE(world.dialogs.messages.size(), DATA(int, messages));
        QCOMPARE(window->isVisible(), DATA(bool, open));
    }

    void autoAdd()
    {
        World world;
        world.main.title = "Animal Games";
        world.globals.CurrentUrl = "http://animals.example/games";
        const auto window = world.show<frmNewSite>(SelectedSite{});
        QPushButton *autoAdd = child<QPushButton>(window.get(), "Command1");
        QCOMPARE(autoAdd->text(), QStringLiteral("Click to Auto-Add: Animal Games"));
        clickAt(autoAdd);
        QCOMPARE(formOf(window.get()), QStringList({"http://animals.example/games", "Animal Games", "Animal Games", "3", "12"}));
        QVERIFY(world.sent().isEmpty());
    }
};

QTEST_MAIN(tst_SiteSel)
#include "tst_sitesel.moc"
