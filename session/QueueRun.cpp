// The session's hooks for its transfer queue. The queue itself (its entries, the run
// over them and its retry cycles) plugs in through SetQueueRunner.

#include "session/FtpSession.h"

void CFtpSession::SetQueueRunner(std::function<int(CFtpSession&)> runner) {
    queueRunner_ = std::move(runner);
}

bool CFtpSession::QueueIsEmpty() const { return !queueRunner_; }

int CFtpSession::RunQueue() {
    const int result = queueRunner_ ? queueRunner_(*this) : FTP_OK;
    queueRunPending_ = false;
    return result;
}
