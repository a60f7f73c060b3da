#include "ui/PaneFileModel.h"

#include "listing/PathRules.h"

#include <QFileIconProvider>

#include <numeric>

namespace {

const char* const kHeadings[kRemoteColumnCount] = {"Name", "Size", "Type", "Modified", "Attribute", "Description"};

QVariant Alignment(int column)
{
    return column == COLUMN_SIZE ? QVariant(Qt::AlignRight | Qt::AlignVCenter) : QVariant(Qt::AlignLeft | Qt::AlignVCenter);
}

} // namespace

PaneFileModel::PaneFileModel(int columns, QObject* parent) : QAbstractTableModel(parent), m_columns(columns)
{
    QFileIconProvider icons;
    m_folderIcon = icons.icon(QFileIconProvider::Folder);
    m_fileIcon = icons.icon(QFileIconProvider::File);
}

void PaneFileModel::resetRows(const std::string& folder, std::size_t count)
{
    m_folder = folder;
    m_order.resize(count);
    std::iota(m_order.begin(), m_order.end(), 0u);
    sortOrderVector();
}

int PaneFileModel::rowOfName(const std::string& name) const
{
    for (std::size_t row = 0; row < m_order.size(); ++row) {
        if (recordName(m_order[row]) == name)
            return static_cast<int>(row);
    }
    return -1;
}

std::string PaneFileModel::fullPath(int row) const
{
    return JoinPath(m_folder.empty() ? std::string("/") : m_folder, nameAt(row));
}

int PaneFileModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_order.size());
}

int PaneFileModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_columns;
}

QVariant PaneFileModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount() || index.column() >= m_columns)
        return {};
    const std::uint32_t record = recordOf(index.row());
    switch (role) {
    case Qt::DisplayRole:
        return recordText(record, index.column());
    case Qt::EditRole:
        return index.column() == COLUMN_NAME ? recordText(record, COLUMN_NAME) : QVariant();
    case Qt::DecorationRole:
        return index.column() == COLUMN_NAME ? QVariant(recordIcon(record)) : QVariant();
    case Qt::TextAlignmentRole:
        return Alignment(index.column());
    case DirectoryRole:
        return recordIsDirectory(record);
    default:
        return {};
    }
}

QVariant PaneFileModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= m_columns)
        return {};
    if (role == Qt::DisplayRole)
        return QString::fromLatin1(kHeadings[section]);
    if (role == Qt::TextAlignmentRole)
        return Alignment(section);
    return {};
}

Qt::ItemFlags PaneFileModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::ItemIsDropEnabled;
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled;
    if (index.column() == COLUMN_NAME)
        flags |= Qt::ItemIsEditable;
    if (isDirectoryAt(index.row()))
        flags |= Qt::ItemIsDropEnabled;
    return flags;
}

void PaneFileModel::sort(int column, Qt::SortOrder order)
{
    if (column < 0 || column >= m_columns)
        return;
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    // Persistent indexes (the selection, the current row) follow their records.
    const QModelIndexList before = persistentIndexList();
    std::vector<std::uint32_t> records;
    records.reserve(static_cast<std::size_t>(before.size()));
    for (const QModelIndex& index : before)
        records.push_back(recordOf(index.row()));
    m_sortColumn = column;
    m_sortOrder = order;
    sortOrderVector();
    std::vector<int> rowOfRecord(m_order.size());
    for (std::size_t row = 0; row < m_order.size(); ++row)
        rowOfRecord[m_order[row]] = static_cast<int>(row);
    QModelIndexList after;
    after.reserve(before.size());
    for (qsizetype i = 0; i < before.size(); ++i)
        after.push_back(index(rowOfRecord[records[static_cast<std::size_t>(i)]], before[i].column()));
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

bool PaneFileModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (role != Qt::EditRole || !index.isValid() || index.column() != COLUMN_NAME || index.row() >= rowCount())
        return false;
    emit renameRequested(nameAt(index.row()), value.toString());
    return false;
}

void PaneFileModel::sortOrderVector()
{
    sortRecords(m_order, m_sortColumn, m_sortOrder == Qt::AscendingOrder ? 1 : -1);
}
