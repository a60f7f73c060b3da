#include "ui/SettingsApply.h"

#include "sites/SettingsIo.h"

bool ApplySettingsTable(CSharedSettings& shared, const std::function<void(CSettings&)>& edit,
                        ISettingsStore* store, std::string* error)
{
    shared.Edit(edit);
    if (!store)
        return true;
    const std::shared_ptr<const CSettings> current = shared.Current();
    std::string reported;
    const bool written = WriteSettings(*store, *current, [&reported](const std::string& text) {
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
