#pragma once

#include "browsing/BrowserServices.h"
#include "browsing/Watchdog.h"
#include "parents/ParentsContext.h"
#include "filter/BlockedJournal.h"
#include "filter/FilterRules.h"
#include "filter/NavigationFilter.h"
#include "shell/AppConfig.h"
#include "shell/Startup.h"
#include "shell/ProgramState.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QMainWindow>
#include <QPointer>
#include <QTimer>
#include <QUrl>
#include <array>
#include <memory>
#include <optional>

class BlockPage;
class BrowserView;
class ClickableLabel;
class PortalClient;
class QLabel;
class QFrame;
class QProgressBar;
class QToolButton;
class WindowLock;
class PopupWindow;
class TimePictures;
struct NavigationRequest;
struct NewWindowRequest;

// The child's full-screen browser: face bar, toolbar, the filtered view and
// the status lines. Its load handler is the program's start-up sequence.
class MainWindow : public QMainWindow, public MainWindowLink, private StartupWindow {
    Q_OBJECT
public:
    explicit MainWindow(const BrowserServices &services, QWidget *parent = nullptr);
    ~MainWindow() override;

    ProgramState &state() { return m_state; }
    BrowserView *view() const { return m_view; }
    QString statusLineText() const;
    QString versionLineText() const;
    QString messageLineText() const;
    QString siteLineText() const;
    QString faceToolTip(int index) const;
    int highlightLeft() const;
    int faceLeft(int index) const;
    bool startupFinished() const { return m_startupFinished; }
    QList<PopupWindow *> popups() const;
    bool blockPageShown() const;

    // Another start of the program for the same folder asked for this window.
    void comeForward();

    // Written by pop-ups: the main window's status line and version label.
    void setStatusLine(const QString &text);

    // The start-up sequence; runs once, from the event loop, after construction.
    void runStartup();
    void selectChild(qint16 Index);
    void onStatusLineClicked();
    void goBack();
    void goForward();
    void reload();
    void openParentsArea();
    void onStopClicked();
    void toggleRadio();
    void openHelp();
    void openMail();
    void openDonation();
    void onMessageLineClicked();
    void tick();
    void disableFaces();
    void enableFaces();
    void layoutBrowserView();

    bool timerRunning() const { return m_tickTimer.isActive(); }
    bool lockedOut() const { return m_timedOut; }
    BrowserView *radioView() const { return m_radioView; }
    QString radioPage() const;

    // What the parents' windows need of this window.
    void gatePassed() override;
    void settingsSaved() override;
    void setFaceToolTip(int index, const QString &text) override;
    void clearMessageLine() override;
    QString childPageTitle() const override;

    // Routing of a page's new-window request into a filtered pop-up; none while the time is up.
    PopupWindow *openPopup();

protected:
    void resizeEvent(QResizeEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void closePopups();
    void onNavigationRequested(NavigationRequest &request);
    void onDocumentLoaded(const QUrl &url, bool mainFrame);
    void onNewWindowRequested(NewWindowRequest &request);
    void showLoadProgress(qint32 progress, qint32 progressMax);

    void buildControls();
    void layoutForScreen();
    void placeControls();
    // What start-up asks of the window.
    void useConfig(const AppConfig &config, const QString &terminateProgram) override;
    void cannotStart(const QString &message) override;
    void showMessage(const QString &text) override;
    void showStartPage(const QString &address) override;
    void showWindow(const QString &versionLine, const QString &title) override;
    void waitForStartPageAnswer() override;
    void waitForStartPage() override;
    void showChildren(const QStringList &names) override;
    void startWatchdog() override;
    void openMenu(int child) override;
    // Every way to unblock an address comes here: the parent's password first
    // where one is set, then the question; on Yes the site joins the list, the
    // address loads and the list is saved.
    void unblock(QString address); // a copy: blockedUrl may change while the question is open
    void recordBlocked(const QString &address);
    bool allowBlocked(const QString &address);
    bool lockedByParent() const;
    // Until a grown-up first opens the parents' area, the message line points at its button.
    QString parentsHint() const;
    void rememberParentsAreaOpened();
    ParentsContext parentsContext();
    void startTerminate();
    void closeMainWindow();
    void setTimedOut(bool timedOut);
    // The time-out's pictures and the grown-up's choices on them (MainWindowTime.cpp).
    void buildTimePictures();
    void timeRanOut();
    void grantMinutes(int minutes);
    void endForToday();
    void setFacesEnabled(bool enabled);
    BrowserView *ensureRadioView();
    void pumpEvents();

    BrowserServices m_services;
    ProgramState m_state;
    AppConfig m_config;
    std::unique_ptr<NavigationFilter> m_filter;
    std::unique_ptr<Startup> m_startup;
    QString m_terminateProgram; // empty when no helper is installed
    bool m_startupFinished = false;
    bool m_laidOut = false;
    // How far the start page has come; start-up waits for a stage, within one
    // bound from the moment it was asked for.
    enum class StartPage { NotAsked, Asked, Answered, Loaded };
    static constexpr int StartPageWaitMs = 3000;
    StartPage m_startPage = StartPage::NotAsked;
    QDeadlineTimer m_startPageDeadline;
    QEventLoop m_startPageWait;
    void startPageReached(StartPage stage);
    void waitForStartPageTo(StartPage stage);

    BrowserView *m_view = nullptr;
    BrowserView *m_radioView = nullptr;
    QWidget *m_toolbar = nullptr;
    QToolButton *m_backButton = nullptr;
    QToolButton *m_forwardButton = nullptr;
    QToolButton *m_reloadButton = nullptr;
    QToolButton *m_parentsButton = nullptr;
    QToolButton *m_stopButton = nullptr;
    QToolButton *m_radioButton = nullptr;
    QToolButton *m_helpButton = nullptr;
    QToolButton *m_mailButton = nullptr;
    QToolButton *m_donateButton = nullptr;
    std::array<QToolButton *, 4> m_faceButtons{};
    QFrame *m_faceHighlight = nullptr;
    QProgressBar *m_progressBar = nullptr;
    FilterRules::ProgressState m_progress;
    ClickableLabel *m_messageLine = nullptr;
    ClickableLabel *m_statusLine = nullptr;
    QLabel *m_versionLine = nullptr;
    QLabel *m_siteLine = nullptr;
    QTimer m_tickTimer;
    std::unique_ptr<Watchdog> m_watchdog;
    TimePictures *m_timePictures = nullptr;
    // The time ran out: the "time is up" picture covers the child's parts
    // until a parent gives more minutes or saves a limit that is not spent.
    bool m_timedOut = false;
    // Every way of closing goes through the STOP command; only it lets the close through.
    bool m_stopGranted = false;
    QList<QPointer<PopupWindow>> m_popups;
    WindowLock *m_lock = nullptr;
    BlockPage *m_blockPage = nullptr;
    std::optional<BlockedJournal> m_journal; // opened at the first block, in the program folder
    // A parent passed the gate and the parents' area is open.
    bool m_parentsAreaOpen = false;
};
