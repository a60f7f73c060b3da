#pragma once
// Decides whether the text received for one command holds its complete reply, and
// collects the three-digit code of each reply in it.
//
// A reply is one line "ddd text", or a multi-line reply opened by "ddd-" and closed by
// the first line that starts with the same code followed by anything but "-". A
// preliminary reply (1xx) is followed by the final one, and so is the 426/451 that ends
// an aborted transfer before the reply to ABOR itself. Lines end with a line feed; a CR
// in front of it is optional.

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

// Replies collected for one command; a command that provokes more is failed.
inline constexpr int MAX_REPLY_CODES = 10;
// Bytes a reply may grow to before the command is failed instead of waiting for more.
inline constexpr std::size_t MAX_REPLY_LENGTH = 64 * 1024;

using ReplyCodeTable = std::array<std::string, MAX_REPLY_CODES>;

enum ReplyParseResult : int {
    REPLY_INCOMPLETE,      // wait for more lines
    REPLY_COMPLETE,        // the exchange for this command is over
    REPLY_MALFORMED,       // too short, or a reply line without a three-digit code
    REPLY_TOO_MANY_CODES,  // more replies than the code table holds
};

// Parses the whole of replyText (everything received for the current command) from the
// start. codes/count receive the code of every reply found, in arrival order.
// commandVerb is the first word of the command that was sent (it matters for ABOR).
// With exchangeEnd, the text may go on with the replies to commands sent after this one:
// parsing stops where this command's exchange is complete, and *exchangeEnd is set to
// the length of its text.
ReplyParseResult ParseReply(std::string_view replyText, std::string_view commandVerb,
                            ReplyCodeTable& codes, int& count, std::size_t* exchangeEnd = nullptr);

// Case-insensitive comparison of ASCII words ("abor" equals "ABOR").
bool SameWord(std::string_view a, std::string_view b);
