#pragma once

#include "parents/ParentsContext.h"
#include "shell/SettingsFile.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QTimeEdit;

// The preferences window: the parents' password, the STOP lock and the time
// limit. Shows what "control.ini" holds, checks the parent's combination,
// writes the file and puts the new values into force at once.
class PreferencesWindow : public QDialog {
    Q_OBJECT
public:
    explicit PreferencesWindow(const ParentsContext &context, QWidget *parent = nullptr);

private slots:
    void saveSettings();

private:
    // Shows what the settings file holds.
    void loadSettingsFile();

    TimeOptions timeOptions() const;
    // The first refusal the parent's choices meet, empty when they may be saved.
    QString refusal() const;

    ParentsContext m_context;
    QLineEdit *m_passwordBox = nullptr;
    QCheckBox *m_disableStopBox = nullptr;
    QComboBox *m_timeLimitBox = nullptr;
    QCheckBox *m_wholeDayBox = nullptr;
    QCheckBox *m_hoursBox = nullptr;
    QTimeEdit *m_hoursFrom = nullptr;
    QTimeEdit *m_hoursTo = nullptr;
    QPushButton *m_saveButton = nullptr;
};
