#pragma once

#include "parents/ParentsContext.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

// The preferences window: the parents' password, the STOP lock and the time
// limit. Shows what "control.ini" holds, checks the parent's combination,
// writes the file and puts the new values into force at once.
class PreferencesWindow : public QDialog {
    Q_OBJECT
public:
    explicit PreferencesWindow(const ParentsContext &context, QWidget *parent = nullptr);

    void Form_Load();
    void Command1_Click();

private:
    // The first refusal the parent's choices meet, empty when they may be saved.
    QString refusal() const;

    ParentsContext m_context;
    QLabel *Label1;
    QLineEdit *txtPass;
    QLabel *Label2;
    QCheckBox *chkStop;
    QLabel *Label3;
    QLabel *Label4;
    QLabel *Label5;
    QComboBox *cmbTimeLimit;
    QPushButton *Command1;
};
