#pragma once
// A stand-in for the session that owns a control connection: it waits the way the real
// session does (MessageWait on the stop event, the server-closed event and the event
// asked for, so socket notifications run inside the waits), records every log line and
// every report, and lets a test set the pair flags of a site-to-site copy.
// Header-only so that the unit and the integration tests of ftp/ share it.

#include <atomic>
#include <string>
#include <vector>

#include "ftp/SessionLink.h"
#include "platform/Event.h"
#include "platform/MessageWait.h"

namespace ftptest {

struct LoggedLine {
    std::string text;
    int kind = 0;
    bool newline = true;
    bool prefix = true;
};

class TestSession : public SessionLink {
public:
    // Site and login.
    std::string host = "127.0.0.1";
    int port = 21;
    std::string user = "user";
    std::string password = "secret";
    int timeoutSeconds = 1;  // what a wait of 0 seconds means
    bool actionFailedPrompt = false;

    CEvent stopEvent;
    CEvent serverClosedEvent;

    // What the control connection reported.
    std::vector<LoggedLine> log;
    std::vector<std::string> actionFailedReports;
    std::vector<std::string> loginReports;
    std::vector<bool> forcedDataCloses;  // the sending flag of each forced close
    bool loggedIn = false;
    int serverClosedSignals = 0;
    int stopSignals = 0;

    // Site-to-site pairing.
    std::atomic<bool> pairFlag{false};
    SessionLink* partnerToInterrupt = nullptr;

    int WaitForEvent(CEvent* event, int seconds) override { return Wait(event, seconds); }
    int WaitForTransfer(CEvent* event, int seconds) override { return Wait(event, seconds); }

    void Log(const std::string& text, int kind, bool newline, bool prefix) override
    {
        log.push_back({text, kind, newline, prefix});
    }
    void ReportActionFailed(const std::string& replyText) override { actionFailedReports.push_back(replyText); }
    void ReportLogin(const std::string& message) override { loginReports.push_back(message); }
    bool ActionFailedPromptEnabled() const override { return actionFailedPrompt; }

    std::string Host() const override { return host; }
    int Port() const override { return port; }
    std::string UserName() const override { return user; }
    std::string Password() const override { return password; }

    void SetLoggedIn(bool value) override { loggedIn = value; }
    void SignalServerClosed() override
    {
        ++serverClosedSignals;
        serverClosedEvent.Set();
    }

    bool PairFlag() const override { return pairFlag; }
    void ClearPairFlag() override { pairFlag = false; }
    SessionLink* PartnerToInterrupt() override { return partnerToInterrupt; }
    void SignalStop() override
    {
        ++stopSignals;
        stopEvent.Set();
    }

    void ForceDataConnectionClosed(bool sending) override { forcedDataCloses.push_back(sending); }

    // True when a line with this text and kind was logged.
    bool Logged(const std::string& text, int kind) const
    {
        for (const LoggedLine& line : log) {
            if (line.text == text && line.kind == kind)
                return true;
        }
        return false;
    }
    // The Reply pieces, in order.
    std::vector<LoggedLine> ReplyPieces() const
    {
        std::vector<LoggedLine> pieces;
        for (const LoggedLine& line : log) {
            if (line.kind == LOG_REPLY)
                pieces.push_back(line);
        }
        return pieces;
    }
    // Everything logged, one entry a line, for failure messages.
    std::string LogDump() const
    {
        std::string dump;
        for (const LoggedLine& line : log)
            dump += std::to_string(line.kind) + (line.prefix ? " | " : " + ") + line.text + "\n";
        return dump;
    }

private:
    int Wait(CEvent* event, int seconds)
    {
        long ms = INFINITE;
        if (seconds == 0)
            ms = timeoutSeconds * 1000L;
        else if (seconds > 0)
            ms = seconds * 1000L;
        std::vector<CWaitHandle*> handles{&stopEvent, &serverClosedEvent};
        if (event != nullptr)
            handles.push_back(event);
        int index = MessageWait(handles, ms);
        if (index == 0) {
            Log("Interrupted by user", LOG_ERROR, true, true);
            return FTP_INTERRUPTED;
        }
        if (index == 1) {
            Log("Control connection closed by server.", LOG_ERROR, true, true);
            return FTP_CLOSED;
        }
        if (index == WAIT_TIMEOUT) {
            if (event != nullptr)
                Log("Operation timed out", LOG_ERROR, true, true);
            return FTP_TIMEOUT;
        }
        return FTP_OK;
    }
};

// Delivers socket notifications until done() holds or about timeoutMs have passed.
template <typename Done>
bool PumpUntil(Done done, long timeoutMs = 2000)
{
    for (long waited = 0; !done(); waited += 10) {
        if (waited >= timeoutMs)
            return false;
        PumpMessages(10);
    }
    return true;
}

}  // namespace ftptest
