// A session whose control and data connections go through real proxies started by the
// test (dante, microsocks, tinyproxy) to vsftpd: a listing, a download and an upload in
// passive mode and, through SOCKS, in active mode (the proxy listens by BIND); active mode
// through HTTP refused with an Error line; the proxy's refusals as Error lines.

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>

#include "net/ProxySocketLayer.h"
#include "tests/integration/session/SessionFixture.h"
#include "tests/support/FtpServers.h"
#include "tests/support/ProxyServers.h"

namespace sessiontest {
namespace {

namespace fs = std::filesystem;

struct ProxyCase {
    const char* name;
    int type;
    std::function<std::unique_ptr<tvtest::ProxyDaemon>()> makeProxy;
    const char* user;
    const char* password;
    bool passive;
};

void PrintTo(const ProxyCase& c, std::ostream* out) { *out << c.name; }

std::unique_ptr<tvtest::ProxyDaemon> Dante() { return std::make_unique<tvtest::DanteProxy>(); }
std::unique_ptr<tvtest::ProxyDaemon> Microsocks() {
    return std::make_unique<tvtest::MicrosocksProxy>("alice", "open sesame");
}
std::unique_ptr<tvtest::ProxyDaemon> Tiny() {
    return std::make_unique<tvtest::Tinyproxy>("bob", "s3cret", 0);
}

const ProxyCase kTransferCases[] = {
    {"DanteSocks4Passive", PROXYTYPE_SOCKS4, Dante, "", "", true},
    {"DanteSocks4aPassive", PROXYTYPE_SOCKS4A, Dante, "", "", true},
    {"DanteSocks5Passive", PROXYTYPE_SOCKS5, Dante, "", "", true},
    {"MicrosocksSocks5AuthPassive", PROXYTYPE_SOCKS5, Microsocks, "alice", "open sesame", true},
    {"TinyproxyHttpBasicPassive", PROXYTYPE_HTTP11, Tiny, "bob", "s3cret", true},
    {"DanteSocks5ActiveBind", PROXYTYPE_SOCKS5, Dante, "", "", false},
    {"DanteSocks4ActiveBind", PROXYTYPE_SOCKS4, Dante, "", "", false},
};

class ProxySession : public SessionTestBase {
protected:
    void StartServers(const ProxyCase& c) {
        if (!server.isRunning()) {
            ASSERT_TRUE(server.start()) << server.error();
        }
        if (!server.hasUser()) GTEST_SKIP() << "no named user for vsftpd here";
        proxy = c.makeProxy();
        if (!proxy->installed()) GTEST_SKIP() << proxy->missingMessage();
        ASSERT_TRUE(proxy->start()) << proxy->error();
        settings.ProxyType = c.type;
        settings.ProxyHost = "127.0.0.1";
        settings.ProxyPort = proxy->port();
        settings.ProxyUseAuth = c.user[0] != '\0';
        settings.ProxyUser = c.user;
        settings.ProxyPassword = c.password;
        settings.FileRetry = 0;
        settings.pOverwrite = 0;
        settings.DefaultOverwriteAction = 2;
        work = fs::temp_directory_path() / ("tv-proxy-session-" + std::to_string(::getpid()));
        fs::remove_all(work);
        fs::create_directories(work);
        settings.CacheHomeDirectory = (work / "cache").string();
    }
    void TearDown() override {
        if (session) session->StopThread();
        session.reset();
        if (!work.empty()) fs::remove_all(work);
    }

    CSessionSite Site(bool passive) const {
        CSessionSite site;
        site.address = server.host();
        site.port = server.port();
        site.username = server.userName();
        site.password = server.password();
        site.passive = passive ? 1 : 0;
        return site;
    }

    int Run(const CSessionCommand& command) {
        const int occurrence = ++issued[command.code];
        session->IssueCommand(command);
        return ui.WaitForCommandResult(command.code, kLogWait, occurrence);
    }

    tvtest::VsftpdServer server;
    std::unique_ptr<tvtest::ProxyDaemon> proxy;
    fs::path work;
    std::map<int, int> issued;
};

class ProxyTransfers : public ProxySession, public ::testing::WithParamInterface<ProxyCase> {};

TEST_P(ProxyTransfers, ListsDownloadsAndUploadsThroughTheProxy) {
    const ProxyCase& c = GetParam();
    StartServers(c);
    if (IsSkipped() || HasFatalFailure()) return;
    std::string content(100000, '\0');
    for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 7 + i / 251);
    ASSERT_TRUE(server.createFile("pub/data.bin", content));
    ASSERT_TRUE(server.createFile("pub/listed-through-proxy.txt", "x"));

