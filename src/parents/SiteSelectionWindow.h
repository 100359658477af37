#pragma once

#include "parents/ParentsContext.h"
#include "shell/PortalClient.h"

#include <QDialog>
#include <array>

class BrowserView;
class QAction;
class QFrame;
class QLabel;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;
class FaceImage;

// The parent's main window: pick a child, tick the sites on that child's
// menu (each tick goes to the portal at once), rename a child, preview, add,
// edit and remove sites, and open the safety preferences.
class SiteSelectionWindow : public QDialog {
    Q_OBJECT
public:
    explicit SiteSelectionWindow(const ParentsContext &context, QWidget *parent = nullptr);

    // The list's columns, in the order the window shows them.
    enum Column { SiteName, Ages, Comments, ID, Logo, URL, Type, ColumnCount };
    static constexpr int KeyRole = Qt::UserRole;          // "K" + id on a row, the column's key on the header
    static constexpr int SentStateRole = Qt::UserRole + 1; // the tick the portal holds for a row

    // Any way of closing: the window's child becomes the current one.
    void done(int result) override;

private:
    void Form_Load();
    void SetupSiteList();
    void LoadSiteList(qint16 child);
    void SelectFace(qint16 index);
    void RenameChild(qint16 index);
    void Image1_MouseDown(qint16 index, Qt::MouseButton button);
    void ListView1_ItemClick(QTreeWidgetItem *item);
    void ListView1_ItemCheck(QTreeWidgetItem *item);
    void Command1_Click();
    void Command2_Click();
    void Command3_Click();
    void btnEdit_Click();
    void menusafety_Click();
    void Form_Unload();

    void setHighlighted(int face, bool highlighted);
    bool isHighlighted(int face) const;
    bool maintainerMode() const;
    SelectedSite selectedSite() const;
    void reportNotSaved(const QString &change, const QString &reason);

    ParentsContext m_context;
    ProgramState &m_state;
    PortalClient m_portal;
    qint16 m_child = 0; // the window's current child
    bool m_loading = false;

    std::array<QFrame *, 4> m_faceFrames{};
    std::array<FaceImage *, 4> m_faceImages{};
    QTreeWidget *m_listView1 = nullptr;
    QLabel *m_label1 = nullptr;
    BrowserView *m_view = nullptr;
    QPushButton *m_previewButton = nullptr;
    QPushButton *m_saveButton = nullptr;
    QPushButton *m_addSiteButton = nullptr;
    QPushButton *m_btnEdit = nullptr;
    QAction *m_menusafety = nullptr;
};
