#pragma once
// The details view of a file pane: whole rows, no grid, fixed row height (so 100,000
// rows scroll smoothly), sortable by a header click, Tab leaving the table for the next
// pane. Keys, drags and drops go to the pane's view events.

#include "ui/PaneItemView.h"

#include <QTableView>

class FileTableView : public PaneItemView<QTableView> {
    Q_OBJECT
public:
    FileTableView(PaneViewEvents& events, QWidget* parent = nullptr);
};
