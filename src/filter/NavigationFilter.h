#pragma once

#include "browserview/NavigationRequest.h"
#include "filter/PortalHops.h"
#include "filter/SiteNames.h"

#include <QString>
#include <QStringList>
#include <functional>

struct ProgramState;

// Decides every navigation of the child's views, the main window's and the
// pop-ups' alike, and keeps what the decisions leave behind in the program's
// state: the allow list it learns into, the last blocked and allowed
// addresses, whether pop-ups are allowed. The windows only show its answers;
// what the main window's status line says comes through `showStatus`.
class NavigationFilter {
public:
    struct Rules {
        DynamicHostRule dynamicHost;
        QStringList specialSites;  // sites whose pages may open pop-ups freely (upper case)
        QString exemptPage;        // one page let through untested (the hidden radio's)
        QString ownPage;           // our help page: only when the window itself asks for it
    };

    NavigationFilter(ProgramState &state, Rules rules, std::function<void(const QString &)> showStatus);

    // Told of every blocked main-frame and pop-up navigation, before the status line shows it.
    void setBlockedRecorder(std::function<void(const QString &address)> record) { m_recordBlocked = std::move(record); }

    // This installation's portal and id, once known: its menu's go links hop freely.
    void setPortal(const QString &portalBase, const QString &userId);

    // The main view's navigation: true to let it through. A blocked one is
    // reported ("Blocked: " and the address) and remembered for unblocking.
    bool allowNavigation(const NavigationRequest &request);
    // The window is about to load our own page: its next navigation, if it is
    // the main frame going exactly there, passes (and the request guard's
    // test of it). Nothing else ever lets that page through, so a site can
    // neither open nor frame it.
    void letOwnPageThrough() { m_ownPageAsked = true; }
    // A page or frame request that reached the engine's request guard.
    bool allowFrameRequest(const QUrl &url);
    // A page or frame of the main view has loaded: learns its site and returns
    // the site line's text.
    QString pageLoaded(const QUrl &url, bool mainFrame);

    bool isOn() const;

    // A pop-up's navigation, while the filter is on: reported in the main
    // window's status line too.
    bool allowPopupNavigation(const QUrl &url);
    QString popupPageLoaded(const QUrl &url);

    // The site an address stands for, as the site line shows it and entries are made.
    QString siteOf(const QUrl &url) const;

private:
    SiteForm siteForm() const;
    void block(const QString &address);

    ProgramState &m_state;
    Rules m_rules;
    std::function<void(const QString &)> m_showStatus;
    std::function<void(const QString &)> m_recordBlocked;
    PortalHops m_portalHops;
    // A navigation was blocked after the main frame's last allowed one: that
    // page's completion must not wipe the report.
    bool m_blockedDuringLoad = false;
    bool isOwnPage(const QUrl &url) const;
    bool m_ownPageAsked = false;   // the window asked; the next navigation may be it
    bool m_ownPageLoading = false; // let through; the request guard's test may follow
};
