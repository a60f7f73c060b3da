// A second thread drives a session while its worker runs, as the desktop windows do:
// commands posted while others wait, settings replaced, queue entries moved, edited and
// removed around the one being transferred. Against pyftpdlib.

#include <atomic>
#include <map>
#include <thread>

#include "listing/DirectoryCache.h"
#include "tests/integration/queue/QueueFixture.h"
#include "tests/support/FtpServers.h"

namespace queuetest {
namespace {

class ConcurrentQueue : public QueueTestBase {
protected:
    void SetUp() override {
        server = std::make_unique<tvtest::PyftpdlibServer>();
        ASSERT_TRUE(server->start()) << server->error();
        ASSERT_TRUE(server->createFolder("pub"));
    }
    void TearDown() override {
        if (session) session->StopThread();
    }

    CSessionSite Site() const {
        CSessionSite site;
        site.address = server->host();
        site.port = server->port();
        site.logintype = server->hasUser() ? LOGIN_NORMAL : LOGIN_ANONYMOUS;
        site.username = server->userName();
        site.password = server->password();
        site.passive = 1;
        return site;
    }
    void Open() {
        OpenSession(Site());
        session->SetTransferTypeSetting(1);
    }

    // Remote files pub/<name> with distinct contents; the contents by name.
    std::map<std::string, std::string> MakeFiles(const std::vector<std::string>& names) {
        std::map<std::string, std::string> files;
        int seed = 0;
        for (const std::string& name : names) {
            ++seed;
            files[name] = BinaryContent(seed, 3000 + 17 * seed);
            EXPECT_TRUE(server->createFile("pub/" + name, files[name]));
        }
        return files;
    }
    QueueEntryId AddDownload(const std::string& name) {
        auto entry = std::make_unique<CQueueEntry>();
        entry->operation = QUEUE_DOWNLOAD;
        entry->localPath = (work / "local").string();
        entry->remotePath = "/pub/" + name;
        return session->Queue().Append(std::move(entry));
    }

