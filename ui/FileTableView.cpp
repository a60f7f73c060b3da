#include "ui/FileTableView.h"

#include <QAbstractButton>
#include <QHeaderView>

FileTableView::FileTableView(PaneViewEvents& events, QWidget* parent) : PaneItemView<QTableView>(events, parent)
{
    setShowGrid(false);
    setWordWrap(false);
    setTabKeyNavigation(false);
    setSortingEnabled(true);
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setSortIndicator(0, Qt::AscendingOrder);
    // The corner button selects every row.
    for (QAbstractButton* button : findChildren<QAbstractButton*>())
        button->setAccessibleName(QStringLiteral("Select all"));
}
