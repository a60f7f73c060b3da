#include "sites/SpecialFolders.h"

#include "platform/TextLineReader.h"
#include "sites/TextUtil.h"

#include <cstdlib>

namespace {

struct NamedFolder {
    const char* name;
    SpecialFolder folder;
};

const NamedFolder kNames[] = {
    {"my computer", SpecialFolder::Drives},         {"mycom", SpecialFolder::Drives},
    {"desktop", SpecialFolder::Desktop},            {"control panel", SpecialFolder::ControlPanel},
    {"ctrl", SpecialFolder::ControlPanel},          {"startup", SpecialFolder::Startup},
    {"favorites", SpecialFolder::Favorites},        {"history", SpecialFolder::History},
    {"my documents", SpecialFolder::Documents},     {"mydoc", SpecialFolder::Documents},
    {"recent documents", SpecialFolder::RecentDocuments},
    {"recdoc", SpecialFolder::RecentDocuments},     {"my profile", SpecialFolder::Profile},
    {"myprof", SpecialFolder::Profile},             {"network neighborhood", SpecialFolder::NetworkNeighborhood},
    {"nethood", SpecialFolder::NetworkNeighborhood}, {"cache", SpecialFolder::InternetCache},
    {"cookies", SpecialFolder::Cookies},            {"printers", SpecialFolder::Printers},
    {"progam files", SpecialFolder::ProgramFiles},  {"prog", SpecialFolder::ProgramFiles},
    {"windows", SpecialFolder::Windows},            {"system", SpecialFolder::System},
    {"start menu", SpecialFolder::StartMenu},       {"smenu", SpecialFolder::StartMenu},
    {"common start menu", SpecialFolder::CommonStartMenu},
    {"csmenu", SpecialFolder::CommonStartMenu},     {"common startup", SpecialFolder::CommonStartup},
    {"cstartup", SpecialFolder::CommonStartup},     {"recycle bin", SpecialFolder::RecycleBin},
    {"recbin", SpecialFolder::RecycleBin},          {"my pictures", SpecialFolder::Pictures},
    {"mypic", SpecialFolder::Pictures},
};

std::string Env(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::string Home()
{
    return Env("HOME");
}

// An XDG base folder: the variable when it holds an absolute path, else HOME + fallback.
std::string BaseFolder(const char* variable, const char* fallback)
{
    const std::string value = Env(variable);
    return !value.empty() && value[0] == '/' ? value : Home() + fallback;
}

// One XDG_*_DIR entry of user-dirs.dirs ("$HOME/Desktop"), or `fallback` under HOME.
std::string UserDir(const char* key, const char* fallback)
{
    CTextLineReader reader(COverlongLine::Cut);
    reader.Open(BaseFolder("XDG_CONFIG_HOME", "/.config") + "/user-dirs.dirs");
    const std::string prefix = std::string(key) + "=";
    std::string line;
    while (reader.ReadLine(line)) {
        const std::string entry = sites::Trim(line);
        if (entry.compare(0, prefix.size(), prefix) != 0)
            continue;
        std::string value = entry.substr(prefix.size());
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);
        if (value.compare(0, 5, "$HOME") == 0)
            value = Home() + value.substr(5);
        if (!value.empty() && value[0] == '/')
            return value;
    }
    return Home() + "/" + fallback;
}

} // namespace

std::optional<SpecialFolder> LookupSpecialFolder(const std::string& name)
{
    for (const NamedFolder& entry : kNames)
        if (name == entry.name)
            return entry.folder;
    return std::nullopt;
}

std::optional<std::string> XdgSpecialFolderResolver::PathOf(SpecialFolder folder) const
{
    switch (folder) {
    case SpecialFolder::Desktop:
        return UserDir("XDG_DESKTOP_DIR", "Desktop");
    case SpecialFolder::Documents:
        return UserDir("XDG_DOCUMENTS_DIR", "Documents");
    case SpecialFolder::Pictures:
        return UserDir("XDG_PICTURES_DIR", "Pictures");
    case SpecialFolder::Profile:
        return Home();
    case SpecialFolder::Startup:
        return BaseFolder("XDG_CONFIG_HOME", "/.config") + "/autostart";
    case SpecialFolder::CommonStartup:
        return std::string("/etc/xdg/autostart");
    case SpecialFolder::StartMenu:
        return BaseFolder("XDG_DATA_HOME", "/.local/share") + "/applications";
    case SpecialFolder::CommonStartMenu:
        return std::string("/usr/share/applications");
    case SpecialFolder::InternetCache:
        return BaseFolder("XDG_CACHE_HOME", "/.cache");
    case SpecialFolder::RecycleBin:
        return BaseFolder("XDG_DATA_HOME", "/.local/share") + "/Trash/files";
    default:
        return std::nullopt; // no file-system folder of that kind here
    }
}

std::string ResolvePathEntry(const std::string& typed, const SpecialFolderResolver& resolver)
{
    const std::string path = sites::Trim(typed);
    if (path.empty())
        return path;
    if (const auto folder = LookupSpecialFolder(path))
        if (const auto resolved = resolver.PathOf(*folder); resolved && !resolved->empty())
            return *resolved;
    return path;
}
