#pragma once

#include <QString>
#include <functional>

class QUrl;
class QWidget;

class BrowserViewFactory;
class ParentsWindows;
class Clock;
class Dialogs;
class PortalTransport;
struct ProgramState;

// What the parents' windows need of the main window, handed to them so that
// nothing here reaches into the browsing windows.
class MainWindowLink {
public:
    virtual ~MainWindowLink() = default;
    // The gate granted access: the watchdog's timer runs again (and a child
    // locked out by a spent time limit gets the window back).
    virtual void gatePassed() = 0;
    // A rename: the face button's tool tip (`text` already ends in "'s Menu").
    virtual void setFaceToolTip(int index, const QString &text) = 0;
    // The preferences were saved: the message line may hold the countdown.
    virtual void clearMessageLine() = 0;
    // The preferences were saved and their values are in force: the new time
    // limit applies at once, a window locked out by a spent one included.
    virtual void settingsSaved() {}
    // The title of the page in the child's view, empty when it has none (auto-add).
    virtual QString childPageTitle() const = 0;
};

// Everything the parents' windows use, made by the main window from its own
// services; tests build one from scripted parts.
struct ParentsContext {
    ProgramState *state = nullptr;
    Dialogs *dialogs = nullptr;
    PortalTransport *transport = nullptr;
    BrowserViewFactory *views = nullptr; // the site list's small logo view, the preview's view
    Clock *clock = nullptr;              // a saved time limit counts from now
    MainWindowLink *main = nullptr;
    ParentsWindows *windows = nullptr;   // how one parents' window opens another
    // A blocked address's site joins the allow list and is saved, as an unblock does.
    std::function<bool(const QString &address)> allowBlocked = {};
};

// The site selection window's selected row, as the site editor reads it.
struct SelectedSite {
    QString shortName;
    QString ages;
    QString comments;
    QString logo;
    QString url;
};

// The modal parents' windows as the main window and the site selection open
// them: a seam, so that a test of one window scripts what the others answer.
class ParentsWindows {
public:
    virtual ~ParentsWindows() = default;
    // The password gate: true when the right password was given.
    virtual bool showGate(const ParentsContext &context) = 0;
    virtual void showSiteSelection(const ParentsContext &context) = 0;
    virtual void showPreferences(const ParentsContext &context) = 0;
    // The site editor for the site `siteId` (0: a new site), filled from `selectedRow` for an
    // edit. A save sends `siteType`: "1" public, "2" private, empty to keep an edited site's type.
    virtual void showSiteEditor(const ParentsContext &context, qint32 siteId, const QString &siteType,
                                const SelectedSite &selectedRow) = 0;
    // "Preview this Site": the site at `address`, over the window `over` and closed with it.
    virtual void showPreview(const ParentsContext &context, const QUrl &address, QWidget *over) = 0;
};

// The real windows, each shown modally until it closes.
class ModalParentsWindows : public ParentsWindows {
public:
    bool showGate(const ParentsContext &context) override;
    void showSiteSelection(const ParentsContext &context) override;
    void showPreferences(const ParentsContext &context) override;
    void showSiteEditor(const ParentsContext &context, qint32 siteId, const QString &siteType,
                        const SelectedSite &selectedRow) override;
    void showPreview(const ParentsContext &context, const QUrl &address, QWidget *over) override;
};
