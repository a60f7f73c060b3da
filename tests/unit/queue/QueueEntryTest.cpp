// Queue entries: new-entry values and the entry line of a queue file.

#include <gtest/gtest.h>

#include <string>

#include "session/QueueEntry.h"
#include "tests/support/TempFolder.h"

namespace {

std::string LineOf(const CQueueEntry& entry)
{
    std::string line;
    EXPECT_TRUE(entry.WriteLine(line));
    return line;
}

} // namespace

TEST(QueueEntry, NewEntryValues)
{
    CQueueEntry entry;
    EXPECT_EQ(entry.status, STATUS_QUEUED);
    EXPECT_EQ(entry.afterDownloadAction, 0);
    EXPECT_EQ(entry.includeSubdirectories, 1);
    EXPECT_EQ(entry.pattern, "*");
    EXPECT_EQ(entry.updateOnly, 0);
    EXPECT_EQ(entry.expanded, 0);
    EXPECT_TRUE(entry.pending.empty());
    EXPECT_EQ(entry.partner, nullptr);
}

TEST(QueueEntry, WritesNineTabSeparatedFieldsWithSignedSizes)
{
    CQueueEntry entry;
    entry.kind = KIND_DIRECTORY;
    entry.remotePath = "/pub/dir";
    entry.operation = QUEUE_DOWNLOAD;
    entry.localPath = "/home/me/in";
    entry.SetSize(0x1'8000'0000ULL);  // 6 GiB: high 1, low from 2 GiB up
    entry.pattern = "*.txt;*.htm";
    entry.updateOnly = 1;
    entry.includeSubdirectories = 0;
    EXPECT_EQ(LineOf(entry), "1\t/pub/dir\t0\t/home/me/in\t1\t-2147483648\t*.txt;*.htm\t1\t0\n");

    entry.SetSizeUnknown();
    EXPECT_EQ(LineOf(entry), "1\t/pub/dir\t0\t/home/me/in\t0\t-1\t*.txt;*.htm\t1\t0\n");
}

