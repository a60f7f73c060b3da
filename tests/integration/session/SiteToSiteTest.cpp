// A copy between two real servers: pyftpdlib sends, vsftpd receives (and the other way
// round), both told to accept data connections from a foreign address.

#include <filesystem>
#include <memory>
#include <random>
#include <string>

#include "tests/integration/session/SessionFixture.h"
#include "tests/support/FtpServers.h"

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

}  // namespace
}  // namespace sessiontest
