#include "parents/SiteEditorWindow.h"

#include "parents/SiteList.h"
#include "shell/Services.h"
#include "shell/ProgramState.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

const QString Title = QStringLiteral("Tadpole");

QLabel *exampleLine(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    QFont font = label->font();
    font.setItalic(true);
    label->setFont(font);
    return label;
}

QComboBox *ageBox(const char *name, QWidget *parent)
{
    auto *box = new QComboBox(parent);
    box->setObjectName(QLatin1String(name));
    box->setEditable(true);
    // No completion: a typed "1" would be sent as the list's "10".
    box->setCompleter(nullptr);
    box->setInsertPolicy(QComboBox::NoInsert);
    return box;
}

// The letter logo's file name: the short name's first character as typed, a
// surrogate pair counting as one (the portal draws the logo from it). A slash
// cannot be part of a file name, and the portal refuses it: such a site gets
// the portal's default logo.
QString letterLogo(const QString &shortName)
{
    const QString first = shortName.left(shortName.size() > 1 && shortName.at(0).isHighSurrogate() ? 2 : 1);
    if (first == QLatin1String("/") || first == QLatin1String("\\"))
        return QStringLiteral("default_logo.gif");
    return first + QStringLiteral("_gif.gif");
}

} // namespace

SiteEditorWindow::SiteEditorWindow(const ParentsContext &context, qint32 siteId, const QString &siteType,
                                   const SelectedSite &selectedRow, QWidget *parent)
    : QDialog(parent), m_context(context), m_state(*context.state),
      m_portal(*context.transport, context.state->portalBase, context.state->userId), m_siteId(siteId), m_siteType(siteType)
{
    setObjectName(QStringLiteral("SiteEditorWindow"));
    setWindowTitle(QStringLiteral("Add a New Site"));

    auto lineEdit = [this](const char *name) {
        auto *edit = new QLineEdit(this);
        edit->setObjectName(QLatin1String(name));
        return edit;
    };
    auto button = [this](const char *name, const QString &caption) {
        auto *b = new QPushButton(caption, this);
        b->setObjectName(QLatin1String(name));
        b->setAutoDefault(false);
        return b;
    };
    m_autoAddButton = button("autoAddButton", QString());
    m_address = lineEdit("address");
    m_shortName = lineEdit("shortName");
    m_description = lineEdit("description");
    m_ageFrom = ageBox("ageFrom", this);
    m_ageTo = ageBox("ageTo", this);
    m_saveButton = button("saveButton", QStringLiteral("&Save Your Site"));
    m_saveButton->setDefault(true); // Enter in a field saves, as the parent expects
    m_cancelButton = button("cancelButton", QStringLiteral("&Cancel"));
    m_deleteButton = button("deleteButton", QStringLiteral("&Delete Site"));
    m_deleteButton->setEnabled(false);

    auto labelFor = [this](const QString &text, QWidget *buddy) {
        auto *label = new QLabel(text, this);
        label->setBuddy(buddy);
        label->setWordWrap(true);
        return label;
    };
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_autoAddButton);
    layout->addWidget(labelFor(QStringLiteral("&Your Site's Internet Address:"), m_address));
    layout->addWidget(m_address);
    layout->addWidget(exampleLine(QStringLiteral("For example: http://www.pondlife.example/"), this));
    layout->addWidget(labelFor(QStringLiteral("&Enter a Short Name for Your Site:"), m_shortName));
    layout->addWidget(m_shortName);
    layout->addWidget(exampleLine(QStringLiteral("For example: Pond Life"), this));
    layout->addWidget(labelFor(
        QStringLiteral("Enter a description to tell people what they can find if they visit this site:"), m_description));
    layout->addWidget(m_description);
    layout->addWidget(exampleLine(QStringLiteral("For example: Frogs, fish and tadpoles to meet and colour in."), this));
    auto *ages = new QGridLayout;
    ages->addWidget(labelFor(QStringLiteral("Appropriate Ages:"), m_ageFrom), 0, 0);
    ages->addWidget(m_ageFrom, 0, 1);
    ages->addWidget(new QLabel(QStringLiteral("To"), this), 0, 2);
    ages->addWidget(m_ageTo, 0, 3);
    ages->addWidget(new QLabel(QStringLiteral("Years Old"), this), 1, 1);
    ages->addWidget(new QLabel(QStringLiteral("Years Old"), this), 1, 3);
    ages->setColumnStretch(4, 1);
    layout->addLayout(ages);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_saveButton);
    buttons->addWidget(m_deleteButton);
    buttons->addStretch();
    buttons->addWidget(m_cancelButton);
    layout->addLayout(buttons);

    setTabOrder(m_address, m_shortName);
    setTabOrder(m_shortName, m_description);
    setTabOrder(m_description, m_ageFrom);
    setTabOrder(m_ageFrom, m_ageTo);
    setTabOrder(m_ageTo, m_saveButton);
    setTabOrder(m_saveButton, m_deleteButton);
    setTabOrder(m_deleteButton, m_cancelButton);
    setTabOrder(m_cancelButton, m_autoAddButton);

    connect(m_autoAddButton, &QPushButton::clicked, this, &SiteEditorWindow::autoAddChildPage);
    connect(m_saveButton, &QPushButton::clicked, this, &SiteEditorWindow::saveSite);
    connect(m_deleteButton, &QPushButton::clicked, this, &SiteEditorWindow::deleteSite);
    connect(m_cancelButton, &QPushButton::clicked, this, &SiteEditorWindow::reject);

    fillForm(selectedRow);
    m_address->setFocus();
}

