#pragma once
// The receiving side of a copy between two servers, as the connection driving the copy
// sees it. The receiving control connection belongs to its own session's thread: every
// command on it is sent, and every reply to it waited for, on that thread (Run); the
// driving thread only shares the pairing state, which its mutex and events guard.

#include <functional>

class CCtrlSocket;

class SiteToSitePartner {
public:
    virtual ~SiteToSitePartner() = default;
    // Runs `step` on the receiving connection on its own thread and returns the step's
    // result. The driving session's own stop or lost connection ends the wait first, with
    // that result; the step then runs only when `evenIfAbandoned` (an abort that must reach
    // the server), else never starts. `step` must hold copies, never references into the
    // caller's stack. FTP_CLOSED when the receiving side has no connection.
    virtual int Run(std::function<int(CCtrlSocket&)> step, bool evenIfAbandoned = false) = 0;
    // The receiving connection, for the pairing state only (PairWithReceiver and
    // UnpairFromReceiver, under its mutex); never to send on or wait for. Null when it has
    // none.
    virtual CCtrlSocket* Connection() = 0;
};
