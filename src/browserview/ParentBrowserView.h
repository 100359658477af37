#pragma once

#include "browserview/EngineView.h"

// A view for the parent's own look at a site ("Preview this Site"). Its pages
// run on a profile of their own: the child's request filter and restrictions
// never reach it, and it raises no navigation events, so nothing it shows is
// put to the allow test or learned. A page's request for a new window loads in
// this same view, and an address of a scheme that only a program outside ours
// could show is refused: nothing escapes it.
class ParentBrowserView : public EngineView {
    Q_OBJECT
public:
    explicit ParentBrowserView(QWidget *parent);
};
