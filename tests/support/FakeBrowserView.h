#pragma once

#include "browserview/BrowserView.h"

#include <QStringList>

class QWidget;

// A scriptable view for tests: records what the window asked of it and lets a test raise the events a real page would.
class FakeBrowserView : public BrowserView {
    Q_OBJECT
public:
    explicit FakeBrowserView(QWidget *parent);

    QWidget *widget() override { return m_widget; }
    void navigate(const QString &address) override;
    void back() override { moves << QStringLiteral("back"); }
    void forward() override { moves << QStringLiteral("forward"); }
    void reload() override { moves << QStringLiteral("refresh"); }
    QString title() const override { return {}; }
    QUrl currentUrl() const override { return m_url; }
    void setAudioMuted(bool on) override { muted = on; }

    // Raises navigationRequested and, unless cancelled, completes it (as navigate does); returns whether it went through.
    bool simulateNavigation(const QString &address, bool mainFrame = true);
    NewWindowRequest simulateNewWindow();

    QStringList navigated; // every address handed to navigate, in order
    QStringList moves;     // "back", "forward" and "refresh", in order
    bool muted = false;

private:
    QWidget *m_widget;
    QUrl m_url;
};

class FakeBrowserViewFactory : public BrowserViewFactory {
public:
    BrowserView *create(QWidget *parent) override { return created.emplace_back(new FakeBrowserView(parent)); }
    BrowserView *createForParent(QWidget *parent) override { return createdForParent.emplace_back(new FakeBrowserView(parent)); }
    void setFrameRequestFilter(std::function<bool(const QUrl &)> allows) override { frameFilter = std::move(allows); }
    QList<FakeBrowserView *> created;
    QList<FakeBrowserView *> createdForParent; // the parent's own views, which no filter sees
    std::function<bool(const QUrl &)> frameFilter;
};
