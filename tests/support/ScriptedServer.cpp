#include "tests/support/ScriptedServer.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <regex>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tvtest {

namespace {

constexpr std::size_t kMaxCommandLine = 64 * 1024;  // a client that never ends a line

using Clock = std::chrono::steady_clock;

int remainingMs(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return static_cast<int>(std::max<long long>(0, left.count()));
}

int listenOnLoopback(int& port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, 8) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(fd);
        return -1;
    }
    port = ntohs(address.sin_port);
    return fd;
}

void setNoDelay(int fd) {
    int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

// Closes fd; with `abortive` the peer sees a reset instead of an orderly end.
void closeSocket(int fd, bool abortive) {
    if (fd < 0)
        return;
    if (abortive) {
        linger hard{1, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    }
    ::close(fd);
}

std::string replaceAll(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// ScriptStep builders

ScriptStep ScriptStep::on(std::string pattern, std::string reply) {
    ScriptStep step;
    step.expect = std::move(pattern);
    step.reply = std::move(reply);
    return step;
}

ScriptStep ScriptStep::send(std::string reply) { return on({}, std::move(reply)); }

ScriptStep& ScriptStep::splitEveryByte() { return splitInto({1}); }

ScriptStep& ScriptStep::splitInto(std::vector<std::size_t> sizes, int delayMs) {
    chunkSizes = std::move(sizes);
    chunkDelayMs = delayMs;
    return *this;
}

ScriptStep& ScriptStep::delayReply(int ms) {
    delayBeforeReplyMs = ms;
    return *this;
}

ScriptStep& ScriptStep::thenClose(bool abortive) {
    closeAfterReply = true;
    abortiveClose = abortive;
    return *this;
}

ScriptStep& ScriptStep::forgetFollowingInput() {
    forgetRestOfInput = true;
    return *this;
}

ScriptStep& ScriptStep::thenStall() {
    stall = true;
    return *this;
}

ScriptStep& ScriptStep::listenPassive() {
    openPassiveListener = true;
    return *this;
}

ScriptStep& ScriptStep::sendData(std::string bytes, long long closeAfter, bool abortive) {
    data = DataAction::Send;
    dataBytes = std::move(bytes);
    dataCloseAfter = closeAfter;
    dataAbortiveClose = abortive;
    return *this;
}

ScriptStep& ScriptStep::dataInChunks(std::vector<std::size_t> sizes, int delayMs) {
    dataChunkSizes = std::move(sizes);
    dataChunkDelayMs = delayMs;
    return *this;
}

ScriptStep& ScriptStep::receiveData(long long closeAfter) {
    data = DataAction::Receive;
    dataCloseAfter = closeAfter;
    return *this;
}

ScriptStep& ScriptStep::refuseData() {
    data = DataAction::Refuse;
    return *this;
}

ScriptStep& ScriptStep::holdData() {
    data = DataAction::OpenAndHold;
    return *this;
}

ScriptStep& ScriptStep::dataFirst() {
    dataBeforeReply = true;
    return *this;
}

ScriptStep& ScriptStep::afterData(std::string reply) {
    replyAfterData = std::move(reply);
    return *this;
}

Script loginPrelude() {
    return {
        ScriptStep::send("220 Scripted server ready\r\n"),
        ScriptStep::on("USER .*", "331 Password required\r\n"),
        ScriptStep::on("PASS .*", "230 Logged in\r\n"),
    };
}

// ---------------------------------------------------------------------------------------
// ScriptedServer

struct ScriptedServer::Connection {
    int index = 0;
    int fd = -1;
    std::string pending;        // received bytes not yet taken as a command line
    int passiveFd = -1;         // listener announced by the last "{pasv}"
    int passivePort = 0;
    std::string activeHost;     // from the client's last PORT command
    int activePort = 0;
    std::vector<int> heldData;  // data connections kept open until the end

    ~Connection() {
        closeSocket(passiveFd, false);
        for (int held : heldData)
            closeSocket(held, false);
    }
};

ScriptedServer::ScriptedServer() = default;

ScriptedServer::~ScriptedServer() { stop(); }

void ScriptedServer::addConnection(Script script) {
    std::lock_guard<std::mutex> lock(mutex_);
    scripts_.push_back(std::move(script));
}

bool ScriptedServer::start() {
    if (started_)
        return true;
    if (::pipe2(wakePipe_, O_CLOEXEC) != 0) {
        noteError(std::string("pipe: ") + std::strerror(errno));
        return false;
    }
    listenFd_ = listenOnLoopback(port_);
    if (listenFd_ < 0) {
        noteError(std::string("cannot listen on 127.0.0.1: ") + std::strerror(errno));
        return false;
    }
    started_ = true;
    acceptThread_ = std::thread([this] { acceptLoop(); });
    return true;
}

void ScriptedServer::stop() {
    if (!stop_.exchange(true) && wakePipe_[1] >= 0) {
        // The pipe stays readable from now on, so every wait of every thread ends.
        static const char wake = 'x';
        (void)!::write(wakePipe_[1], &wake, 1);
    }
    if (acceptThread_.joinable())
        acceptThread_.join();
    std::vector<std::thread> threads;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        threads.swap(connectionThreads_);
    }
    for (auto& thread : threads)
        thread.join();
    closeSocket(listenFd_, false);
    listenFd_ = -1;
    for (int& fd : wakePipe_) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
    changed_.notify_all();
}

bool ScriptedServer::waitFor(int fd, short events, int timeoutMs) {
    pollfd waits[2] = {{fd, events, 0}, {wakePipe_[0], POLLIN, 0}};
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (stopping())
            return false;
        int result = ::poll(waits, 2, remainingMs(deadline));
        if (result < 0 && errno == EINTR)
            continue;
        if (result <= 0 || waits[1].revents != 0)
            return false;
        return waits[0].revents != 0;
    }
}

bool ScriptedServer::pause(int ms) {
    if (ms <= 0)
        return !stopping();
    pollfd wake{wakePipe_[0], POLLIN, 0};
    ::poll(&wake, 1, ms);
    return !stopping();
}

void ScriptedServer::acceptLoop() {
    while (!stopping()) {
        pollfd waits[2] = {{listenFd_, POLLIN, 0}, {wakePipe_[0], POLLIN, 0}};
        int result = ::poll(waits, 2, -1);  // the wake pipe ends it
        if (result < 0 && errno == EINTR)
            continue;
        if (result <= 0 || waits[1].revents != 0 || stopping())
            break;
        int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        setNoDelay(fd);
        std::lock_guard<std::mutex> lock(mutex_);
        int index = connections_++;
        received_.emplace_back();
        unscripted_.emplace_back();
        dataReceived_.emplace_back();
        connectionThreads_.emplace_back([this, index, fd] { playConnection(index, fd); });
        changed_.notify_all();
    }
}

void ScriptedServer::playConnection(int index, int fd) {
    Connection connection;
    connection.index = index;
    connection.fd = fd;
    const Script* script = nullptr;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (index < static_cast<int>(scripts_.size()))
            script = &scripts_[static_cast<std::size_t>(index)];
    }
    if (script == nullptr) {
        noteError("connection " + std::to_string(index) + " was not expected");
        closeSocket(fd, false);
        return;
    }
    bool closed = false;
    bool completed = true;
    for (std::size_t number = 0; number < script->size(); ++number) {
        const ScriptStep& step = (*script)[number];
        if (!playStep(connection, step, number)) {
            // Off script (or stopping): the client sees the connection end.
            closeSocket(fd, false);
            closed = true;
            completed = false;
            break;
        }
        if (step.closeAfterReply) {
            closeSocket(fd, step.abortiveClose);
            closed = true;
            completed = number + 1 == script->size();
            break;
        }
        if (step.stall) {
            holdUntilClosed(connection);
            completed = number + 1 == script->size();
            break;
        }
    }
    if (completed) {
        std::lock_guard<std::mutex> lock(mutex_);
        ++finishedScripts_;
        changed_.notify_all();
    }
    // Keep listening (and recording) until the client leaves or the server stops, so a
    // final QUIT is recorded and the client is not cut off early.
    if (!closed) {
        holdUntilClosed(connection, /*answerUnscripted=*/true);
        closeSocket(fd, false);
    }
}

