#pragma once
// A bare POSIX-socket FTP control connection for checking the test servers themselves,
// independent of the client under test. Every read is bounded.

#include <string>

namespace tvtest {

class RawClient {
public:
    ~RawClient();
    bool connectTo(int port);
    bool sendLine(const std::string& line);
    // Reads one complete reply (multi-line aware) and returns it; empty on time-out or
    // close.
    std::string readReply(int timeoutMs = 2000);
    // sendLine + readReply.
    std::string command(const std::string& line);
    // Sends PASV, connects to the announced port; the socket or -1.
    int openPassive();
    // Everything the socket delivers until it is closed (bounded).
    static std::string readAll(int fd, int timeoutMs = 2000);
    void close();

private:
    int fd_ = -1;
    std::string pending_;
};

}  // namespace tvtest
