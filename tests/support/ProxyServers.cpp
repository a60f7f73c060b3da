#include "tests/support/ProxyServers.h"

#include "tests/support/ServerProcess.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace tvtest {

namespace {

constexpr int kStepTimeoutMs = 2000;   // longest wait for one step of a script
constexpr int kPollSliceMs = 20;       // how often a server thread looks at its stop flag
constexpr int kStartAttempts = 4;
constexpr int kReadyWaitMs = 30000;  // a proxy starts slowly on a loaded machine
constexpr int kStopWaitMs = 2000;

using Clock = std::chrono::steady_clock;

// A listening socket on 127.0.0.1 at a port the system picks; -1 on failure.
int listenOnLoopback(int& port, std::string& why)
{
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        why = std::string("socket: ") + std::strerror(errno);
        return -1;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 8) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        why = std::string("bind/listen: ") + std::strerror(errno);
        ::close(fd);
        return -1;
    }
    port = ntohs(address.sin_port);
    return fd;
}


// Waits until fd is readable (or the stop flag is raised, or the deadline passes).
bool waitReadable(int fd, const std::atomic<bool>& stopping, Clock::time_point deadline)
{
    while (!stopping && Clock::now() < deadline) {
        pollfd waiting{fd, POLLIN, 0};
        int ready = ::poll(&waiting, 1, kPollSliceMs);
        if (ready > 0)
            return true;
        if (ready < 0 && errno != EINTR)
            return false;
    }
    return false;
}

bool sendAll(int fd, const char* bytes, std::size_t length)
{
    while (length > 0) {
        ssize_t sent = ::send(fd, bytes, length, MSG_NOSIGNAL);
        if (sent <= 0)
            return false;
        bytes += sent;
        length -= static_cast<std::size_t>(sent);
    }
    return true;
}

// Reads (and records, and with `echo` sends back) what arrives until the peer closes or
// the server stops.
void serveUntilClosed(int fd, const std::atomic<bool>& stopping, bool echo, std::string* record,
                      std::mutex* recordMutex)
{
    for (;;) {
        pollfd waiting{fd, POLLIN, 0};
        int ready = ::poll(&waiting, 1, kPollSliceMs);
        if (stopping)
            return;
        if (ready == 0 || (ready < 0 && errno == EINTR))
            continue;
        char buffer[4096];
        ssize_t got = ready > 0 ? ::recv(fd, buffer, sizeof buffer, 0) : -1;
        if (got <= 0)
            return;
        if (record) {
            std::lock_guard lock(*recordMutex);
            record->append(buffer, static_cast<std::size_t>(got));
        }
        if (echo && !sendAll(fd, buffer, static_cast<std::size_t>(got)))
            return;
    }
}

int acceptOne(int listener, const std::atomic<bool>& stopping, Clock::time_point deadline)
{
    if (!waitReadable(listener, stopping, deadline))
        return -1;
    int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) {
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    }
    return fd;
}

