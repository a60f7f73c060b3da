// The session's hooks for its transfer queue. The queue itself (its entries, the run
// over them and its retry cycles) plugs in here.

#include "session/FtpSession.h"

bool CFtpSession::QueueIsEmpty() const { return true; }

int CFtpSession::RunQueue() {
    // Nothing is queued: the run ends at once.
    queueRunPending_ = false;
    return FTP_OK;
}
