#pragma once
// CPartialDownload: the local side of one download. The bytes go to a partial file beside
// the target ("NAME.tvpart"), which takes the target's name only once the transfer has
// completed and its size is right; until then an existing target stays as it was, and a
// file cut short by a crash or a lost connection never passes for the whole one.
//
// Links: every step works relative to the target's folder (opened once) and never
// follows a link in the last component, so a link planted under the target's or the
// partial file's name is refused instead of written through. The folder itself may be
// a link: the user chose it.
//
// Usage:
//   CPartialDownload part;
//   if (!part.Inspect(localPath, why)) ... refused (a link, not a regular file) ...
//   part.TargetExists(), part.TargetSize(), part.TargetTime()   // the overwrite decision
//   int fd = part.Open(mode, why);        // PartialMode: fresh, resume the partial, or
//                                         // resume the target itself
//   ... hand fd to the data socket, transfer; part.ResumeOffset() tells where it began ...
//   part.Verify(expected, time, why)      // size check, time; then, maybe with others,
//   part.Finish(why)                      // fdatasync, rename
//   or part.Abandon()                        // nothing arrived: no file is left behind

#include <cstdint>
#include <string>

// The suffix of a transfer's partial file, locally and (for uploads) on the server.
inline constexpr const char* kPartialSuffix = ".tvpart";

class CPartialDownload {
public:
    CPartialDownload() = default;
    ~CPartialDownload();
    CPartialDownload(const CPartialDownload&) = delete;
    CPartialDownload& operator=(const CPartialDownload&) = delete;

    // Opens the target's folder and looks at the target and the partial file without
    // following links. False, with `why` set, when either name is taken by a link or by
    // something other than a regular file. A folder that cannot be opened holds nothing;
    // Open then fails with the reason.
    bool Inspect(const std::string& targetPath, std::string& why);

    bool TargetExists() const { return targetExists; }
    std::uint64_t TargetSize() const { return targetSize; }
    std::int64_t TargetTime() const { return targetTime; }
    bool PartialExists() const { return partialExists; }
    std::uint64_t PartialSize() const { return partialSize; }
    const std::string& PartialPath() const { return partialPath; }

    enum class Mode {
        Fresh,          // start from nothing (an old partial file is emptied)
        ResumePartial,  // go on from the partial file's end
        ResumeTarget,   // the target becomes the partial file and goes on from its end
    };
    // Opens (creating) the partial file for writing; returns a descriptor the caller
    // hands on (a duplicate: this object keeps its own), or -1 with `why` set.
    int Open(Mode mode, std::string& why);
    // Where the transfer begins: the partial file's size when resuming, else 0.
    std::uint64_t ResumeOffset() const { return offset; }
    // The server would not resume: the partial file starts again from nothing.
    bool Restart(std::string& why);
    // The partial file's current size (what is on disk now).
    std::uint64_t CurrentSize() const;

    // The transfer completed: checks the size (expected < 0: unknown, not checked) and sets
    // the modification time (0: left alone).
    // False with `why` set; a wrong size leaves the partial file (a longer one is started
    // over next time).
    bool Verify(std::int64_t expectedSize, std::int64_t modified, std::string& why);
    // After Verify: flushes the data to the disk, unless `flushed` says FlushFileSystem
    // did so for a batch, then renames the partial file to the target, replacing it.
    // False with `why` set.
    bool Finish(std::string& why, bool flushed = false);
    // Flushes the whole file system the partial file lives on: one journal commit and one
    // flush of the disk's cache for a whole batch of files.
    bool FlushFileSystem(std::string& why);
    // The transfer failed. When nothing arrived in this attempt, nothing is left behind
    // that was not there before (a target taken over for resuming gets its name back).
    void Abandon();

private:
    void CloseAll();

    int folderFd = -1;
    int fileFd = -1;
    std::string targetName;
    std::string partialName;
    std::string partialPath;
    std::string folderProblem;
    bool targetExists = false;
    std::uint64_t targetSize = 0;
    std::int64_t targetTime = 0;
    bool partialExists = false;
    std::uint64_t partialSize = 0;
    std::uint64_t offset = 0;
    bool tookTarget = false;
};
