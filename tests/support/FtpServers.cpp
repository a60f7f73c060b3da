#include "tests/support/FtpServers.h"

#include "tests/support/ServerProcess.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace tvtest {

namespace {

constexpr int kStartAttempts = 5;
constexpr int kWelcomeWaitMs = 30000;  // a server starts slowly on a loaded machine
constexpr int kStopWaitMs = 2000;

const char* const kUserName = "tollvane";
const char* const kPassword = "Secret-42";

// The account vsftpd runs the virtual user as: present on every Debian system and, unlike
// "nobody", with a home folder that exists (vsftpd changes into it before the root).
const char* const kVirtualUserAccount = "daemon";
// The account vsftpd runs anonymous sessions as; Debian's vsftpd package creates it.
const char* const kAnonymousAccount = "ftp";

std::string readWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool writeWholeFile(const std::string& path, const std::string& content, mode_t mode) {
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        if (!out)
            return false;
        out << content;
        if (!out.flush())
            return false;
    }
    return ::chmod(path.c_str(), mode) == 0;
}

// True for "a", "a/b/c.txt"; false for "", "/a", "a/../b", "..".
bool isSafeRelativePath(const std::string& path) {
    if (path.empty() || path.front() == '/')
        return false;
    for (const auto& part : fs::path(path)) {
        if (part == "..")
            return false;
    }
    return true;
}

bool lookUpAccount(const char* name, uid_t& uid, gid_t& gid) {
    struct passwd entry {};
    struct passwd* found = nullptr;
    char buffer[4096];
    if (::getpwnam_r(name, &entry, buffer, sizeof buffer, &found) != 0 || found == nullptr)
        return false;
    uid = found->pw_uid;
    gid = found->pw_gid;
    return true;
}


// Connects to host:port (a loopback address) and reads until a line starting "220 " arrives.
// connectOnly: the server speaks TLS from the first byte; accepting is all it shows.
bool readWelcome(const std::string& host, int port, int timeoutMs, std::string& why, bool connectOnly = false) {
    sockaddr_storage address{};
    socklen_t length = 0;
    auto& v4 = reinterpret_cast<sockaddr_in&>(address);
    auto& v6 = reinterpret_cast<sockaddr_in6&>(address);
    if (::inet_pton(AF_INET, host.c_str(), &v4.sin_addr) == 1) {
        v4.sin_family = AF_INET;
        v4.sin_port = htons(static_cast<uint16_t>(port));
        length = sizeof v4;
    } else if (::inet_pton(AF_INET6, host.c_str(), &v6.sin6_addr) == 1) {
        v6.sin6_family = AF_INET6;
        v6.sin6_port = htons(static_cast<uint16_t>(port));
        length = sizeof v6;
    } else {
        why = "not an address: " + host;
        return false;
    }
    int fd = ::socket(address.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        why = std::string("socket: ") + std::strerror(errno);
        return false;
    }
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), length) != 0) {
        why = std::string("connect: ") + std::strerror(errno);
        ::close(fd);
        return false;
    }
    if (connectOnly) {
        ::close(fd);
        return true;
    }
    std::string text;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    bool welcomed = false;
    while (!welcomed && text.size() < 4096) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0)
            break;
        pollfd waiting{fd, POLLIN, 0};
        if (::poll(&waiting, 1, static_cast<int>(left)) <= 0)
            break;
        char buffer[512];
        ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
        if (got <= 0)
            break;
        text.append(buffer, static_cast<std::size_t>(got));
        welcomed = text.rfind("220 ", 0) == 0 || text.find("\n220 ") != std::string::npos;
    }
    // Leave politely so the server's log stays quiet.
    static const char quit[] = "QUIT\r\n";
    (void)::send(fd, quit, sizeof quit - 1, MSG_NOSIGNAL);
    ::close(fd);
    if (!welcomed)
        why = "no 220 welcome, received: \"" + text + "\"";
    return welcomed;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// FtpTestServer

FtpTestServer::FtpTestServer(const FtpServerOptions& options, std::string tempPrefix)
    : options_(options), tempPrefix_(std::move(tempPrefix)), userName_(kUserName),
      password_(kPassword) {}

FtpTestServer::~FtpTestServer() { stop(); }

