#include "ui/LocalFileModel.h"

#include "ui/DisplayText.h"
#include "ui/PaneTimeText.h"

LocalFileModel::LocalFileModel(QObject* parent) : PaneFileModel(kLocalColumnCount, parent)
{
    m_linkIcon = QIcon::fromTheme(QStringLiteral("emblem-symbolic-link"), m_fileIcon);
}

void LocalFileModel::setEntries(const std::string& folder, std::vector<FILE_DATA> entries)
{
    beginResetModel();
    m_entries = std::move(entries);
    resetRows(folder, m_entries.size());
    endResetModel();
}

QVariant LocalFileModel::recordText(std::uint32_t record, int column) const
{
    const FILE_DATA& e = m_entries[record];
    switch (column) {
    case COLUMN_NAME: return DisplayText(e.strName);
    case COLUMN_SIZE: return QString::fromStdString(FormatFileSize(e.nFileSizeHigh, e.nFileSizeLow));
    case COLUMN_TYPE: return DisplayText(EntryTypeText(e.strName, e.bDirectory));
    case COLUMN_MODIFIED: return LocalTimeText(e.ftModified);
    default: return {};
    }
}

QIcon LocalFileModel::recordIcon(std::uint32_t record) const
{
    const FILE_DATA& e = m_entries[record];
    return e.bDirectory ? m_folderIcon : (e.bLink ? m_linkIcon : m_fileIcon);
}

void LocalFileModel::sortRecords(std::vector<std::uint32_t>& order, int column, int direction) const
{
    SortRecords(order, m_entries, CompareLocalEntries, column, direction);
}
