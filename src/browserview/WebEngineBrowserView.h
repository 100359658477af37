#pragma once

#include "browserview/EngineView.h"

#include <QWebEnginePage>
#include <QWebEngineView>

class QWebEngineProfile;

// Owns the navigation decisions of one QtWebEngine page by asking its
// BrowserView's handlers; it never opens a dialog itself.
class FilteringPage : public QWebEnginePage {
    Q_OBJECT
public:
    FilteringPage(QWebEngineProfile *profile, BrowserView *owner);

protected:
    bool acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame) override;
    QWebEnginePage *createWindow(WebWindowType type) override;
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString &message, int lineNumber,
                                  const QString &sourceID) override;
    // A page never opens a file dialog in front of the child, and gets no file.
    QStringList chooseFiles(FileSelectionMode mode, const QStringList &oldFiles,
                            const QStringList &acceptedMimeTypes) override;
    // Nor a box of its own: one would stand over the window, over the "time is
    // up" picture too, and hold every button of the program while it is open.
    // A question is answered yes, so that no page can keep the child on it by
    // asking whether to leave; a prompt gets no text.
    void javaScriptAlert(const QUrl &, const QString &) override {}
    bool javaScriptConfirm(const QUrl &, const QString &) override { return true; }
    bool javaScriptPrompt(const QUrl &, const QString &, const QString &, QString *) override { return false; }

private:
    void reportLoadedFrames();

    BrowserView *m_owner;
    QUrl m_lastAllowedMainFrameUrl;
    QUrl m_chainOrigin;
    // Frames have no load signal of their own: a script in an isolated world
    // reports each frame's loaded document on the console, behind a mark the
    // page's own scripts cannot see, so a page cannot report a frame it made up.
    QString m_frameLoadedMark;
};

class WebEngineBrowserView : public EngineView {
    Q_OBJECT
public:
    explicit WebEngineBrowserView(QWidget *parent);

    FilteringPage *page() const { return m_page; }

private:
    void pageLoaded() override;

    FilteringPage *m_page;
};

class WebEngineBrowserViewFactory : public BrowserViewFactory {
public:
    BrowserView *create(QWidget *parent) override { return new WebEngineBrowserView(parent); }
    BrowserView *createForParent(QWidget *parent) override;
    void setFrameRequestFilter(std::function<bool(const QUrl &)> allows) override;
};

// Profile-wide rules for a child's browsing: downloads are cancelled, device
// and full-screen permissions denied, service workers refused, and page and
// frame requests put to the frame request filter. Set once, before the first view.
void prepareChildProfile(QWebEngineProfile *profile);
