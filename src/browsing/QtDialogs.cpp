#include "browsing/QtDialogs.h"

#include "parents/WindowOwner.h"

#include <QApplication>
#include <QGridLayout>
#include <QInputDialog>
#include <QMessageBox>
#include <QScreen>
#include <QStyle>

namespace {

QString titleOrDefault(const QString &title)
{
    return title.isEmpty() ? Dialogs::ApplicationTitle : title;
}

// The width a box needs for the window manager to show its title whole. A
// title bar draws the title beside the window's icon and its buttons, mostly
// in a bold face a little larger than the text's, and cuts it short ("T…")
// where the box is narrower; a box sized to a short text ("Time Ran Out") is.
int widthForTitle(const QWidget &box)
{
    QFont font = QApplication::font();
    font.setBold(true);
    if (font.pointSizeF() > 0)
        font.setPointSizeF(font.pointSizeF() * 1.2);
    else
        font.setPixelSize(font.pixelSize() * 6 / 5);
    const int button = qMax(box.style()->pixelMetric(QStyle::PM_TitleBarHeight), 32);
    const int needed = QFontMetrics(font).horizontalAdvance(box.windowTitle()) + 4 * button; // an icon and three buttons
    const QScreen *screen = box.screen();
    return screen ? qMin(needed, screen->availableGeometry().width()) : needed;
}

// A Qt box that asks its layout for the width its title needs, as a
// zero-high item across its first row: a message box fixes its size to its
// layout's on showing and at every layout request, so a size set from
// outside would not last.
template <typename Box>
class TitleFittingBox : public Box {
public:
    using Box::Box;

protected:
    void showEvent(QShowEvent *event) override
    {
        QLayout *layout = this->layout();
        if (layout && !m_titleRoom) {
            const QMargins margins = layout->contentsMargins() + this->contentsMargins();
            m_titleRoom = new QSpacerItem(widthForTitle(*this) - margins.left() - margins.right(), 0, QSizePolicy::Fixed,
                                          QSizePolicy::Fixed);
            if (auto *grid = qobject_cast<QGridLayout *>(layout))
                grid->addItem(m_titleRoom, 0, 0, 1, grid->columnCount());
            else
                layout->addItem(m_titleRoom); // an empty item: no spacing beside it
            layout->activate(); // the box grows now, before it is mapped, not at the next layout request
        }
        Box::showEvent(event);
    }

private:
    QSpacerItem *m_titleRoom = nullptr; // owned by the layout
};

} // namespace

void QtDialogs::message(const QString &text, const QString &title)
{
    TitleFittingBox<QMessageBox> box(QMessageBox::NoIcon, titleOrDefault(title), text, QMessageBox::Ok,
                                     windowOwner());
    box.setTextFormat(Qt::PlainText); // addresses, names and portal errors are shown as they are
    box.exec();
}

Dialogs::Answer QtDialogs::askYesNo(const QString &text, const QString &title, Answer defaultAnswer)
{
    TitleFittingBox<QMessageBox> box(QMessageBox::NoIcon, titleOrDefault(title), text, QMessageBox::Yes | QMessageBox::No,
                                     windowOwner());
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(defaultAnswer == Answer::Yes ? QMessageBox::Yes : QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes ? Answer::Yes : Answer::No;
}

QString QtDialogs::input(const QString &prompt, const QString &title, const QString &defaultText)
{
    TitleFittingBox<QInputDialog> box(windowOwner());
    box.setWindowTitle(titleOrDefault(title));
    box.setLabelText(prompt);
    box.setTextValue(defaultText);
    return box.exec() == QDialog::Accepted ? box.textValue() : QString();
}