bool FtpTestServer::start() {
    if (isRunning())
        return true;
    error_.clear();
    workPath_ = makeWorkFolder(tempPrefix_, error_);
    if (workPath_.empty())
        return false;
    rootPath_ = workPath_ + "/root";
    if (::mkdir(rootPath_.c_str(), 0755) != 0) {
        error_ = "cannot create the root folder: " + std::string(std::strerror(errno));
        stop();
        return false;
    }

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

bool FtpTestServer::launchOnce(int port, bool& portClash) {
    portClash = false;
    if (!writeConfiguration(port))
        return false;
    std::vector<std::string> argv;
    std::vector<std::string> environment;
    if (!commandLine(argv, environment))
        return false;

    std::string outputPath = workPath_ + "/server.out";
    std::string why;
    pid_ = spawnProcess(argv, environment, outputPath, why);
    if (pid_ <= 0) {
        pid_ = -1;
        error_ = "cannot start " + argv[0] + ": " + why;
        return false;
    }

    // Wait until the server greets, or has died.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWelcomeWaitMs);
    std::string lastWhy;
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (processExited(status)) {
            std::string output = readWholeFile(outputPath);
            portClash = processReportsPortTaken(status, output);
            error_ = argv[0] + " exited (" + describeExit(status) + ") before accepting "
                     "connections on port " + std::to_string(port) + ".\nOutput:\n" + output +
                     "\nLog:\n" + logText();
            return false;
        }
        if (waitForWelcome(port, lastWhy))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    error_ = argv[0] + " did not greet on port " + std::to_string(port) + " within " +
             std::to_string(kWelcomeWaitMs) + " ms (" + lastWhy + ").\nOutput:\n" +
             readWholeFile(outputPath) + "\nLog:\n" + logText();
    stopProcessGroup(pid_, kStopWaitMs);
    pid_ = -1;
    return false;
}

bool FtpTestServer::waitForWelcome(int port, std::string& why) {
    return readWelcome(host(), port, 1000, why, options_.tls == FtpServerOptions::Tls::Implicit);
}

bool FtpTestServer::processExited(int& status) {
    if (pid_ <= 0)
        return true;
    pid_t done = ::waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
        pid_ = -1;
        return true;
    }
    return false;
}

