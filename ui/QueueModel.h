#pragma once
// The rows of the queue view: one per entry of the shown session's queue, in queue order,
// each naming its entry by identity (QueueAccess). refresh() reads the queue again and
// turns the difference into row removals, a reorder, row insertions and changed cells,
// so the view keeps its selection and scroll position and repaints only what changed
// while a run works through the queue. The entry being transferred shows its progress,
// read from the session's counters on the 500 ms tick.

#include "ui/QueueAccess.h"

#include <QAbstractTableModel>
#include <QElapsedTimer>
#include <QTimer>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

class OpenSession;

class QueueModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { ServerPath, Operation, ClientPath, Size, Status, Pattern, UpdateOnly, ColumnCount };
    static constexpr std::array<int, ColumnCount> kColumnWidths = {200, 100, 200, 100, 80, 100, 100};
    // How long queue changes are collected before the rows are brought up to date (at
    // least; longer for a queue that takes long to read).
    static constexpr int kRefreshDelayMs = 100;
    // The Status cell of the transferring row: its percentage (int, 0-100) when the size is
    // known; the view draws it as a bar, the whole progress text stays the cell's text.
    static constexpr int ProgressPercentRole = Qt::UserRole + 1;

    explicit QueueModel(QObject* parent = nullptr);
    ~QueueModel() override;

    // The session whose queue is shown; null: none (no rows).
    void setSession(OpenSession* session);
    OpenSession* session() const { return m_session; }
    // The queue of the shown session; null without one.
    QueueAccess* access() const { return m_access.get(); }

    // Reads the queue again now.
    void refresh();
    // Reads it again soon: many changes in a short time cost one refresh.
    void scheduleRefresh();
    bool refreshPending() const { return m_refreshTimer.isActive(); }
    // The 500 ms tick: the transferring row's progress.
    void updateProgress();

    // The entry was edited in place: its row is read again at the next refresh.
    void markStale(QueueEntryId entry);

    // The entry shown in `row`; 0 (no identity the queue gives) outside the rows.
    QueueEntryId entryAt(int row) const;
    // The row of the entry, -1 when it is not shown.
    int rowOf(QueueEntryId entry) const;
    // The entry's status as last read.
    int statusAt(int row) const;
    // The progress text of the transferring row (empty when nothing is transferring).
    QString progressText() const { return m_progressText; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    struct Row {
        QueueEntryId entry = 0;
        std::string remotePath;
        std::string localPath;
        std::string pattern;
        int operation = 0;
        int status = 0;
        int updateOnly = 0;
        bool sizeUnknown = false;
        bool stale = false; // read it again at the next refresh
        std::uint64_t size = 0;

        static Row From(QueueEntryId ref, const CQueueEntry& entry);
        bool SameAs(const CQueueEntry& entry) const;
        bool SameAs(const Row& other) const;
    };
    QString cellText(const Row& row, int column) const;
    // The row of each entry, built when first needed after the rows changed.
    const std::unordered_map<QueueEntryId, int>& rowsByEntry() const;

    OpenSession* m_session = nullptr;
    std::unique_ptr<QueueAccess> m_access;
    std::vector<Row> m_rows;
    mutable std::unordered_map<QueueEntryId, int> m_index;
    mutable bool m_indexValid = true;
    QTimer m_refreshTimer;

    // Progress of the transferring entry.
    QueueEntryId m_progressEntry = 0; // 0: none
    QString m_progressText;
    int m_progressPercent = -1; // -1: not known
    std::uint64_t m_lastBytes = 0;
    QElapsedTimer m_rateClock;
    double m_rateKBps = -1;
};
