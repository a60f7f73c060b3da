#pragma once
// The settings table shared by the interface and every session's worker.
//
// Readers take the current snapshot: an immutable table that stays valid and unchanged for
// as long as they hold it, whatever happens meanwhile. Writers never change a table in
// place: the options sheet builds the new table and replaces the current one whole on OK
// (Replace); a single field the program records itself (the last connection) goes through
// Edit, which copies, changes and replaces in one locked step so no edit is lost.
//
// A session's worker takes the snapshot at the start of each operation, so an open session
// follows edited settings from its next operation on and never sees half an edit.
//
// Usage:
//   CSharedSettings settings(LoadSettings(store));
//   CFtpSession session(settings, site);
//   settings.Replace(editedCopy);            // OK in the options sheet, any thread
//   SaveSettings(*settings.Current(), store); // at exit

#include <functional>
#include <memory>
#include <mutex>

#include "sites/Settings.h"

class CSharedSettings {
public:
    CSharedSettings() : CSharedSettings(CSettings{}) {}
    explicit CSharedSettings(CSettings initial);
    CSharedSettings(const CSharedSettings&) = delete;
    CSharedSettings& operator=(const CSharedSettings&) = delete;

    // The current table; any thread.
    std::shared_ptr<const CSettings> Current() const;
    // Makes `table` the current table; any thread.
    void Replace(CSettings table);
    // Copies the current table, lets `change` edit the copy and makes it current; any
    // thread. `change` must not call back into this object.
    void Edit(const std::function<void(CSettings&)>& change);

private:
    mutable std::mutex m_mutex;  // guards the pointer, never the table it points to
    std::shared_ptr<const CSettings> m_current;
};
