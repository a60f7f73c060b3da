// The real-server fixtures start, greet, accept both logins, serve the files a test
// prepares and keep what a client uploads; checked with a bare socket client.

#include "tests/integration/servers/RawClient.h"
#include "tests/support/FtpServers.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>

#include <unistd.h>

namespace tvtest {
namespace {

struct ServerKind {
    const char* name;
    std::function<std::unique_ptr<FtpTestServer>(const FtpServerOptions&)> make;
};

const ServerKind kServerKinds[] = {
    {"vsftpd", [](const FtpServerOptions& o) { return std::make_unique<VsftpdServer>(o); }},
    {"pyftpdlib",
     [](const FtpServerOptions& o) { return std::make_unique<PyftpdlibServer>(o); }},
};

class RealServerTest : public ::testing::TestWithParam<ServerKind> {
protected:
    void SetUp() override {
        server_ = GetParam().make(FtpServerOptions{});
        ASSERT_TRUE(server_->start()) << server_->error();
    }

    // Connects and logs in; the reply to PASS (or to USER when no password is asked).
    std::string logIn(RawClient& client, const std::string& user, const std::string& password) {
        EXPECT_TRUE(client.connectTo(server_->port()));
        std::string welcome = client.readReply();
        EXPECT_EQ(welcome.substr(0, 4), "220 ") << welcome;
        std::string reply = client.command("USER " + user);
        EXPECT_EQ(reply.substr(0, 3), "331") << reply;
        return client.command("PASS " + password);
    }

