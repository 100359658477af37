#include "parents/PasswordGate.h"

#include "shell/Services.h"
#include "shell/ProgramState.h"

#include <QEvent>
#include <QFocusEvent>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>

static const QString HintKeyword = QStringLiteral("C_L_U_E");

PasswordGate::PasswordGate(const ParentsContext &context, QWidget *parent)
    : QDialog(parent), m_context(context)
{
    setWindowTitle(QStringLiteral("Security"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    Label1 = new QLabel(QStringLiteral("&Parent's Password:"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    pw1 = new QLineEdit(this);
    pw1->setObjectName(QStringLiteral("pw1"));
    pw1->setEchoMode(QLineEdit::Password);
    Label1->setBuddy(pw1);
    Command1 = new QPushButton(QStringLiteral("&Continue"), this);
    Command1->setObjectName(QStringLiteral("Command1"));
    // Enter in the password box submits through pw1_KeyPress; a default
    // button would be clicked by the same key and check the entry twice.
    Command1->setAutoDefault(false);
    Command1->setDefault(false);

    auto *layout = new QGridLayout(this);
    layout->addWidget(Label1, 0, 0);
    layout->addWidget(pw1, 0, 1);
    layout->addWidget(Command1, 1, 1, Qt::AlignRight);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    setTabOrder(pw1, Command1);

    pw1->installEventFilter(this);
    connect(Command1, &QPushButton::clicked, this, &PasswordGate::Command1_Click);
}

void PasswordGate::showEvent(QShowEvent *event)
{
    if (!event->spontaneous()) {
        // Every opening is a new question. Were the flag left from an earlier
        // success, a child who closes the gate with its close box would be
        // let in; so closing without the right password is a refusal.
        m_context.state->PasswordAccepted = false;
        pw1->clear();
        pw1->setFocus(Qt::OtherFocusReason);
    }
    QDialog::showEvent(event);
}

bool PasswordGate::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == pw1) {
        if (event->type() == QEvent::FocusIn) {
            // The window coming back to the front (after a message box or
            // another program) is not the box getting the focus: what the
            // parent was typing stays.
            const Qt::FocusReason reason = static_cast<QFocusEvent *>(event)->reason();
            if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
                pw1_GotFocus();
        } else if (event->type() == QEvent::KeyPress) {
            pw1_KeyPress(static_cast<QKeyEvent *>(event)->key());
        }
    }
    return QDialog::eventFilter(watched, event);
}

void PasswordGate::pw1_GotFocus()
{
    pw1->clear();
}

void PasswordGate::pw1_KeyPress(int key)
{
    if (key == Qt::Key_Return || key == Qt::Key_Enter)
        Command1_Click();
}

QString PasswordGate::maskedHint(const QString &password)
{
    // Counted in characters, so a character outside the basic plane is
    // masked or kept whole.
    QList<uint> characters = password.toUcs4();
    for (qsizetype i = 1; i + 1 < characters.size(); ++i)
        characters[i] = '*';
    return QString::fromUcs4(reinterpret_cast<const char32_t *>(characters.constData()), characters.size())
        .toUpper();
}

void PasswordGate::Command1_Click()
{
    ProgramState &globals = *m_context.state;
    const QString entry = pw1->text().toUpper();

    // The hint comes first: the keyword shows the hint even when it is the password.
    if (entry == HintKeyword) {
        m_context.dialogs->message(QStringLiteral("Here's Your Hint: ") + QStringLiteral("\r\n")
                                       + maskedHint(globals.settings.Password),
                                   Dialogs::ApplicationTitle);
        pw1->clear();
        return;
    }

    if (entry == globals.settings.Password.toUpper()) {
        globals.PasswordAccepted = true;
        if (m_context.main)
            m_context.main->gatePassed();
        accept();
        return;
    }

    m_context.dialogs->message(
        QStringLiteral("Wrong Password! If you need a hint type 'c_l_u_e' in the password box!"),
        Dialogs::ApplicationTitle);
    globals.PasswordAccepted = false;
    pw1->clear();
}
