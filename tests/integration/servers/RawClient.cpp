#include "tests/integration/servers/RawClient.h"

#include <chrono>
#include <cstdio>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tvtest {

namespace {

int connectLoopback(int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Length of the complete reply at the start of text, or 0 when it is not complete yet.
std::size_t completeReplyLength(const std::string& text) {
    std::size_t lineStart = 0;
    std::string code;
    while (true) {
        std::size_t end = text.find('\n', lineStart);
        if (end == std::string::npos)
            return 0;
        std::string line = text.substr(lineStart, end - lineStart);
        if (code.empty()) {
            if (line.size() < 4)
                return end + 1;  // malformed: hand it over as it is
            code = line.substr(0, 3);
            if (line[3] != '-')
                return end + 1;
        } else if (line.size() >= 4 && line.compare(0, 3, code) == 0 && line[3] == ' ') {
            return end + 1;
        }
        lineStart = end + 1;
    }
}

}  // namespace

RawClient::~RawClient() { close(); }

bool RawClient::connectTo(int port) {
    close();
    fd_ = connectLoopback(port);
    return fd_ >= 0;
}

void RawClient::close() {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    pending_.clear();
}

bool RawClient::sendLine(const std::string& line) {
    std::string wire = line + "\r\n";
    return fd_ >= 0 && ::send(fd_, wire.data(), wire.size(), MSG_NOSIGNAL) ==
                           static_cast<ssize_t>(wire.size());
}

std::string RawClient::readReply(int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (fd_ >= 0) {
        if (std::size_t length = completeReplyLength(pending_)) {
            std::string reply = pending_.substr(0, length);
            pending_.erase(0, length);
            return reply;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        deadline - std::chrono::steady_clock::now()).count();
        pollfd waiting{fd_, POLLIN, 0};
        if (left <= 0 || ::poll(&waiting, 1, static_cast<int>(left)) <= 0)
            break;
        char buffer[1024];
        ssize_t got = ::recv(fd_, buffer, sizeof buffer, 0);
        if (got <= 0)
            break;
        pending_.append(buffer, static_cast<std::size_t>(got));
    }
    return {};
}

std::string RawClient::command(const std::string& line) {
    if (!sendLine(line))
        return {};
    return readReply();
}

int RawClient::openPassive() {
    std::string reply = command("PASV");
    unsigned h1, h2, h3, h4, p1, p2;
    std::size_t open = reply.find('(');
    if (reply.rfind("227", 0) != 0 || open == std::string::npos ||
        std::sscanf(reply.c_str() + open, "(%u,%u,%u,%u,%u,%u)", &h1, &h2, &h3, &h4, &p1,
                    &p2) != 6 ||
        h1 != 127)
        return -1;
    return connectLoopback(static_cast<int>(p1 * 256 + p2));
}

std::string RawClient::readAll(int fd, int timeoutMs) {
    std::string data;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (fd >= 0) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        deadline - std::chrono::steady_clock::now()).count();
        pollfd waiting{fd, POLLIN, 0};
        if (left <= 0 || ::poll(&waiting, 1, static_cast<int>(left)) <= 0)
            break;
        char buffer[4096];
        ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
        if (got <= 0)
            break;
        data.append(buffer, static_cast<std::size_t>(got));
    }
    return data;
}

}  // namespace tvtest
