#pragma once
// The "Modified" texts of the file panes, in local time.

#include <QString>

#include <cstdint>

// Seconds since 1970 as "%m/%d/%y %H:%M" (remote entries), with ":%S" when the server
// gave the time to the second.
QString RemoteTimeText(std::int64_t seconds, bool exact);
// 100 ns units since 1601 as "%m/%d/%y %H:%M:%S" (local entries).
QString LocalTimeText(std::int64_t fileTime);
