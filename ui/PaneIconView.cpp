#include "ui/PaneIconView.h"

#include <QStyle>

#include <algorithm>

PaneIconView::PaneIconView(PaneViewEvents& events, QWidget* parent) : PaneItemView<QListView>(events, parent)
{
    // Equal item sizes and a batched layout keep 100,000 entries quick.
    setUniformItemSizes(true);
    setLayoutMode(QListView::Batched);
    setBatchSize(2000);
    setWordWrap(false);
    setTextElideMode(Qt::ElideMiddle);
    setViewStyle(PaneViewStyle::List);
}

void PaneIconView::setViewStyle(PaneViewStyle viewStyle)
{
    const int small = style()->pixelMetric(QStyle::PM_SmallIconSize, nullptr, this);
    const int line = fontMetrics().height();
    switch (viewStyle) {
    case PaneViewStyle::LargeIcons: {
        const int large = style()->pixelMetric(QStyle::PM_LargeIconSize, nullptr, this);
        setViewMode(QListView::IconMode);
        setFlow(QListView::LeftToRight);
        setIconSize(QSize(large, large));
        setGridSize(QSize(std::max(large * 3, line * 9), large + 2 * line + 8));
        break;
    }
    case PaneViewStyle::SmallIcons:
        setViewMode(QListView::ListMode);
        setFlow(QListView::LeftToRight);
        setIconSize(QSize(small, small));
        setGridSize(QSize(line * 15, std::max(small, line) + 6));
        break;
    case PaneViewStyle::List:
    case PaneViewStyle::Details:
        setViewMode(QListView::ListMode);
        setFlow(QListView::TopToBottom);
        setIconSize(QSize(small, small));
        setGridSize(QSize(line * 14, std::max(small, line) + 6));
        break;
    }
    // A change of view mode resets these.
    setMovement(QListView::Static);
    setWrapping(true);
    setResizeMode(QListView::Adjust);
    setDragDropMode(QAbstractItemView::DragDrop);
}
