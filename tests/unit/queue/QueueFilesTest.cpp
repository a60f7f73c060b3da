// Queue files: saving sessions' queues, loading them into sessions, autosave.

#include <gtest/gtest.h>

#include <filesystem>

#include "FakeSessions.h"
#include "session/QueueFiles.h"
#include "tests/support/TempFolder.h"

namespace {

std::unique_ptr<CQueueEntry> Download(const std::string& remote, const std::string& local,
                                      std::uint64_t size)
{
    auto entry = std::make_unique<CQueueEntry>();
    entry->remotePath = remote;
    entry->localPath = local;
    entry->SetSize(size);
    return entry;
}

class QueueFilesTest : public ::testing::Test {
protected:
    std::string Load(const std::string& text)
    {
        folder.Write("q.tvq", text);
        result = LoadQueueFile(folder / "q.tvq", sessions, sites, settings);
        return result.error;
    }
    // A copy of the first entry of the host's queue (an empty entry when there is none).
    CQueueEntry FirstEntry(const std::string& host)
    {
        CQueueEntry first;
        bool found = false;
        if (FakeSessions::Session* session = sessions.Find(host))
            session->queue.ForEach([&](const CQueueEntry& e) {
                if (!found)
                    first = e;
                found = true;
            });
        EXPECT_TRUE(found) << host;
        return first;
    }
    std::vector<std::string> Remotes(const std::string& host)
    {
        std::vector<std::string> remotes;
        FakeSessions::Session* session = sessions.Find(host);
        if (session)
            session->queue.ForEach([&](const CQueueEntry& e) { remotes.push_back(e.remotePath); });
        return remotes;
    }

    TempFolder folder;
    FakeSessions sessions;
    SiteList sites;
    CSettings settings;
    CQueueLoadResult result;
};

} // namespace

TEST_F(QueueFilesTest, SavesSectionsInSiteListOrderAndSkipsEmptyQueues)
{
    CTransferQueue first, empty, second;
    first.Append(Download("/pub/a", "/home/me", 10));
    first.Append(Download("/pub/b", "/home/me", 20));
    second.Append(Download("/x", "/tmp", 3));

    const std::string path = folder / "all.tvq";
    ASSERT_TRUE(SaveQueues({{"one.example", &first}, {"void.example", &empty},
                            {"two.example", &second}},
                           path));
    EXPECT_EQ(ReadFile(path),
              "[one.example]\n"
              "0\t/pub/a\t0\t/home/me\t0\t10\t*\t0\t1\n"
              "0\t/pub/b\t0\t/home/me\t0\t20\t*\t0\t1\n"
              "\n"
              "[two.example]\n"
              "0\t/x\t0\t/tmp\t0\t3\t*\t0\t1\n"
              "\n");

    ASSERT_TRUE(SaveQueues({{"void.example", &empty}}, path));
    EXPECT_EQ(ReadFile(path), "");
}

