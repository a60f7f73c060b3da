// The download's lookup of remote entries in the directory cache: it reads a folder's list
// file once for many files, yet always answers from the listing on disk now.

#include <gtest/gtest.h>

#include <string>

#include "ftp/CachedEntryLookup.h"
#include "listing/DirectoryCache.h"
#include "tests/support/TempFolder.h"

namespace {

std::string Line(const std::string& name, int size)
{
    return "-rw-r--r-- 1 user group " + std::to_string(size) + " Jan 01 2020 " + name + "\r\n";
}

class CachedEntryLookupTest : public ::testing::Test {
protected:
    CachedEntryLookupTest() : cache(CacheSettings{home.Path() + "/cache", true, false}) {}

    // The size of the entry the lookup finds, -1 when it finds none.
    long long SizeFound(const std::string& remoteFile)
    {
        RFILE_DATA entry;
        if (!lookup.Find(cache, "127.0.0.1", remoteFile, entry))
            return -1;
        return static_cast<long long>(entry.FileSize());
    }

    TempFolder home;
    CDirectoryCache cache;
    CCachedEntryLookup lookup;
};

TEST_F(CachedEntryLookupTest, AnswersFromTheListingOnDiskNow)
{
    ASSERT_EQ(cache.UpdateDirectoryCache("127.0.0.1", "/pub", Line("a.txt", 100) + Line("b.txt", 200)), 1);
    ASSERT_EQ(cache.UpdateDirectoryCache("127.0.0.1", "/other", Line("a.txt", 7)), 1);
    EXPECT_EQ(SizeFound("/pub/a.txt"), 100);
    EXPECT_EQ(SizeFound("/pub/b.txt"), 200);
    EXPECT_EQ(SizeFound("/pub/c.txt"), -1) << "a name the listing lacks";
    EXPECT_EQ(SizeFound("/pub/A.TXT"), -1) << "names are compared with case";
    EXPECT_EQ(SizeFound("/other/a.txt"), 7) << "another folder's listing";
    EXPECT_EQ(SizeFound("/pub/a.txt"), 100) << "and back";

    // Rewritten at once with the same length: only the file's identity tells it changed.
    ASSERT_EQ(cache.UpdateDirectoryCache("127.0.0.1", "/pub", Line("a.txt", 300) + Line("b.txt", 400)), 1);
    EXPECT_EQ(SizeFound("/pub/a.txt"), 300);
    EXPECT_EQ(SizeFound("/pub/b.txt"), 400);

    ASSERT_TRUE(cache.DeleteCachedList("127.0.0.1", "/pub"));
    EXPECT_EQ(SizeFound("/pub/a.txt"), -1) << "a listing dropped from the cache";
    EXPECT_EQ(SizeFound("/nowhere/a.txt"), -1) << "a folder never listed";
}

}  // namespace
