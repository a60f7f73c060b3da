// ConnectAndLogin against real servers started on loopback: vsftpd and pyftpdlib, with
// the named user and anonymously.

#include "ftp/CtrlSocket.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "tests/support/FtpServers.h"
#include "tests/unit/ftp/TestSession.h"

namespace {

using ftptest::TestSession;

struct LoginCase {
    const char* name;
    std::function<std::unique_ptr<tvtest::FtpTestServer>()> makeServer;
    bool anonymous;
};

const LoginCase kCases[] = {
    {"vsftpd user", [] { return std::make_unique<tvtest::VsftpdServer>(); }, false},
    {"vsftpd anonymous", [] { return std::make_unique<tvtest::VsftpdServer>(); }, true},
    {"pyftpdlib user", [] { return std::make_unique<tvtest::PyftpdlibServer>(); }, false},
    {"pyftpdlib anonymous", [] { return std::make_unique<tvtest::PyftpdlibServer>(); }, true},
};

class RealServerLogin : public ::testing::TestWithParam<LoginCase> {};

TEST_P(RealServerLogin, LogsInAndWorksAfterwards)
{
    const LoginCase& c = GetParam();
    std::unique_ptr<tvtest::FtpTestServer> server = c.makeServer();
    ASSERT_TRUE(server->start()) << server->error();

    TestSession session;
    session.timeoutSeconds = 2;
    session.host = server->host();
    session.port = server->port();
    session.user = c.anonymous ? "anonymous" : server->userName();
    session.password = c.anonymous ? "tollvane@example.com" : server->password();
    CCtrlSocket ctrl(session);

    ASSERT_EQ(ctrl.ConnectAndLogin(), FTP_OK) << session.LogDump() << server->logText();
    EXPECT_TRUE(session.loggedIn);
    ASSERT_EQ(session.loginReports.size(), 1u);
    EXPECT_EQ(session.loginReports[0].compare(0, 3, "220"), 0) << session.loginReports[0];
    EXPECT_NE(session.loginReports[0].find("230"), std::string::npos) << session.loginReports[0];

    // The connection carries commands after the login.
    ASSERT_EQ(ctrl.SendCommand("pwd", 1), FTP_OK) << session.LogDump();
    EXPECT_EQ(ctrl.ReplyCode(0), "257");
    ASSERT_EQ(ctrl.SendCommand("type i", 1), FTP_OK) << session.LogDump();
    EXPECT_EQ(ctrl.ReplyCode(0), "200");
    ASSERT_EQ(ctrl.SendCommand("retr no-such-file", 1), FTP_OK) << session.LogDump();
    // No data connection was opened: the server refuses the transfer.
    const std::string refusal = ctrl.ReplyCode(0);
    EXPECT_TRUE(refusal[0] == '4' || refusal[0] == '5') << refusal;
    ASSERT_EQ(ctrl.SendCommand("quit", 1), FTP_OK) << session.LogDump();
    EXPECT_EQ(ctrl.ReplyCode(0), "221");
}

class RealServerWrongPassword : public ::testing::TestWithParam<LoginCase> {};

TEST_P(RealServerWrongPassword, Fails)
{
    const LoginCase& c = GetParam();
    std::unique_ptr<tvtest::FtpTestServer> server = c.makeServer();
    ASSERT_TRUE(server->start()) << server->error();

    TestSession session;
    session.timeoutSeconds = 2;
    session.host = server->host();
    session.port = server->port();
    session.user = server->userName();
    session.password = server->password() + "-wrong";
    CCtrlSocket ctrl(session);

    // The server refuses the password (or holds its answer past the time-out).
    EXPECT_NE(ctrl.ConnectAndLogin(), FTP_OK) << session.LogDump();
    EXPECT_FALSE(session.loggedIn);
    EXPECT_TRUE(session.loginReports.empty());
}

std::string CaseName(const ::testing::TestParamInfo<LoginCase>& info)
{
    std::string name = info.param.name;
    for (char& ch : name) {
        if (ch == ' ')
            ch = '_';
    }
    return name;
}

INSTANTIATE_TEST_SUITE_P(Servers, RealServerLogin, ::testing::ValuesIn(kCases), CaseName);
// Anonymous logins take any password: only the named users can be refused.
INSTANTIATE_TEST_SUITE_P(Servers, RealServerWrongPassword, ::testing::Values(kCases[0], kCases[2]), CaseName);

}  // namespace
