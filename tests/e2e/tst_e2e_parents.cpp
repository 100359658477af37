#include "E2eSupport.h"
#include "parents/ParentsTestSupport.h"

#include "browserview/WebEngineBrowserView.h"
#include "parents/SiteSelectionWindow.h"
#include "shell/HttpTransport.h"

#include <QDeadlineTimer>
#include <QTimer>

// One parents' round trip against the real portal with its demo family, over the real transport and web view: every
// tick and site is what the portal then holds, for this installation only.
class tst_E2eParents : public QObject {
    Q_OBJECT

    PortalProcess m_portal;
    std::unique_ptr<HttpTransport> m_transport;
    WebEngineBrowserViewFactory m_views;
    ParentsWorld m_parent, m_other;
    ModalParentsWindows m_windows; // the program's own: the site editor modal over the list

    ParentsContext context(ParentsWorld &who) // the installation's own, over the real transport and web view
    {
        return {&who.state, &who.dialogs, m_transport.get(), &m_views, &who.clock, &who.main, &m_windows, {}};
    }
    PortalClient portal(const ParentsWorld &who) { return PortalClient(*m_transport, who.state.portalBase, who.state.userId); }
    QString menu(const ParentsWorld &who, int child) // the child's menu page as `who` sees it
    {
        return QString::fromUtf8(m_transport->fetch(portal(who).menuAddress(child)).body.value_or(QByteArray()));
    }
    QStringList sites(ParentsWorld &who) // the sites a list newly opened shows to `who`
    {
        SiteSelectionWindow window(context(who));
        QTreeWidget *list = child<QTreeWidget>(&window, "siteList");
        QStringList names;
        for (QTreeWidgetItem *row = list->topLevelItem(0); row; row = list->itemBelow(row))
            names << row->text(SiteSelectionWindow::SiteName) + (row->checkState(0) == Qt::Checked ? " ticked" : "")
                         + (row->font(0).bold() && row->foreground(0).color() == Qt::blue ? " in bold blue" : "");
        return names;
    }

private slots:
    void roundTrip()
    {
        QVERIFY(m_portal.startFresh());
        m_transport = std::make_unique<HttpTransport>(10000);
        for (ParentsWorld *who : {&m_parent, &m_other}) {
            who->state.portalBase = QStringLiteral("http://%1/tad/").arg(m_portal.host());
            who->state.userId = QStringLiteral("202612060000000000%1").arg(who == &m_parent ? 1 : 2);
            who->state.faceNames = PortalClient::faceNamesFrom(portal(*who).faceNames());
        }
        QCOMPARE(m_parent.state.faceNames, QStringList({"Anna", "Ben", "Cara", "Dan"}));

        // Ben's list: his ticks.
        m_parent.state.currentFace = 1;
        SiteSelectionWindow window(context(m_parent));
        m_parent.play(&window, {});
        QTreeWidget *list = child<QTreeWidget>(&window, "siteList");
        QCOMPARE(sites(m_parent).mid(0, 3), QStringList({"Plain Pond ticked in bold blue", "Frame Pond ticked in bold blue", "Pop-up Pond"}));

        // A tick reaches Ben's menu and an untick takes it away, waiting on the loopback only; the other installation's
        // menu never shows it.
        const int link = sites(m_parent).indexOf("Link Pond");
        for (const bool tick : {true, false}) {
            const QDeadlineTimer hang(5000);
            m_parent.play(&window, {"tick:" + QString::number(link)});
            QVERIFY2(!hang.hasExpired(), "a hang guard");
            QCOMPARE(menu(m_parent, 1).contains("<span>Link Pond</span>"), tick);
            QVERIFY(menu(m_parent, 1).contains("<span>Plain Pond</span>") && !menu(m_other, 1).contains("<span>Link Pond</span>"));
        }

        // A site added and suggested through the editor: the list shows it as the portal then holds it, its values whole,
        // with the letter logo, and the other installation sees none of it.
        const QString zoo = "Tom & Jerry's Zoo", address = QStringLiteral("http://127.0.0.2:%1/zoo?cats=1&mice=2#pen").arg(m_portal.port());
        QTimer::singleShot(0, [&] { // in the event loop of the editor the button's click opens
            QWidget *editor = QApplication::activeModalWidget();
            m_parent.play(editor, {"address=" + address, "shortName=" + zoo, "description=Cats = mice & more", "ageFrom=4", "ageTo=9",
                                   "yes", "answer:mum@home.example", "click:saveButton"});
            const bool open = editor->isVisible();
            editor->close();
            QVERIFY2(!open, "the editor stayed open");
        });
        m_parent.play(&window, {"click:addSiteButton"});
        QCOMPARE(m_portal.requests(m_portal.host()).filter("/tad/tad_suggestsite.asp?").size(), 1);
        QStringList added;
        for (int column = 0; column < SiteSelectionWindow::ColumnCount; ++column)
            added << (column == SiteSelectionWindow::ID ? "id" : list->topLevelItem(list->topLevelItemCount() - 1)->text(column));
        QCOMPARE(added, QStringList({zoo, "4 to 9", "Cats = mice & more", "id", "T_gif.gif", address, "2"}));
        QVERIFY(!sites(m_other).join('|').contains("Zoo"));
        QCOMPARE(m_parent.dialogs.messages.size() + m_other.dialogs.messages.size(), 1); // a confirmation; no failure told
    }
};

QTEST_MAIN(tst_E2eParents)
#include "tst_e2e_parents.moc"
