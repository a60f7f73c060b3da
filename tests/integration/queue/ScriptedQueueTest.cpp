// Queue runs against the scripted server, for what a real server will not serve: listed
// names that would climb out of the local folder, a directory tree deeper than the walk
// allows, a site-to-site entry whose other site is busy, a connection that drops in the
// middle of a transfer, and upload renames refused or never answered.

#include <map>
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

// A folder upload renames each file in the same write as the next file's EPSV and STOR,
// once a rename has worked on the connection. A file counts as done only when its rename is
// answered: a refused or unanswered one leaves the entry to be walked again.
TEST_F(ScriptedQueue, HeldBackUploadRenamesCountOnlyOnceAnswered) {
    const std::map<std::string, std::string> files = {{"a", "alpha"}, {"b", "bravo-bravo"}, {"c", "charlie!"}};
    for (const auto& [name, content] : files) WriteLocal(work / "local" / "up" / name, content);
    const auto epsv = [] {
        return ScriptStep::on("EPSV", "229 Entering Extended Passive Mode (|||{epsv}|)\r\n").listenPassive();
    };
    const auto store = [&] {
        return std::vector<ScriptStep>{
            epsv(), ScriptStep::on("STOR [abc]\\.tvpart", "150 Send it\r\n").receiveData().afterData("226 Got it\r\n")};
    };
    const auto rename = [](const char* from, const char* to) {
        return std::vector<ScriptStep>{ScriptStep::on("RNFR [abc]\\.tvpart", from), ScriptStep::on("RNTO [abc]", to)};
    };
    const auto ok = rename("350 Go on\r\n", "250 Renamed\r\n");
    struct Case {
        const char* name;
        std::vector<ScriptStep> secondRename;  // held back, sent with the third file's EPSV
        bool done;
        const char* line;  // the engine's word on the second file
    } cases[] = {
        {"answered", ok, true, nullptr},
        {"refused", rename("550 No\r\n", "503 RNFR first\r\n"), false, "The server refused to rename "},
        {"connection lost", {ScriptStep::on("RNFR [abc]\\.tvpart", "").thenClose()}, false,
         "No reply came to the rename of "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<ScriptStep> steps = {
            ScriptStep::send("220 Scripted\r\n"),
            ScriptStep::on("USER alice", "331 Password\r\n"),
            ScriptStep::on("PASS secret", "230 In\r\n"),
            ScriptStep::on("PWD", "257 \"/\" is current\r\n"),
            epsv(),
            ScriptStep::on("LIST", "150 Here\r\n").sendData("").afterData("226 Done\r\n"),
            epsv(),  // the parent is listed before the folder is made
            ScriptStep::on("LIST", "150 Here\r\n").sendData("").afterData("226 Done\r\n"),
            ScriptStep::on("MKD /up", "257 \"/up\" created\r\n"),
            ScriptStep::on("CWD /up", "250 Ok\r\n"),
            ScriptStep::on("PWD", "257 \"/up\" is current\r\n"),
            epsv(),
            ScriptStep::on("LIST", "150 Here\r\n").sendData("").afterData("226 Done\r\n"),
            ScriptStep::on("TYPE I", "200 Binary\r\n"),
        };
        const auto add = [&steps](const std::vector<ScriptStep>& more) {
            steps.insert(steps.end(), more.begin(), more.end());
        };
        add(store());
        add(ok);  // the first rename on the connection is awaited on its own
        add(store());
        add(c.secondRename);
        if (c.secondRename.size() > 1) {
            add(store());
            add(ok);
        }
        tvtest::ScriptedServer server;
        server.addConnection(steps);
        ASSERT_TRUE(server.start()) << server.error();
        OpenAt(server);
        Add(QUEUE_UPLOAD, KIND_DIRECTORY, (work / "local" / "up").string(), "/");
        RunQueue();
        EXPECT_TRUE(server.waitUntilDone(20000)) << server.error() << ui.Transcript();
        EXPECT_EQ(server.error(), "");
        EXPECT_EQ(session->Queue().IsEmpty(), c.done) << ui.Transcript();
        if (c.line != nullptr) {
            EXPECT_EQ(CountKind(LOG_ERROR, c.line), 1) << ui.Transcript();
        }
        EXPECT_EQ(ui.CountLines("All queue file transferred successfully."), c.done ? 1 : 0) << ui.Transcript();
        if (c.done) {
            // The second rename went out before its reply came: in the write of the third
            // file's EPSV.
            const auto lines = ui.Lines();
            std::vector<std::size_t> renames;
            for (std::size_t i = 0; i < lines.size(); ++i)
                if (lines[i].kind == LOG_COMMAND && lines[i].text.rfind("RNTO", 0) == 0) renames.push_back(i);
            ASSERT_EQ(renames.size(), 3u) << ui.Transcript();
            bool epsvBeforeReply = false;
            for (std::size_t i = renames[1] + 1; i < lines.size(); ++i) {
                if (lines[i].kind == LOG_REPLY && lines[i].text.find("250 Renamed") != std::string::npos) break;
                epsvBeforeReply = epsvBeforeReply || (lines[i].kind == LOG_COMMAND && lines[i].text == "EPSV");
            }
            EXPECT_TRUE(epsvBeforeReply) << ui.Transcript();
            for (const auto& [name, content] : files)
                EXPECT_NE(server.dataReceived(0).find(content), std::string::npos) << name;
        }
        session->StopThread();
        session.reset();
        ui.Clear();
        runs = 0;
    }
}

}  // namespace
}  // namespace queuetest
