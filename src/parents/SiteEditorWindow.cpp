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
    box->setInsertPolicy(QComboBox::NoInsert);
    return box;
}

// The first character as typed, a surrogate pair counting as one (the
// portal draws the letter logo from it).
QString firstCharacter(const QString &text)
{
    return text.left(text.size() > 1 && text.at(0).isHighSurrogate() ? 2 : 1);
}

} // namespace

SiteEditorWindow::SiteEditorWindow(const ParentsContext &context, const SelectedSite &selected, QWidget *parent)
    : QDialog(parent), m_context(context), m_state(*context.state),
      m_portal(*context.transport, context.state->portalBase)
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
    m_logoButton = button("Command1", QString());
    m_url = lineEdit("url");
    m_shortname = lineEdit("shortname");
    m_comments = lineEdit("comments");
    m_AgeFrom = ageBox("AgeFrom", this);
    m_AgeTo = ageBox("AgeTo", this);
    m_LogoLoc = lineEdit("LogoLoc");
    m_LogoLoc->setText(QStringLiteral("default_logo.gif"));
    m_LogoLoc->hide();
    m_id = new QLabel(this);
    m_id->setObjectName(QStringLiteral("id"));
    m_id->hide();
    m_saveButton = button("Command2", QStringLiteral("&Save Your Site"));
    m_saveButton->setDefault(true); // Enter in a field saves, as the parent expects
    m_cancelButton = button("Command4", QStringLiteral("&Cancel"));
    m_btnDelete = button("btnDelete", QStringLiteral("&Delete Site"));
    m_btnDelete->setEnabled(false);

    auto labelFor = [this](const QString &text, QWidget *buddy) {
        auto *label = new QLabel(text, this);
        label->setBuddy(buddy);
        label->setWordWrap(true);
        return label;
    };
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_logoButton);
    layout->addWidget(labelFor(QStringLiteral("&Your Site's Internet Address:"), m_url));
    layout->addWidget(m_url);
    layout->addWidget(exampleLine(QStringLiteral("For example: http://www.pondlife.example/"), this));
    layout->addWidget(labelFor(QStringLiteral("&Enter a Short Name for Your Site:"), m_shortname));
    layout->addWidget(m_shortname);
    layout->addWidget(exampleLine(QStringLiteral("For example: Pond Life"), this));
    layout->addWidget(labelFor(
        QStringLiteral("Enter a description to tell people what they can find if they visit this site:"), m_comments));
    layout->addWidget(m_comments);
    layout->addWidget(exampleLine(QStringLiteral("For example: Frogs, fish and tadpoles to meet and colour in."), this));
    auto *ages = new QGridLayout;
    ages->addWidget(labelFor(QStringLiteral("Appropriate Ages:"), m_AgeFrom), 0, 0);
    ages->addWidget(m_AgeFrom, 0, 1);
    ages->addWidget(new QLabel(QStringLiteral("To"), this), 0, 2);
    ages->addWidget(m_AgeTo, 0, 3);
    ages->addWidget(new QLabel(QStringLiteral("Years Old"), this), 1, 1);
    ages->addWidget(new QLabel(QStringLiteral("Years Old"), this), 1, 3);
    ages->setColumnStretch(4, 1);
    layout->addLayout(ages);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_saveButton);
    buttons->addWidget(m_btnDelete);
    buttons->addStretch();
    buttons->addWidget(m_cancelButton);
    layout->addLayout(buttons);
    layout->addWidget(m_LogoLoc);
    layout->addWidget(m_id);

    setTabOrder(m_url, m_shortname);
    setTabOrder(m_shortname, m_comments);
    setTabOrder(m_comments, m_AgeFrom);
    setTabOrder(m_AgeFrom, m_AgeTo);
    setTabOrder(m_AgeTo, m_saveButton);
    setTabOrder(m_saveButton, m_btnDelete);
    setTabOrder(m_btnDelete, m_cancelButton);
    setTabOrder(m_cancelButton, m_logoButton);

    connect(m_logoButton, &QPushButton::clicked, this, &SiteEditorWindow::Command1_Click);
    connect(m_saveButton, &QPushButton::clicked, this, &SiteEditorWindow::Command2_Click);
    connect(m_btnDelete, &QPushButton::clicked, this, &SiteEditorWindow::btnDelete_Click);
    connect(m_cancelButton, &QPushButton::clicked, this, &SiteEditorWindow::Command4_Click);

    Form_Load(selected);
    m_url->setFocus();
}

