#pragma once
// A scripted FTP server on 127.0.0.1 for misbehaviour no real server produces: replies
// split at every byte, stalls, connections dropped mid-reply, unsolicited lines, data
// connections that close early or never open. It plays one script per control
// connection, in the order the client connects, and records every byte it receives.
//
//   using tvtest::ScriptStep;
//   tvtest::ScriptedServer server;
//   server.addConnection({
//       ScriptStep::send("220 Welcome\r\n").splitEveryByte(),
//       ScriptStep::on("USER .*", "331 Password\r\n"),
//       ScriptStep::on("PASS .*", "230 In\r\n"),
//       ScriptStep::on("PASV", "227 Entering Passive Mode ({pasv})\r\n").listenPassive(),
//       ScriptStep::on("LIST.*", "150 Here\r\n")
//           .sendData("-rw-r--r-- ...\r\n")
//           .afterData("226 Done\r\n"),
//   });
//   ASSERT_TRUE(server.start()) << server.error();
//   ... the client connects to server.host():server.port() ...
//   EXPECT_TRUE(server.waitUntilDone(2000)) << server.error();
//   EXPECT_EQ(server.receivedText(0), "USER a\r\nPASS b\r\nPASV\r\nLIST\r\n");
//
// An unsolicited line between replies is a step without a pattern placed after the reply
// it follows, e.g. ScriptStep::send("200 Surprise\r\n").delayReply(50).
// Active mode: a client's PORT command (whatever step receives it) sets the address that
// later data steps connect to; only 127.x.x.x addresses are ever connected.
// Commands of the newer protocol a script does not ask for (FEAT, EPSV, EPRT, OPTS, MLSD)
// are answered "502 Not implemented" by the server itself, as an old server would, while
// a step waits for its command and after the script has ended (not while stalled); they
// are left out of receivedText() and commands() and listed in unscriptedCommands(). A
// script that wants one of them simply names it in a step.
// Every wait is bounded; the destructor stops the server and closes every socket.

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tvtest {

// What happens on the data connection during one step.
enum class DataAction {
    None,         // no data connection in this step
    Send,         // open it (accept a passive connection / connect to the PORT address),
                  // send dataBytes, close it
    Receive,      // open it and read until the client closes it (an upload); the bytes are
                  // kept in dataReceived()
    Refuse,       // never open it: a passive listener is closed without accepting, an
                  // active PORT address is never connected
    OpenAndHold,  // open it and then neither send nor close (until the server stops)
};

struct ScriptStep {
    // Regular expression (ECMAScript, case-insensitive) the client's next command line
    // must match as a whole, without its CR LF. Empty: the step does not wait for a
    // command and plays at once (a welcome, or an unsolicited line between replies).
    std::string expect;
    // Bytes sent after the command arrived. "{pasv}" is replaced by the address of the
    // passive listener, "127,0,0,1,p1,p2"; "{epsv}" by its port alone.
    std::string reply;
    // Reply split into pieces: every byte on its own (chunkSizes {1}) or pieces of the
    // given sizes, the last size repeated for the rest; each piece is flushed on its own
    // with chunkDelayMs between them. Empty: the reply goes out in one write.
    std::vector<std::size_t> chunkSizes;
    int chunkDelayMs = 2;
    int delayBeforeReplyMs = 0;     // wait before the first byte of the reply
    bool closeAfterReply = false;   // close the control connection after this step
    bool abortiveClose = false;     // close with a reset (RST) instead of FIN
    bool forgetRestOfInput = false; // drop what followed the command in the same read
                                    // (a server that takes one command per read)
    bool stall = false;             // send nothing more: hold the connection open, read
                                    // and record what arrives, until the client closes
                                    // it or the server stops

    // Data connection.
    bool openPassiveListener = false;  // open a listener before the reply ("{pasv}")
    DataAction data = DataAction::None;
    std::string dataBytes;             // what Send sends
    long long dataCloseAfter = -1;     // Send: close after this many bytes (-1: all);
                                       // Receive: close after reading this many
    bool dataAbortiveClose = false;    // Send: end the data connection with a reset
    std::vector<std::size_t> dataChunkSizes;  // Send: pieces as for the reply (a slow feed)
    int dataChunkDelayMs = 2;
    bool dataBeforeReply = false;      // do the data action before sending reply
    std::string replyAfterData;        // sent after the data action finished ("226 ...")

    // Builders, so a script reads as a table.
    static ScriptStep on(std::string pattern, std::string reply);
    static ScriptStep send(std::string reply);
    ScriptStep& splitEveryByte();
    ScriptStep& splitInto(std::vector<std::size_t> sizes, int delayMs = 2);
    ScriptStep& delayReply(int ms);
    ScriptStep& thenClose(bool abortive = false);
    ScriptStep& thenStall();
    ScriptStep& forgetFollowingInput();
    ScriptStep& listenPassive();
    ScriptStep& sendData(std::string bytes, long long closeAfter = -1, bool abortive = false);
    ScriptStep& dataInChunks(std::vector<std::size_t> sizes, int delayMs);
    ScriptStep& receiveData(long long closeAfter = -1);
    ScriptStep& refuseData();
    ScriptStep& holdData();
    ScriptStep& dataFirst();
    ScriptStep& afterData(std::string reply);  // sets replyAfterData
};

using Script = std::vector<ScriptStep>;

// The usual start of a session: "220" welcome, USER answered "331", PASS answered "230".
// Append the steps of the test after it.
Script loginPrelude();

class ScriptedServer {
public:
    ScriptedServer();
    ~ScriptedServer();
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    // The script for the next control connection (may be called while running, before
    // the client makes that connection). A connection beyond the last script is closed
    // at once and noted in error().
    void addConnection(Script script);

    // How long a step waits for the client's command before the script fails
    // (default 5000 ms).
    void setCommandTimeoutMs(int ms) { commandTimeoutMs_ = ms; }

    // Listens on 127.0.0.1 at a free port. False with error() set when it cannot.
    bool start();
    // Stops playing, closes every socket and joins the thread. Called by the destructor.
    void stop();

    std::string host() const { return "127.0.0.1"; }
    int port() const { return port_; }

    // True when every script has been played to its end (a stalled step counts as
    // played once its connection is closed); waits at most timeoutMs.
    bool waitUntilDone(int timeoutMs);
    // True when the client has made at least count control connections; bounded wait.
    bool waitForConnections(int count, int timeoutMs);
    // True when connection `index` has received at least `bytes` bytes; bounded wait.
    bool waitForReceived(int index, std::size_t bytes, int timeoutMs);

    // Everything the client sent on control connection `index` (0-based), byte for byte.
    std::string receivedText(int index) const;
    // The command lines of that connection, without CR LF.
    std::vector<std::string> commands(int index) const;
    // The commands of that connection the server refused by itself (see above).
    std::vector<std::string> unscriptedCommands(int index) const;
    // Bytes received on data connections (Receive steps) of that connection, in order.
    std::string dataReceived(int index) const;
    int connectionCount() const;
    // Script mismatches and socket problems seen so far; empty when all went as planned.
    std::string error() const;

private:
    struct Connection;
    void acceptLoop();
    void playConnection(int index, int fd);
    bool playStep(Connection& connection, const ScriptStep& step, std::size_t stepNumber);
    bool readCommandLine(Connection& connection, std::string& line);
    bool sendReply(Connection& connection, const std::string& text, const ScriptStep& step);
    bool runDataAction(Connection& connection, const ScriptStep& step);
    int openDataConnection(Connection& connection);
    void holdUntilClosed(Connection& connection, bool answerUnscripted = false);
    // Answers the line when it is an unscripted newer command; true when it was one.
    bool refuseUnscripted(Connection& connection, const std::string& line);
    bool sendAll(int fd, const char* bytes, std::size_t length);
    bool sendPieces(int fd, const std::string& bytes, const std::vector<std::size_t>& sizes,
                    int delayMs);
    bool pause(int ms);                          // false when stopping
    bool waitFor(int fd, short events, int timeoutMs);  // false on time-out or stop
    void noteError(const std::string& text);
    void recordReceived(int index, const char* bytes, std::size_t length, bool data);
    bool stopping() const { return stop_.load(); }

    std::deque<Script> scripts_;  // a deque: playing threads keep references into it
    int listenFd_ = -1;
    int wakePipe_[2] = {-1, -1};
    int port_ = 0;
    int commandTimeoutMs_ = 5000;
    std::thread acceptThread_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> started_{false};

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::thread> connectionThreads_;
    std::vector<std::string> received_;      // per connection
    std::vector<std::vector<std::string>> unscripted_;  // per connection
    std::vector<std::string> dataReceived_;  // per connection
    int connections_ = 0;
    int finishedScripts_ = 0;
    std::string error_;
};

}  // namespace tvtest
