// tollvane-cli "ls" and "ls --long" of a folder whose listing has 1,000,000 lines (about
// 66 MB), end to end: a scripted server on loopback sends the listing once, the program
// receives it, caches it and prints it to /dev/null. Reported: wall time per run and the
// program's peak memory (goal for --long: under 3 s and under 250 MB), and how many LIST
// commands reached the server (goal: one).

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
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
    double peakMegabytes = 0;
};

// Runs tollvane-cli with its own data and settings folders, output to /dev/null.
ChildRun RunCli(const std::string& root, const std::vector<std::string>& args)
{
    const std::string program = TOLLVANE_BINARY_DIR "/app/tollvane-cli";
    const auto started = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setenv("XDG_DATA_HOME", (root + "/data").c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::dup2(null, 2);
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        std::vector<std::string> copies = args;
        for (std::string& arg : copies)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    int status = 0;
    struct rusage usage = {};
    ::wait4(pid, &status, 0, &usage);
    ChildRun run;
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.peakMegabytes = double(usage.ru_maxrss) / 1024.0; // kilobytes on Linux
    return run;
}

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
        const ChildRun run = RunCli(root, args);
        state.SetIterationTime(run.seconds);
        if (run.exitCode != 0) {
            state.SkipWithError(("tollvane-cli exited with " + std::to_string(run.exitCode)).c_str());
            break;
        }
        peak = std::max(peak, run.peakMegabytes);
        lists = 0;
        for (const std::string& command : server.commands(0))
            lists += command.rfind("LIST", 0) == 0;
    }
    state.counters["peak_MB"] = peak;
    state.counters["LIST_sent"] = lists;
    std::filesystem::remove_all(root);
}
BENCHMARK(LsMillionLines)->ArgName("long")->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

BENCHMARK_MAIN();
