#include "ui/RemoteFileModel.h"

#include "listing/DirectoryCache.h"
#include "listing/ListingParser.h"
#include "ui/DisplayText.h"
#include "ui/PaneTimeText.h"

#include <string_view>

namespace {

bool IsDotEntry(const std::string& name) { return name == "." || name == ".."; }

} // namespace

RemoteFileModel::RemoteFileModel(QObject* parent) : PaneFileModel(kRemoteColumnCount, parent)
{
}

void RemoteFileModel::receiveListing(const std::string& folder, const std::string& listingText)
{
    std::vector<RFILE_DATA> entries;
    std::string_view rest = listingText;
    while (!rest.empty()) {
        const std::size_t end = rest.find('\n');
        const std::string_view line = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        // Runs of line feeds count as one; only a line of blanks ends the listing.
        if (line.empty())
            continue;
        RFILE_DATA entry;
        const ListLineResult result = ParseListingLine(line, entry);
        if (result == ListLineResult::EndOfListing)
            break;
        if (result == ListLineResult::Entry && !IsDotEntry(entry.strName))
            entries.push_back(std::move(entry));
    }
    setEntries(folder, std::move(entries));
}

void RemoteFileModel::setEntries(const std::string& folder, std::vector<RFILE_DATA> entries)
{
    beginResetModel();
    m_entries = std::move(entries);
    resetRows(folder, m_entries.size());
    endResetModel();
}

bool RemoteFileModel::loadListFile(const std::string& folder, const std::string& listFile)
{
    RFILE_LIST list;
    if (ReadListFile(listFile, list) != 0)
        return false;
    std::vector<RFILE_DATA> entries;
    entries.reserve(list.size());
    for (RFILE_DATA& entry : list) {
        if (!IsDotEntry(entry.strName))
            entries.push_back(std::move(entry));
    }
    setEntries(folder, std::move(entries));
    return true;
}

void RemoteFileModel::clear()
{
    setEntries(folder(), {});
}

QVariant RemoteFileModel::recordText(std::uint32_t record, int column) const
{
    const RFILE_DATA& e = m_entries[record];
    switch (column) {
    case COLUMN_NAME: return DisplayText(e.strName);
    case COLUMN_SIZE: return QString::fromStdString(FormatFileSize(e.nFileSizeHigh, e.nFileSizeLow));
    case COLUMN_TYPE: return DisplayText(EntryTypeText(e.strName, e.bDirectory));
    case COLUMN_MODIFIED: return RemoteTimeText(e.tmModified, e.bExactTime);
    case COLUMN_ATTRIBUTE: return DisplayText(e.strAttribute);
    case COLUMN_DESCRIPTION: return DisplayText(e.strDescription);
    default: return {};
    }
}

QIcon RemoteFileModel::recordIcon(std::uint32_t record) const
{
    return m_entries[record].bDirectory ? m_folderIcon : m_fileIcon;
}

void RemoteFileModel::sortRecords(std::vector<std::uint32_t>& order, int column, int direction) const
{
    SortRecords(order, m_entries, CompareRemoteEntries, column, direction);
}
