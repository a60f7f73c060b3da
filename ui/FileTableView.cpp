#include "ui/FileTableView.h"

#include <QAbstractButton>
#include <QDrag>
#include <QDragEnterEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPainter>

#include <algorithm>

FileTableView::FileTableView(QWidget* parent) : QTableView(parent)
{
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setShowGrid(false);
    setWordWrap(false);
    setTabKeyNavigation(false);
    setSortingEnabled(true);
    setEditTriggers(QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked);
    setDragEnabled(true);
    setAcceptDrops(true);
    setDragDropMode(QAbstractItemView::DragDrop);
    setDefaultDropAction(Qt::CopyAction);
    setContextMenuPolicy(Qt::CustomContextMenu);
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setSortIndicator(0, Qt::AscendingOrder);
    // The corner button selects every row.
    for (QAbstractButton* button : findChildren<QAbstractButton*>())
        button->setAccessibleName(QStringLiteral("Select all"));
    connect(this, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& index) {
        if (index.isValid())
            emit openRequested(index.row());
    });
}

QList<int> FileTableView::selectedRows() const
{
    QList<int> rows;
    if (!selectionModel())
        return rows;
    for (const QModelIndex& index : selectionModel()->selectedRows())
        rows.push_back(index.row());
    std::sort(rows.begin(), rows.end());
    return rows;
}

void FileTableView::keyPressEvent(QKeyEvent* event)
{
    if (state() != QAbstractItemView::EditingState) {
        if (event->matches(QKeySequence::Copy)) {
            emit copyRequested();
            return;
        }
        if (event->matches(QKeySequence::Paste)) {
            emit pasteRequested();
            return;
        }
        switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            if (event->modifiers() == Qt::NoModifier || event->modifiers() == Qt::KeypadModifier) {
                const QList<int> rows = selectedRows();
                if (rows.size() == 1)
                    emit openRequested(rows.front());
                return;
            }
            break;
        case Qt::Key_Backspace:
            emit parentRequested();
            return;
        case Qt::Key_Delete:
            emit deleteRequested(event->modifiers() & Qt::ShiftModifier);
            return;
        case Qt::Key_F5:
            emit refreshRequested();
            return;
        default:
            break;
        }
    }
    QTableView::keyPressEvent(event);
}

void FileTableView::startDrag(Qt::DropActions)
{
    QMimeData* data = dragData ? dragData() : nullptr;
    if (!data)
        return;
    auto* drag = new QDrag(this);
    drag->setMimeData(data);
    drag->exec(Qt::CopyAction | Qt::MoveAction, Qt::CopyAction);
}

void FileTableView::dragEnterEvent(QDragEnterEvent* event)
{
    if (acceptsDrop && acceptsDrop(event->mimeData())) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        event->ignore();
    }
}

void FileTableView::dragMoveEvent(QDragMoveEvent* event)
{
    if (!acceptsDrop || !acceptsDrop(event->mimeData())) {
        event->ignore();
        return;
    }
    const QModelIndex index = indexAt(event->position().toPoint());
    setDropRow(index.isValid() && isFolderRow && isFolderRow(index.row()) ? index.row() : -1);
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void FileTableView::dragLeaveEvent(QDragLeaveEvent* event)
{
    setDropRow(-1);
    QTableView::dragLeaveEvent(event);
}

void FileTableView::dropEvent(QDropEvent* event)
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

void FileTableView::paintEvent(QPaintEvent* event)
{
    QTableView::paintEvent(event);
    if (m_dropRow < 0 || !model())
        return;
    const QRect first = visualRect(model()->index(m_dropRow, 0));
    if (!first.isValid())
        return;
    QPainter painter(viewport());
    painter.setPen(QPen(palette().highlight().color(), 2));
    painter.drawRect(QRect(0, first.top(), viewport()->width() - 1, first.height() - 1));
}

void FileTableView::setDropRow(int row)
{
    if (row == m_dropRow)
        return;
    m_dropRow = row;
    viewport()->update();
}