bool ScriptedServer::playStep(Connection& connection, const ScriptStep& step,
                              std::size_t stepNumber) {
    const std::string where =
        "connection " + std::to_string(connection.index) + ", step " + std::to_string(stepNumber);
    if (!step.expect.empty()) {
        std::string line;
        bool matches = false;
        for (;;) {
            if (!readCommandLine(connection, line)) {
                if (!stopping())
                    noteError(where + ": no command matching /" + step.expect + "/ arrived");
                return false;
            }
            try {
                matches = std::regex_match(
                    line, std::regex(step.expect, std::regex::ECMAScript | std::regex::icase));
            } catch (const std::regex_error&) {
                noteError(where + ": bad pattern /" + step.expect + "/");
                return false;
            }
            if (matches || !refuseUnscripted(connection, line))
                break;
        }
        if (!matches) {
            noteError(where + ": expected /" + step.expect + "/, received \"" + line + "\"");
            return false;
        }
    }

    if (step.forgetRestOfInput)
        connection.pending.clear();
    if (step.openPassiveListener) {
        closeSocket(connection.passiveFd, false);
        connection.passiveFd = listenOnLoopback(connection.passivePort);
        if (connection.passiveFd < 0) {
            noteError(where + ": cannot open the passive listener");
            return false;
        }
    }
    if (!pause(step.delayBeforeReplyMs))
        return false;

    if (step.dataBeforeReply && !runDataAction(connection, step))
        return false;
    if (!step.reply.empty() && !sendReply(connection, step.reply, step))
        return false;
    if (!step.dataBeforeReply && !runDataAction(connection, step))
        return false;
    if (!step.replyAfterData.empty() && !sendReply(connection, step.replyAfterData, step))
        return false;
    return true;
}

