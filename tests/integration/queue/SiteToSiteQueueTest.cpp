// A site-to-site queue entry of a whole directory: vsftpd sends, pyftpdlib receives, both
// told to accept data connections from a foreign address.

#include <atomic>
#include <mutex>
#include <set>
#include <thread>

#include "tests/integration/queue/QueueFixture.h"
#include "tests/support/FtpServers.h"

namespace queuetest {
namespace {

// Notes the thread of every log line: a session's connection is driven by its own worker
// alone, so all of its command and reply lines come from that one thread.
class ThreadNotingUi : public RecordingSessionUi {
public:
    void AddLogLine(const CLogLine& line) override {
        {
            std::lock_guard lock(threadsMutex_);
            threads_.insert(std::this_thread::get_id());
        }
        RecordingSessionUi::AddLogLine(line);
    }
    std::size_t LoggingThreads() const {
        std::lock_guard lock(threadsMutex_);
        return threads_.size();
    }

private:
    mutable std::mutex threadsMutex_;
    std::set<std::thread::id> threads_;
};

class SiteToSiteQueue : public QueueTestBase {
protected:
    void SetUp() override {
        tvtest::FtpServerOptions options;
        options.allowForeignDataAddresses = true;
        source = std::make_unique<tvtest::VsftpdServer>(options);
        target = std::make_unique<tvtest::PyftpdlibServer>(options);
        ASSERT_TRUE(source->start()) << source->error();
        ASSERT_TRUE(target->start()) << target->error();
        if (!source->hasUser()) GTEST_SKIP() << "vsftpd offers no named user here";
        ASSERT_TRUE(target->createFolder("in"));
    }
    void TearDown() override {
        if (session) session->StopThread();
        if (partner) partner->StopThread();
    }
    static CSessionSite SiteOf(const tvtest::FtpTestServer& server) {
        CSessionSite site;
        site.address = server.host();
        site.port = server.port();
        site.username = server.userName();
        site.password = server.password();
        site.passive = 1;
        return site;
    }

    void OpenBoth() {
        partner = std::make_unique<CFtpSession>(Publish(), SiteOf(*target));
        partner->SetUi(&partnerUi);
        ASSERT_TRUE(partner->Start());
        ASSERT_TRUE(partnerUi.WaitForLine("Listing Complete", kWait)) << partnerUi.Transcript();
        OpenSession(SiteOf(*source));
    }
    std::string TargetUrl() const { return "ftp://127.0.0.1:" + std::to_string(target->port()) + "/in"; }

