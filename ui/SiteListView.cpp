#include "ui/SiteListView.h"

#include "ui/DisplayText.h"
#include "ui/OpenSession.h"
#include "ui/SessionList.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QMenu>
#include <QMessageBox>

#include <algorithm>

namespace {

constexpr int kSessionRole = Qt::UserRole + 1;
constexpr int kHostRole = Qt::UserRole + 2;

// Rows sort by the session's host address, whatever state they show.
class SiteListItem : public QListWidgetItem {
public:
    using QListWidgetItem::QListWidgetItem;
    bool operator<(const QListWidgetItem& other) const override
    {
        return data(kHostRole).toString() < other.data(kHostRole).toString();
    }
};

} // namespace

QString SiteListView::stateText(const OpenSession& open)
{
    const CFtpSession& session = open.session();
    const bool queued = !session.Queue().IsEmpty();
    if (!session.HasThread())
        return queued ? QStringLiteral("queue waiting") : QStringLiteral("offline");
    if (session.IsTransferring())
        return QStringLiteral("transferring");
    if (!session.IsConnected())
        return QStringLiteral("connecting");
    if (session.IsBusy())
        return QStringLiteral("busy");
    return queued ? QStringLiteral("queue waiting") : QStringLiteral("idle");
}

SiteListView::SiteListView(SessionList& sessions, QWidget* parent) : QListWidget(parent), m_sessions(sessions)
{
    setObjectName(QStringLiteral("siteList"));
    setAccessibleName(QStringLiteral("Site list"));
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSortingEnabled(true);
    setUniformItemSizes(true);

    m_menu = new QMenu(QStringLiteral("RemoteSite"), this);
    m_menu->setAccessibleName(QStringLiteral("RemoteSite"));
    auto command = [this](const QString& text, const QString& name) {
        QAction* action = m_menu->addAction(text);
        action->setObjectName(name);
        return action;
    };
    m_start = command(QStringLiteral("&Start"), QStringLiteral("siteStart"));
    m_stop = command(QStringLiteral("S&top"), QStringLiteral("siteStop"));
    m_menu->addSeparator();
    m_saveQueue = command(QStringLiteral("Save &Queue As Job..."), QStringLiteral("siteSaveQueue"));
    m_saveAll = command(QStringLiteral("Save &All Queues As Job.."), QStringLiteral("siteSaveAllQueues"));
    m_importJob = command(QStringLiteral("&Import Job..."), QStringLiteral("siteImportJob"));
    m_menu->addSeparator();
    m_delete = command(QStringLiteral("&Delete"), QStringLiteral("siteDelete"));
    m_delete->setShortcut(QKeySequence::Delete);
    m_selectAll = command(QStringLiteral("Select A&ll"), QStringLiteral("siteSelectAll"));
    m_selectAll->setShortcut(QKeySequence::SelectAll);
    for (QAction* keyed : {m_delete, m_selectAll}) {
        keyed->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        addAction(keyed);
    }
    connect(m_start, &QAction::triggered, this, &SiteListView::startSelected);
    connect(m_stop, &QAction::triggered, this, &SiteListView::stopSelected);
    connect(m_saveQueue, &QAction::triggered, this, [this] { emit saveQueuesRequested(true); });
    connect(m_saveAll, &QAction::triggered, this, [this] { emit saveQueuesRequested(false); });
    connect(m_importJob, &QAction::triggered, this, &SiteListView::importJobRequested);
    connect(m_delete, &QAction::triggered, this, &SiteListView::askDeleteSelected);
    connect(m_selectAll, &QAction::triggered, this, &SiteListView::selectAllSessions);

    for (const auto& session : sessions.sessions())
        addSession(session.get());
    connect(&sessions, &SessionList::sessionAdded, this, &SiteListView::addSession);
    connect(&sessions, &SessionList::sessionRemoved, this, &SiteListView::removeSession);
    connect(&sessions, &SessionList::activeChanged, this, [this](OpenSession* active) {
        if (active && !m_selecting)
            selectSession(active, true);
    });
    connect(this, &QListWidget::currentItemChanged, this, &SiteListView::focusChanged);
    connect(this, &QListWidget::itemSelectionChanged, this, &SiteListView::updateActions);
    if (sessions.active())
        selectSession(sessions.active(), true);
    updateActions();
}

void SiteListView::addSession(OpenSession* session)
{
    if (rowOf(session) >= 0)
        return;
    auto* item = new SiteListItem;
    item->setData(kSessionRole, QVariant::fromValue(static_cast<void*>(session)));
    item->setData(kHostRole, DisplayText(session->session().HostName()));
    addItem(item); // sorted into place
    refreshStates();
    if (count() == 1)
        selectSession(session, true);
}

void SiteListView::removeSession(OpenSession* session)
{
    const int row = rowOf(session);
    if (row < 0)
        return;
    if (m_shown == session) {
        m_shown = nullptr;
        emit shownSessionChanged(nullptr);
    }
    delete takeItem(row);
    focusChanged();
}

OpenSession* SiteListView::sessionAt(int row) const
{
    const QListWidgetItem* entry = item(row);
    return entry ? static_cast<OpenSession*>(entry->data(kSessionRole).value<void*>()) : nullptr;
}