void SiteEditorWindow::Form_Load(const SelectedSite &selected)
{
    m_id->setText(QString::number(m_state.EditSiteID));
    QStringList years;
    for (int age = 3; age <= 12; ++age)
        years << QString::number(age);
    for (QComboBox *box : {m_AgeFrom, m_AgeTo}) {
        box->clear();
        box->addItems(years);
        box->setCurrentIndex(-1);
        box->setEditText(QString());
    }
    if (m_id->text().toInt() != 0) {
        m_btnDelete->setEnabled(true);
        m_shortname->setText(selected.shortName);
        m_comments->setText(selected.comments);
        // "5 to 9" and "5to9" alike; an Ages text without "to" has no second age.
        const QStringList ages = selected.ages.split(QStringLiteral("to"));
        m_AgeFrom->setEditText(ages.value(0).trimmed());
        m_AgeTo->setEditText(ages.value(1).trimmed());
        m_url->setText(selected.url);
        m_LogoLoc->setText(selected.logo);
    }
    const QString title = m_context.main ? m_context.main->childPageTitle() : QString();
    if (!title.isEmpty())
        m_logoButton->setText(QStringLiteral("Click to Auto-Add: ") + title);
}

void SiteEditorWindow::Command1_Click()
{
    const QString title = m_context.main ? m_context.main->childPageTitle() : QString();
    if (title.isEmpty())
        return;
    m_shortname->setText(title);
    m_comments->setText(title);
    m_url->setText(m_state.currentUrl);
    m_AgeFrom->setEditText(QStringLiteral("3"));
    m_AgeTo->setEditText(QStringLiteral("12"));
}

QueryItems SiteEditorWindow::siteFields(const QString &logo) const
{
    return {{QStringLiteral("url"), m_url->text()},
            {QStringLiteral("shortname"), m_shortname->text()},
            {QStringLiteral("comments"), m_comments->text()},
            {QStringLiteral("AgeFrom"), m_AgeFrom->currentText()},
            {QStringLiteral("AgeTo"), m_AgeTo->currentText()},
            {QStringLiteral("LogoLoc"), logo},
            {QStringLiteral("id"), m_id->text()},
            {QStringLiteral("userid"), m_state.userId}};
}

void SiteEditorWindow::Command2_Click()
{
    if (m_url->text().isEmpty()) {
        m_context.dialogs->message(QStringLiteral("Enter a Web Address!"), Title);
        return;
    }
    if (m_shortname->text().isEmpty()) {
        m_context.dialogs->message(QStringLiteral("Enter a Short Name!"), Title);
        return;
    }
    if (m_comments->text().isEmpty())
        m_comments->setText(m_shortname->text());
    if (m_AgeFrom->currentText().isEmpty())
        m_AgeFrom->setEditText(QStringLiteral("3"));
    if (m_AgeTo->currentText().isEmpty())
        m_AgeTo->setEditText(QStringLiteral("12"));

    QueryItems query = siteFields(firstCharacter(m_shortname->text()) + QStringLiteral("_gif.gif"));
    query << qMakePair(QStringLiteral("Delete"), QStringLiteral("0")) << qMakePair(QStringLiteral("Type"), m_state.NewSiteType);
    const FetchResult saved = m_portal.request(QStringLiteral("tad_postsite.asp"), query);
    if (!saved.ok()) {
        // The window stays open with everything the parent typed, to save again or cancel.
        m_context.dialogs->message(changeNotSavedMessage(QStringLiteral("The site \"%1\"").arg(m_shortname->text()), saved.error),
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
            const FetchResult suggested = m_portal.request(QStringLiteral("tad_suggestsite.asp"),
                                                           {{QStringLiteral("userid"), m_state.userId},
                                                            {QStringLiteral("url"), m_url->text()},
                                                            {QStringLiteral("email"), email}});
            if (!suggested.ok())
                m_context.dialogs->message(changeNotSavedMessage(QStringLiteral("Your suggestion"), suggested.error), Title);
        }
    }
    m_context.dialogs->message(QStringLiteral("Your new site will now appear at the bottom of your selection list."),
                               QStringLiteral("New Site Added"));
    accept();
}

void SiteEditorWindow::btnDelete_Click()
{
    if (m_context.dialogs->askYesNo(QStringLiteral("Are you sure you want to remove this site from your available sites?"),
                                    QStringLiteral("Are You Sure?"))
        != Dialogs::Answer::Yes)
        return;
    QueryItems query = siteFields(m_LogoLoc->text());
    query << qMakePair(QStringLiteral("Delete"), QStringLiteral("1"));
    const FetchResult deleted = m_portal.request(QStringLiteral("tad_postsite.asp"), query);
    if (!deleted.ok())
        m_context.dialogs->message(
            changeNotSavedMessage(QStringLiteral("Removing \"%1\"").arg(m_shortname->text()), deleted.error), Title);
    accept();
}

void SiteEditorWindow::Command4_Click()
{
    reject();
}
