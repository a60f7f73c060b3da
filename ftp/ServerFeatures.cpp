#include "ftp/ServerFeatures.h"

#include <cctype>

namespace {

constexpr std::size_t kMaxFeatureLine = 512;
constexpr int kMaxFeatureLines = 200;

std::string Upper(std::string_view text)
{
    std::string out(text);
    for (char& c : out)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

} // namespace

ServerFeatures ParseFeatReply(std::string_view text)
{
    ServerFeatures features;
    int lines = 0;
    bool first = true;
    while (!text.empty() && lines < kMaxFeatureLines) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        ++lines;
        if (first) {
            first = false;
            // "211-Features:" opens a list; "211 No features" or anything else has none.
            if (line.size() < 4 || line.substr(0, 4) != "211-")
                return features;
            features.known = true;
            continue;
        }
        // Feature lines start with a blank; the closing "211 End" does not.
        if (line.empty() || line.front() != ' ' || line.size() > kMaxFeatureLine)
            continue;
        line.remove_prefix(1);
        const std::size_t blank = line.find(' ');
        const std::string name = Upper(line.substr(0, blank));
        const std::string_view argument = blank == std::string_view::npos ? std::string_view() : line.substr(blank + 1);
        if (name == "MLST" || name == "MLSD") {
            features.mlst = true;
            if (name == "MLST")
                features.mlstFacts.assign(argument);
        } else if (name == "UTF8") {
            features.utf8 = true;
        } else if (name == "EPSV") {
            features.epsv = true;
        } else if (name == "EPRT") {
            features.eprt = true;
        } else if (name == "MDTM") {
            features.mdtm = true;
        } else if (name == "SIZE") {
            features.size = true;
        }
    }
    return features;
}

std::string WantedMlstFacts(std::string_view offered)
{
    std::string wanted;
    const std::string upper = Upper(offered);
    for (const char* fact : {"type", "size", "modify", "unix.mode"}) {
        const std::string name = Upper(fact);
        // Each offered fact ends with ";" and may carry "*" when it is already on.
        std::size_t at = 0;
        bool found = false;
        while ((at = upper.find(name, at)) != std::string::npos) {
            const bool startOk = at == 0 || upper[at - 1] == ';';
            const std::size_t after = at + name.size();
            const bool endOk = after == upper.size() || upper[after] == ';' || upper[after] == '*';
            if (startOk && endOk) {
                found = true;
                break;
            }
            at = after;
        }
        if (found)
            wanted += std::string(fact) + ";";
    }
    return wanted;
}
