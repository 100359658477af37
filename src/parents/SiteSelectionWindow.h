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

private slots:
    void onFacePressed(int face, Qt::MouseButton button);
    void showSiteDetails(QTreeWidgetItem *item);
    void onSiteTicked(QTreeWidgetItem *item);
    void previewSite();
    void saveSelections();
    void addSite();
    void editSite();
    void openPreferences();

private:
    void readFaceNames();
    void showCurrentChild();
    void setUpSiteList();
    void loadSiteList(int child);
    void selectFace(int face);
    void renameChild(int child);

    void setHighlighted(int face, bool highlighted);
    bool isHighlighted(int face) const;
    bool maintainerMode() const;
    SelectedSite selectedSite() const;
    void reportNotSaved(const QString &change, const FetchResult &failed);

    ParentsContext m_context;
    ProgramState &m_state;
    PortalClient m_portal;
    int m_child = 0; // the window's current child, 0 to 3
    bool m_loading = false;

    std::array<QFrame *, 4> m_faceFrames{};
    std::array<FaceImage *, 4> m_faceImages{};
    QTreeWidget *m_siteList = nullptr;
    QLabel *m_description = nullptr;
    BrowserView *m_logoView = nullptr;
    QPushButton *m_previewButton = nullptr;
    QPushButton *m_saveButton = nullptr;
    QPushButton *m_addSiteButton = nullptr;
    QPushButton *m_editButton = nullptr;
    QAction *m_preferencesAction = nullptr;
};