std::string readWholeFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool acceptsConnections(int port)
{
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// ScriptedProxy

ScriptedProxy::Step ScriptedProxy::read(std::size_t count)
{
    Step step;
    step.kind = Step::Read;
    step.count = count;
    return step;
}

ScriptedProxy::Step ScriptedProxy::send(std::string bytes, bool oneByteAtATime)
{
    Step step;
    step.kind = Step::Send;
    step.bytes = std::move(bytes);
    step.oneByteAtATime = oneByteAtATime;
    return step;
}

ScriptedProxy::Step ScriptedProxy::pause()
{
    Step step;
    step.kind = Step::Pause;
    return step;
}

ScriptedProxy::Step ScriptedProxy::close()
{
    Step step;
    step.kind = Step::Close;
    return step;
}

ScriptedProxy::Step ScriptedProxy::echo()
{
    Step step;
    step.kind = Step::Echo;
    return step;
}

ScriptedProxy::ScriptedProxy(std::vector<Step> script) : script_(std::move(script)) {}

ScriptedProxy::~ScriptedProxy()
{
    stopping_ = true;
    resume();
    if (thread_.joinable())
        thread_.join();
    if (listener_ >= 0)
        ::close(listener_);
}

bool ScriptedProxy::start()
{
    std::string why;
    listener_ = listenOnLoopback(port_, why);
    if (listener_ < 0) {
        fail(why);
        return false;
    }
    thread_ = std::thread([this] { run(); });
    return true;
}

void ScriptedProxy::resume()
{
    std::lock_guard lock(mutex_);
    resumeSignalled_ = true;
    resumed_.notify_all();
}

std::string ScriptedProxy::received() const
{
    std::lock_guard lock(mutex_);
    return received_;
}

std::size_t ScriptedProxy::receivedSize() const
{
    std::lock_guard lock(mutex_);
    return received_.size();
}

std::string ScriptedProxy::error() const
{
    std::lock_guard lock(mutex_);
    return error_;
}

void ScriptedProxy::fail(const std::string& why)
{
    std::lock_guard lock(mutex_);
    if (error_.empty())
        error_ = why;
}

void ScriptedProxy::run()
{
    int fd = acceptOne(listener_, stopping_, Clock::now() + std::chrono::milliseconds(kStepTimeoutMs));
    if (fd < 0) {
        if (!stopping_)
            fail("no client connected");
        finished_ = true;
        return;
    }
    accepted_ = true;
    bool open = true;
    for (const Step& step : script_) {
        if (stopping_ || !playStep(fd, step)) {
            open = false;
            break;
        }
        if (step.kind == Step::Close) {
            fd = -1;
            open = false;
            break;
        }
    }
    finished_ = true;
    if (open) {
        // Hold the connection until the client closes it, recording what it sends.
        serveUntilClosed(fd, stopping_, false, &received_, &mutex_);
    }
    if (fd >= 0)
        ::close(fd);
}

bool ScriptedProxy::playStep(int fd, const Step& step)
{
    switch (step.kind) {
    case Step::Read:
        return readExactly(fd, step.count);
    case Step::Send:
        if (!step.oneByteAtATime)
            return sendAll(fd, step.bytes.data(), step.bytes.size()) || (fail("send failed"), false);
        for (char byte : step.bytes) {
            if (!sendAll(fd, &byte, 1)) {
                fail("send failed");
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));  // one segment each
        }
        return true;
    case Step::Pause: {
        std::unique_lock lock(mutex_);
        bool lifted = resumed_.wait_for(lock, std::chrono::milliseconds(kStepTimeoutMs),
                                        [this] { return resumeSignalled_ || stopping_; });
        resumeSignalled_ = false;
        if (!lifted)
            error_ = "the test never resumed the script";
        return lifted;
    }
    case Step::Close:
        ::close(fd);
        return true;
    case Step::Echo:
        serveUntilClosed(fd, stopping_, true, &received_, &mutex_);
        return true;
    }
    return false;
}

bool ScriptedProxy::readExactly(int fd, std::size_t count)
{
    auto deadline = Clock::now() + std::chrono::milliseconds(kStepTimeoutMs);
    std::size_t got = 0;
    while (got < count) {
        if (!waitReadable(fd, stopping_, deadline)) {
            fail("timed out waiting for " + std::to_string(count) + " bytes, got " + std::to_string(got));
            return false;
        }
        char buffer[512];
        ssize_t n = ::recv(fd, buffer, std::min(sizeof buffer, count - got), 0);
        if (n <= 0) {
            fail("the client closed after " + std::to_string(got) + " of " + std::to_string(count) + " bytes");
            return false;
        }
        got += static_cast<std::size_t>(n);
        std::lock_guard lock(mutex_);
        received_.append(buffer, static_cast<std::size_t>(n));
    }
    return true;
}

// ---------------------------------------------------------------------------------------
// GreetingEchoServer

GreetingEchoServer::~GreetingEchoServer()
{
    stopping_ = true;
    if (thread_.joinable())
        thread_.join();
    if (listener_ >= 0)
        ::close(listener_);
}

bool GreetingEchoServer::start()
{
    listener_ = listenOnLoopback(port_, error_);
    if (listener_ < 0)
        return false;
    thread_ = std::thread([this] { run(); });
    return true;
}

void GreetingEchoServer::run()
{
    // One connection at a time is all a test needs.
    while (!stopping_) {
        int fd = acceptOne(listener_, stopping_, Clock::now() + std::chrono::hours(1));
        if (fd < 0)
            continue;
        ++connections_;
        static const char greeting[] = "220 hello\r\n";
        if (sendAll(fd, greeting, sizeof greeting - 1))
            serveUntilClosed(fd, stopping_, true, nullptr, nullptr);
        ::close(fd);
    }
}

// ---------------------------------------------------------------------------------------
// ProxyDaemon

ProxyDaemon::ProxyDaemon(std::string binary, std::string package)
    : binary_(std::move(binary)), package_(std::move(package))
{
}

ProxyDaemon::~ProxyDaemon()
{
    stop();
}

bool ProxyDaemon::installed() const
{
    return ::access(binary_.c_str(), X_OK) == 0;
}

std::string ProxyDaemon::missingMessage() const
{
    return binary_ + " is not installed (Debian package " + package_ + "); skipping";
}

bool ProxyDaemon::writeFile(const std::string& name, const std::string& content)
{
    std::ofstream out(workFile(name), std::ios::binary | std::ios::trunc);
    out << content;
    if (!out.good()) {
        error_ = "cannot write " + workFile(name);
        return false;
    }
    return true;
}

