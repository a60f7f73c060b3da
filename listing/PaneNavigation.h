#pragma once
// The decisions of the file panes when the user moves through a tree: whether the remote
// pane shows a cached listing, asks the session for a listing, or sends a directory
// change; and how the local pane reads a typed path. Pure functions, so the panes only
// carry out what is decided here.

#include <functional>
#include <string>
#include <string_view>

inline constexpr std::string_view kLoadFromCacheLog = "Load file list from cache.";
inline constexpr std::string_view kRemoteRootMessage = "Root Directory! Can't Change to Parent Directory.";
inline constexpr std::string_view kLocalRootMessage = "Root encountered!";

// What the remote pane knows when it decides.
struct RemotePaneState {
    std::string panePath;         // the directory the pane shows
    std::string sessionDirectory; // the session's current directory on the server
    bool alwaysRefresh = true;    // "AlwaysRefresh"
};

// The list file of a directory when the cache holds one, else empty.
using CachedListProbe = std::function<std::string(const std::string& directory)>;

struct RemoteNavigation {
    enum class Action {
        Nothing,        // already there
        LoadFromCache,  // log kLoadFromCacheLog, load listFile, show path, sort
        ListDirectory,  // show path and ask the session to list it
        ChangeDirectory, // session command "change directory" with argument
        ChangeToParent, // session command "change to parent"
        RefuseAtRoot,   // message kRemoteRootMessage
    };
    Action action = Action::Nothing;
    std::string path;     // the pane's new path (LoadFromCache, ListDirectory)
    std::string listFile; // LoadFromCache
    std::string argument; // ChangeDirectory: the last component when the session is in the
                          // target's parent, else the full target
};

RemoteNavigation DecideChangeDir(const RemotePaneState& state, const std::string& target,
                                 const CachedListProbe& cachedList);
RemoteNavigation DecideGoToParent(const RemotePaneState& state, const CachedListProbe& cachedList);

// A local path typed or chosen in the path box: a folder, or a folder with a wildcard
// pattern as its last component ("/home/me/*.txt").
struct LocalDirectoryAndPattern {
    std::string directory;
    std::string pattern;
};
LocalDirectoryAndPattern SplitLocalDirectoryAndPattern(std::string_view text);
