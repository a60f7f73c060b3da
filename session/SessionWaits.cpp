// The worker's waits and the connection loop with its pause between attempts.

#include <array>
#include <chrono>
#include <cstdio>

#include "ftp/CtrlSocket.h"
#include "platform/Fatal.h"
#include "platform/MessageWait.h"
#include "platform/SocketErrors.h"
#include "session/FtpSession.h"

int CFtpSession::MessageWait(std::span<CWaitHandle* const> handles, int seconds) {
    // The platform wait measures its limit on a monotonic clock, so a change of the
    // wall-clock time neither stretches nor cuts a wait short.
    const long timeoutMs = seconds < 0 ? INFINITE : static_cast<long>(seconds) * 1000L;
    return ::MessageWait(handles, timeoutMs);
}

int CFtpSession::Interrupted() {
    Log("Interrupted by user", LOG_ERROR);
    return FTP_INTERRUPTED;
}

int CFtpSession::WaitForEvent(CEvent* event, int seconds) {
    // Once the worker is being ended no wait may hold it up, not even one that starts
    // after the stop signal was consumed (an ABOR after an interrupted transfer).
    if (closing_) return Interrupted();
    std::array<CWaitHandle*, 3> handles{&stopEvent_, &serverClosedEvent_, event};
    const size_t count = event != nullptr ? 3 : 2;
    const int index = MessageWait(std::span(handles.data(), count),
                                  seconds == 0 ? Settings().Timeout : seconds);
    // A stop that arrived together with another signal still wins.
    if (index == 0 || stopEvent_.TryAcquire() || closing_) return Interrupted();
    if (index == 1) {
        OnServerClosed();
        return FTP_CLOSED;
    }
    if (index == WAIT_TIMEOUT) {
        // Without an event this is the pause before a retry, whose end is no failure.
        if (event != nullptr) Log("Operation timed out", LOG_ERROR);
        return FTP_TIMEOUT;
    }
    return FTP_OK;
}

int CFtpSession::WaitForTransfer(CEvent* event, int seconds) {
    if (closing_) return Interrupted();
    ArmIdleTimer(seconds);
    std::array<CWaitHandle*, 4> handles{&stopEvent_, &serverClosedEvent_, &idleTimer_, event};
    const size_t count = event != nullptr ? 4 : 3;
    for (;;) {
        const int index = MessageWait(std::span(handles.data(), count), -1);
        if (index == 0 || stopEvent_.TryAcquire() || closing_) return Interrupted();
        if (index == 1) {
            OnServerClosed();
            return FTP_CLOSED;
        }
        if (index == 2) {
            // The timer may have been left at an earlier deadline while data moved.
            if (RearmIdleTimerIfEarly()) continue;
            Log("Operation timed out", LOG_ERROR);
            return FTP_TIMEOUT;
        }
        return FTP_OK;
    }
}

// Called with every piece of data, so it must be cheap: moving the timer wakes the waiting
// thread each time. The deadline is recorded instead, and the timer itself is moved only
// when it would fire too late; a timer that fires before the deadline is set again for the
// rest by WaitForTransfer. The transfer still times out exactly the limit after its last
// data.
void CFtpSession::ArmIdleTimer(int seconds) {
    if (seconds == 0) seconds = Settings().Timeout;
    if (seconds < 0) {
        // No inactivity limit.
        idleDeadline_.reset();
        idleTimer_.Cancel();
        idleTimer_.Reset();
        return;
    }
    const auto deadline = CWaitHandle::Clock::now() + std::chrono::seconds(seconds);
    idleDeadline_ = deadline;
    const auto due = idleTimer_.DueTime();
    if (due && *due <= deadline) return;
    if (!idleTimer_.SetDueInSeconds(seconds)) FatalError("Can't set waitable timer!");
}

bool CFtpSession::RearmIdleTimerIfEarly() {
    if (!idleDeadline_) return false;
    const auto now = CWaitHandle::Clock::now();
    if (now >= *idleDeadline_) return false;
    const auto rest = std::chrono::ceil<std::chrono::milliseconds>(*idleDeadline_ - now);
    if (!idleTimer_.SetDueIn(rest)) FatalError("Can't set waitable timer!");
    return true;
}

int CFtpSession::WaitToRetry() {
    Log("Waiting to retry...", LOG_STATE);
    // A negative delay retries at once (what a command line's "--retry-delay 0" asks);
    // a stop still ends the loop.
    if (Settings().RetryDelay < 0) {
        if (closing_ || stopEvent_.TryAcquire()) return Interrupted();
        return FTP_TIMEOUT;
    }
    // 0 pauses for the "Timeout" value.
    return WaitForEvent(nullptr, Settings().RetryDelay);
}

void CFtpSession::AnnounceRetry(const std::string& what, int retry, int retries) {
    const int delay = Settings().RetryDelay < 0 ? 0 : Settings().RetryDelay == 0 ? Settings().Timeout
                                                                              : Settings().RetryDelay;
    Ui().RetryWaiting(CRetryNotice{what, retry, retries, delay});
}

int CFtpSession::ConnectWithRetry() {
    int attempt = 0;
    int result = FTP_FAILED;
    busy_ = true;
    while (true) {
        // Each attempt follows the settings of its time (a proxy or time-out just edited).
        TakeSettingsSnapshot();
        CloseConnections();
        // A close notice of the previous connection must not end a wait of the next one.
        serverClosedEvent_.Reset();
        Log("Creating control socket...", LOG_STATE);
        ctrl_ = std::make_unique<CCtrlSocket>(*this);
        if (!ctrl_->Create(0, SOCK_STREAM, FD_ALL_EVENTS)) {
            // Creation failures are retried without limit, until the user stops.
            const int error = WSAGetLastError();
            Log("Unable to create control socket.", LOG_ERROR);
            Log(GetSocketErrorText(error), LOG_ERROR);
        } else {
            result = ctrl_->ConnectAndLogin();
            NoteLastReply();
            if (result == FTP_OK || result == FTP_INTERRUPTED) break;
            // A refused login stays refused: trying the same password again only risks
            // locking the account.
            if (result == FTP_NOT_AVAILABLE) {
                // A connection refused for its security (no TLS, a certificate not
                // trusted) has said why already; trying again would not change it.
                if (!ctrl_->RefusedForSecurity())
                    Log("Login refused by the server: " + LastReplyLine(), LOG_ERROR);
                break;
            }
            if (attempt >= Settings().ErrorRetry && !Settings().AlwaysRetry) {
                Log("Max errors reached, stop.", LOG_ERROR);
                break;
            }
        }
        // The failed connection is of no further use; its late close notice must not
        // cut the pause short.
        CloseConnections();
        serverClosedEvent_.Reset();
        if (stopEvent_.TryAcquire() || closing_) {
            busy_ = false;
            return FTP_INTERRUPTED;
        }
        AnnounceRetry("connection to " + host_ + ":" + std::to_string(port_), attempt + 1,
                      Settings().AlwaysRetry ? -1 : Settings().ErrorRetry);
        const int paused = WaitToRetry();
        if (paused == FTP_INTERRUPTED) {
            busy_ = false;
            return paused;
        }
        ++attempt;
        char line[64];
        std::snprintf(line, sizeof line, "Connection retry #%d...", attempt);
        Log(line, LOG_STATE);
    }
    if (result == FTP_FAILED || result == FTP_TIMEOUT) result = FTP_CONNECT_FAILED;
    busy_ = false;
    return result;
}
