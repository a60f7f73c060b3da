#pragma once
// Rules for remote paths that the operations share.

#include <string>
#include <string_view>

// Both paths with a trailing separator ("/" or "\\", whichever the path uses; "\\" when
// it has none) compared without regard to case.
bool SamePath(std::string_view a, std::string_view b);

// The directory part of a remote file path ("/a/b.txt" gives "/a", "b.txt" gives "").
std::string RemoteDirectoryOf(std::string_view path);

// White space trimmed from both ends.
std::string TrimBlanks(std::string_view text);

// True when a name received from a server can be joined to a local folder without the
// result leaving that folder: not empty, not "." or "..", no "/" or "\\", no NUL.
bool IsSafeLocalFileName(std::string_view name);
