#include "app/cli/TerminalText.h"

namespace {

void AppendEscaped(std::string& out, unsigned char byte)
{
    static constexpr char kHex[] = "0123456789abcdef";
    out += "\\x";
    out += kHex[byte >> 4];
    out += kHex[byte & 0xF];
}

// The length of the valid UTF-8 sequence at `at` (2 to 4 bytes), 0 when there is none.
std::size_t Utf8SequenceLength(std::string_view text, std::size_t at)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    std::size_t length = 0;
    unsigned minimum = 0;
    unsigned codePoint = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        codePoint = lead & 0x1F;
        minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        codePoint = lead & 0x0F;
        minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        codePoint = lead & 0x07;
        minimum = 0x10000;
    } else {
        return 0;
    }
    if (at + length > text.size())
        return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80)
            return 0;
        codePoint = (codePoint << 6) | (byte(at + i) & 0x3F);
    }
    if (codePoint < minimum || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF))
        return 0;
    // U+0080 to U+009F are the C1 controls, which terminals obey too.
    if (codePoint <= 0x9F)
        return 0;
    return length;
}

} // namespace

std::string EscapeForTerminal(std::string_view text, bool keepLayout)
{
    std::string out;
    out.reserve(text.size());
    AppendEscapedForTerminal(out, text, keepLayout);
    return out;
}

void AppendEscapedForTerminal(std::string& out, std::string_view text, bool keepLayout)
{
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
            ++i;
            continue;
        }
        if (keepLayout && (c == '\n' || c == '\t' || (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n'))) {
            out += static_cast<char>(c);
            ++i;
            continue;
        }
        if (c >= 0x80) {
            if (const std::size_t length = Utf8SequenceLength(text, i)) {
                out.append(text.substr(i, length));
                i += length;
                continue;
            }
        }
        AppendEscaped(out, c);
        ++i;
    }
}
