#pragma once
// What every view of a file pane (the details table and the icon and list view) does
// alike with keys, drags and drops, so each view only forwards its events here. Drags and
// drops are handed to the pane through handlers; a folder row under a drag is the drop
// target, which every view highlights.

#include <QList>
#include <QObject>

#include <functional>

class QAbstractItemView;
class QDragMoveEvent;
class QDropEvent;
class QItemSelectionModel;
class QKeyEvent;
class QMimeData;
class QWidget;

class PaneViewEvents : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // The drag data for the selected rows (null: nothing to drag).
    std::function<QMimeData*()> dragData;
    // Whether a drag with this data may be dropped here.
    std::function<bool(const QMimeData*)> acceptsDrop;
    // A drop; row is the folder row it landed on, or -1 for the pane itself.
    std::function<void(const QMimeData*, int row, Qt::KeyboardModifiers)> dropped;
    // Whether a row is a folder (only folders take drops).
    std::function<bool(int row)> isFolderRow;

    // The selected rows of a selection model, in view order.
    static QList<int> SelectedRows(const QItemSelectionModel* selection);

    // Wires a view to these events: double click opens, the drop row repaints it.
    void attach(QAbstractItemView* view);
    // A key the pane handles (true: it was used). `editing`: a name is being edited.
    bool keyPress(QKeyEvent* event, const QAbstractItemView* view, bool editing);
    void startDrag(QWidget* source);
    // Drag enter and move over `view`; false: the event was ignored.
    bool dragMove(QDragMoveEvent* event, const QAbstractItemView* view);
    void dragLeave();
    void drop(QDropEvent* event);
    // Draws the drop target's frame on a view's viewport.
    void paintDropRow(QAbstractItemView* view) const;

    int dropRow() const { return m_dropRow; }

signals:
    // Enter or a double click on a row.
    void openRequested(int row);
    // Backspace.
    void parentRequested();
    // Ctrl+C and Ctrl+V: the pane's URLs, never the view's cell text.
    void copyRequested();
    void pasteRequested();
    // Delete (Shift+Delete: permanently, where the pane knows a difference) and F5.
    void deleteRequested(bool permanently);
    void refreshRequested();
    void dropRowChanged();

private:
    void setDropRow(int row);

    int m_dropRow = -1;
};