bool ScriptedServer::readCommandLine(Connection& connection, std::string& line) {
    auto deadline = Clock::now() + std::chrono::milliseconds(commandTimeoutMs_);
    for (;;) {
        std::size_t end = connection.pending.find('\n');
        if (end != std::string::npos) {
            line = connection.pending.substr(0, end);
            connection.pending.erase(0, end + 1);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            // Remember where an active-mode data connection goes.
            unsigned h1, h2, h3, h4, p1, p2;
            char verb[5] = {};
            if (std::sscanf(line.c_str(), "%4s %u,%u,%u,%u,%u,%u", verb, &h1, &h2, &h3, &h4,
                            &p1, &p2) == 7 &&
                ::strcasecmp(verb, "PORT") == 0 && h1 <= 255 && h2 <= 255 && h3 <= 255 &&
                h4 <= 255 && p1 <= 255 && p2 <= 255) {
                connection.activeHost = std::to_string(h1) + "." + std::to_string(h2) + "." +
                                        std::to_string(h3) + "." + std::to_string(h4);
                connection.activePort = static_cast<int>(p1 * 256 + p2);
            }
            return true;
        }
        if (connection.pending.size() > kMaxCommandLine)
            return false;
        if (!waitFor(connection.fd, POLLIN, remainingMs(deadline)))
            return false;
        char buffer[1024];
        ssize_t got = ::recv(connection.fd, buffer, sizeof buffer, 0);
        if (got <= 0)
            return false;
        recordReceived(connection.index, buffer, static_cast<std::size_t>(got), false);
        connection.pending.append(buffer, static_cast<std::size_t>(got));
    }
}

