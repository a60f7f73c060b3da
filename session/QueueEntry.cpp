#include "session/QueueEntry.h"

#include <cstdio>
#include <sys/stat.h>
#include <vector>

#include "listing/PathRules.h"
#include "sites/TextUtil.h"

namespace {

bool HoldsLineBreakTabOrNul(std::string_view text)
{
    return text.find_first_of(std::string_view("\t\r\n\0", 4)) != std::string_view::npos;
}

// Every tab separates: an empty field (a delete entry's local path, an empty pattern)
// must not shift the fields after it.
std::vector<std::string_view> SplitTabs(std::string_view line)
{
    std::vector<std::string_view> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t tab = line.find('\t', start);
        if (tab == std::string_view::npos) {
            fields.push_back(line.substr(start));
            return fields;
        }
        fields.push_back(line.substr(start, tab - start));
        start = tab + 1;
    }
}

// Optional sign and leading digits; 0 without digits. Wide enough for any 32-bit field
// written signed or unsigned, so "-1" and "4294967295" both give all bits set.
long long ParseLeadingNumber(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        if (value < (1LL << 40))  // past every 32-bit value: stop growing, never overflow
            value = value * 10 + (text[i] - '0');
    return negative ? -value : value;
}

std::uint32_t Half(std::string_view text)
{
    return std::uint32_t(ParseLeadingNumber(text));
}

int IntField(std::string_view text)
{
    return sites::ParseLeadingInt(text);
}

} // namespace

bool IsSafeLocalName(std::string_view name)
{
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string_view("/\0", 2)) == std::string_view::npos;
}

std::string DownloadNameOf(std::string_view remotePath)
{
    return FileNamePart(remotePath);
}

bool IsSiteToSiteTarget(std::string_view localPath)
{
    return localPath.starts_with("ftp://");
}

std::string SiteToSiteHost(std::string_view localPath)
{
    if (!IsSiteToSiteTarget(localPath))
        return {};
    const std::string_view rest = localPath.substr(6);
    return std::string(rest.substr(0, rest.find('/')));
}

bool CQueueEntry::WriteLine(std::string& out) const
{
    if (HoldsLineBreakTabOrNul(remotePath) || HoldsLineBreakTabOrNul(localPath) ||
        HoldsLineBreakTabOrNul(pattern))
        return false;
    char numbers[64];
    out += std::to_string(kind);
    out += '\t';
    out += remotePath;
    out += '\t';
    out += std::to_string(operation);
    out += '\t';
    out += localPath;
    std::snprintf(numbers, sizeof numbers, "\t%d\t%d\t", static_cast<int>(sizeHigh),
                  static_cast<int>(sizeLow));
    out += numbers;
    out += pattern;
    std::snprintf(numbers, sizeof numbers, "\t%d\t%d\n", updateOnly, includeSubdirectories);
    out += numbers;
    return true;
}

QueueLineResult CQueueEntry::ReadLine(std::string_view rawLine, std::string* message)
{
    const std::string line = sites::Trim(rawLine);
    if (line.empty())
        return QueueLineResult::Empty;
    if (line.find('\0') != std::string::npos) {
        if (message)
            *message = "Queue line skipped: it holds a NUL byte.";
        return QueueLineResult::Rejected;
    }

    const std::vector<std::string_view> fields = SplitTabs(line);
    auto field = [&fields](std::size_t n) {
        return n < fields.size() ? fields[n] : std::string_view();
    };

    kind = IntField(field(0));
    remotePath = std::string(field(1));
    operation = IntField(field(2));
    localPath = std::string(field(3));

    struct stat info {};
    if (operation == QUEUE_UPLOAD && !localPath.empty() && ::stat(localPath.c_str(), &info) == 0) {
        // The file may have changed since the queue was saved: send what is there now.
        SetSize(S_ISDIR(info.st_mode) ? 0 : std::uint64_t(info.st_size));
    } else {
        sizeHigh = Half(field(4));
        sizeLow = Half(field(5));
    }
    pattern = fields.size() > 6 && !field(6).empty() ? std::string(field(6)) : "*";
    updateOnly = IntField(field(7));
    includeSubdirectories = field(8).empty() ? 1 : IntField(field(8));

    if (operation == QUEUE_DOWNLOAD && !IsSiteToSiteTarget(localPath) &&
        !IsSafeLocalName(DownloadNameOf(remotePath))) {
        if (message)
            *message = "Queue line skipped: the download \"" + remotePath +
                       "\" does not end in a usable local file name.";
        return QueueLineResult::Rejected;
    }
    return QueueLineResult::Entry;
}
