#include "E2eSupport.h"
#include "parents/ParentsTestSupport.h"
#include "support/TestDoubles.h"

#include "browserview/WebEngineBrowserView.h"
#include "parents/SiteEditorWindow.h"
#include "parents/SiteSelectionWindow.h"
#include "shell/HttpTransport.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <functional>
#include <memory>

// The parent's windows against the real portal with its demo family, over the
// real transport and web view: every tick, rename and site must be what the
// portal then holds, for this installation only.
class tst_E2eParents : public QObject {
    Q_OBJECT

    // The site editor shown over the list, driven by the running case.
    class EditorWindows : public ScriptedParentsWindows {
    public:
        void showSiteEditor(const ParentsContext &context, qint32 siteId, const QString &siteType,
                            const SelectedSite &selectedRow) override
        {
            ScriptedParentsWindows::showSiteEditor(context, siteId, siteType, selectedRow);
            SiteEditorWindow editor(context, siteId, siteType, selectedRow);
            editor.show();
            QVERIFY(QTest::qWaitForWindowExposed(&editor));
            if (drive)
                drive(editor);
            QVERIFY2(!editor.isVisible(), "the editor stayed open");
        }
        std::function<void(SiteEditorWindow &)> drive;
    };

    // One installation: its id, its shared values and the scripted parent.
    struct Installation {
        ProgramState state;
        ScriptedDialogs dialogs;
        RecordingMainLink main;
        EditorWindows windows;
        RecordingUrlOpener opener;
        FixedClock clock;
    };

    e2e::PortalProcess m_portal;
    QTemporaryDir m_folder;
    std::unique_ptr<HttpTransport> m_transport;
    WebEngineBrowserViewFactory m_views;
    Installation m_parent, m_other;

    QString get(const QString &page, const Installation &who, const QueryItems &more = {})
    {
        PortalClient portal(*m_transport, who.state.portalBase);
        const std::optional<QString> text = portal.requestText(page, more + QueryItems{{"userid", who.state.userId}});
        return text.value_or(QStringLiteral("(failed)"));
    }
    QString menu(int child, const Installation &who) { return get("tad_menu.asp", who, {{"t", QString::number(child)}}); }
    static QString tile(const QString &name) { return "<span>" + name.toHtmlEscaped() + "</span>"; }

    std::unique_ptr<SiteSelectionWindow> open(Installation &who)
    {
        const ParentsContext context{&who.state, &who.dialogs, m_transport.get(), &m_views, &who.opener, &who.clock, &who.main,
                                     &who.windows};
        auto window = std::make_unique<SiteSelectionWindow>(context);
        window->show();
        if (!QTest::qWaitForWindowExposed(window.get()))
            qWarning("the site selection was not exposed");
        return window;
    }

