#pragma once

#include <QApplication>
#include <QStyleOptionViewItem>
#include <QTest>
#include <QTreeWidget>

#include "parents/ParentsContext.h"

// What the main window is told by the parents' windows, recorded.
class RecordingMainLink : public MainWindowLink {
public:
    void gatePassed() override {}
    void setFaceToolTip(int index, const QString &text) override { toolTips << QStringLiteral("%1 %2").arg(index).arg(text); }
    void clearMessageLine() override {}
    QString childPageTitle() const override { return title; }
    QStringList toolTips; // "index text"
    QString title;
};

// Real input at a control's place in its shown window.
namespace input {

// A press and release at `local` (default: the centre), delivered to whatever
// widget really lies there.
inline void clickAt(QWidget *control, Qt::MouseButton button = Qt::LeftButton, QPoint local = QPoint(-1, -1))
{
    QWidget *window = control->window();
    const QPoint at = control->mapTo(window, local.x() < 0 ? control->rect().center() : local);
    QWidget *top = window->childAt(at);
    QVERIFY2(top, "nothing lies at the control's place");
    QTest::mouseClick(top, button, {}, top->mapFrom(window, at));
}

// The centre of a row's check box, where the list's style draws it (viewport coordinates).
inline QPoint checkBoxOf(QTreeWidget *list, QTreeWidgetItem *item)
{
    QStyleOptionViewItem option;
    option.initFrom(list);
    const QRect row = list->visualItemRect(item);
    option.rect = QRect(row.topLeft(), QSize(list->columnWidth(0), row.height()));
    option.features = QStyleOptionViewItem::HasCheckIndicator | QStyleOptionViewItem::HasDisplay;
    option.text = item->text(0);
    option.font = item->font(0);
    option.widget = list;
    return list->style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, list).center();
}

inline void clickCheckBox(QTreeWidget *list, QTreeWidgetItem *item) { clickAt(list->viewport(), Qt::LeftButton, checkBoxOf(list, item)); }
inline void clickRow(QTreeWidget *list, QTreeWidgetItem *item) { clickAt(list->viewport(), Qt::LeftButton, list->visualItemRect(item).center()); }

// Clicks into a field, selects what it holds and types `text` over it.
inline void retype(QWidget *field, const QString &text)
{
    clickAt(field);
    QWidget *focused = QApplication::focusWidget();
    QVERIFY2(focused && (focused == field || field->isAncestorOf(focused)), "the click did not reach the field");
    QTest::keyClick(focused, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(focused, text);
}

} // namespace input
