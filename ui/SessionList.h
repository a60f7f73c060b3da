#pragma once
// The open sites of the program, in the order they were opened, and the active one (whose
// tab the user looks at). Loading a queue file reaches the sessions through it.

#include "session/QueueFiles.h"
#include "sites/SharedSettings.h"
#include "sites/SiteSetting.h"
#include "ui/QtSessionUi.h"

#include <QObject>

#include <memory>
#include <vector>

class OpenSession;

class SessionList : public QObject, public IQueueSessions {
    Q_OBJECT
public:
    explicit SessionList(CSharedSettings& settings, QObject* parent = nullptr);
    ~SessionList() override;

    void setTransferLog(TransferLogSinks sinks) { m_sinks = std::move(sinks); }

    // A session for `site`, not started.
    OpenSession* add(const CSiteSetting& site);
    // add(), make it the active session and start it.
    OpenSession* open(const CSiteSetting& site);
    // Stops and destroys the session.
    void remove(OpenSession* session);
    // Stops every session's worker; the sessions stay in the list.
    void stopAll();
    // Stops and destroys every session.
    void clear();

    OpenSession* active() const { return m_active; }
    void setActive(OpenSession* session);
    const std::vector<std::unique_ptr<OpenSession>>& sessions() const { return m_sessions; }
    OpenSession* find(const CFtpSession* session) const;
    // Every session's queue, in list order, for a queue file.
    std::vector<CQueueSection> queueSections() const;

    // IQueueSessions
    CQueueTarget FindSession(const std::string& host) override;
    CQueueTarget CreateSession(const CSiteSetting& site) override;
    void SelectSession(const CQueueTarget& target) override;

signals:
    void sessionAdded(OpenSession* session);
    void sessionRemoved(OpenSession* session);
    void activeChanged(OpenSession* session);

private:
    CSharedSettings& m_settings;
    TransferLogSinks m_sinks;
    std::vector<std::unique_ptr<OpenSession>> m_sessions;
    OpenSession* m_active = nullptr;
};