int SiteListView::rowOf(const OpenSession* session) const
{
    for (int row = 0; row < count(); ++row)
        if (sessionAt(row) == session)
            return row;
    return -1;
}

std::vector<OpenSession*> SiteListView::selectedSessions() const
{
    std::vector<OpenSession*> sessions;
    for (int row = 0; row < count(); ++row)
        if (item(row)->isSelected())
            sessions.push_back(sessionAt(row));
    return sessions;
}

OpenSession* SiteListView::focusedSession() const
{
    return currentRow() >= 0 ? sessionAt(currentRow()) : nullptr;
}

void SiteListView::selectSession(OpenSession* session, bool notify)
{
    const int row = rowOf(session);
    if (row < 0)
        return;
    const bool wasSelecting = m_selecting;
    m_selecting = !notify;
    setCurrentRow(row, QItemSelectionModel::ClearAndSelect);
    m_selecting = wasSelecting;
    if (notify)
        focusChanged();
}

void SiteListView::focusChanged()
{
    if (m_selecting)
        return;
    OpenSession* focused = focusedSession();
    if (focused == m_shown)
        return;
    m_shown = focused;
    emit shownSessionChanged(focused);
    // An open site (one with a running session) becomes the one the frame acts on; a site
    // kept only for its queue just shows its queue.
    if (focused && focused->session().HasThread()) {
        m_selecting = true;
        m_sessions.setActive(focused);
        m_selecting = false;
    }
    updateActions();
}

bool SiteListView::canStart() const
{
    const auto sessions = selectedSessions();
    return std::any_of(sessions.begin(), sessions.end(), [](OpenSession* s) { return s->session().CanStartQueue(); });
}

bool SiteListView::canStop() const
{
    const auto sessions = selectedSessions();
    return std::any_of(sessions.begin(), sessions.end(), [](OpenSession* s) { return s->session().IsBusy(); });
}

void SiteListView::startQueues(const std::vector<OpenSession*>& sessions)
{
    // A session without a worker is opened by the session list's open handler first.
    for (OpenSession* session : sessions)
        if (session->session().CanStartQueue())
            session->session().StartQueue();
}

void SiteListView::startSelected()
{
    startQueues(selectedSessions());
    refreshStates();
}

void SiteListView::stopSelected()
{
    for (OpenSession* session : selectedSessions())
        if (session->session().IsBusy())
            session->session().CancelOperation();
    refreshStates();
}

void SiteListView::askDeleteSelected()
{
    if (selectedSessions().empty() || m_deleteQuestion)
        return;
    auto* box = new QMessageBox(QMessageBox::Question, QStringLiteral("Tollvane"),
                                QStringLiteral("Are you sure to clear entire queue and close session for the selected sites?"),
                                QMessageBox::Ok | QMessageBox::Cancel, this);
    box->setTextFormat(Qt::PlainText);
    box->setObjectName(QStringLiteral("deleteSitesQuestion"));
    box->setAccessibleName(QStringLiteral("Close sessions"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    connect(box, &QMessageBox::accepted, this, &SiteListView::deleteSelected);
    m_deleteQuestion = box;
    box->open();
}

void SiteListView::deleteSelected()
{
    const std::vector<OpenSession*> doomed = selectedSessions();
    if (doomed.empty())
        return;
    const int lastRow = rowOf(doomed.back());
    for (OpenSession* session : doomed) {
        m_sessions.remove(session); // the sessionRemoved signal takes its row
    }
    if (count() > 0)
        selectSession(sessionAt(std::min(lastRow - int(doomed.size()) + 1, count() - 1)), true);
    updateActions();
}

void SiteListView::selectAllSessions()
{
    if (count() == 0)
        return;
    m_selecting = true;
    setCurrentRow(count() - 1, QItemSelectionModel::NoUpdate);
    m_selecting = false;
    selectAll();
    focusChanged();
}

void SiteListView::refreshStates()
{
    for (int row = 0; row < count(); ++row) {
        QListWidgetItem* entry = item(row);
        const OpenSession* session = sessionAt(row);
        const QString host = entry->data(kHostRole).toString();
        const QString text = QStringLiteral("%1 (%2)").arg(host, stateText(*session));
        if (entry->text() != text) {
            entry->setText(text);
            entry->setToolTip(text);
            entry->setData(Qt::AccessibleTextRole, text);
        }
    }
}

void SiteListView::updateActions()
{
    m_start->setEnabled(canStart());
    m_stop->setEnabled(canStop());
    m_saveAll->setEnabled(count() > 0);
    m_saveQueue->setEnabled(!selectedSessions().empty());
    m_delete->setEnabled(!selectedSessions().empty());
    m_selectAll->setEnabled(count() > 0);
}

void SiteListView::contextMenuEvent(QContextMenuEvent* event)
{
    QListWidgetItem* hit = itemAt(event->pos());
    if (hit && !hit->isSelected())
        selectSession(sessionAt(row(hit)), true);
    updateActions();
    m_saveQueue->setEnabled(hit != nullptr);
    m_delete->setEnabled(hit != nullptr);
    m_menu->popup(event->globalPos());
}
