// The scripted server plays its table, splits replies, drives data connections in both
// modes, records what the client sent and never hangs; checked with a bare socket client.

#include "tests/integration/servers/RawClient.h"
#include "tests/support/ScriptedServer.h"

#include <gtest/gtest.h>

#include <cstdio>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tvtest {
namespace {

constexpr int kWaitMs = 20000;

TEST(ScriptedServer, PlaysATwoStepScriptSplitAtEveryByteAndRecordsTheClient) {
    ScriptedServer server;
    server.addConnection({
        ScriptStep::send("220-Welcome\r\n220 Ready\r\n").splitEveryByte(),
        ScriptStep::on("USER .*", "331 Password please\r\n").splitEveryByte(),
    });
    ASSERT_TRUE(server.start()) << server.error();

    RawClient client;
    ASSERT_TRUE(client.connectTo(server.port()));
    EXPECT_EQ(client.readReply(), "220-Welcome\r\n220 Ready\r\n");
    EXPECT_EQ(client.command("USER alice"), "331 Password please\r\n");
    EXPECT_TRUE(server.waitUntilDone(kWaitMs)) << server.error();
    ASSERT_TRUE(client.sendLine("QUIT"));
    EXPECT_TRUE(server.waitForReceived(0, 18, kWaitMs));

    EXPECT_EQ(server.receivedText(0), "USER alice\r\nQUIT\r\n");
    EXPECT_EQ(server.commands(0), (std::vector<std::string>{"USER alice", "QUIT"}));
    EXPECT_EQ(server.error(), "");
}

TEST(ScriptedServer, ACommandOutsideTheScriptIsReportedAndEndsTheConnection) {
    ScriptedServer server;
    server.addConnection({ScriptStep::send("220 Hi\r\n"), ScriptStep::on("USER .*", "331 Go\r\n")});
    ASSERT_TRUE(server.start());

    RawClient client;
    ASSERT_TRUE(client.connectTo(server.port()));
    client.readReply();
    EXPECT_EQ(client.command("PASS secret"), "");  // closed instead of a reply
    EXPECT_FALSE(server.waitUntilDone(100));
    EXPECT_NE(server.error().find("received \"PASS secret\""), std::string::npos)
        << server.error();
}

TEST(ScriptedServer, ClosesTheConnectionMidReply) {
    ScriptedServer server;
    server.addConnection({ScriptStep::send("220 Wel").thenClose()});
    ASSERT_TRUE(server.start());

    RawClient client;
    ASSERT_TRUE(client.connectTo(server.port()));
    EXPECT_EQ(client.readReply(), "");
    EXPECT_TRUE(server.waitUntilDone(kWaitMs)) << server.error();
}

TEST(ScriptedServer, PassiveDataIsSentAndReceived) {
    ScriptedServer server;
    server.addConnection({
        ScriptStep::send("220 Hi\r\n"),
        ScriptStep::on("PASV", "227 Entering Passive Mode ({pasv})\r\n").listenPassive(),
        ScriptStep::on("LIST", "150 Here it comes\r\n")
            .sendData("-rw-r--r-- 1 a b 5 Jan 1 2020 x\r\n")
            .dataInChunks({7}, 1)
            .afterData("226 Done\r\n"),
        ScriptStep::on("PASV", "227 Entering Passive Mode ({pasv})\r\n").listenPassive(),
        ScriptStep::on("STOR up\\.bin", "150 Send it\r\n").receiveData().afterData("226 Got it\r\n"),
    });
    ASSERT_TRUE(server.start());

    RawClient client;
    ASSERT_TRUE(client.connectTo(server.port()));
    client.readReply();
    int data = client.openPassive();
    ASSERT_GE(data, 0) << server.error();
    EXPECT_EQ(client.command("LIST"), "150 Here it comes\r\n");
    EXPECT_EQ(RawClient::readAll(data), "-rw-r--r-- 1 a b 5 Jan 1 2020 x\r\n");
    ::close(data);
    EXPECT_EQ(client.readReply(), "226 Done\r\n");

    data = client.openPassive();
    ASSERT_GE(data, 0) << server.error();
    EXPECT_EQ(client.command("STOR up.bin"), "150 Send it\r\n");
    std::string upload("a\0b\r\nc", 6);
    ASSERT_EQ(::write(data, upload.data(), upload.size()), 6);
    ::close(data);
    EXPECT_EQ(client.readReply(), "226 Got it\r\n");
    EXPECT_TRUE(server.waitUntilDone(kWaitMs)) << server.error();
    EXPECT_EQ(server.dataReceived(0), upload);
}

TEST(ScriptedServer, ActiveDataGoesToThePortAddressAndMayEndEarly) {
    int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 1), 0);
    ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
    int port = ntohs(address.sin_port);

    ScriptedServer server;
    server.addConnection({
        ScriptStep::send("220 Hi\r\n"),
        ScriptStep::on("PORT 127,0,0,1,\\d+,\\d+", "200 OK\r\n"),
        ScriptStep::on("RETR big", "150 Sending\r\n").sendData("0123456789", 4)
            .afterData("426 Broken\r\n"),
    });
    ASSERT_TRUE(server.start());

    RawClient client;
    ASSERT_TRUE(client.connectTo(server.port()));
    client.readReply();
    EXPECT_EQ(client.command("PORT 127,0,0,1," + std::to_string(port / 256) + "," +
                             std::to_string(port % 256)),
              "200 OK\r\n");
    EXPECT_EQ(client.command("RETR big"), "150 Sending\r\n");
    int data = ::accept(listener, nullptr, nullptr);
    ASSERT_GE(data, 0);
    EXPECT_EQ(RawClient::readAll(data), "0123");
    ::close(data);
    ::close(listener);
    EXPECT_EQ(client.readReply(), "426 Broken\r\n");
    EXPECT_TRUE(server.waitUntilDone(kWaitMs)) << server.error();
}

