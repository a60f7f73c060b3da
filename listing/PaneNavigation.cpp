#include "listing/PaneNavigation.h"

#include "listing/AsciiCase.h"
#include "listing/PathRules.h"

namespace {

RemoteNavigation LoadFromCache(const std::string& directory, std::string listFile)
{
    RemoteNavigation decision;
    decision.action = RemoteNavigation::Action::LoadFromCache;
    decision.path = directory;
    decision.listFile = std::move(listFile);
    return decision;
}

// The cached list file of a directory, when the cache may be used and holds one.
std::string UsableListFile(const RemotePaneState& state, const std::string& directory,
                           const CachedListProbe& cachedList)
{
    if (state.alwaysRefresh || !cachedList)
        return {};
    return cachedList(directory);
}

} // namespace

RemoteNavigation DecideChangeDir(const RemotePaneState& state, const std::string& target,
                                 const CachedListProbe& cachedList)
{
    RemoteNavigation decision;
    if (EqualsNoCase(target, state.panePath))
        return decision;
    std::string listFile = UsableListFile(state, target, cachedList);
    if (!listFile.empty())
        return LoadFromCache(target, std::move(listFile));
    if (state.alwaysRefresh && state.sessionDirectory == target) {
        decision.action = RemoteNavigation::Action::ListDirectory;
        decision.path = target;
        return decision;
    }
    decision.action = RemoteNavigation::Action::ChangeDirectory;
    decision.argument = ParentPath(target) == state.sessionDirectory ? FileNamePart(target) : target;
    return decision;
}

RemoteNavigation DecideGoToParent(const RemotePaneState& state, const CachedListProbe& cachedList)
{
    const std::string parent = ParentPath(state.panePath);
    if (parent.empty()) {
        RemoteNavigation decision;
        decision.action = RemoteNavigation::Action::RefuseAtRoot;
        return decision;
    }
    std::string listFile = UsableListFile(state, parent, cachedList);
    if (!listFile.empty())
        return LoadFromCache(parent, std::move(listFile));
    if (state.sessionDirectory == state.panePath) {
        RemoteNavigation decision;
        decision.action = RemoteNavigation::Action::ChangeToParent;
        return decision;
    }
    return DecideChangeDir(state, parent, cachedList);
}

LocalDirectoryAndPattern SplitLocalDirectoryAndPattern(std::string_view text)
{
    if (EndsWithSeparator(text))
        return {std::string(text), "*"};
    const std::size_t separator = text.rfind(kPathSeparator);
    const std::string_view last =
        separator == std::string_view::npos ? text : text.substr(separator + 1);
    if (last.find_first_of("*?") != std::string_view::npos)
        return {std::string(separator == std::string_view::npos ? std::string_view()
                                                                : text.substr(0, separator + 1)),
                std::string(last)};
    return {std::string(text) + kPathSeparator, "*"};
}
