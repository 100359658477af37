#include "filter/NavigationFilter.h"

#include "filter/FilterAddress.h"
#include "filter/FilterRules.h"
#include "shell/ProgramState.h"

#include <utility>

NavigationFilter::NavigationFilter(ProgramState &state, Rules rules, std::function<void(const QString &)> showStatus)
    : m_state(state), m_rules(std::move(rules)), m_showStatus(std::move(showStatus))
{
}

void NavigationFilter::setPortal(const QString &portalBase, const QString &userId)
{
    m_portalHops = PortalHops(portalBase, userId);
}

SiteForm NavigationFilter::siteForm() const
{
    return m_state.allowScope == FilterAddress::MatchScope::Host ? SiteForm::WholeHost : SiteForm::EveryWwwDropped;
}

QString NavigationFilter::siteOf(const QUrl &url) const
{
    return ExtractDomain(FilterAddress::siteAddress(url), m_rules.dynamicHost, siteForm());
}

void NavigationFilter::block(const QString &address)
{
    m_blockedDuringLoad = true;
    m_state.blockedUrl = address;
    m_showStatus(FilterRules::blockedStatusText(FilterRules::shownAddress(address, m_state.userId)));
}

bool NavigationFilter::allowNavigation(const NavigationRequest &request)
{
    if (!m_state.filterOn)
        return true;
    const QString address = FilterAddress::whole(request.url);
    // Our own page shows where the window asked for it, or where the child
    // moves back or forward to it in the history.
    const bool asked = std::exchange(m_ownPageAsked, false) || request.historyMove;
    const bool ownPage = asked && request.mainFrame && !request.redirect && isOwnPage(request.url);
    m_ownPageLoading = ownPage;
    if (ownPage) {
        m_blockedDuringLoad = false;
        m_state.currentUrl = address;
        m_showStatus(QString());
        return true;
    }
    bool allowed = FilterAddress::isBrowsableScheme(request.url);
    if (allowed && m_portalHops.exempts(request.redirect, request.mainFrame, request.redirectedFrom, request.origin)) {
        // A tile's hop through this installation's go page. Its site is learned
        // at once: nearly every site sends its first visit on again (to https,
        // or to "www."), and that hop is tested like any other.
        m_state.allowList.learn(siteOf(request.url));
    } else {
        allowed = allowed && FilterAddress::allows(m_state.allowList, request.url, m_state.allowScope);
    }
    if (!allowed) {
        if (request.mainFrame && m_recordBlocked)
            m_recordBlocked(address);
        block(address);
        return false;
    }
    if (request.mainFrame)
        m_blockedDuringLoad = false;
    m_state.currentUrl = address;
    m_showStatus(QString());
    return true;
}

bool NavigationFilter::isOwnPage(const QUrl &url) const
{
    return !m_rules.ownPage.isEmpty() && url == QUrl(m_rules.ownPage);
}

bool NavigationFilter::allowFrameRequest(const QUrl &url)
{
    if (std::exchange(m_ownPageLoading, false) && isOwnPage(url))
        return true;
    if (!m_state.filterOn || FilterAddress::allows(m_state.allowList, url, m_state.allowScope)
        || (!m_rules.exemptPage.isEmpty() && url == QUrl(m_rules.exemptPage))) {
        return true;
    }
    // Refused here after the navigation event let it through: reported all the
    // same, or the child would see the engine's error page and nothing to click.
    block(FilterAddress::whole(url));
    return false;
}

QString NavigationFilter::pageLoaded(const QUrl &url, bool mainFrame)
{
    if (isOwnPage(url))
        return QString(); // no site to learn
    const QString site = siteOf(url);
    // The web engine reports a page complete only after its frames have been
    // navigated. A frame blocked on the way must keep its "Blocked:" line, or
    // it could never be unblocked; only a page let through after the block
    // clears it.
    if (FilterRules::isSpecialSite(site, m_rules.specialSites))
        m_state.popupsAllowed = true;
    else if (!(mainFrame && m_blockedDuringLoad))
        m_showStatus(QString());
    m_state.allowList.learn(site);
    return site;
}

bool NavigationFilter::isOn() const
{
    return m_state.filterOn;
}

bool NavigationFilter::allowPopupNavigation(const QUrl &url)
{
    const QString address = FilterAddress::whole(url);
    if (!FilterAddress::allows(m_state.allowList, url, m_state.allowScope)) {
        m_state.blockedUrl = address;
        if (m_recordBlocked)
            m_recordBlocked(address);
        m_showStatus(FilterRules::blockedStatusText(FilterRules::shownAddress(address, m_state.userId)));
        return false;
    }
    m_showStatus(FilterRules::popupAllowedStatusText(FilterRules::shownAddress(address, m_state.userId)));
    return true;
}

QString NavigationFilter::popupPageLoaded(const QUrl &url)
{
    const QString site = ExtractPopupDomain(FilterAddress::siteAddress(url), siteForm());
    m_state.allowList.learn(site);
    return site;
}
