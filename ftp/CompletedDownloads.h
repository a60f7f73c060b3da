#pragma once
// CCompletedDownloads: downloads whose bytes have all arrived and were checked, waiting to
// take their final names. No file takes its final name before its bytes are on the disk,
// so a power cut never leaves a short file under it. Flushing every file on its own costs
// a journal commit and a flush of the disk's cache each, which made a tree of small files
// several times slower; so the files are flushed as a batch, with one flush of their file
// system, on a thread of its own while the next files arrive, and renamed after it. At
// most one batch is being flushed while the next one fills, which bounds the descriptors
// held (two per file).
//
// Usage (all calls on the one thread that owns the object):
//   completed.Add({std::move(part), fileName, localPath, size});  // may start a flush
//   completed.Collect(report);  // reports the files of batches flushed meanwhile
//   completed.Finish(report);   // flushes what waits and reports every file: at the end
//                               // of every command
// A batch is started once it holds kMaxFiles files or kMaxBytes bytes, or its first file
// has waited kMaxWait: a crash loses at most that little finished work (the partial files
// are resumed at their end by the next run).

#include <chrono>
#include <cstdint>
#include <functional>
#include <future>
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
    using Report = std::function<void(const Download&, bool ok, const std::string& why)>;
    static constexpr std::size_t kMaxFiles = 32;
    static constexpr std::uint64_t kMaxBytes = 256ull << 20;
    static constexpr std::chrono::milliseconds kMaxWait{1000};

    CCompletedDownloads() = default;
    ~CCompletedDownloads();  // waits for a flush under way; the files stay partial
    CCompletedDownloads(const CCompletedDownloads&) = delete;
    CCompletedDownloads& operator=(const CCompletedDownloads&) = delete;

    void Add(Download download);
    bool Empty() const { return waiting.empty() && !flushing.valid() && flushed.empty(); }
    // Reports, in the order they came, the files whose batch has been flushed and renamed
    // (ok, or the reason it failed); starts the waiting batch when it is due.
    void Collect(const Report& report);
    // Flushes and renames every waiting file and reports all. Leaves nothing behind.
    void Finish(const Report& report);

private:
    struct Outcome {
        Download download;
        bool ok = false;
        std::string why;
    };
    static std::vector<Outcome> FlushAndRename(std::vector<Download> batch);
    bool Due() const;
    void StartFlush();
    void TakeFlushed(bool wait);
    void ReportFlushed(const Report& report);

    std::vector<Download> waiting;
    std::uint64_t bytes = 0;
    std::chrono::steady_clock::time_point firstAdded;
    std::future<std::vector<Outcome>> flushing;
    std::vector<Outcome> flushed;
};
