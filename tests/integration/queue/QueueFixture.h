#pragma once
// A session with a transfer queue under test: short time-outs and retry delays, a UI that
// records everything (and can act when a given log line arrives), a local work folder.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "session/FtpSession.h"
#include "tests/support/RecordingSessionUi.h"

namespace queuetest {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr auto kWait = 20s;

// Runs `action` on the worker thread when the log line `text` arrives, before the run
// goes on: a test changes the world between two steps of a run without racing it.
class HookedUi : public RecordingSessionUi {
public:
    void AddLogLine(const CLogLine& line) override {
        std::function<void()> action;
        {
            std::lock_guard lock(hookMutex_);
            auto found = hooks_.find(line.text);
            if (found != hooks_.end()) {
                action = std::move(found->second);
                hooks_.erase(found);
            }
        }
        if (action) action();
        RecordingSessionUi::AddLogLine(line);
    }
    void OnLine(const std::string& text, std::function<void()> action) {
        std::lock_guard lock(hookMutex_);
        hooks_[text] = std::move(action);
    }
    // Runs `action` on the worker when the next entry starts, before it is transferred.
    void OnEntryStarted(std::function<void(QueueEntryId)> action) {
        std::lock_guard lock(hookMutex_);
        entryHook_ = std::move(action);
    }
    void QueueEntryStarted(QueueEntryId id) override {
        std::function<void(QueueEntryId)> action;
        {
            std::lock_guard lock(hookMutex_);
            action = std::move(entryHook_);
            entryHook_ = nullptr;
        }
        if (action) action(id);
        RecordingSessionUi::QueueEntryStarted(id);
    }

private:
    std::function<void(QueueEntryId)> entryHook_;
    std::mutex hookMutex_;
    std::map<std::string, std::function<void()>> hooks_;
};

inline std::string ReadLocal(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

inline void WriteLocal(const fs::path& path, const std::string& content) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << content;
}

// Bytes no text-mode conversion leaves alone: a byte-for-byte comparison sees any change.
inline std::string BinaryContent(int seed, std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 31 + seed) & 0xFF);
    return bytes;
}

class QueueTestBase : public ::testing::Test {
protected:
    QueueTestBase() {
        work = fs::temp_directory_path() /
               ("tv-queue-" + std::to_string(::getpid()) + "-" + std::to_string(++counter));
        fs::remove_all(work);
        fs::create_directories(work / "local");
        settings.Timeout = 2;
        settings.RetryDelay = 1;
        settings.ErrorRetry = 0;
        settings.FileRetry = 0;
        settings.KeepAlive = 0;
        settings.AutoReset = 0;
        settings.pOverwrite = 0;
        settings.DefaultOverwriteAction = 2;  // overwrite
    }
    ~QueueTestBase() override {
        if (session) session->StopThread();
        session.reset();
        fs::remove_all(work);
    }

    void OpenSession(const CSessionSite& site) {
        session = std::make_unique<CFtpSession>(Publish(), site);
        session->SetUi(&ui);
        ASSERT_TRUE(session->Start());
        ASSERT_TRUE(ui.WaitForCall("DirectoryChanged", "/", kWait)) << ui.Transcript();
    }

    CQueueEntry& Add(int operation, int kind, const std::string& local, const std::string& remote) {
        auto entry = std::make_unique<CQueueEntry>();
        entry->operation = operation;
        entry->kind = kind;
        entry->localPath = local;
        entry->remotePath = remote;
        CQueueEntry& added = *entry;
        session->Queue().Append(std::move(entry));
        return added;
    }

    // Runs the queue (also an empty one) and waits for the run's end; its result.
    int RunQueue() {
        session->IssueCommand(SimpleCommand(CMD_RUN_QUEUE));
        return ui.WaitForCommandResult(CMD_RUN_QUEUE, kWait, ++runs);
    }

    // The engine's own state lines (not the server's replies nor our commands), in order.
    std::vector<std::string> QueueLines() const {
        std::vector<std::string> texts;
        for (const CLogLine& line : ui.Lines())
            if (line.kind == LOG_STATE || line.kind == LOG_ERROR || line.kind == LOG_WARNING)
                texts.push_back(line.text);
        return texts;
    }
    // True when `expected` appears in the log in this order (other lines between).
    bool InOrder(const std::vector<std::string>& expected) const {
        std::size_t at = 0;
        for (const std::string& text : QueueLines())
            if (at < expected.size() && text == expected[at]) ++at;
        return at == expected.size();
    }
    int CountKind(int kind, const std::string& start) const {
        int count = 0;
        for (const CLogLine& line : ui.Lines())
            count += line.kind == kind && line.text.rfind(start, 0) == 0;
        return count;
    }

    // The table a test fills in; Publish() makes it the one the sessions follow (a
    // running worker from its next operation on).
    CSettings settings;
    CSharedSettings sharedSettings;
    CSharedSettings& Publish() {
        sharedSettings.Replace(settings);
        return sharedSettings;
    }
    HookedUi ui;
    std::unique_ptr<CFtpSession> session;
    fs::path work;
    int runs = 0;
    static inline int counter = 0;
};

}  // namespace queuetest
