// Building queue entries from a pane's selection.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "session/QueueBuilder.h"
#include "session/TransferQueue.h"
#include "tests/support/TempFolder.h"

namespace {

RFILE_DATA Remote(const std::string& name)
{
    RFILE_DATA entry;
    entry.strName = name;
    return entry;
}

FILE_DATA Local(const std::string& name, bool directory = false, std::uint64_t size = 0)
{
    FILE_DATA entry;
    entry.strName = name;
    entry.bDirectory = directory;
    entry.SetFileSize(size);
    return entry;
}

// The remote pane's FindEntry over a fixed set of known entries.
class KnownEntries {
public:
    void Add(const std::string& path, bool directory, std::uint64_t size)
    {
        RFILE_DATA entry;
        entry.bDirectory = directory;
        entry.SetFileSize(size);
        m_entries[path] = entry;
    }
    RemoteEntryFinder Finder()
    {
        return [this](const std::string& path, RFILE_DATA& entry) {
            auto it = m_entries.find(path);
            if (it == m_entries.end())
                return false;
            entry = it->second;
            return true;
        };
    }

private:
    std::map<std::string, RFILE_DATA> m_entries;
};

} // namespace

TEST(QueueBuilder, DownloadsTakeSizeAndKindFromFindEntry)
{
    CTransferQueue queue;
    KnownEntries known;
    known.Add("/pub/dir", true, 0);
    known.Add("/pub/big.iso", false, 6'000'000'000ULL);

    const CQueueBuildResult result = QueueDownloads(
        queue, {Remote("dir"), Remote("big.iso"), Remote("unknown")}, "/pub", "/home/me/in", 2,
        known.Finder());
    EXPECT_EQ(result.appended, 3);
    ASSERT_EQ(queue.Size(), 3u);

    const std::optional<CQueueEntry> dir = queue.FindEntry("/home/me/in", "/pub/dir", QUEUE_DOWNLOAD);
    ASSERT_TRUE(dir);
    EXPECT_EQ(dir->kind, KIND_DIRECTORY);
    EXPECT_EQ(dir->afterDownloadAction, 2);
    EXPECT_EQ(dir->pattern, "*");
    EXPECT_EQ(dir->includeSubdirectories, 1);

    const std::optional<CQueueEntry> big = queue.FindEntry("/home/me/in", "/pub/big.iso", QUEUE_DOWNLOAD);
    ASSERT_TRUE(big);
    EXPECT_EQ(big->kind, KIND_FILE);
    EXPECT_EQ(big->Size(), 6'000'000'000ULL);

    const std::optional<CQueueEntry> unknown = queue.FindEntry("/home/me/in", "/pub/unknown", QUEUE_DOWNLOAD);
    ASSERT_TRUE(unknown);
    EXPECT_TRUE(unknown->SizeUnknown());
    EXPECT_EQ(unknown->ExpectedSize(), -1);
    EXPECT_EQ(unknown->kind, KIND_FILE);
}

TEST(QueueBuilder, QueueingTheSameDownloadTwiceLeavesOneEntryAtTheFirstPosition)
{
    CTransferQueue queue;
    QueueDownloads(queue, {Remote("a"), Remote("b")}, "/pub/", "/in", 0, {});
    const CQueueBuildResult again = QueueDownloads(queue, {Remote("a")}, "/pub/", "/in", 0, {});
    EXPECT_EQ(again.replaced, 1);
    EXPECT_EQ(queue.Size(), 2u);
    EXPECT_EQ(queue.Find(queue.Ids().front())->remotePath, "/pub/a");
    // Into another folder it is another job.
    QueueDownloads(queue, {Remote("a")}, "/pub", "/elsewhere", 0, {});
    EXPECT_EQ(queue.Size(), 3u);
}

TEST(QueueBuilder, HostileNamesAreNeverQueued)
{
    CTransferQueue queue;
    const CQueueBuildResult result = QueueDownloads(
        queue, {Remote(".."), Remote("."), Remote("x/../../y"), Remote(""), Remote("fine")},
        "/pub", "/in", 0, {});
    EXPECT_EQ(result.appended, 1);
    EXPECT_EQ(result.warnings.size(), 4u);
    EXPECT_EQ(queue.Find(queue.Ids().front())->remotePath, "/pub/fine");

    CTransferQueue uploads;
    EXPECT_EQ(QueueUploads(uploads, {Local(".."), Local("a/b")}, "/home/me", "/in").warnings.size(), 2u);
    EXPECT_TRUE(uploads.IsEmpty());
}

TEST(QueueBuilder, UploadsTakeSizeAndKindFromTheFileSystem)
{
    TempFolder folder;
    folder.Write("file.bin", std::string(1234, 'x'));
    std::filesystem::create_directory(folder / "tree");

    CTransferQueue queue;
    // The records are stale; the files are what is sent. A vanished file keeps its record.
    QueueUploads(queue, {Local("file.bin", false, 1), Local("tree", false, 99), Local("gone", false, 42)},
                 folder.Path(), "/incoming");
    ASSERT_EQ(queue.Size(), 3u);

    const std::optional<CQueueEntry> file = queue.FindEntry(folder / "file.bin", "/incoming", QUEUE_UPLOAD);
    ASSERT_TRUE(file);
    EXPECT_EQ(file->Size(), 1234u);
    EXPECT_EQ(file->kind, KIND_FILE);

    const std::optional<CQueueEntry> tree = queue.FindEntry(folder / "tree", "/incoming", QUEUE_UPLOAD);
    ASSERT_TRUE(tree);
    EXPECT_EQ(tree->kind, KIND_DIRECTORY);

    const std::optional<CQueueEntry> gone = queue.FindEntry(folder / "gone", "/incoming", QUEUE_UPLOAD);
    ASSERT_TRUE(gone);
    EXPECT_EQ(gone->Size(), 42u);
}

TEST(QueueBuilder, SiteToSiteAndDeleteEntries)
{
    CTransferQueue queue;
    KnownEntries known;
    known.Add("/src/dir", true, 0);
    auto* partner = static_cast<CFtpSession*>(static_cast<void*>(&known));  // compared only

    QueueSiteToSite(queue, {Remote("dir")}, "/src", partner, "target.example", "/dst",
                    known.Finder());
    const std::optional<CQueueEntry> copy = queue.FindEntry("ftp://target.example/dst", "/src/dir", QUEUE_DOWNLOAD);
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->partner, partner);
    EXPECT_EQ(copy->kind, KIND_DIRECTORY);
    // An IPv6 partner is written in brackets, as a URL must.
    QueueSiteToSite(queue, {Remote("dir")}, "/src", partner, "::1", "/dst", known.Finder());
    EXPECT_TRUE(queue.FindEntry("ftp://[::1]/dst", "/src/dir", QUEUE_DOWNLOAD));

    QueueDeletes(queue, {Remote("dir"), Remote("file")}, "/src", known.Finder());
    const std::optional<CQueueEntry> deleteDir = queue.FindEntry("", "/src/dir", QUEUE_DELETE);
    ASSERT_TRUE(deleteDir);
    EXPECT_EQ(deleteDir->kind, KIND_DIRECTORY);
    ASSERT_TRUE(queue.FindEntry("", "/src/file", QUEUE_DELETE));
}
