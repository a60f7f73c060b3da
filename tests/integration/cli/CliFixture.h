#pragma once
// tollvane-cli as a child process against vsftpd or pyftpdlib started by the test on
// loopback, with a data and a configuration folder of its own.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "tests/support/FtpServers.h"
#include "tests/support/ProxyServers.h"

namespace clitest {

namespace fs = std::filesystem;

struct Outcome {
    int exitCode = -1;
    std::string out;
    std::string err;
};

inline std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

inline std::string RandomBytes(size_t size, unsigned seed)
{
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& byte : bytes)
        byte = static_cast<char>(random());
    return bytes;
}

// Runs tollvane-cli with `args` in root/local, with the data and configuration folders
// root/data and root/config and `password` in $TOLLVANE_PASSWORD. `interruptWhen`: sends
// `signal` once it holds. A run that has not ended after `limitSeconds` is killed and fails
// the test.
inline Outcome RunCli(const std::string& root, const std::string& password, std::vector<std::string> args,
                      const std::function<bool()>& interruptWhen = {}, int signal = SIGINT, int limitSeconds = 120)
{
    const std::string program = TOLLVANE_BINARY_DIR "/app/tollvane-cli";
    const std::string outPath = root + "/out.txt";
    const std::string errPath = root + "/err.txt";
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setenv("XDG_DATA_HOME", (root + "/data").c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);
        ::setenv("TOLLVANE_PASSWORD", password.c_str(), 1);
        const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(out, 1);
        ::dup2(err, 2);
        if (::chdir((root + "/local").c_str()) != 0)
            ::_exit(127);
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (std::string& arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    Outcome outcome;
    int status = 0;
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(limitSeconds);
    bool interrupted = false;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (interruptWhen && !interrupted && interruptWhen()) {
            ::kill(pid, signal);
            interrupted = true;
        }
        if (std::chrono::steady_clock::now() > limit) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            ADD_FAILURE() << "tollvane-cli did not finish";
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    outcome.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    outcome.out = ReadAll(outPath);
    outcome.err = ReadAll(errPath);
    return outcome;
}

// A folder for one test's run of tollvane-cli: root/data, root/config and root/local.
inline std::string MakeCliRoot()
{
    char pattern[] = "/tmp/tv-cli-it-XXXXXX";
    if (!::mkdtemp(pattern))
        return {};
    const std::string root = pattern;
    for (const char* sub : {"/data", "/config", "/local"})
        fs::create_directories(root + sub);
    return root;
}

enum class ServerKind { Vsftpd, Pyftpdlib };

class CliServerTest : public ::testing::TestWithParam<ServerKind> {
protected:
    void SetUp() override
    {
        if (GetParam() == ServerKind::Vsftpd)
            server_ = std::make_unique<tvtest::VsftpdServer>(ServerOptions());
        else
            server_ = std::make_unique<tvtest::PyftpdlibServer>(ServerOptions());
        ASSERT_TRUE(server_->start()) << server_->error();
        root_ = MakeCliRoot();
        ASSERT_FALSE(root_.empty());
        // The named user may change permissions; anonymous writes only inside a folder.
        ASSERT_TRUE(server_->createFolder("incoming"));
        base_ = "ftp://" + std::string(server_->hasUser() ? server_->userName() + "@" : "") + server_->host() +
                ":" + std::to_string(server_->port()) + "/incoming";
    }
    void TearDown() override
    {
        std::error_code ec;
        fs::remove_all(root_, ec);
    }

    // What the test's server is started with.
    virtual tvtest::FtpServerOptions ServerOptions() const { return {}; }

    // Runs the program with short time-outs and no retries; the password travels in the
    // environment, never on the command line.
    // `interruptWhen`: sends Ctrl-C (SIGINT), or `signal`, once it holds.
    Outcome Run(std::vector<std::string> args, const std::function<bool()>& interruptWhen = {},
                int signal = SIGINT)
    {
        args.insert(args.begin(), {"--timeout", "2", "--error-retry", "0", "--file-retry", "0", "--retry-delay", "1"});
        return RunCli(root_, server_->password(), args, interruptWhen, signal);
    }

    std::string Local(const std::string& name) const { return root_ + "/local/" + name; }
    std::string Url(const std::string& path) const { return base_ + path; }
    std::string Transcript(const Outcome& outcome) const
    {
        return "exit " + std::to_string(outcome.exitCode) + "\nstderr:\n" + outcome.err + "\nserver log:\n" +
               server_->logText();
    }

    std::unique_ptr<tvtest::FtpTestServer> server_;
    std::string root_;
    std::string base_;
};

} // namespace clitest
