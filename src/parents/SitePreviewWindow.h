#pragma once

#include <QDialog>
#include <QUrl>

class BrowserView;
class BrowserViewFactory;
class QLabel;
class QPushButton;

// "Preview this Site": the site shown to the parent in a window of our own,
// modal over the parents' window that opened it and closed with it. Its view
// is the parent's (see BrowserViewFactory::createForParent): unfiltered, and
// nothing it shows touches the child's allow list.
class SitePreviewWindow : public QDialog {
    Q_OBJECT
public:
    SitePreviewWindow(BrowserViewFactory &views, const QUrl &address, QWidget *parent);

    BrowserView *view() const { return m_view; }

private:
    BrowserView *m_view = nullptr;
    QLabel *m_address = nullptr;
    QPushButton *m_backButton = nullptr;
    QPushButton *m_forwardButton = nullptr;
    QPushButton *m_closeButton = nullptr;
};
