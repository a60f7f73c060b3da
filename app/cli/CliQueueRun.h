#pragma once
// Runs the transfer queues of one or more sites at once, unattended, each site on a session
// of its own: starts every non-empty queue, waits until each run has ended (a run that
// loses its connection reconnects and goes on by itself), and on Ctrl-C stops them all.
// While it runs, a queue change can keep a file such as "autosave.tvq" current.
//
// It is also what loading a queue file needs of the application's sessions: a section's
// host finds or creates the session its entries go into.

#include "app/cli/CliSession.h"
#include "session/QueueFiles.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

class CliQueueRun final : public IQueueSessions {
public:
    // `settings` is the run's table; every session reads it while it lives. `output` is
    // copied for each session; with `labelSites` the lines a session prints start with its
    // host. `transferType`: 0 ASCII, 1 binary, 2 automatic.
    CliQueueRun(const CSettings& settings, const CliSessionUi::Output& output, int transferType,
                bool labelSites = false);
    ~CliQueueRun() override;
    CliQueueRun(const CliQueueRun&) = delete;
    CliQueueRun& operator=(const CliQueueRun&) = delete;

    // A session for a connection given on the command line.
    CFtpSession& AddSession(const CSessionSite& site);

    CQueueTarget FindSession(const std::string& host) override;
    CQueueTarget CreateSession(const CSiteSetting& site) override;
    void SelectSession(const CQueueTarget&) override {}

    // Starts a session's worker and waits until it is online and knows its directory:
    // kExitDone, kExitConnect or kExitInterrupted. `directory` gets the login directory.
    int Connect(CFtpSession& session, std::string& directory);

    // Starts the queue of every session that has entries and waits until every run has
    // ended; `tick` is called about every 20 ms meanwhile. Ctrl-C stops every session
    // (Stop, then the worker's end) and the wait returns kExitInterrupted; otherwise
    // kExitDone when every queue is empty and kExitFailed when entries remain.
    int RunAll(const std::function<void()>& tick = {});

    // Every session's queue, in the order the sessions were made.
    std::vector<CQueueSection> Sections() const;

    struct SiteSummary {
        std::string host;
        int entriesBefore = 0;
        int entriesLeft = 0;
        int stopped = 0;
        int failed = 0;
        int files = 0;          // files downloaded, uploaded or deleted
        int skipped = 0;        // files the overwrite rules left alone
        bool connectFailed = false;
    };
    std::vector<SiteSummary> Summaries() const;

    // `changed` is called (on any thread) whenever an entry of any queue changes or goes.
    // Set before the runs start.
    void OnQueueChange(std::function<void()> changed) { m_queueChanged = std::move(changed); }

    // Ends every worker (QUIT first when `sayGoodbye` and the session is online).
    void CloseAll(bool sayGoodbye);

    // The session of the single site being worked on, and its window side.
    CliSessionUi& UiOf(const CFtpSession& session);

private:
    struct Site {
        std::unique_ptr<CliSessionUi> ui;
        std::unique_ptr<CFtpSession> session;
        int entriesBefore = 0;
    };
    Site& Adopt(std::unique_ptr<CFtpSession> session);
    bool RunEnded(const Site& site) const;
    void StartPartners();

    CSharedSettings m_settings;
    CliSessionUi::Output m_output;
    int m_transferType;
    bool m_labelSites;
    std::function<void()> m_queueChanged;
    std::vector<Site> m_sites;
};
