#pragma once
// The event forwarding every view of a file pane shares: keys, drags, drops and the drop
// target's frame go to the pane's view events. `View` is the Qt view it extends (the
// table, the list).

#include "ui/PaneViewEvents.h"

#include <QAbstractItemView>
#include <QDragEnterEvent>

template <class View>
class PaneItemView : public View {
public:
    PaneItemView(PaneViewEvents& events, QWidget* parent) : View(parent), m_events(events)
    {
        this->setSelectionBehavior(QAbstractItemView::SelectRows);
        this->setSelectionMode(QAbstractItemView::ExtendedSelection);
        this->setEditTriggers(QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked);
        this->setDragEnabled(true);
        this->setAcceptDrops(true);
        this->setDragDropMode(QAbstractItemView::DragDrop);
        this->setDefaultDropAction(Qt::CopyAction);
        this->setContextMenuPolicy(Qt::CustomContextMenu);
        m_events.attach(this);
    }

    // The selected rows, in view order.
    QList<int> selectedRows() const { return PaneViewEvents::SelectedRows(this->selectionModel()); }

protected:
    void keyPressEvent(QKeyEvent* event) override
    {
        if (!m_events.keyPress(event, this, this->state() == QAbstractItemView::EditingState))
            View::keyPressEvent(event);
    }
    void startDrag(Qt::DropActions) override { m_events.startDrag(this); }
    void dragEnterEvent(QDragEnterEvent* event) override { m_events.dragMove(event, this); }
    void dragMoveEvent(QDragMoveEvent* event) override { m_events.dragMove(event, this); }
    void dragLeaveEvent(QDragLeaveEvent* event) override
    {
        m_events.dragLeave();
        View::dragLeaveEvent(event);
    }
    void dropEvent(QDropEvent* event) override { m_events.drop(event); }
    void paintEvent(QPaintEvent* event) override
    {
        View::paintEvent(event);
        m_events.paintDropRow(this);
    }

private:
    PaneViewEvents& m_events;
};