TEST(QueueEntry, RoundTripKeepsEveryStoredField)
{
    struct Case {
        int kind, operation;
        const char* remote;
        const char* local;
        std::uint64_t size;
        const char* pattern;
        int updateOnly, include;
    };
    const Case cases[] = {
        {KIND_FILE, QUEUE_DOWNLOAD, "/pub/a.txt", "/home/me", 1234, "*", 0, 1},
        {KIND_DIRECTORY, QUEUE_DOWNLOAD, "/pub/big", "/home/me", 5'000'000'000ULL, "*.iso", 1, 0},
        // A delete has no local path: the empty field must not shift the others.
        {KIND_FILE, QUEUE_DELETE, "/pub/old.zip", "", 77, "*", 0, 1},
        {KIND_DIRECTORY, QUEUE_CACHEDIR, "/pub", "", 0, "a b;c?d", 0, 0},
        {KIND_FILE, QUEUE_DOWNLOAD, "/pub/x", "ftp://other.example/in", 3'000'000'000ULL, "*", 0, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.remote);
        CQueueEntry written;
        written.kind = c.kind;
        written.operation = c.operation;
        written.remotePath = c.remote;
        written.localPath = c.local;
        written.SetSize(c.size);
        written.pattern = c.pattern;
        written.updateOnly = c.updateOnly;
        written.includeSubdirectories = c.include;
        written.status = STATUS_ERROR;  // not stored: a loaded entry is queued

        CQueueEntry read;
        ASSERT_EQ(read.ReadLine(LineOf(written)), QueueLineResult::Entry);
        EXPECT_EQ(read.kind, c.kind);
        EXPECT_EQ(read.operation, c.operation);
        EXPECT_EQ(read.remotePath, c.remote);
        EXPECT_EQ(read.localPath, c.local);
        EXPECT_EQ(read.Size(), c.size);
        EXPECT_EQ(read.pattern, c.pattern);
        EXPECT_EQ(read.updateOnly, c.updateOnly);
        EXPECT_EQ(read.includeSubdirectories, c.include);
        EXPECT_EQ(read.status, STATUS_QUEUED);
    }
}

TEST(QueueEntry, ReadsShortAndOddLines)
{
    struct Case {
        const char* line;
        int kind, operation;
        const char* remote;
        const char* local;
        std::uint32_t high, low;
        const char* pattern;
        int updateOnly, include;
    };
    const Case cases[] = {
        // Empty pattern reads as "*"; a missing ninth field as 1.
        {"0\t/a\t0\t/l\t0\t5\t\t1", 0, 0, "/a", "/l", 0, 5, "*", 1, 1},
        {"0\t/a\t0\t/l\t0\t5\t*.c\t0\t", 0, 0, "/a", "/l", 0, 5, "*.c", 0, 1},
        // Missing and non-numeric fields read as 0.
        {"x\t/a\tz\t/l", 0, 0, "/a", "/l", 0, 0, "*", 0, 1},
        {"1\t/a", 1, 0, "/a", "", 0, 0, "*", 0, 1},
        // Leading digits only; surrounding white space trimmed.
        {"  1abc\t/a\t2\t\t0\t12kb\t*\t0\t1 \r", 1, 2, "/a", "", 0, 12, "*", 0, 1},
        // Sizes written unsigned by another writer read the same as signed ones.
        {"0\t/a\t0\t/l\t1\t4294967295\t*\t0\t1", 0, 0, "/a", "/l", 1, 0xFFFFFFFFu, "*", 0, 1},
        {"0\t/a\t0\t/l\t0\t-1\t*\t0\t1", 0, 0, "/a", "/l", 0, 0xFFFFFFFFu, "*", 0, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        CQueueEntry entry;
        ASSERT_EQ(entry.ReadLine(c.line), QueueLineResult::Entry);
        EXPECT_EQ(entry.kind, c.kind);
        EXPECT_EQ(entry.operation, c.operation);
        EXPECT_EQ(entry.remotePath, c.remote);
        EXPECT_EQ(entry.localPath, c.local);
        EXPECT_EQ(entry.sizeHigh, c.high);
        EXPECT_EQ(entry.sizeLow, c.low);
        EXPECT_EQ(entry.pattern, c.pattern);
        EXPECT_EQ(entry.updateOnly, c.updateOnly);
        EXPECT_EQ(entry.includeSubdirectories, c.include);
    }
}

TEST(QueueEntry, BlankLineLeavesTheEntryUnchanged)
{
    CQueueEntry entry;
    entry.remotePath = "/keep";
    EXPECT_EQ(entry.ReadLine(" \t \r"), QueueLineResult::Empty);
    EXPECT_EQ(entry.remotePath, "/keep");
}

TEST(QueueEntry, UploadTakesItsSizeFromTheFileSystem)
{
    TempFolder folder;
    folder.Write("grown.bin", std::string(300, 'x'));
    std::filesystem::create_directory(folder / "dir");

    CQueueEntry upload;
    ASSERT_EQ(upload.ReadLine("0\t/in\t1\t" + folder / "grown.bin" + "\t0\t100\t*\t0\t1"),
              QueueLineResult::Entry);
    EXPECT_EQ(upload.Size(), 300u);
    EXPECT_EQ(upload.pattern, "*");

    CQueueEntry directory;
    ASSERT_EQ(directory.ReadLine("1\t/in\t1\t" + folder / "dir" + "\t0\t100\t*.c\t1\t0"),
              QueueLineResult::Entry);
    EXPECT_EQ(directory.Size(), 0u);
    EXPECT_EQ(directory.pattern, "*.c");
    EXPECT_EQ(directory.updateOnly, 1);
    EXPECT_EQ(directory.includeSubdirectories, 0);

    // Gone since saving: the stored size stays.
    CQueueEntry gone;
    ASSERT_EQ(gone.ReadLine("0\t/in\t1\t" + folder / "gone" + "\t0\t100\t*\t0\t1"),
              QueueLineResult::Entry);
    EXPECT_EQ(gone.Size(), 100u);

    // A download with the same local path keeps the stored size.
    CQueueEntry download;
    ASSERT_EQ(download.ReadLine("0\t/in/f\t0\t" + folder / "grown.bin" + "\t0\t100\t*\t0\t1"),
              QueueLineResult::Entry);
    EXPECT_EQ(download.Size(), 100u);
}

TEST(QueueEntry, DownloadThatWouldNameNoSafeLocalFileIsRejected)
{
    // A NUL inside the remote path: the literal is measured, never counted by hand.
    static const char withNul[] = "0\t/pub/a\0b\t0\t/home/me\t0\t1\t*\t0\t1";
    const std::string rejected[] = {
        "0\t/pub/..\t0\t/home/me\t0\t1\t*\t0\t1",
        "1\t/pub/.\t0\t/home/me\t0\t1\t*\t0\t1",
        "1\t..\t0\t/home/me\t0\t1\t*\t0\t1",
        "1\t/\t0\t/home/me\t0\t1\t*\t0\t1",
        "0\t\t0\t/home/me\t0\t1\t*\t0\t1",
        std::string(withNul, sizeof withNul - 1),
    };
    for (const std::string& line : rejected) {
        SCOPED_TRACE(line);
        CQueueEntry entry;
        std::string message;
        EXPECT_EQ(entry.ReadLine(line, &message), QueueLineResult::Rejected);
        EXPECT_FALSE(message.empty());
    }
    // ".." inside the remote path is the server's business; only the last component
    // becomes a local name. Deletes and site-to-site copies write nothing locally.
    const std::string accepted[] = {
        "0\t/pub/../etc/file\t0\t/home/me\t0\t1\t*\t0\t1",
        "1\t/pub/..\t2\t\t0\t1\t*\t0\t1",
        "1\t/\t0\tftp://other/in\t0\t1\t*\t0\t1",
    };
    for (const std::string& line : accepted) {
        SCOPED_TRACE(line);
        CQueueEntry entry;
        EXPECT_EQ(entry.ReadLine(line), QueueLineResult::Entry);
    }
}

TEST(QueueEntry, FieldsThatCannotBeWrittenAsOneLineAreRefused)
{
    const char* bad[] = {"a\tb", "a\nb", "a\rb"};
    for (const char* text : bad) {
        SCOPED_TRACE(text);
        for (int field = 0; field < 3; ++field) {
            CQueueEntry entry;
            (field == 0 ? entry.remotePath : field == 1 ? entry.localPath : entry.pattern) = text;
            std::string out = "kept";
            EXPECT_FALSE(entry.WriteLine(out));
            EXPECT_EQ(out, "kept");
        }
    }
}

TEST(QueueEntry, SafeLocalNames)
{
    struct Case {
        std::string name;
        bool safe;
    };
    const Case cases[] = {
        {"file.txt", true}, {"..hidden", true}, {"a..b", true}, {"back\\slash", true},
        {"", false}, {".", false}, {"..", false}, {"a/b", false}, {"/", false},
        {std::string("a\0b", 3), false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(IsSafeLocalName(c.name), c.safe) << c.name;
}

TEST(QueueEntry, SiteToSiteTargets)
{
    EXPECT_TRUE(IsSiteToSiteTarget("ftp://host/dir"));
    EXPECT_FALSE(IsSiteToSiteTarget("/home/ftp://x"));
    EXPECT_EQ(SiteToSiteHost("ftp://host.example/dir/sub"), "host.example");
    EXPECT_EQ(SiteToSiteHost("ftp://host.example"), "host.example");
    EXPECT_EQ(SiteToSiteHost("/local"), "");
}
