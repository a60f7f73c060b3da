#include "ui/OpenSession.h"

OpenSession::OpenSession(CSharedSettings& settings, const CSiteSetting& site, const TransferLogSinks& sinks)
    : m_site(site), m_bridge(std::make_unique<QtSessionUi>()),
      m_session(std::make_unique<CFtpSession>(settings, site))
{
    m_bridge->setTransferLog(sinks);
    m_bridge->setSettings(&settings);
    m_session->SetUi(m_bridge.get());
}

OpenSession::~OpenSession()
{
    stop();
    m_session.reset();
}

void OpenSession::start()
{
    m_bridge->reopenQuestions();
    m_session->Start();
}

void OpenSession::stop()
{
    m_bridge->closeQuestions();
    m_session->StopThread();
}
