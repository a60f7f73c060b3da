#include "sites/HistoryFile.h"

#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

namespace {

using Entries = std::vector<std::string>;

TEST(History, LoadTrimsSkipsBlanksAndRepeats)
{
    XdgTempFolder tmp;
    tmp.Write("urlhis.txt", "beta\r\n  alpha \n\n\nBETA\ngamma\r\r\nAlpha2");
    HistoryList urls(tmp.File("urlhis.txt"), HistoryList::Order::Sorted);
    urls.LoadHistory();
    EXPECT_EQ(urls.Entries(), (Entries{"alpha", "Alpha2", "beta", "gamma"}));

    HistoryList paths(tmp.File("urlhis.txt"), HistoryList::Order::NewestFirst);
    paths.LoadHistory();
    EXPECT_EQ(paths.Entries(), (Entries{"Alpha2", "gamma", "alpha", "beta"}));
}

TEST(History, MissingFileGivesAnEmptyList)
{
    XdgTempFolder tmp;
    HistoryList list(tmp.File("nothing.txt"), HistoryList::Order::Sorted);
    list.LoadHistory();
    EXPECT_TRUE(list.Entries().empty());
}

TEST(History, AddsEachEntryOnceWithoutRegardToCase)
{
    XdgTempFolder tmp;
    tmp.Write("urlhis.txt", "old"); // no line end after the last entry
    HistoryList list(tmp.File("urlhis.txt"), HistoryList::Order::Sorted);
    list.LoadHistory();
    struct Step {
        std::string typed;
        bool added;
    };
    const Step steps[] = {
        {"  ftp.example.org  ", true},
        {"FTP.EXAMPLE.ORG", false},
        {"", false},
        {"   ", false},
        {"OLD", false},
        {"another", true},
    };
    for (const Step& s : steps)
        EXPECT_EQ(list.AddToHistory(s.typed), s.added) << s.typed;
    EXPECT_EQ(list.Entries(), (Entries{"another", "ftp.example.org", "old"}));
    EXPECT_EQ(tmp.Read("urlhis.txt"), "old\nftp.example.org\nanother\n");
    EXPECT_FALSE(list.LastWriteFailed());
}

TEST(History, PathListPutsNewEntriesOnTop)
{
    XdgTempFolder tmp;
    HistoryList list(tmp.File("pathhis.txt"), HistoryList::Order::NewestFirst);
    list.AddToHistory("/a");
    list.AddToHistory("/b");
    EXPECT_EQ(list.Entries(), (Entries{"/b", "/a"}));
    EXPECT_EQ(list.Find("/A"), 1);
}

TEST(History, UnwritableFileKeepsTheEntryInTheList)
{
    XdgTempFolder tmp;
    HistoryList list(tmp.File("no/such/folder/urlhis.txt"), HistoryList::Order::Sorted);
    EXPECT_TRUE(list.AddToHistory("h"));
    EXPECT_TRUE(list.LastWriteFailed());
    EXPECT_EQ(list.Entries(), (Entries{"h"}));
}

// Lines of 10 bytes ("entry0000\n"...), then `extra` bytes so the file has `size` bytes.
std::string HistoryOfSize(size_t size)
{
    std::string text;
    for (int i = 0; text.size() + 10 <= size; ++i) {
        char line[32];
        std::snprintf(line, sizeof line, "entry%04d\n", i);
        text += line;
    }
    while (text.size() < size)
        text.insert(0, "x");
    return text;
}

TEST(History, PruningCutsFilesAboveTenThousandBytes)
{
    struct Case {
        size_t size;
        bool cut;
    };
    const Case cases[] = {{9999, false}, {10000, false}, {10001, true}, {25000, true}};
    for (const Case& c : cases) {
        XdgTempFolder tmp;
        const std::string data = tmp.Path() + "/";
        const std::string original = HistoryOfSize(c.size);
        ASSERT_EQ(original.size(), c.size);
        tmp.Write("urlhis.txt", original);
        const PruneResult result = PruneHistoryFile(tmp.File("urlhis.txt"), data);
        EXPECT_TRUE(result.ok) << c.size;
        const std::string after = tmp.Read("urlhis.txt");
        if (!c.cut) {
            EXPECT_EQ(after, original) << c.size;
            continue;
        }
        // Kept: the whole lines that begin after the line holding byte size - 8000.
        const size_t start = c.size - 8000;
        const size_t from = original.find('\n', start) + 1;
        EXPECT_EQ(after, original.substr(from)) << c.size;
        EXPECT_LE(after.size(), 8000u);
        EXPECT_FALSE(std::filesystem::exists(tmp.File("~tmphis.txt")));
    }
}

TEST(History, PruningTenThousandAndOneBytesKeepsTheLinesAfterByte2001)
{
    XdgTempFolder tmp;
    // The first line ends at byte 2000 exactly, so byte 2001 begins a line; that partial
    // line is still dropped.
    const std::string first(2000, 'a');
    std::string rest;
    rest += "dropped\n";
    rest += std::string(10001 - 2001 - rest.size() - 5, 'k') + "\nlast";
    const std::string file = first + "\n" + rest;
    ASSERT_EQ(file.size(), 10001u);
    tmp.Write("pathhis.txt", file);
    ASSERT_TRUE(PruneHistoryFile(tmp.File("pathhis.txt"), tmp.Path() + "/").ok);
    EXPECT_EQ(tmp.Read("pathhis.txt"), rest.substr(rest.find('\n') + 1));
}

TEST(History, PruningFailuresAreFatal)
{
    XdgTempFolder tmp;
    tmp.Write("urlhis.txt", HistoryOfSize(12000));
    const std::string missingData = tmp.Path() + "/missing/";
    const PruneResult result = PruneHistoryFile(tmp.File("urlhis.txt"), missingData);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.message, "Can't create temporary file " + missingData + "~tmphis.txt!");
    EXPECT_EQ(tmp.Read("urlhis.txt").size(), 12000u);

    EXPECT_NE(std::string(kFatalErrorText).find("Application will terminate now."), std::string::npos);
}

} // namespace
