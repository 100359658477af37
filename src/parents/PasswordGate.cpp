#include "parents/PasswordGate.h"

#include "shell/Services.h"
#include "shell/ProgramState.h"

#include <QEvent>
#include <QFocusEvent>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>

static const QString HintKeyword = QStringLiteral("C_L_U_E");

bool PasswordGate::ask(const ParentsContext &context, QWidget *parent)
{
    PasswordGate gate(context, parent);
    return gate.exec() == QDialog::Accepted;
}

PasswordGate::PasswordGate(const ParentsContext &context, QWidget *parent)
    : QDialog(parent), m_context(context)
{
    setWindowTitle(QStringLiteral("Security"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    auto *passwordLabel = new QLabel(QStringLiteral("&Parent's Password:"), this);
    passwordLabel->setObjectName(QStringLiteral("passwordLabel"));
    m_passwordBox = new QLineEdit(this);
    m_passwordBox->setObjectName(QStringLiteral("passwordBox"));
    m_passwordBox->setEchoMode(QLineEdit::Password);
    passwordLabel->setBuddy(m_passwordBox);
    m_continueButton = new QPushButton(QStringLiteral("&Continue"), this);
    m_continueButton->setObjectName(QStringLiteral("continueButton"));
    // The default button: Return or Enter presses it, in the password box
    // (which passes the key on to the dialog) and on the button itself.
    m_continueButton->setDefault(true);

    auto *layout = new QGridLayout(this);
    layout->addWidget(passwordLabel, 0, 0);
    layout->addWidget(m_passwordBox, 0, 1);
    layout->addWidget(m_continueButton, 1, 1, Qt::AlignRight);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    setTabOrder(m_passwordBox, m_continueButton);

    m_passwordBox->installEventFilter(this);
    connect(m_continueButton, &QPushButton::clicked, this, &PasswordGate::submitPassword);
}

void PasswordGate::showEvent(QShowEvent *event)
{
    if (!event->spontaneous()) {
        // Every opening is a new question, typed into an empty box.
        m_passwordBox->clear();
        m_passwordBox->setFocus(Qt::OtherFocusReason);
    }
    QDialog::showEvent(event);
}

bool PasswordGate::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_passwordBox) {
        if (event->type() == QEvent::FocusIn) {
            // The window coming back to the front (after a message box or
            // another program) is not the box getting the focus: what the
            // parent was typing stays.
            const Qt::FocusReason reason = static_cast<QFocusEvent *>(event)->reason();
            if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
                clearEntry();
        }
    }
    return QDialog::eventFilter(watched, event);
}

void PasswordGate::clearEntry()
{
    m_passwordBox->clear();
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

bool PasswordGate::isHintKeyword(const QString &text)
{
    return text.toUpper() == HintKeyword;
}

void PasswordGate::submitPassword()
{
    ProgramState &globals = *m_context.state;
    const QString entry = m_passwordBox->text().toUpper();

    // The hint comes first: the keyword shows the hint even when it is the password.
    if (isHintKeyword(entry)) {
        m_context.dialogs->message(QStringLiteral("Here's Your Hint: ") + QStringLiteral("\r\n")
                                       + maskedHint(globals.settings.Password),
                                   Dialogs::ApplicationTitle);
        m_passwordBox->clear();
        return;
    }

    if (entry == globals.settings.Password.toUpper()) {
        if (m_context.main)
            m_context.main->gatePassed();
        accept();
        return;
    }

    m_context.dialogs->message(
        QStringLiteral("Wrong Password! If you need a hint type 'c_l_u_e' in the password box!"),
        Dialogs::ApplicationTitle);
    m_passwordBox->clear();
}