bool ScriptedServer::sendAll(int fd, const char* bytes, std::size_t length) {
    std::size_t sent = 0;
    while (sent < length) {
        if (!waitFor(fd, POLLOUT, commandTimeoutMs_))
            return false;
        ssize_t done = ::send(fd, bytes + sent, length - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (done < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        if (done <= 0)
            return false;
        sent += static_cast<std::size_t>(done);
    }
    return true;
}

bool ScriptedServer::sendReply(Connection& connection, const std::string& text,
                               const ScriptStep& step) {
    std::string bytes = text;
    if (connection.passiveFd >= 0) {
        int port = connection.passivePort;
        bytes = replaceAll(bytes, "{pasv}",
                           "127,0,0,1," + std::to_string(port / 256) + "," +
                               std::to_string(port % 256));
        bytes = replaceAll(bytes, "{epsv}", std::to_string(port));
    }
    if (!sendPieces(connection.fd, bytes, step.chunkSizes, step.chunkDelayMs)) {
        if (!stopping())
            noteError("connection " + std::to_string(connection.index) +
                      ": the reply could not be sent (client gone?)");
        return false;
    }
    return true;
}

bool ScriptedServer::sendPieces(int fd, const std::string& bytes,
                                const std::vector<std::size_t>& sizes, int delayMs) {
    std::size_t at = 0;
    std::size_t piece = 0;
    while (at < bytes.size()) {
        std::size_t size = bytes.size() - at;
        if (!sizes.empty()) {
            size = sizes[std::min(piece, sizes.size() - 1)];
            size = std::clamp<std::size_t>(size, 1, bytes.size() - at);
        }
        if (piece > 0 && !pause(delayMs))
            return false;
        if (!sendAll(fd, bytes.data() + at, size))
            return false;
        at += size;
        ++piece;
    }
    return true;
}

int ScriptedServer::openDataConnection(Connection& connection) {
    if (connection.passiveFd >= 0) {
        int listener = connection.passiveFd;
        connection.passiveFd = -1;
        int fd = -1;
        if (waitFor(listener, POLLIN, commandTimeoutMs_))
            fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        closeSocket(listener, false);
        if (fd < 0 && !stopping())
            noteError("connection " + std::to_string(connection.index) +
                      ": the client did not open the passive data connection");
        return fd;
    }
    if (connection.activePort == 0) {
        noteError("connection " + std::to_string(connection.index) +
                  ": a data step without a passive listener or a PORT address");
        return -1;
    }
    // Only ever connect back to this machine.
    if (connection.activeHost.rfind("127.", 0) != 0) {
        noteError("connection " + std::to_string(connection.index) +
                  ": refusing to connect to the non-loopback address " + connection.activeHost);
        return -1;
    }
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return -1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(connection.activePort));
    ::inet_pton(AF_INET, connection.activeHost.c_str(), &address.sin_addr);
    int result = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    int error = 0;
    if (result != 0 && errno == EINPROGRESS && waitFor(fd, POLLOUT, commandTimeoutMs_)) {
        socklen_t length = sizeof error;
        ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length);
        result = error == 0 ? 0 : -1;
    }
    if (result != 0) {
        if (!stopping())
            noteError("connection " + std::to_string(connection.index) +
                      ": cannot connect to the PORT address " + connection.activeHost + ":" +
                      std::to_string(connection.activePort));
        ::close(fd);
        return -1;
    }
    return fd;
}

bool ScriptedServer::runDataAction(Connection& connection, const ScriptStep& step) {
    switch (step.data) {
    case DataAction::None:
        return true;
    case DataAction::Refuse:
        closeSocket(connection.passiveFd, false);
        connection.passiveFd = -1;
        return true;
    case DataAction::OpenAndHold: {
        int fd = openDataConnection(connection);
        if (fd < 0)
            return false;
        connection.heldData.push_back(fd);
        return true;
    }
    case DataAction::Send: {
        int fd = openDataConnection(connection);
        if (fd < 0)
            return false;
        std::size_t length = step.dataBytes.size();
        if (step.dataCloseAfter >= 0)
            length = std::min(length, static_cast<std::size_t>(step.dataCloseAfter));
        setNoDelay(fd);
        bool sent = sendPieces(fd, step.dataBytes.substr(0, length), step.dataChunkSizes,
                               step.dataChunkDelayMs);
        closeSocket(fd, step.dataAbortiveClose);
        if (!sent && !stopping())
            noteError("connection " + std::to_string(connection.index) +
                      ": the data could not be sent");
        return sent;
    }
    case DataAction::Receive: {
        int fd = openDataConnection(connection);
        if (fd < 0)
            return false;
        bool ended = false;
        long long left = step.dataCloseAfter;  // a server that stops reading early
        while (left != 0 && waitFor(fd, POLLIN, commandTimeoutMs_)) {
            char buffer[4096];
            const std::size_t wanted = left < 0 ? sizeof buffer : std::min<std::size_t>(sizeof buffer, left);
            ssize_t got = ::recv(fd, buffer, wanted, 0);
            if (got <= 0) {
                ended = true;
                break;
            }
            recordReceived(connection.index, buffer, static_cast<std::size_t>(got), true);
            if (left > 0)
                left -= got;
        }
        if (left == 0)
            ended = true;  // closed with the client's last bytes unread: a reset
        ::close(fd);
        if (!ended && !stopping())
            noteError("connection " + std::to_string(connection.index) +
                      ": the client did not finish sending its data");
        return ended;
    }
    }
    return false;
}

