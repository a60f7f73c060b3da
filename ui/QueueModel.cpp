#include "ui/QueueModel.h"

#include "session/QueueColumns.h"
#include "ui/DisplayText.h"
#include "ui/OpenSession.h"

#include <algorithm>
#include <unordered_set>

QueueModel::QueueModel(QObject* parent) : QAbstractTableModel(parent)
{
    m_refreshTimer.setSingleShot(true);
    m_refreshTimer.setInterval(kRefreshDelayMs);
    connect(&m_refreshTimer, &QTimer::timeout, this, &QueueModel::refresh);
}

QueueModel::~QueueModel() = default;

QueueModel::Row QueueModel::Row::From(QueueEntryId ref, const CQueueEntry& entry)
{
    Row row;
    row.entry = ref;
    row.remotePath = entry.remotePath;
    row.localPath = entry.localPath;
    row.pattern = entry.pattern;
    row.operation = entry.operation;
    row.status = entry.status;
    row.updateOnly = entry.updateOnly;
    row.sizeUnknown = entry.SizeUnknown();
    row.size = entry.Size();
    return row;
}

bool QueueModel::Row::SameAs(const CQueueEntry& entry) const
{
    // Texts change in place only through Properties, which marks its row stale; comparing
    // their lengths catches any other edit cheaply without reading 100,000 paths each time.
    return !stale && status == entry.status && operation == entry.operation && updateOnly == entry.updateOnly &&
           size == entry.Size() && sizeUnknown == entry.SizeUnknown() &&
           remotePath.size() == entry.remotePath.size() && localPath.size() == entry.localPath.size() &&
           pattern.size() == entry.pattern.size();
}

bool QueueModel::Row::SameAs(const Row& other) const
{
    return status == other.status && operation == other.operation && updateOnly == other.updateOnly &&
           size == other.size && sizeUnknown == other.sizeUnknown && remotePath == other.remotePath &&
           localPath == other.localPath && pattern == other.pattern;
}

void QueueModel::setSession(OpenSession* session)
{
    if (m_session == session) {
        refresh();
        return;
    }
    if (m_session)
        disconnect(&m_session->bridge(), nullptr, this, nullptr);
    m_refreshTimer.stop();
    beginResetModel();
    m_session = session;
    m_access = session ? std::make_unique<QueueAccess>(session->session()) : nullptr;
    m_rows.clear();
    m_index.clear();
    m_indexValid = true;
    m_progressEntry = 0;
    m_progressText.clear();
    m_progressPercent = -1;
    endResetModel();
    if (session) {
        QtSessionUi* bridge = &session->bridge();
        connect(bridge, &QtSessionUi::queueChanged, this, &QueueModel::scheduleRefresh);
        connect(bridge, &QtSessionUi::queueEntryStarted, this, &QueueModel::scheduleRefresh);
        connect(bridge, &QtSessionUi::queueRunFinished, this, &QueueModel::scheduleRefresh);
        refresh();
    }
}

void QueueModel::scheduleRefresh()
{
    if (!m_refreshTimer.isActive())
        m_refreshTimer.start();
}

