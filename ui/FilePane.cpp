#include "ui/FilePane.h"

#include "ui/FileTableView.h"
#include "ui/PaneFileModel.h"
#include "ui/SiteView.h"

#include <QAction>
#include <QActionGroup>
#include <QMenu>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace {

struct StyleCommand {
    PaneViewStyle style;
    const char* text;
    const char* objectName;
};

const StyleCommand kStyleCommands[] = {
    {PaneViewStyle::LargeIcons, "Lar&ge Icons", "largeIcons"},
    {PaneViewStyle::SmallIcons, "S&mall Icons", "smallIcons"},
    {PaneViewStyle::List, "&List", "listStyle"},
    {PaneViewStyle::Details, "&Details", "details"},
};

} // namespace

void FilePane::setUpViews(PaneFileModel* model, const QString& viewName, const QString& accessibleName,
                          std::initializer_list<int> columnWidths)
{
    m_model = model;
    m_views = new QStackedWidget(this);
    m_table = new FileTableView(m_events, m_views);
    m_iconView = new PaneIconView(m_events, m_views);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_views);
    m_views->addWidget(m_table);
    m_views->addWidget(m_iconView);
    m_table->setObjectName(viewName);
    m_table->setAccessibleName(accessibleName);
    m_iconView->setObjectName(viewName + QStringLiteral("Icons"));
    m_iconView->setAccessibleName(accessibleName);
    m_table->setModel(model);
    // One selection for every style: what is selected in the table stays selected in the
    // icons and back.
    m_iconView->setModel(model);
    QItemSelectionModel* ownSelection = m_iconView->selectionModel();
    m_iconView->setSelectionModel(m_table->selectionModel());
    delete ownSelection;
    int column = 0;
    for (const int width : columnWidths)
        m_table->setColumnWidth(column++, width);
    setFocusProxy(m_table);

    m_events.dragData = [this] { return dragData(); };
    m_events.acceptsDrop = [this](const QMimeData* data) { return acceptsDrop(data); };
    m_events.dropped = [this](const QMimeData* data, int row, Qt::KeyboardModifiers modifiers) { onDrop(data, row, modifiers); };
    m_events.isFolderRow = [this](int row) { return m_model->isDirectoryAt(row); };
    connect(&m_events, &PaneViewEvents::openRequested, this, [this](int row) {
        if (row >= 0 && row < m_model->rowCount() && m_model->isDirectoryAt(row))
            enterFolder(row);
    });
    connect(&m_events, &PaneViewEvents::parentRequested, this, &FilePane::goToParent);
    connect(&m_events, &PaneViewEvents::deleteRequested, this, [this](bool permanently) { deleteSelection(permanently); });
    connect(&m_events, &PaneViewEvents::refreshRequested, this, &FilePane::refresh);
    connect(&m_events, &PaneViewEvents::copyRequested, this, [this] { copySelection(); });
    connect(&m_events, &PaneViewEvents::pasteRequested, this, [this] { pasteClipboard(); });
    for (QAbstractItemView* view : {static_cast<QAbstractItemView*>(m_table), static_cast<QAbstractItemView*>(m_iconView)}) {
        connect(view, &QWidget::customContextMenuRequested, this,
                [this, view](const QPoint& position) { showContextMenu(view, position); });
    }
    // After the editor has closed: a rename refreshes the model, which must not happen
    // while the view is still committing the edit.
    connect(model, &PaneFileModel::renameRequested, this, [this](const std::string& oldName, const QString& text) {
        QMetaObject::invokeMethod(this, [this, oldName, text] { renameEntry(oldName, text); }, Qt::QueuedConnection);
    });
    m_menu = new QMenu(this);
}

std::string FilePane::receivingFolder(int row) const
{
    if (row >= 0 && row < m_model->rowCount() && m_model->isDirectoryAt(row))
        return m_model->fullPath(row);
    const std::string folder = currentPath();
    return folder.empty() ? std::string("/") : folder;
}

QAbstractItemView* FilePane::currentView() const
{
    if (m_style == PaneViewStyle::Details)
        return m_table;
    return m_iconView;
}

void FilePane::setViewStyle(PaneViewStyle style)
{
    const bool hadFocus = m_views->currentWidget() && m_views->currentWidget()->hasFocus();
    m_style = style;
    if (style != PaneViewStyle::Details)
        m_iconView->setViewStyle(style);
    QAbstractItemView* shown = currentView();
    // The current row of the selection model is shared, so the new view shows it too.
    m_views->setCurrentWidget(shown);
    setFocusProxy(shown);
    if (hadFocus)
        shown->setFocus();
    if (shown->currentIndex().isValid())
        shown->scrollTo(shown->currentIndex());
    for (const StyleCommand& command : kStyleCommands) {
        if (QAction* styleAction = action(QString::fromLatin1(command.objectName)))
            styleAction->setChecked(command.style == style);
    }
    emit viewStyleChanged(style);
}

QList<int> FilePane::selectedRows() const
{
    return PaneViewEvents::SelectedRows(m_table->selectionModel());
}

void FilePane::selectRow(int row)
{
    QAbstractItemView* view = currentView();
    const QModelIndex index = m_model->index(row, 0);
    view->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    view->scrollTo(index);
}

void FilePane::editSelectedName()
{
    const QList<int> rows = selectedRows();
    if (rows.size() == 1)
        currentView()->edit(m_model->index(rows.front(), 0));
}

QAction* FilePane::action(const QString& objectName) const
{
    return findChild<QAction*>(objectName);
}

QAction* FilePane::addCommand(const QString& text, const QString& objectName, const QKeySequence& key,
                              std::function<void()> slot)
{
    auto* command = new QAction(text, this);
    command->setObjectName(objectName);
    if (!key.isEmpty()) {
        command->setShortcut(key);
        command->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        addAction(command);
    }
    connect(command, &QAction::triggered, this, std::move(slot));
    m_menu->addAction(command);
    return command;
}

void FilePane::addSeparator()
{
    m_menu->addSeparator();
}

void FilePane::addFileListMenu()
{
    QMenu* styles = m_menu->addMenu(QStringLiteral("File L&ist"));
    styles->setAccessibleName(QStringLiteral("File List"));
    auto* group = new QActionGroup(styles);
    for (const StyleCommand& command : kStyleCommands) {
        auto* styleAction = new QAction(QString::fromLatin1(command.text), this);
        styleAction->setObjectName(QString::fromLatin1(command.objectName));
        styleAction->setCheckable(true);
        styleAction->setChecked(command.style == m_style);
        group->addAction(styleAction);
        styles->addAction(styleAction);
        const PaneViewStyle style = command.style;
        connect(styleAction, &QAction::triggered, this, [this, style] { setViewStyle(style); });
    }
}

FilePane* FilePane::peerPane() const
{
    SiteView* view = siteView();
    return view && view->peer() ? view->peer()->currentPane() : nullptr;
}

void FilePane::showContextMenu(QAbstractItemView* view, const QPoint& position)
{
    const QModelIndex clicked = view->indexAt(position);
    updateMenu(clicked.isValid() ? clicked.row() : -1, int(selectedRows().size()));
    m_menu->popup(view->viewport()->mapToGlobal(position));
}
