#include "parents/PreferencesWindow.h"

#include "shell/Services.h"
#include "shell/SettingsFile.h"
#include "shell/ProgramState.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
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

    Label1 = wrappedLabel(QStringLiteral("Label1"),
                          QStringLiteral("Enter a Password if you want to lock access to the Parents Screen:"), this);
    txtPass = new QLineEdit(this);
    txtPass->setObjectName(QStringLiteral("txtPass"));
    Label2 = wrappedLabel(
        QStringLiteral("Label2"),
        QStringLiteral("Would you like to disable the STOP button so your child cannot return to your computer's desktop?"),
        this);
    chkStop = new QCheckBox(QStringLiteral("Disable STOP button"), this);
    chkStop->setObjectName(QStringLiteral("chkStop"));
    Label3 = wrappedLabel(QStringLiteral("Label3"),
                          QStringLiteral("When STOP is disabled you need your password to Exit Tadpole"), this);
    Label4 = wrappedLabel(QStringLiteral("Label4"),
                          QStringLiteral("Would you like to set a time limiton your child's internet usage?"), this);
    Label5 = new QLabel(QStringLiteral("Set a Time Limit Of:"), this);
    Label5->setObjectName(QStringLiteral("Label5"));
    cmbTimeLimit = new QComboBox(this);
    cmbTimeLimit->setObjectName(QStringLiteral("cmbTimeLimit"));
    cmbTimeLimit->setEditable(true);
    // What the parent types is saved as typed: no completion that would turn
    // "2 hours" into "2 Hours", no typed text added to the list.
    cmbTimeLimit->setCompleter(nullptr);
    cmbTimeLimit->setInsertPolicy(QComboBox::NoInsert);
    cmbTimeLimit->setMaxVisibleItems(SettingsFile::timeLimitCaptions().size());
    Command1 = new QPushButton(QStringLiteral("&Save Changes"), this);
    Command1->setObjectName(QStringLiteral("Command1"));
    // Saving is a click (or Alt+S), never an Enter meant for a text box.
    Command1->setAutoDefault(false);

    auto *limitRow = new QHBoxLayout;
    limitRow->addWidget(Label5);
    limitRow->addWidget(cmbTimeLimit, 1);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(Label1);
    layout->addWidget(txtPass);
    layout->addSpacing(8);
    layout->addWidget(Label2);
    // At its own size, so a click on the box's row beside its text is not a tick.
    layout->addWidget(chkStop, 0, Qt::AlignLeft);
    layout->addWidget(Label3);
    layout->addSpacing(8);
    layout->addWidget(Label4);
    layout->addLayout(limitRow);
    layout->addSpacing(8);
    layout->addWidget(Command1, 0, Qt::AlignRight);
    setFixedWidth(460);
    setTabOrder(txtPass, chkStop);
    setTabOrder(chkStop, cmbTimeLimit);
    setTabOrder(cmbTimeLimit, Command1);

    connect(Command1, &QPushButton::clicked, this, &PreferencesWindow::Command1_Click);
    Form_Load();
}

void PreferencesWindow::Form_Load()
{
    cmbTimeLimit->clear();
    cmbTimeLimit->addItems(SettingsFile::timeLimitCaptions());
    cmbTimeLimit->setCurrentIndex(-1);
    cmbTimeLimit->setEditText(QString());

    // The window shows the file, not the values in force; a line it cannot
    // use leaves the control as the lines before it set it.
    for (const SettingsFile::Entry &entry : SettingsFile::readEntries(m_context.state->appFolder)) {
        if (entry.key == QLatin1String("PW")) {
            txtPass->setText(entry.value == QLatin1String(".") ? QString() : entry.value);
        } else if (entry.key == QLatin1String("STOP")) {
            bool isNumber = false;
            const int value = entry.value.trimmed().toInt(&isNumber);
            if (isNumber && (value == 0 || value == 1))
                chkStop->setChecked(value == 1);
        } else if (entry.key == QLatin1String("TIMER")) {
            cmbTimeLimit->setEditText(entry.value);
        }
    }

    txtPass->setFocus(Qt::OtherFocusReason);
    txtPass->end(false);
}

QString PreferencesWindow::refusal() const
{
    const QString password = txtPass->text();
    const bool stop = chkStop->isChecked();
    const QString timeLimit = cmbTimeLimit->currentText();

    if (password.contains(QLatin1Char('=')))
        return QStringLiteral("You cannot use the '=' sign in our password");
    // The file writes "." for no password, so a "." would read back as none
    // and silently open the parents' area and the STOP button. It is checked
    // here, beside "=", as the other password the file cannot hold: a fault of
    // the text itself, told before the checks that ask whether there is a
    // password at all (which a "." would pass, being not empty).
    if (password == QLatin1String("."))
        return QStringLiteral("You cannot use '.' as your password");
    if (stop && password.isEmpty())
        return QStringLiteral("You need to enter a password to disable the STOP button.");
    if (password.isEmpty() && timeLimit != NoLimit)
        return QStringLiteral("You need to enter a password to set a timer.");
    if (timeLimit != NoLimit && !stop)
        return QStringLiteral("You need to disable the STOP button to set a timer.");
    return {};
}

void PreferencesWindow::Command1_Click()
{
    if (cmbTimeLimit->currentText().isEmpty())
        cmbTimeLimit->setEditText(NoLimit);

    const QString refused = refusal();
    if (!refused.isEmpty()) {
        m_context.dialogs->message(refused, Dialogs::ApplicationTitle);
        return;
    }

    const QString password = txtPass->text();
    const bool stop = chkStop->isChecked();
    const QString timeLimit = cmbTimeLimit->currentText();
    ProgramState &globals = *m_context.state;

    // The file is replaced whole or not at all; when it cannot be written the
    // values in force stay with it, so what runs is what the next start reads.
    QString error;
    if (!SettingsFile::write(globals.appFolder, password, stop, timeLimit, &error)) {
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
    accept();
}
