#include "app/lib/SharedAutosave.h"

#include "listing/PathRules.h"
#include "sites/AtomicFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <sstream>
#include <utility>

AutosaveLock::AutosaveLock(const std::string& autosavePath)
{
    m_fd = ::open((autosavePath + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (m_fd < 0)
        return;
    while (::flock(m_fd, LOCK_EX) != 0) {
        if (errno != EINTR) {
            ::close(m_fd);
            m_fd = -1;
            return;
        }
    }
}

AutosaveLock::~AutosaveLock()
{
    if (m_fd >= 0) {
        ::flock(m_fd, LOCK_UN);
        ::close(m_fd);
    }
}

namespace {

// Queue-file text as (host, entry line) pairs in file order.
std::vector<std::pair<std::string, std::string>> Entries(const std::string& text)
{
    std::vector<std::pair<std::string, std::string>> entries;
    std::istringstream in(text);
    std::string line;
    std::string host;
    bool inSection = false;
    while (std::getline(in, line)) {
        while (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty()) {
            inSection = false;
        } else if (line.front() == '[' && line.back() == ']') {
            host = line.substr(1, line.size() - 2);
            inSection = true;
        } else if (inSection) {
            entries.emplace_back(host, line);
        }
    }
    return entries;
}

} // namespace

std::string EntriesAddedSince(const std::string& loaded, const std::string& current)
{
    std::map<std::pair<std::string, std::string>, int> known;
    for (auto& entry : Entries(loaded))
        ++known[entry];
    std::string text;
    std::string openHost;
    bool open = false;
    for (auto& entry : Entries(current)) {
        auto it = known.find(entry);
        if (it != known.end() && it->second > 0) {
            --it->second;
            continue;
        }
        if (!open || entry.first != openHost) {
            if (open)
                text += '\n';
            text += '[' + entry.first + "]\n";
            openHost = entry.first;
            open = true;
        }
        text += entry.second + '\n';
    }
    if (open)
        text += '\n';
    return text;
}

CQueueLoadResult LoadSharedAutosave(const std::string& dataFolder, IQueueSessions& sessions,
                                    const SiteList& sites, const CSettings& settings,
                                    std::string* loadedText)
{
    const std::string path = JoinPath(dataFolder, kAutosaveFileName);
    AutosaveLock lock(path);
    loadedText->clear();
    sites::ReadWholeFile(path, *loadedText);
    return LoadAutosave(dataFolder, sessions, sites, settings);
}

bool SaveSharedAutosave(const std::string& dataFolder, std::string& loadedText,
                        const std::vector<CQueueSection>& sections, const CSettings& settings,
                        std::string* error)
{
    if (settings.SaveQueue == 0) {
        AutosaveLock lock(JoinPath(dataFolder, kAutosaveFileName));
        return SaveAutosave(dataFolder, sections, settings, error);
    }
    return WriteSharedAutosave(dataFolder, loadedText, FormatQueueFile(sections), error);
}

bool WriteSharedAutosave(const std::string& dataFolder, std::string& loadedText, const std::string& ownText,
                         std::string* error)
{
    const std::string path = JoinPath(dataFolder, kAutosaveFileName);
    AutosaveLock lock(path);
    std::string current;
    sites::ReadWholeFile(path, current);
    if (!sites::WriteFileAtomically(path, EntriesAddedSince(loadedText, current) + ownText, 0644, error))
        return false;
    // From now on the file holds these entries of ours; everything else in it is others'.
    loadedText = ownText;
    return true;
}
