#include "session/LogLineText.h"

#include <iterator>

namespace {

constexpr const char* kPrefixes[] = {
    "State:>\t\t", "Warning:>\t", "Error:>\t\t", "Reply:>\t", "Command:>\t",
};

} // namespace

const char* LogKindPrefix(int kind)
{
    if (kind < 0 || kind >= static_cast<int>(std::size(kPrefixes)))
        return "";
    return kPrefixes[kind];
}

std::string FormatLogLine(const CLogLine& line)
{
    std::string text;
    text.reserve(line.text.size() + 16);
    if (line.prefix)
        text = LogKindPrefix(line.kind);
    for (size_t i = 0; i < line.text.size(); ++i) {
        // A reply that ended in CR CR LF shows one CR.
        text += line.text[i];
        if (line.text[i] == '\r' && i + 1 < line.text.size() && line.text[i + 1] == '\r')
            ++i;
    }
    if (line.newline)
        text += '\n';
    return text;
}
