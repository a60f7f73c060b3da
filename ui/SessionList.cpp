#include "ui/SessionList.h"

#include "ui/OpenSession.h"

#include <algorithm>

SessionList::SessionList(CSharedSettings& settings, QObject* parent) : QObject(parent), m_settings(settings) {}

SessionList::~SessionList()
{
    clear();
}

OpenSession* SessionList::add(const CSiteSetting& site)
{
    m_sessions.push_back(std::make_unique<OpenSession>(m_settings, site, m_sinks));
    OpenSession* added = m_sessions.back().get();
    // Starting the queue of a session that is not running opens it.
    added->session().SetOpenRequestHandler([this, added](CFtpSession&) {
        setActive(added);
        added->start();
    });
    emit sessionAdded(added);
    return added;
}

OpenSession* SessionList::open(const CSiteSetting& site)
{
    OpenSession* opened = add(site);
    setActive(opened);
    opened->start();
    return opened;
}

void SessionList::remove(OpenSession* session)
{
    const auto it = std::find_if(m_sessions.begin(), m_sessions.end(),
                                 [session](const auto& owned) { return owned.get() == session; });
    if (it == m_sessions.end())
        return;
    session->stop();
    if (m_active == session)
        setActive(nullptr);
    emit sessionRemoved(session);
    m_sessions.erase(it);
}

void SessionList::stopAll()
{
    // Every question first, so no worker waits on another's answer while being stopped.
    for (const auto& session : m_sessions)
        session->bridge().closeQuestions();
    for (const auto& session : m_sessions)
        session->stop();
}

void SessionList::clear()
{
    stopAll();
    setActive(nullptr);
    while (!m_sessions.empty()) {
        OpenSession* last = m_sessions.back().get();
        emit sessionRemoved(last);
        m_sessions.pop_back();
    }
}

void SessionList::setActive(OpenSession* session)
{
    if (m_active == session)
        return;
    m_active = session;
    emit activeChanged(session);
}

OpenSession* SessionList::find(const CFtpSession* session) const
{
    for (const auto& owned : m_sessions) {
        if (&owned->session() == session)
            return owned.get();
    }
    return nullptr;
}

std::vector<CQueueSection> SessionList::queueSections() const
{
    std::vector<CQueueSection> sections;
    for (const auto& owned : m_sessions)
        sections.push_back({owned->session().HostName(), &owned->session().Queue()});
    return sections;
}

CQueueTarget SessionList::FindSession(const std::string& host)
{
    for (const auto& owned : m_sessions) {
        if (owned->session().HostName() == host)
            return {&owned->session(), &owned->session().Queue()};
    }
    return {};
}

CQueueTarget SessionList::CreateSession(const CSiteSetting& site)
{
    OpenSession* created = add(site);
    return {&created->session(), &created->session().Queue()};
}

void SessionList::SelectSession(const CQueueTarget& target)
{
    if (OpenSession* session = find(target.session))
        setActive(session);
}
