#include "tests/support/RecordingSessionUi.h"

#include <algorithm>

void RecordingSessionUi::Record(Call call) {
    {
        std::lock_guard lock(mutex_);
        calls_.push_back(std::move(call));
    }
    changed_.notify_all();
}

void RecordingSessionUi::AddLogLine(const CLogLine& line) {
    {
        std::lock_guard lock(mutex_);
        lines_.push_back(line);
    }
    changed_.notify_all();
}

void RecordingSessionUi::DirectoryChanged(const std::string& directory) {
    Record({"DirectoryChanged", directory});
}
void RecordingSessionUi::ListingStarted() { Record({"ListingStarted", ""}); }
void RecordingSessionUi::ListingComplete(const CListing& listing) {
    {
        std::lock_guard lock(mutex_);
        listings_.push_back(listing);
    }
    Record({"ListingComplete", listing.folder});
}
void RecordingSessionUi::QueueEntryStarted(QueueEntryId id) {
    Record({"QueueEntryStarted", std::to_string(id)});
}
void RecordingSessionUi::QueueChanged(const CFtpSession&, const CQueueChange& change) {
    std::string detail;
    switch (change.kind) {
    case CQueueChange::Kind::Added: detail = "added"; break;
    case CQueueChange::Kind::Removed: detail = "removed"; break;
    case CQueueChange::Kind::Changed: detail = "changed"; break;
    case CQueueChange::Kind::Moved: detail = "moved"; break;
    }
    for (QueueEntryId id : change.entries) detail += "|" + std::to_string(id);
    Record({"QueueChanged", detail});
}

std::vector<CListing> RecordingSessionUi::Listings() const {
    std::lock_guard lock(mutex_);
    return listings_;
}
void RecordingSessionUi::QueueRunFinished() { Record({"QueueRunFinished", ""}); }
void RecordingSessionUi::Refresh() { Record({"Refresh", ""}); }
void RecordingSessionUi::ShowLoginMessage(const std::string& host, const std::string& message) {
    Record({"ShowLoginMessage", host + "|" + message});
}

int RecordingSessionUi::MessageBox(const std::string& caption, const std::string& text,
                                   int style) {
    Record({"MessageBox", caption + "|" + text + "|" + std::to_string(style)});
    std::lock_guard lock(mutex_);
    return messageBoxAnswer_;
}

void RecordingSessionUi::ShowMessageWindow(const std::string& caption, const std::string& text,
                                           bool modal) {
    Record({"ShowMessageWindow", caption + "|" + text + "|" + (modal ? "modal" : "modeless")});
}

COverwriteAnswer RecordingSessionUi::AskOverwrite(const COverwriteQuestion& question) {
    {
        std::lock_guard lock(mutex_);
        overwriteQuestions_.push_back(question);
    }
    Record({"AskOverwrite", question.sourceFile + "|" + question.targetFile});
    std::lock_guard lock(mutex_);
    return overwriteAnswer_;
}

std::vector<COverwriteQuestion> RecordingSessionUi::OverwriteQuestions() const {
    std::lock_guard lock(mutex_);
    return overwriteQuestions_;
}

void RecordingSessionUi::AddTransferLogLine(const std::string& text) {
    Record({"TransferLog", text});
}

void RecordingSessionUi::CommandFinished(int code, int result) {
    Record({"CommandFinished", std::to_string(code) + "|" + std::to_string(result)});
}

int RecordingSessionUi::WaitForCommandResult(int code, std::chrono::milliseconds timeout,
                                             int occurrence) const {
    const std::string prefix = std::to_string(code) + "|";
    int result = -1;
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, timeout, [&] {
        int seen = 0;
        for (const Call& call : calls_) {
            if (call.name != "CommandFinished" || call.detail.rfind(prefix, 0) != 0) continue;
            if (++seen == occurrence) {
                result = std::stoi(call.detail.substr(prefix.size()));
                return true;
            }
        }
        return false;
    });
    return result;
}

void RecordingSessionUi::OpenDownloadedFile(const std::string& localPath, int how) {
    Record({"OpenDownloadedFile", localPath + "|" + std::to_string(how)});
}

void RecordingSessionUi::SetMessageBoxAnswer(int button) {
    std::lock_guard lock(mutex_);
    messageBoxAnswer_ = button;
}

void RecordingSessionUi::SetOverwriteAnswer(COverwriteAnswer answer) {
    std::lock_guard lock(mutex_);
    overwriteAnswer_ = answer;
}

std::vector<CLogLine> RecordingSessionUi::Lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
}

std::vector<RecordingSessionUi::Call> RecordingSessionUi::Calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
}

static int CountText(const std::vector<CLogLine>& lines, const std::string& text) {
    return static_cast<int>(std::count_if(lines.begin(), lines.end(),
                                          [&](const CLogLine& l) { return l.text == text; }));
}

int RecordingSessionUi::CountLines(const std::string& text) const {
    std::lock_guard lock(mutex_);
    return CountText(lines_, text);
}

bool RecordingSessionUi::WaitForLine(const std::string& text, std::chrono::milliseconds timeout,
                                     int occurrence) const {
    return WaitUntil(
        [&](const std::vector<CLogLine>& lines) { return CountText(lines, text) >= occurrence; },
        timeout);
}

bool RecordingSessionUi::WaitUntil(
    const std::function<bool(const std::vector<CLogLine>&)>& ready,
    std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return ready(lines_); });
}

bool RecordingSessionUi::WaitForCall(const std::string& name, const std::string& detail,
                                     std::chrono::milliseconds timeout, int occurrence) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] {
        return std::count_if(calls_.begin(), calls_.end(), [&](const Call& call) {
                   return call.name == name && call.detail == detail;
               }) >= occurrence;
    });
}

std::string RecordingSessionUi::PrefixOf(int kind) {
    static const char* const prefixes[] = {"State:>\t\t", "Warning:>\t", "Error:>\t\t",
                                           "Reply:>\t", "Command:>\t"};
    return kind >= 0 && kind < 5 ? prefixes[kind] : "";
}

std::string RecordingSessionUi::Transcript() const {
    std::lock_guard lock(mutex_);
    std::string out;
    for (const CLogLine& line : lines_) {
        if (line.prefix) out += PrefixOf(line.kind);
        out += line.text;
        if (line.newline) out += "\r\n";
    }
    return out;
}

void RecordingSessionUi::Clear() {
    std::lock_guard lock(mutex_);
    lines_.clear();
    calls_.clear();
    listings_.clear();
    overwriteQuestions_.clear();
}
