#pragma once
// CEvent: the Win32 event stand-in, auto-reset or manual-reset.
//
// Usage:
//   CEvent commandEvent;                       // auto-reset, initially clear
//   CEvent stopEvent(/*manualReset=*/true);    // stays set until Reset()
//   other thread:  commandEvent.Set();
//   worker:        CWaitHandle* h[] = {&stopEvent, &commandEvent};
//                  switch (MessageWait(h, INFINITE)) { ... }    // pumps socket events
//   or, without pumping:  if (commandEvent.Wait(2000)) ...
//
// Set() from any thread wakes the threads waiting on the event. An auto-reset event
// releases exactly one wait and then is clear again.

#include "platform/WaitHandle.h"

class CEvent : public CWaitHandle {
public:
    explicit CEvent(bool manualReset = false, bool initialState = false);

    void Set();
    void Reset();

    bool TryAcquire() override;
    bool IsSignalled() override;

    bool IsManualReset() const { return manualReset; }

    // Plain wait that does not dispatch this thread's messages: true when the event was
    // signalled (and, if auto-reset, consumed) within timeoutMs (INFINITE: no limit).
    bool Wait(long timeoutMs);

private:
    const bool manualReset;
    bool signalled;
};