void SiteEditorWindow::fillForm(const SelectedSite &selectedRow)
{
    QStringList years;
    for (int age = 3; age <= 12; ++age)
        years << QString::number(age);
    for (QComboBox *box : {m_ageFrom, m_ageTo}) {
        box->clear();
        box->addItems(years);
        box->setCurrentIndex(-1);
        box->setEditText(QString());
    }
    if (m_siteId != 0) {
        m_deleteButton->setEnabled(true);
        m_shortName->setText(selectedRow.shortName);
        m_description->setText(selectedRow.comments);
        // "5 to 9" and "5to9" alike; an Ages text without "to" has no second age.
        const QStringList ages = selectedRow.ages.split(QStringLiteral("to"));
        m_ageFrom->setEditText(ages.value(0).trimmed());
        m_ageTo->setEditText(ages.value(1).trimmed());
        m_address->setText(selectedRow.url);
        m_logo = selectedRow.logo;
    }
    const QString title = m_context.main ? m_context.main->childPageTitle() : QString();
    if (!title.isEmpty())
        m_autoAddButton->setText(QStringLiteral("Click to Auto-Add: ") + QString(title).replace(u'&', QStringLiteral("&&"))); // no shortcut
}

void SiteEditorWindow::autoAddChildPage()
{
    const QString title = m_context.main ? m_context.main->childPageTitle() : QString();
    if (title.isEmpty())
        return;
    m_shortName->setText(title);
    m_description->setText(title);
    m_address->setText(m_state.currentUrl);
    m_ageFrom->setEditText(QStringLiteral("3"));
    m_ageTo->setEditText(QStringLiteral("12"));
}

SiteFields SiteEditorWindow::formFields(const QString &logo) const
{
    return {m_address->text(), m_shortName->text(), m_description->text(), m_ageFrom->currentText(),
            m_ageTo->currentText(), logo, QString::number(m_siteId)};
}

void SiteEditorWindow::saveSite()
{
    if (m_address->text().isEmpty()) {
        m_context.dialogs->message(QStringLiteral("Enter a Web Address!"), Title);
        return;
    }
    if (m_shortName->text().isEmpty()) {
        m_context.dialogs->message(QStringLiteral("Enter a Short Name!"), Title);
        return;
    }
    if (m_description->text().isEmpty())
        m_description->setText(m_shortName->text());
    if (m_ageFrom->currentText().isEmpty())
        m_ageFrom->setEditText(QStringLiteral("3"));
    if (m_ageTo->currentText().isEmpty())
        m_ageTo->setEditText(QStringLiteral("12"));

    const FetchResult saved =
        m_portal.postSite(formFields(letterLogo(m_shortName->text())), false, m_siteType);
    if (!saved.ok()) {
        // The window stays open with everything the parent typed, to save again or cancel.
        m_context.dialogs->message(changeNotSavedMessage(QStringLiteral("The site \"%1\"").arg(m_shortName->text()), saved),
                                   Title);
        return;
    }

    if (m_context.dialogs->askYesNo(
            QStringLiteral("You have just added a private site (only your copy Tadpole will see it).  Would you like to "
                           "suggest this site to Tadpole so ALL users can try it?"),
            QStringLiteral("Suggest Your Site"))
        == Dialogs::Answer::Yes) {
        const QString email = m_context.dialogs->input(
            QStringLiteral("Thank you for suggesting a new site to Tadpole.  Please enter your email address and we'll "
                           "notify you if we use your suggestion."),
            QStringLiteral("Thanks for Adding a Site"), QString());
        if (!email.isEmpty()) {
            const FetchResult suggested = m_portal.suggestSite(m_address->text(), email);
            if (!suggested.ok())
                m_context.dialogs->message(changeNotSavedMessage(QStringLiteral("Your suggestion"), suggested), Title);
        }
    }
    m_context.dialogs->message(QStringLiteral("Your new site will now appear at the bottom of your selection list."),
                               QStringLiteral("New Site Added"));
    accept();
}

void SiteEditorWindow::deleteSite()
{
    if (m_context.dialogs->askYesNo(QStringLiteral("Are you sure you want to remove this site from your available sites?"),
                                    QStringLiteral("Are You Sure?"))
        != Dialogs::Answer::Yes)
        return;
    const FetchResult deleted = m_portal.postSite(formFields(m_logo), true);
    if (!deleted.ok())
        m_context.dialogs->message(
            changeNotSavedMessage(QStringLiteral("Removing \"%1\"").arg(m_shortName->text()), deleted), Title);
    accept();
}