bool FtpTestServer::restart() {
    if (pid_ > 0) {
        stopProcessGroup(pid_, kStopWaitMs);
        pid_ = -1;
    }
    // The old listener may hold the port for a moment after its process ended.
    for (int attempt = 0; attempt < 20; ++attempt) {
        bool portClash = false;
        if (launchOnce(port_, portClash))
            return true;
        if (!portClash)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

void FtpTestServer::stop() {
    if (pid_ > 0) {
        stopProcessGroup(pid_, kStopWaitMs);
        pid_ = -1;
    }
    if (!workPath_.empty()) {
        std::error_code ignored;
        fs::remove_all(workPath_, ignored);
        workPath_.clear();
        rootPath_.clear();
    }
    port_ = 0;
}

std::string FtpTestServer::localPath(const std::string& relativePath) const {
    if (rootPath_.empty() || !isSafeRelativePath(relativePath))
        return {};
    return rootPath_ + "/" + relativePath;
}

bool FtpTestServer::createFolder(const std::string& relativePath) const {
    std::string path = localPath(relativePath);
    if (path.empty())
        return false;
    // Each new folder is open to every account, so both logins may change it whatever
    // account the server runs them as.
    fs::path current = rootPath_;
    for (const auto& part : fs::path(relativePath)) {
        if (part.empty() || part == ".")
            continue;
        current /= part;
        if (::mkdir(current.c_str(), 0777) == 0) {
            ::chmod(current.c_str(), 0777);
            giveToContentOwner(current.string());
        } else if (errno != EEXIST || !fs::is_directory(current))
            return false;
    }
    return true;
}

bool FtpTestServer::createFile(const std::string& relativePath,
                               const std::string& content) const {
    std::string path = localPath(relativePath);
    if (path.empty())
        return false;
    std::string parent = fs::path(relativePath).parent_path().string();
    if (!parent.empty() && !createFolder(parent))
        return false;
    if (!writeWholeFile(path, content, 0666))
        return false;
    giveToContentOwner(path);
    return true;
}

void FtpTestServer::giveToContentOwner(const std::string& path) const {
    if (contentUid_ != static_cast<uid_t>(-1))
        (void)::lchown(path.c_str(), contentUid_, contentGid_);
}

bool FtpTestServer::exists(const std::string& relativePath) const {
    std::string path = localPath(relativePath);
    std::error_code ignored;
    return !path.empty() && fs::exists(path, ignored);
}

bool FtpTestServer::readFile(const std::string& relativePath, std::string& content) const {
    std::string path = localPath(relativePath);
    if (path.empty())
        return false;
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::ostringstream text;
    text << in.rdbuf();
    content = text.str();
    return true;
}

std::string FtpTestServer::logText() const {
    if (workPath_.empty())
        return {};
    return readWholeFile(logFile());
}

// ---------------------------------------------------------------------------------------
// VsftpdServer

VsftpdServer::VsftpdServer(const FtpServerOptions& options)
    : FtpTestServer(options, "tollvane-vsftpd") {
    // Without root vsftpd runs every session in one process, which serves anonymous only.
    hasUser_ = ::geteuid() == 0;
}

std::string VsftpdServer::logFile() const { return workPath_ + "/vsftpd.log"; }

bool VsftpdServer::writeConfiguration(int port) {
    const bool asRoot = ::geteuid() == 0;
    const char* yesNo[] = {"NO", "YES"};
    std::ostringstream conf;
    const bool ipv6 = options_.listenAddress.find(':') != std::string::npos;
    if (ipv6)
        conf << "listen=NO\n"
                "listen_ipv6=YES\n"
                "listen_address6=" << options_.listenAddress << "\n";
    else
        conf << "listen=YES\n"
                "listen_ipv6=NO\n"
                "listen_address=" << options_.listenAddress << "\n";
    conf << "listen_port=" << port << "\n"
            "background=NO\n"
            "seccomp_sandbox=NO\n"
            "isolate=NO\n"
            "isolate_network=NO\n"
            "tcp_wrappers=NO\n"
            "ssl_enable=" << yesNo[options_.tls != FtpServerOptions::Tls::Off] << "\n"
            "syslog_enable=NO\n"
            "xferlog_enable=YES\n"
            "xferlog_std_format=NO\n"
            "log_ftp_protocol=YES\n"
            "vsftpd_log_file=" << logFile() << "\n"
            "dirmessage_enable=NO\n"
            "use_localtime=NO\n"
            "connect_from_port_20=NO\n"
            "pasv_enable=YES\n"
            "port_enable=YES\n"
            "pasv_promiscuous=" << yesNo[options_.allowForeignDataAddresses] << "\n"
            "port_promiscuous=" << yesNo[options_.allowForeignDataAddresses] << "\n"
            "async_abor_enable=YES\n"
            "delay_failed_login=0\n"
            "delay_successful_login=0\n"
            "max_login_fails=100\n"
            "write_enable=YES\n"
            "download_enable=YES\n"
            "chmod_enable=YES\n"
            "anonymous_enable=" << yesNo[options_.allowAnonymous] << "\n"
            "no_anon_password=NO\n"
            "anon_root=" << rootPath_ << "\n"
            "anon_upload_enable=YES\n"
            "anon_mkdir_write_enable=YES\n"
            "anon_other_write_enable=YES\n"
            "anon_world_readable_only=NO\n"
            "anon_umask=000\n"
            "local_umask=000\n"
            "file_open_mode=0666\n";
    if (options_.tls != FtpServerOptions::Tls::Off)
        conf << "rsa_cert_file=" << options_.certificateFile << "\n"
             << "rsa_private_key_file=" << options_.keyFile << "\n"
             << "implicit_ssl=" << yesNo[options_.tls == FtpServerOptions::Tls::Implicit] << "\n"
             << "allow_anon_ssl=YES\n"
                "force_local_logins_ssl=YES\n"
                "force_local_data_ssl=YES\n"
                "force_anon_logins_ssl=YES\n"
                "force_anon_data_ssl=YES\n"
                "require_ssl_reuse=YES\n"
                "strict_ssl_read_eof=YES\n"
                "ssl_ciphers=HIGH\n";
    if (options_.maxBytesPerSecond > 0)
        conf << "anon_max_rate=" << options_.maxBytesPerSecond << "\n"
             << "local_max_rate=" << options_.maxBytesPerSecond << "\n";
    if (asRoot) {
        // The named user is a virtual user: the PAM configuration in our folder checks
        // its password against our own user database, and vsftpd runs its session as
        // kVirtualUserAccount, locked into the root folder.
        uid_t uid = 0;
        gid_t gid = 0;
        if (!lookUpAccount(kVirtualUserAccount, uid, gid) ||
            ::chown(rootPath_.c_str(), uid, gid) != 0) {
            error_ = std::string("cannot give the root folder to the account \"") +
                     kVirtualUserAccount + "\"";
            return false;
        }
        contentUid_ = uid;
        contentGid_ = gid;
        uid_t ftpUid = 0;
        gid_t ftpGid = 0;
        if (!lookUpAccount(kAnonymousAccount, ftpUid, ftpGid)) {
            error_ = std::string("the account \"") + kAnonymousAccount +
                     "\" that vsftpd's package creates is missing";
            return false;
        }
        std::string emptyFolder = workPath_ + "/empty";
        ::mkdir(emptyFolder.c_str(), 0555);
        std::string pamFolder = workPath_ + "/pam";
        ::mkdir(pamFolder.c_str(), 0755);
        std::string userDatabase = workPath_ + "/users";
        if (!writeWholeFile(pamFolder + "/tollvane-ftp",
                            "auth required pam_userdb.so db=" + userDatabase + "\n"
                            "account required pam_permit.so\n"
                            "session required pam_permit.so\n",
                            0644)) {
            error_ = "cannot write the PAM configuration";
            return false;
        }
        std::string why;
        std::string script = sourceFolder() + "/tests/servers/make_userdb.py";
        if (!runToCompletion({"/usr/bin/python3", script, userDatabase, userName_, password_},
                             workPath_ + "/userdb.out", 10000, why)) {
            error_ = "cannot write the user database: " + why;
            return false;
        }
        conf << "run_as_launching_user=NO\n"
                "local_enable=YES\n"
                "guest_enable=YES\n"
                "guest_username=" << kVirtualUserAccount << "\n"
                "virtual_use_local_privs=YES\n"
                "local_root=" << rootPath_ << "\n"
                "chroot_local_user=YES\n"
                "allow_writeable_chroot=YES\n"
                "ftp_username=" << kAnonymousAccount << "\n"
                "nopriv_user=nobody\n"
                "secure_chroot_dir=" << emptyFolder << "\n"
                "pam_service_name=" << pamFolder << "/tollvane-ftp\n"
                "session_support=NO\n";
    } else {
        conf << "run_as_launching_user=YES\n"
                "local_enable=NO\n";
    }
    if (!writeWholeFile(workPath_ + "/vsftpd.conf", conf.str(), 0600)) {
        error_ = "cannot write the vsftpd configuration";
        return false;
    }
    return true;
}

bool VsftpdServer::commandLine(std::vector<std::string>& argv,
                               std::vector<std::string>& environment) const {
    argv = {"/usr/sbin/vsftpd", workPath_ + "/vsftpd.conf"};
    environment.clear();
    if (::access(argv[0].c_str(), X_OK) != 0) {
        error_ =
            "/usr/sbin/vsftpd is not installed (Debian package vsftpd)";
        return false;
    }
    if (::geteuid() == 0) {
        std::string why;
        std::string shim = pamConfdirShim(why);
        if (shim.empty()) {
            error_ = why;
            return false;
        }
        environment.push_back("LD_PRELOAD=" + shim);
    }
    return true;
}

// ---------------------------------------------------------------------------------------
// PyftpdlibServer

PyftpdlibServer::PyftpdlibServer(const FtpServerOptions& options)
    : FtpTestServer(options, "tollvane-pyftpdlib") {}

std::string PyftpdlibServer::logFile() const { return workPath_ + "/pyftpdlib.log"; }

bool PyftpdlibServer::writeConfiguration(int port) {
    chosenPort_ = port;
    return true;
}

bool PyftpdlibServer::commandLine(std::vector<std::string>& argv,
                                  std::vector<std::string>& environment) const {
    environment.clear();
    argv = {"/usr/bin/python3",
            sourceFolder() + "/tests/servers/pyftpdlib_server.py",
            "--port", std::to_string(chosenPort_),
            "--address", options_.listenAddress,
            "--root", rootPath_,
            "--user", userName_,
            "--password", password_,
            "--log", logFile()};
    if (!options_.allowAnonymous)
        argv.push_back("--no-anonymous");
    if (options_.allowForeignDataAddresses)
        argv.push_back("--allow-foreign");
    if (options_.tls != FtpServerOptions::Tls::Off) {
        argv.push_back("--tls-certificate");
        argv.push_back(options_.certificateFile);
        argv.push_back("--tls-key");
        argv.push_back(options_.keyFile);
    }
    if (options_.maxBytesPerSecond > 0) {
        argv.push_back("--max-rate");
        argv.push_back(std::to_string(options_.maxBytesPerSecond));
    }
    return true;
}

}  // namespace tvtest
