#pragma once

#include "browsing/BrowserServices.h"
#include "browsing/Watchdog.h"
#include "parents/ParentsContext.h"
#include "filter/FilterRules.h"
#include "filter/PortalHops.h"
#include "filter/SiteNames.h"
#include "shell/AppConfig.h"
#include "shell/modGlobals.h"

#include <QEventLoop>
#include <QMainWindow>
#include <QPointer>
#include <QTimer>
#include <QUrl>
#include <array>
#include <memory>

class BrowserView;
class ClickableLabel;
class PortalClient;
class QLabel;
class QFrame;
class QProgressBar;
class QToolButton;
class WindowLock;
class frmBrowser2;
struct NavigationRequest;
struct NewWindowRequest;

// The child's full-screen browser: face bar, toolbar, the filtered view and
// the status lines. Its load handler is the program's start-up sequence.
class frmBrowser : public QMainWindow, public MainWindowLink {
    Q_OBJECT
public:
    explicit frmBrowser(const BrowserServices &services, QWidget *parent = nullptr);
    ~frmBrowser() override;

    modGlobals &globals() { return m_globals; }
    const AppConfig &config() const { return m_config; }
    BrowserView *WebBrowser1() const { return m_webBrowser1; }
    QString statbarText() const;
    QString label2Text() const;
    QString tellafriendText() const;
    QString currentUrlText() const;
    QString faceToolTip(int index) const;
    int highlightLeft() const;
    int faceLeft(int index) const;
    bool startupFinished() const { return m_startupFinished; }
    QList<frmBrowser2 *> popups() const;

    // Written by pop-ups: the main window's status line and version label.
    void setStatbar(const QString &text);
    void clearLabel2();

    // The start-up sequence; runs once, from the event loop, after construction.
    void Form_Load();
    void btnFace_Click(qint16 Index);
    void statbar_Click();
    void Command1_Click();
    void Command2_Click();
    void Command4_Click();
    void Command5_Click();
    void Command6_Click();
    void cmdRadio_Click();
    void Image1_Click();
    void Image2_Click();
    void Image3_Click();
    void tellafriend_Click();
    void Timer1_Timer();
    void DisableFaces();
    void EnableFaces();
    void LayoutBrowserView();

    bool timerRunning() const { return m_timer1.isActive(); }
    bool lockedOut() const { return m_timedOut; }
    BrowserView *WebBrowser2() const { return m_webBrowser2; }
    QString radioPage() const;

    // What the parents' windows need of this window.
    void gatePassed() override;
    void setFaceToolTip(int index, const QString &text) override;
    void clearMessageLine() override;
    QString childPageTitle() const override;

    // Routing of a page's new-window request into a filtered pop-up.
    frmBrowser2 *openPopup();

signals:
    void startupComplete();

protected:
    void resizeEvent(QResizeEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void WebBrowser1_BeforeNavigate2(NavigationRequest &request);
    void WebBrowser1_NavigateComplete2(const QUrl &url, bool mainFrame);
    void WebBrowser1_NewWindow2(NewWindowRequest &request);
    void WebBrowser_ProgressChange(qint32 progress, qint32 progressMax);
    void objWind_onerror(const QString &description, const QString &source, qint32 line);

    void buildControls();
    void layoutForScreen();
    void placeControls();
    bool frameRequestAllowed(const QUrl &url);
    void showBlocked(const QString &address);
    // Every way to unblock an address comes here: the parent's password first
    // where one is set, then the question; on Yes the site joins the list, the
    // address loads and the list is saved.
    void unblock(QString address); // a copy: BlockedUrl may change while the question is open
    bool lockedByParent() const;
    ParentsContext parentsContext();
    void startTerminate();
    void closeMainWindow();
    void setTimedOut(bool timedOut);
    void setFacesEnabled(bool enabled);
    BrowserView *radioView();
    bool popupWindowOpen() const;
    // The upper-case site of an address, as the site line shows it and entries are made.
    QString siteOf(const QUrl &url) const;
    void pumpEvents();
    void waitForStartPage();

    BrowserServices m_services;
    modGlobals m_globals;
    AppConfig m_config;
    DynamicHostRule m_dynamicHost;
    QStringList m_specialSites;
    std::unique_ptr<PortalClient> m_portal;
    PortalHops m_portalHops;
    QString m_terminateProgram; // empty when no helper is installed
    bool m_startupFinished = false;
    bool m_laidOut = false;
    // A navigation was blocked after the main frame's last allowed one: that
    // page's completion must not wipe the report (see NavigateComplete2).
    bool m_blockedDuringLoad = false;
    static constexpr int StartPageWaitMs = 3000;
    QEventLoop m_startPageShown;
    bool m_startPageDone = false;

    BrowserView *m_webBrowser1 = nullptr;
    BrowserView *m_webBrowser2 = nullptr;
    QWidget *m_toolbar = nullptr;
    QToolButton *m_command1 = nullptr;
    QToolButton *m_command2 = nullptr;
    QToolButton *m_command4 = nullptr;
    QToolButton *m_command5 = nullptr;
    QToolButton *m_command6 = nullptr;
    QToolButton *m_cmdRadio = nullptr;
    QToolButton *m_image1 = nullptr;
    QToolButton *m_image2 = nullptr;
    QToolButton *m_image3 = nullptr;
    std::array<QToolButton *, 4> m_btnFace{};
    QFrame *m_shape1 = nullptr;
    QProgressBar *m_progressBar1 = nullptr;
    FilterRules::ProgressState m_progress;
    ClickableLabel *m_tellafriend = nullptr;
    ClickableLabel *m_statbar = nullptr;
    QLabel *m_label2 = nullptr;
    QLabel *m_currentUrl = nullptr;
    QTimer m_timer1;
    std::unique_ptr<Watchdog> m_watchdog;
    // The time ran out and the STOP gate was refused: the child's parts stay
    // disabled until a parent passes a gate.
    bool m_timedOut = false;
    // Every way of closing goes through the STOP command; only it lets the close through.
    bool m_stopGranted = false;
    QList<QPointer<frmBrowser2>> m_popups;
    WindowLock *m_lock = nullptr;
    // A parent passed the gate and the parents' area is open.
    bool m_parentsAreaOpen = false;
};
