#include "browsing/QtDialogs.h"

#include <QApplication>
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

// A Qt box widened, as it is shown, to the width its title needs.
template <typename Box>
class TitleFittingBox : public Box {
public:
    using Box::Box;

protected:
    void showEvent(QShowEvent *event) override
    {
        Box::showEvent(event); // a message box takes its size from its text here, and fixes it
        const int extra = widthForTitle(*this) - this->width();
        if (extra <= 0)
            return;
        if (this->minimumWidth() == this->maximumWidth())
            this->setFixedWidth(this->width() + extra);
        else
            this->resize(this->width() + extra, this->height());
        // Still centred where the narrower box was placed; it is not mapped yet.
        this->move(this->x() - extra / 2, this->y());
    }
};

} // namespace

void QtDialogs::message(const QString &text, const QString &title)
{
    TitleFittingBox<QMessageBox> box(QMessageBox::NoIcon, titleOrDefault(title), text, QMessageBox::Ok,
                                     QApplication::activeWindow());
    box.exec();
}

Dialogs::Answer QtDialogs::askYesNo(const QString &text, const QString &title, Answer defaultAnswer)
{
    TitleFittingBox<QMessageBox> box(QMessageBox::NoIcon, titleOrDefault(title), text, QMessageBox::Yes | QMessageBox::No,
                                     QApplication::activeWindow());
    box.setDefaultButton(defaultAnswer == Answer::Yes ? QMessageBox::Yes : QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes ? Answer::Yes : Answer::No;
}

QString QtDialogs::input(const QString &prompt, const QString &title, const QString &defaultText)
{
    TitleFittingBox<QInputDialog> box(QApplication::activeWindow());
    box.setWindowTitle(titleOrDefault(title));
    box.setLabelText(prompt);
    box.setTextValue(defaultText);
    return box.exec() == QDialog::Accepted ? box.textValue() : QString();
}
