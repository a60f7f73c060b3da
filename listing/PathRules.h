#pragma once
// Joining, trimming and splitting of paths. Remote paths and local paths on this platform
// both use "/" as their separator, so one set of rules serves the panes, the cache and
// the search.

#include <string>
#include <string_view>

inline constexpr char kPathSeparator = '/';

// The base with a separator appended unless it already ends with one, then the name.
// An empty base gives the name alone.
std::string JoinPath(std::string_view base, std::string_view name);

// Drops one trailing separator, unless the path is that single separator or the
// separator follows ":" (a drive root such as "D:/").
std::string TrimTrailingSeparator(std::string_view path);

// Drops one trailing separator and the last component, and returns the rest without a
// trailing separator: the parent of "/x" is "/". Empty when there is no parent.
std::string ParentPath(std::string_view path);

// The last component ("/a/b/" gives "b"); a path that is only the separator gives itself.
std::string FileNamePart(std::string_view path);

// True when the path ends with the separator.
bool EndsWithSeparator(std::string_view path);
