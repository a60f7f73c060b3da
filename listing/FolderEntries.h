#pragma once
// The entries of one local folder, as the cache and the search walk need them.

#include <string>
#include <vector>

struct FolderChild {
    std::string name;
    bool isDirectory = false; // a real directory, never a link to one
};

// The entries of the folder except "." and "..", in the order the file system returns
// them; empty when the folder cannot be read.
std::vector<FolderChild> ReadFolder(const std::string& folder);