void QueueModel::refresh()
{
    m_refreshTimer.stop();
    if (!m_access)
        return;
    QElapsedTimer cost;
    cost.start();

    // One locked pass: the identities in queue order; a copy only of what may be new or
    // changed. Rows are matched walking along the old order (a run takes entries off the
    // top, the user appends), so the usual refresh needs no lookup table.
    struct Fresh {
        QueueEntryId entry;
        int oldRow;   // -1: new (or not matched yet)
        int data;     // index into `copies` for a new or changed entry, else -1
    };
    std::vector<Fresh> fresh;
    std::vector<Row> copies;
    fresh.reserve(m_rows.size() + 16);
    std::vector<char> kept(m_rows.size(), 0);
    std::size_t cursor = 0;
    constexpr std::size_t kWindow = 64;
    m_access->forEach([&](const CQueueEntry& entry) {
        const QueueEntryId ref = entry.id;
        const std::size_t end = std::min(m_rows.size(), cursor + kWindow);
        for (std::size_t k = cursor; k < end; ++k) {
            if (m_rows[k].entry != ref)
                continue;
            cursor = k + 1;
            kept[k] = 1;
            if (m_rows[k].SameAs(entry)) {
                fresh.push_back({ref, int(k), -1});
            } else {
                fresh.push_back({ref, int(k), int(copies.size())});
                copies.push_back(Row::From(ref, entry));
            }
            return;
        }
        fresh.push_back({ref, -1, int(copies.size())});
        copies.push_back(Row::From(ref, entry));
    });
    // Entries not met along the way are new or were moved: look them up among the rows
    // that were not matched (few, unless the order changed).
    if (!copies.empty() && !m_rows.empty()) {
        std::unordered_map<QueueEntryId, int> unmatched;
        for (std::size_t k = 0; k < m_rows.size(); ++k)
            if (!kept[k])
                unmatched.emplace(m_rows[k].entry, int(k));
        if (!unmatched.empty()) {
            for (Fresh& f : fresh) {
                if (f.oldRow >= 0)
                    continue;
                const auto it = unmatched.find(f.entry);
                if (it == unmatched.end())
                    continue;
                f.oldRow = it->second;
                kept[std::size_t(it->second)] = 1;
                if (m_rows[std::size_t(it->second)].SameAs(copies[std::size_t(f.data)]))
                    f.data = -1;
            }
        }
    }
    bool rowsChanged = false;

    // 1. Rows whose entry left the queue go, bottom up in contiguous ranges.
    for (int last = int(m_rows.size()) - 1; last >= 0;) {
        if (kept[std::size_t(last)]) {
            --last;
            continue;
        }
        int first = last;
        while (first > 0 && !kept[std::size_t(first - 1)])
            --first;
        beginRemoveRows({}, first, last);
        m_rows.erase(m_rows.begin() + first, m_rows.begin() + last + 1);
        m_indexValid = false;
        rowsChanged = true;
        endRemoveRows();
        last = first - 1;
    }

    // 2. The rows that stay take the queue's order (a move): one layout change that
    // carries the selection along by identity.
    std::vector<QueueEntryId> keptOrder;
    keptOrder.reserve(m_rows.size());
    for (const Fresh& f : fresh)
        if (f.oldRow >= 0)
            keptOrder.push_back(f.entry);
    bool reordered = false;
    for (std::size_t i = 0; i < keptOrder.size() && !reordered; ++i)
        reordered = m_rows[i].entry != keptOrder[i];
    if (reordered) {
        emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
        std::unordered_map<QueueEntryId, int> newRow;
        newRow.reserve(keptOrder.size());
        for (std::size_t i = 0; i < keptOrder.size(); ++i)
            newRow.emplace(keptOrder[i], int(i));
        std::vector<Row> moved(m_rows.size());
        for (Row& row : m_rows)
            moved[std::size_t(newRow.at(row.entry))] = std::move(row);
        const QModelIndexList persistent = persistentIndexList();
        QModelIndexList to;
        to.reserve(persistent.size());
        for (const QModelIndex& index : persistent)
            to.append(index.isValid() ? createIndex(newRow.at(m_rows[std::size_t(index.row())].entry), index.column())
                                      : QModelIndex());
        m_rows = std::move(moved);
        m_indexValid = false;
        rowsChanged = true;
        changePersistentIndexList(persistent, to);
        emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
    }

    // 3. New entries come in at their places, in runs.
    for (std::size_t i = 0; i < fresh.size();) {
        if (fresh[i].oldRow >= 0) {
            ++i;
            continue;
        }
        std::size_t end = i;
        while (end < fresh.size() && fresh[end].oldRow < 0)
            ++end;
        beginInsertRows({}, int(i), int(end) - 1);
        std::vector<Row> added;
        added.reserve(end - i);
        for (std::size_t k = i; k < end; ++k)
            added.push_back(std::move(copies[std::size_t(fresh[k].data)]));
        m_rows.insert(m_rows.begin() + std::ptrdiff_t(i), std::make_move_iterator(added.begin()),
                      std::make_move_iterator(added.end()));
        m_indexValid = false;
        rowsChanged = true;
        endInsertRows();
        i = end;
    }

    // 4. Changed entries repaint their rows.
    int firstChanged = -1;
    int lastChanged = -1;
    for (std::size_t i = 0; i < fresh.size(); ++i) {
        if (fresh[i].oldRow < 0 || fresh[i].data < 0)
            continue;
        m_rows[i] = std::move(copies[std::size_t(fresh[i].data)]);
        if (firstChanged < 0)
            firstChanged = int(i);
        lastChanged = int(i);
    }
    if (rowsChanged && m_rows.capacity() > 2 * m_rows.size() + 1024)
        m_rows.shrink_to_fit(); // a queue worked through gives its memory back
    if (firstChanged >= 0)
        emit dataChanged(index(firstChanged, 0), index(lastChanged, ColumnCount - 1));
    updateProgress();
    // A long queue costs more to read: changes are then collected for longer, so a busy
    // run never keeps the interface thread more than a fraction of its time.
    m_refreshTimer.setInterval(std::clamp(int(cost.elapsed()) * 4, kRefreshDelayMs, 1000));
}

