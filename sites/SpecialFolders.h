#pragma once
// The special folder names a user may type into a path box ("desktop", "mydoc", ...), and
// what they stand for. Only names with a freedesktop equivalent are replaced by a folder;
// the others are kept as typed.

#include <optional>
#include <string>

enum class SpecialFolder {
    Drives, Desktop, ControlPanel, Startup, Favorites, History, Documents, RecentDocuments,
    Profile, NetworkNeighborhood, InternetCache, Cookies, Printers, ProgramFiles, Windows,
    System, StartMenu, CommonStartMenu, CommonStartup, RecycleBin, Pictures,
};

// The folder a name stands for; the comparison is exact (the names are lower case).
std::optional<SpecialFolder> LookupSpecialFolder(const std::string& name);

// Gives the file-system folder of a special folder, when there is one.
class SpecialFolderResolver {
public:
    virtual ~SpecialFolderResolver() = default;
    virtual std::optional<std::string> PathOf(SpecialFolder folder) const = 0;
};

// The freedesktop folders from the environment: $HOME, $XDG_CONFIG_HOME, $XDG_DATA_HOME,
// $XDG_CACHE_HOME and the user-dirs.dirs entries (desktop, documents, pictures).
class XdgSpecialFolderResolver : public SpecialFolderResolver {
public:
    std::optional<std::string> PathOf(SpecialFolder folder) const override;
};

// A path box entry: the text trimmed, and a special folder name replaced by its folder
// when it has one. Empty when nothing was typed.
std::string ResolvePathEntry(const std::string& typed, const SpecialFolderResolver& resolver);
