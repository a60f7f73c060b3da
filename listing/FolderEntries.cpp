#include "listing/FolderEntries.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "listing/Descriptor.h"

namespace {

constexpr std::size_t kBufferBytes = 32 * 1024;

// The kind of an entry whose type the folder listing left open, asked without following
// a link.
void KindByStat(int folderFd, const char* name, CFolderReader::Child& child)
{
    struct stat info {};
    if (::fstatat(folderFd, name, &info, AT_SYMLINK_NOFOLLOW) != 0)
        return;
    child.isDirectory = S_ISDIR(info.st_mode);
    child.isRegularFile = S_ISREG(info.st_mode);
}

bool IsDotOrDotDot(const char* name)
{
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

} // namespace

std::vector<FolderChild> ReadFolder(const std::string& folder)
{
    std::vector<FolderChild> children;
    const CDescriptor handle(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!handle.IsOpen())
        return children;
    CFolderReader reader;
    reader.Start(handle.Get());
    CFolderReader::Child child;
    while (reader.Next(child))
        children.push_back({std::string(child.name), child.isDirectory});
    return children;
}

CFolderReader::CFolderReader() = default;

#if defined(__linux__)

// Linux hands out the entries of a folder in blocks, straight into our buffer; the POSIX
// directory stream would ask the folder's status twice more for every folder it opens.

CFolderReader::~CFolderReader() = default;

void CFolderReader::Start(int folderFd)
{
    if (m_buffer.empty())
        m_buffer.resize(kBufferBytes / sizeof(std::uint64_t));
    m_fd = folderFd;
    m_error = 0;
    m_pos = m_end = 0;
}

bool CFolderReader::Refill()
{
    if (m_fd < 0)
        return false;
    const ssize_t got = ::getdents64(m_fd, m_buffer.data(), m_buffer.size() * sizeof(std::uint64_t));
    if (got <= 0) {
        m_error = got < 0 ? errno : 0;
        m_fd = -1; // the end, or an error: either way nothing more comes
        return false;
    }
    m_pos = 0;
    m_end = std::size_t(got);
    return true;
}

bool CFolderReader::Next(Child& child)
{
    while (true) {
        if (m_pos >= m_end && !Refill())
            return false;
        const auto* record = reinterpret_cast<const dirent64*>(
            reinterpret_cast<const char*>(m_buffer.data()) + m_pos);
        m_pos += record->d_reclen;
        if (IsDotOrDotDot(record->d_name))
            continue;
        child.name = record->d_name;
        child.isDirectory = record->d_type == DT_DIR;
        child.isRegularFile = record->d_type == DT_REG;
        if (record->d_type == DT_UNKNOWN)
            KindByStat(m_fd, record->d_name, child);
        return true;
    }
}

#else

CFolderReader::~CFolderReader()
{
    if (m_portableDir)
        ::closedir(static_cast<DIR*>(m_portableDir));
}

void CFolderReader::Start(int folderFd)
{
    if (m_portableDir)
        ::closedir(static_cast<DIR*>(m_portableDir));
    m_portableDir = nullptr;
    m_fd = folderFd;
    m_error = 0;
    // The stream takes over the descriptor it is given, so it gets a copy of the caller's.
    const int copy = ::dup(folderFd);
    if (copy < 0)
        m_error = errno;
    else if (!(m_portableDir = ::fdopendir(copy))) {
        m_error = errno;
        ::close(copy);
    }
}

bool CFolderReader::Refill() { return false; }

bool CFolderReader::Next(Child& child)
{
    if (!m_portableDir)
        return false;
    errno = 0;
    while (const dirent* record = ::readdir(static_cast<DIR*>(m_portableDir))) {
        if (IsDotOrDotDot(record->d_name))
            continue;
        child.name = record->d_name;
        child.isDirectory = child.isRegularFile = false;
        KindByStat(m_fd, record->d_name, child);
        return true;
    }
    m_error = errno;
    return false;
}

#endif
