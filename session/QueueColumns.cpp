#include "session/QueueColumns.h"

std::string DigitsWithCommas(std::uint64_t value) {
    const std::string digits = std::to_string(value);
    std::string text;
    for (std::size_t at = 0; at < digits.size(); ++at) {
        if (at > 0 && (digits.size() - at) % 3 == 0) text += ',';
        text += digits[at];
    }
    return text;
}

std::string QueueOperationText(int operation) {
    switch (operation) {
    case QUEUE_DOWNLOAD: return "Download";
    case QUEUE_UPLOAD: return "Upload";
    case QUEUE_DELETE: return "Delete";
    case QUEUE_CACHEDIR: return "CacheDir";
    default: return std::to_string(operation);
    }
}

std::string QueueStatusText(int status) {
    switch (status) {
    case STATUS_QUEUED: return "queued";
    case STATUS_TRANSFERRING: return "transferring";
    case STATUS_ERROR: return "error";
    case STATUS_STOPPED: return "stopped";
    default: return std::to_string(status);
    }
}

std::string QueueSizeText(const CQueueEntry& entry) {
    if (entry.SizeUnknown()) return "unknown";
    return DigitsWithCommas(entry.Size());
}

std::array<std::string, 7> QueueRowTexts(const CQueueEntry& entry) {
    return {entry.remotePath,
            QueueOperationText(entry.operation),
            entry.localPath,
            QueueSizeText(entry),
            QueueStatusText(entry.status),
            entry.pattern,
            entry.updateOnly ? "true" : "false"};
}