    static QTreeWidget *list(QWidget *window) { return window->findChild<QTreeWidget *>("siteList"); }
    static QTreeWidgetItem *row(QWidget *window, const QString &name)
    {
        const QList<QTreeWidgetItem *> found = list(window)->findItems(name, Qt::MatchExactly);
        return found.value(0);
    }
    static QStringList names(QWidget *window)
    {
        QStringList out;
        for (int i = 0; i < list(window)->topLevelItemCount(); ++i)
            out << list(window)->topLevelItem(i)->text(SiteSelectionWindow::SiteName);
        return out;
    }
    template <typename T>
    static T *control(QWidget *window, const char *name)
    {
        return window->findChild<T *>(QLatin1String(name));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_portal.start());
        m_transport = std::make_unique<HttpTransport>(10000);
        int n = 0;
        for (Installation *who : {&m_parent, &m_other}) {
            who->state.portalBase = QStringLiteral("http://%1/tad/").arg(m_portal.host());
            who->state.userId = QStringLiteral("202612060000000000%1").arg(++n);
            who->state.appFolder = m_folder.path() + QLatin1Char('/');
            who->state.faceNames = PortalClient::faceNamesFrom(get("tad_getface.asp", *who));
        }
        QCOMPARE(m_parent.state.faceNames, QStringList({"Anna", "Ben", "Cara", "Dan"}));
    }

    void cleanupTestCase()
    {
        // Only the editor's confirmations: no failure was reported on the way.
        for (const auto &shown : m_parent.dialogs.messages + m_other.dialogs.messages)
            QVERIFY2(shown.title == QStringLiteral("New Site Added"), qPrintable(shown.text));
        QCOMPARE(m_parent.dialogs.messages.size(), 2);
    }

    void listShowsTheChildsTicksAndTheLogo()
    {
        m_parent.state.currentFace = 1;
        const auto window = open(m_parent);
        QCOMPARE(names(window.get()).mid(0, 3), QStringList({"Plain Pond", "Frame Pond", "Pop-up Pond"}));
        QCOMPARE(row(window.get(), "Frame Pond")->checkState(0), Qt::Checked);
        QCOMPARE(row(window.get(), "Link Pond")->checkState(0), Qt::Unchecked);
        // The web view asks for the first row's logo with the two slashes.
        QVERIFY(e2e::waitFor([&] { return m_portal.requests(m_portal.host()).contains("/tad//logos/P_gif.gif"); }, 20000));
    }

    void tickShowsOnTheMenuAndUntickRemovesIt()
    {
        m_parent.state.currentFace = 1;
        for (const bool tick : {true, false}) {
            const auto window = open(m_parent);
            QTreeWidgetItem *link = row(window.get(), "Link Pond");
            QVERIFY(link);
            QCOMPARE(link->checkState(0), tick ? Qt::Unchecked : Qt::Checked);
            QElapsedTimer blocked;
            blocked.start();
            input::clickCheckBox(list(window.get()), link);
            QVERIFY2(blocked.elapsed() < 5000, "a hang guard: the tick waits on the loopback only");
            input::clickAt(control<QPushButton>(window.get(), "saveButton")); // Save Selections: Ben is named, so it just closes
            QVERIFY(!window->isVisible());
            QCOMPARE(m_parent.state.currentFace, qint16(1));
            QCOMPARE(menu(2, m_parent).contains(tile("Link Pond")), tick);
            QVERIFY(menu(2, m_parent).contains(tile("Plain Pond")));
            QVERIFY(!menu(2, m_other).contains(tile("Link Pond")));
        }
    }

    void renameReachesThePortalAndTheFace()
    {
        m_parent.dialogs.inputs << QStringLiteral("Ann & Bob");
        const auto window = open(m_parent);
        input::clickAt(control<QLabel>(window.get(), "faceImage2"), Qt::RightButton);
        QCOMPARE(get("tad_getface.asp", m_parent).split('\t').value(2), QStringLiteral("Ann & Bob"));
        QCOMPARE(m_parent.main.toolTips, QStringList{"2 Ann & Bob's menu"});
        QCOMPARE(m_parent.state.faceNames.value(2), QStringLiteral("Ann & Bob"));
        QCOMPARE(get("tad_getface.asp", m_other).split('\t').value(2), QStringLiteral("Cara"));
    }

    void addEditAndDeleteASite()
    {
        const QString name = QStringLiteral("Tom & Jerry's Zoo");
        const QString address = QStringLiteral("http://127.0.0.2:%1/zoo?cats=1&mice=2#pen").arg(m_portal.port());
        m_parent.state.currentFace = 1;
        auto window = open(m_parent);

        // Added through the editor, typed by keys; suggested too.
        m_parent.windows.drive = [&](SiteEditorWindow &editor) {
            input::retype(control<QWidget>(&editor, "address"), address);
            input::retype(control<QWidget>(&editor, "shortName"), name);
            input::retype(control<QWidget>(&editor, "description"), QStringLiteral("Cats = mice & more"));
            input::retype(control<QComboBox>(&editor, "ageFrom"), QStringLiteral("4"));
            input::retype(control<QComboBox>(&editor, "ageTo"), QStringLiteral("9"));
            m_parent.dialogs.answers = {Dialogs::Answer::Yes};
            m_parent.dialogs.inputs = {QStringLiteral("mum@home.example")};
            input::clickAt(control<QPushButton>(&editor, "saveButton"));
        };
        input::clickAt(control<QPushButton>(window.get(), "addSiteButton"));
        QTreeWidgetItem *zoo = row(window.get(), name);
        QVERIFY2(zoo, qPrintable(names(window.get()).join('|')));
        QCOMPARE(names(window.get()).last(), name);
        const QString edited = "editor " + zoo->text(SiteSelectionWindow::ID) + " type ''";
        QCOMPARE(QStringList({zoo->text(SiteSelectionWindow::URL), zoo->text(SiteSelectionWindow::Ages), zoo->text(SiteSelectionWindow::Comments),
                              zoo->text(SiteSelectionWindow::Type), zoo->text(SiteSelectionWindow::Logo)}),
                 QStringList({address, "4 to 9", "Cats = mice & more", "2", "T_gif.gif"}));
        QVERIFY(m_portal.requests(m_portal.host()).filter("/tad/tad_suggestsite.asp?").size() == 1);
        QVERIFY(!names(open(m_other).get()).contains(name));

        // Edited: the editor opens on the row, filled from it.
        const QString bigger = QStringLiteral("Tom & Jerry's Big Zoo");
        m_parent.windows.drive = [&](SiteEditorWindow &editor) {
            QCOMPARE(control<QLineEdit>(&editor, "shortName")->text(), name);
            QCOMPARE(control<QComboBox>(&editor, "ageFrom")->currentText() + control<QComboBox>(&editor, "ageTo")->currentText(),
                     QStringLiteral("49"));
            input::retype(control<QWidget>(&editor, "shortName"), bigger);
            m_parent.dialogs.answers = {Dialogs::Answer::No};
            input::clickAt(control<QPushButton>(&editor, "saveButton"));
        };
        input::clickRow(list(window.get()), zoo);
        input::clickAt(control<QPushButton>(window.get(), "editButton"));
        QVERIFY2(row(window.get(), bigger), qPrintable(names(window.get()).join('|')));
        QVERIFY(!row(window.get(), name));
        QVERIFY(!names(open(m_other).get()).contains(bigger));

        // Deleted, once the parent is sure.
        m_parent.windows.drive = [&](SiteEditorWindow &editor) {
            m_parent.dialogs.answers = {Dialogs::Answer::Yes};
            input::clickAt(control<QPushButton>(&editor, "deleteButton"));
        };
        input::clickRow(list(window.get()), row(window.get(), bigger));
        input::clickAt(control<QPushButton>(window.get(), "editButton"));
        QVERIFY(!names(window.get()).contains(bigger));
        QCOMPARE(m_parent.windows.shown, QStringList({"editor 0 type '2'", edited, edited}));
        window.reset();
        QVERIFY(!names(open(m_parent).get()).contains(bigger));
    }
};

QTEST_MAIN(tst_E2eParents)
#include "tst_e2e_parents.moc"
