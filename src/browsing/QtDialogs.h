#pragma once

#include "shell/Services.h"

class QWidget;

// Message and input boxes as Qt dialogs: OK only or Yes/No, no icon.
class QtDialogs : public Dialogs {
public:
    void message(const QString &text, const QString &title) override;
    Answer askYesNo(const QString &text, const QString &title, Answer defaultAnswer) override;
    QString input(const QString &prompt, const QString &title, const QString &defaultText) override;
};
