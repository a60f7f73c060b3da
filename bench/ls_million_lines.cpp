// tollvane-cli "ls" and "ls --long" of a folder whose listing has 1,000,000 lines (about
// 66 MB), end to end: a scripted server on loopback sends the listing once, the program
// receives it, caches it and prints it to /dev/null. Reported: wall time per run and the
// program's peak memory (goal for --long: under 3 s and under 250 MB), and how many LIST
// commands reached the server (goal: one).

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <cstdint>
#include <random>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "tests/support/ScriptedServer.h"

namespace {

const std::string& MillionLineListing()
{
    static const std::string text = [] {
        static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
        std::mt19937_64 random(7);
        std::string listing = "total 1000000\r\n";
        listing.reserve(70u * 1000000u);
        char line[160];
        for (int i = 0; i < 1000000; ++i) {
            const unsigned kind = random() % 10;
            const char* permissions = kind == 0 ? "drwxr-xr-x" : "-rw-r--r--";
            const unsigned long long size = random() % (kind == 2 ? 8000000000ull : 5000000ull);
            std::snprintf(line, sizeof line, "%s %3u %-8s %-8s %12llu %s %2u  %4u %s_%07d.dat\r\n", permissions,
                          1 + unsigned(random() % 9), "mirror", "users", size, kMonths[random() % 12],
                          1 + unsigned(random() % 28), 1995 + unsigned(random() % 30), kind == 0 ? "dir" : "file", i);
            listing += line;
        }
        return listing;
    }();
    return text;
}

struct ChildRun {
    int exitCode = -1;
    double seconds = 0;
    double cpuSeconds = 0; // user and system time: what a loaded machine does not inflate
    double peakMegabytes = 0;
};

// A process's peak memory counts the memory of the process it was forked from (and of a
// parent sharing its memory until exec). So tollvane-cli is started by a helper forked
// before this process holds the big listing; the helper runs each request and answers with
// the child's exit status, wall time and peak.
class Spawner {
public:
    Spawner()
    {
        if (::pipe(m_request) != 0 || ::pipe(m_reply) != 0)
            return;
        m_pid = ::fork();
        if (m_pid == 0) {
            ::close(m_request[1]);
            ::close(m_reply[0]);
            Serve();
            ::_exit(0);
        }
        ::close(m_request[0]);
        ::close(m_reply[1]);
    }
    ~Spawner()
    {
        if (m_pid > 0) {
            ::close(m_request[1]);
            ::waitpid(m_pid, nullptr, 0);
        }
    }

    // Runs tollvane-cli with `args` (and its folders under root), output to /dev/null.
    ChildRun Run(const std::string& root, const std::vector<std::string>& args)
    {
        std::string request = root;
        request += '\0';
        for (const std::string& arg : args)
            request += arg + '\0';
        request += '\0';
        const std::uint32_t length = std::uint32_t(request.size());
        ChildRun run;
        if (m_pid <= 0 || ::write(m_request[1], &length, sizeof length) != sizeof length ||
            ::write(m_request[1], request.data(), length) != ssize_t(length) ||
            ::read(m_reply[0], &run, sizeof run) != sizeof run)
            return ChildRun{};
        return run;
    }

private:
    void Serve()
    {
        std::uint32_t length = 0;
        while (::read(m_request[0], &length, sizeof length) == sizeof length) {
            std::string request(length, '\0');
            std::size_t got = 0;
            while (got < length) {
                const ssize_t n = ::read(m_request[0], request.data() + got, length - got);
                if (n <= 0)
                    return;
                got += std::size_t(n);
            }
            std::vector<std::string> parts;
            for (std::size_t at = 0; at < request.size() && request[at] != '\0';) {
                const std::size_t end = request.find('\0', at);
                parts.push_back(request.substr(at, end - at));
                at = end + 1;
            }
            const ChildRun run = RunChild(parts.front(), {parts.begin() + 1, parts.end()});
            if (::write(m_reply[1], &run, sizeof run) != sizeof run)
                return;
        }
    }

    static ChildRun RunChild(const std::string& root, std::vector<std::string> args)
    {
        const std::string program = TOLLVANE_BINARY_DIR "/app/tollvane-cli";
        ChildRun run;
        const auto started = std::chrono::steady_clock::now();
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::setenv("XDG_DATA_HOME", (root + "/data").c_str(), 1);
            ::setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);
            const int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, 1);
            ::dup2(null, 2);
            std::vector<char*> argv{const_cast<char*>(program.c_str())};
            for (std::string& arg : args)
                argv.push_back(arg.data());
            argv.push_back(nullptr);
            ::execv(program.c_str(), argv.data());
            ::_exit(127);
        }
        int status = 0;
        struct rusage usage = {};
        ::wait4(pid, &status, 0, &usage);
        run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        run.peakMegabytes = double(usage.ru_maxrss) / 1024.0; // kilobytes on Linux
        run.cpuSeconds = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                         double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
        return run;
    }

    int m_request[2] = {-1, -1};
    int m_reply[2] = {-1, -1};
    pid_t m_pid = -1;
};

// Made while this process is still small, before the benchmarks run.
Spawner g_spawner;

void LsMillionLines(benchmark::State& state)
{
    const bool longListing = state.range(0) != 0;
    const std::string& listing = MillionLineListing();
    char pattern[] = "/tmp/tv-bench-ls-XXXXXX";
    if (!::mkdtemp(pattern)) {
        state.SkipWithError("no temporary folder");
        return;
    }
    const std::string root = pattern;
    std::filesystem::create_directories(root + "/data");
    std::filesystem::create_directories(root + "/config");

    double peak = 0;
    double cpu = 0;
    int lists = 0;
    for (auto _ : state) {
        tvtest::ScriptedServer server;
        server.setCommandTimeoutMs(60000);
        tvtest::Script script = tvtest::loginPrelude();
        script.push_back(tvtest::ScriptStep::on("PWD", "257 \"/\"\r\n"));
        script.push_back(tvtest::ScriptStep::on("PASV", "227 Entering Passive Mode ({pasv})\r\n").listenPassive());
        script.push_back(tvtest::ScriptStep::on("LIST.*", "150 Here it comes\r\n").sendData(listing).afterData("226 Done\r\n"));
        script.push_back(tvtest::ScriptStep::on("QUIT", "221 Bye\r\n"));
        server.addConnection(script);
        if (!server.start()) {
            state.SkipWithError("the scripted server did not start");
            break;
        }
        std::vector<std::string> args = {"--timeout", "30", "ls"};
        if (longListing)
            args.push_back("--long");
        args.push_back("ftp://127.0.0.1:" + std::to_string(server.port()) + "/");
        const ChildRun run = g_spawner.Run(root, args);
        state.SetIterationTime(run.seconds);
        if (run.exitCode != 0) {
            state.SkipWithError(("tollvane-cli exited with " + std::to_string(run.exitCode)).c_str());
            break;
        }
        peak = std::max(peak, run.peakMegabytes);
        cpu += run.cpuSeconds;
        lists = 0;
        for (const std::string& command : server.commands(0))
            lists += command.rfind("LIST", 0) == 0;
    }
    state.counters["peak_MB"] = peak;
    state.counters["cli_cpu_s"] = cpu / double(std::max<std::int64_t>(state.iterations(), 1));
    state.counters["LIST_sent"] = lists;
    std::filesystem::remove_all(root);
}
BENCHMARK(LsMillionLines)->ArgName("long")->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

BENCHMARK_MAIN();
