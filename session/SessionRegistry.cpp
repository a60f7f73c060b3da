#include "session/SessionRegistry.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <vector>

#include "session/FtpSession.h"

namespace {

struct Holder {
    CFtpSession* driver;
    bool interrupted;  // the registry stopped the driver for this lease
};

struct Record {
    std::vector<Holder> drivers;  // one per lease held on this session
};

struct Registry {
    std::mutex mutex;
    std::condition_variable released;
    std::map<CFtpSession*, Record> sessions;
};

Registry& TheRegistry() {
    static Registry registry;
    return registry;
}

}  // namespace

CPartnerLease::~CPartnerLease() {
    if (m_partner != nullptr) CSessionRegistry::Release(m_driver, m_partner);
}

void CSessionRegistry::Add(CFtpSession& session) {
    Registry& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    registry.sessions[&session];
}

void CSessionRegistry::WaitUntilUnused(CFtpSession& session, const std::function<void()>& keepResponsive) {
    Registry& registry = TheRegistry();
    std::unique_lock lock(registry.mutex);
    auto found = registry.sessions.find(&session);
    if (found == registry.sessions.end()) return;
    while (!found->second.drivers.empty()) {
        // A driving session is alive while it holds its lease: its own end releases it
        // first. Signalled again each round: a copy between two files may have cleared it.
        for (Holder& holder : found->second.drivers) {
            holder.driver->SignalStop();
            holder.interrupted = true;
        }
        if (keepResponsive) {
            lock.unlock();
            keepResponsive();
            lock.lock();
        }
        registry.released.wait_for(lock, std::chrono::milliseconds(10));
    }
}

void CSessionRegistry::Remove(CFtpSession& session) {
    Registry& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    registry.sessions.erase(&session);
    for (auto& [other, record] : registry.sessions) {
        CFtpSession& live = *other;
        const std::size_t stopped = live.Queue().ForgetPartner(&session);
        if (stopped > 0) {
            live.Log(std::to_string(stopped) + " site-to-site " + (stopped == 1 ? "entry names" : "entries name") +
                         " " + session.HostName() + ", which was closed; stopped.",
                     LOG_ERROR);
        }
    }
}

CPartnerLease CSessionRegistry::Lease(CFtpSession& driver, QueueEntryId entryId, CFtpSession* partner) {
    if (partner == nullptr) return {};
    Registry& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    auto found = registry.sessions.find(partner);
    if (found == registry.sessions.end() || partner->IsClosing()) return {};
    // The address alone could be a new session's: the queue still naming it proves it is the
    // same one, as a closed partner is cleared from every queue under this lock.
    if (driver.Queue().PartnerOf(entryId) != partner) return {};
    found->second.drivers.push_back({&driver, false});
    return CPartnerLease(&driver, partner);
}

void CSessionRegistry::Release(CFtpSession* driver, CFtpSession* partner) {
    Registry& registry = TheRegistry();
    {
        std::lock_guard lock(registry.mutex);
        auto found = registry.sessions.find(partner);
        if (found != registry.sessions.end()) {
            auto& drivers = found->second.drivers;
            auto it = std::find_if(drivers.begin(), drivers.end(),
                                   [driver](const Holder& holder) { return holder.driver == driver; });
            if (it != drivers.end()) {
                // The stop was meant for this copy only; the driver's next command must not
                // find it. Release runs on the driver's own worker.
                if (it->interrupted) driver->ClearStop();
                drivers.erase(it);
            }
        }
    }
    registry.released.notify_all();
}

bool CSessionRegistry::StopCopiesUsing(const CFtpSession& session) {
    Registry& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    auto found = registry.sessions.find(const_cast<CFtpSession*>(&session));
    if (found == registry.sessions.end() || found->second.drivers.empty()) return false;
    for (Holder& holder : found->second.drivers) {
        holder.driver->SignalStop();
        // The stop was meant for this copy only: its release takes it back.
        holder.interrupted = true;
    }
    return true;
}

int CSessionRegistry::LeasesOn(const CFtpSession& session) {
    Registry& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    auto found = registry.sessions.find(const_cast<CFtpSession*>(&session));
    return found == registry.sessions.end() ? 0 : static_cast<int>(found->second.drivers.size());
}

bool CSessionRegistry::IfAlive(CFtpSession* session, const std::function<void(CFtpSession&)>& action) {
    Registry& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    if (session == nullptr || registry.sessions.find(session) == registry.sessions.end()) return false;
    action(*session);
    return true;
}
