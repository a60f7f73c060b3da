#include "ui/JobFiles.h"

#include "session/Jobs.h"
#include "ui/OpenSession.h"
#include "ui/SessionList.h"

#include <algorithm>

namespace {

// Passes every request on to the session list and notes the sessions the job reaches.
class RecordingSessions final : public IQueueSessions {
public:
    explicit RecordingSessions(SessionList& sessions) : m_sessions(sessions) {}

    CQueueTarget FindSession(const std::string& host) override { return note(m_sessions.FindSession(host)); }
    CQueueTarget CreateSession(const CSiteSetting& site) override { return note(m_sessions.CreateSession(site)); }
    void SelectSession(const CQueueTarget& target) override { m_sessions.SelectSession(target); }

    std::vector<OpenSession*> touched;

private:
    CQueueTarget note(const CQueueTarget& target)
    {
        if (OpenSession* session = target ? m_sessions.find(target.session) : nullptr;
            session && std::find(touched.begin(), touched.end(), session) == touched.end())
            touched.push_back(session);
        return target;
    }
    SessionList& m_sessions;
};

} // namespace

JobImportResult ImportJobFile(SessionList& sessions, const SiteList& sites, const CSettings& settings,
                              const std::string& path)
{
    RecordingSessions recording(sessions);
    JobImportResult result;
    result.load = LoadJob(path, recording, sites, settings);
    result.touched = std::move(recording.touched);
    return result;
}

bool SaveJobFile(const std::vector<OpenSession*>& sessions, const std::string& path, std::string* error)
{
    std::vector<CQueueSection> sections;
    for (OpenSession* session : sessions)
        sections.push_back({session->session().HostName(), &session->session().Queue()});
    return SaveQueues(sections, path, error);
}
