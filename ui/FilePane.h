#pragma once
// What a site view and the transfer operation need of a file pane, remote or local: its
// kind, its folder, its session (remote only), and the commands a view routes to the
// pane it shows (up, refresh, go to a typed path, select all).

#include <QWidget>

#include <string>

class FileTableView;
class OpenSession;
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
    virtual FileTableView* table() const = 0;

    // Where a drop on `row` puts files: that folder row's path, else the pane's folder.
    virtual std::string receivingFolder(int row) const = 0;

    virtual void goToParent() = 0;
    virtual void refresh() = 0;
    // Text typed into the path box (already known to be meant for this kind of pane).
    virtual void goToPath(const std::string& path) = 0;

    SiteView* siteView() const { return m_siteView; }
    void setSiteView(SiteView* view) { m_siteView = view; }

signals:
    // The folder shown changed (the path box follows).
    void pathChanged();

private:
    SiteView* m_siteView = nullptr;
};
