#include "platform/TextLineReader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::size_t kInitialBuffer = 8 * 1024;
// Room for one whole line, its line end and a little more read ahead.
constexpr std::size_t kLargestBuffer = CTextLineReader::kMaxLineLength + 4096;

std::string_view WithoutLineEnd(std::string_view line)
{
    while (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    return line;
}

} // namespace

CTextLineReader::CTextLineReader(COverlongLine overlong)
    : m_overlong(overlong)
{
}

CTextLineReader::~CTextLineReader() { Close(); }

bool CTextLineReader::Open(const std::string& path)
{
    Close();
    if (path.empty() || path.find('\0') != std::string::npos)
        return false;
    // Non-blocking, so that a pipe in place of the file cannot hold the open until some
    // writer appears; only a regular file is read, and for those the flag changes nothing.
    m_fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (m_fd < 0)
        return false;
    struct stat info {};
    if (::fstat(m_fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        Close();
        return false;
    }
    // Most files are small: the buffer starts small and grows only for long lines.
    if (m_buffer.empty())
        m_buffer.resize(kInitialBuffer);
    m_begin = m_end = 0;
    m_eof = false;
    m_unreadBytes = info.st_size;
    m_skippedLongLines = 0;
    return true;
}

void CTextLineReader::Close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_begin = m_end = 0;
    m_eof = true;
}

bool CTextLineReader::Refill()
{
    if (m_eof)
        return false;
    if (m_begin > 0) {
        std::memmove(m_buffer.data(), m_buffer.data() + m_begin, m_end - m_begin);
        m_end -= m_begin;
        m_begin = 0;
    }
    if (m_end == m_buffer.size()) {
        if (m_buffer.size() >= kLargestBuffer)
            return false;
        m_buffer.resize(std::min(m_buffer.size() * 2, kLargestBuffer));
    }
    ssize_t got;
    do {
        got = ::read(m_fd, m_buffer.data() + m_end, m_buffer.size() - m_end);
    } while (got < 0 && errno == EINTR);
    if (got <= 0) {
        m_eof = true;
        return false;
    }
    m_end += std::size_t(got);
    // Once the size seen at opening is read there is no need to ask again for the end
    // (list files are replaced by rename, never grown in place).
    m_unreadBytes -= got;
    if (m_unreadBytes <= 0)
        m_eof = true;
    return true;
}

bool CTextLineReader::ReadLine(std::string_view& line)
{
    if (m_fd < 0)
        return false;
    bool skipping = false; // inside a line that is too long
    std::size_t searched = m_begin;
    while (true) {
        const char* start = m_buffer.data() + searched;
        const void* newline = std::memchr(start, '\n', m_end - searched);
        if (newline) {
            const std::size_t lineEnd = std::size_t(static_cast<const char*>(newline) - m_buffer.data());
            const std::string_view found(m_buffer.data() + m_begin, lineEnd - m_begin);
            m_begin = lineEnd + 1;
            if (skipping || found.size() > kMaxLineLength + 2) { // + CR CR
                ++m_skippedLongLines;
                if (m_overlong == COverlongLine::Cut) {
                    if (!skipping)
                        m_cutLine.assign(found.substr(0, kMaxLineLength));
                    line = m_cutLine;
                    return true;
                }
                skipping = false;
                searched = m_begin;
                continue;
            }
            line = WithoutLineEnd(found);
            return true;
        }
        if (m_end - m_begin > kMaxLineLength + 2) {
            // Too long already: drop what we have (keeping its start when cutting) and go
            // on to the line end.
            if (!skipping && m_overlong == COverlongLine::Cut)
                m_cutLine.assign(m_buffer.data() + m_begin, kMaxLineLength);
            skipping = true;
            m_begin = m_end;
        }
        searched = m_end - m_begin; // offset after the compaction done by Refill
        if (!Refill()) {
            if (m_begin == m_end) {
                if (skipping) {
                    ++m_skippedLongLines;
                    if (m_overlong == COverlongLine::Cut) {
                        line = m_cutLine;
                        return true;
                    }
                }
                return false;
            }
            // The last line has no line end.
            const std::string_view found(m_buffer.data() + m_begin, m_end - m_begin);
            m_begin = m_end;
            if (skipping) {
                ++m_skippedLongLines;
                if (m_overlong == COverlongLine::Cut) {
                    line = m_cutLine;
                    return true;
                }
                return false;
            }
            line = WithoutLineEnd(found);
            return true;
        }
        searched += m_begin; // m_begin is 0 after a refill
    }
}

bool CTextLineReader::ReadLine(std::string& line)
{
    std::string_view view;
    if (!ReadLine(view))
        return false;
    line.assign(view);
    return true;
}
