#include "app/lib/TransferLog.h"

#include "listing/PathRules.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

CTransferLog::~CTransferLog()
{
    Close();
}

bool CTransferLog::Open(const std::string& dataFolder)
{
    std::lock_guard lock(m_mutex);
    if (m_file)
        std::fclose(m_file);
    m_file = nullptr;
    m_path = JoinPath(dataFolder, kTransferLogName);
    if (!OpenFile())
        return false;
    if (m_size > m_limit)
        CutToNewerHalf();
    return m_file != nullptr;
}

bool CTransferLog::OpenFile()
{
    const int fd = ::open(m_path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    // A log made before it was kept private becomes private too.
    ::fchmod(fd, 0600);
    struct stat info = {};
    m_size = ::fstat(fd, &info) == 0 ? static_cast<std::uint64_t>(info.st_size) : 0;
    m_file = ::fdopen(fd, "ab");
    if (!m_file)
        ::close(fd);
    return m_file != nullptr;
}

void CTransferLog::CutToNewerHalf()
{
    std::fclose(m_file);
    m_file = nullptr;
    // The newer half, from its first line start, goes to a new file that replaces the old.
    std::string tail;
    if (std::FILE* in = std::fopen(m_path.c_str(), "rb")) {
        const long keep = static_cast<long>(m_limit / 2);
        if (std::fseek(in, -keep, SEEK_END) != 0)
            std::rewind(in);
        tail.resize(static_cast<std::size_t>(keep));
        tail.resize(std::fread(tail.data(), 1, tail.size(), in));
        std::fclose(in);
        const std::size_t lineStart = tail.find('\n');
        tail.erase(0, lineStart == std::string::npos ? tail.size() : lineStart + 1);
    }
    std::string temp = m_path + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd >= 0) {
        const bool written = ::write(fd, tail.data(), tail.size()) == static_cast<ssize_t>(tail.size());
        ::close(fd);
        if (!written || ::rename(temp.c_str(), m_path.c_str()) != 0)
            ::unlink(temp.c_str());
    }
    OpenFile();
}

void CTransferLog::Close()
{
    std::lock_guard lock(m_mutex);
    if (m_file)
        std::fclose(m_file);
    m_file = nullptr;
}

void CTransferLog::AddLine(const CLogLine& line)
{
    AppendText(FormatLogLine(line));
}

void CTransferLog::AppendText(const std::string& text)
{
    std::lock_guard lock(m_mutex);
    if (!m_file)
        return;
    // "%" is data here, never a format.
    std::fwrite(text.data(), 1, text.size(), m_file);
    std::fflush(m_file);
    m_size += text.size();
    if (m_size > m_limit)
        CutToNewerHalf();
}
