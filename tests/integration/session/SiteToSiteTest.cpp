// A copy between two real servers: pyftpdlib sends, vsftpd receives (and the other way
// round), both told to accept data connections from a foreign address.

#include <algorithm>
#include <filesystem>
#include <memory>
#include <random>
#include <string>

#include "tests/integration/session/SessionFixture.h"
#include "tests/support/FtpServers.h"
#include "tests/support/ScriptedServer.h"

namespace sessiontest {
namespace {

std::string Content(std::size_t count) {
    std::mt19937 generator(3);
    std::string bytes(count, '\0');
    for (char& c : bytes) c = static_cast<char>(generator() & 0xFF);
    return bytes;
}

struct Direction {
    const char* name;
    bool fromPyftpdlib;
};

class SiteToSite : public SessionTestBase, public ::testing::WithParamInterface<Direction> {
protected:
    void SetUp() override {
        tvtest::FtpServerOptions options;
        options.allowForeignDataAddresses = true;
        vsftpd = std::make_unique<tvtest::VsftpdServer>(options);
        pyftpdlib = std::make_unique<tvtest::PyftpdlibServer>(options);
        ASSERT_TRUE(vsftpd->start()) << vsftpd->error();
        ASSERT_TRUE(pyftpdlib->start()) << pyftpdlib->error();
        if (!vsftpd->hasUser()) GTEST_SKIP() << "vsftpd offers no named user here";
        ASSERT_TRUE(vsftpd->createFolder("in"));
        ASSERT_TRUE(pyftpdlib->createFolder("in"));
        settings.FileRetry = 0;
        settings.AlwaysRefresh = 0;
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

    std::unique_ptr<tvtest::FtpTestServer> vsftpd;
    std::unique_ptr<tvtest::FtpTestServer> pyftpdlib;
    RecordingSessionUi partnerUi;
    std::unique_ptr<CFtpSession> partner;
};

TEST_P(SiteToSite, CopiesTheFileByteForByte) {
    tvtest::FtpTestServer& source = GetParam().fromPyftpdlib ? *pyftpdlib : *vsftpd;
    tvtest::FtpTestServer& target = GetParam().fromPyftpdlib ? *vsftpd : *pyftpdlib;
    const std::string content = Content(200000);
    ASSERT_TRUE(source.createFile("pub/copy.bin", content));

    partner = std::make_unique<CFtpSession>(Publish(), SiteOf(target));
    partner->SetUi(&partnerUi);
    ASSERT_TRUE(partner->Start());
    ASSERT_TRUE(partnerUi.WaitForLine("Listing Complete", kLogWait)) << partnerUi.Transcript();

    CFtpSession* receiving = partner.get();
    session = std::make_unique<CFtpSession>(Publish(), SiteOf(source));
    session->SetUi(&ui);
    session->SetQueueRunner([receiving](CFtpSession& s) {
        return s.SiteToSiteWithRetry("/pub/copy.bin", "/in", *receiving, 0);
    });
    ASSERT_TRUE(session->Start());
    ASSERT_TRUE(WaitForLine("Listing Complete")) << ui.Transcript();
    session->IssueCommand(SimpleCommand(CMD_RUN_QUEUE));
    EXPECT_EQ(ui.WaitForCommandResult(CMD_RUN_QUEUE, kLogWait), FTP_OK)
        << ui.Transcript() << "\n--- partner ---\n" << partnerUi.Transcript();
    std::string copied;
    ASSERT_TRUE(target.readFile("in/copy.bin", copied));
    EXPECT_EQ(copied.size(), content.size());
    EXPECT_TRUE(copied == content);
    EXPECT_FALSE(partner->PairFlag());
    EXPECT_FALSE(session->PairFlag());
}

TEST_P(SiteToSite, ARefusedStoreEndsTheCopy) {
    tvtest::FtpTestServer& source = GetParam().fromPyftpdlib ? *pyftpdlib : *vsftpd;
    tvtest::FtpTestServer& target = GetParam().fromPyftpdlib ? *vsftpd : *pyftpdlib;
    ASSERT_TRUE(source.createFile("pub/copy.bin", Content(50000)));
    partner = std::make_unique<CFtpSession>(Publish(), SiteOf(target));
    partner->SetUi(&partnerUi);
    ASSERT_TRUE(partner->Start());
    ASSERT_TRUE(partnerUi.WaitForLine("Listing Complete", kLogWait)) << partnerUi.Transcript();

    CFtpSession* receiving = partner.get();
    session = std::make_unique<CFtpSession>(Publish(), SiteOf(source));
    session->SetUi(&ui);
    session->SetQueueRunner([receiving](CFtpSession& s) {
        return s.SiteToSiteWithRetry("/pub/copy.bin", "/no/such/folder", *receiving, 0);
    });
    ASSERT_TRUE(session->Start());
    ASSERT_TRUE(WaitForLine("Listing Complete")) << ui.Transcript();
    session->IssueCommand(SimpleCommand(CMD_RUN_QUEUE));
    const int result = ui.WaitForCommandResult(CMD_RUN_QUEUE, kLogWait);
    EXPECT_NE(result, FTP_OK);
    EXPECT_NE(result, -1) << "the copy never ended\n" << ui.Transcript();
    // The refusal may reach the receiving session before the copy pairs the two; it must
    // still end the copy, not leave the sending side waiting for its time-out.
    EXPECT_EQ(ui.CountLines("Operation timed out"), 0) << ui.Transcript();
    EXPECT_TRUE(ui.WaitForLine("Max errors reached, go on to next file", kLogWait)) << ui.Transcript();
    EXPECT_FALSE(target.exists("no/such/folder/copy.bin"));
}

INSTANTIATE_TEST_SUITE_P(Servers, SiteToSite,
                         ::testing::Values(Direction{"PyftpdlibToVsftpd", true},
                                           Direction{"VsftpdToPyftpdlib", false}),
                         [](const auto& info) { return std::string(info.param.name); });

// Two scripted servers: the sender completes its RETR, the receiver answers its STOR with
// "150" and then never again. The receiver's final reply is awaited by the receiving
// session's own worker, with its time-out, never by the driving thread: the copy ends
// instead of hanging, the time-out is the receiver's, and the reply the receiver still owes
// is never taken as the answer to its next command.
class ScriptedSiteToSite : public SessionTestBase {
protected:
    ~ScriptedSiteToSite() override {
        if (session) session->StopThread();
        if (partner) partner->StopThread();
    }
    static CSessionSite SiteAt(const tvtest::ScriptedServer& server) {
        CSessionSite site;
        site.address = server.host();
        site.port = server.port();
        site.username = "alice";
        site.password = "secret";
        site.passive = 1;
        return site;
    }
    static tvtest::Script Online(std::vector<tvtest::ScriptStep> steps) {
        tvtest::Script script = tvtest::loginPrelude();
        script.push_back(tvtest::ScriptStep::on("PWD", "257 \"/\" is current\r\n"));
        script.insert(script.end(), steps.begin(), steps.end());
        return script;
    }
    RecordingSessionUi partnerUi;
    std::unique_ptr<CFtpSession> partner;
};

TEST_F(ScriptedSiteToSite, AReceiverThatNeverGivesItsFinalReplyTimesOutOnItsOwnWorker) {
    using tvtest::ScriptStep;
    tvtest::ScriptedServer sender;
    sender.addConnection(Online({
        ScriptStep::on("TYPE [AI]", "200 Type set\r\n"),
        ScriptStep::on("PASV", "227 Entering Passive Mode (127,0,0,1,4,1)\r\n"),
        ScriptStep::on("RETR .*copy.bin", "150 Sending\r\n226 Sent\r\n"),
    }));
    tvtest::ScriptedServer receiver;
    receiver.addConnection(Online({
        ScriptStep::on("TYPE [AI]", "200 Type set\r\n"),
        ScriptStep::on("PORT 127,0,0,1,4,1", "200 PORT ok\r\n"),
        ScriptStep::on("STOR .*copy.bin", "150 Receiving\r\n").thenStall(),
    }));
    sender.setCommandTimeoutMs(60000);
    receiver.setCommandTimeoutMs(60000);
    ASSERT_TRUE(sender.start()) << sender.error();
    ASSERT_TRUE(receiver.start()) << receiver.error();
    settings.FileRetry = 0;

    partner = std::make_unique<CFtpSession>(Publish(), SiteAt(receiver));
    partner->SetUi(&partnerUi);
    partner->SetListOnLogin(false);
    ASSERT_TRUE(partner->Start());
    ASSERT_EQ(partnerUi.WaitForCommandResult(CMD_CONNECT, kLogWait), FTP_OK) << partnerUi.Transcript();
    CFtpSession* receiving = partner.get();
    session = std::make_unique<CFtpSession>(Publish(), SiteAt(sender));
    session->SetUi(&ui);
    session->SetListOnLogin(false);
    session->SetQueueRunner([receiving](CFtpSession& s) {
        return s.SiteToSiteWithRetry("/pub/copy.bin", "/in", *receiving, 0);
    });
    ASSERT_TRUE(session->Start());
    ASSERT_EQ(ui.WaitForCommandResult(CMD_CONNECT, kLogWait), FTP_OK) << ui.Transcript();

    session->IssueCommand(SimpleCommand(CMD_RUN_QUEUE));
    const int copy = ui.WaitForCommandResult(CMD_RUN_QUEUE, kLogWait);
    EXPECT_NE(copy, -1) << "the copy never ended\n" << ui.Transcript();
    EXPECT_NE(copy, FTP_OK) << ui.Transcript();
    EXPECT_EQ(partnerUi.CountLines("Operation timed out"), 1) << partnerUi.Transcript();
    EXPECT_EQ(ui.CountLines("Operation timed out"), 0) << ui.Transcript();
    EXPECT_FALSE(partner->PairFlag());
    EXPECT_FALSE(session->PairFlag());

    // The receiver still owes the STOR's reply: its next command does not take it.
    partner->IssueCommand(SimpleCommand(CMD_PWD));
    EXPECT_EQ(partnerUi.WaitForCommandResult(CMD_PWD, kLogWait), FTP_CLOSED) << partnerUi.Transcript();
    const std::vector<std::string> sent = receiver.commands(0);
    EXPECT_EQ(std::count(sent.begin(), sent.end(), "PWD"), 1) << partnerUi.Transcript();
}

}  // namespace
}  // namespace sessiontest
