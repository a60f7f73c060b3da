#pragma once
// What the remote and the local file pane share: their model shown in four styles (the
// details table, large and small icons, a list) with one selection, the keys, drags and
// drops of those views routed to the pane, the context menu with its "File List" styles,
// and what a site view and the transfer operation need of a pane (its kind, folder,
// session, and the commands a view routes to the pane it shows).

#include "ui/PaneIconView.h"

#include <QWidget>

#include <functional>
#include <initializer_list>
#include <string>

class FileTableView;
class OpenSession;
class PaneFileModel;
class QAbstractItemView;
class QAction;
class QMenu;
class QMimeData;
class QStackedWidget;
class SiteView;

class FilePane : public QWidget {
    Q_OBJECT
public:
    using QWidget::QWidget;

    virtual bool isRemote() const = 0;
    // The session of a remote pane; null for a local one.
    virtual OpenSession* openSession() const = 0;
    // The folder the pane shows (bytes), without a trailing separator except for the root.
    virtual std::string currentPath() const = 0;
    virtual QString tabText() const = 0;

    virtual void goToParent() = 0;
    virtual void refresh() = 0;
    // Text typed into the path box (already known to be meant for this kind of pane).
    virtual void goToPath(const std::string& path) = 0;

    // Where a drop on `row` puts files: that folder row's path, else the pane's folder.
    std::string receivingFolder(int row) const;

    FileTableView* table() const { return m_table; }
    PaneIconView* iconView() const { return m_iconView; }
    // The view of the current style (the table for Details).
    QAbstractItemView* currentView() const;
    PaneViewEvents& viewEvents() { return m_events; }
    PaneViewStyle viewStyle() const { return m_style; }
    void setViewStyle(PaneViewStyle style);
    // The selected rows, in view order, whatever the style.
    QList<int> selectedRows() const;
    // Makes `row` the one selected and current row and scrolls to it.
    void selectRow(int row);
    QAction* action(const QString& objectName) const;

    SiteView* siteView() const { return m_siteView; }
    void setSiteView(SiteView* view) { m_siteView = view; }

signals:
    // The folder shown changed (the path box follows).
    void pathChanged();
    // A question or dialog this pane opened (tests answer it).
    void dialogOpened(QWidget* dialog);
    // Text to show to the user.
    void message(const QString& text);
    void viewStyleChanged(PaneViewStyle style);

protected:
    // Called once by the subclass's constructor, when its model exists: builds the views
    // over it and routes their events to the hooks below.
    void setUpViews(PaneFileModel* model, const QString& viewName, const QString& accessibleName,
                    std::initializer_list<int> columnWidths);
    // A command of the context menu (and its key, when it has one).
    QAction* addCommand(const QString& text, const QString& objectName, const QKeySequence& key,
                        std::function<void()> slot);
    void addSeparator();
    QMenu* menu() const { return m_menu; }
    // The "File List" sub-menu with the four styles.
    void addFileListMenu();
    // The pane of the peer view's selected tab.
    FilePane* peerPane() const;
    // Starts editing the name of the one selected row.
    void editSelectedName();

    // Enter or a double click on a folder row.
    virtual void enterFolder(int row) = 0;
    virtual void deleteSelection(bool permanently) = 0;
    virtual void copySelection() = 0;
    virtual void pasteClipboard() {}
    // An in-place edit of a name; false when it was refused.
    virtual bool renameEntry(const std::string& oldName, const QString& newText) = 0;
    virtual QMimeData* dragData() const = 0;
    virtual bool acceptsDrop(const QMimeData* data) const = 0;
    virtual void onDrop(const QMimeData* data, int row, Qt::KeyboardModifiers modifiers) = 0;
    // Enables the menu's commands before it opens; clickedRow: the row under the mouse, or -1.
    virtual void updateMenu(int clickedRow, int selectedCount) = 0;

private:
    void showContextMenu(QAbstractItemView* view, const QPoint& position);

    SiteView* m_siteView = nullptr;
    PaneFileModel* m_model = nullptr;
    PaneViewEvents m_events;
    QStackedWidget* m_views = nullptr;
    FileTableView* m_table = nullptr;
    PaneIconView* m_iconView = nullptr;
    QMenu* m_menu = nullptr;
    PaneViewStyle m_style = PaneViewStyle::Details;
};
