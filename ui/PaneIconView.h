#pragma once
// The icon and list styles of a file pane ("Large Icons", "Small Icons", "List") over the
// same model and selection as its details table: the name column with its icon, whole
// rows selected, the same keys, drags and drops through the pane's view events.

#include "ui/PaneItemView.h"

#include <QListView>

enum class PaneViewStyle { LargeIcons = 0, SmallIcons = 1, List = 2, Details = 3 };

class PaneIconView : public PaneItemView<QListView> {
    Q_OBJECT
public:
    PaneIconView(PaneViewEvents& events, QWidget* parent = nullptr);

    // Lays the items out for one of the three icon styles (Details is the table's).
    void setViewStyle(PaneViewStyle viewStyle);
};