TEST(ScriptedServer, SendsUnsolicitedLinesChunkedRepliesAndRefusesDataConnections) {
    Script script = loginPrelude();
    script.push_back(ScriptStep::send("200 Unasked\r\n").delayReply(20));
    script.push_back(ScriptStep::on("NOOP", "200-Line one\r\n200 Line two\r\n").splitInto({3, 5}));
    script.push_back(
        ScriptStep::on("PASV", "227 Entering Passive Mode ({pasv})\r\n").listenPassive());
    script.push_back(ScriptStep::on("RETR x", "425 No data connection\r\n").refuseData().dataFirst());
    ScriptedServer server;
    server.addConnection(script);
    ASSERT_TRUE(server.start());

    RawClient client;
    ASSERT_TRUE(client.connectTo(server.port()));
    EXPECT_EQ(client.readReply(), "220 Scripted server ready\r\n");
    EXPECT_EQ(client.command("USER a").substr(0, 3), "331");
    EXPECT_EQ(client.command("PASS b").substr(0, 3), "230");
    EXPECT_EQ(client.readReply(), "200 Unasked\r\n");
    EXPECT_EQ(client.command("NOOP"), "200-Line one\r\n200 Line two\r\n");
    std::string pasv = client.command("PASV");
    ASSERT_EQ(pasv.substr(0, 4), "227 ") << server.error();
    EXPECT_EQ(client.command("RETR x"), "425 No data connection\r\n");
    EXPECT_TRUE(server.waitUntilDone(kWaitMs)) << server.error();
    // The announced listener is gone: a data connection now fails.
    unsigned p1 = 0, p2 = 0;
    ASSERT_EQ(std::sscanf(pasv.c_str(), "227 Entering Passive Mode (127,0,0,1,%u,%u)", &p1, &p2), 2);
    RawClient data;
    EXPECT_FALSE(data.connectTo(static_cast<int>(p1 * 256 + p2)));
}

TEST(ScriptedServer, PlaysOneScriptPerConnectionInOrder) {
    ScriptedServer server;
    server.addConnection({ScriptStep::send("421 Busy\r\n").thenClose()});
    server.addConnection({ScriptStep::send("220 Now\r\n")});
    ASSERT_TRUE(server.start());

    for (const char* expected : {"421 Busy\r\n", "220 Now\r\n"}) {
        RawClient client;
        ASSERT_TRUE(client.connectTo(server.port()));
        EXPECT_EQ(client.readReply(), expected);
    }
    EXPECT_TRUE(server.waitUntilDone(kWaitMs)) << server.error();
    EXPECT_EQ(server.connectionCount(), 2);

    RawClient extra;  // beyond the scripts: noted, closed
    ASSERT_TRUE(extra.connectTo(server.port()));
    EXPECT_EQ(extra.readReply(), "");
    EXPECT_NE(server.error().find("not expected"), std::string::npos);
}

TEST(ScriptedServer, StopEndsAStalledConnectionAndAWaitForAClientThatNeverComes) {
    auto server = std::make_unique<ScriptedServer>();
    server->addConnection({ScriptStep::send("220 Hi\r\n"), ScriptStep::on("NOOP", "").thenStall()});
    server->addConnection({ScriptStep::send("220 Hi\r\n")});
    ASSERT_TRUE(server->start());

    RawClient client;
    ASSERT_TRUE(client.connectTo(server->port()));
    client.readReply();
    ASSERT_TRUE(client.sendLine("NOOP"));
    EXPECT_EQ(client.readReply(200), "");  // the stall: nothing comes
    server.reset();                          // must return although the client stays
    EXPECT_EQ(client.readReply(200), "");
}

}  // namespace
}  // namespace tvtest
