#include "app/lib/TransferLog.h"

#include "listing/PathRules.h"

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
