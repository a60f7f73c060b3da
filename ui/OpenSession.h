#pragma once
// One open site: its session and the bridge that shows it. The bridge is made first and
// goes last, so the session's worker never calls a bridge that is gone.

#include "session/FtpSession.h"
#include "sites/SiteSetting.h"
#include "ui/QtSessionUi.h"

#include <memory>

class OpenSession {
public:
    OpenSession(CSharedSettings& settings, const CSiteSetting& site, const TransferLogSinks& sinks);
    ~OpenSession();
    OpenSession(const OpenSession&) = delete;
    OpenSession& operator=(const OpenSession&) = delete;

    CFtpSession& session() { return *m_session; }
    const CFtpSession& session() const { return *m_session; }
    QtSessionUi& bridge() { return *m_bridge; }
    const CSiteSetting& site() const { return m_site; }

    // Starts the worker (or asks a running one to connect).
    void start();
    // Answers open questions cautiously, then ends the worker.
    void stop();

private:
    CSiteSetting m_site;
    std::unique_ptr<QtSessionUi> m_bridge;
    std::unique_ptr<CFtpSession> m_session;
};
