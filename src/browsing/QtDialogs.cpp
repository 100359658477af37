#include "browsing/QtDialogs.h"

#include <QApplication>
#include <QInputDialog>
#include <QMessageBox>

static QString titleOrDefault(const QString &title)
{
    return title.isEmpty() ? Dialogs::ApplicationTitle : title;
}

void QtDialogs::message(const QString &text, const QString &title)
{
    QMessageBox box(QMessageBox::NoIcon, titleOrDefault(title), text, QMessageBox::Ok, QApplication::activeWindow());
    box.setTextFormat(Qt::PlainText); // addresses, names and portal errors are shown as they are
    box.exec();
}

Dialogs::Answer QtDialogs::askYesNo(const QString &text, const QString &title, Answer defaultAnswer)
{
    QMessageBox box(QMessageBox::NoIcon, titleOrDefault(title), text, QMessageBox::Yes | QMessageBox::No,
                    QApplication::activeWindow());
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(defaultAnswer == Answer::Yes ? QMessageBox::Yes : QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes ? Answer::Yes : Answer::No;
}

QString QtDialogs::input(const QString &prompt, const QString &title, const QString &defaultText)
{
    bool ok = false;
    const QString answer = QInputDialog::getText(QApplication::activeWindow(), titleOrDefault(title), prompt,
                                                 QLineEdit::Normal, defaultText, &ok);
    return ok ? answer : QString();
}
