#pragma once
// The table of a file pane: whole rows selected, no grid, fixed row height (so 100,000
// rows scroll smoothly), sortable by a header click, Tab leaving the table for the next
// pane. Drags and drops are handed to the pane through handlers, and a folder row under
// a drag is highlighted as the drop target.

#include <QMimeData>
#include <QTableView>

#include <functional>

class FileTableView : public QTableView {
    Q_OBJECT
public:
    explicit FileTableView(QWidget* parent = nullptr);

    // The drag data for the selected rows (null: nothing to drag).
    std::function<QMimeData*()> dragData;
    // Whether a drag with this data may be dropped here.
    std::function<bool(const QMimeData*)> acceptsDrop;
    // A drop; row is the folder row it landed on, or -1 for the pane itself.
    std::function<void(const QMimeData*, int row, Qt::KeyboardModifiers)> dropped;
    // Whether a row is a folder (only folders take drops).
    std::function<bool(int row)> isFolderRow;

    int dropRow() const { return m_dropRow; }
    // The selected rows, in view order.
    QList<int> selectedRows() const;

signals:
    // Enter or a double click on a row.
    void openRequested(int row);
    // Backspace.
    void parentRequested();
    // Ctrl+C and Ctrl+V: the pane's URLs, never the table's cell text.
    void copyRequested();
    void pasteRequested();
    // Delete (Shift+Delete: permanently, where the pane knows a difference) and F5.
    void deleteRequested(bool permanently);
    void refreshRequested();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void startDrag(Qt::DropActions supportedActions) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void setDropRow(int row);

    int m_dropRow = -1;
};
