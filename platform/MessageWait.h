#pragma once
// MessageWait: the stand-in for MsgWaitForMultipleObjects with QS_ALLINPUT.
//
// Usage:
//   CWaitHandle* handles[] = {&stopEvent, &serverClosedEvent, &replyEvent};
//   int index = MessageWait(handles, 30000);
//   if (index == WAIT_TIMEOUT) ...            // nothing signalled within 30 s
//   else if (index == 0) ...                  // stop event
//   PumpMessages(100);                        // just deliver socket events for 100 ms
//
// While it waits it dispatches this thread's socket events and posted messages, so the
// socket notification handlers run nested inside the wait (and may wait again
// themselves). It returns the index of the first signalled handle in the order given
// (an auto-reset handle is consumed), or WAIT_TIMEOUT. Waits never poll in a busy loop.

#include "platform/WaitHandle.h"

#include <initializer_list>
#include <span>

constexpr int WAIT_OBJECT_0 = 0;
constexpr int WAIT_TIMEOUT = 258;
constexpr long INFINITE = -1;  // no time limit

int MessageWait(std::span<CWaitHandle* const> handles, long timeoutMs);
int MessageWait(std::initializer_list<CWaitHandle*> handles, long timeoutMs);

// Waits without handles: dispatches this thread's messages for timeoutMs, then returns.
void PumpMessages(long timeoutMs);

// Dispatches whatever is ready now (socket readiness and posted messages) and returns.
void DispatchReadyMessages();

// The same wait without dispatching anything (for threads that must not run socket
// handlers, such as a thread waiting for a worker to end).
int WaitForHandles(std::span<CWaitHandle* const> handles, long timeoutMs);
