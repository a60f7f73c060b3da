#include "ui/SettingsApply.h"

#include "sites/SettingsIo.h"

bool ApplySettingsTable(CSettings& current, const std::function<void(CSettings&)>& edit,
                        ISettingsStore* store, std::string* error)
{
    CSettings next = current;
    edit(next);
    current = std::move(next);
    if (!store)
        return true;
    std::string reported;
    const bool written = WriteSettings(*store, current, [&reported](const std::string& text) {
        if (reported.empty())
            reported = text;
    });
    if (written && store->Flush())
        return true;
    if (error)
        *error = reported.empty() ? "The settings could not be written to " + store->ProfilePath() + "."
                                  : reported;
    return false;
}
