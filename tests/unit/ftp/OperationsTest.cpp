// The control-connection operations on their own: the Auto table and the comparison
// classes, the path rules, and the exact commands and results of the small operations
// against the scripted server.

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "ftp/CtrlSocket.h"
#include "ftp/OverwriteChoice.h"
#include "ftp/RemotePath.h"
#include "tests/support/ScriptedServer.h"
#include "tests/unit/ftp/TestSession.h"

namespace {

using tvtest::Script;
using tvtest::ScriptStep;

constexpr std::uint64_t kFourGiB = 1ull << 32;

// ---------------------------------------------------------------------------------------
// The Auto table and the comparison classes.

TEST(OverwriteChoice, AutoTableForBothDirections)
{
    // Relations of the source to the target: a newer source overwrites, an older one is
    // skipped; at equal times bigger resumes, equal skips, smaller overwrites.
    const struct {
        int time;
        int size;
        int action;
    } table[] = {
        {-1, -1, OVERWRITE_SKIP},      {-1, 0, OVERWRITE_SKIP},      {-1, 1, OVERWRITE_SKIP},
        {0, -1, OVERWRITE_OVERWRITE},  {0, 0, OVERWRITE_SKIP},       {0, 1, OVERWRITE_RESUME},
        {1, -1, OVERWRITE_OVERWRITE},  {1, 0, OVERWRITE_OVERWRITE},  {1, 1, OVERWRITE_OVERWRITE},
    };
    for (const auto& row : table) {
        // Download: the remote side is the source.
        CFilePairFacts down{1000, 5000, std::uint64_t(1000 + row.size), 5000 + row.time};
        EXPECT_EQ(AutoOverwriteAction(DIRECTION_DOWNLOAD, down), row.action)
            << "download time " << row.time << " size " << row.size;
        EXPECT_EQ(OverwriteClass(DIRECTION_DOWNLOAD, down), (row.size + 1) * 3 + row.time + 1);
        // Upload: the local side is the source.
        CFilePairFacts up{std::uint64_t(1000 + row.size), 5000 + row.time, 1000, 5000};
        EXPECT_EQ(AutoOverwriteAction(DIRECTION_UPLOAD, up), row.action)
            << "upload time " << row.time << " size " << row.size;
        EXPECT_EQ(OverwriteClass(DIRECTION_UPLOAD, up), 9 + (row.size + 1) * 3 + row.time + 1);
    }
}

TEST(OverwriteChoice, SizesPastFourGiBCompareWhole)
{
    // Equal low halves: a 32-bit comparison would call these the same size.
    CFilePairFacts facts{1, 100, kFourGiB + 1, 100};
    EXPECT_EQ(AutoOverwriteAction(DIRECTION_DOWNLOAD, facts), OVERWRITE_RESUME);
    EXPECT_EQ(OverwriteClass(DIRECTION_DOWNLOAD, facts), 2 * 3 + 1);
}

TEST(OverwriteChoice, ASettingOtherThanAutoWins)
{
    CFilePairFacts newer{10, 100, 10, 200};
    for (int setting : {OVERWRITE_SKIP, OVERWRITE_RESUME, OVERWRITE_OVERWRITE})
        EXPECT_EQ(ChooseOverwriteAction(setting, DIRECTION_DOWNLOAD, newer), setting);
    EXPECT_EQ(ChooseOverwriteAction(OVERWRITE_AUTO, DIRECTION_DOWNLOAD, newer), OVERWRITE_OVERWRITE);
}

// ---------------------------------------------------------------------------------------
// Path rules.

TEST(RemotePath, SamePathIgnoresCaseAndATrailingSeparator)
{
    const struct {
        const char* a;
        const char* b;
        bool same;
    } cases[] = {
        {"/pub", "/pub/", true},   {"/Pub/", "/pub", true},  {"/pub", "/pu", false},
        {"C:\\Data", "c:\\data\\", true}, {"/", "/", true},   {"/a/b", "/a", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SamePath(c.a, c.b), c.same) << c.a << " vs " << c.b;
}

TEST(RemotePath, OnlyPlainNamesMayBecomeLocalFileNames)
{
    const struct {
        std::string name;
        bool safe;
    } cases[] = {
        {"file.txt", true}, {"..file", true},      {"", false},          {".", false},
        {"..", false},      {"a/b", false},        {"a\\..\\b", false}, {std::string("a\0b", 3), false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsSafeLocalFileName(c.name), c.safe) << c.name;
}

TEST(RemotePath, DirectoryOfAFile)
{
    EXPECT_EQ(RemoteDirectoryOf("/a/b.txt"), "/a");
    EXPECT_EQ(RemoteDirectoryOf("/b.txt"), "/");
    EXPECT_EQ(RemoteDirectoryOf("b.txt"), "");
}

// ---------------------------------------------------------------------------------------
// Small operations on the wire.

// The test session with the directory state the operations keep.
class OperationSession : public ftptest::TestSession {
public:
    std::string currentDirectory = "/home/user";
    std::vector<std::string> directoryChanges;
    std::string CurrentRemoteDirectory() const override { return currentDirectory; }
    void SetCurrentRemoteDirectory(const std::string& directory) override
    {
        currentDirectory = directory;
        directoryChanges.push_back(directory);
    }
};

struct WireCase {
    const char* name;
    std::function<int(CCtrlSocket&)> operation;
    Script steps;          // after the login
    int result;
    std::string wire;      // what the server received after the login
};

Script LoginThen(const Script& rest)
{
    Script script = {
        ScriptStep::send("220 Welcome\r\n"),
        ScriptStep::on("USER .*", "331 Password required\r\n"),
        ScriptStep::on("PASS .*", "230 Logged in\r\n"),
    };
    script.insert(script.end(), rest.begin(), rest.end());
    return script;
}

const std::string kLogin = "USER user\r\nPASS secret\r\n";

std::vector<WireCase> WireCases()
{
    return {
        {"Cwd to the current directory in another case sends nothing",
         [](CCtrlSocket& c) { return c.Cwd("/HOME/user/", 0); }, {}, FTP_OK, ""},
        {"a blank at the end of a path belongs to the folder's name",
         [](CCtrlSocket& c) { return c.Cwd("/home/user/ ", 0); },
         {ScriptStep::on("CWD /home/user/ ", "250 ok\r\n"), ScriptStep::on("PWD", "257 \"/home/user/ \"\r\n")},
         FTP_OK, "CWD /home/user/ \r\nPWD\r\n"},
        {"Cwd with 0x20 sends a dot", [](CCtrlSocket& c) { return c.Cwd("/home/user", OPFLAG_SEND_ALWAYS); },
         {ScriptStep::on("CWD \\.", "250 ok\r\n")}, FTP_OK, "CWD .\r\n"},
        {"Cwd elsewhere reads the new directory",
         [](CCtrlSocket& c) { return c.Cwd("/pub", 0); },
         {ScriptStep::on("CWD /pub", "250 ok\r\n"), ScriptStep::on("PWD", "257 \"/pub\" is current\r\n")},
         FTP_OK, "CWD /pub\r\nPWD\r\n"},
        {"Cwd refused", [](CCtrlSocket& c) { return c.Cwd("/x", 0); },
         {ScriptStep::on("CWD /x", "550 No\r\n")}, FTP_NOT_AVAILABLE, "CWD /x\r\n"},
        {"Cdup", [](CCtrlSocket& c) { return c.Cdup(0); },
         {ScriptStep::on("CDUP", "200 ok\r\n"), ScriptStep::on("PWD", "257 \"/home\"\r\n")}, FTP_OK,
         "CDUP\r\nPWD\r\n"},
        {"Pwd without quotes fails", [](CCtrlSocket& c) { return c.Pwd(); },
         {ScriptStep::on("PWD", "257 /home\r\n")}, FTP_FAILED, "PWD\r\n"},
        {"Port", [](CCtrlSocket& c) { return c.Port("10.0.0.5", 5001); },
         {ScriptStep::on("PORT 10,0,0,5,19,137", "200 ok\r\n")}, FTP_OK, "PORT 10,0,0,5,19,137\r\n"},
        {"Rest past 4 GiB", [](CCtrlSocket& c) { bool r = false; return c.Rest(5 * kFourGiB + 7, r) == FTP_OK && r ? FTP_OK : FTP_FAILED; },
         {ScriptStep::on("REST 21474836487", "350 ok\r\n")}, FTP_OK, "REST 21474836487\r\n"},
        {"Rest refused means no resume", [](CCtrlSocket& c) { bool r = true; return c.Rest(10, r) == FTP_OK && !r ? FTP_OK : FTP_FAILED; },
         {ScriptStep::on("REST 10", "502 No\r\n")}, FTP_OK, "REST 10\r\n"},
        {"SetType sends only a change",
         [](CCtrlSocket& c) { int r = c.SetType(1); return r == FTP_OK ? c.SetType(1) : r; },
         {ScriptStep::on("TYPE i", "200 ok\r\n")}, FTP_OK, "TYPE i\r\n"},
        {"Rename", [](CCtrlSocket& c) { return c.Rename("/a", "/b", 0); },
         {ScriptStep::on("RNFR /a", "350 ok\r\n"), ScriptStep::on("RNTO /b", "250 ok\r\n")}, FTP_OK,
         "RNFR /a\r\nRNTO /b\r\n"},
        {"Rename refused at RNFR", [](CCtrlSocket& c) { return c.Rename("/a", "/b", 0); },
         {ScriptStep::on("RNFR /a", "550 No\r\n")}, FTP_NOT_AVAILABLE, "RNFR /a\r\n"},
        {"Rename failed otherwise", [](CCtrlSocket& c) { return c.Rename("/a", "/b", 0); },
         {ScriptStep::on("RNFR /a", "450 Busy\r\n")}, FTP_FAILED, "RNFR /a\r\n"},
        {"Delete refused", [](CCtrlSocket& c) { return c.Delete("/a", 0); },
         {ScriptStep::on("DELE /a", "550 No such file\r\n")}, FTP_NOT_AVAILABLE, "DELE /a\r\n"},
        {"Chmod", [](CCtrlSocket& c) { return c.Chmod("/a", "644", 0); },
         {ScriptStep::on("SITE CHMOD 644 /a", "200 ok\r\n")}, FTP_OK, "SITE CHMOD 644 /a\r\n"},
        {"Chmod refused", [](CCtrlSocket& c) { return c.Chmod("/a", "644", 0); },
         {ScriptStep::on("SITE CHMOD 644 /a", "500 No\r\n")}, FTP_NOT_AVAILABLE, "SITE CHMOD 644 /a\r\n"},
        {"Delete", [](CCtrlSocket& c) { return c.Delete("/a", 0); },
         {ScriptStep::on("DELE /a", "250 ok\r\n")}, FTP_OK, "DELE /a\r\n"},
        {"MakeDir refused", [](CCtrlSocket& c) { return c.MakeDir("/a", 0); },
         {ScriptStep::on("MKD /a", "550 exists\r\n")}, FTP_NOT_AVAILABLE, "MKD /a\r\n"},
        {"RemoveDir of a top directory leaves first",
         [](CCtrlSocket& c) { return c.RemoveDir("/a", 0); },
         {ScriptStep::on("CWD /", "250 ok\r\n"), ScriptStep::on("PWD", "257 \"/\"\r\n"),
          ScriptStep::on("RMD /a", "250 ok\r\n")},
         FTP_OK, "CWD /\r\nPWD\r\nRMD /a\r\n"},
        {"RemoveDir of the root sends nothing", [](CCtrlSocket& c) { return c.RemoveDir("/", 0); }, {},
         FTP_FAILED, ""},
        {"Abort", [](CCtrlSocket& c) { return c.Abort(); },
         {ScriptStep::on("ABOR", "426 Broken\r\n226 Aborted\r\n")}, FTP_OK, "ABOR\r\n"},
        {"Download only if the local file exists: it does not, nothing is sent",
         [](CCtrlSocket& c) {
             return c.Download("/nonexistent-tollvane-test/file", "/a", OPFLAG_ONLY_IF_EXISTS);
         },
         {}, FTP_OK, ""},
        {"Upload only if the remote file exists: none is known, nothing is sent",
         [](CCtrlSocket& c) { return c.Upload("/etc/hostname", "/a", OPFLAG_ONLY_IF_EXISTS); }, {},
         FTP_OK, ""},
        {"Quit", [](CCtrlSocket& c) { return c.Quit(); }, {ScriptStep::on("QUIT", "221 Bye\r\n")},
         FTP_OK, "QUIT\r\n"},
    };
}

TEST(Operations, SendTheirCommandsAndCheckTheCodes)
{
    for (const WireCase& c : WireCases()) {
        SCOPED_TRACE(c.name);
        tvtest::ScriptedServer server;
        server.addConnection(LoginThen(c.steps));
        ASSERT_TRUE(server.start()) << server.error();
        OperationSession session;
        session.port = server.port();
        CCtrlSocket ctrl(session);
        ASSERT_EQ(ctrl.ConnectAndLogin(), FTP_OK) << session.LogDump();
        EXPECT_EQ(c.operation(ctrl), c.result) << session.LogDump();
        ctrl.Close();
        EXPECT_TRUE(server.waitUntilDone(2000)) << server.error();
        EXPECT_EQ(server.receivedText(0), kLogin + c.wire);
    }
}

TEST(Operations, PasvAddressAndPort)
{
    const struct {
        const char* reply;
        int result;
        const char* host;
        int port;
    } cases[] = {
        {"227 Entering Passive Mode (127,0,0,1,19,137)\r\n", FTP_OK, "127.0.0.1", 5001},
        {"227 Entering Passive Mode (127,,0,0,1,19,137)\r\n", FTP_OK, "127.0.0.1", 5001},
        {"227 Entering Passive Mode (192,168,1,2,19,137)\r\n", FTP_OK, "192.168.1.2", 5001},
        {"227 Entering Passive Mode (127,0,0,1,256,1)\r\n", FTP_FAILED, "", 0},
        {"227 Entering Passive Mode (127,0,0,1,19)\r\n", FTP_FAILED, "", 0},
        {"227 Entering Passive Mode (1,2,3,4,5,x)\r\n", FTP_FAILED, "", 0},
        {"500 No\r\n", FTP_FAILED, "", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reply);
        tvtest::ScriptedServer server;
        server.addConnection(LoginThen({ScriptStep::on("PASV", c.reply)}));
        ASSERT_TRUE(server.start()) << server.error();
        OperationSession session;
        session.port = server.port();
        CCtrlSocket ctrl(session);
        ASSERT_EQ(ctrl.ConnectAndLogin(), FTP_OK);
        ASSERT_EQ(ctrl.Pasv(), c.result) << session.LogDump();
        if (c.result != FTP_OK)
            continue;
        EXPECT_EQ(ctrl.DataHost(), c.host);
        EXPECT_EQ(ctrl.DataPort(), c.port);
        // Another host than the control connection's peer is reported.
        EXPECT_EQ(session.Logged("Passive mode reply names " + std::string(c.host) +
                                     ", connecting to 127.0.0.1 instead.",
                                 LOG_WARNING),
                  std::string(c.host) != "127.0.0.1")
            << session.LogDump();
    }
}

TEST(Operations, RemoteNameIsShortInTheCurrentDirectory)
{
    OperationSession session;
    CCtrlSocket ctrl(session);
    session.currentDirectory = "/pub/";
    EXPECT_EQ(ctrl.RemoteName("/pub/a.txt"), "a.txt");
    EXPECT_EQ(ctrl.RemoteName("/PUB/a.txt"), "a.txt");
    EXPECT_EQ(ctrl.RemoteName("/other/a.txt"), "/other/a.txt");
    EXPECT_EQ(ctrl.RemoteName("a.txt"), "a.txt");
}

}  // namespace
