#pragma once
// The folders of the chosen cache sites in the order the offline search visits them: the
// sites one after another in list order, each walked breadth-first, level by level, the
// subfolders of a folder in the order the file system returns them. Nothing below the
// cache home is reached through a link.

#include <cstddef>
#include <deque>
#include <string>
#include <vector>

#include "listing/Descriptor.h"
#include "listing/FolderEntries.h"

// One folder of the walk, already opened and listed.
struct CachedFolder {
    std::string relative;     // the folder's path below the cache home, the site first
    CDescriptor handle;       // closed when the folder could not be opened
    bool hasListFile = false; // as a plain file: a link or a pipe of that name is not read
};

class CCacheFolderWalker {
public:
    // A site is one folder directly under the cache home; other names are passed over.
    CCacheFolderWalker(const std::string& cacheHome, std::vector<std::string> sites);

    // The next folder; false when every site has been walked. A folder that cannot be
    // opened is still handed over, with nothing to read.
    bool Next(CachedFolder& folder);

private:
    // The subfolders of one folder, waiting for their turn. They are opened through their
    // parent, which is opened again once for the group, so the walk holds only a few
    // descriptors however wide the tree is.
    struct PendingFolders {
        std::string parent; // below the cache home; empty for a site's own folder
        std::vector<std::string> names;
    };

    bool StartNextGroup();
    void ListFolder(const std::string& name, CachedFolder& folder);

    CDescriptor m_home;
    std::vector<std::string> m_sites;
    std::size_t m_nextSite = 0;
    std::deque<PendingFolders> m_queue;
    PendingFolders m_group;
    std::size_t m_nextInGroup = 0;
    CDescriptor m_groupParent; // closed for a site's group, whose parent is the home
    CFolderReader m_reader;
};
