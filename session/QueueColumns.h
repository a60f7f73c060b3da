#pragma once
// The texts a queue view shows for an entry, one per column, in the column order
// "ServerPath", "Operation", "ClientPath", "Size", "Status", "Pattern", "Update Only".

#include <array>
#include <cstdint>
#include <string>

#include "session/QueueEntry.h"

inline constexpr std::array<const char*, 7> kQueueColumnNames = {
    "ServerPath", "Operation", "ClientPath", "Size", "Status", "Pattern", "Update Only",
};

// "1,234,567": the decimal digits with a comma between every three.
std::string DigitsWithCommas(std::uint64_t value);

// "Download", "Upload", "Delete" or "CacheDir"; the number itself for anything else.
std::string QueueOperationText(int operation);
// "queued", "transferring", "error" or "stopped"; the number itself for anything else.
std::string QueueStatusText(int status);
// The size with commas, or "unknown" when it is not known.
std::string QueueSizeText(const CQueueEntry& entry);

// The seven texts of the entry's row.
std::array<std::string, 7> QueueRowTexts(const CQueueEntry& entry);
