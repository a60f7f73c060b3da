#pragma once
// Every live session of the process, so that a site-to-site entry never reaches through a
// pointer to a session that is gone.
//
// A queue entry names its other site by pointer (CQueueEntry::partner). A run leases the
// partner for the time of the entry; while a lease is held the partner is not destroyed (its
// destructor first stops the driving copy and waits). A session that goes away takes its
// name out of every other queue: those entries are stopped with a log line in their own
// session. All of it under one process-wide lock; the queue's lock is taken inside it.

#include <cstddef>
#include <functional>
#include <string>

#include "session/QueueEntry.h"

class CFtpSession;

// The right to use a partner session for one entry. Moves; released when destroyed.
class CPartnerLease {
public:
    CPartnerLease() = default;
    CPartnerLease(CPartnerLease&& other) noexcept : m_driver(other.m_driver), m_partner(other.m_partner) {
        other.m_partner = nullptr;
    }
    CPartnerLease& operator=(CPartnerLease&&) = delete;
    CPartnerLease(const CPartnerLease&) = delete;
    ~CPartnerLease();
    explicit operator bool() const { return m_partner != nullptr; }
    CFtpSession* Partner() const { return m_partner; }

private:
    friend class CSessionRegistry;
    CPartnerLease(CFtpSession* driver, CFtpSession* partner) : m_driver(driver), m_partner(partner) {}
    CFtpSession* m_driver = nullptr;
    CFtpSession* m_partner = nullptr;
};

class CSessionRegistry {
public:
    static void Add(CFtpSession& session);
    // Interrupts the copies that lease the session (their driving sessions are stopped) and
    // waits until the last lease is released. The session refuses new leases while it is
    // closing (CFtpSession::IsClosing). `keepResponsive`, when given, is called meanwhile
    // (see CFtpSession::StopThread).
    static void WaitUntilUnused(CFtpSession& session, const std::function<void()>& keepResponsive);
    // Takes the session out and clears it from every other session's queue; the entries
    // that named it are stopped and their sessions log why.
    static void Remove(CFtpSession& session);

    // Leases `partner` for entry `entryId` of `driver`'s queue: only while the partner lives,
    // is not closing and the queue's entry still names it. Empty otherwise.
    // Any thread; takes the driver's queue lock inside the registry's.
    static CPartnerLease Lease(CFtpSession& driver, QueueEntryId entryId, CFtpSession* partner);
    // Stops the copies that use the session as their other site (a Stop pressed on it is
    // meant for them); false when none does.
    static bool StopCopiesUsing(const CFtpSession& session);
    // The number of copies that use the session as their other site now.
    static int LeasesOn(const CFtpSession& session);
    // Calls `action` with the session if it is still alive, with the registry locked (the
    // session cannot go away meanwhile); `action` must not call back into the registry.
    static bool IfAlive(CFtpSession* session, const std::function<void(CFtpSession&)>& action);

private:
    friend class CPartnerLease;
    static void Release(CFtpSession* driver, CFtpSession* partner);
};
