#pragma once

#include "browsing/BrowserServices.h"
#include "filter/FilterRules.h"

#include <QPointer>
#include <QTimer>
#include <QWidget>

class BrowserView;
class QLabel;
class QProgressBar;
class QToolButton;
class frmBrowser;
struct NavigationRequest;
struct NewWindowRequest;

// A pop-up window for a page's new-window request. It stays hidden until a
// navigation passes the allow test, reports into the main window's status
// line, and closes itself on its first blocked navigation.
class frmBrowser2 : public QWidget {
    Q_OBJECT
public:
    static inline const QString Caption = QStringLiteral("Tadpole Pop-Up");

    // `popupsAllowed`: made while a special site allowed pop-ups. Such a window
    // still filters every navigation but does not close on a block.
    frmBrowser2(frmBrowser *mainWindow, const BrowserServices &services, bool popupsAllowed);

    BrowserView *WebBrowser1() const { return m_webBrowser1; }
    QString currentUrlText() const;

    void Command1_Click();
    void Command2_Click();
    void Command4_Click();
    void Command5_Click();
    void LayoutPopupView();

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void Form_Load();
    void WebBrowser1_BeforeNavigate2(NavigationRequest &request);
    void WebBrowser1_NavigateComplete2(const QUrl &url, bool mainFrame);
    void WebBrowser1_NewWindow2(NewWindowRequest &request);
    void WebBrowser1_ProgressChange(qint32 progress, qint32 progressMax);
    void Timer1_Timer();

    QPointer<frmBrowser> m_main;
    BrowserServices m_services;
    bool m_keepOpenOnBlock;
    bool m_closing = false;
    bool m_shown = false;
    BrowserView *m_webBrowser1 = nullptr;
    QWidget *m_toolbar = nullptr;
    QToolButton *m_command1 = nullptr;
    QToolButton *m_command2 = nullptr;
    QToolButton *m_command4 = nullptr;
    QToolButton *m_command5 = nullptr;
    QLabel *m_statbar = nullptr;
    QLabel *m_currentUrl = nullptr;
    QProgressBar *m_progressBar1 = nullptr;
    FilterRules::ProgressState m_progress;
    QTimer m_timer1;
};
