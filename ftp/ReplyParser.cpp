#include "ftp/ReplyParser.h"

#include <cctype>

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsThreeDigitCode(std::string_view code)
{
    return code.size() == 3 && IsDigit(code[0]) && IsDigit(code[1]) && IsDigit(code[2]);
}

}  // namespace

bool SameWord(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(a[i])) !=
            std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

namespace {

// Whether the replies collected so far end the exchange for the command.
bool ExchangeComplete(const ReplyCodeTable& codes, int count, std::string_view commandVerb)
{
    if (count == 0)
        return false;
    if (count == 1) {
        const std::string& only = codes[0];
        if (only[0] == '1')
            return false;  // preliminary: the final reply is still to come
        if ((only == "426" || only == "451") && SameWord(commandVerb, "ABOR"))
            return false;  // ends the aborted transfer; ABOR's own reply follows
    }
    return true;
}

}  // namespace

ReplyParseResult ParseReply(std::string_view replyText, std::string_view commandVerb,
                            ReplyCodeTable& codes, int& count, std::size_t* exchangeEnd)
{
    count = 0;
    if (replyText.size() < 5 || replyText.back() != '\n')
        return REPLY_MALFORMED;

    bool insideMultiLine = false;
    std::size_t lineStart = 0;
    while (lineStart < replyText.size()) {
        std::size_t lineFeed = replyText.find('\n', lineStart);
        std::size_t lineEnd = lineFeed == std::string_view::npos ? replyText.size() : lineFeed + 1;
        std::string_view line = replyText.substr(lineStart, lineEnd - lineStart);
        std::string_view code = line.substr(0, 3);
        bool continues = line.size() > 3 && line[3] == '-';

        if (insideMultiLine) {
            // Only the same code without "-" closes it; everything else is its text.
            if (code == codes[count - 1] && !continues)
                insideMultiLine = false;
        } else {
            if (!IsThreeDigitCode(code))
                return REPLY_MALFORMED;
            if (count == MAX_REPLY_CODES)
                return REPLY_TOO_MANY_CODES;
            codes[count++] = std::string(code);
            insideMultiLine = continues;
        }
        lineStart = lineEnd;
        if (exchangeEnd != nullptr && !insideMultiLine && ExchangeComplete(codes, count, commandVerb)) {
            *exchangeEnd = lineEnd;
            return REPLY_COMPLETE;
        }
    }

    if (insideMultiLine || !ExchangeComplete(codes, count, commandVerb))
        return REPLY_INCOMPLETE;
    return REPLY_COMPLETE;
}
