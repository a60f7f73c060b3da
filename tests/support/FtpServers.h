#pragma once
// Real FTP servers for integration tests: Debian's vsftpd and python3-pyftpdlib, each
// started by the test on 127.0.0.1 (or ::1) at a free port with a temporary root folder, and
// stopped (root folder removed) when the object goes away.
//
//   tvtest::VsftpdServer server;
//   ASSERT_TRUE(server.start()) << server.error();
//   server.createFile("pub/a.txt", "hello");
//   ... connect to server.host():server.port() as server.userName()/server.password(),
//       or as "anonymous" with any password ...
//
// Both the named user and anonymous see the same root folder and may read, write,
// rename and delete in it, so a test prepares files once for either login. One
// exception: vsftpd run as root refuses to serve anonymous a writable top folder, so
// there anonymous writes only inside folders (createFolder("incoming")).

#include <string>
#include <vector>

#include <sys/types.h>

namespace tvtest {

struct FtpServerOptions {
    // Let the server open data connections to, and accept them from, addresses other
    // than the client's own (PORT to a foreign address, PASV connection from a foreign
    // peer): what a site-to-site copy between two servers needs.
    bool allowForeignDataAddresses = false;
    // Anonymous logins are accepted (with write permission).
    bool allowAnonymous = true;
    // Bytes per second each data connection moves at most, both ways (0: no limit), so
    // that a test can interrupt a transfer at a chosen point.
    long maxBytesPerSecond = 0;
    // The loopback address the server listens on: "127.0.0.1" or "::1" (IPv6 only).
    std::string listenAddress = "127.0.0.1";
    // TLS with the PEM certificate and key at these paths (made by the test): off,
    // explicit (AUTH TLS; then required for logins and data, with the data connections
    // resuming the control connection's TLS session on vsftpd) or implicit (vsftpd only:
    // TLS from the first byte).
    enum class Tls { Off, Explicit, Implicit };
    Tls tls = Tls::Off;
    std::string certificateFile;
    std::string keyFile;
};

class FtpTestServer {
public:
    virtual ~FtpTestServer();
    FtpTestServer(const FtpTestServer&) = delete;
    FtpTestServer& operator=(const FtpTestServer&) = delete;

    // Creates the root folder and configuration, launches the server and waits (bounded)
    // until it accepts connections and has sent its welcome. Retries on a port clash.
    // False when it could not be started; error() then says why, with the server's log.
    // The server ends with the thread that started it, so call it from the test's own
    // thread (or one that outlives the server).
    bool start();
    // Stops the server and removes its temporary folder. Called by the destructor.
    void stop();
    // Ends the server process and starts it again on the same port with the same files,
    // as a server restart does: every open connection is dropped. False when it does not
    // come back.
    bool restart();

    bool isRunning() const { return pid_ > 0; }
    const std::string& error() const { return error_; }

    // The listening address as a connect takes it (IPv6 without brackets).
    std::string host() const { return options_.listenAddress; }
    int port() const { return port_; }
    // False when this server cannot offer the named user where the test runs (vsftpd
    // started without root); a test that needs it then skips.
    bool hasUser() const { return hasUser_; }
    const std::string& userName() const { return userName_; }
    const std::string& password() const { return password_; }
    bool anonymousAllowed() const { return options_.allowAnonymous; }
    // The local folder the server shows as "/" to both logins.
    const std::string& rootPath() const { return rootPath_; }

    // Helpers for preparing and checking the root folder. Paths are relative to the
    // root ("dir/sub/file.txt"); missing parent folders are created. A path that is
    // absolute or climbs out of the root with ".." is refused (false / empty).
    std::string localPath(const std::string& relativePath) const;
    bool createFolder(const std::string& relativePath) const;
    bool createFile(const std::string& relativePath, const std::string& content) const;
    bool exists(const std::string& relativePath) const;
    // The file's bytes; false when it cannot be read.
    bool readFile(const std::string& relativePath, std::string& content) const;

    // What the server wrote to its log so far (for failure messages).
    std::string logText() const;

protected:
    FtpTestServer(const FtpServerOptions& options, std::string tempPrefix);

    // Writes the configuration for the chosen port into workPath_; false with error_ set.
    virtual bool writeConfiguration(int port) = 0;
    // argv of the server process (argv[0] is an absolute path) and the variables added
    // to its environment ("NAME=value"); false with error_ set.
    virtual bool commandLine(std::vector<std::string>& argv,
                             std::vector<std::string>& environment) const = 0;
    virtual std::string logFile() const = 0;

    FtpServerOptions options_;
    std::string tempPrefix_;
    std::string workPath_;   // temporary folder holding configuration, log and root
    std::string rootPath_;
    std::string userName_;
    std::string password_;
    mutable std::string error_;
    int port_ = 0;
    pid_t pid_ = -1;
    bool hasUser_ = true;
    // Account that prepared files and folders are given to, so the named user may also
    // change their permissions (-1: keep the test's own).
    uid_t contentUid_ = static_cast<uid_t>(-1);
    gid_t contentGid_ = static_cast<gid_t>(-1);

private:
    void giveToContentOwner(const std::string& path) const;
    bool launchOnce(int port, bool& portClash);
    bool waitForWelcome(int port, std::string& why);
    bool processExited(int& status);
};

// vsftpd in standalone mode with its own configuration file. The named user is a virtual
// user whose password is checked by a PAM configuration inside the temporary folder
// (through a small preloaded library, tests/servers/pam_confdir_shim.c, and PAM's
// userdb module), run as the system account "daemon" and locked into the root folder;
// anonymous runs as the "ftp" account that vsftpd's package creates. No system user and
// no system PAM file is touched. vsftpd accepts such a login only when started as root;
// otherwise it runs as the launching user with anonymous logins alone (hasUser() false).
class VsftpdServer : public FtpTestServer {
public:
    explicit VsftpdServer(const FtpServerOptions& options = {});

private:
    bool writeConfiguration(int port) override;
    bool commandLine(std::vector<std::string>& argv,
                     std::vector<std::string>& environment) const override;
    std::string logFile() const override;
};

// tests/servers/pyftpdlib_server.py run by /usr/bin/python3.
class PyftpdlibServer : public FtpTestServer {
public:
    explicit PyftpdlibServer(const FtpServerOptions& options = {});

private:
    bool writeConfiguration(int port) override;
    bool commandLine(std::vector<std::string>& argv,
                     std::vector<std::string>& environment) const override;
    std::string logFile() const override;

    int chosenPort_ = 0;
};

}  // namespace tvtest
