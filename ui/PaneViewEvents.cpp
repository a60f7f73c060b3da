#include "ui/PaneViewEvents.h"

#include <QAbstractItemView>
#include <QDrag>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QPainter>

#include <algorithm>

QList<int> PaneViewEvents::SelectedRows(const QItemSelectionModel* selection)
{
    QList<int> rows;
    if (!selection)
        return rows;
    for (const QModelIndex& index : selection->selectedRows())
        rows.push_back(index.row());
    std::sort(rows.begin(), rows.end());
    return rows;
}

void PaneViewEvents::attach(QAbstractItemView* view)
{
    connect(view, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& index) {
        if (index.isValid())
            emit openRequested(index.row());
    });
    connect(this, &PaneViewEvents::dropRowChanged, view, [view] { view->viewport()->update(); });
}

bool PaneViewEvents::keyPress(QKeyEvent* event, const QAbstractItemView* view, bool editing)
{
    if (editing)
        return false;
    if (event->matches(QKeySequence::Copy)) {
        emit copyRequested();
        return true;
    }
    if (event->matches(QKeySequence::Paste)) {
        emit pasteRequested();
        return true;
    }
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (event->modifiers() == Qt::NoModifier || event->modifiers() == Qt::KeypadModifier) {
            const QList<int> rows = SelectedRows(view->selectionModel());
            if (rows.size() == 1)
                emit openRequested(rows.front());
            return true;
        }
        return false;
    case Qt::Key_Backspace:
        emit parentRequested();
        return true;
    case Qt::Key_Delete:
        emit deleteRequested(event->modifiers() & Qt::ShiftModifier);
        return true;
    case Qt::Key_F5:
        emit refreshRequested();
        return true;
    default:
        return false;
    }
}

void PaneViewEvents::startDrag(QWidget* source)
{
    QMimeData* data = dragData ? dragData() : nullptr;
    if (!data)
        return;
    auto* drag = new QDrag(source);
    drag->setMimeData(data);
    drag->exec(Qt::CopyAction | Qt::MoveAction, Qt::CopyAction);
}

bool PaneViewEvents::dragMove(QDragMoveEvent* event, const QAbstractItemView* view)
{
    if (!acceptsDrop || !acceptsDrop(event->mimeData())) {
        event->ignore();
        return false;
    }
    const QModelIndex index = view->indexAt(event->position().toPoint());
    setDropRow(index.isValid() && isFolderRow && isFolderRow(index.row()) ? index.row() : -1);
    event->setDropAction(Qt::CopyAction);
    event->accept();
    return true;
}

void PaneViewEvents::dragLeave()
{
    setDropRow(-1);
}

void PaneViewEvents::drop(QDropEvent* event)
{
    const int row = m_dropRow;
    setDropRow(-1);
    if (!dropped || !acceptsDrop || !acceptsDrop(event->mimeData())) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
    dropped(event->mimeData(), row, event->modifiers());
}

void PaneViewEvents::paintDropRow(QAbstractItemView* view) const
{
    if (m_dropRow < 0 || !view->model())
        return;
    QRect frame = view->visualRect(view->model()->index(m_dropRow, 0));
    if (!frame.isValid())
        return;
    // The table frames the whole row, the icon views the item.
    if (view->inherits("QTableView"))
        frame = QRect(0, frame.top(), view->viewport()->width() - 1, frame.height() - 1);
    QPainter painter(view->viewport());
    painter.setPen(QPen(view->palette().highlight().color(), 2));
    painter.drawRect(frame);
}

void PaneViewEvents::setDropRow(int row)
{
    if (row == m_dropRow)
        return;
    m_dropRow = row;
    emit dropRowChanged();
}
