#pragma once

#include "support/RealInput.h"

#include "filter/NavigationFilter.h"
#include "filter/Unblocking.h"
#include "support/TestDoubles.h"
#include "support/TestFiles.h"

#include <QApplication>
#include <QStyleOptionViewItem>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

// What the main window is told by the parents' windows, recorded.
class RecordingMainLink : public MainWindowLink {
public:
    void gatePassed() override { told << QStringLiteral("gate passed"); }
    void setFaceToolTip(int index, const QString &text) override { told << QStringLiteral("menu %1 %2").arg(index).arg(text); }
    void clearMessageLine() override { told << QStringLiteral("message line cleared"); }
    void settingsSaved() override { told << QStringLiteral("settings applied"); }
    QString childPageTitle() const override { return title; }
    QStringList told;
    QString title;
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

// Keys go where the keyboard's would, to the widget with the focus: the sequence, then each character of `text` as
// the text of a key event, as an input method delivers it (QTest::keyClicks carries Latin-1 only).
inline void pressKeys(const QKeySequence &sequence, const QString &text = QString())
{
    QWidget *focused = QApplication::focusWidget();
    QVERIFY2(focused, "nothing has the focus");
    if (!sequence.isEmpty())
        QTest::keySequence(focused, sequence);
    for (const QChar c : text)
        QTest::sendKeyEvent(QTest::Click, focused, Qt::Key_unknown, QString(c), Qt::NoModifier);
}

// The scripted outside of the parents' windows: a program folder of their own and a portal that takes every change.
struct ParentsWorld : ScriptedWorld {
    ParentsWorld()
    {
        state.appFolder = folder.path() + QLatin1Char('/');
        state.portalBase = QStringLiteral("http://portal.test/tad/");
        state.userId = QStringLiteral("42");
        for (const char *page : {"tad_saveitem.asp", "tad_saveface.asp", "tad_postsite.asp", "tad_suggestsite.asp"})
            transport.replies.insert(QLatin1String(page), FetchResult::success("OK"));
    }
    // A blocked site is allowed by the unblock's own code.
    ParentsContext context()
    {
        return {&state, &dialogs, &transport, &views, &clock, &main, &parents, [this](const QString &address) {
                    return Unblocking{.state = state, .filter = filter, .dialogs = dialogs, .parentAllows = {}, .load = {}}.allow(address);
                }};
    }

    // Shows the window, active so that keys reach it, and plays steps on it. The parent: "click:CONTROL" ("right:",
    // "middle:" with those buttons), "type:TEXT", "key:KEYS", "CONTROL=TEXT" (clicks into a field and types over what
    // it holds), "tick:ROW" and "row:ROW" (a click on the row's check box, on the row), "close" (the close box). The
    // outside: "refuse:PAGE" (the portal fails it from then on), "lost:PAGE" (its answers never come), "portal:PAGE=REPLY", "answer:TEXT" (typed into the
    // next box asked), "yes" or "no" (the next question's answer), "file:NAME" (put into the program folder).
    void play(QWidget *window, const QStringList &steps)
    {
        window->show();
        window->activateWindow();
        QTRY_VERIFY(window->isActiveWindow()); // the application moved its focus there too
        const QHash<QString, Qt::MouseButton> buttons{{"click", Qt::LeftButton}, {"right", Qt::RightButton}, {"middle", Qt::MiddleButton}};
        for (const QString &step : steps) {
            const QString kind = step.section(':', 0, 0), what = step.section(':', 1), page = what.section('=', 0, 0);
            QTreeWidget *list = window->findChild<QTreeWidget *>();
            QTreeWidgetItem *row = list ? list->topLevelItem(what.toInt()) : nullptr;
            if (kind == "type")
                pressKeys({}, what);
            else if (kind == "key")
                pressKeys(QKeySequence(what));
            else if (buttons.contains(kind))
                ::clickAt(child(window, what), buttons.value(kind));
            else if (kind == "tick" || kind == "row")
                ::clickAt(list->viewport(), Qt::LeftButton,
                          kind == "tick" ? checkBoxOf(list, row) : list->visualItemRect(row).center());
            else if (step == "close")
                window->close();
            else if (kind == "refuse")
                transport.replies.remove(page);
            else if (kind == "lost")
                transport.replies.insert(page, FetchResult{std::nullopt, "The request timed out", true});
            else if (kind == "portal")
                transport.replies.insert(page, FetchResult::success(what.section('=', 1).toUtf8()));
            else if (kind == "file")
                QVERIFY(writeFile(state.appFolder + what, {}));
            else if (kind == "answer")
                dialogs.inputs << what;
            else if (step == "yes" || step == "no")
                dialogs.answers << (step == "yes" ? Dialogs::Answer::Yes : Dialogs::Answer::No);
            else if (step.contains('=')) { // into the field, all it holds selected and typed over
                ::clickAt(child(window, step.section('=', 0, 0)));
                pressKeys(QKeySequence::SelectAll);
                pressKeys(QKeySequence::Delete, step.section('=', 1));
            } else
                QFAIL(qPrintable("no such step: " + step));
            if (QTest::currentTestFailed())
                return;
        }
    }
    // What reached the outside: the pages asked (after portalBase), the questions (unless left out), the messages as
    // "title: text", the windows opened (the previews too) and what the main window was told.
    QStringList outside(bool questions = true) const
    {
        QStringList seen = QStringList(transport.requests).replaceInStrings(state.portalBase, QString());
        for (qsizetype i = 0; questions && i < dialogs.questions.size(); ++i)
            seen << dialogs.questions.at(i).text;
        for (const ScriptedDialogs::Shown &shown : dialogs.messages)
            seen << shown.title + ": " + shown.text;
        return seen + parents.shown + main.told;
    }

    QTemporaryDir folder;
    ProgramState state;
    NavigationFilter filter{state, {}, [](const QString &) {}};
    RecordingMainLink main;
};