void ScriptedServer::holdUntilClosed(Connection& connection, bool answerUnscripted) {
    // Bounded by the client's close or stop(): both end the wait below.
    for (;;) {
        pollfd waits[2] = {{connection.fd, POLLIN, 0}, {wakePipe_[0], POLLIN, 0}};
        int result = ::poll(waits, 2, -1);
        if (result < 0 && errno == EINTR)
            continue;
        if (result <= 0 || waits[1].revents != 0 || stopping())
            return;
        char buffer[1024];
        ssize_t got = ::recv(connection.fd, buffer, sizeof buffer, 0);
        if (got <= 0)
            return;
        recordReceived(connection.index, buffer, static_cast<std::size_t>(got), false);
        if (!answerUnscripted)
            continue;
        connection.pending.append(buffer, static_cast<std::size_t>(got));
        for (std::size_t end = connection.pending.find('\n'); end != std::string::npos;
             end = connection.pending.find('\n')) {
            std::string line = connection.pending.substr(0, end);
            connection.pending.erase(0, end + 1);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            refuseUnscripted(connection, line);
        }
        if (connection.pending.size() > kMaxCommandLine)
            connection.pending.clear();
    }
}

bool ScriptedServer::refuseUnscripted(Connection& connection, const std::string& line) {
    std::string verb = line.substr(0, line.find(' '));
    for (char& c : verb)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (verb != "FEAT" && verb != "EPSV" && verb != "EPRT" && verb != "OPTS" && verb != "MLSD")
        return false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        unscripted_[static_cast<std::size_t>(connection.index)].push_back(line);
        std::string& record = received_[static_cast<std::size_t>(connection.index)];
        for (const char* ending : {"\r\n", "\n"}) {
            const std::size_t at = record.find(line + ending);
            if (at != std::string::npos) {
                record.erase(at, line.size() + std::strlen(ending));
                break;
            }
        }
    }
    const std::string reply = "502 Not implemented.\r\n";
    return sendAll(connection.fd, reply.data(), reply.size()) || true;
}

std::vector<std::string> ScriptedServer::unscriptedCommands(int index) const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (index < 0 || index >= connections_)
        return {};
    return unscripted_[static_cast<std::size_t>(index)];
}

void ScriptedServer::noteError(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!error_.empty())
        error_ += "\n";
    error_ += text;
    changed_.notify_all();
}

void ScriptedServer::recordReceived(int index, const char* bytes, std::size_t length,
                                    bool data) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto& target = data ? dataReceived_ : received_;
    target[static_cast<std::size_t>(index)].append(bytes, length);
    changed_.notify_all();
}

bool ScriptedServer::waitUntilDone(int timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] {
        return finishedScripts_ >= static_cast<int>(scripts_.size());
    });
}

bool ScriptedServer::waitForConnections(int count, int timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [this, count] { return connections_ >= count; });
}

bool ScriptedServer::waitForReceived(int index, std::size_t bytes, int timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        return index >= 0 && index < connections_ &&
               received_[static_cast<std::size_t>(index)].size() >= bytes;
    });
}

std::string ScriptedServer::receivedText(int index) const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (index < 0 || index >= connections_)
        return {};
    return received_[static_cast<std::size_t>(index)];
}

std::vector<std::string> ScriptedServer::commands(int index) const {
    std::string text = receivedText(index);
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end = text.find('\n'); end != std::string::npos;
         start = end + 1, end = text.find('\n', start)) {
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

std::string ScriptedServer::dataReceived(int index) const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (index < 0 || index >= connections_)
        return {};
    return dataReceived_[static_cast<std::size_t>(index)];
}

int ScriptedServer::connectionCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return connections_;
}

std::string ScriptedServer::error() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return error_;
}

}  // namespace tvtest
