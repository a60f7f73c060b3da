#pragma once
// The transfer log: every log line of every site, appended to "transfer.log" in the data
// folder in the order the lines arrive. The file is opened once and flushed after each
// line, so a crash loses nothing already shown. Several sessions may log at once.
// It names servers, accounts and files: only its owner may read it (mode 0600). It keeps
// the last few megabytes: past the limit its older half is dropped, at a line start.

#include "session/LogLineText.h"
#include "session/SessionUi.h"

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

inline constexpr char kTransferLogName[] = "transfer.log";

inline constexpr std::uint64_t kTransferLogLimit = 8u << 20;

class CTransferLog {
public:
    // `limit`: the size past which the file is cut to its newer half.
    explicit CTransferLog(std::uint64_t limit = kTransferLogLimit) : m_limit(limit) {}
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
    bool OpenFile();        // m_mutex held
    void CutToNewerHalf();  // m_mutex held; the file is closed and opened again

    const std::uint64_t m_limit;
    std::mutex m_mutex;
    std::string m_path;
    std::FILE* m_file = nullptr;
    std::uint64_t m_size = 0;
};
