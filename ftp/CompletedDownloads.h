#pragma once
// CCompletedDownloads: downloads whose bytes have all arrived and were checked, waiting to
// take their final names. They are flushed to the disk and renamed as a batch: the disk
// writing of every file in it has been started already, so the first fdatasync commits the
// file system's journal for all of them and the others cost little. One flush per batch
// instead of one per file keeps a tree of many small files fast, and still no file takes
// its final name before its bytes are on the disk.
//
// Usage:
//   completed.Add({std::move(part), fileName, localPath});
//   if (completed.Due()) completed.Finish(report);   // also at the end of every command
// A batch is due once it holds kMaxFiles files or kMaxBytes bytes, or its first file has
// waited kMaxWait: a crash loses at most that little finished work (the partial files are
// resumed at their end by the next run).

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ftp/PartialDownload.h"

class CCompletedDownloads {
public:
    struct Download {
        std::unique_ptr<CPartialDownload> part;
        std::string fileName;
        std::string localPath;
        std::uint64_t size = 0;
    };
    static constexpr std::size_t kMaxFiles = 64;  // each holds two descriptors meanwhile
    static constexpr std::uint64_t kMaxBytes = 256ull << 20;
    static constexpr std::chrono::milliseconds kMaxWait{1000};

    void Add(Download download);
    bool Empty() const { return waiting.empty(); }
    bool Due() const;
    // Flushes and renames every waiting file, in the order they came; `report` learns of
    // each (ok, or the reason it failed). Leaves the batch empty.
    void Finish(const std::function<void(const Download&, bool ok, const std::string& why)>& report);

private:
    std::vector<Download> waiting;
    std::uint64_t bytes = 0;
    std::chrono::steady_clock::time_point firstAdded;
};
