// The reply parser: when the text received for a command holds its complete reply.

#include "ftp/ReplyParser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct ParseCase {
    const char* name;
    std::string text;
    const char* verb;
    ReplyParseResult expected;
    std::vector<std::string> codes;  // checked when the reply is complete
};

std::string Lines(int count, const char* line)
{
    std::string text;
    for (int i = 0; i < count; ++i)
        text += line;
    return text;
}

const std::vector<ParseCase>& Cases()
{
    static const std::vector<ParseCase> cases = {
        {"single line", "230 Logged in\r\n", "PASS", REPLY_COMPLETE, {"230"}},
        {"shortest valid line", "230\r\n", "PASS", REPLY_COMPLETE, {"230"}},
        {"no text after the code", "230Logged in\r\n", "PASS", REPLY_COMPLETE, {"230"}},
        {"line feeds only", "230-Hi\n230 Logged in\n", "PASS", REPLY_COMPLETE, {"230"}},
        {"multi-line", "230-Welcome\r\n230-more\r\n230 Logged in\r\n", "PASS", REPLY_COMPLETE, {"230"}},
        {"multi-line closed by a bare code", "230-Welcome\r\n230\r\n", "PASS", REPLY_COMPLETE, {"230"}},
        {"multi-line still open", "230-Welcome\r\n230-more\r\n", "PASS", REPLY_INCOMPLETE, {}},
        {"other codes inside a multi-line reply",
         "230-Welcome\r\n220 not the end\r\n230-nor this\r\n", "PASS", REPLY_INCOMPLETE, {}},
        {"free text inside a multi-line reply",
         "211-Features:\r\n MDTM\r\n\r\nxy\r\n211 End\r\n", "FEAT", REPLY_COMPLETE, {"211"}},
        {"preliminary alone", "150 Opening\r\n", "RETR", REPLY_INCOMPLETE, {}},
        {"preliminary and final", "150 Opening\r\n226 Done\r\n", "RETR", REPLY_COMPLETE, {"150", "226"}},
        {"preliminary then an open multi-line", "150 Opening\r\n226-Done\r\n", "RETR", REPLY_INCOMPLETE, {}},
        {"421 after a preliminary", "150 Opening\r\n421 Closing\r\n", "RETR", REPLY_COMPLETE, {"150", "421"}},
        {"426 to ABOR waits for ABOR's reply", "426 Aborted\r\n", "ABOR", REPLY_INCOMPLETE, {}},
        {"451 to ABOR waits for ABOR's reply", "451 Aborted\r\n", "abor", REPLY_INCOMPLETE, {}},
        {"426 then ABOR's reply", "426 Aborted\r\n226 Abort ok\r\n", "ABOR", REPLY_COMPLETE, {"426", "226"}},
        {"426 to another command is final", "426 Broken\r\n", "RETR", REPLY_COMPLETE, {"426"}},
        {"550 is final", "550 No such file\r\n", "RETR", REPLY_COMPLETE, {"550"}},
        {"fewer than five characters", "OK\r\n", "NOOP", REPLY_MALFORMED, {}},
        {"four characters", "23\r\n", "NOOP", REPLY_MALFORMED, {}},
        {"no three digits", "ab1 hello\r\n", "NOOP", REPLY_MALFORMED, {}},
        {"bad second line", "200 ok\r\nxyz\r\n", "NOOP", REPLY_MALFORMED, {}},
        {"empty line outside a reply", "200 ok\r\n\r\n", "NOOP", REPLY_MALFORMED, {}},
        {"no final line feed", "200 ok", "NOOP", REPLY_MALFORMED, {}},
        {"ten replies", Lines(10, "200 ok\r\n"), "NOOP", REPLY_COMPLETE,
         std::vector<std::string>(10, "200")},
        {"eleven replies overflow the table", Lines(11, "200 ok\r\n"), "NOOP", REPLY_TOO_MANY_CODES, {}},
    };
    return cases;
}

TEST(ReplyParser, ClassifiesEachReply)
{
    for (const ParseCase& c : Cases()) {
        SCOPED_TRACE(c.name);
        ReplyCodeTable codes;
        int count = -1;
        EXPECT_EQ(ParseReply(c.text, c.verb, codes, count), c.expected);
        if (c.expected == REPLY_COMPLETE) {
            ASSERT_EQ(count, static_cast<int>(c.codes.size()));
            for (int i = 0; i < count; ++i)
                EXPECT_EQ(codes[i], c.codes[i]) << "code " << i;
        }
    }
}

// The connection parses each time the text received so far ends with a line feed: a
// complete reply must not be declared complete at any earlier line end.
TEST(ReplyParser, CompleteRepliesAreIncompleteAtEveryEarlierLineEnd)
{
    for (const ParseCase& c : Cases()) {
        if (c.expected != REPLY_COMPLETE || c.codes.size() > 2)
            continue;
        SCOPED_TRACE(c.name);
        for (std::size_t end = c.text.find('\n'); end + 1 < c.text.size(); end = c.text.find('\n', end + 1)) {
            ReplyCodeTable codes;
            int count = 0;
            EXPECT_EQ(ParseReply(c.text.substr(0, end + 1), c.verb, codes, count), REPLY_INCOMPLETE)
                << "after " << end + 1 << " bytes";
        }
    }
}

TEST(ReplyParser, ReparsingStartsTheCodeListAfresh)
{
    ReplyCodeTable codes;
    int count = 0;
    ASSERT_EQ(ParseReply("150 Opening\r\n", "RETR", codes, count), REPLY_INCOMPLETE);
    ASSERT_EQ(ParseReply("150 Opening\r\n226 Done\r\n", "RETR", codes, count), REPLY_COMPLETE);
    EXPECT_EQ(count, 2);
}

// Commands sent together: the exchange of the first one ends where its reply is
// complete, and the rest of the text belongs to the next command.
TEST(ReplyParser, ExchangeEndsBeforeTheNextCommandsReply)
{
    const struct {
        const char* name;
        std::string text;
        const char* verb;
        ReplyParseResult expected;
        std::size_t end;
        int count;
    } cases[] = {
        {"two single lines", "350 Go on\r\n250 Renamed\r\n", "RNFR", REPLY_COMPLETE, 11, 1},
        {"multi-line first", "229-a\r\n229 b\r\n150 Go\r\n", "EPSV", REPLY_COMPLETE, 14, 1},
        {"preliminary then final, then more", "150 Go\r\n226 Done\r\n200 ok\r\n", "RETR", REPLY_COMPLETE, 18, 2},
        {"only a preliminary so far", "150 Go\r\n", "RETR", REPLY_INCOMPLETE, 0, 1},
        {"open multi-line", "211-Features\r\n MDTM\r\n", "FEAT", REPLY_INCOMPLETE, 0, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ReplyCodeTable codes;
        int count = 0;
        std::size_t end = 0;
        EXPECT_EQ(ParseReply(c.text, c.verb, codes, count, &end), c.expected);
        EXPECT_EQ(count, c.count);
        if (c.expected == REPLY_COMPLETE) {
            EXPECT_EQ(end, c.end);
        }
    }
}

TEST(ReplyParser, SameWordIgnoresCase)
{
    EXPECT_TRUE(SameWord("abor", "ABOR"));
    EXPECT_TRUE(SameWord("Stor", "STOR"));
    EXPECT_FALSE(SameWord("STOU", "STOR"));
    EXPECT_FALSE(SameWord("RETRX", "RETR"));
}

}  // namespace