    std::unique_ptr<FtpTestServer> server_;
};

TEST_P(RealServerTest, NamedUserLogsInAndDownloadsAPreparedFile) {
    if (!server_->hasUser())
        GTEST_SKIP() << GetParam().name << " offers no named user when not run as root";
    ASSERT_TRUE(server_->createFile("docs/readme.txt", "first line\r\nsecond line\r\n"));

    RawClient client;
    std::string reply = logIn(client, server_->userName(), server_->password());
    ASSERT_EQ(reply.substr(0, 3), "230") << reply << server_->logText();
    EXPECT_EQ(client.command("TYPE I").substr(0, 3), "200");
    int data = client.openPassive();
    ASSERT_GE(data, 0) << server_->logText();
    reply = client.command("RETR docs/readme.txt");
    EXPECT_EQ(reply.substr(0, 1), "1") << reply;  // 150, or 125 once the data is connected
    EXPECT_EQ(RawClient::readAll(data), "first line\r\nsecond line\r\n");
    ::close(data);
    reply = client.readReply();
    EXPECT_EQ(reply.substr(0, 3), "226") << reply;
}

TEST_P(RealServerTest, NamedUserWithAWrongPasswordIsRefused) {
    if (!server_->hasUser())
        GTEST_SKIP() << GetParam().name << " offers no named user when not run as root";
    RawClient client;
    std::string reply = logIn(client, server_->userName(), server_->password() + "x");
    EXPECT_EQ(reply.substr(0, 3), "530") << reply;
}

TEST_P(RealServerTest, BothLoginsUploadAndTheFileLandsInTheRoot) {
    // Every prepared folder is writable for both logins (vsftpd keeps the top folder
    // itself read-only to anonymous).
    ASSERT_TRUE(server_->createFolder("incoming"));
    struct Login {
        std::string user, password, file;
    };
    std::vector<Login> logins = {{"anonymous", "guest@example.com", "incoming/anon.bin"}};
    if (server_->hasUser())
        logins.push_back({server_->userName(), server_->password(), "incoming/user.bin"});

    for (const auto& login : logins) {
        SCOPED_TRACE(login.user);
        RawClient client;
        std::string reply = logIn(client, login.user, login.password);
        ASSERT_EQ(reply.substr(0, 3), "230") << reply << server_->logText();
        EXPECT_EQ(client.command("TYPE I").substr(0, 3), "200");
        int data = client.openPassive();
        ASSERT_GE(data, 0);
        reply = client.command("STOR " + login.file);
        EXPECT_EQ(reply.substr(0, 1), "1") << reply;
        std::string content(5000, '\0');
        for (std::size_t i = 0; i < content.size(); ++i)
            content[i] = static_cast<char>(i * 7);
        EXPECT_EQ(::write(data, content.data(), content.size()),
                  static_cast<ssize_t>(content.size()));
        ::close(data);
        reply = client.readReply();
        EXPECT_EQ(reply.substr(0, 3), "226") << reply;
        std::string stored;
        ASSERT_TRUE(server_->readFile(login.file, stored));
        EXPECT_EQ(stored, content);
    }
}

TEST_P(RealServerTest, NamedUserChangesPreparedFilesAndFolders) {
    if (!server_->hasUser())
        GTEST_SKIP() << GetParam().name << " offers no named user when not run as root";
    ASSERT_TRUE(server_->createFile("work/old.txt", "x"));
    ASSERT_TRUE(server_->createFolder("work/empty"));

    RawClient client;
    ASSERT_EQ(logIn(client, server_->userName(), server_->password()).substr(0, 3), "230");
    struct Exchange {
        const char* command;
        const char* codePrefix;
    };
    const Exchange exchanges[] = {
        {"SITE CHMOD 600 work/old.txt", "2"}, {"RNFR work/old.txt", "350"},
        {"RNTO work/new.txt", "250"},         {"DELE work/new.txt", "250"},
        {"RMD work/empty", "250"},            {"MKD work/made", "257"},
        {"CWD work/made", "250"},             {"CDUP", "2"},
    };
    for (const auto& exchange : exchanges) {
        std::string reply = client.command(exchange.command);
        EXPECT_EQ(reply.rfind(exchange.codePrefix, 0), 0u) << exchange.command << ": " << reply;
    }
    EXPECT_FALSE(server_->exists("work/old.txt"));
    EXPECT_FALSE(server_->exists("work/new.txt"));
    EXPECT_FALSE(server_->exists("work/empty"));
    EXPECT_TRUE(server_->exists("work/made"));
}

TEST_P(RealServerTest, HelpersRefusePathsOutsideTheRoot) {
    for (const char* path : {"", "/etc/passwd", "../escape.txt", "a/../../escape.txt"}) {
        SCOPED_TRACE(path);
        EXPECT_FALSE(server_->createFile(path, "x"));
        EXPECT_FALSE(server_->createFolder(path));
        EXPECT_TRUE(server_->localPath(path).empty());
    }
}

TEST_P(RealServerTest, StopEndsTheServerAndRemovesItsFolder) {
    std::string root = server_->rootPath();
    int port = server_->port();
    ASSERT_TRUE(std::filesystem::exists(root));
    server_->stop();
    EXPECT_FALSE(server_->isRunning());
    EXPECT_FALSE(std::filesystem::exists(root));
    RawClient client;
    EXPECT_FALSE(client.connectTo(port));
}

INSTANTIATE_TEST_SUITE_P(Servers, RealServerTest, ::testing::ValuesIn(kServerKinds),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(RealServers, TwoServersOfEachKindRunSideBySide) {
    VsftpdServer vsftpdA, vsftpdB;
    PyftpdlibServer pyA, pyB;
    for (FtpTestServer* server : std::initializer_list<FtpTestServer*>{&vsftpdA, &vsftpdB, &pyA, &pyB})
        ASSERT_TRUE(server->start()) << server->error();
    EXPECT_NE(vsftpdA.port(), vsftpdB.port());
    EXPECT_NE(pyA.port(), pyB.port());
    EXPECT_NE(vsftpdA.rootPath(), vsftpdB.rootPath());
}

// What a site-to-site copy does: one server listens (PASV), the other connects to it
// (PORT with that address) and the file goes straight from one to the other.
TEST(RealServers, CopyFromOneServerToTheOtherOverTheirOwnDataConnection) {
    FtpServerOptions siteToSite;
    siteToSite.allowForeignDataAddresses = true;
    VsftpdServer source(siteToSite);
    PyftpdlibServer target(siteToSite);
    ASSERT_TRUE(source.start()) << source.error();
    ASSERT_TRUE(target.start()) << target.error();
    ASSERT_TRUE(source.createFile("pub/data.txt", "copied from server to server\r\n"));

    RawClient from, to;
    for (auto [client, server] : {std::pair{&from, static_cast<FtpTestServer*>(&source)},
                                  std::pair{&to, static_cast<FtpTestServer*>(&target)}}) {
        ASSERT_TRUE(client->connectTo(server->port()));
        client->readReply();
        client->command("USER anonymous");
        ASSERT_EQ(client->command("PASS copy@example.com").substr(0, 3), "230");
        ASSERT_EQ(client->command("TYPE I").substr(0, 3), "200");
    }
    std::string pasv = from.command("PASV");
    ASSERT_EQ(pasv.substr(0, 3), "227") << pasv;
    std::string address = pasv.substr(pasv.find('(') + 1);
    address = address.substr(0, address.find(')'));
    ASSERT_EQ(to.command("PORT " + address).substr(0, 3), "200");
    ASSERT_EQ(to.command("STOR copy.txt").substr(0, 1), "1");
    ASSERT_EQ(from.command("RETR pub/data.txt").substr(0, 1), "1");
    EXPECT_EQ(from.readReply().substr(0, 3), "226");
    EXPECT_EQ(to.readReply().substr(0, 3), "226");

    std::string copied;
    ASSERT_TRUE(target.readFile("copy.txt", copied));
    EXPECT_EQ(copied, "copied from server to server\r\n");
}

}  // namespace
}  // namespace tvtest
