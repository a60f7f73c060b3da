#include "tests/support/ServerProcess.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace fs = std::filesystem;

namespace tvtest {

namespace {

std::vector<char*> pointersTo(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    pointers.reserve(texts.size() + 1);
    for (auto& text : texts)
        pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
}

std::string readWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Waits up to timeoutMs for pid to end; true (status set) when it did. Without `reap`
// the ended process stays a zombie, which keeps its process group id from being reused.
bool waitForExit(pid_t pid, int timeoutMs, int& status, bool reap = true) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (reap) {
            pid_t done = ::waitpid(pid, &status, WNOHANG);
            if (done == pid || (done < 0 && errno == ECHILD))
                return true;
        } else {
            siginfo_t info{};
            if (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0)
                return true;  // not our child (any more)
            if (info.si_pid == pid)
                return true;
        }
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

}  // namespace

pid_t spawnProcess(const std::vector<std::string>& argv,
                   const std::vector<std::string>& extraEnvironment,
                   const std::string& outputPath, std::string& why) {
    if (argv.empty() || argv[0].empty() || argv[0][0] != '/') {
        why = "the program needs an absolute path";
        return -1;
    }
    // Everything the child needs is prepared before fork: after it, in a threaded
    // process, only async-signal-safe calls are allowed.
    std::vector<std::string> arguments = argv;
    std::vector<std::string> environment;
    for (char** variable = environ; variable != nullptr && *variable != nullptr; ++variable) {
        std::string entry = *variable;
        bool replaced = false;
        for (const auto& extra : extraEnvironment) {
            auto name = extra.substr(0, extra.find('=') + 1);
            if (entry.compare(0, name.size(), name) == 0)
                replaced = true;
        }
        if (!replaced)
            environment.push_back(entry);
    }
    environment.insert(environment.end(), extraEnvironment.begin(), extraEnvironment.end());
    std::vector<char*> argumentPointers = pointersTo(arguments);
    std::vector<char*> environmentPointers = pointersTo(environment);

    int output = ::open(outputPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (output < 0) {
        why = "cannot open " + outputPath + ": " + std::strerror(errno);
        return -1;
    }
    int input = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    pid_t parent = ::getpid();
    pid_t pid = ::fork();
    if (pid < 0) {
        why = std::string("fork: ") + std::strerror(errno);
        ::close(output);
        if (input >= 0)
            ::close(input);
        return -1;
    }
    if (pid == 0) {
        ::setpgid(0, 0);
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent)
            ::_exit(127);
        if (input >= 0)
            ::dup2(input, 0);
        ::dup2(output, 1);
        ::dup2(output, 2);
        ::execve(argumentPointers[0], argumentPointers.data(), environmentPointers.data());
        static const char failed[] = "execve failed\n";
        (void)!::write(2, failed, sizeof failed - 1);
        ::_exit(127);
    }
    ::setpgid(pid, pid);  // also from here, so the group exists before we signal it
    ::close(output);
    if (input >= 0)
        ::close(input);
    return pid;
}

void stopProcessGroup(pid_t pid, int timeoutMs) {
    if (pid <= 0)
        return;
    ::kill(-pid, SIGTERM);
    int status = 0;
    waitForExit(pid, timeoutMs, status, false);
    // Session processes of the server may outlive the leader; the unreaped leader keeps
    // the group id ours while they are killed.
    ::kill(-pid, SIGKILL);
    waitForExit(pid, timeoutMs, status);
    // vsftpd's session processes start sessions of their own, out of the group's reach;
    // they end with their parent (vsftpd asks for a signal on its parent's death).
}

bool runToCompletion(const std::vector<std::string>& argv, const std::string& outputPath,
                     int timeoutMs, std::string& why) {
    pid_t pid = spawnProcess(argv, {}, outputPath, why);
    if (pid < 0)
        return false;
    int status = 0;
    if (!waitForExit(pid, timeoutMs, status)) {
        stopProcessGroup(pid, 1000);
        why = argv[0] + " did not finish within " + std::to_string(timeoutMs) + " ms";
        return false;
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
        return true;
    why = argv[0] + " failed (" + describeExit(status) + "): " + readWholeFile(outputPath);
    return false;
}

std::string sourceFolder() {
#ifdef TOLLVANE_SOURCE_DIR
    return TOLLVANE_SOURCE_DIR;
#else
    // This file is tests/support/ServerProcess.cpp below the root.
    return fs::path(__FILE__).parent_path().parent_path().parent_path().string();
#endif
}

std::string describeExit(int status) {
    if (WIFEXITED(status))
        return "exit code " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status))
        return "signal " + std::to_string(WTERMSIG(status));
    return "status " + std::to_string(status);
}

bool processReportsPortTaken(int status, const std::string& output) {
    // pyftpdlib_server.py exits with 3; vsftpd says it could not bind.
    if (WIFEXITED(status) && WEXITSTATUS(status) == 3)
        return true;
    return output.find("could not bind listening") != std::string::npos ||
           output.find("Address already in use") != std::string::npos;
}

std::string pamConfdirShim(std::string& why) {
    static std::mutex building;
    std::lock_guard<std::mutex> lock(building);

    const fs::path source = fs::path(sourceFolder()) / "tests/servers/pam_confdir_shim.c";
    std::error_code error;
    // Beside the test executable: a folder of the build that only its owner writes to,
    // which matters for a library preloaded into a server running as root.
    const fs::path folder = fs::read_symlink("/proc/self/exe", error).parent_path();
    if (error || folder.empty()) {
        why = "cannot find the test executable's folder";
        return {};
    }
    const fs::path library = folder / "pam_confdir_shim.so";
    if (fs::exists(library, error) &&
        fs::last_write_time(library, error) >= fs::last_write_time(source, error))
        return library.string();

    // Build under a name of our own and rename, so parallel test processes never load a
    // half-written library.
    const fs::path partial = folder / ("pam_confdir_shim.so." + std::to_string(::getpid()));
    const fs::path log = folder / ("pam_confdir_shim.log." + std::to_string(::getpid()));
    std::string compiler = ::access("/usr/bin/cc", X_OK) == 0 ? "/usr/bin/cc" : "/usr/bin/gcc";
    bool built = runToCompletion({compiler, "-shared", "-fPIC", "-O2", "-o", partial.string(),
                                  source.string()},
                                 log.string(), 60000, why);
    fs::remove(log, error);
    if (!built) {
        why = "cannot build the PAM preload library: " + why;
        fs::remove(partial, error);
        return {};
    }
    fs::rename(partial, library, error);
    if (error) {
        why = "cannot place the PAM preload library: " + error.message();
        return {};
    }
    return library.string();
}

// Binds port 0 on loopback to learn a port that is free right now. The server started
// next may still lose it to another process; start() retries then.
int pickFreePort()
{
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return 0;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    ::close(fd);
    return port;
}

std::string makeWorkFolder(const std::string& prefix, std::string& why)
{
    std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (::mkdtemp(name.data()) == nullptr) {
        why = std::string("cannot create a temporary folder: ") + std::strerror(errno);
        return {};
    }
    // A server that drops its privileges must still reach its files.
    ::chmod(name.data(), 0755);
    return name.data();
}

int launchOnFreePort(int attempts, const std::function<bool(int port, bool& portClash)>& launch,
                     std::string& why)
{
    for (int attempt = 0; attempt < attempts; ++attempt) {
        const int port = pickFreePort();
        if (port == 0) {
            why = "no free port on 127.0.0.1";
            continue;
        }
        bool portClash = false;
        if (launch(port, portClash))
            return port;
        if (!portClash)
            break;
    }
    return 0;
}

}  // namespace tvtest
