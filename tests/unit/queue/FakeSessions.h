#pragma once
// A stand-in for the application's session list and site list, for loading queue files.

#include <memory>
#include <string>
#include <vector>

#include "session/QueueFiles.h"
#include "session/TransferQueue.h"

class FakeSessions : public IQueueSessions {
public:
    struct Session {
        CSiteSetting site;
        CTransferQueue queue;
    };

    CQueueTarget FindSession(const std::string& host) override
    {
        for (auto& session : sessions)
            if (session->site.address == host)
                return Target(*session);
        return {};
    }
    CQueueTarget CreateSession(const CSiteSetting& site) override
    {
        if (refuseCreation)
            return {};
        sessions.push_back(std::make_unique<Session>());
        sessions.back()->site = site;
        return Target(*sessions.back());
    }
    void SelectSession(const CQueueTarget& target) override { selected.push_back(target.queue); }

    Session* Find(const std::string& host)
    {
        for (auto& session : sessions)
            if (session->site.address == host)
                return session.get();
        return nullptr;
    }
    // Sessions are identified by address only: the pointer stands for the session and is
    // compared, never used.
    static CFtpSession* Id(Session& session)
    {
        return static_cast<CFtpSession*>(static_cast<void*>(&session));
    }

    std::vector<std::unique_ptr<Session>> sessions;
    std::vector<const CTransferQueue*> selected;
    bool refuseCreation = false;

private:
    static CQueueTarget Target(Session& session) { return {Id(session), &session.queue}; }
};
