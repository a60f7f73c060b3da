#include "app/cli/CliQueueRun.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace {

using namespace std::chrono_literals;

constexpr auto kPollInterval = 20ms;

} // namespace

namespace {

// Nothing keeps a connection open after its queue has ended: no anti-idle commands, no
// reconnects beyond those a running queue makes itself.
CSettings QueueRunSettings(CSettings settings)
{
    settings.KeepAlive = 0;
    settings.AntiIdleCommandInterval = 0;
    return settings;
}

} // namespace

CliQueueRun::CliQueueRun(const CSettings& settings, const CliSessionUi::Output& output, int transferType,
                         bool labelSites)
    : m_settings(QueueRunSettings(settings)), m_output(output), m_transferType(transferType), m_labelSites(labelSites)
{
}

CliQueueRun::~CliQueueRun()
{
    CloseAll(false);
}

CliQueueRun::Site& CliQueueRun::Adopt(std::unique_ptr<CFtpSession> session)
{
    CliSessionUi::Output output = m_output;
    if (m_labelSites)
        output.label = session->HostName() + ": ";
    output.queueChanged = [this] {
        if (m_queueChanged)
            m_queueChanged();
    };
    Site site;
    site.ui = std::make_unique<CliSessionUi>(output);
    site.session = std::move(session);
    site.ui->Attach(site.session.get());
    site.session->SetUi(site.ui.get());
    site.session->SetTransferTypeSetting(m_transferType);
    // Another pass over the failed entries tries their files again: on the command line
    // --file-retry limits it too, so that 0 means a failed file is never tried again.
    const std::shared_ptr<const CSettings> settings = m_settings.Current();
    site.session->SetQueueCycleLimit(std::min(settings->ErrorRetry, settings->FileRetry));
    m_sites.push_back(std::move(site));
    return m_sites.back();
}

CFtpSession& CliQueueRun::AddSession(const CSessionSite& site)
{
    return *Adopt(std::make_unique<CFtpSession>(m_settings, site)).session;
}

CQueueTarget CliQueueRun::FindSession(const std::string& host)
{
    for (Site& site : m_sites)
        if (site.session->HostName() == host)
            return {site.session.get(), &site.session->Queue()};
    return {};
}

CQueueTarget CliQueueRun::CreateSession(const CSiteSetting& record)
{
    Site& site = Adopt(std::make_unique<CFtpSession>(m_settings, record));
    return {site.session.get(), &site.session->Queue()};
}

CliSessionUi& CliQueueRun::UiOf(const CFtpSession& session)
{
    for (Site& site : m_sites)
        if (site.session.get() == &session)
            return *site.ui;
    return *m_sites.front().ui; // every session given out is one of ours
}

int CliQueueRun::Connect(CFtpSession& session, std::string& directory)
{
    const CliSessionUi& ui = UiOf(session);
    const int status = StartAndWaitOnline(session, ui);
    if (status != kExitDone)
        return status;
    directory = WaitForLoginDirectory(session, ui, m_settings.Current()->Timeout);
    return InterruptRequested() ? kExitInterrupted : kExitDone;
}

// A run has ended once the worker has finished a queue run and is neither busy nor about
// to reconnect for the rest of the queue, or when connecting has been given up.
bool CliQueueRun::RunEnded(const Site& site) const
{
    if (site.ui->ConnectFailed() && !site.session->IsConnected())
        return true;
    return site.ui->QueueRunsFinished() > 0 && !site.session->IsBusy();
}

// The other sites of site-to-site entries log in before the runs start: a copy whose other
// site is not online yet would wait for the next cycle.
void CliQueueRun::StartPartners()
{
    std::vector<Site*> partners;
    for (Site& site : m_sites) {
        site.session->Queue().ForEach([&](const CQueueEntry& entry) {
            for (Site& other : m_sites)
                if (other.session.get() == entry.partner &&
                    std::find(partners.begin(), partners.end(), &other) == partners.end())
                    partners.push_back(&other);
        });
    }
    for (Site* partner : partners)
        if (!partner->session->HasThread())
            partner->session->Start();
    for (Site* partner : partners)
        while (!partner->session->IsLoggedIn() && !partner->ui->ConnectFailed() && !InterruptRequested())
            std::this_thread::sleep_for(kPollInterval);
}

int CliQueueRun::RunAll(const std::function<void()>& tick)
{
    StartPartners();
    std::vector<Site*> running;
    for (Site& site : m_sites) {
        site.entriesBefore = static_cast<int>(site.session->Queue().Size());
        if (site.entriesBefore == 0)
            continue;
        running.push_back(&site);
        if (site.session->HasThread())
            site.session->RequestQueueRun();
        else
            site.session->StartQueue();
    }

    bool interrupted = false;
    std::chrono::steady_clock::time_point stopLimit;
    while (true) {
        bool allEnded = true;
        for (const Site* site : running)
            allEnded = allEnded && (RunEnded(*site) || (interrupted && !site->session->IsConnected()));
        if (allEnded)
            break;
        if (InterruptRequested() && !interrupted) {
            interrupted = true;
            // Each running operation ends its wait, aborts its transfer and returns; the
            // entry it worked on is marked stopped. A session still connecting gives up.
            for (Site* site : running)
                site->session->CancelOperation();
            stopLimit = std::chrono::steady_clock::now() + std::chrono::seconds(std::max(m_settings.Current()->Timeout, 1) + 2);
        }
        if (interrupted && std::chrono::steady_clock::now() > stopLimit)
            break;
        if (tick)
            tick();
        std::this_thread::sleep_for(kPollInterval);
    }
    for (Site* site : running)
        site->ui->EndProgress();
    if (interrupted) {
        CloseAll(false);
        return kExitInterrupted;
    }
    for (const Site* site : running)
        if (!site->session->Queue().IsEmpty())
            return kExitFailed;
    return kExitDone;
}

std::vector<CQueueSection> CliQueueRun::Sections() const
{
    std::vector<CQueueSection> sections;
    for (const Site& site : m_sites)
        sections.push_back({site.session->HostName(), &site.session->Queue()});
    return sections;
}

std::vector<CliQueueRun::SiteSummary> CliQueueRun::Summaries() const
{
    std::vector<SiteSummary> summaries;
    for (const Site& site : m_sites) {
        SiteSummary summary;
        summary.host = site.session->HostName();
        summary.entriesBefore = site.entriesBefore;
        summary.files = site.ui->FilesDone();
        summary.skipped = site.ui->FilesSkipped();
        summary.connectFailed = site.ui->ConnectFailed() && site.ui->QueueRunsFinished() == 0;
        site.session->Queue().ForEach([&](const CQueueEntry& entry) {
            ++summary.entriesLeft;
            if (entry.status == STATUS_STOPPED)
                ++summary.stopped;
            else if (entry.status == STATUS_ERROR)
                ++summary.failed;
        });
        summaries.push_back(summary);
    }
    return summaries;
}

void CliQueueRun::CloseAll(bool sayGoodbye)
{
    std::vector<CFtpSession*> sessions;
    for (Site& site : m_sites)
        sessions.push_back(site.session.get());
    if (sayGoodbye) {
        CloseSessions(sessions, m_settings.Current()->Timeout);
        return;
    }
    for (CFtpSession* session : sessions)
        session->StopThread();
}
