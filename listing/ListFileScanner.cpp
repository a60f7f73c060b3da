#include "listing/ListFileScanner.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <unistd.h>

#include "listing/DirectoryCache.h"
#include "listing/ListingParser.h"
#include "listing/PathRules.h"
#include "platform/TextLineReader.h"

namespace {

constexpr std::size_t kFirstBuffer = 64 * 1024;
const std::string kListFileNameText(kListFileName);

} // namespace

CDescriptor CListFileScanner::OpenListFile(int folderFd)
{
    return CDescriptor(::openat(folderFd, kListFileNameText.c_str(),
                                O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
}

bool CListFileScanner::Scan(int fileFd, const std::string& folderPath, const OnEntry& onEntry)
{
    std::size_t size = 0;
    switch (ReadWhole(fileFd, size)) {
    case Fill::Failed:
        return false;
    case Fill::TooLarge: {
        RFILE_LIST entries;
        if (ReadListFile(JoinPath(folderPath, kListFileName), entries) != 0)
            return false;
        for (const RFILE_DATA& entry : entries)
            onEntry(entry);
        return true;
    }
    case Fill::Whole:
        ScanLines(size, onEntry);
        return true;
    }
    return false;
}

CListFileScanner::Fill CListFileScanner::ReadWhole(int fileFd, std::size_t& size)
{
    if (fileFd < 0)
        return Fill::Failed;
    if (m_buffer.empty())
        m_buffer.resize(kFirstBuffer);
    std::size_t used = 0;
    while (true) {
        if (used == m_buffer.size()) {
            if (m_buffer.size() > kLargestBufferedFile)
                return Fill::TooLarge;
            // One byte past the limit tells a file of exactly the limit from a larger one.
            m_buffer.resize(std::min(m_buffer.size() * 2, kLargestBufferedFile + 1));
        }
        const ssize_t got = ::read(fileFd, m_buffer.data() + used, m_buffer.size() - used);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break; // the end, or a read error: the lines read so far count, as for ReadListFile
        used += std::size_t(got);
        // A plain file gives less than asked only at its end.
        if (used < m_buffer.size())
            break;
    }
    size = used;
    return Fill::Whole;
}

// The lines as the list-file reader gives them: split at line feeds, line ends dropped,
// a line too long for it skipped whole, the last line counted without its line feed.
void CListFileScanner::ScanLines(std::size_t size, const OnEntry& onEntry)
{
    const char* const data = m_buffer.data();
    std::size_t pos = 0;
    while (pos < size) {
        const void* newline = std::memchr(data + pos, '\n', size - pos);
        const std::size_t end = newline ? std::size_t(static_cast<const char*>(newline) - data) : size;
        std::string_view line(data + pos, end - pos);
        pos = end + 1;
        if (line.size() > CTextLineReader::kMaxLineLength + 2) // + CR CR
            continue;
        while (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        const ListLineResult result = ParseListingLine(line, m_entry);
        if (result == ListLineResult::EndOfListing)
            return;
        if (result == ListLineResult::Entry)
            onEntry(m_entry);
    }
}
