#pragma once

#include "parents/ParentsContext.h"
#include "shell/PortalClient.h"

#include <QDialog>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

// Adds, edits or removes one site: every change goes to the portal as one
// request; nothing is kept here.
class SiteEditorWindow : public QDialog {
    Q_OBJECT
public:
    SiteEditorWindow(const ParentsContext &context, const SelectedSite &selected, QWidget *parent = nullptr);

private:
    void Form_Load(const SelectedSite &selected);
    void Command1_Click();
    void Command2_Click();
    void btnDelete_Click();
    void Command4_Click();

    // The fields as the form holds them, in the order every site request sends them.
    QueryItems siteFields(const QString &logo) const;

    ParentsContext m_context;
    ProgramState &m_state;
    PortalClient m_portal;

    QLineEdit *m_url = nullptr;
    QLineEdit *m_shortname = nullptr;
    QLineEdit *m_comments = nullptr;
    QComboBox *m_AgeFrom = nullptr;
    QComboBox *m_AgeTo = nullptr;
    QLineEdit *m_LogoLoc = nullptr;
    QLabel *m_id = nullptr;
    QPushButton *m_logoButton = nullptr;
    QPushButton *m_saveButton = nullptr;
    QPushButton *m_cancelButton = nullptr;
    QPushButton *m_btnDelete = nullptr;
};
