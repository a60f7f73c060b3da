#include "listing/EntryOrder.h"

#include "listing/AsciiCase.h"
#include "listing/PathRules.h"

namespace {

template <class T>
int Sign(T a, T b)
{
    return a < b ? -1 : (b < a ? 1 : 0);
}

int SignOf(int value) { return value < 0 ? -1 : (value > 0 ? 1 : 0); }

int CompareBytes(std::string_view a, std::string_view b) { return SignOf(a.compare(b)); }

// The columns both panes share.
template <class Entry, class TimeOf>
int CompareCommon(const Entry& a, const Entry& b, int column, int direction, TimeOf timeOf)
{
    switch (column) {
    case COLUMN_NAME:
        if (a.bDirectory == b.bDirectory)
            return direction * CompareNoCase(a.strName, b.strName);
        return direction * (a.bDirectory ? -1 : 1);
    case COLUMN_SIZE:
        return direction * Sign(a.FileSize(), b.FileSize());
    case COLUMN_TYPE:
        return direction * CompareNoCase(EntryTypeText(a.strName, a.bDirectory),
                                         EntryTypeText(b.strName, b.bDirectory));
    case COLUMN_MODIFIED:
        return direction * Sign(timeOf(a), timeOf(b));
    default:
        return 0;
    }
}

} // namespace

std::string FormatFileSize(std::uint32_t high, std::uint32_t low)
{
    if (high != 0)
        return ">4GB";
    const std::string digits = std::to_string(low);
    std::string text;
    text.reserve(digits.size() + digits.size() / 3);
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0)
            text += ',';
        text += digits[i];
    }
    return text;
}

std::string NameExtension(std::string_view name)
{
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos)
        return {};
    const std::size_t separator = name.rfind(kPathSeparator);
    if (separator != std::string_view::npos && separator > dot)
        return {};
    return std::string(name.substr(dot + 1));
}

std::string EntryTypeText(std::string_view name, bool isDirectory)
{
    return isDirectory ? std::string(kDirectoryTypeText) : NameExtension(name);
}

int CompareRemoteEntries(const RFILE_DATA& a, const RFILE_DATA& b, int column, int direction)
{
    switch (column) {
    case COLUMN_ATTRIBUTE:
        return direction * CompareBytes(a.strAttribute, b.strAttribute);
    case COLUMN_DESCRIPTION:
        return direction * CompareBytes(a.strDescription, b.strDescription);
    default:
        return CompareCommon(a, b, column, direction,
                             [](const RFILE_DATA& entry) { return entry.tmModified; });
    }
}

int CompareLocalEntries(const FILE_DATA& a, const FILE_DATA& b, int column, int direction)
{
    if (column >= kLocalColumnCount)
        return 0;
    return CompareCommon(a, b, column, direction,
                         [](const FILE_DATA& entry) { return entry.ftModified; });
}
