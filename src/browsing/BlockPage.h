#pragma once

#include <QString>
#include <QWidget>
#include <functional>

class QLabel;
class QPushButton;

// Shown over the child's view when a page of it is blocked: a picture that
// says "not this way, ask a grown-up", the blocked host in large letters for
// the grown-up, and a button that asks the same question as the status line.
//
// A widget of ours, not a web page: it has no address, so no site can script,
// frame or navigate to it, and nothing is requested from the blocked host.
// The view behind it still holds the page the child was on, with its history
// untouched: going back only takes the block page away. The button unblocks
// only the address the filter recorded when it showed the page.
class BlockPage : public QWidget {
    Q_OBJECT
public:
    // Placed over `view` (a child of the same parent) and kept there as it moves.
    BlockPage(QWidget *view, std::function<void(const QString &address)> askToUnblock);

    void showFor(const QString &address);
    QString address() const { return m_address; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void showPicture();

    QWidget *m_view;
    QString m_address;
    QLabel *m_picture;
    QLabel *m_host;
    QPushButton *m_askButton;
};
