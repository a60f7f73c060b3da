// A site-to-site queue entry of a whole directory: vsftpd sends, pyftpdlib receives, both
// told to accept data connections from a foreign address.

#include "tests/integration/queue/QueueFixture.h"
#include "tests/support/FtpServers.h"

namespace queuetest {
namespace {

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

    std::unique_ptr<tvtest::FtpTestServer> source;
    std::unique_ptr<tvtest::FtpTestServer> target;
    std::unique_ptr<CFtpSession> partner;
    RecordingSessionUi partnerUi;
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
}

}  // namespace
}  // namespace queuetest