TEST_F(QueueFilesTest, RoundTripYieldsQueuedEntriesWithTheSameFields)
{
    CTransferQueue queue;
    auto directory = Download("/pub/dir", "/home/me", 0);
    directory->kind = KIND_DIRECTORY;
    directory->pattern = "*.c;*.h";
    directory->includeSubdirectories = 0;
    directory->updateOnly = 1;
    directory->status = STATUS_STOPPED;
    queue.Append(std::move(directory));
    queue.Append(Download("/pub/huge.iso", "/home/me", 9'000'000'000ULL));

    const std::string saved = FormatQueueFile({{"host.example", &queue}});
    ASSERT_EQ(Load(saved), "");
    ASSERT_EQ(result.entries, 2);
    EXPECT_EQ(FormatQueueFile({{"host.example", &sessions.Find("host.example")->queue}}), saved);
    sessions.Find("host.example")->queue.ForEach(
        [](const CQueueEntry& entry) { EXPECT_EQ(entry.status, STATUS_QUEUED); });
}

TEST_F(QueueFilesTest, SavingReplacesTheFileWholeAndKeepsTheOldOneOnFailure)
{
    CTransferQueue queue;
    queue.Append(Download("/pub/a", "/home/me", 10));
    const std::string path = folder / "autosave.tvq";
    const std::string old = "[old.example]\n0\t/old\t0\t/l\t0\t1\t*\t0\t1\n\n";
    WriteFile(path, old);
    {
        FileSizeLimit limit(16);  // the new text does not fit: as on a full disk
        std::string error;
        EXPECT_FALSE(SaveQueues({{"host.example", &queue}}, path, &error));
        EXPECT_FALSE(error.empty());
    }
    EXPECT_EQ(ReadFile(path), old);

    ASSERT_TRUE(SaveQueues({{"host.example", &queue}}, path));
    EXPECT_EQ(ReadFile(path).substr(0, 14), "[host.example]");
    // Nothing but the file itself is left in the folder.
    int files = 0;
    for ([[maybe_unused]] const auto& item : std::filesystem::directory_iterator(folder.Path()))
        ++files;
    EXPECT_EQ(files, 1);
}

TEST_F(QueueFilesTest, EntriesThatCannotBeWrittenAreLeftOutAndCounted)
{
    CTransferQueue queue;
    queue.Append(Download("/pub/a\nb", "/home/me", 1));
    queue.Append(Download("/pub/ok", "/home/me", 1));
    CTransferQueue badHost;
    badHost.Append(Download("/x", "/l", 1));
    int skipped = 0;
    const std::string text =
        FormatQueueFile({{"host.example", &queue}, {"evil\n[x]", &badHost}}, &skipped);
    EXPECT_EQ(skipped, 2);
    EXPECT_EQ(text, "[host.example]\n0\t/pub/ok\t0\t/home/me\t0\t1\t*\t0\t1\n\n");
}

TEST_F(QueueFilesTest, ExistingSessionGetsTheEntriesAppendedWithoutDeduplication)
{
    FakeSessions::Session& open = *sessions.sessions.emplace_back(new FakeSessions::Session);
    open.site.address = "host.example";
    open.queue.Append(Download("/pub/a", "/l", 1));

    const std::string job = "[host.example]\n0\t/pub/a\t0\t/l\t0\t1\t*\t0\t1\n"
                            "0\t/pub/b\t0\t/l\t0\t1\t*\t0\t1\n\n";
    ASSERT_EQ(Load(job), "");
    ASSERT_EQ(Load(job), "");  // imported twice: entries twice
    EXPECT_EQ(sessions.sessions.size(), 1u);
    EXPECT_EQ(Remotes("host.example"),
              (std::vector<std::string>{"/pub/a", "/pub/a", "/pub/b", "/pub/a", "/pub/b"}));
    ASSERT_FALSE(sessions.selected.empty());
    EXPECT_EQ(sessions.selected.back(), &open.queue);
}

TEST_F(QueueFilesTest, UnknownHostGetsASessionFromTheSiteListOrTheDefaults)
{
    settings.AnonymousPass = "guest@example.org";
    for (const char* user : {"first", "last"}) {
        auto site = std::make_unique<CSiteSetting>();
        site->name = user;
        site->address = "known.example";
        site->username = user;
        site->logintype = CSiteSetting::LOGIN_NORMAL;
        site->port = 2121;
        sites.push_back(std::move(site));
    }
    ASSERT_EQ(Load("junk before any section\n"
                   "[known.example]\n0\t/a\t0\t/l\t0\t1\t*\t0\t1\n\n"
                   "  [fresh.example]  \n0\t/b\t0\t/l\t0\t1\t*\t0\t1\n\n"),
              "");
    ASSERT_EQ(sessions.sessions.size(), 2u);
    const CSiteSetting& known = sessions.Find("known.example")->site;
    EXPECT_EQ(known.username, "last");
    EXPECT_EQ(known.port, 2121);
    EXPECT_EQ(known.logintype, CSiteSetting::LOGIN_NORMAL);

    const CSiteSetting& fresh = sessions.Find("fresh.example")->site;
    EXPECT_EQ(fresh.port, 21);
    EXPECT_EQ(fresh.username, "anonymous");
    EXPECT_EQ(fresh.password, "guest@example.org");
    EXPECT_EQ(fresh.logintype, CSiteSetting::LOGIN_ANONYMOUS);
    EXPECT_EQ(sessions.selected.back(), &sessions.Find("fresh.example")->queue);
}

TEST_F(QueueFilesTest, LongLinesStayWholeAndTruncatedFilesKeepCompleteLines)
{
    const std::string longRemote = "/pub/" + std::string(400, 'n');
    ASSERT_EQ(Load("[h]\n0\t" + longRemote + "\t0\t/l\t0\t1\t*\t0\t1\n"
                   "0\t/pub/last\t0\t/l\t0\t7"),  // cut short: no final line end
              "");
    EXPECT_EQ(Remotes("h"), (std::vector<std::string>{longRemote, "/pub/last"}));
    EXPECT_EQ(sessions.Find("h")->queue.FindEntry("/l", "/pub/last", 0)->sizeLow, 7u);
}

TEST_F(QueueFilesTest, CrLfFilesReadLikeLfFiles)
{
    ASSERT_EQ(Load("[h]\r\n0\t/a\t0\t/l\t0\t1\t\t0\t1\r\n\r\n[g]\r\r\n0\t/b\t0\t/l\t0\t1\t*\t0\r\n"), "");
    EXPECT_EQ(Remotes("h"), (std::vector<std::string>{"/a"}));
    EXPECT_EQ(Remotes("g"), (std::vector<std::string>{"/b"}));
    EXPECT_EQ(FirstEntry("h").pattern, "*");
    EXPECT_EQ(FirstEntry("g").includeSubdirectories, 1);
}

TEST_F(QueueFilesTest, HostileLinesAndSectionsAreLeftOutWithWarnings)
{
    ASSERT_EQ(Load("[h]\n"
                   "0\t/pub/..\t0\t/home/me\t0\t1\t*\t0\t1\n"
                   "1\t/pub/ok\t0\t/home/me\t0\t1\t*\t0\t1\n"
                   "\n"
                   "[]\n0\t/pub/lost\t0\t/l\t0\t1\t*\t0\t1\n\n"),
              "");
    EXPECT_EQ(Remotes("h"), (std::vector<std::string>{"/pub/ok"}));
    EXPECT_EQ(result.entries, 1);
    EXPECT_EQ(result.warnings.size(), 2u);
    EXPECT_EQ(sessions.sessions.size(), 1u);
}

TEST_F(QueueFilesTest, SiteToSiteEntriesFindTheirPartnerAgain)
{
    ASSERT_EQ(Load("[source.example]\n"
                   "0\t/pub/a\t0\tftp://target.example/in\t0\t1\t*\t0\t1\n\n"),
              "");
    FakeSessions::Session* target = sessions.Find("target.example");
    ASSERT_NE(target, nullptr);
    EXPECT_EQ(FirstEntry("source.example").partner, FakeSessions::Id(*target));
    EXPECT_TRUE(target->queue.IsEmpty());

    sessions.refuseCreation = true;
    ASSERT_EQ(Load("[source.example]\n0\t/pub/b\t0\tftp://other.example/in\t0\t1\t*\t0\t1\n\n"), "");
    EXPECT_EQ(result.entries, 0);
    EXPECT_EQ(result.warnings.size(), 1u);
}

TEST_F(QueueFilesTest, HeaderWithoutAnEmptyLineBeforeItStartsTheNextSection)
{
    ASSERT_EQ(Load("[a]\n0\t/x\t0\t/l\t0\t1\t*\t0\t1\n"
                   "[b]\n0\t/y\t0\t/l\t0\t1\t*\t0\t1\n"),
              "");
    EXPECT_EQ(Remotes("a"), (std::vector<std::string>{"/x"}));
    EXPECT_EQ(Remotes("b"), (std::vector<std::string>{"/y"}));
    EXPECT_TRUE(result.warnings.empty());
}

TEST_F(QueueFilesTest, MissingFileIsReported)
{
    result = LoadQueueFile(folder / "none.tvq", sessions, sites, settings);
    EXPECT_FALSE(result.opened);
    EXPECT_EQ(result.error, "Can't open " + folder / "none.tvq" + "!");
    EXPECT_TRUE(sessions.sessions.empty());
    EXPECT_TRUE(sessions.selected.empty());
}

TEST_F(QueueFilesTest, AutosaveFollowsTheSaveQueueSetting)
{
    CTransferQueue queue;
    queue.Append(Download("/pub/a", "/l", 1));
    const std::string path = folder / kAutosaveFileName;

    EXPECT_TRUE(LoadAutosave(folder.Path(), sessions, sites, settings).error.empty());
    EXPECT_TRUE(sessions.sessions.empty());

    ASSERT_TRUE(SaveAutosave(folder.Path(), {{"h", &queue}}, settings));
    ASSERT_TRUE(std::filesystem::exists(path));
    result = LoadAutosave(folder.Path(), sessions, sites, settings);
    EXPECT_EQ(result.entries, 1);
    EXPECT_EQ(Remotes("h"), (std::vector<std::string>{"/pub/a"}));

    settings.SaveQueue = 0;
    ASSERT_TRUE(SaveAutosave(folder.Path(), {{"h", &queue}}, settings));
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_TRUE(SaveAutosave(folder.Path(), {{"h", &queue}}, settings));  // already gone
}

TEST(QueueFileNames, ProposedNames)
{
    EXPECT_EQ(ProposedQueueFileName(false, {"a", "b"}), "allsites.tvq");
    EXPECT_EQ(ProposedQueueFileName(true, {"a", "b"}), "selsites.tvq");
    EXPECT_EQ(ProposedQueueFileName(true, {"10.0.0.7"}), "10.0.0.7.tvq");
}
