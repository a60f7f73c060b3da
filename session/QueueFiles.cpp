#include "session/QueueFiles.h"

#include <cerrno>
#include <cstring>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

#include "listing/PathRules.h"
#include "platform/TextLineReader.h"
#include "session/QueueEntry.h"
#include "session/TransferQueue.h"
#include "sites/AtomicFile.h"
#include "sites/TextUtil.h"

std::string ProposedQueueFileName(bool selectedOnly, const std::vector<std::string>& selectedItems)
{
    if (!selectedOnly || selectedItems.empty())
        return "allsites.tvq";
    if (selectedItems.size() > 1)
        return "selsites.tvq";
    return selectedItems.front() + ".tvq";
}

std::string FormatQueueFile(const std::vector<CQueueSection>& sections, int* skipped)
{
    std::string text;
    int unwritable = 0;
    for (const CQueueSection& section : sections) {
        if (!section.queue || section.queue->IsEmpty())
            continue;
        if (sites::ContainsLineBreak(section.host)) {
            unwritable += int(section.queue->Size());
            continue;
        }
        std::string lines;
        section.queue->ForEach([&](const CQueueEntry& entry) {
            if (!entry.WriteLine(lines))
                ++unwritable;
        });
        if (lines.empty())
            continue;
        text += "[" + section.host + "]\n";
        text += lines;
        text += "\n";
    }
    if (skipped)
        *skipped = unwritable;
    return text;
}

bool SaveQueues(const std::vector<CQueueSection>& sections, const std::string& path,
                std::string* error, int* skipped)
{
    return sites::WriteFileAtomically(path, FormatQueueFile(sections, skipped), 0644, error);
}

CSiteSetting SiteForHost(const SiteList& sites, const std::string& host, const CSettings& settings)
{
    CSiteSetting site;
    site.password = settings.AnonymousPass;
    for (auto it = sites.rbegin(); it != sites.rend(); ++it) {
        if (*it && (*it)->address == host) {
            site = **it;
            break;
        }
    }
    site.address = host;
    return site;
}

CQueueTarget FindOrCreateSession(IQueueSessions& sessions, const SiteList& sites,
                                 const std::string& host, const CSettings& settings)
{
    if (CQueueTarget found = sessions.FindSession(host))
        return found;
    return sessions.CreateSession(SiteForHost(sites, host, settings));
}

namespace {

// Reads the sections of one queue file. Lines are whole lines of any length the reader
// supports (never split into two entries); over-long ones are left out and reported.
class CQueueFileLoader {
public:
    CQueueFileLoader(IQueueSessions& sessions, const SiteList& sites, const CSettings& settings,
                     CQueueLoadResult& result)
        : m_sessions(sessions), m_sites(sites), m_settings(settings), m_result(result)
    {
    }

    void Load(CTextLineReader& reader)
    {
        std::string raw;
        CQueueTarget section;
        bool inSection = false;
        while (reader.ReadLine(raw)) {
            const std::string line = sites::Trim(raw);
            if (!inSection) {
                if (line.empty() || line[0] != '[')
                    continue;
                inSection = true;
                section = OpenSection(line);
                continue;
            }
            if (line.empty()) {
                inSection = false;
                continue;
            }
            if (line[0] == '[') {
                // A header without the empty line before it: entry lines start with a
                // digit, so this begins the next site's section, never an entry of this one.
                section = OpenSection(line);
                continue;
            }
            if (section)
                AddEntry(section, line);
        }
        if (reader.SkippedLongLines() > 0)
            Warn(std::to_string(reader.SkippedLongLines()) +
                 " over-long line(s) left out of the queue file.");
    }

private:
    CQueueTarget OpenSection(const std::string& header)
    {
        // The host is the header without its first and last character.
        const std::string host = header.size() >= 2 ? header.substr(1, header.size() - 2) : "";
        if (host.empty() || host.find('\0') != std::string::npos) {
            Warn("Queue section \"" + header + "\" left out: it names no usable host.");
            return {};
        }
        CQueueTarget target = FindOrCreateSession(m_sessions, m_sites, host, m_settings);
        if (!target)
            Warn("Queue section [" + host + "] left out: no session could be created for it.");
        else
            m_result.lastSession = target;
        return target;
    }

    void AddEntry(const CQueueTarget& section, const std::string& line)
    {
        auto entry = std::make_unique<CQueueEntry>();
        std::string message;
        if (entry->ReadLine(line, &message) != QueueLineResult::Entry) {
            Warn(message);
            return;
        }
        if (entry->operation == QUEUE_DOWNLOAD && IsSiteToSiteTarget(entry->localPath)) {
            // The partner is not stored: find the other site again, so the entry copies
            // between servers instead of writing into a local folder named "ftp:".
            const std::string host = SiteToSiteHost(entry->localPath);
            CQueueTarget partner;
            if (!host.empty())
                partner = FindOrCreateSession(m_sessions, m_sites, host, m_settings);
            if (!partner.session) {
                Warn("Queue line skipped: no session for the site-to-site target " +
                     entry->localPath + ".");
                return;
            }
            entry->partner = partner.session;
        }
        section.queue->Append(std::move(entry));
        ++m_result.entries;
    }

    void Warn(const std::string& text) { m_result.warnings.push_back(text); }

    IQueueSessions& m_sessions;
    const SiteList& m_sites;
    const CSettings& m_settings;
    CQueueLoadResult& m_result;
};

} // namespace

CQueueLoadResult LoadQueueFile(const std::string& path, IQueueSessions& sessions,
                               const SiteList& sites, const CSettings& settings)
{
    CQueueLoadResult result;
    CTextLineReader reader(COverlongLine::Skip);
    if (!reader.Open(path)) {
        result.error = "Can't open " + path + "!";
        return result;
    }
    result.opened = true;
    CQueueFileLoader(sessions, sites, settings, result).Load(reader);
    reader.Close();
    if (result.lastSession)
        sessions.SelectSession(result.lastSession);
    return result;
}

CQueueLoadResult LoadAutosave(const std::string& dataFolder, IQueueSessions& sessions,
                              const SiteList& sites, const CSettings& settings)
{
    const std::string path = JoinPath(dataFolder, kAutosaveFileName);
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return {};
    return LoadQueueFile(path, sessions, sites, settings);
}

bool SaveAutosave(const std::string& dataFolder, const std::vector<CQueueSection>& sections,
                  const CSettings& settings, std::string* error)
{
    const std::string path = JoinPath(dataFolder, kAutosaveFileName);
    if (settings.SaveQueue != 0)
        return SaveQueues(sections, path, error);
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
        if (error)
            *error = path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}
