#pragma once
// The records of one directory entry: RFILE_DATA for a remote entry (parsed from a
// listing line), FILE_DATA for a local one. Sizes are kept as two 32-bit halves because
// queue files and the panes store and show them that way.

#include <cstdint>
#include <list>
#include <string>

struct RFILE_DATA {
    std::string strName;
    std::string strAttribute;          // Unix permission text, empty for DOS listings
    std::int64_t tmModified = 0;       // seconds since 1970-01-01 00:00 UTC
    std::uint32_t nFileSizeHigh = 0;
    std::uint32_t nFileSizeLow = 0;
    bool bDirectory = false;
    // tmModified is the server's own time to the second (a machine-readable listing),
    // not a listing's local date and time to the minute or the day.
    bool bExactTime = false;
    std::string strDescription;

    std::uint64_t FileSize() const { return (std::uint64_t(nFileSizeHigh) << 32) | nFileSizeLow; }
    void SetFileSize(std::uint64_t size)
    {
        nFileSizeHigh = std::uint32_t(size >> 32);
        nFileSizeLow = std::uint32_t(size);
    }
};

// An ordered list that owns its records; the listing parser inserts at the front.
using RFILE_LIST = std::list<RFILE_DATA>;

struct FILE_DATA {
    std::string strName;
    std::int64_t ftModified = 0;       // 100 ns units since 1601-01-01 00:00 UTC
    std::uint32_t nFileSizeHigh = 0;
    std::uint32_t nFileSizeLow = 0;
    bool bDirectory = false;           // a real directory, never a link to one
    bool bLink = false;                // a symbolic link, shown as itself and never entered

    std::uint64_t FileSize() const { return (std::uint64_t(nFileSizeHigh) << 32) | nFileSizeLow; }
    void SetFileSize(std::uint64_t size)
    {
        nFileSizeHigh = std::uint32_t(size >> 32);
        nFileSizeLow = std::uint32_t(size);
    }
};
