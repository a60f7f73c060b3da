#include "ui/StatusPanes.h"

#include "session/QueueColumns.h"
#include "ui/DisplayText.h"

#include <algorithm>

namespace {

QString Grouped(std::uint64_t value)
{
    return QString::fromStdString(DigitsWithCommas(value));
}

} // namespace

StatusPanes StatusPanes::From(const TransferSnapshot& snapshot)
{
    StatusPanes panes;
    if (!snapshot.hasSession)
        return panes;
    panes.address = DisplayText(snapshot.host);
    if (!snapshot.transferring)
        return panes;
    if (snapshot.siteToSite) {
        panes.fileName = DisplayText(snapshot.fileName);
        panes.speed = QStringLiteral("Unknown");
        panes.percent = QStringLiteral("Unknown");
        return panes;
    }
    if (snapshot.totalBytes < 0 || snapshot.speedKBps < 0)
        return panes;
    panes.fileName = DisplayText(snapshot.fileName);
    panes.speed = QString::asprintf("%.3fKB/s", snapshot.speedKBps);
    const auto total = static_cast<std::uint64_t>(snapshot.totalBytes);
    // An empty file is complete; a count past the total (a server that sent more) is too.
    int percent = 100;
    if (total > 0 && snapshot.doneBytes < total)
        percent = static_cast<int>(static_cast<unsigned __int128>(snapshot.doneBytes) * 100 / total);
    panes.percent = QStringLiteral("%1% [%2/%3]").arg(percent).arg(Grouped(snapshot.doneBytes), Grouped(total));
    panes.progress = std::clamp(percent, 0, 100);
    return panes;
}
