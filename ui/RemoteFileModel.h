#pragma once
// The entries of one remote folder as the remote pane shows them: six columns (name,
// size, type, modified, attribute, description) over the parsed records, sorted with the
// listing's own comparisons. Rows map to records through an order vector, so a re-sort
// moves 4-byte indexes, never the records, and a folder of 100,000 entries stays quick.

#include "listing/EntryOrder.h"
#include "listing/RemoteFileData.h"

#include <QAbstractTableModel>
#include <QIcon>

#include <cstdint>
#include <string>
#include <vector>

class RemoteFileModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit RemoteFileModel(QObject* parent = nullptr);

    // The one place a received listing enters the pane: the folder the worker listed and
    // the listing text it received. Parsed line by line as the cache reads it; "." and
    // ".." are dropped; then sorted.
    void receiveListing(const std::string& folder, const std::string& listingText);
    // A folder's entries from anywhere else (the directory cache).
    void setEntries(const std::string& folder, std::vector<RFILE_DATA> entries);
    // Reads a list file of the directory cache; false when it cannot be read.
    bool loadListFile(const std::string& folder, const std::string& listFile);
    void clear();

    const std::string& folder() const { return m_folder; }
    const RFILE_DATA& entry(int row) const { return m_entries[m_order[static_cast<std::size_t>(row)]]; }
    // The row of the entry of exactly that name (bytes), or -1.
    int rowOfName(const std::string& name) const;
    // The full remote path of a row: the folder joined with its name.
    std::string fullPath(int row) const;
    int sortColumn() const { return m_sortColumn; }
    Qt::SortOrder sortOrder() const { return m_sortOrder; }

    // QAbstractTableModel
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

private:
    void sortOrderVector();

    std::string m_folder;
    std::vector<RFILE_DATA> m_entries;
    std::vector<std::uint32_t> m_order;
    int m_sortColumn = COLUMN_NAME;
    Qt::SortOrder m_sortOrder = Qt::AscendingOrder;
    QIcon m_folderIcon;
    QIcon m_fileIcon;
};
