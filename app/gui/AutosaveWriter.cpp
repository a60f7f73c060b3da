#include "app/gui/AutosaveWriter.h"

#include "app/lib/SharedAutosave.h"

AutosaveWriter::AutosaveWriter(std::string dataFolder, std::string loadedText, Done done)
    : m_dataFolder(std::move(dataFolder)), m_done(std::move(done)), m_loadedText(std::move(loadedText))
{
    m_thread = std::thread([this] { Run(); });
}

AutosaveWriter::~AutosaveWriter()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_one();
    m_thread.join();
}

void AutosaveWriter::Submit(std::string ownText)
{
    {
        std::lock_guard lock(m_mutex);
        m_waiting = std::move(ownText);
    }
    m_wake.notify_one();
}

bool AutosaveWriter::SaveNow(const std::function<bool(std::string& loadedText)>& save)
{
    std::unique_lock lock(m_mutex);
    m_waiting.reset(); // older than what `save` writes
    std::unique_lock fileLock(m_fileMutex);
    lock.unlock();
    return save(m_loadedText);
}

void AutosaveWriter::Run()
{
    for (;;) {
        std::unique_lock lock(m_mutex);
        m_wake.wait(lock, [this] { return m_waiting.has_value() || m_stopping; });
        if (!m_waiting)
            return;
        const std::string text = std::move(*m_waiting);
        m_waiting.reset();
        // Taken before m_mutex is let go, so SaveNow cannot write in between and then be
        // overwritten by this older text.
        std::unique_lock fileLock(m_fileMutex);
        lock.unlock();
        std::string error;
        const bool written = WriteSharedAutosave(m_dataFolder, m_loadedText, text, &error);
        fileLock.unlock();
        if (m_done)
            m_done(written, error);
    }
}
