#include "app/cli/ListingOutput.h"

#include "app/cli/CommandArgs.h"
#include "app/cli/TerminalText.h"
#include "listing/AsciiCase.h"
#include "listing/EntryOrder.h"

#include <algorithm>
#include <ctime>
#include <fstream>
#include <vector>

std::string LongListingLine(const ListedEntry& entry)
{
    char modified[32] = "";
    const std::time_t time = static_cast<std::time_t>(entry.modified);
    std::tm local = {};
    if (localtime_r(&time, &local))
        std::strftime(modified, sizeof modified, "%m/%d/%y %H:%M", &local);
    return EscapeForTerminal(entry.name) + '\t' + ByteCount(entry.size) + '\t' +
           EscapeForTerminal(EntryTypeText(entry.name, entry.directory)) + '\t' + modified + '\t' +
           EscapeForTerminal(entry.attribute);
}

namespace {

// The entries in the pane's order by name (folders first, then names without regard to
// case), "." and ".." left out as the pane does.
void PrintEntries(std::string_view text, std::FILE* out)
{
    std::vector<ListedEntry> entries;
    const std::int64_t now = std::time(nullptr);
    ForEachListingLine(text, [&](std::string_view line) {
        ListedEntry entry;
        const ListLineResult result = ParseListingLine(line, entry, now);
        if (result == ListLineResult::Entry)
            entries.push_back(entry);
        return result != ListLineResult::EndOfListing;
    });
    std::stable_sort(entries.begin(), entries.end(), [](const ListedEntry& a, const ListedEntry& b) {
        if (a.directory != b.directory)
            return a.directory;
        return CompareNoCase(a.name, b.name) < 0;
    });
    std::string line;
    for (const ListedEntry& entry : entries) {
        line = LongListingLine(entry);
        line += '\n';
        std::fwrite(line.data(), 1, line.size(), out);
    }
}

void PrintRaw(std::string_view text, bool escape, std::FILE* out)
{
    if (!escape) {
        std::fwrite(text.data(), 1, text.size(), out);
        return;
    }
    // Line by line, so a big listing is not copied whole.
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        end = end == std::string_view::npos ? text.size() : end + 1;
        const std::string shown = EscapeForTerminal(text.substr(0, end), true);
        std::fwrite(shown.data(), 1, shown.size(), out);
        text.remove_prefix(end);
    }
}

} // namespace

bool PrintListFile(const std::string& listFile, bool longListing, bool escape, std::FILE* out)
{
    std::ifstream in(listFile, std::ios::binary | std::ios::ate);
    if (!in)
        return false;
    std::string text(static_cast<std::size_t>(std::max<std::streamoff>(in.tellg(), 0)), '\0');
    in.seekg(0);
    if (!in.read(text.data(), static_cast<std::streamsize>(text.size())))
        return false;
    PrintListingText(text, longListing, escape, out);
    return true;
}

void PrintListingText(std::string_view text, bool longListing, bool escape, std::FILE* out)
{
    if (longListing)
        PrintEntries(text, out);
    else
        PrintRaw(text, escape, out);
}
