#pragma once
// Reads the list file of a cache folder for a walk over many folders: one read into a
// buffer kept for the next folder, and one entry record reused for every line. It hands
// over exactly the entries ReadListFile gives, in file order.

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "listing/Descriptor.h"
#include "listing/RemoteFileData.h"

class CListFileScanner {
public:
    // A list file larger than this is read line by line from its path instead, so a huge
    // or hostile file never takes more memory than a line.
    static constexpr std::size_t kLargestBufferedFile = 4 * 1024 * 1024;

    using OnEntry = std::function<void(const RFILE_DATA& entry)>;

    // Opens "files.lis" of the folder open as `folderFd`. A link is never followed, and a
    // pipe in its place does not block.
    static CDescriptor OpenListFile(int folderFd);

    // Reads the list file open as `fileFd` (of the folder at `folderPath`), which the folder
    // listing showed as a plain file, and calls onEntry for every accepted entry. False
    // when the file cannot be read.
    bool Scan(int fileFd, const std::string& folderPath, const OnEntry& onEntry);

private:
    enum class Fill { Whole, TooLarge, Failed };
    Fill ReadWhole(int fileFd, std::size_t& size);
    void ScanLines(std::size_t size, const OnEntry& onEntry);

    std::vector<char> m_buffer;
    RFILE_DATA m_entry; // keeps its strings' room from line to line
};
