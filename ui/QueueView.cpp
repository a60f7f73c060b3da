#include "ui/QueueView.h"

#include "sites/FtpUrl.h"
#include "ui/DisplayText.h"
#include "ui/OpenSession.h"
#include "ui/QueueEntryDialog.h"
#include "ui/QueueModel.h"
#include "ui/QueueProgressDelegate.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QMenu>
#include <QMimeData>

#include <algorithm>

QueueView::QueueView(QWidget* parent) : QTableView(parent), m_model(new QueueModel(this))
{
    setObjectName(QStringLiteral("queueView"));
    setAccessibleName(QStringLiteral("Queue"));
    setModel(m_model);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setShowGrid(false);
    setWordWrap(false);
    setTextElideMode(Qt::ElideMiddle);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    verticalHeader()->hide();
    // The table's corner button selects every row; it has a name like every control.
    for (QAbstractButton* corner : findChildren<QAbstractButton*>())
        corner->setAccessibleName(QStringLiteral("Select all rows"));
    // Fixed row heights: no row is measured, so 100,000 rows cost nothing to lay out.
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setStretchLastSection(false);
    for (int column = 0; column < QueueModel::ColumnCount; ++column)
        setColumnWidth(column, QueueModel::kColumnWidths[std::size_t(column)]);
    setItemDelegateForColumn(QueueModel::Status, new QueueProgressDelegate(this));

    m_menu = new QMenu(QStringLiteral("Queue Popup"), this);
    m_menu->setAccessibleName(QStringLiteral("Queue Popup"));
    m_moveUp = addCommand(QStringLiteral("Move &Up"), QStringLiteral("queueMoveUp"), QKeySequence(Qt::CTRL | Qt::Key_Up));
    m_moveDown = addCommand(QStringLiteral("Move &Down"), QStringLiteral("queueMoveDown"), QKeySequence(Qt::CTRL | Qt::Key_Down));
    m_moveTop = addCommand(QStringLiteral("Move to &Top"), QStringLiteral("queueMoveTop"), QKeySequence(Qt::CTRL | Qt::Key_Home));
    m_moveBottom = addCommand(QStringLiteral("Move to &Bottom"), QStringLiteral("queueMoveBottom"), QKeySequence(Qt::CTRL | Qt::Key_End));
    m_menu->addSeparator();
    m_remove = addCommand(QStringLiteral("&Remove"), QStringLiteral("queueRemove"), QKeySequence::Delete);
    m_properties = addCommand(QStringLiteral("&Properties..."), QStringLiteral("queueProperties"), QKeySequence(Qt::ALT | Qt::Key_Return));
    m_menu->addSeparator();
    m_reset = addCommand(QStringLiteral("R&eset Queue"), QStringLiteral("queueReset"));
    m_clear = addCommand(QStringLiteral("&Clear Queue"), QStringLiteral("queueClear"));
    m_menu->addSeparator();
    m_selectAll = addCommand(QStringLiteral("Select &All"), QStringLiteral("queueSelectAll"), QKeySequence::SelectAll);
    m_copyUrl = addCommand(QStringLiteral("Copy UR&L"), QStringLiteral("queueCopyUrl"), QKeySequence::Copy);

    connect(m_moveUp, &QAction::triggered, this, [this] { move(QueueMove::Up); });
    connect(m_moveDown, &QAction::triggered, this, [this] { move(QueueMove::Down); });
    connect(m_moveTop, &QAction::triggered, this, [this] { move(QueueMove::Top); });
    connect(m_moveBottom, &QAction::triggered, this, [this] { move(QueueMove::Bottom); });
    connect(m_remove, &QAction::triggered, this, &QueueView::removeSelected);
    connect(m_properties, &QAction::triggered, this, &QueueView::showProperties);
    connect(m_reset, &QAction::triggered, this, &QueueView::resetQueue);
    connect(m_clear, &QAction::triggered, this, &QueueView::clearQueue);
    connect(m_selectAll, &QAction::triggered, this, &QTableView::selectAll);
    connect(m_copyUrl, &QAction::triggered, this, &QueueView::copyUrl);
    connect(this, &QAbstractItemView::doubleClicked, this, &QueueView::showProperties);
    connect(m_model, &QAbstractItemModel::rowsRemoved, this, &QueueView::updateActions);
    connect(m_model, &QAbstractItemModel::rowsInserted, this, &QueueView::updateActions);
    connect(m_model, &QAbstractItemModel::modelReset, this, &QueueView::updateActions);
    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this, &QueueView::updateActions);
    updateActions();
}

QAction* QueueView::addCommand(const QString& text, const QString& name, const QKeySequence& shortcut)
{
    QAction* action = m_menu->addAction(text);
    action->setObjectName(name);
    if (!shortcut.isEmpty()) {
        action->setShortcut(shortcut);
        action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        addAction(action); // the keys work while the view has the focus
    }
    return action;
}

