#pragma once

#include "parents/ParentsContext.h"
#include "support/TestDoubles.h"

#include <QApplication>
#include <QStyleOptionViewItem>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <functional>
#include <memory>

// A data column's value where an expression needs it.
#define DATA(Type, name) (*static_cast<Type *>(QTest::qData(#name, ::qMetaTypeId<Type>())))

// What the main window is told by the parents' windows, recorded.
class RecordingMainLink : public MainWindowLink {
public:
    void gatePassed() override { ++gatesPassed; }
    void setFaceToolTip(int index, const QString &text) override { toolTips << QStringLiteral("%1 %2").arg(index).arg(text); }
    void clearMessageLine() override { ++messageLinesCleared; }
    QString childPageTitle() const override { return title; }
    QStringList toolTips; // "index text"
    QString title;
    int gatesPassed = 0, messageLinesCleared = 0;
};

// The scripted outside of one parents' window, with a program folder of its own.
struct ParentsWorld {
    ParentsWorld() { state.appFolder = folder.path() + QLatin1Char('/'); }
    ParentsContext context() { return {&state, &dialogs, &transport, &views, &opener, &clock, &main, &windows}; }
    // The window shown and active, so that keys reach it.
    template <typename W, typename... A>
    std::unique_ptr<W> show(A &&...args)
    {
        auto window = std::make_unique<W>(context(), std::forward<A>(args)...);
        window->show();
        window->activateWindow();
        if (!QTest::qWaitForWindowActive(window.get()))
            qWarning("the window did not become active");
        return window;
    }
    QStringList messages() const // each as "title: text"
    {
        QStringList texts;
        for (const ScriptedDialogs::Shown &shown : dialogs.messages)
            texts << shown.title + QStringLiteral(": ") + shown.text;
        return texts;
    }
    QTemporaryDir folder;
    ProgramState state;
    ScriptedDialogs dialogs;
    ScriptedTransport transport;
    FakeBrowserViewFactory views;
    RecordingUrlOpener opener;
    FixedClock clock;
    RecordingMainLink main;
    ScriptedParentsWindows windows;
};

// The window's control of that name; the test program ends when there is none.
template <typename T = QWidget>
T *child(QWidget *window, const QString &name)
{
    T *found = window->findChild<T *>(name);
    if (!found)
        qFatal("no control %s", qPrintable(name));
    return found;
}

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

// Keys go where the keyboard's would: to the widget with the focus.
inline void keys(const QKeySequence &sequence)
{
    QVERIFY2(QApplication::focusWidget(), "nothing has the focus");
    QTest::keySequence(QApplication::focusWidget(), sequence);
}

// Each character arrives as the text of a key event, as an input method delivers
// it (QTest::keyClicks carries Latin-1 only).
inline void type(const QString &text)
{
    QVERIFY2(QApplication::focusWidget(), "nothing has the focus");
    for (const QChar c : text)
        QTest::sendKeyEvent(QTest::Click, QApplication::focusWidget(), Qt::Key_unknown, QString(c), Qt::NoModifier);
}

// Clicks into a field, selects what it holds and types `text` over it (an empty text deletes it).
inline void retype(QWidget *field, const QString &text)
{
    clickAt(field);
    QWidget *focused = QApplication::focusWidget();
    QVERIFY2(focused && (focused == field || field->isAncestorOf(focused)), "the click did not reach the field");
    keys(QKeySequence::SelectAll);
    text.isEmpty() ? keys(Qt::Key_Backspace) : type(text);
}

// Plays steps on a shown window: "click:CONTROL" ("right:" and "middle:" with those buttons), "type:TEXT",
// "key:KEYS" or "CONTROL=TEXT" (types over a field); any other step is handed to `other`.
inline void play(QWidget *window, const QStringList &steps, const std::function<void(const QString &)> &other = {})
{
    const QHash<QString, Qt::MouseButton> buttons{{"click", Qt::LeftButton}, {"right", Qt::RightButton}, {"middle", Qt::MiddleButton}};
    for (const QString &step : steps) {
        const QString kind = step.section(QLatin1Char(':'), 0, 0), what = step.section(QLatin1Char(':'), 1);
        if (kind == QLatin1String("type"))
            type(what);
        else if (kind == QLatin1String("key"))
            keys(QKeySequence(what));
        else if (buttons.contains(kind))
            clickAt(child(window, what), buttons.value(kind));
        else if (step.contains(QLatin1Char('=')))
            retype(child(window, step.section(QLatin1Char('='), 0, 0)), step.section(QLatin1Char('='), 1));
        else if (other)
            other(step);
        else
            QFAIL(qPrintable(QStringLiteral("no such step: ") + step));
        if (QTest::currentTestFailed())
            return;
    }
}

} // namespace input
