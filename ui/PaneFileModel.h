#pragma once
// What the remote and the local pane's models share: rows map to records through an order
// vector, so a re-sort moves 4-byte indexes, never the records, and a folder of 100,000
// entries stays quick; headings, alignment, flags, the selection following its records
// through a re-sort, and an in-place name edit turned into a rename request. A subclass
// owns the records and says how to show and compare them.

#include "listing/EntryOrder.h"

#include <QAbstractTableModel>
#include <QIcon>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

class PaneFileModel : public QAbstractTableModel {
    Q_OBJECT
public:
    PaneFileModel(int columns, QObject* parent = nullptr);

    const std::string& folder() const { return m_folder; }
    // The row of the entry of exactly that name (bytes), or -1.
    int rowOfName(const std::string& name) const;
    // The full path of a row: the folder joined with its name.
    std::string fullPath(int row) const;
    const std::string& nameAt(int row) const { return recordName(recordOf(row)); }
    bool isDirectoryAt(int row) const { return recordIsDirectory(recordOf(row)); }
    int sortColumn() const { return m_sortColumn; }
    Qt::SortOrder sortOrder() const { return m_sortOrder; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;
    // An in-place edit of a name asks for a rename; the row changes once it is done.
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;

    // Role of a row's directory flag (bool).
    static constexpr int DirectoryRole = Qt::UserRole + 1;

signals:
    void renameRequested(const std::string& oldName, const QString& newName);

protected:
    std::uint32_t recordOf(int row) const { return m_order[static_cast<std::size_t>(row)]; }
    // Called between beginResetModel and endResetModel once the subclass holds `count`
    // new records of `folder`: the rows are the records in the current sort order.
    void resetRows(const std::string& folder, std::size_t count);

    // Stable sort of record indexes with a listing comparison (sign of compare(a, b,
    // column, direction)).
    template <class Records, class Compare>
    static void SortRecords(std::vector<std::uint32_t>& order, const Records& records, Compare compare, int column,
                            int direction)
    {
        std::stable_sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
            return compare(records[a], records[b], column, direction) < 0;
        });
    }

    QIcon m_folderIcon;
    QIcon m_fileIcon;

private:
    virtual const std::string& recordName(std::uint32_t record) const = 0;
    virtual bool recordIsDirectory(std::uint32_t record) const = 0;
    virtual QVariant recordText(std::uint32_t record, int column) const = 0;
    virtual QIcon recordIcon(std::uint32_t record) const = 0;
    virtual void sortRecords(std::vector<std::uint32_t>& order, int column, int direction) const = 0;
    void sortOrderVector();

    const int m_columns;
    std::string m_folder;
    std::vector<std::uint32_t> m_order;
    int m_sortColumn = COLUMN_NAME;
    Qt::SortOrder m_sortOrder = Qt::AscendingOrder;
};
