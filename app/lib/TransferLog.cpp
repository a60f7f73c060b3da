#include "app/lib/TransferLog.h"

#include "listing/PathRules.h"

namespace {

constexpr const char* kPrefixes[] = {
    "State:>\t\t", "Warning:>\t", "Error:>\t\t", "Reply:>\t", "Command:>\t",
};

} // namespace

const char* LogKindPrefix(int kind)
{
    if (kind < 0 || kind >= static_cast<int>(std::size(kPrefixes)))
        return "";
    return kPrefixes[kind];
}

std::string FormatLogLine(const CLogLine& line)
{
    std::string text;
    text.reserve(line.text.size() + 16);
    if (line.prefix)
        text = LogKindPrefix(line.kind);
    for (size_t i = 0; i < line.text.size(); ++i) {
        // A reply that ended in CR CR LF shows one CR.
        text += line.text[i];
        if (line.text[i] == '\r' && i + 1 < line.text.size() && line.text[i + 1] == '\r')
            ++i;
    }
    if (line.newline)
        text += '\n';
    return text;
}

CTransferLog::~CTransferLog()
{
    Close();
}

bool CTransferLog::Open(const std::string& dataFolder)
{
    std::lock_guard lock(m_mutex);
    if (m_file)
        std::fclose(m_file);
    m_file = std::fopen(JoinPath(dataFolder, kTransferLogName).c_str(), "ab");
    return m_file != nullptr;
}

void CTransferLog::Close()
{
    std::lock_guard lock(m_mutex);
    if (m_file)
        std::fclose(m_file);
    m_file = nullptr;
}

void CTransferLog::AddLine(const CLogLine& line)
{
    AppendText(FormatLogLine(line));
}

void CTransferLog::AppendText(const std::string& text)
{
    std::lock_guard lock(m_mutex);
    if (!m_file)
        return;
    // "%" is data here, never a format.
    std::fwrite(text.data(), 1, text.size(), m_file);
    std::fflush(m_file);
}
