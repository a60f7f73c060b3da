// FEAT, EPSV and MLSD against the scripted server, for what a real server will not do on
// request: refused or hostile EPSV replies, FEAT replies of every shape, MLSD offered but
// refused, and MLSD lines with missing, repeated or absurd facts.

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "listing/ListingParser.h"
#include "tests/integration/session/SessionFixture.h"
#include "tests/support/ScriptedServer.h"

namespace sessiontest {
namespace {

using tvtest::Script;
using tvtest::ScriptStep;

const char kFeatures[] =
    "211-Features:\r\n"
    " EPSV\r\n"
    " MLST type*;size*;modify*;perm*;unix.mode;\r\n"
    " UTF8\r\n"
    "211 End\r\n";

// Welcome and login; `afterLogin` answers FEAT and what follows it, then the first
// listing of the online set-up comes from `firstListing`.
Script Session(std::vector<ScriptStep> afterLogin, std::vector<ScriptStep> firstListing) {
    Script script = {
        ScriptStep::send("220 Scripted\r\n"),
        ScriptStep::on("USER alice", "331 Password\r\n"),
        ScriptStep::on("PASS secret", "230 In\r\n"),
    };
    script.insert(script.end(), afterLogin.begin(), afterLogin.end());
    script.push_back(ScriptStep::on("PWD", "257 \"/\" is current\r\n"));
    script.insert(script.end(), firstListing.begin(), firstListing.end());
    return script;
}

std::vector<ScriptStep> ModernLogin() {
    return {ScriptStep::on("FEAT", kFeatures), ScriptStep::on("OPTS UTF8 ON", "200 Always on\r\n"),
            ScriptStep::on("OPTS MLST type;size;modify;unix.mode;", "200 MLST OPTS type;size;modify;unix.mode;\r\n")};
}

ScriptStep Epsv() {
    return ScriptStep::on("EPSV", "229 Entering Extended Passive Mode (|||{epsv}|)\r\n").listenPassive();
}

class ModernProtocol : public SessionTestBase {
protected:
    ModernProtocol() { settings.AlwaysRefresh = 1; }

