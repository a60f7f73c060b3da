// The data connection against real servers on loopback (vsftpd and pyftpdlib), in passive
// and active mode: a file uploaded in chunks, listed, and downloaded back byte for byte.
// The control connection is driven command by command here, so only the data side of
// the transfer operations is under test.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <string>

#include "ftp/CtrlSocket.h"
#include "ftp/DataSocketLink.h"
#include "ftp/IncomingDataSocket.h"
#include "ftp/LstnDataSocket.h"
#include "tests/support/FtpServers.h"
#include "tests/unit/ftp/TestSession.h"

namespace {

// The test session of the control connection, also serving the data connection.
class DataTestSession : public ftptest::TestSession, public DataSocketLink {
public:
    std::uint64_t bytes = 0;
    std::string listing;
    std::string fileName;

    void Log(const std::string& text, int kind, bool newline = true, bool prefix = true) override
    {
        TestSession::Log(text, kind, newline, prefix);
    }
    int WaitForTransfer(CEvent* event, int seconds) override { return TestSession::WaitForTransfer(event, seconds); }
    // Every wait of the test session is limited as a whole, which is stricter.
    void ArmIdleTimer(int) override {}
    void AddTransferredBytes(std::uint64_t count) override { bytes += count; }
    void AppendListingText(const char* text, std::size_t length) override { listing.append(text, length); }
    std::string CurrentFileName() const override { return fileName; }
    std::string ControlPeerAddress() const override { return "127.0.0.1"; }
};

struct ServerCase {
    const char* name;
    std::function<std::unique_ptr<tvtest::FtpTestServer>()> makeServer;
    bool passive;
};

const ServerCase kCases[] = {
    {"vsftpd passive", [] { return std::make_unique<tvtest::VsftpdServer>(); }, true},
    {"vsftpd active", [] { return std::make_unique<tvtest::VsftpdServer>(); }, false},
    {"pyftpdlib passive", [] { return std::make_unique<tvtest::PyftpdlibServer>(); }, true},
    {"pyftpdlib active", [] { return std::make_unique<tvtest::PyftpdlibServer>(); }, false},
};

std::string RandomBytes(std::size_t size)
{
    std::mt19937 random(42);
    std::string bytes(size, '\0');
    for (char& c : bytes)
        c = static_cast<char>(random() & 0xff);
    return bytes;
}

class DataSocketRealServer : public ::testing::TestWithParam<ServerCase> {
protected:
    void SetUp() override
    {
        server = GetParam().makeServer();
        ASSERT_TRUE(server->start()) << server->error();
        session.timeoutSeconds = 5;
        session.host = server->host();
        session.port = server->port();
        session.user = "anonymous";
        session.password = "tollvane@example.com";
        ASSERT_TRUE(server->createFolder("incoming"));
        ASSERT_EQ(ctrl.ConnectAndLogin(), FTP_OK) << session.LogDump() << server->logText();
        ASSERT_EQ(ctrl.SendCommand("type i", 1), FTP_OK) << session.LogDump();
        if (!GetParam().passive) {
            ASSERT_TRUE(listener.StartListening());
        }
        local = server->rootPath() + "-local";
        std::filesystem::create_directories(local);
    }
    void TearDown() override
    {
        std::error_code ignored;
        std::filesystem::remove_all(local, ignored);
    }

    // PASV (connecting afterwards) or PORT with the listening socket's current port.
    bool PrepareDataConnection(std::string& host, unsigned& port)
    {
        if (!GetParam().passive) {
            unsigned listening = listener.ListeningPort();
            return ctrl.SendCommand("port 127,0,0,1," + std::to_string(listening / 256) + "," +
                                        std::to_string(listening % 256), 1) == FTP_OK &&
                   ctrl.ReplyCode(0) == "200";
        }
        if (!data.CreateDataSocket() || ctrl.SendCommand("pasv", 1) != FTP_OK || ctrl.ReplyCode(0) != "227")
            return false;
        const std::string& reply = ctrl.ReplyText();
        std::size_t open = reply.find('(');
        unsigned fields[6] = {};
        if (open == std::string::npos ||
            std::sscanf(reply.c_str() + open + 1, "%u,%u,%u,%u,%u,%u", &fields[0], &fields[1], &fields[2],
                        &fields[3], &fields[4], &fields[5]) != 6)
            return false;
        host = std::to_string(fields[0]) + "." + std::to_string(fields[1]) + "." + std::to_string(fields[2]) +
               "." + std::to_string(fields[3]);
        port = fields[4] * 256 + fields[5];
        return true;
    }
    void ConnectPassive(const std::string& host, unsigned port)
    {
        if (GetParam().passive) {
            bool connected = data.Connect(host.c_str(), port);
            EXPECT_TRUE(connected || WSAGetLastError() == WSAEWOULDBLOCK);
        }
    }
    bool CompletedTransfer() const
    {
        return ctrl.ReplyCount() == 2 && ctrl.ReplyCode(0)[0] == '1' && ctrl.ReplyCode(1)[0] == '2';
    }

