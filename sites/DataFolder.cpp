#include "sites/DataFolder.h"

#include "sites/AtomicFile.h"

#include <cstdlib>
#include <filesystem>
#include <pwd.h>
#include <system_error>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::string WithSlash(std::string path)
{
    if (path.empty() || path.back() != '/')
        path += '/';
    return path;
}

std::string HomeFolder()
{
    const char* home = std::getenv("HOME");
    if (home && *home)
        return home;
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir)
        return pw->pw_dir;
    return "/tmp";
}

// Copies one file; site.dat holds passwords, so every copy is made readable by its owner
// only and written in one piece.
bool CopyShippedFile(const fs::path& from, const fs::path& to, mode_t mode)
{
    std::string contents;
    if (!sites::ReadWholeFile(from.string(), contents))
        return false;
    return sites::WriteFileAtomically(to.string(), contents, mode);
}

const fs::path* FindShipped(const std::vector<fs::path>& candidates)
{
    std::error_code ec;
    for (const fs::path& p : candidates)
        if (fs::exists(p, ec))
            return &p;
    return nullptr;
}

} // namespace

std::string GetDataFolder()
{
    const char* xdg = std::getenv("XDG_DATA_HOME");
    // Relative values are invalid by the base-directory rules and are ignored.
    const std::string base = xdg && xdg[0] == '/' ? std::string(xdg) : HomeFolder() + "/.local/share";
    return WithSlash(base) + "Tollvane/";
}

std::string GetProgramFolder()
{
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (ec)
        return "./";
    return WithSlash(exe.parent_path().string());
}

std::vector<std::string> GetShippedFileFolders()
{
    const fs::path programFolder = fs::path(GetProgramFolder()).parent_path();
    return {WithSlash(programFolder.string()),
            WithSlash((programFolder.parent_path() / "share" / "tollvane").string())};
}

bool CreateDataFolder(const std::string& dataFolder)
{
    std::error_code ec;
    fs::create_directories(dataFolder, ec);
    return fs::is_directory(dataFolder, ec);
}

void PrepareDataFolder(const std::string& dataFolder, const std::vector<std::string>& shippedFolders)
{
    std::error_code ec;
    const fs::path data(dataFolder);
    for (const char* name : {"site.dat", "urlhis.txt", "pathhis.txt"}) {
        const fs::path target = data / name;
        if (fs::exists(target, ec))
            continue;
        std::vector<fs::path> candidates;
        for (const std::string& folder : shippedFolders)
            candidates.push_back(fs::path(folder) / name);
        if (const fs::path* source = FindShipped(candidates))
            CopyShippedFile(*source, target, std::string(name) == "site.dat" ? 0600 : 0644);
    }
    for (const char* name : {"jobs", "cache"}) {
        const fs::path target = data / name;
        if (fs::exists(target, ec))
            continue;
        fs::create_directories(target, ec);
        std::vector<fs::path> candidates;
        for (const std::string& folder : shippedFolders)
            candidates.push_back(fs::path(folder) / name);
        const fs::path* source = FindShipped(candidates);
        if (!source || !fs::is_directory(*source, ec))
            continue;
        for (const fs::directory_entry& entry : fs::directory_iterator(*source, ec))
            if (entry.is_regular_file(ec))
                CopyShippedFile(entry.path(), target / entry.path().filename(), 0644);
    }
}
