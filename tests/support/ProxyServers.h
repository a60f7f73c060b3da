#pragma once
// Proxy servers for the proxy layer's tests, all on 127.0.0.1 at a free port:
//  - ScriptedProxy: an in-process proxy that plays a fixed script of reads and replies
//    (replies at once or one byte at a time, a pause the test lifts, a close) and
//    records every byte the client sent; for the answers no real proxy gives.
//  - GreetingEchoServer: the target behind a proxy; greets each connection with
//    "220 hello\r\n" and echoes what it receives.
//  - DanteProxy, MicrosocksProxy, Tinyproxy: Debian's danted (SOCKS4, SOCKS5),
//    microsocks (SOCKS5 with user name and password) and tinyproxy (HTTP CONNECT with
//    Basic authentication), started with their own temporary configuration and stopped
//    when the object goes away.
//
//   tvtest::GreetingEchoServer target;
//   ASSERT_TRUE(target.start()) << target.error();
//   tvtest::MicrosocksProxy proxy("alice", "s3cret");
//   if (!proxy.installed()) GTEST_SKIP() << proxy.missingMessage();
//   ASSERT_TRUE(proxy.start()) << proxy.error();
//   ... connect through 127.0.0.1:proxy.port() to 127.0.0.1:target.port() ...
//
//   tvtest::ScriptedProxy proxy({ScriptedProxy::read(9),
//                                ScriptedProxy::send(std::string("\0\x5a\0\0\0\0\0\0", 8)),
//                                ScriptedProxy::echo()});
//   ASSERT_TRUE(proxy.start()) << proxy.error();
//   ... EXPECT_EQ(proxy.received(), expectedRequest);
//
// Every wait is bounded; destructors stop the servers and close every socket.

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <sys/types.h>

namespace tvtest {

class ScriptedProxy {
public:
    struct Step {
        enum Kind { Read, Send, Pause, Close, Echo } kind = Read;
        std::size_t count = 0;       // Read: exactly this many bytes
        std::string bytes;           // Send
        bool oneByteAtATime = false; // Send: each byte flushed on its own
    };
    static Step read(std::size_t count);
    static Step send(std::string bytes, bool oneByteAtATime = false);
    // Waits until the test calls resume().
    static Step pause();
    static Step close();
    // Echoes whatever arrives until the client closes (must be the last step).
    static Step echo();

    explicit ScriptedProxy(std::vector<Step> script);
    ~ScriptedProxy();
    ScriptedProxy(const ScriptedProxy&) = delete;
    ScriptedProxy& operator=(const ScriptedProxy&) = delete;

    // Listens on a free port and plays the script for the first connection. After the
    // last step the connection stays open until the client closes it.
    bool start();
    int port() const { return port_; }
    std::string host() const { return "127.0.0.1"; }

    void resume();
    // Every byte the client sent so far.
    std::string received() const;
    std::size_t receivedSize() const;
    bool accepted() const { return accepted_; }
    // True once the script has run to its end (or failed).
    bool finished() const { return finished_; }
    std::string error() const;

private:
    void run();
    bool playStep(int fd, const Step& step);
    bool readExactly(int fd, std::size_t count);
    void fail(const std::string& why);

    std::vector<Step> script_;
    int listener_ = -1;
    int port_ = 0;
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> accepted_{false};
    std::atomic<bool> finished_{false};
    mutable std::mutex mutex_;
    std::condition_variable resumed_;
    bool resumeSignalled_ = false;
    std::string received_;
    std::string error_;
};

class GreetingEchoServer {
public:
    GreetingEchoServer() = default;
    ~GreetingEchoServer();
    GreetingEchoServer(const GreetingEchoServer&) = delete;
    GreetingEchoServer& operator=(const GreetingEchoServer&) = delete;

    bool start();
    int port() const { return port_; }
    std::string error() const { return error_; }
    int connectionsServed() const { return connections_; }

private:
    void run();

    int listener_ = -1;
    int port_ = 0;
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    std::atomic<int> connections_{0};
    std::string error_;
};

// A proxy daemon from a Debian package, run in the foreground by the test.
class ProxyDaemon {
public:
    virtual ~ProxyDaemon();
    ProxyDaemon(const ProxyDaemon&) = delete;
    ProxyDaemon& operator=(const ProxyDaemon&) = delete;

    bool installed() const;
    std::string missingMessage() const;
    // Writes the configuration, launches the daemon and waits (bounded) until it accepts
    // connections; retries on a port clash. False with error() set (and its output).
    bool start();
    void stop();
    int port() const { return port_; }
    const std::string& error() const { return error_; }

protected:
    ProxyDaemon(std::string binary, std::string package);
    virtual bool writeConfiguration(int port) = 0;
    virtual std::vector<std::string> commandLine(int port) const = 0;
    bool writeFile(const std::string& name, const std::string& content);
    std::string workFile(const std::string& name) const { return workPath_ + "/" + name; }

    std::string binary_;
    std::string package_;
    std::string workPath_;
    std::string error_;

private:
    bool launchOnce(int port, bool& portClash);

    int port_ = 0;
    pid_t pid_ = -1;
};

// danted with one internal address (127.0.0.1) and "lo" as the external interface; no
// authentication; SOCKS4 and SOCKS5 CONNECT and BIND, for loopback peers only.
class DanteProxy : public ProxyDaemon {
public:
    DanteProxy();

private:
    bool writeConfiguration(int port) override;
    std::vector<std::string> commandLine(int port) const override;
};

// microsocks demanding user name and password.
class MicrosocksProxy : public ProxyDaemon {
public:
    MicrosocksProxy(std::string user, std::string password);

private:
    bool writeConfiguration(int) override { return true; }
    std::vector<std::string> commandLine(int port) const override;

    std::string user_;
    std::string password_;
};

// tinyproxy with Basic authentication, allowed to CONNECT to the one target port (0: to
// any port, as the data connections of FTP need).
class Tinyproxy : public ProxyDaemon {
public:
    Tinyproxy(std::string user, std::string password, int connectPort);

private:
    bool writeConfiguration(int port) override;
    std::vector<std::string> commandLine(int port) const override;

    std::string user_;
    std::string password_;
    int connectPort_;
};

}  // namespace tvtest