void QueueView::setSession(OpenSession* session)
{
    if (m_dialog)
        m_dialog->reject();
    m_model->setSession(session);
    updateActions();
}

OpenSession* QueueView::session() const
{
    return m_model->session();
}

std::vector<QueueEntryId> QueueView::selectedEntries() const
{
    QModelIndexList rows = selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end(), [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    std::vector<QueueEntryId> entries;
    entries.reserve(std::size_t(rows.size()));
    for (const QModelIndex& row : rows)
        entries.push_back(m_model->entryAt(row.row()));
    return entries;
}

void QueueView::selectEntries(const std::vector<QueueEntryId>& entries)
{
    QItemSelection selection;
    for (QueueEntryId entry : entries) {
        if (const int row = m_model->rowOf(entry); row >= 0)
            selection.select(m_model->index(row, 0), m_model->index(row, QueueModel::ColumnCount - 1));
    }
    selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
}

void QueueView::move(QueueMove how)
{
    QueueAccess* access = m_model->access();
    const std::vector<QueueEntryId> entries = selectedEntries();
    if (!access || entries.empty())
        return;
    // The selection follows the entries to their new places.
    access->move(entries, how);
    m_model->refresh();
    if (const int row = m_model->rowOf(entries.front()); row >= 0)
        scrollTo(m_model->index(row, 0));
}

void QueueView::removeSelected()
{
    if (QueueAccess* access = m_model->access()) {
        access->remove(selectedEntries());
        m_model->refresh();
    }
}

void QueueView::clearQueue()
{
    OpenSession* shown = session();
    if (!shown)
        return;
    m_model->access()->clear();
    m_model->refresh();
    if (!shown->session().HasThread())
        emit queueOfClosedSessionCleared(shown);
}

void QueueView::resetQueue()
{
    if (QueueAccess* access = m_model->access()) {
        access->reset(true);
        m_model->refresh();
    }
}

void QueueView::copyUrl()
{
    OpenSession* shown = session();
    const std::vector<QueueEntryId> entries = selectedEntries();
    if (!shown || entries.empty())
        return;
    const std::optional<CQueueEntry> entry = m_model->access()->find(entries.front());
    if (!entry)
        return;
    std::string path = entry->remotePath;
    if (path.empty() || path.front() != '/')
        path.insert(path.begin(), '/');
    const QString url =
        QStringLiteral("ftp://") + DisplayText(UrlHostPort(shown->site().address, shown->site().port)) + DisplayText(path);
    auto* data = new QMimeData;
    data->setText(url);
    data->setData(QStringLiteral("application/x-tollvane-url"), url.toUtf8());
    QApplication::clipboard()->setMimeData(data);
}

void QueueView::showProperties()
{
    QueueAccess* access = m_model->access();
    const std::vector<QueueEntryId> entries = selectedEntries();
    if (!access || entries.empty() || m_dialog)
        return;
    const QueueEntryId target = entries.front();
    const std::optional<CQueueEntry> entry = access->find(target);
    if (!entry)
        return;
    auto* dialog = new QueueEntryDialog(QueueEntryFields::From(*entry), this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    m_dialog = dialog;
    OpenSession* shown = session();
    connect(dialog, &QDialog::finished, this, [this] { m_dialog.clear(); });
    connect(dialog, &QDialog::accepted, this, [this, dialog, target, shown] {
        // The shown session may have changed meanwhile; then the dialog was closed.
        if (session() != shown || !m_model->access())
            return;
        const QueueEntryFields fields = dialog->fields();
        switch (m_model->access()->edit(target, [&](CQueueEntry& e) { fields.applyTo(e); })) {
        case QueueAccess::EditResult::Written:
            m_model->markStale(target);
            m_model->refresh();
            break;
        case QueueAccess::EditResult::Gone:
            emit message(QStringLiteral("The entry was finished or removed while its properties were open; "
                                        "nothing was changed."));
            break;
        case QueueAccess::EditResult::Transferring:
            emit message(QStringLiteral("The entry is being transferred; its properties were not changed."));
            break;
        }
    });
    dialog->open();
}

void QueueView::tick()
{
    m_model->updateProgress();
    updateActions();
}

void QueueView::updateActions()
{
    const int selected = int(selectionModel()->selectedRows().size());
    const bool rows = m_model->rowCount() > 0;
    QueueAccess* access = m_model->access();
    m_copyUrl->setEnabled(selected == 1);
    m_clear->setEnabled(rows);
    for (QAction* action : {m_remove, m_moveUp, m_moveDown, m_moveTop, m_moveBottom, m_properties})
        action->setEnabled(selected > 0);
    m_reset->setEnabled(access && !access->isEmpty());
    m_selectAll->setEnabled(rows);
}

void QueueView::contextMenuEvent(QContextMenuEvent* event)
{
    updateActions();
    m_menu->popup(event->globalPos());
}
