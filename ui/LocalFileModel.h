#pragma once
// The entries of one local folder as the local pane shows them: four columns (name, size,
// type, modified) over the records the folder reader returns, sorted with the listing's
// comparisons through an order vector like the remote pane's model.

#include "listing/EntryOrder.h"
#include "listing/RemoteFileData.h"

#include <QAbstractTableModel>
#include <QIcon>

#include <cstdint>
#include <string>
#include <vector>

class LocalFileModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit LocalFileModel(QObject* parent = nullptr);

    void setEntries(const std::string& folder, std::vector<FILE_DATA> entries);

    const std::string& folder() const { return m_folder; }
    const FILE_DATA& entry(int row) const { return m_entries[m_order[static_cast<std::size_t>(row)]]; }
    int rowOfName(const std::string& name) const;
    std::string fullPath(int row) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;
    // An in-place edit of a name asks for a rename; the row changes once it is done.
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;

    static constexpr int DirectoryRole = Qt::UserRole + 1;

signals:
    void renameRequested(const std::string& oldName, const QString& newName);

private:
    void sortOrderVector();

    std::string m_folder;
    std::vector<FILE_DATA> m_entries;
    std::vector<std::uint32_t> m_order;
    int m_sortColumn = COLUMN_NAME;
    Qt::SortOrder m_sortOrder = Qt::AscendingOrder;
    QIcon m_folderIcon;
    QIcon m_fileIcon;
    QIcon m_linkIcon;
};