const std::unordered_map<QueueEntryId, int>& QueueModel::rowsByEntry() const
{
    if (!m_indexValid) {
        m_index.clear();
        m_index.reserve(m_rows.size());
        for (std::size_t i = 0; i < m_rows.size(); ++i)
            m_index.emplace(m_rows[i].entry, int(i));
        m_indexValid = true;
    }
    return m_index;
}

void QueueModel::updateProgress()
{
    QueueEntryId transferring = 0;
    int transferringRow = -1;
    for (std::size_t i = 0; i < m_rows.size(); ++i) {
        if (m_rows[i].status == STATUS_TRANSFERRING) {
            transferring = m_rows[i].entry;
            transferringRow = int(i);
            break;
        }
    }
    QString text;
    int percent = -1;
    if (transferring && m_session) {
        const CFtpSession& session = m_session->session();
        const std::uint64_t done = session.TransferredBytes();
        const std::int64_t total = session.ExpectedTransferSize();
        if (transferring != m_progressEntry || done < m_lastBytes || !m_rateClock.isValid()) {
            m_rateKBps = -1;
            m_rateClock.start();
        } else if (const qint64 elapsed = m_rateClock.elapsed(); elapsed >= 250) {
            m_rateKBps = double(done - m_lastBytes) * 1000.0 / 1024.0 / double(elapsed);
            m_rateClock.start();
        }
        m_lastBytes = done;
        if (session.IsTransferring()) {
            if (total > 0) {
                percent = int(std::min<std::uint64_t>(done, std::uint64_t(total)) * 100 / std::uint64_t(total));
                text = QStringLiteral("%1% ").arg(percent);
            }
            text += QString::fromStdString(DigitsWithCommas(done));
            if (total >= 0)
                text += QLatin1Char('/') + QString::fromStdString(DigitsWithCommas(std::uint64_t(total)));
            if (m_rateKBps >= 0)
                text += QStringLiteral(" %1KB/s").arg(m_rateKBps, 0, 'f', 1);
        }
    }
    // A row that stopped transferring was repainted by the refresh that saw its new status.
    const bool changed = text != m_progressText || transferring != m_progressEntry;
    m_progressEntry = transferring;
    m_progressText = text;
    m_progressPercent = text.isEmpty() ? -1 : percent;
    if (changed && transferringRow >= 0)
        emit dataChanged(index(transferringRow, Status), index(transferringRow, Status));
}

void QueueModel::markStale(QueueEntryId entry)
{
    if (const int row = rowOf(entry); row >= 0)
        m_rows[std::size_t(row)].stale = true;
}

QueueEntryId QueueModel::entryAt(int row) const
{
    return row >= 0 && row < int(m_rows.size()) ? m_rows[std::size_t(row)].entry : 0;
}

int QueueModel::rowOf(QueueEntryId entry) const
{
    if (!entry)
        return -1;
    const auto& rows = rowsByEntry();
    const auto it = rows.find(entry);
    return it == rows.end() ? -1 : it->second;
}

int QueueModel::statusAt(int row) const
{
    return row >= 0 && row < int(m_rows.size()) ? m_rows[std::size_t(row)].status : -1;
}

int QueueModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int QueueModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QString QueueModel::cellText(const Row& row, int column) const
{
    switch (column) {
    case ServerPath: return DisplayText(row.remotePath);
    case Operation: return QString::fromStdString(QueueOperationText(row.operation));
    case ClientPath: return DisplayText(row.localPath);
    case Size:
        return row.sizeUnknown ? QStringLiteral("unknown") : QString::fromStdString(DigitsWithCommas(row.size));
    case Status: {
        QString text = QString::fromStdString(QueueStatusText(row.status));
        if (row.entry == m_progressEntry && !m_progressText.isEmpty())
            text += QLatin1Char(' ') + m_progressText;
        return text;
    }
    case Pattern: return DisplayText(row.pattern);
    case UpdateOnly: return row.updateOnly ? QStringLiteral("true") : QStringLiteral("false");
    default: return {};
    }
}

QVariant QueueModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= int(m_rows.size()))
        return {};
    const Row& row = m_rows[std::size_t(index.row())];
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
    case Qt::AccessibleTextRole:
        return cellText(row, index.column());
    case ProgressPercentRole:
        if (index.column() == Status && row.entry == m_progressEntry && m_progressPercent >= 0)
            return m_progressPercent;
        return {};
    case Qt::TextAlignmentRole:
        if (index.column() == Size)
            return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
        return {};
    default:
        return {};
    }
}

QVariant QueueModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= ColumnCount)
        return QAbstractTableModel::headerData(section, orientation, role);
    if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole)
        return QString::fromLatin1(kQueueColumnNames[std::size_t(section)]);
    return {};
}