    std::unique_ptr<tvtest::FtpTestServer> server;
};

TEST_F(ConcurrentQueue, RefreshPostedRightAfterStartStillDeliversTheFile) {
    const auto files = MakeFiles({"one.bin"});
    session = std::make_unique<CFtpSession>(Publish(), Site());
    session->SetUi(&ui);
    session->SetTransferTypeSetting(1);
    AddDownload("one.bin");
    // Start, Refresh and the run wait together in the mailbox: none swallows another.
    ASSERT_TRUE(session->Start());
    EXPECT_TRUE(session->RequestRefresh());
    EXPECT_FALSE(session->RequestRefresh());  // a second copy adds nothing
    EXPECT_TRUE(session->IssueCommand(SimpleCommand(CMD_RUN_QUEUE)));
    EXPECT_EQ(ui.WaitForCommandResult(CMD_RUN_QUEUE, kWait), FTP_OK) << ui.Transcript();
    EXPECT_EQ(ReadLocal(work / "local" / "one.bin"), files.at("one.bin"));
    EXPECT_EQ(ui.WaitForCommandResult(CMD_LIST, kWait), FTP_OK) << ui.Transcript();
    for (const auto& call : ui.Calls()) EXPECT_NE(call.name, "MessageBox") << call.detail;
    EXPECT_TRUE(session->Queue().IsEmpty());
}

// The worker is held at the start of the first entry while another thread works on the
// queue: the running entry is neither removed, moved, edited nor reset, the others are.
TEST_F(ConcurrentQueue, MovesAndRemovalsAroundTheRunningEntry) {
    const auto files = MakeFiles({"a.bin", "b.bin", "c.bin", "d.bin", "e.bin"});
    Open();
    std::map<std::string, QueueEntryId> ids;
    for (const auto& [name, content] : files) ids[name] = AddDownload(name);

    struct Seen {
        bool removedRunning = true, editedRunning = true, runningReset = true;
        std::size_t removedOther = 0;
    } seen;
    ui.OnEntryStarted([&](QueueEntryId running) {
        std::thread view([&] {
            CTransferQueue& queue = session->Queue();
            seen.removedRunning = queue.Remove(running);
            seen.editedRunning = queue.Edit(running, [](CQueueEntry& e) { e.remotePath = "/x"; });
            const std::vector<QueueEntryId> bottom = {running, ids.at("c.bin")};
            queue.Move(bottom, QueueMove::Bottom);
            const QueueEntryId gone = ids.at("d.bin");
            seen.removedOther = queue.Remove(std::span(&gone, 1));
            queue.ResetQueue(true);
            seen.runningReset = queue.Find(running)->status != STATUS_TRANSFERRING;
        });
        view.join();
    });
    EXPECT_EQ(RunQueue(), FTP_OK) << ui.Transcript();

    EXPECT_FALSE(seen.removedRunning);
    EXPECT_FALSE(seen.editedRunning);
    EXPECT_FALSE(seen.runningReset);
    EXPECT_EQ(seen.removedOther, 1u);
    std::vector<std::string> started;
    for (const auto& call : ui.Calls())
        if (call.name == "QueueEntryStarted")
            for (const auto& [name, id] : ids)
                if (call.detail == std::to_string(id)) started.push_back(name);
    EXPECT_EQ(started, (std::vector<std::string>{"a.bin", "b.bin", "e.bin", "c.bin"}));
    for (const std::string name : {"a.bin", "b.bin", "c.bin", "e.bin"})
        EXPECT_EQ(ReadLocal(work / "local" / name), files.at(name)) << name;
    EXPECT_FALSE(fs::exists(work / "local" / "d.bin"));
    EXPECT_TRUE(session->Queue().IsEmpty());
}

// The interface edits the settings and the queue without pause while the run goes on:
// every entry is either transferred whole or removed, never both, never lost.
TEST_F(ConcurrentQueue, SettingsAndQueueEditedFromASecondThreadDuringARun) {
    std::vector<std::string> names;
    for (int i = 0; i < 30; ++i) names.push_back("f" + std::to_string(i) + ".bin");
    const auto files = MakeFiles(names);
    Open();
    std::map<std::string, QueueEntryId> ids;
    for (const std::string& name : names) ids[name] = AddDownload(name);

    std::atomic<bool> runOver{false};
    std::map<std::string, bool> removed;
    std::thread view([&] {
        CTransferQueue& queue = session->Queue();
        int round = 0;
        while (!runOver) {
            ++round;
            sharedSettings.Edit([round](CSettings& table) {
                table.TextFileExtension = round % 2 ? "txt" : "txt;bin";  // image mode is set: no effect
                table.Timeout = 20 + round % 3;
                table.PromptSeconds = round;
            });
            std::vector<QueueEntryId> pick;
            for (const QueueEntryId id : queue.Ids())
                if (id % 3 == static_cast<QueueEntryId>(round % 3)) pick.push_back(id);
            queue.Move(pick, static_cast<QueueMove>(round % 4));
            if (round % 5 == 0 && !pick.empty())
                queue.Edit(pick.front(), [](CQueueEntry& entry) { entry.pattern = "*"; });
            if (round % 11 == 0) {
                const std::string name = names[(round / 11 * 7) % names.size()];
                if (!removed.contains(name)) removed[name] = queue.Remove(ids.at(name));
            }
            queue.ForEach([](const CQueueEntry& entry) { (void)entry.remotePath.size(); });
            std::this_thread::yield();
        }
    });
    const int result = RunQueue();
    runOver = true;
    view.join();
    EXPECT_EQ(result, FTP_OK) << ui.Transcript();
    for (const std::string& name : names) {
        const bool wasRemoved = removed.contains(name) && removed.at(name);
        if (wasRemoved) {
            EXPECT_FALSE(fs::exists(work / "local" / name)) << name;
        } else {
            EXPECT_EQ(ReadLocal(work / "local" / name), files.at(name)) << name;
        }
    }
    EXPECT_TRUE(session->Queue().IsEmpty());
}

// An open session follows settings replaced while it is online from its next operation on,
// its directory cache included; the keep-alive's listing reaches no pane.
TEST_F(ConcurrentQueue, ReplacedSettingsHoldFromTheNextOperation) {
    MakeFiles({"x.bin"});
    const std::string first = (work / "cache-one").string();
    const std::string second = (work / "cache-two").string();
    settings.CacheHomeDirectory = first;
    settings.EnableCache = 1;
    Open();
    CSessionCommand list = SimpleCommand(CMD_LIST);
    list.path = "/pub";
    ASSERT_TRUE(session->IssueCommand(list));
    ASSERT_EQ(ui.WaitForCommandResult(CMD_LIST, kWait), FTP_OK) << ui.Transcript();
    auto cached = [this](const std::string& home) {
        const CDirectoryCache cache(CacheSettings{home, true, false});
        return fs::exists(cache.GetCacheListPath(session->CacheSite(), "/pub"));
    };
    EXPECT_TRUE(cached(first));
    EXPECT_FALSE(cached(second));

    CSettings edited = *sharedSettings.Current();
    edited.CacheHomeDirectory = second;
    sharedSettings.Replace(edited);  // OK in the options sheet
    ASSERT_TRUE(session->IssueCommand(list));
    ASSERT_EQ(ui.WaitForCommandResult(CMD_LIST, kWait, 2), FTP_OK) << ui.Transcript();
    EXPECT_TRUE(cached(second));

    const auto listingCalls = [&] {
        int count = 0;
        for (const auto& call : ui.Calls())
            count += call.name == "ListingStarted" || call.name == "ListingComplete";
        return count;
    };
    const int before = listingCalls();
    ASSERT_TRUE(session->IssueCommand(CFtpSession::AntiIdleCommand(1)));  // the keep-alive's LIST
    ASSERT_EQ(ui.WaitForCommandResult(CMD_LIST, kWait, 3), FTP_OK) << ui.Transcript();
    EXPECT_EQ(listingCalls(), before);
    EXPECT_EQ(ui.Listings().back().folder, "/pub");
}

}  // namespace
}  // namespace queuetest
