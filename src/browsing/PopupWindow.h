#pragma once

#include "browsing/BrowserServices.h"
#include "filter/FilterRules.h"

#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <functional>

class BrowserView;
class QLabel;
class QProgressBar;
class QToolButton;
class NavigationFilter;
struct NavigationRequest;
struct NewWindowRequest;

// A pop-up window for a page's new-window request. It stays hidden until a
// navigation passes the allow test, reports into the main window's status
// line, and closes itself on its first blocked navigation.
class PopupWindow : public QWidget {
    Q_OBJECT
public:
    static inline const QString Caption = QStringLiteral("Tadpole Pop-Up");
    // As the desktop's window search would see it: a window of ours with the
    // pop-up's caption, any case, hidden ones too.
    static bool anyOpen();

    // `popupsAllowed`: made while a special site allowed pop-ups. Such a window
    // still filters every navigation but does not close on a block.
    // `filter` decides its navigations and reports into the main window's
    // status line; `openAnother` makes the pop-up a page of this one asks for,
    // or gives none where none may open (the time is up).
    PopupWindow(NavigationFilter &filter, const BrowserServices &services, bool popupsAllowed, const QRect &geometry,
                std::function<PopupWindow *()> openAnother);

    BrowserView *view() const { return m_view; }
    QString siteLineText() const;

    void goBack();
    void goForward();
    void reload();
    void closePopup();
    void layoutView();

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void showFirstPage();
    void onNavigationRequested(NavigationRequest &request);
    void onDocumentLoaded(const QUrl &url, bool mainFrame);
    void onNewWindowRequested(NewWindowRequest &request);
    void showLoadProgress(qint32 progress, qint32 progressMax);
    void tick();

    NavigationFilter &m_filter;
    std::function<PopupWindow *()> m_openAnother;
    BrowserServices m_services;
    bool m_keepOpenOnBlock;
    bool m_closing = false;
    bool m_shown = false;
    BrowserView *m_view = nullptr;
    QWidget *m_toolbar = nullptr;
    QToolButton *m_backButton = nullptr;
    QToolButton *m_forwardButton = nullptr;
    QToolButton *m_reloadButton = nullptr;
    QToolButton *m_closeButton = nullptr;
    QLabel *m_statusLine = nullptr;
    QLabel *m_siteLine = nullptr;
    QProgressBar *m_progressBar = nullptr;
    FilterRules::ProgressState m_progress;
    QTimer m_tickTimer;
};