    Open(Site(c.passive));
    ASSERT_TRUE(WaitForLine("Listing Complete")) << ui.Transcript();
    EXPECT_TRUE(WaitForLineStarting(LOG_STATE, "Connecting through the ")) << ui.Transcript();

    CSessionCommand list = SimpleCommand(CMD_LIST);
    list.path = "/pub";
    ASSERT_EQ(Run(list), FTP_OK) << ui.Transcript();
    EXPECT_NE(session->ListingText().find("listed-through-proxy.txt"), std::string::npos)
        << session->ListingText();

    CSessionCommand download = SimpleCommand(CMD_DOWNLOAD);
    download.path = "/pub/data.bin";
    download.localPath = (work / "data.bin").string();
    ASSERT_EQ(Run(download), FTP_OK) << ui.Transcript();
    std::ifstream in(work / "data.bin", std::ios::binary);
    const std::string received((std::istreambuf_iterator<char>(in)), {});
    EXPECT_TRUE(received == content) << "downloaded " << received.size() << " bytes";
    // And back up under another name.
    CSessionCommand upload = SimpleCommand(CMD_UPLOAD);
    upload.path = "/pub/uploaded.bin";
    fs::rename(work / "data.bin", work / "uploaded.bin");
    upload.localPath = (work / "uploaded.bin").string();
    ASSERT_EQ(Run(upload), FTP_OK) << ui.Transcript();
    std::string stored;
    ASSERT_TRUE(server.readFile("pub/uploaded.bin", stored));
    EXPECT_TRUE(stored == content) << "stored " << stored.size() << " bytes";
    if (!c.passive) {
        // PORT named the proxy's listening address, not our own.
        EXPECT_TRUE(WaitForLineStarting(LOG_STATE, "The proxy server listens for the data connection at "))
            << ui.Transcript();
    }
}

INSTANTIATE_TEST_SUITE_P(Proxies, ProxyTransfers, ::testing::ValuesIn(kTransferCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ProxySession, ActiveModeThroughAnHttpProxyIsRefusedWithAnError) {
    StartServers({"Http", PROXYTYPE_HTTP11, Tiny, "bob", "s3cret", false});
    if (IsSkipped() || HasFatalFailure()) return;
    Open(Site(false));
    ASSERT_TRUE(WaitForLineStarting(LOG_ERROR, "Active mode is not possible through an HTTP proxy"))
        << ui.Transcript();
    EXPECT_EQ(ui.CountLines("Listing Complete"), 0);
}

TEST_F(ProxySession, DataConnectionsGoThroughTheProxyToo) {
    // A proxy that lets only the control port through: a data connection that bypassed
    // the proxy would still work, one through it is refused.
    ASSERT_TRUE(server.start()) << server.error();
    if (!server.hasUser()) GTEST_SKIP() << "no named user for vsftpd here";
    const int controlPort = server.port();
    StartServers({"HttpControlOnly", PROXYTYPE_HTTP11,
                  [controlPort] { return std::make_unique<tvtest::Tinyproxy>("bob", "s3cret", controlPort); },
                  "bob", "s3cret", true});
    if (IsSkipped() || HasFatalFailure()) return;
    Open(Site(true));
    ASSERT_TRUE(WaitForLineStarting(LOG_ERROR, "The proxy server refused the connection. HTTP/1."))
        << ui.Transcript();
    EXPECT_TRUE(session->IsLoggedIn());
    EXPECT_EQ(ui.CountLines("Listing Complete"), 0);
}

TEST_F(ProxySession, AProxyRefusalIsLoggedWithTheHttpStatusLine) {
    StartServers({"HttpWrongPassword", PROXYTYPE_HTTP11, Tiny, "bob", "wrong", true});
    if (IsSkipped() || HasFatalFailure()) return;
    Open(Site(true));
    ASSERT_TRUE(WaitForLineStarting(LOG_ERROR, "The proxy server refused the connection. HTTP/1."))
        << ui.Transcript();
    EXPECT_FALSE(session->IsLoggedIn());
}

TEST_F(ProxySession, WrongSocks5PasswordIsLogged) {
    StartServers({"Socks5WrongPassword", PROXYTYPE_SOCKS5, Microsocks, "alice", "wrong", true});
    if (IsSkipped() || HasFatalFailure()) return;
    Open(Site(true));
    ASSERT_TRUE(WaitForLine("The proxy server rejected the user name or password.")) << ui.Transcript();
    EXPECT_FALSE(session->IsLoggedIn());
}

}  // namespace
}  // namespace sessiontest
