#pragma once
// The entries of one local folder, as the cache and the search walk need them.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct FolderChild {
    std::string name;
    bool isDirectory = false; // a real directory, never a link to one
};

// The entries of the folder except "." and "..", in the order the file system returns
// them; empty when the folder cannot be read.
std::vector<FolderChild> ReadFolder(const std::string& folder);

// Reads the entries of an open folder one at a time. The kind of an entry comes from the
// folder listing itself where the file system tells it, so a walk over many folders asks
// nothing more per entry; links are never followed. The read buffer is kept for the next
// folder.
//
// Usage: CFolderReader reader; reader.Start(fd); while (reader.Next(child)) ...
class CFolderReader {
public:
    struct Child {
        std::string_view name; // valid until the next call of Next
        bool isDirectory = false;   // a real directory, never a link to one
        bool isRegularFile = false; // a plain file, never a link to one
    };

    CFolderReader();
    ~CFolderReader();
    CFolderReader(const CFolderReader&) = delete;
    CFolderReader& operator=(const CFolderReader&) = delete;

    // Starts reading the folder open as `folderFd`, which stays the caller's and must stay
    // open until the reading ends.
    void Start(int folderFd);

    // The next entry except "." and ".."; false at the end of the folder or on an error.
    bool Next(Child& child);

    // The errno value of a failed read after Next returned false; 0 at the end.
    int Error() const { return m_error; }

private:
    bool Refill();

    int m_fd = -1;
    int m_error = 0;
    std::vector<std::uint64_t> m_buffer; // 8-byte aligned for the entry records
    std::size_t m_pos = 0;
    std::size_t m_end = 0;
    void* m_portableDir = nullptr; // where the entries are read through the POSIX calls
};