    std::unique_ptr<tvtest::FtpTestServer> source;
    std::unique_ptr<tvtest::FtpTestServer> target;
    std::unique_ptr<CFtpSession> partner;
    ThreadNotingUi partnerUi;
};

TEST_F(SiteToSiteQueue, CopiesADirectoryTreeAndRefreshesBothSites) {
    const std::map<std::string, std::string> files = {
        {"a.bin", BinaryContent(2, 40000)},
        {"sub/b.bin", BinaryContent(4, 999)},
    };
    for (const auto& [path, content] : files) ASSERT_TRUE(source->createFile("pub/tree/" + path, content));

    partner = std::make_unique<CFtpSession>(Publish(), SiteOf(*target));
    partner->SetUi(&partnerUi);
    ASSERT_TRUE(partner->Start());
    ASSERT_TRUE(partnerUi.WaitForLine("Listing Complete", kWait)) << partnerUi.Transcript();
    OpenSession(SiteOf(*source));

    CQueueEntry& entry = Add(QUEUE_DOWNLOAD, KIND_DIRECTORY,
                             "ftp://127.0.0.1:" + std::to_string(target->port()) + "/in",
                             "/pub/tree");
    entry.partner = partner.get();
    EXPECT_EQ(RunQueue(), FTP_OK) << ui.Transcript() << "\n--- partner ---\n"
                                  << partnerUi.Transcript();
    for (const auto& [path, content] : files) {
        std::string copied;
        EXPECT_TRUE(target->readFile("in/tree/" + path, copied)) << path;
        EXPECT_TRUE(copied == content) << path;
    }
    EXPECT_TRUE(partnerUi.WaitForCall("Refresh", "", kWait));
    EXPECT_FALSE(partner->IsBusy());
    // The receiving side's STOR, MKD and their replies went over its own worker.
    EXPECT_GE(partnerUi.CountLines("Listing Complete"), 2) << partnerUi.Transcript();
    EXPECT_EQ(partnerUi.LoggingThreads(), 1u) << partnerUi.Transcript();
}

TEST_F(SiteToSiteQueue, ThePartnerOfARunningCopyRefusesToClose) {
    ASSERT_TRUE(source->createFile("pub/one.bin", BinaryContent(5, 20000)));
    OpenBoth();
    CQueueEntry& entry = Add(QUEUE_DOWNLOAD, KIND_FILE, TargetUrl(), "/pub/one.bin");
    entry.partner = partner.get();
    std::string refusal;
    bool disconnected = true;
    ui.OnEntryStarted([&](QueueEntryId) {
        // The interface thread, while the copy holds the other site.
        std::thread view([&] {
            refusal = partner->CloseRefusal();
            disconnected = partner->Disconnect();
        });
        view.join();
    });
    EXPECT_EQ(RunQueue(), FTP_OK) << ui.Transcript();
    EXPECT_FALSE(refusal.empty());
    EXPECT_FALSE(disconnected);
    EXPECT_EQ(partnerUi.CountLines(refusal), 1) << partnerUi.Transcript();
    std::string copied;
    EXPECT_TRUE(target->readFile("in/one.bin", copied));
    EXPECT_TRUE(copied == BinaryContent(5, 20000));
    EXPECT_TRUE(partner->IsLoggedIn());
    EXPECT_TRUE(partner->CloseRefusal().empty());
}

// Commands the user gives the other site while a copy holds it are never lost: they wait
// in order and run once the copy's entry is done.
TEST_F(SiteToSiteQueue, CommandsToTheHeldPartnerWaitInOrderForTheCopy) {
    ASSERT_TRUE(source->createFile("pub/one.bin", BinaryContent(8, 20000)));
    ASSERT_TRUE(target->createFolder("in/sub"));
    OpenBoth();
    CQueueEntry& entry = Add(QUEUE_DOWNLOAD, KIND_FILE, TargetUrl(), "/pub/one.bin");
    entry.partner = partner.get();
    ui.OnEntryStarted([&](QueueEntryId) {
        // The interface thread, while the copy holds the other site.
        std::thread view([&] {
            CSessionCommand cwd = SimpleCommand(CMD_CWD);
            cwd.path = "/in/sub";
            partner->IssueCommand(cwd);
            partner->IssueCommand(SimpleCommand(CMD_PWD));
        });
        view.join();
    });
    EXPECT_EQ(RunQueue(), FTP_OK) << ui.Transcript();
    EXPECT_EQ(partnerUi.WaitForCommandResult(CMD_CWD, kWait), FTP_OK) << partnerUi.Transcript();
    EXPECT_EQ(partnerUi.WaitForCommandResult(CMD_PWD, kWait), FTP_OK) << partnerUi.Transcript();
    EXPECT_EQ(partner->CurrentRemoteDirectory(), "/in/sub");
    std::string copied;
    EXPECT_TRUE(target->readFile("in/one.bin", copied));
    EXPECT_TRUE(copied == BinaryContent(8, 20000));

    // The user learnt why nothing happened at once, and the commands went out after the
    // copy's STOR and its reply, in the order given.
    EXPECT_EQ(partnerUi.CountLines("A site-to-site copy is using this site; the next command runs "
                                   "when the copy's current entry is done."),
              1)
        << partnerUi.Transcript();
    const auto lines = partnerUi.Lines();
    auto commandIndex = [&](const std::string& start) {
        for (std::size_t i = 0; i < lines.size(); ++i)
            if (lines[i].kind == LOG_COMMAND && lines[i].text.rfind(start, 0) == 0) return static_cast<int>(i);
        return -1;
    };
    const int stor = commandIndex("STOR ");
    const int cwd = commandIndex("CWD /in/sub");
    ASSERT_GE(stor, 0) << partnerUi.Transcript();
    EXPECT_GT(cwd, stor) << partnerUi.Transcript();
    int pwdAfterCwd = -1;
    for (std::size_t i = cwd + 1; i < lines.size() && cwd >= 0; ++i)
        if (lines[i].kind == LOG_COMMAND && lines[i].text == "PWD") pwdAfterCwd = static_cast<int>(i);
    EXPECT_GT(pwdAfterCwd, cwd) << partnerUi.Transcript();
    EXPECT_FALSE(partner->IsBusy());
}

// Stop pressed on the other site while a copy holds it ends the copy; the other site stays
// online (stopping its own idle worker would close its connection under the copy).
TEST_F(SiteToSiteQueue, StopOnTheHeldPartnerEndsTheCopyAndKeepsThePartnerOnline) {
    ASSERT_TRUE(source->createFile("pub/one.bin", BinaryContent(9, 20000)));
    OpenBoth();
    CQueueEntry& entry = Add(QUEUE_DOWNLOAD, KIND_FILE, TargetUrl(), "/pub/one.bin");
    entry.partner = partner.get();
    const QueueEntryId id = entry.id;
    ui.OnEntryStarted([&](QueueEntryId) {
        std::thread view([&] { partner->CancelOperation(); });
        view.join();
    });
    EXPECT_EQ(RunQueue(), FTP_INTERRUPTED) << ui.Transcript();
    const auto left = session->Queue().Find(id);
    ASSERT_TRUE(left);
    EXPECT_EQ(left->status, STATUS_STOPPED);
    EXPECT_EQ(partnerUi.CountLines("Session Closed."), 0) << partnerUi.Transcript();
    EXPECT_TRUE(partner->IsLoggedIn());
    // Both go on: the stop was the copy's alone.
    partner->IssueCommand(SimpleCommand(CMD_PWD));
    EXPECT_EQ(partnerUi.WaitForCommandResult(CMD_PWD, kWait), FTP_OK) << partnerUi.Transcript();
    session->IssueCommand(SimpleCommand(CMD_PWD));
    EXPECT_EQ(ui.WaitForCommandResult(CMD_PWD, kWait), FTP_OK) << ui.Transcript();
}

// The other site is closed before the run: its entries stop with a line in this session's
// log, and the rest of the queue runs.
TEST_F(SiteToSiteQueue, ADestroyedPartnerStopsItsEntriesAndTheQueueStillRuns) {
    ASSERT_TRUE(source->createFile("pub/one.bin", BinaryContent(6, 3000)));
    OpenBoth();
    CQueueEntry& copy = Add(QUEUE_DOWNLOAD, KIND_FILE, TargetUrl(), "/pub/one.bin");
    copy.partner = partner.get();
    const QueueEntryId copyId = copy.id;
    Add(QUEUE_DOWNLOAD, KIND_FILE, (work / "local").string(), "/pub/one.bin");

    partner->StopThread();
    partner.reset();
    EXPECT_TRUE(ui.WaitForLine("1 site-to-site entry names 127.0.0.1, which was closed; stopped.", kWait))
        << ui.Transcript();
    const auto forgotten = session->Queue().Find(copyId);
    ASSERT_TRUE(forgotten);
    EXPECT_EQ(forgotten->partner, nullptr);
    EXPECT_EQ(forgotten->status, STATUS_STOPPED);

    ui.SetMessageBoxAnswer(IDYES);  // transfer the stopped items again
    RunQueue();
    EXPECT_TRUE(ui.WaitForLine("The other site of the site-to-site entry /pub/one.bin is closed; the entry is stopped.",
                               kWait))
        << ui.Transcript();
    EXPECT_EQ(ReadLocal(work / "local" / "one.bin"), BinaryContent(6, 3000));
    EXPECT_EQ(session->Queue().Size(), 1u);
    EXPECT_EQ(session->Queue().Find(copyId)->status, STATUS_STOPPED);
}

// The other site is destroyed while the copy uses it: the copy is ended first (or finishes),
// nothing is left pointing at the destroyed session, and this session stays usable.
TEST_F(SiteToSiteQueue, DestroyingThePartnerDuringACopyWaitsForTheCopy) {
    ASSERT_TRUE(source->createFile("pub/big.bin", BinaryContent(7, 400000)));
    OpenBoth();
    CQueueEntry& entry = Add(QUEUE_DOWNLOAD, KIND_FILE, TargetUrl(), "/pub/big.bin");
    entry.partner = partner.get();
    const QueueEntryId id = entry.id;
    std::thread closer;
    ui.OnEntryStarted([&](QueueEntryId) {
        CFtpSession* other = partner.get();
        closer = std::thread([this] { partner.reset(); });
        // The destruction has begun and waits for this copy, which holds the lease.
        while (!other->IsClosing()) std::this_thread::yield();
    });
    const int result = RunQueue();
    closer.join();
    EXPECT_TRUE(result == FTP_OK || result == FTP_INTERRUPTED) << result << ui.Transcript();
    EXPECT_EQ(partner, nullptr);
    if (const auto left = session->Queue().Find(id)) {
        EXPECT_EQ(left->partner, nullptr);
        EXPECT_EQ(left->status, STATUS_STOPPED);
    }
    // No stop meant for the copy is left behind: the next command is not interrupted, gets
    // its own reply (not a late one of the stopped copy) and the session stays online.
    const int interruptions = ui.CountLines("Interrupted by user");
    session->IssueCommand(SimpleCommand(CMD_PWD));
    EXPECT_EQ(ui.WaitForCommandResult(CMD_PWD, kWait), FTP_OK) << ui.Transcript();
    EXPECT_EQ(ui.CountLines("Interrupted by user"), interruptions);
    EXPECT_TRUE(session->IsLoggedIn());
}

}  // namespace
}  // namespace queuetest
