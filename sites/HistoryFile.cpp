#include "sites/HistoryFile.h"

#include "sites/AtomicFile.h"
#include "platform/TextLineReader.h"
#include "sites/TextUtil.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

const char kFatalErrorText[] =
    "Fatal error encountered. Application will terminate now. \r\n"
    "If this problem persists, please contact the software vendor.";

namespace {

constexpr long kHistoryLimit = 10000;
constexpr long kHistoryKeep = kHistoryLimit * 8 / 10;

bool SortsBefore(const std::string& a, const std::string& b)
{
    const int byCase = sites::CompareNoCase(a, b);
    return byCase != 0 ? byCase < 0 : a < b;
}

} // namespace

HistoryList::HistoryList(std::string filePath, Order order)
    : m_filePath(std::move(filePath)), m_order(order)
{
}

int HistoryList::Find(const std::string& text) const
{
    for (size_t i = 0; i < m_entries.size(); ++i)
        if (sites::EqualsNoCase(m_entries[i], text))
            return static_cast<int>(i);
    return -1;
}

void HistoryList::Insert(const std::string& entry)
{
    if (m_order == Order::NewestFirst) {
        m_entries.insert(m_entries.begin(), entry);
        return;
    }
    const auto at = std::upper_bound(m_entries.begin(), m_entries.end(), entry, SortsBefore);
    m_entries.insert(at, entry);
}

void HistoryList::LoadHistory()
{
    m_entries.clear();
    CTextLineReader reader(COverlongLine::Cut);
    reader.Open(m_filePath);
    std::string line;
    while (reader.ReadLine(line)) {
        const std::string entry = sites::Trim(line);
        if (!entry.empty() && Find(entry) < 0)
            Insert(entry);
    }
}

bool HistoryList::AddToHistory(const std::string& text)
{
    const std::string entry = sites::Trim(text);
    if (entry.empty() || Find(entry) >= 0)
        return false;
    Insert(entry);
    m_lastWriteFailed = !AppendToFile(entry);
    return true;
}

bool HistoryList::AppendToFile(const std::string& entry)
{
    // The file is small (cut back at every start), so it is rewritten whole: an
    // interrupted write never leaves half a line behind.
    std::string contents;
    sites::ReadWholeFile(m_filePath, contents); // a missing file starts empty
    if (!contents.empty() && contents.back() != '\n')
        contents += '\n';
    contents += entry;
    contents += '\n';
    return sites::WriteFileAtomically(m_filePath, contents, 0644);
}

PruneResult PruneHistoryFile(const std::string& historyPath, const std::string& dataFolder)
{
    PruneResult result;
    struct stat st {};
    if (::stat(historyPath.c_str(), &st) != 0 || st.st_size <= kHistoryLimit)
        return result;

    std::string contents;
    if (!sites::ReadWholeFile(historyPath, contents)) {
        result.ok = false;
        result.message = "Can't open" + historyPath;
        return result;
    }
    const std::string tmpPath = dataFolder + "~tmphis.txt";
    const int fd = ::open(tmpPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        result.ok = false;
        result.message = "Can't create temporary file " + dataFolder + "~tmphis.txt!";
        return result;
    }

    // Start inside the last 8000 bytes and drop the partial line found there.
    const size_t start = static_cast<size_t>(st.st_size - kHistoryKeep);
    size_t from = contents.size();
    if (start < contents.size()) {
        const size_t lineEnd = contents.find('\n', start);
        from = lineEnd == std::string::npos ? contents.size() : lineEnd + 1;
    }
    const std::string kept = contents.substr(from);

    bool ok = true;
    size_t written = 0;
    while (ok && written < kept.size()) {
        const ssize_t n = ::write(fd, kept.data() + written, kept.size() - written);
        if (n < 0 && errno == EINTR)
            continue;
        ok = n > 0;
        if (ok)
            written += static_cast<size_t>(n);
    }
    ok = ok && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    // Renaming replaces the history in one step; on any failure the old file stays.
    if (!ok || ::rename(tmpPath.c_str(), historyPath.c_str()) != 0)
        ::unlink(tmpPath.c_str());
    return result;
}
