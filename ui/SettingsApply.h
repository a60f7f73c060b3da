#pragma once
// The one place where the options sheet's values become the program's settings: the
// whole table is replaced at once (sessions take it from their next operation on) and
// written to the store straight away, so a crash loses nothing that was confirmed.

#include "sites/SharedSettings.h"
#include "sites/SettingsStore.h"

#include <functional>
#include <string>

// Copies the current table, lets `edit` store the sheet's values into the copy and makes
// the copy current in one locked step (a field the program recorded meanwhile is kept),
// then writes the new table through `store` (when given). The table is in use even when
// writing fails; then false and *error tells why.
bool ApplySettingsTable(CSharedSettings& shared, const std::function<void(CSettings&)>& edit,
                        ISettingsStore* store, std::string* error);
