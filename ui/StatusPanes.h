#pragma once
// What the status bar's panes say about the active session, worked out from a snapshot of
// its counters so that every case can be checked without a window.

#include <QString>

#include <cstdint>
#include <string>

struct TransferSnapshot {
    bool hasSession = false;
    std::string host;
    bool transferring = false;
    bool siteToSite = false;          // the session copies to or from a partner server
    std::int64_t totalBytes = -1;     // -1: not known
    std::uint64_t doneBytes = 0;
    double speedKBps = -1;            // negative: not known yet
    std::string fileName;
};

struct StatusPanes {
    QString percent;
    QString speed;
    QString address;
    QString fileName;
    int progress = -1;                // 0 to 100 for the progress bar; -1 hides it

    static StatusPanes From(const TransferSnapshot& snapshot);
};
