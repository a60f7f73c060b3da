#pragma once
// A SessionUi for tests: records every call in arrival order and lets a test wait, with a
// time-out, until a given log line has arrived. Safe to use from the worker thread and the
// test thread at once. Questions are answered from settable replies.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "session/SessionUi.h"

class RecordingSessionUi : public SessionUi {
public:
    // One call other than a log line: its name ("DirectoryChanged", "MessageBox", ...) and
    // its text arguments joined with "|".
    struct Call {
        std::string name;
        std::string detail;
    };

    void AddLogLine(const CLogLine& line) override;
    void DirectoryChanged(const std::string& directory) override;
    void ListingStarted() override;
    // Recorded with the folder as detail; the listing itself is kept (Listings()).
    void ListingComplete(const CListing& listing) override;
    // Recorded with the entry's identity as detail.
    void QueueEntryStarted(QueueEntryId id) override;
    // Recorded with the detail "added|removed|changed|moved" and "|id" per entry. Arrives on
    // any thread (the test's own for its edits), which the recorder's lock allows.
    void QueueChanged(const CFtpSession& session, const CQueueChange& change) override;
    void QueueRunFinished() override;
    void Refresh() override;
    void ShowLoginMessage(const std::string& host, const std::string& message) override;
    int MessageBox(const std::string& caption, const std::string& text, int style) override;
    void ShowMessageWindow(const std::string& caption, const std::string& text,
                           bool modal) override;
    COverwriteAnswer AskOverwrite(const COverwriteQuestion& question) override;
    void OpenDownloadedFile(const std::string& localPath, int how) override;
    void AddTransferLogLine(const std::string& text) override;
    // Recorded as "CommandFinished" with the detail "code|result".
    void CommandFinished(int code, int result) override;
    // Waits for the `occurrence`-th end of command `code`; its result, or -1 on time-out.
    int WaitForCommandResult(int code, std::chrono::milliseconds timeout, int occurrence = 1) const;
    // Every overwrite question asked so far.
    std::vector<COverwriteQuestion> OverwriteQuestions() const;

    // Forgets everything recorded (between the cases of a table, with no session attached).
    void Clear();
    // Answers given from now on.
    void SetMessageBoxAnswer(int button);
    void SetOverwriteAnswer(COverwriteAnswer answer);

    std::vector<CLogLine> Lines() const;
    // Every listing handed over, in order.
    std::vector<CListing> Listings() const;
    std::vector<Call> Calls() const;
    // Number of log pieces whose text is exactly `text`.
    int CountLines(const std::string& text) const;
    // Waits until the `occurrence`-th log piece with exactly this text has arrived.
    bool WaitForLine(const std::string& text, std::chrono::milliseconds timeout,
                     int occurrence = 1) const;
    // Waits until `ready` holds for the lines received so far.
    bool WaitUntil(const std::function<bool(const std::vector<CLogLine>&)>& ready,
                   std::chrono::milliseconds timeout) const;
    // Waits until the `occurrence`-th call `name` with exactly this detail has arrived.
    bool WaitForCall(const std::string& name, const std::string& detail,
                     std::chrono::milliseconds timeout, int occurrence = 1) const;
    // The log as the log window would show it (with prefixes), for failure messages.
    std::string Transcript() const;
    // Prefix the log window puts before a line of `kind`.
    static std::string PrefixOf(int kind);

private:
    void Record(Call call);

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<CLogLine> lines_;
    std::vector<Call> calls_;
    std::vector<CListing> listings_;
    int messageBoxAnswer_ = IDCANCEL;
    COverwriteAnswer overwriteAnswer_{0, false};
    std::vector<COverwriteQuestion> overwriteQuestions_;
};
