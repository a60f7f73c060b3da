#include "ui/LocalFileModel.h"

#include "listing/PathRules.h"
#include "ui/DisplayText.h"
#include "ui/PaneTimeText.h"

#include <QFileIconProvider>

#include <algorithm>
#include <numeric>

namespace {

const char* const kHeadings[kLocalColumnCount] = {"Name", "Size", "Type", "Modified"};

} // namespace

LocalFileModel::LocalFileModel(QObject* parent) : QAbstractTableModel(parent)
{
    QFileIconProvider icons;
    m_folderIcon = icons.icon(QFileIconProvider::Folder);
    m_fileIcon = icons.icon(QFileIconProvider::File);
    m_linkIcon = QIcon::fromTheme(QStringLiteral("emblem-symbolic-link"), m_fileIcon);
}

void LocalFileModel::setEntries(const std::string& folder, std::vector<FILE_DATA> entries)
{
    beginResetModel();
    m_folder = folder;
    m_entries = std::move(entries);
    m_order.resize(m_entries.size());
    std::iota(m_order.begin(), m_order.end(), 0u);
    sortOrderVector();
    endResetModel();
}

int LocalFileModel::rowOfName(const std::string& name) const
{
    for (std::size_t row = 0; row < m_order.size(); ++row) {
        if (m_entries[m_order[row]].strName == name)
            return static_cast<int>(row);
    }
    return -1;
}

std::string LocalFileModel::fullPath(int row) const
{
    return JoinPath(m_folder, entry(row).strName);
}

int LocalFileModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_order.size());
}

int LocalFileModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : kLocalColumnCount;
}

QVariant LocalFileModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const FILE_DATA& e = entry(index.row());
    switch (role) {
    case Qt::DisplayRole:
        switch (index.column()) {
        case COLUMN_NAME: return DisplayText(e.strName);
        case COLUMN_SIZE: return QString::fromStdString(FormatFileSize(e.nFileSizeHigh, e.nFileSizeLow));
        case COLUMN_TYPE: return DisplayText(EntryTypeText(e.strName, e.bDirectory));
        case COLUMN_MODIFIED: return LocalTimeText(e.ftModified);
        default: return {};
        }
    case Qt::EditRole:
        return index.column() == COLUMN_NAME ? DisplayText(e.strName) : QVariant();
    case Qt::DecorationRole:
        if (index.column() == COLUMN_NAME)
            return e.bDirectory ? m_folderIcon : (e.bLink ? m_linkIcon : m_fileIcon);
        return {};
    case Qt::TextAlignmentRole:
        return index.column() == COLUMN_SIZE ? QVariant(Qt::AlignRight | Qt::AlignVCenter)
                                             : QVariant(Qt::AlignLeft | Qt::AlignVCenter);
    case DirectoryRole:
        return e.bDirectory;
    default:
        return {};
    }
}

QVariant LocalFileModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= kLocalColumnCount)
        return {};
    if (role == Qt::DisplayRole)
        return QString::fromLatin1(kHeadings[section]);
    if (role == Qt::TextAlignmentRole)
        return section == COLUMN_SIZE ? QVariant(Qt::AlignRight | Qt::AlignVCenter) : QVariant(Qt::AlignLeft | Qt::AlignVCenter);
    return {};
}

Qt::ItemFlags LocalFileModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::ItemIsDropEnabled;
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled;
    if (index.column() == COLUMN_NAME)
        flags |= Qt::ItemIsEditable;
    if (entry(index.row()).bDirectory)
        flags |= Qt::ItemIsDropEnabled;
    return flags;
}

void LocalFileModel::sort(int column, Qt::SortOrder order)
{
    if (column < 0 || column >= kLocalColumnCount)
        return;
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    // Persistent indexes (the selection, the current row) follow their records.
    const QModelIndexList before = persistentIndexList();
    std::vector<std::uint32_t> records;
    records.reserve(static_cast<std::size_t>(before.size()));
    for (const QModelIndex& index : before)
        records.push_back(m_order[static_cast<std::size_t>(index.row())]);
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

bool LocalFileModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (role != Qt::EditRole || !index.isValid() || index.column() != COLUMN_NAME || index.row() >= rowCount())
        return false;
    emit renameRequested(entry(index.row()).strName, value.toString());
    return false;
}

void LocalFileModel::sortOrderVector()
{
    const int direction = m_sortOrder == Qt::AscendingOrder ? 1 : -1;
    const int column = m_sortColumn;
    std::stable_sort(m_order.begin(), m_order.end(), [&](std::uint32_t a, std::uint32_t b) {
        return CompareLocalEntries(m_entries[a], m_entries[b], column, direction) < 0;
    });
}
