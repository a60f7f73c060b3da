#pragma once
// One step of a site-to-site copy that the driving session asks the receiving session's
// worker to carry out on its own control connection (see SiteToSitePartner). It travels
// in the receiving session's mailbox; both sides hold it, so neither outlives the other's
// view of it.

#include <atomic>
#include <functional>

#include "ftp/FtpTypes.h"
#include "platform/Event.h"

class CCtrlSocket;

struct CPartnerStep {
    std::function<int(CCtrlSocket&)> work;  // holds copies only
    bool evenIfAbandoned = false;
    CEvent done{true, false};               // manual-reset: set once, when the step is over
    std::atomic<int> result{FTP_CLOSED};
    std::atomic<bool> abandoned{false};     // the driver stopped waiting before it started

    // The receiving worker: runs the step (unless abandoned) and reports its end.
    void Carry(CCtrlSocket* connection) {
        int r = FTP_CLOSED;
        if (connection != nullptr && (evenIfAbandoned || !abandoned)) r = work(*connection);
        Finish(r);
    }
    void Finish(int r) {
        result = r;
        done.Set();
    }
};
