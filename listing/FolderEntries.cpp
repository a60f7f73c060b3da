#include "listing/FolderEntries.h"

#include <dirent.h>
#include <string_view>
#include <sys/stat.h>

#include "listing/PathRules.h"

std::vector<FolderChild> ReadFolder(const std::string& folder)
{
    std::vector<FolderChild> children;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return children;
    while (const dirent* item = ::readdir(dir)) {
        const std::string_view name = item->d_name;
        if (name == "." || name == "..")
            continue;
        bool isDirectory = item->d_type == DT_DIR;
        if (item->d_type == DT_UNKNOWN) {
            struct stat info {};
            isDirectory = ::lstat(JoinPath(folder, name).c_str(), &info) == 0 &&
                          S_ISDIR(info.st_mode);
        }
        children.push_back({std::string(name), isDirectory});
    }
    ::closedir(dir);
    return children;
}
