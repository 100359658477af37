#pragma once

#include "parents/ParentsContext.h"
#include "shell/PortalClient.h"

#include <QDialog>

class QComboBox;
class QLineEdit;
class QPushButton;

// Adds, edits or removes one site: every change goes to the portal as one
// request; nothing is kept here.
class SiteEditorWindow : public QDialog {
    Q_OBJECT
public:
    // Edits the site `siteId` (0: adds one), filled from `selectedRow`; a save sends `siteType`.
    SiteEditorWindow(const ParentsContext &context, qint32 siteId, const QString &siteType, const SelectedSite &selectedRow,
                     QWidget *parent = nullptr);

private slots:
    void autoAddChildPage();
    void saveSite();
    void deleteSite();

private:
    void fillForm(const SelectedSite &selectedRow);
    // The site as the form holds it, with `logo` as its logo.
    SiteFields formFields(const QString &logo) const;

    ParentsContext m_context;
    ProgramState &m_state;
    PortalClient m_portal;
    qint32 m_siteId = 0; // 0: a new site
    QString m_siteType;
    QString m_logo = QStringLiteral("default_logo.gif"); // the edited site's logo, which a removal sends

    QLineEdit *m_address = nullptr;
    QLineEdit *m_shortName = nullptr;
    QLineEdit *m_description = nullptr;
    QComboBox *m_ageFrom = nullptr;
    QComboBox *m_ageTo = nullptr;
    QPushButton *m_autoAddButton = nullptr;
    QPushButton *m_saveButton = nullptr;
    QPushButton *m_cancelButton = nullptr;
    QPushButton *m_deleteButton = nullptr;
};
