#include "ftp/PartialDownload.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

namespace {

std::string ErrnoText(int value) { return std::strerror(value); }

// What sits under `name` in the folder, links not followed: 0 nothing, 1 a regular
// file, -1 anything else (a link, a folder, a device) or a failed look.
int LookAt(int folderFd, const std::string& name, struct stat& info)
{
    if (::fstatat(folderFd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT ? 0 : -1;
    return S_ISREG(info.st_mode) ? 1 : -1;
}

std::string Describe(const struct stat& info)
{
    if (S_ISLNK(info.st_mode))
        return "a link";
    if (S_ISDIR(info.st_mode))
        return "a folder";
    return "not a regular file";
}

}  // namespace

CPartialDownload::~CPartialDownload() { CloseAll(); }

void CPartialDownload::CloseAll()
{
    if (fileFd >= 0)
        ::close(fileFd);
    if (folderFd >= 0)
        ::close(folderFd);
    fileFd = -1;
    folderFd = -1;
}

bool CPartialDownload::Inspect(const std::string& targetPath, std::string& why)
{
    CloseAll();
    folderProblem.clear();
    const std::size_t slash = targetPath.find_last_of('/');
    const std::string folder =
        slash == std::string::npos ? "." : slash == 0 ? "/" : targetPath.substr(0, slash);
    targetName = slash == std::string::npos ? targetPath : targetPath.substr(slash + 1);
    partialName = targetName + kPartialSuffix;
    partialPath = targetPath + kPartialSuffix;
    if (targetName.empty()) {
        why = targetPath + " names no file";
        return false;
    }
    folderFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd < 0) {
        // Nothing exists there; opening the partial file says why it cannot be made.
        folderProblem = "cannot open the folder " + folder + ": " + ErrnoText(errno);
        targetExists = partialExists = false;
        return true;
    }
    struct stat info {};
    const int target = LookAt(folderFd, targetName, info);
    if (target < 0) {
        why = targetPath + " is " + Describe(info) + "; it is left alone";
        return false;
    }
    targetExists = target == 1;
    targetSize = targetExists ? static_cast<std::uint64_t>(info.st_size) : 0;
    targetTime = targetExists ? static_cast<std::int64_t>(info.st_mtime) : 0;
    const int partial = LookAt(folderFd, partialName, info);
    if (partial < 0) {
        why = partialPath + " is " + Describe(info) + "; it is left alone";
        return false;
    }
    partialExists = partial == 1;
    partialSize = partialExists ? static_cast<std::uint64_t>(info.st_size) : 0;
    return true;
}

int CPartialDownload::Open(Mode mode, std::string& why)
{
    if (folderFd < 0) {
        why = folderProblem.empty() ? "the target was not looked at" : folderProblem;
        return -1;
    }
    tookTarget = false;
    if (mode == Mode::ResumeTarget) {
        // The target is incomplete for the time of the transfer: it goes on under the
        // partial name, so that a crash never leaves it passing for the whole file.
        if (::renameat(folderFd, targetName.c_str(), folderFd, partialName.c_str()) != 0) {
            why = "cannot rename the file to " + partialPath + ": " + ErrnoText(errno);
            return -1;
        }
        tookTarget = true;
        partialExists = true;
        partialSize = targetSize;
    }
    const bool resume = mode != Mode::Fresh;
    int flags = O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_APPEND;
    if (!resume)
        flags |= O_TRUNC;
    fileFd = ::openat(folderFd, partialName.c_str(), flags, 0666);
    if (fileFd < 0) {
        why = "cannot open " + partialPath + ": " + ErrnoText(errno);
        if (tookTarget)
            ::renameat(folderFd, partialName.c_str(), folderFd, targetName.c_str());
        tookTarget = false;
        return -1;
    }
    // The name may have been swapped since it was looked at: only a regular file is
    // written (O_NOFOLLOW has refused a link already).
    struct stat info {};
    if (::fstat(fileFd, &info) != 0 || !S_ISREG(info.st_mode)) {
        why = partialPath + " is not a regular file; it is left alone";
        ::close(fileFd);
        fileFd = -1;
        return -1;
    }
    offset = resume ? static_cast<std::uint64_t>(info.st_size) : 0;
    const int handed = ::fcntl(fileFd, F_DUPFD_CLOEXEC, 0);
    if (handed < 0)
        why = "cannot open " + partialPath + ": " + ErrnoText(errno);
    return handed;
}

bool CPartialDownload::Restart(std::string& why)
{
    if (fileFd < 0 || ::ftruncate(fileFd, 0) != 0) {
        why = "cannot empty " + partialPath + ": " + ErrnoText(fileFd < 0 ? EBADF : errno);
        return false;
    }
    offset = 0;
    return true;
}

std::uint64_t CPartialDownload::CurrentSize() const
{
    struct stat info {};
    if (fileFd < 0 || ::fstat(fileFd, &info) != 0)
        return 0;
    return static_cast<std::uint64_t>(info.st_size);
}

bool CPartialDownload::Verify(std::int64_t expectedSize, std::int64_t modified, std::string& why)
{
    if (fileFd < 0) {
        why = "the partial file is not open";
        return false;
    }
    const std::uint64_t size = CurrentSize();
    if (expectedSize >= 0 && size != static_cast<std::uint64_t>(expectedSize)) {
        why = std::to_string(size) + " bytes arrived where the server's file has " +
              std::to_string(expectedSize);
        return false;
    }
    if (modified != 0) {
        struct timespec times[2] = {};
        times[0].tv_sec = static_cast<time_t>(modified);
        times[1].tv_sec = static_cast<time_t>(modified);
        ::futimens(fileFd, times);
    }
    // No writing is started here: starting it cost the transfer a tenth of its time on a
    // tree of small files; the batch's flush writes everything at once, off this thread.
    return true;
}

bool CPartialDownload::FlushFileSystem(std::string& why)
{
    if (fileFd < 0 || ::syncfs(fileFd) != 0) {
        why = "cannot write " + partialPath + " to the disk: " + ErrnoText(errno);
        return false;
    }
    return true;
}

bool CPartialDownload::Finish(std::string& why, bool flushed)
{
    if (fileFd < 0) {
        why = "the partial file is not open";
        return false;
    }
    // The rename is what makes the file count as complete: its bytes must be on the
    // disk before it, or a power cut could leave a short file under the final name.
    if (!flushed && ::fdatasync(fileFd) != 0) {
        why = "cannot write " + partialPath + " to the disk: " + ErrnoText(errno);
        return false;
    }
    if (::renameat(folderFd, partialName.c_str(), folderFd, targetName.c_str()) != 0) {
        why = "cannot rename " + partialPath + " to its final name: " + ErrnoText(errno);
        return false;
    }
    tookTarget = false;
    CloseAll();
    return true;
}

void CPartialDownload::Abandon()
{
    if (fileFd < 0)
        return;
    if (CurrentSize() == offset) {
        // Nothing arrived in this attempt.
        if (tookTarget)
            ::renameat(folderFd, partialName.c_str(), folderFd, targetName.c_str());
        else if (offset == 0)
            ::unlinkat(folderFd, partialName.c_str(), 0);
    }
    tookTarget = false;
    CloseAll();
}