    void Upload(const std::string& localPath, const std::string& remoteName)
    {
        std::string host;
        unsigned port = 0;
        ASSERT_TRUE(PrepareDataConnection(host, port)) << session.LogDump();
        session.fileName = remoteName;
        ASSERT_TRUE(data.OpenFile(localPath, "rb"));
        data.BeginSend();
        ASSERT_EQ(ctrl.SendCommand("stor " + remoteName, 0), FTP_OK) << session.LogDump();
        ConnectPassive(host, port);
        ASSERT_EQ(session.WaitForEvent(&data.SendDoneEvent(), 10), FTP_OK) << session.LogDump();
        EXPECT_EQ(data.SendResult(), 0) << session.LogDump();
        ASSERT_EQ(ctrl.WaitForReply(), FTP_OK) << session.LogDump();
        EXPECT_TRUE(CompletedTransfer()) << session.LogDump();
    }
    // A listing or a download: the reply, then the end of the data.
    void Receive(const std::string& command, bool listing, const std::string& localPath = "")
    {
        std::string host;
        unsigned port = 0;
        ASSERT_TRUE(PrepareDataConnection(host, port)) << session.LogDump();
        if (!listing) {
            ASSERT_TRUE(data.OpenFile(localPath, "wb"));
        }
        session.listing.clear();
        data.BeginReceive(listing);
        ASSERT_EQ(ctrl.SendCommand(command, 0), FTP_OK) << session.LogDump();
        ConnectPassive(host, port);
        ASSERT_EQ(ctrl.WaitForReply(), FTP_OK) << session.LogDump();
        EXPECT_TRUE(CompletedTransfer()) << session.LogDump();
        ASSERT_EQ(session.WaitForTransfer(&data.ReceiveDoneEvent(), 0), FTP_OK) << session.LogDump();
        EXPECT_EQ(data.TransferError(), 0) << session.LogDump();
    }

    std::unique_ptr<tvtest::FtpTestServer> server;
    DataTestSession session;
    CCtrlSocket ctrl{session};
    CIncomingDataSocket data{session};
    CLstnDataSocket listener{session, data};
    std::string local;
};

TEST_P(DataSocketRealServer, UploadListAndDownloadBackByteForByte)
{
    std::string bytes = RandomBytes(5 * kDataBufferSize * 10 + 123);
    std::ofstream(local + "/up.bin", std::ios::binary) << bytes;
    std::ofstream(local + "/empty.bin", std::ios::binary).flush();

    Upload(local + "/up.bin", "incoming/up.bin");
    Upload(local + "/empty.bin", "incoming/empty.bin");
    EXPECT_TRUE(session.Logged("File incoming/empty.bin sent successfully.", LOG_STATE)) << session.LogDump();
    std::string stored;
    ASSERT_TRUE(server->readFile("incoming/up.bin", stored));
    EXPECT_TRUE(stored == bytes) << "stored " << stored.size() << " of " << bytes.size() << " bytes";

    Receive("list incoming", true);
    EXPECT_NE(session.listing.find("up.bin"), std::string::npos) << session.listing;
    EXPECT_NE(session.listing.find("empty.bin"), std::string::npos) << session.listing;

    session.bytes = 0;
    Receive("retr incoming/up.bin", false, local + "/down.bin");
    std::ifstream in(local + "/down.bin", std::ios::binary);
    std::string downloaded((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_TRUE(downloaded == bytes) << "downloaded " << downloaded.size() << " of " << bytes.size() << " bytes";
    EXPECT_EQ(session.bytes, bytes.size());

    Receive("retr incoming/empty.bin", false, local + "/down-empty.bin");
    EXPECT_EQ(std::filesystem::file_size(local + "/down-empty.bin"), 0u);
    EXPECT_EQ(data.GetSocketHandle(), INVALID_SOCKET);
}

std::string CaseName(const ::testing::TestParamInfo<ServerCase>& info)
{
    std::string name = info.param.name;
    for (char& ch : name) {
        if (ch == ' ')
            ch = '_';
    }
    return name;
}

INSTANTIATE_TEST_SUITE_P(Servers, DataSocketRealServer, ::testing::ValuesIn(kCases), CaseName);

}  // namespace
