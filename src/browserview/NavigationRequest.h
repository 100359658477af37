#pragma once

#include <QUrl>

// A navigation about to start, as the engine binding reports it. Handlers set
// `cancel` to stop it; nothing loads then.
struct NavigationRequest {
    QUrl url;
    bool mainFrame = true;
    // A server redirect of a navigation already let through. `redirectedFrom`
    // is the main frame's address last let through (the view reports only the
    // new address of a hop).
    bool redirect = false;
    QUrl redirectedFrom;
    // The main frame's page that was showing when the navigation this one
    // continues began (for a redirect: when its first hop began).
    QUrl origin;
    // A move back or forward in the view's own history.
    bool historyMove = false;
    bool cancel = false;
};
