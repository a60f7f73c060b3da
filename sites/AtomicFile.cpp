#include "sites/AtomicFile.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace sites {

namespace {

bool Fail(std::string* error, const std::string& what)
{
    if (error)
        *error = what + ": " + std::strerror(errno);
    return false;
}

bool WriteAll(int fd, std::string_view data)
{
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

// The process umask without changing it (umask() itself would race with other threads).
mode_t CurrentUmask()
{
    mode_t mask = 022;
    if (std::FILE* f = std::fopen("/proc/self/status", "r")) {
        char line[256];
        while (std::fgets(line, sizeof line, f)) {
            unsigned value = 0;
            if (std::sscanf(line, "Umask: %o", &value) == 1) {
                mask = static_cast<mode_t>(value);
                break;
            }
        }
        std::fclose(f);
    }
    return mask;
}

} // namespace

bool WriteFileAtomically(const std::string& requestedPath, std::string_view contents, mode_t mode,
                         std::string* error)
{
    // A file the user replaced by a link is written where the link points, and stays a link.
    std::string path = requestedPath;
    char resolved[PATH_MAX];
    struct stat linkStat {};
    if (::lstat(path.c_str(), &linkStat) == 0 && S_ISLNK(linkStat.st_mode) &&
        ::realpath(path.c_str(), resolved))
        path = resolved;
    std::vector<char> tmpl(path.begin(), path.end());
    static const char suffix[] = ".tmpXXXXXX";
    tmpl.insert(tmpl.end(), suffix, suffix + sizeof suffix); // keeps the terminating zero
    const int fd = ::mkstemp(tmpl.data());
    if (fd < 0)
        return Fail(error, "cannot create a temporary file beside " + path);
    const std::string tmpPath(tmpl.data());
    // mkstemp creates 0600; widen to the requested mode within the umask.
    bool ok = ::fchmod(fd, mode & ~CurrentUmask()) == 0;
    ok = ok && WriteAll(fd, contents) && ::fsync(fd) == 0;
    const int savedErrno = errno;
    if (::close(fd) != 0)
        ok = false;
    if (!ok) {
        errno = savedErrno;
        Fail(error, "cannot write " + path);
        ::unlink(tmpPath.c_str());
        return false;
    }
    if (::rename(tmpPath.c_str(), path.c_str()) != 0) {
        Fail(error, "cannot replace " + path);
        ::unlink(tmpPath.c_str());
        return false;
    }
    return true;
}

bool ReadWholeFile(const std::string& path, std::string& contents)
{
    contents.clear();
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        return false;
    char buffer[8192];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
        contents.append(buffer, n);
    const bool ok = !std::ferror(f);
    std::fclose(f);
    return ok;
}

} // namespace sites
