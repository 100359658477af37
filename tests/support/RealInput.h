#pragma once

#include <QTest>
#include <QWidget>

// A left click where a window's control is, delivered to whatever widget
// really lies there: a control covered by another one never gets the click.
inline void clickControl(QWidget *window, const QString &control)
{
    QVERIFY(QTest::qWaitForWindowExposed(window));
    auto *widget = window->findChild<QWidget *>(control);
    QVERIFY2(widget, qPrintable(control));
    const QPoint at = widget->mapTo(window, widget->rect().center());
    QWidget *top = window->childAt(at);
    QVERIFY2(top == widget, qPrintable(control + " lies under " + (top ? top->objectName() : QStringLiteral("nothing"))));
    QTest::mouseClick(top, Qt::LeftButton, {}, top->mapFrom(window, at));
}
