// Queue runs against the scripted server, for what a real server will not serve: listed
// names that would climb out of the local folder, a directory tree deeper than the walk
// allows, a site-to-site entry whose other site is busy, and a connection that drops in
// the middle of a transfer.

#include <string>

#include "tests/integration/queue/QueueFixture.h"
#include "tests/support/ScriptedServer.h"

namespace queuetest {
namespace {

using tvtest::Script;
using tvtest::ScriptStep;

Script Online(std::vector<ScriptStep> more) {
    Script script = {
        ScriptStep::send("220 Scripted\r\n"),
        ScriptStep::on("USER alice", "331 Password\r\n"),
        ScriptStep::on("PASS secret", "230 In\r\n"),
        ScriptStep::on("PWD", "257 \"/\" is current\r\n"),
        ScriptStep::on("PASV", "227 Entering Passive Mode ({pasv})\r\n").listenPassive(),
        ScriptStep::on("LIST", "150 Here\r\n").sendData("").afterData("226 Done\r\n"),
    };
    script.insert(script.end(), more.begin(), more.end());
    return script;
}

class ScriptedQueue : public QueueTestBase {
protected:
    void OpenAt(tvtest::ScriptedServer& server) {
        CSessionSite site;
        site.address = "127.0.0.1";
        site.port = server.port();
        site.username = "alice";
        site.password = "secret";
        site.passive = 1;
        OpenSession(site);
    }
};

TEST_F(ScriptedQueue, ListedNamesThatLeaveTheFolderAreSkippedWithAWarning) {
    const std::string listing =
        "drwxr-xr-x 2 u g 4096 Jan 01 2024 .\r\n"
        "drwxr-xr-x 2 u g 4096 Jan 01 2024 ..\r\n"
        "-rw-r--r-- 1 u g 5 Jan 01 2024 ../x\r\n"
        "-rw-r--r-- 1 u g 5 Jan 01 2024 a/b\r\n"
        "drwxr-xr-x 2 u g 4096 Jan 01 2024 ../up\r\n";
    tvtest::ScriptedServer server;
    server.addConnection(Online({
        ScriptStep::on("CWD /dir", "250 Ok\r\n"),
        ScriptStep::on("PWD", "257 \"/dir\" is current\r\n"),
        ScriptStep::on("PASV", "227 Entering Passive Mode ({pasv})\r\n").listenPassive(),
        ScriptStep::on("LIST", "150 Here\r\n").sendData(listing).afterData("226 Done\r\n"),
    }));
    ASSERT_TRUE(server.start()) << server.error();
    OpenAt(server);
    fs::create_directories(work / "local" / "inner");
    Add(QUEUE_DOWNLOAD, KIND_DIRECTORY, (work / "local" / "inner").string(), "/dir");
    EXPECT_EQ(RunQueue(), FTP_OK) << ui.Transcript();

    // One warning for each unusable name; "." and ".." are no entries at all.
    const std::string skipped =
        "Listing line skipped (unreadable, or a name that cannot be used as a file name): ";
    EXPECT_EQ(CountKind(LOG_WARNING, skipped), 3) << ui.Transcript();
    EXPECT_EQ(ui.CountLines(skipped + "-rw-r--r-- 1 u g 5 Jan 01 2024 ../x"), 1);
    EXPECT_EQ(ui.CountLines(skipped + "-rw-r--r-- 1 u g 5 Jan 01 2024 a/b"), 1);
    EXPECT_EQ(ui.CountLines(skipped + "drwxr-xr-x 2 u g 4096 Jan 01 2024 ../up"), 1);
    // Nothing was written beside or above the receiving folder.
    EXPECT_FALSE(fs::exists(work / "local" / "x"));
    EXPECT_FALSE(fs::exists(work / "local" / "up"));
    EXPECT_FALSE(fs::exists(work / "local" / "inner" / "a"));
    EXPECT_TRUE(fs::exists(work / "local" / "inner" / "dir"));
    EXPECT_TRUE(ui.WaitForLine("All queue file transferred successfully.", kWait));
}

TEST_F(ScriptedQueue, ExpansionStopsSixtyFourLevelsDown) {
    tvtest::ScriptedServer server;
    server.addConnection(Online({}));
    ASSERT_TRUE(server.start()) << server.error();
    OpenAt(server);
    // A cache job that already reached 64 levels: the next level is not listed.
    std::string deep = "top";
    for (int level = 1; level < 64; ++level) deep += "/d";
    CQueueEntry& entry = Add(QUEUE_CACHEDIR, KIND_DIRECTORY, "", "/top");
    entry.expanded = 1;
    entry.remoteBase = "/";
    CQueueFile item;
    item.relativePath = deep;
    item.directory = 1;
    entry.pending.push_back(item);

    RunQueue();
    EXPECT_EQ(CountKind(LOG_ERROR, "/" + deep + " not expanded: more than 64 directory levels."), 1)
        << ui.Transcript();
    EXPECT_EQ(entry.status, STATUS_STOPPED);
    EXPECT_TRUE(ui.WaitForLine("Transfer stopped. Some files remain in queue.", kWait));
    EXPECT_EQ(server.receivedText(0).find("CWD /top"), std::string::npos);
}

TEST_F(ScriptedQueue, BusyPartnerEndsTheRunProperlyAndRequeuesTheEntry) {
    tvtest::ScriptedServer server;
    server.addConnection(Online({}));
    ASSERT_TRUE(server.start()) << server.error();
    OpenAt(server);

    CSessionSite otherSite;
    otherSite.address = "127.0.0.1";
    otherSite.port = 1;  // never connected: the session is only held busy
    CFtpSession partner(Publish(), otherSite);
    RecordingSessionUi partnerUi;
    partner.SetUi(&partnerUi);
    ASSERT_TRUE(partner.TryBeginCommand());

    CQueueEntry& entry = Add(QUEUE_DOWNLOAD, KIND_FILE, "ftp://127.0.0.1/pub", "/file.txt");
    entry.partner = &partner;
    EXPECT_EQ(RunQueue(), FTP_OK);

    EXPECT_EQ(entry.status, STATUS_QUEUED);
    EXPECT_EQ(CountKind(LOG_STATE, "The other site of a site-to-site entry is busy"), 1)
        << ui.Transcript();
    EXPECT_TRUE(ui.WaitForLine("0 files processed successfully", kWait)) << ui.Transcript();
    EXPECT_TRUE(ui.WaitForCall("QueueRunFinished", "", kWait));
    EXPECT_TRUE(session->ListingEnabled());
    EXPECT_FALSE(session->IsBusy());
    EXPECT_TRUE(partnerUi.WaitForCall("Refresh", "", kWait));
    EXPECT_EQ(session->Queue().Size(), 1u);
}

TEST_F(ScriptedQueue, ConnectionDroppedMidTransferReconnectsAndTheRunContinues) {
    const std::string content = BinaryContent(3, 20000);
    const auto transfer = [&](ScriptStep retr) {
        return std::vector<ScriptStep>{
            ScriptStep::on("TYPE I", "200 Binary\r\n"),
            ScriptStep::on("SIZE one.bin", "502 Not implemented\r\n"),
            ScriptStep::on("PASV", "227 Entering Passive Mode ({pasv})\r\n").listenPassive(),
            std::move(retr),
        };
    };
    tvtest::ScriptedServer server;
    // The first connection goes away after a part of the file, data and control alike.
    server.addConnection(Online(transfer(ScriptStep::on("RETR one.bin", "150 Here\r\n")
                                             .sendData(content, 5000, /*abortive=*/true)
                                             .thenClose(/*abortive=*/true))));
    server.addConnection(Online(transfer(
        ScriptStep::on("RETR one.bin", "150 Here\r\n").sendData(content).afterData("226 Done\r\n"))));
    ASSERT_TRUE(server.start()) << server.error();
    settings.ErrorRetry = 2;  // reconnect attempts and cycles
    OpenAt(server);
    CQueueEntry& entry = Add(QUEUE_DOWNLOAD, KIND_FILE, (work / "local").string(), "/one.bin");
    entry.SetSize(content.size());

    RunQueue();
    EXPECT_TRUE(ui.WaitForLine("All queue file transferred successfully.", kWait)) << ui.Transcript();
    EXPECT_TRUE(ReadLocal(work / "local" / "one.bin") == content);
    EXPECT_TRUE(session->Queue().IsEmpty());
    EXPECT_TRUE(server.waitForConnections(2, 2000));
    EXPECT_GE(ui.CountLines("Session Closed."), 1) << ui.Transcript();
    EXPECT_EQ(ui.CountLines("RETR one.bin"), 2) << ui.Transcript();
}

}  // namespace
}  // namespace queuetest
