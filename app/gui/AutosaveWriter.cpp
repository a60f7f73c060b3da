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

void AutosaveWriter::Submit(std::vector<CQueueSection> sections)
{
    {
        std::lock_guard lock(m_mutex);
        m_waiting = std::move(sections);
    }
    m_wake.notify_one();
}

void AutosaveWriter::ForgetQueues()
{
    std::lock_guard lock(m_mutex);
    m_waiting.reset();
    std::lock_guard walking(m_queuesMutex); // a walk under way ends first
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
        const std::vector<CQueueSection> sections = std::move(*m_waiting);
        m_waiting.reset();
        // Both taken before m_mutex is let go: ForgetQueues cannot return while these
        // queues are walked, and SaveNow cannot write in between and then be overwritten
        // by this older state.
        std::unique_lock walking(m_queuesMutex);
        std::unique_lock fileLock(m_fileMutex);
        lock.unlock();
        const auto start = std::chrono::steady_clock::now();
        const std::string text = FormatQueueFile(sections);
        walking.unlock();
        std::string error;
        const bool written = WriteSharedAutosave(m_dataFolder, m_loadedText, text, &error);
        fileLock.unlock();
        const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
        if (m_done)
            m_done(written, error, took);
    }
}