    void OpenAt(int port) {
        CSessionSite site;
        site.address = "127.0.0.1";
        site.port = port;
        site.username = "alice";
        site.password = "secret";
        site.passive = 1;
        Open(site);
    }
    int Run(const CSessionCommand& command) {
        session->IssueCommand(command);
        return ui.WaitForCommandResult(command.code, kLogWait, ++issued[command.code]);
    }
    // The entries of the last listing handed to the interface, in listing order.
    std::vector<RFILE_DATA> LastEntries() {
        std::vector<RFILE_DATA> entries;
        const auto listings = ui.Listings();
        if (listings.empty())
            return entries;
        ForEachListingLine(listings.back().text, [&](std::string_view line) {
            RFILE_DATA entry;
            if (ParseListingLine(line, entry) == ListLineResult::Entry)
                entries.push_back(entry);
            return true;
        });
        return entries;
    }
    int CountContaining(const std::string& part) const {
        int count = 0;
        for (const CLogLine& line : ui.Lines())
            count += line.text.find(part) != std::string::npos;
        return count;
    }
    std::map<int, int> issued;
};

TEST_F(ModernProtocol, MlsdListingWithExactFactsAndHostileLinesLeftOut) {
    const std::string mlsd =
        "type=cdir;modify=20240115123456; /\r\n"
        "type=pdir; ..\r\n"
        "type=file;size=5000000000;modify=20240115123456; big file; v2.iso\r\n"
        "type=dir;modify=20231231235959; Sub\r\n"
        "type=file;size=-1;modify=20240115123456; negative\r\n"
        "type=file;size=1;modify=99999999999999; future\r\n"
        "type=file;size=1;size=2; twice\r\n"
        "size=3; typeless\r\n"
        "type=file;size=4; ../escape\r\n"
        "type=file;size=5;modify=20240115123456; caf\xc3\xa9\r\n";
    tvtest::ScriptedServer server;
    server.addConnection(Session(ModernLogin(), {Epsv(), ScriptStep::on("MLSD", "150 Here\r\n")
                                                             .sendData(mlsd)
                                                             .afterData("226 Done\r\n")}));
    ASSERT_TRUE(server.start()) << server.error();
    OpenAt(server.port());
    ASSERT_TRUE(ui.WaitForCall("ListingComplete", "/", kLogWait)) << ui.Transcript();
    ASSERT_TRUE(server.waitUntilDone(10000)) << server.error();
    EXPECT_EQ(server.error(), "");

    const std::vector<RFILE_DATA> entries = LastEntries();
    ASSERT_EQ(entries.size(), 3u) << ui.Transcript();
    EXPECT_EQ(entries[0].strName, "big file; v2.iso");
    EXPECT_EQ(entries[0].FileSize(), 5000000000ull);
    EXPECT_EQ(entries[0].tmModified, 1705322096);  // 2024-01-15 12:34:56 UTC, to the second
    EXPECT_EQ(entries[1].strName, "Sub");
    EXPECT_TRUE(entries[1].bDirectory);
    EXPECT_EQ(entries[2].strName, "caf\xc3\xa9");
    for (const char* why : {"absurd size", "absurd time", "repeated fact", "no type", "unusable name"})
        EXPECT_GE(CountContaining(std::string("Listing line skipped: ") + why), 1) << why << ui.Transcript();
}

// A FEAT reply that offers nothing usable (or none at all) leaves the client on LIST and
// PASV, sending neither OPTS nor MLSD.
TEST_F(ModernProtocol, FeatRepliesOfEveryShape) {
    const std::string longLine = " " + std::string(4000, 'M') + "\r\n";
    const struct {
        const char* what;
        std::vector<ScriptStep> afterLogin;
        bool mlsd;
    } cases[] = {
        {"refused", {ScriptStep::on("FEAT", "500 Unknown command\r\n")}, false},
        {"single line", {ScriptStep::on("FEAT", "211 No features\r\n")}, false},
        {"empty list", {ScriptStep::on("FEAT", "211-Features:\r\n211 End\r\n")}, false},
        {"feature lines without blank", {ScriptStep::on("FEAT", "211-Features:\r\nMLST type*;\r\nUTF8\r\n211 End\r\n")},
         false},
        {"overlong line only", {ScriptStep::on("FEAT", "211-Features:\r\n" + longLine + "211 End\r\n")}, false},
        {"in pieces, lower case",
         {ScriptStep::on("FEAT", "211-Features:\r\n mlst Type*;Size*;\r\n utf8\r\n211 End\r\n").splitEveryByte(),
          ScriptStep::on("OPTS UTF8 ON", "200 ok\r\n"), ScriptStep::on("OPTS MLST type;size;", "200 ok\r\n")},
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        tvtest::ScriptedServer server;
        std::vector<ScriptStep> listing = {Epsv()};
        listing.push_back(ScriptStep::on(c.mlsd ? "MLSD" : "LIST", "150 Here\r\n").sendData("").afterData("226 Done\r\n"));
        server.addConnection(Session(c.afterLogin, listing));
        ASSERT_TRUE(server.start()) << server.error();
        OpenAt(server.port());
        ASSERT_TRUE(WaitForLine("Listing Complete")) << ui.Transcript();
        ASSERT_TRUE(server.waitUntilDone(10000)) << server.error();
        EXPECT_EQ(server.error(), "");
        EXPECT_TRUE(server.unscriptedCommands(0).empty());
        session->StopThread();
        session.reset();
        ui.Clear();
        issued.clear();
    }
}

// Offered in FEAT but refused when asked: the listing is made again with LIST, and later
// listings go straight to LIST. EPSV refused: PASV, also for later transfers.
TEST_F(ModernProtocol, RefusedMlsdAndEpsvFallBackToListAndPasv) {
    tvtest::ScriptedServer server;
    auto pasv = [] { return ScriptStep::on("PASV", "227 Entering Passive Mode ({pasv})\r\n").listenPassive(); };
    server.addConnection(Session(ModernLogin(), {
                                                    ScriptStep::on("EPSV", "500 What?\r\n"),
                                                    pasv(),
                                                    ScriptStep::on("MLSD", "500 Not here after all\r\n"),
                                                    pasv(),
                                                    ScriptStep::on("LIST", "150 Here\r\n")
                                                        .sendData("-rw-r--r-- 1 u g 5 Jan 01 2020 a.txt\r\n")
                                                        .afterData("226 Done\r\n"),
                                                    pasv(),
                                                    ScriptStep::on("LIST", "150 Here\r\n")
                                                        .sendData("-rw-r--r-- 1 u g 5 Jan 01 2020 b.txt\r\n")
                                                        .afterData("226 Done\r\n"),
                                                }));
    ASSERT_TRUE(server.start()) << server.error();
    OpenAt(server.port());
    ASSERT_TRUE(WaitForLine("Listing Complete")) << ui.Transcript();
    EXPECT_EQ(Run(SimpleCommand(CMD_LIST)), FTP_OK) << ui.Transcript();
    ASSERT_TRUE(ui.WaitForCall("ListingComplete", "/", kLogWait, 2)) << ui.Transcript();
    ASSERT_TRUE(server.waitUntilDone(10000)) << server.error();
    EXPECT_EQ(server.error(), "");
    const std::vector<RFILE_DATA> entries = LastEntries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].strName, "b.txt");
}

// EPSV replies are server text: a bad port, another host's address or a broken form fails
// the listing cleanly, without a connection anywhere and without LIST being sent; the
// connection stays usable.
TEST_F(ModernProtocol, HostileEpsvRepliesFailTheListing) {
    const char* replies[] = {
        "229 Entering Extended Passive Mode (|||0|)\r\n",
        "229 Entering Extended Passive Mode (|||65536|)\r\n",
        "229 Entering Extended Passive Mode (|||123456|)\r\n",
        "229 Entering Extended Passive Mode (|||-21|)\r\n",
        "229 Entering Extended Passive Mode (|2|::1|2121|)\r\n",
        "229 Entering Extended Passive Mode (|1|10.0.0.1|2121|)\r\n",
        "229 Entering Extended Passive Mode (1112121|)\r\n",
        "229 Entering Extended Passive Mode (|||2121)\r\n",
        "229 Entering Extended Passive Mode (|||2121!)\r\n",
        "229 Entering Extended Passive Mode |||2121|\r\n",
        "229 Entering Extended Passive Mode (|||)\r\n",
        "227 Entering Passive Mode (127,0,0,1,8,1)\r\n",
    };
    for (const char* reply : replies) {
        SCOPED_TRACE(reply);
        tvtest::ScriptedServer server;
        server.addConnection(Session({}, {Epsv(), ScriptStep::on("LIST", "150 Here\r\n").sendData("").afterData("226 Done\r\n"),
                                          ScriptStep::on("EPSV", reply),
                                          ScriptStep::on("PWD", "257 \"/\" is current\r\n")}));
        ASSERT_TRUE(server.start()) << server.error();
        OpenAt(server.port());
        ASSERT_TRUE(WaitForLine("Listing Complete")) << ui.Transcript();
        EXPECT_EQ(Run(SimpleCommand(CMD_LIST)), FTP_FAILED) << ui.Transcript();
        EXPECT_EQ(ui.CountLines("LIST"), 1) << "LIST must not be sent";
        EXPECT_EQ(Run(SimpleCommand(CMD_PWD)), FTP_OK);
        EXPECT_TRUE(server.waitUntilDone(10000)) << server.error();
        session->StopThread();
        session.reset();
        ui.Clear();
        issued.clear();
    }
}

// Once EPSV worked, a transfer command goes out in the same write as EPSV: the
// server's reply to it may come in one piece with the 229 or after it, and a refusal
// is a refusal (no data connection is tried), with the next command answered in turn.
TEST_F(ModernProtocol, TransferCommandsGoOutTogetherWithEpsv) {
    settings.AlwaysRefresh = 0;
    settings.FileRetry = 0;
    const std::string listing =
        "type=file;size=4;modify=20240115123456; a.bin\r\n"
        "type=file;size=4;modify=20240115123456; b.bin\r\n";
    tvtest::ScriptedServer server;
    server.addConnection(Session(ModernLogin(), {
        Epsv(), ScriptStep::on("MLSD", "150 Here\r\n").sendData(listing).afterData("226 Done\r\n"),
        ScriptStep::on("TYPE I", "200 ok\r\n"),
        ScriptStep::on("SIZE a.bin", "213 4\r\n"),
        Epsv(), ScriptStep::on("RETR a.bin", "150 Sending (4 bytes)\r\n").sendData("AAAA").afterData("226 Done\r\n"),
        ScriptStep::on("SIZE b.bin", "213 4\r\n"),
        Epsv(), ScriptStep::on("RETR b.bin", "550 Gone meanwhile\r\n"),
        ScriptStep::on("PWD", "257 \"/\" is current\r\n"),
    }));
    ASSERT_TRUE(server.start()) << server.error();
    OpenAt(server.port());
    ASSERT_TRUE(WaitForLine("Listing Complete")) << ui.Transcript();
    const auto folder = std::filesystem::temp_directory_path() / ("tv-together-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    const auto download = [&](const std::string& name) {
        CSessionCommand command = SimpleCommand(CMD_DOWNLOAD);
        command.path = "/" + name;
        command.localPath = (folder / name).string();
        return command;
    };
    EXPECT_EQ(Run(download("a.bin")), FTP_OK) << ui.Transcript();
    EXPECT_EQ(Run(download("b.bin")), FTP_NOT_AVAILABLE) << ui.Transcript();
    EXPECT_EQ(Run(SimpleCommand(CMD_PWD)), FTP_OK) << ui.Transcript();
    ASSERT_TRUE(server.waitUntilDone(10000)) << server.error();
    EXPECT_EQ(server.error(), "");
    EXPECT_NE(server.receivedText(0).find("EPSV\r\nRETR a.bin\r\n"), std::string::npos);
    EXPECT_EQ(CountContaining("Socket operation"), 0) << ui.Transcript();
    EXPECT_EQ(CountContaining("Unexpected response"), 0) << ui.Transcript();
    std::ifstream in(folder / "a.bin", std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "AAAA");
    EXPECT_FALSE(std::filesystem::exists(folder / "b.bin"));
    std::filesystem::remove_all(folder);
}

} // namespace
} // namespace sessiontest
