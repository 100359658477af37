#pragma once

#include <QTest>
#include <QWidget>

// A press and release of `button` at `local` in `control` (its centre by default), delivered to whatever widget
// really lies there in its shown window: a control covered by another one never gets the click.
inline void clickAt(QWidget *control, Qt::MouseButton button = Qt::LeftButton, QPoint local = QPoint(-1, -1))
{
    QWidget *window = control->window();
    const QPoint at = control->mapTo(window, local.x() < 0 ? control->rect().center() : local);
    QWidget *top = window->childAt(at);
    QVERIFY2(top, "nothing lies at the control's place");
    QTest::mouseClick(top, button, {}, top->mapFrom(window, at));
}

// A left click at the centre of the window's control of that name, which must be the widget lying there.
inline void clickControl(QWidget *window, const QString &control)
{
    QVERIFY(QTest::qWaitForWindowExposed(window));
    auto *widget = window->findChild<QWidget *>(control);
    QVERIFY2(widget, qPrintable(control));
    QWidget *top = window->childAt(widget->mapTo(window, widget->rect().center()));
    QVERIFY2(top == widget, qPrintable(control + " lies under " + (top ? top->objectName() : QStringLiteral("nothing"))));
    clickAt(widget);
}