bool ProxyDaemon::start()
{
    if (pid_ > 0)
        return true;
    error_.clear();
    workPath_ = makeWorkFolder("tollvane-proxy", error_);
    if (workPath_.empty())
        return false;

    port_ = launchOnFreePort(kStartAttempts, [this](int port, bool& portClash) {
        return launchOnce(port, portClash);
    }, error_);
    if (port_ != 0)
        return true;
    std::string keptError = error_;
    stop();
    error_ = keptError;
    return false;
}

bool ProxyDaemon::launchOnce(int port, bool& portClash)
{
    portClash = false;
    if (!writeConfiguration(port))
        return false;
    const std::string outputPath = workFile("output.txt");
    std::string why;
    pid_ = spawnProcess(commandLine(port), {}, outputPath, why);
    if (pid_ <= 0) {
        pid_ = -1;
        error_ = "cannot start " + binary_ + ": " + why;
        return false;
    }
    auto deadline = Clock::now() + std::chrono::milliseconds(kReadyWaitMs);
    while (Clock::now() < deadline) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            std::string output = readWholeFile(outputPath);
            portClash = processReportsPortTaken(status, output);
            error_ = binary_ + " exited (" + describeExit(status) + ") before accepting connections on port " +
                     std::to_string(port) + ".\nOutput:\n" + output;
            return false;
        }
        if (acceptsConnections(port))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    error_ = binary_ + " did not accept connections on port " + std::to_string(port) + " within " +
             std::to_string(kReadyWaitMs) + " ms.\nOutput:\n" + readWholeFile(outputPath);
    stopProcessGroup(pid_, kStopWaitMs);
    pid_ = -1;
    return false;
}

void ProxyDaemon::stop()
{
    if (pid_ > 0) {
        stopProcessGroup(pid_, kStopWaitMs);
        pid_ = -1;
    }
    if (!workPath_.empty()) {
        std::error_code ignored;
        fs::remove_all(workPath_, ignored);
        workPath_.clear();
    }
    port_ = 0;
}

// ---------------------------------------------------------------------------------------
// The daemons

DanteProxy::DanteProxy() : ProxyDaemon("/usr/sbin/danted", "dante-server") {}

bool DanteProxy::writeConfiguration(int port)
{
    // Runs as the launching user; loopback in, loopback out, nothing else.
    return writeFile("danted.conf", "logoutput: " + workFile("danted.log") +
                                        "\n"
                                        "internal: 127.0.0.1 port = " +
                                        std::to_string(port) +
                                        "\n"
                                        "external: lo\n"
                                        "clientmethod: none\n"
                                        "socksmethod: none\n"
                                        "client pass {\n"
                                        "  from: 127.0.0.0/8 to: 0.0.0.0/0\n"
                                        "}\n"
                                        "socks pass {\n"
                                        "  from: 127.0.0.0/8 to: 127.0.0.0/8\n"
                                        "  command: connect bind bindreply\n"
                                        "}\n");
}

std::vector<std::string> DanteProxy::commandLine(int) const
{
    return {binary_, "-f", workFile("danted.conf"), "-p", workFile("danted.pid"), "-N", "1"};
}

MicrosocksProxy::MicrosocksProxy(std::string user, std::string password)
    : ProxyDaemon("/usr/bin/microsocks", "microsocks"), user_(std::move(user)), password_(std::move(password))
{
}

std::vector<std::string> MicrosocksProxy::commandLine(int port) const
{
    return {binary_, "-i", "127.0.0.1", "-p", std::to_string(port), "-u", user_, "-P", password_};
}

Tinyproxy::Tinyproxy(std::string user, std::string password, int connectPort)
    : ProxyDaemon("/usr/bin/tinyproxy", "tinyproxy"), user_(std::move(user)), password_(std::move(password)),
      connectPort_(connectPort)
{
}

bool Tinyproxy::writeConfiguration(int port)
{
    return writeFile("tinyproxy.conf", "Port " + std::to_string(port) +
                                           "\n"
                                           "Listen 127.0.0.1\n"
                                           "Timeout 10\n"
                                           "MaxClients 8\n"
                                           "Allow 127.0.0.1\n"
                                           "BasicAuth " +
                                           user_ + " " + password_ +
                                           "\n" +
                                           (connectPort_ > 0 ? "ConnectPort " + std::to_string(connectPort_) + "\n"
                                                             : std::string()) +
                                           "LogLevel Info\n");
}

std::vector<std::string> Tinyproxy::commandLine(int) const
{
    return {binary_, "-d", "-c", workFile("tinyproxy.conf")};
}

}  // namespace tvtest
