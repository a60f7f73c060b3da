// Times one queue run of the engine alone, without a front end: a whole directory tree
// (the per-file cost of the queue: commands, data connections, waits) or one file (the
// data path's throughput). bench/transfer/run.sh starts the server and runs it beside
// the other programs.
//
//   bench_queue_run get|getdir HOST PORT REMOTE_PATH LOCAL_FOLDER
//   bench_queue_run put|putdir HOST PORT LOCAL_PATH REMOTE_FOLDER
//
// get and put move one file, getdir and putdir a directory with everything beneath it.
// Anonymous login, passive mode, binary. Prints the wall time of the run (login not
// included) and the number of files it processed; exits 1 when the run did not succeed.

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>

#include <stdlib.h>

#include "session/FtpSession.h"
#include "session/QueueEntry.h"

namespace {

// Waits for the end of the login and of the queue run; prints error lines.
class BenchUi : public SessionUi {
public:
    void AddLogLine(const CLogLine& line) override
    {
        if (line.kind == LOG_ERROR && line.prefix)
            std::fprintf(stderr, "error: %s\n", line.text.c_str());
    }
    void DirectoryChanged(const std::string&) override { Signal(directoryKnown); }
    void ListingStarted() override {}
    void ListingComplete(const CListing&) override {}
    void QueueEntryStarted(QueueEntryId) override {}
    void QueueChanged(const CFtpSession&, const CQueueChange&) override {}
    void QueueRunFinished() override {}
    void Refresh() override {}
    void ShowLoginMessage(const std::string&, const std::string&) override {}
    int MessageBox(const std::string&, const std::string& text, int) override
    {
        std::fprintf(stderr, "message: %s\n", text.c_str());
        return IDNO;
    }
    void ShowMessageWindow(const std::string&, const std::string&, bool) override {}
    COverwriteAnswer AskOverwrite(const COverwriteQuestion&) override { return {2, true}; }
    void OpenDownloadedFile(const std::string&, int) override {}
    void CommandFinished(int code, int result) override
    {
        if (code != CMD_RUN_QUEUE)
            return;
        std::lock_guard lock(mutex);
        runResult = result;
        runEnded = true;
        changed.notify_all();
    }

    bool WaitForDirectory()
    {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(20), [&] { return directoryKnown; });
    }
    int WaitForRun()
    {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return runEnded; });
        return runResult;
    }

private:
    void Signal(bool& flag)
    {
        std::lock_guard lock(mutex);
        flag = true;
        changed.notify_all();
    }

    std::mutex mutex;
    std::condition_variable changed;
    bool directoryKnown = false;
    bool runEnded = false;
    int runResult = -1;
};

}  // namespace

int main(int argc, char** argv)
{
    const std::string mode = argc == 6 ? argv[1] : "";
    if (mode != "get" && mode != "getdir" && mode != "put" && mode != "putdir") {
        std::fprintf(stderr,
                     "usage: %s get|getdir HOST PORT REMOTE_PATH LOCAL_FOLDER\n"
                     "       %s put|putdir HOST PORT LOCAL_PATH REMOTE_FOLDER\n",
                     argv[0], argv[0]);
        return 2;
    }
    const bool download = mode.starts_with("get");
    const bool directory = mode.ends_with("dir");

    CSettings settings;
    settings.KeepAlive = 0;
    settings.pOverwrite = 0;
    settings.DefaultOverwriteAction = 2;  // overwrite
    settings.Timeout = 20;
    settings.ErrorRetry = 0;
    settings.FileRetry = 0;
    // As the programs run it: a directory cache on disk, "Always Online" on (the default).
    // ALWAYS_REFRESH=0 tries the other setting.
    if (const char* refresh = std::getenv("ALWAYS_REFRESH"))
        settings.AlwaysRefresh = std::atoi(refresh);
    char cacheTemplate[] = "/tmp/tv-bench-cache-XXXXXX";
    if (::mkdtemp(cacheTemplate) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string cacheFolder = cacheTemplate;
    settings.CacheHomeDirectory = cacheFolder + "/cache";
    settings.EnableCache = 1;

    CSessionSite site;
    site.address = argv[2];
    site.port = std::atoi(argv[3]);
    site.logintype = LOGIN_ANONYMOUS;
    site.username = "anonymous";
    site.password = "bench@example.org";
    site.passive = 1;

    BenchUi ui;
    CSharedSettings shared(settings);
    auto session = std::make_unique<CFtpSession>(shared, site);
    session->SetUi(&ui);
    session->SetTransferTypeSetting(1);
    session->Start();
    if (!ui.WaitForDirectory()) {
        std::fprintf(stderr, "no login within 20 s\n");
        session->StopThread();
        session.reset();
        std::filesystem::remove_all(cacheFolder);
        return 1;
    }

    auto entry = std::make_unique<CQueueEntry>();
    entry->operation = download ? QUEUE_DOWNLOAD : QUEUE_UPLOAD;
    entry->kind = directory ? KIND_DIRECTORY : KIND_FILE;
    entry->remotePath = download ? argv[4] : argv[5];
    entry->localPath = download ? argv[5] : argv[4];
    session->Queue().Append(std::move(entry));

    const auto start = std::chrono::steady_clock::now();
    session->IssueCommand(SimpleCommand(CMD_RUN_QUEUE));
    const int result = ui.WaitForRun();
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    const int files = session->FilesProcessed();
    session->StopThread();
    session.reset();
    std::filesystem::remove_all(cacheFolder);
    std::printf("%.3f s, %d files, result %d\n", took.count(), files, result);
    return result == FTP_OK ? 0 : 1;
}
