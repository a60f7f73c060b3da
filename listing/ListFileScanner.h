#pragma once
// Reads the list file of a cache folder through the folder's descriptor for a walk over
// many folders: one read into a buffer kept for the next folder, and one entry record
// reused for every line. It hands over exactly the entries ReadListFile gives, in file
// order.

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "listing/RemoteFileData.h"

class CListFileScanner {
public:
    // A list file larger than this is read line by line from its path instead, so a huge
    // or hostile file never takes more memory than a line.
    static constexpr std::size_t kLargestBufferedFile = 4 * 1024 * 1024;

    using OnEntry = std::function<void(const RFILE_DATA& entry)>;

    // Reads "files.lis" of the folder open as `folderFd` (its path is `folderPath`) and
    // calls onEntry for every accepted entry. `knownRegular` tells that the folder listing
    // has already shown it as a plain file. A link, or anything but a plain file, is not
    // read. False when there is no list file to read.
    bool Scan(int folderFd, const std::string& folderPath, bool knownRegular, const OnEntry& onEntry);

private:
    enum class Fill { Whole, TooLarge, Failed };
    Fill ReadWhole(int folderFd, bool knownRegular, std::size_t& size);
    void ScanLines(std::size_t size, const OnEntry& onEntry);

    std::vector<char> m_buffer;
    RFILE_DATA m_entry; // keeps its strings' room from line to line
};
