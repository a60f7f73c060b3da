#pragma once
// The transfer log: every log line of every site, appended to "transfer.log" in the data
// folder in the order the lines arrive. The file is opened once and flushed after each
// line, so a crash loses nothing already shown. Several sessions may log at once.

#include "session/LogLineText.h"
#include "session/SessionUi.h"

#include <cstdio>
#include <mutex>
#include <string>

inline constexpr char kTransferLogName[] = "transfer.log";

class CTransferLog {
public:
    CTransferLog() = default;
    ~CTransferLog();
    CTransferLog(const CTransferLog&) = delete;
    CTransferLog& operator=(const CTransferLog&) = delete;

    // Opens (creating when missing) "transfer.log" in `dataFolder` for appending. False
    // when it cannot be opened; lines are then only not written to the file.
    bool Open(const std::string& dataFolder);
    bool IsOpen() const { return m_file != nullptr; }
    void Close();

    void AddLine(const CLogLine& line);
    // Text written unchanged (for lines that are not log records).
    void AppendText(const std::string& text);

private:
    std::mutex m_mutex;
    std::FILE* m_file = nullptr;
};
