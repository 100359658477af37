#pragma once

#include "parents/ParentsContext.h"

#include <QDialog>

class QLineEdit;
class QPushButton;

// The password gate in front of the parents' area and of leaving the browser
// while STOP is disabled. It is accepted only when the right password is
// given; closed any other way (its close box, Escape) it is a refusal.
class PasswordGate : public QDialog {
    Q_OBJECT
public:
    explicit PasswordGate(const ParentsContext &context, QWidget *parent = nullptr);

    // Shows a gate modally until it closes: true when the right password was given.
    static bool ask(const ParentsContext &context, QWidget *parent = nullptr);

    // The stored password as the hint shows it: first and last character
    // kept, every one between them a "*", all upper-cased.
    static QString maskedHint(const QString &password);
    // Whether the text is the keyword that asks for the hint, in any case.
    static bool isHintKeyword(const QString &text);

protected:
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private slots:
    void clearEntry();
    void submitPassword();

private:
    ParentsContext m_context;
    QLineEdit *m_passwordBox = nullptr;
    QPushButton *m_continueButton = nullptr;
};
