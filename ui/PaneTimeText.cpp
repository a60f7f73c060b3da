#include "ui/PaneTimeText.h"

#include <ctime>

namespace {

constexpr std::int64_t kSecondsFrom1601To1970 = 11644473600LL;

QString Format(std::int64_t seconds, const char* format)
{
    const std::time_t time = static_cast<std::time_t>(seconds);
    std::tm local{};
    if (!localtime_r(&time, &local))
        return {};
    char text[32];
    const std::size_t length = std::strftime(text, sizeof text, format, &local);
    return QString::fromLatin1(text, static_cast<qsizetype>(length));
}

} // namespace

QString RemoteTimeText(std::int64_t seconds, bool exact)
{
    return Format(seconds, exact ? "%m/%d/%y %H:%M:%S" : "%m/%d/%y %H:%M");
}

QString LocalTimeText(std::int64_t fileTime)
{
    return Format(fileTime / 10000000 - kSecondsFrom1601To1970, "%m/%d/%y %H:%M:%S");
}
