#include "app/cli/ListingOutput.h"

#include "listing/DirectoryCache.h"
#include "listing/EntryOrder.h"
#include "listing/ListingParser.h"

#include <algorithm>
#include <ctime>
#include <fstream>
#include <vector>

std::string LongListingLine(const RFILE_DATA& entry)
{
    char modified[32] = "";
    const std::time_t time = static_cast<std::time_t>(entry.tmModified);
    std::tm local = {};
    if (localtime_r(&time, &local))
        std::strftime(modified, sizeof modified, "%m/%d/%y %H:%M", &local);
    return entry.strName + '\t' + FormatFileSize(entry.nFileSizeHigh, entry.nFileSizeLow) + '\t' +
           EntryTypeText(entry.strName, entry.bDirectory) + '\t' + modified + '\t' + entry.strAttribute;
}

namespace {

// The entries in the pane's order by name, "." and ".." left out as the pane does.
void PrintEntries(const RFILE_LIST& list, std::FILE* out)
{
    std::vector<const RFILE_DATA*> entries;
    for (const RFILE_DATA& entry : list)
        if (entry.strName != "." && entry.strName != "..")
            entries.push_back(&entry);
    std::stable_sort(entries.begin(), entries.end(), [](const RFILE_DATA* a, const RFILE_DATA* b) {
        return CompareRemoteEntries(*a, *b, COLUMN_NAME, 1) < 0;
    });
    for (const RFILE_DATA* entry : entries)
        std::fprintf(out, "%s\n", LongListingLine(*entry).c_str());
}

} // namespace

bool PrintListFile(const std::string& listFile, bool longListing, std::FILE* out)
{
    if (!longListing) {
        std::ifstream in(listFile, std::ios::binary);
        if (!in)
            return false;
        char buffer[64 * 1024];
        while (in.read(buffer, sizeof buffer) || in.gcount() > 0)
            std::fwrite(buffer, 1, static_cast<size_t>(in.gcount()), out);
        return true;
    }
    RFILE_LIST list;
    if (ReadListFile(listFile, list) != 0)
        return false;
    PrintEntries(list, out);
    return true;
}

void PrintListingText(const std::string& text, bool longListing, std::FILE* out)
{
    if (!longListing) {
        std::fwrite(text.data(), 1, text.size(), out);
        return;
    }
    RFILE_LIST list;
    ParseListing(text, list);
    PrintEntries(list, out);
}
