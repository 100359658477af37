#include "parents/PreferencesWindow.h"

#include "parents/PasswordGate.h"
#include "shell/Services.h"
#include "shell/SettingsFile.h"
#include "shell/ProgramState.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimeEdit>
#include <QVBoxLayout>

static const QString NoLimit = QStringLiteral("No Limit");

static QLabel *wrappedLabel(const QString &objectName, const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setObjectName(objectName);
    label->setWordWrap(true);
    return label;
}

PreferencesWindow::PreferencesWindow(const ParentsContext &context, QWidget *parent)
    : QDialog(parent), m_context(context)
{
    setWindowTitle(QStringLiteral("Tadpole Preferences"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    auto *passwordPrompt = wrappedLabel(QStringLiteral("passwordPrompt"),
                                        QStringLiteral("Enter a Password if you want to lock access to the Parents Screen:"), this);
    m_passwordBox = new QLineEdit(this);
    m_passwordBox->setObjectName(QStringLiteral("passwordBox"));
    auto *stopQuestion = wrappedLabel(
        QStringLiteral("stopQuestion"),
        QStringLiteral("Would you like to disable the STOP button so your child cannot return to your computer's desktop?"),
        this);
    m_disableStopBox = new QCheckBox(QStringLiteral("Disable STOP button"), this);
    m_disableStopBox->setObjectName(QStringLiteral("disableStopBox"));
    auto *stopNote = wrappedLabel(QStringLiteral("stopNote"),
                                  QStringLiteral("When STOP is disabled you need your password to Exit Tadpole"), this);
    auto *timeLimitQuestion = wrappedLabel(QStringLiteral("timeLimitQuestion"),
                                           QStringLiteral("Would you like to set a time limit on your child's internet usage?"), this);
    auto *timeLimitLabel = new QLabel(QStringLiteral("Set a Time Limit Of:"), this);
    timeLimitLabel->setObjectName(QStringLiteral("timeLimitLabel"));
    m_timeLimitBox = new QComboBox(this);
    m_timeLimitBox->setObjectName(QStringLiteral("timeLimitBox"));
    m_timeLimitBox->setEditable(true);
    // No completion that would turn "2 hours" into "2 Hours" unseen, no typed
    // text added to the list: a text that is none of the list's is refused.
    m_timeLimitBox->setCompleter(nullptr);
    m_timeLimitBox->setInsertPolicy(QComboBox::NoInsert);
    m_timeLimitBox->setMaxVisibleItems(SettingsFile::timeLimitCaptions().size());
    m_wholeDayBox = new QCheckBox(QStringLiteral("Count the limit over the whole day"), this);
    m_wholeDayBox->setObjectName(QStringLiteral("wholeDayBox"));
    m_wholeDayBox->setToolTip(QStringLiteral("The minutes used today count even after the computer is restarted"));
    m_hoursBox = new QCheckBox(QStringLiteral("Allowed hours, from"), this);
    m_hoursBox->setObjectName(QStringLiteral("hoursBox"));
    m_hoursFrom = new QTimeEdit(QTime(7, 0), this);
    m_hoursFrom->setObjectName(QStringLiteral("hoursFrom"));
    m_hoursTo = new QTimeEdit(QTime(19, 30), this);
    m_hoursTo->setObjectName(QStringLiteral("hoursTo"));
    for (QTimeEdit *edit : {m_hoursFrom, m_hoursTo}) {
        edit->setDisplayFormat(QStringLiteral("HH:mm"));
        edit->setEnabled(false);
        connect(m_hoursBox, &QCheckBox::toggled, edit, &QWidget::setEnabled);
    }
    m_saveButton = new QPushButton(QStringLiteral("&Save Changes"), this);
    m_saveButton->setObjectName(QStringLiteral("saveButton"));
    // Saving is a click (or Alt+S), never an Enter meant for a text box.
    m_saveButton->setAutoDefault(false);

    auto *limitRow = new QHBoxLayout;
    limitRow->addWidget(timeLimitLabel);
    limitRow->addWidget(m_timeLimitBox, 1);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(passwordPrompt);
    layout->addWidget(m_passwordBox);
    layout->addSpacing(8);
    layout->addWidget(stopQuestion);
    // At its own size, so a click on the box's row beside its text is not a tick.
    layout->addWidget(m_disableStopBox, 0, Qt::AlignLeft);
    layout->addWidget(stopNote);
    layout->addSpacing(8);
    layout->addWidget(timeLimitQuestion);
    layout->addLayout(limitRow);
    layout->addWidget(m_wholeDayBox, 0, Qt::AlignLeft);
    auto *hoursRow = new QHBoxLayout;
    hoursRow->addWidget(m_hoursBox);
    hoursRow->addWidget(m_hoursFrom);
    hoursRow->addWidget(new QLabel(QStringLiteral("to"), this));
    hoursRow->addWidget(m_hoursTo);
    hoursRow->addStretch(1);
    layout->addLayout(hoursRow);
    layout->addSpacing(8);
    layout->addWidget(m_saveButton, 0, Qt::AlignRight);
    setFixedWidth(460);
    setTabOrder(m_passwordBox, m_disableStopBox);
    setTabOrder(m_disableStopBox, m_timeLimitBox);
    setTabOrder(m_timeLimitBox, m_wholeDayBox);
    setTabOrder(m_wholeDayBox, m_hoursBox);
    setTabOrder(m_hoursBox, m_hoursFrom);
    setTabOrder(m_hoursFrom, m_hoursTo);
    setTabOrder(m_hoursTo, m_saveButton);

    connect(m_saveButton, &QPushButton::clicked, this, &PreferencesWindow::saveSettings);
    loadSettingsFile();
}

void PreferencesWindow::loadSettingsFile()
{
    m_timeLimitBox->clear();
    m_timeLimitBox->addItems(SettingsFile::timeLimitCaptions());
    m_timeLimitBox->setCurrentIndex(-1);
    m_timeLimitBox->setEditText(QString());

    // The window shows the file, not the values in force; a line it cannot
    // use leaves the control as the lines before it set it.
    for (const SettingsFile::Entry &entry : SettingsFile::readEntries(m_context.state->appFolder)) {
        if (entry.key == QLatin1String("PW")) {
            m_passwordBox->setText(entry.value == QLatin1String(".") ? QString() : entry.value);
        } else if (entry.key == QLatin1String("STOP")) {
            if (const std::optional<bool> lock = SettingsFile::stopLock(entry.value))
                m_disableStopBox->setChecked(*lock);
        } else if (entry.key == QLatin1String("TIMER")) {
            // The default file's "0" means no limit (it is no caption); shown as
            // it is, it was refused as a timer without a password at the next save.
            m_timeLimitBox->setEditText(entry.value == QLatin1String("0") ? NoLimit : entry.value);
        } else if (entry.key == QLatin1String("DAILY")) {
            m_wholeDayBox->setChecked(entry.value.trimmed() == QLatin1String("1"));
        } else if (entry.key == QLatin1String("HOURS")) {
            const AllowedHours hours = SettingsFile::parseHours(entry.value);
            m_hoursBox->setChecked(hours.isSet());
            if (hours.isSet()) {
                m_hoursFrom->setTime(hours.from);
                m_hoursTo->setTime(hours.to);
            }
        }
    }

    m_passwordBox->setFocus(Qt::OtherFocusReason);
    m_passwordBox->end(false);
}

QString PreferencesWindow::refusal() const
{
    const QString password = m_passwordBox->text();
    const bool stop = m_disableStopBox->isChecked();
    const QString timeLimit = m_timeLimitBox->currentText();
    // Allowed hours end the child's time as a limit does, and need what it needs.
    const bool limited = timeLimit != NoLimit || timeOptions().hours.isSet();

    // Any other text would be saved and then mean no limit at all, behind a
    // password and a STOP lock that tell the parent a limit is set.
    if (!SettingsFile::timeLimitCaptions().contains(timeLimit))
        return QStringLiteral("Choose a time limit from the list.");
    if (password.contains(QLatin1Char('=')))
        return QStringLiteral("You cannot use the '=' sign in your password");
    // The file writes "." for no password, so a "." would read back as none
    // and silently open the parents' area and the STOP button. It is checked
    // here, beside "=", as the other password the file cannot hold: a fault of
    // the text itself, told before the checks that ask whether there is a
    // password at all (which a "." would pass, being not empty).
    if (password == QLatin1String("."))
        return QStringLiteral("You cannot use '.' as your password");
    // The gate answers the hint's keyword with the hint, whatever the password.
    if (PasswordGate::isHintKeyword(password))
        return QStringLiteral("You cannot use 'c_l_u_e' as your password");
    if (stop && password.isEmpty())
        return QStringLiteral("You need to enter a password to disable the STOP button.");
    if (password.isEmpty() && limited)
        return QStringLiteral("You need to enter a password to set a timer.");
    if (limited && !stop)
        return QStringLiteral("You need to disable the STOP button to set a timer.");
    // Such hours would be saved as none at all.
    if (m_hoursBox->isChecked() && !timeOptions().hours.isSet())
        return QStringLiteral("The allowed hours must end at another time than they start.");
    return {};
}

TimeOptions PreferencesWindow::timeOptions() const
{
    TimeOptions options;
    options.wholeDay = m_wholeDayBox->isChecked();
    if (m_hoursBox->isChecked())
        options.hours = AllowedHours{m_hoursFrom->time(), m_hoursTo->time()};
    return options;
}

void PreferencesWindow::saveSettings()
{
    if (m_timeLimitBox->currentText().isEmpty())
        m_timeLimitBox->setEditText(NoLimit);

    const QString refused = refusal();
    if (!refused.isEmpty()) {
        m_context.dialogs->message(refused, Dialogs::ApplicationTitle);
        return;
    }

    const QString password = m_passwordBox->text();
    const bool stop = m_disableStopBox->isChecked();
    const QString timeLimit = m_timeLimitBox->currentText();
    ProgramState &globals = *m_context.state;

    // The file is replaced whole or not at all; when it cannot be written the
    // values in force stay with it, so what runs is what the next start reads.
    QString error;
    const TimeOptions options = timeOptions();
    if (!SettingsFile::write(globals.appFolder, password, stop, timeLimit, options, &error)) {
        m_context.dialogs->message(
            QStringLiteral("Your changes could not be saved, so nothing has changed.\r\n") + error,
            QStringLiteral("Tadpole"));
        return;
    }

    globals.settings.Password = password;
    globals.settings.StopDisabled = stop ? QStringLiteral("1") : QStringLiteral("0");
    if (m_context.main)
        m_context.main->clearMessageLine();
    globals.settings.TimeLimit = timeLimit;
    globals.settings.LimitEnd = SettingsFile::TimeLimitEnd(timeLimit, m_context.clock->now());
    globals.settings.time = options;
    if (m_context.main)
        m_context.main->settingsSaved();
    accept();
}
