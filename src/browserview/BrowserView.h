#pragma once

#include "browserview/NavigationRequest.h"

#include <QObject>
#include <QString>
#include <QUrl>

#include <functional>

class QWidget;
class BrowserView;

// A page asks for a new window: hand back another view, or cancel.
struct NewWindowRequest {
    BrowserView *newWindow = nullptr;
    bool cancel = false;
};

// What every window that shows pages relies on: navigate, move in history,
// and hear about navigations, new windows, progress and script errors. All
// events arrive on the UI thread, synchronously.
class BrowserView : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    virtual QWidget *widget() = 0;

    virtual void navigate(const QString &address) = 0;
    virtual void back() = 0;
    virtual void forward() = 0;
    virtual void reload() = 0;
    virtual QString title() const = 0;
    virtual QUrl currentUrl() const = 0;
    virtual void setAudioMuted(bool muted) = 0;

signals:
    void navigationRequested(NavigationRequest &request);
    // A page, or a frame's document, has loaded.
    void documentLoaded(const QUrl &url, bool mainFrame);
    void newWindowRequested(NewWindowRequest &request);
    void loadProgress(qint32 progress, qint32 progressMax);
    // The main frame's address changed: a navigation was answered and its
    // page began, or the page changed its own address.
    void urlChanged(const QUrl &url);
    // The main frame's load ended, completed or not.
    void loadFinished(bool ok);
    // The page asked to close the window it was opened in (a script's window.close()).
    void closeRequested();
};

// Windows make their views through this, so tests hand in scriptable fakes.
class BrowserViewFactory {
public:
    virtual ~BrowserViewFactory() = default;
    virtual BrowserView *create(QWidget *parent) = 0;
    // A view for the parent's own look at a site: unfiltered, apart from the
    // child's views and their filter, and keeping a page's new windows in itself.
    virtual BrowserView *createForParent(QWidget *parent) = 0;
    // A second line behind each view's own navigation events: every page and
    // frame request of every view is put to `allows` before it is sent (an
    // empty function lets them all through). Refusing what the first line let
    // through is never needed; this catches what bypasses it.
    virtual void setFrameRequestFilter(std::function<bool(const QUrl &)> allows) { Q_UNUSED(allows) }
};
